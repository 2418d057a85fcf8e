#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fake_file_reader.h"

namespace tarnwhistle::testkit {

// The in-memory files of FakeFileReader, written as the real file system writes them.
// Working files are named ones (the fallback where a file system has no nameless
// files), so that a test can see one left behind. The umask is 022, the user root.
class FakeFileSystem : public FakeFileReader, public platform::FileSystem {
 public:
  // Removes the entry at `path`, as another program would; counted and failed as Remove.
  platform::Reason RemovePath(const std::string& path);

  platform::OrReason<std::unique_ptr<platform::WorkingFile>> CreateWorkingFile(const platform::Folder& folder,
                                                                               const std::string& name_prefix) override;
  platform::OrReason<platform::Folder> MakeFolder(const platform::Place& place, std::uint32_t permissions) override;
  platform::Reason Remove(const platform::Place& place) override { return RemovePath(KeyOf(place)); }
  // Counted and failed as a Flush.
  platform::Reason SyncFileSystem(const platform::Folder&) override { return Fails(Op::Flush); }
  std::uint32_t Umask() override { return 022; }
  std::uint32_t UserId() override { return 0; }

 private:
  class Working;

  // Moves the node at `from` to `to`, replacing what is there (not a folder).
  platform::Reason Rename(const std::string& from, const std::string& to);

  int created_ = 0;
};

}  // namespace tarnwhistle::testkit
