#include "hostile_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace tarnwhistle::testkit {
namespace {

int fifo_writer = -1;

void MakeLink(const char* target, const std::string& path) { ASSERT_EQ(::symlink(target, path.c_str()), 0); }

}  // namespace

std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> found;
  std::error_code ignored;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    found[it->path().string()] = it->is_regular_file(ignored) ? ReadAll(it->path().string()) : "<not a file>";
  }
  return found;
}

const std::vector<NotAFile> kNotFiles = {
    {"fifo without a writer", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
    {"fifo with a writer",
     [](const std::string& p) {
       ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0);
       fifo_writer = ::open(p.c_str(), O_RDWR);  // both ends, so that it never blocks
       ASSERT_GE(fifo_writer, 0);
       ASSERT_EQ(::write(fifo_writer, "a\r\n", 3), 3);
     }},
    {"folder", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0755), 0); }},
    {"/dev/zero", [](const std::string& p) { MakeLink("/dev/zero", p); }},
    {"/dev/urandom", [](const std::string& p) { MakeLink("/dev/urandom", p); }},
    {"/dev/null", [](const std::string& p) { MakeLink("/dev/null", p); }},
    {"/dev/full", [](const std::string& p) { MakeLink("/dev/full", p); }},
    {"socket",
     [](const std::string& p) {
       int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
       sockaddr_un address{};
       address.sun_family = AF_UNIX;
       ASSERT_LT(p.size(), sizeof address.sun_path);
       p.copy(address.sun_path, p.size());
       ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
       ::close(s);
     }},
};

void CloseFifoWriter() {
  if (fifo_writer >= 0) ::close(fifo_writer);
  fifo_writer = -1;
}

std::string FolderForPathOf(const std::string& root, std::size_t total, std::size_t name_bytes) {
  std::string folder = root;
  while (folder.size() + 1 + name_bytes < total) {
    folder += '/';
    folder.append(std::min<std::size_t>(200, total - name_bytes - folder.size() - 1), 'd');
    ::mkdir(folder.c_str(), 0755);  // each step is itself a path under the limit
  }
  return folder;
}

void WriteAt(const std::string& folder, const std::string& name, const std::string& bytes) {
  int at = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(at, 0) << folder.size();
  int fd = ::openat(at, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::close(at);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

std::string ReadAt(const std::string& folder, const std::string& name) {
  int at = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  int fd = ::openat(at, name.c_str(), O_RDONLY);
  ::close(at);
  if (fd < 0) return "<missing>";
  std::string bytes;
  char buffer[256];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(got));
  ::close(fd);
  return bytes;
}

void RemoveAt(const std::string& folder, const std::string& name) {
  int at = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  ::unlinkat(at, name.c_str(), 0);
  ::close(at);
}


std::vector<UnusualNames> UnusualNameCases() {
  std::string longest;
  for (int i = 0; i < 85; ++i) longest += "変";
  return {
      {"japanese with spaces", "日本語 の フォルダ", "変換 テスト.txt", "出力 ファイル.txt"},
      {"spaces at both ends", "  spaces  ", " both ends ", "  out  "},
      {"japanese of 255 bytes", "長い名前", longest, longest.substr(0, 252) + "_"},
      {"255 bytes", "long names", std::string(255, 's'), std::string(255, 'o')},
  };
}

}  // namespace tarnwhistle::testkit
