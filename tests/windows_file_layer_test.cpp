// The Windows file layer on the real disk (under wine in ./test.sh): the names Windows
// keeps for itself or rewrites, names that differ only in case, streams, read-only
// files, long paths and a folder swapped for a junction, each through the calls every
// front end makes. Where wine does not do what Windows does, the case says so and skips.

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/conversion_request.h"
#include "engine/messages.h"
#include "platform/replacement_file.h"
#include "platform/windows_file_system.h"
#include "row_name.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using platform::Reason;
using testkit::PrintTo;
using testkit::ReadAll;
using testkit::TempDir;

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

// `path` as Windows' own programs cannot reach it: past MAX_PATH, with a name it rewrites.
std::wstring Raw(const std::string& path) {
  std::wstring wide = Wide(path);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return L"\\\\?\\" + wide;
}

bool WriteRaw(const std::string& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(Raw(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0;
  ::CloseHandle(file);
  return ok && written == bytes.size();
}

std::string ReadRaw(const std::string& path) {
  HANDLE file = ::CreateFileW(Raw(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(4096, '\0');
  DWORD read = 0;
  ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  ::CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

// The names in `folder`, as the layer lists them.
std::vector<std::string> NamesIn(platform::FileSystem& fs, const std::string& folder) {
  std::vector<std::string> names;
  const auto place = fs.Locate(folder);
  if (!place) return names;
  const auto opened = fs.OpenFolder(place.value);
  std::vector<platform::FolderEntry> entries;
  if (!opened || fs.List(opened.value, entries) != Reason::kNone) return names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

Result Convert(platform::FileSystem& fs, const std::string& source, const std::string& output) {
  ConversionRequest request;
  request.source = source;
  request.output = output;
  request.detected = LineEndingKind::MsDos;
  request.target = LineEndingKind::Unix;
  return CheckAndConvert(fs, request);
}

const std::string kDos = "one\r\ntwo\r\n";
const std::string kUnix = "one\ntwo\n";
const std::string kOld = "old\n";

// Each output name, what the conversion of dos.txt into it must end in, and what the
// folder must then hold. Never a working file left beside it.
struct OutputCase {
  const char* name;
  std::function<void(const TempDir&)> prepare;
  std::string output;
  Outcome outcome;
  Reason reason;
  std::vector<std::string> names;  // besides dos.txt
  std::string kept;                // the name that holds `content`
  std::string content;
};

std::vector<OutputCase> OutputCases() {
  return {
      {"a Japanese name", {}, "変換後.txt", Outcome::Ok, Reason::kNone, {"変換後.txt"}, "変換後.txt", kUnix},
      // Written into the console, or made a file no Windows program can open or remove.
      {"a device's name", {}, "CON", Outcome::OutputCannotWrite, platform::FromErrno(EINVAL), {}, "", ""},
      {"a device's name with an extension", {}, "NUL.txt", Outcome::OutputCannotWrite, platform::FromErrno(EINVAL), {}, "", ""},
      {"a trailing dot", {}, "a.", Outcome::OutputCannotWrite, platform::FromErrno(EINVAL), {}, "", ""},
      {"a trailing space", {}, "a ", Outcome::OutputCannotWrite, platform::FromErrno(EINVAL), {}, "", ""},
      // Written into a hidden stream of a.txt, which no one would see.
      {"a stream of a file", [](const TempDir& d) { d.Write("a.txt", kOld); }, "a.txt:s", Outcome::OutputCannotWrite,
       platform::FromErrno(EINVAL), {"a.txt"}, "a.txt", kOld},
      // A second file beside the first, differing only in case, which Windows cannot tell apart.
      {"a name that differs only in case", [](const TempDir& d) { d.Write("Out.txt", kOld); }, "OUT.TXT", Outcome::Ok,
       Reason::kNone, {"OUT.TXT"}, "OUT.TXT", kUnix},
      // The source itself by another case: converted onto itself, it would be lost.
      {"the source by another case", {}, "DOS.TXT", Outcome::SameFile, Reason::kNone, {}, "dos.txt", kDos},
      {"a read-only output",
       [](const TempDir& d) {
         d.Write("ro.txt", kOld);
         ::SetFileAttributesW(Wide(d / "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
       },
       "ro.txt", Outcome::OutputCannotWrite, platform::FromErrno(EACCES), {"ro.txt"}, "ro.txt", kOld},
  };
}

class WindowsOutputName : public ::testing::TestWithParam<OutputCase> {};

TEST_P(WindowsOutputName, EndsAsWindowsDoes) {
  const OutputCase& c = GetParam();
  TempDir dir;
  dir.Write("dos.txt", kDos);
  if (c.prepare) c.prepare(dir);
  platform::WindowsFileSystem fs;
  const Result outcome = Convert(fs, dir / "dos.txt", dir / c.output);
  EXPECT_EQ(outcome.outcome, c.outcome);
  EXPECT_EQ(outcome.reason, c.reason);
  std::vector<std::string> names = c.names;
  names.push_back("dos.txt");
  std::sort(names.begin(), names.end());
  std::vector<std::string> found = NamesIn(fs, dir.path());
  // The case a replaced name keeps is the file system's choice.
  if (std::string(c.name) == "a name that differs only in case" && found.size() == 2 && found[0] == "Out.txt") {
    found[0] = "OUT.TXT";
    std::sort(found.begin(), found.end());
  }
  EXPECT_EQ(found, names);
  if (!c.kept.empty()) EXPECT_EQ(ReadRaw(dir / c.kept), c.content);
  if (c.kept == "ro.txt") EXPECT_NE(::GetFileAttributesW(Wide(dir / "ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

INSTANTIATE_TEST_SUITE_P(, WindowsOutputName, ::testing::ValuesIn(OutputCases()),
                         testkit::NameRowsByName(OutputCases()));

// A source whose name Windows would rewrite or take for a device is read as the file it
// is; a path past MAX_PATH is walked like any other.
struct UnreachableSource {
  const char* name;
  std::string folder;
  std::string file;
};

std::vector<UnreachableSource> UnreachableSources() {
  return {{"a device's name", "", "CON"},
          {"a trailing dot", "", "b."},
          {"a path longer than MAX_PATH", std::string(120, 'x') + "/" + std::string(120, 'y') + "/" + "深い", "f.txt"}};
}

class WindowsUnreachableSource : public ::testing::TestWithParam<UnreachableSource> {};

TEST_P(WindowsUnreachableSource, IsReadAsTheFileItIs) {
  const UnreachableSource& c = GetParam();
  TempDir dir;
  std::string folder = dir.path();
  for (std::size_t at = 0; at < c.folder.size();) {
    const std::size_t end = std::min(c.folder.find('/', at), c.folder.size());
    folder += "/" + c.folder.substr(at, end - at);
    ASSERT_TRUE(::CreateDirectoryW(Raw(folder).c_str(), nullptr));
    at = end + 1;
  }
  if (!WriteRaw(folder + "/" + c.file, kDos)) GTEST_SKIP() << "wine cannot make " << c.name << " here";
  platform::WindowsFileSystem fs;
  const Result outcome = Convert(fs, folder + "/" + c.file, folder + "/out.txt");
  EXPECT_TRUE(outcome.ok()) << messages::Describe(outcome);
  EXPECT_EQ(ReadRaw(folder + "/out.txt"), kUnix);
  EXPECT_EQ(ReadRaw(folder + "/" + c.file), kDos);
  // Emptied here: TempDir's std::filesystem reaches them by Win32's paths, as CON a device.
  EXPECT_TRUE(::DeleteFileW(Raw(folder + "/" + c.file).c_str()));
  EXPECT_TRUE(::DeleteFileW(Raw(folder + "/out.txt").c_str()));
  for (; folder != dir.path(); folder.resize(folder.rfind('/'))) ::RemoveDirectoryW(Raw(folder).c_str());
}

INSTANTIATE_TEST_SUITE_P(, WindowsUnreachableSource, ::testing::ValuesIn(UnreachableSources()),
                         testkit::NameRowsByName(UnreachableSources()));

// A junction at `link` to the folder `target`, as mklink /J makes one.
bool MakeJunction(const std::string& link, const std::string& target) {
  if (!::CreateDirectoryW(Raw(link).c_str(), nullptr)) return false;
  HANDLE folder = ::CreateFileW(Raw(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  std::wstring substitute = L"\\??\\" + Raw(target).substr(4);
  std::vector<std::uint8_t> data(8 + 8 + (substitute.size() + 2) * sizeof(wchar_t));
  auto put16 = [&data](std::size_t at, std::uint16_t value) { std::memcpy(&data[at], &value, 2); };
  const std::uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(&data[0], &tag, 4);
  put16(4, static_cast<std::uint16_t>(data.size() - 8));
  put16(8, 0);                                                            // substitute name at
  put16(10, static_cast<std::uint16_t>(substitute.size() * sizeof(wchar_t)));  // and its length
  put16(12, static_cast<std::uint16_t>((substitute.size() + 1) * sizeof(wchar_t)));  // print name at
  put16(14, 0);
  std::memcpy(&data[16], substitute.c_str(), substitute.size() * sizeof(wchar_t));
  DWORD returned = 0;
  const bool made = ::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()),
                                      nullptr, 0, &returned, nullptr) != 0;
  ::CloseHandle(folder);
  return made;
}

// The folder an output was located in is the folder it is written to, even when another
// user swaps that folder for a junction to elsewhere in the meantime; and a walk lists the
// junction as a link.
TEST(WindowsFileLayer, AFolderSwappedForAJunctionIsNotFollowed) {
  TempDir dir;
  ASSERT_TRUE(::CreateDirectoryW(Wide(dir / "out").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(Wide(dir / "elsewhere").c_str(), nullptr));
  if (!MakeJunction(dir / "probe", dir / "elsewhere")) {
    GTEST_SKIP() << "wine 8 cannot make a junction (FSCTL_SET_REPARSE_POINT), which Windows can";
  }
  platform::WindowsFileSystem fs;
  std::vector<platform::FolderEntry> entries;
  const auto top = fs.OpenFolder(fs.Locate(dir.path() + "/.").value);
  ASSERT_TRUE(top);
  ASSERT_EQ(fs.List(top.value, entries), Reason::kNone);
  const auto probe = std::find_if(entries.begin(), entries.end(), [](const auto& e) { return e.name == "probe"; });
  ASSERT_NE(probe, entries.end());
  EXPECT_EQ(probe->kind, platform::FileInfo::Kind::Link);

  const auto place = fs.Locate(dir / "out/new.txt");
  ASSERT_TRUE(place);
  ASSERT_TRUE(::MoveFileW(Wide(dir / "out").c_str(), Wide(dir / "moved").c_str()));
  ASSERT_TRUE(MakeJunction(dir / "out", dir / "elsewhere"));
  auto replacement = platform::ReplacementFile::Create(fs, place.value, 0644);
  ASSERT_TRUE(replacement);
  const std::uint8_t bytes[] = {'x', '\n'};
  ASSERT_EQ(replacement.value->Sink().Write(bytes), Reason::kNone);
  ASSERT_EQ(replacement.value->Commit(), Reason::kNone);
  EXPECT_EQ(ReadAll(dir / "moved/new.txt"), "x\n");
  EXPECT_EQ(ReadAll(dir / "elsewhere/new.txt"), "<missing>");
}

}  // namespace
}  // namespace tarnwhistle
