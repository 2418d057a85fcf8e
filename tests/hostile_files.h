#pragma once

// Files and paths that hostile-input tests set up on the real disk, shared by the
// window's tests and the command-line tool's.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace tarnwhistle::testkit {

// Every path under `folder`, with each regular file's bytes ("<not a file>" for the
// rest): equal snapshots mean nothing was added, removed or changed.
std::map<std::string, std::string> Snapshot(const std::string& folder);

// Something a source or an output must never be taken for: a FIFO (with or without a
// process at its other end), a folder, a device, a socket. `make` puts one at a path;
// keep the path short (a socket's must fit its address).
struct NotAFile {
  const char* name;
  void (*make)(const std::string& path);
};
extern const std::vector<NotAFile> kNotFiles;
// Closes the far end that "fifo with a writer" holds open.
void CloseFifoWriter();

// Makes nested folders of 200-byte names under `root` (which must exist), deep enough
// that a file of `name_bytes` bytes in the last one has a path of `total` bytes, and
// returns the last one.
std::string FolderForPathOf(const std::string& root, std::size_t total, std::size_t name_bytes);

// Writes, reads and removes `folder/name` through a descriptor of the folder, which
// works where the whole path is too long for the system to take.
void WriteAt(const std::string& folder, const std::string& name, const std::string& bytes);
std::string ReadAt(const std::string& folder, const std::string& name);  // "<missing>" if it cannot
void RemoveAt(const std::string& folder, const std::string& name);

// A folder, a source and an output name with Japanese characters, spaces inside and at
// both ends, and names as long as a folder entry may be (85 Japanese characters make
// 255 bytes).
struct UnusualNames {
  const char* name;
  std::string folder;
  std::string source;
  std::string output;
};
std::vector<UnusualNames> UnusualNameCases();


}  // namespace tarnwhistle::testkit
