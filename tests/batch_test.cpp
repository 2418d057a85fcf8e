// Many files at once, at the engine level: which files a batch takes, what it says of
// each, and what it leaves on the (in-memory) disk.

#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "engine/batch.h"
#include "engine/messages.h"
#include "fake_file_system.h"
#include "platform/replacement_file.h"

namespace tarnwhistle {
namespace {

using testing::FakeFileSystem;
using testing::Op;
using K = LineEndingKind;

// Folders over the fake file system: a path is a folder when it was added as one.
class FakeFolders : public platform::Folders {
 public:
  explicit FakeFolders(FakeFileSystem& fs) : fs_(fs) {}

  void Add(const std::string& path) {
    fs_.AddDirectory(path);
    folders_.insert(path);
  }

  bool List(const std::string& path, std::vector<platform::FolderEntry>& entries) override {
    if (!folders_.count(path)) return false;
    entries.clear();
    for (const std::string& each : fs_.Paths()) {
      if (std::filesystem::path(each).parent_path().string() != path) continue;
      auto kind = folders_.count(each)                 ? platform::FolderEntry::Kind::Folder
                  : fs_.ResolveLinks(each) != each     ? platform::FolderEntry::Kind::Link
                  : fs_.Stat(each).regular             ? platform::FolderEntry::Kind::File
                                                       : platform::FolderEntry::Kind::Other;
      entries.push_back({std::filesystem::path(each).filename().string(), kind});
    }
    return true;
  }

  bool Create(const std::string& path) override {
    if (path.empty() || folders_.count(path)) return true;
    if (fs_.Stat(path).exists || !Create(std::filesystem::path(path).parent_path().string())) return false;
    Add(path);
    return true;
  }

 private:
  FakeFileSystem& fs_;
  std::set<std::string> folders_;
};

const std::string kDos = "one\r\ntwo\r\n";
const std::string kUnix = "one\ntwo\n";
const std::string kMac = "one\rtwo\r";

struct Case {
  const char* name;
  std::map<std::string, std::string> files;   // every folder above a file is made too
  std::vector<std::string> paths;
  BatchSettings settings;
  std::vector<std::string> expected;           // "source: message", in order
  std::map<std::string, std::optional<std::string>> after;  // contents afterwards; nullopt: no such file
  std::optional<Op> fail = std::nullopt;       // this operation fails...
  int nth = 1;                                 // ...on its nth call
};

BatchSettings ToUnix(std::string folder, bool recursive = false, std::vector<std::string> patterns = {}) {
  return {K::Unix, std::move(folder), recursive, std::move(patterns), false};
}

std::string Line(const std::string& source, std::string_view message) { return source + ": " + std::string(message); }

TEST(Batch, EachFileGetsItsResultAndNothingIsLeftBehind) {
  const std::string converted(messages::kConverted), already(messages::kAlreadyTarget),
      refused(messages::kBinarySource);
  const Case cases[] = {
      {"mixed kinds, BINARY and a NUL byte, into a folder",
       {{"src/dos.txt", kDos}, {"src/mac.txt", kMac}, {"src/unix.txt", kUnix}, {"src/image.gif", std::string("GIF89a\x10\0\x10\0\r\n", 12)},
        {"src/utf16.txt", std::string("o\0n\0\r\0\n\0", 8)}, {"src/late.txt", std::string("a\r\nb\0c\r\n", 8)}},
       {"src"},
       ToUnix("out"),
       {Line("src/dos.txt", converted), Line("src/image.gif", refused), Line("src/late.txt", refused),
        Line("src/mac.txt", converted), Line("src/unix.txt", already), Line("src/utf16.txt", refused)},
       {{"out/dos.txt", kUnix}, {"out/mac.txt", kUnix}, {"out/unix.txt", std::nullopt},
        {"out/image.gif", std::nullopt}, {"out/late.txt", std::nullopt}, {"src/dos.txt", kDos}}},
      {"in place: the source is replaced, no other file made",
       {{"src/dos.txt", kDos}, {"src/unix.txt", kUnix}},
       {"src/dos.txt", "src/unix.txt"},
       ToUnix(""),
       {Line("src/dos.txt", converted), Line("src/unix.txt", already)},
       {{"src/dos.txt", kUnix}, {"src/unix.txt", kUnix}}},
      {"mirroring with recursion; hidden folders, the output folder inside the tree and working files left "
       "behind are passed over",
       {{"src/a.txt", kDos}, {"src/sub/deeper/b.txt", kMac}, {"src/.git/config", kDos}, {"src/out/old.txt", kDos},
        {"src/.a.txt.tarnwhistle-1", kDos}},
       {"src"},
       ToUnix("src/out", true),
       {Line("src/a.txt", converted), Line("src/sub/deeper/b.txt", converted)},
       {{"src/out/a.txt", kUnix}, {"src/out/sub/deeper/b.txt", kUnix}, {"src/.git/config", kDos},
        {"src/out/.git/config", std::nullopt}}},
      {"without recursion a folder gives only its own files; the filter picks names, files named are taken",
       {{"src/a.txt", kDos}, {"src/b.md", kDos}, {"src/c.TXT", kDos}, {"src/sub/d.txt", kDos}, {"e.md", kDos}},
       {"src", "e.md"},
       ToUnix("out", false, {"*.txt", "*.TXT"}),
       {Line("src/a.txt", converted), Line("src/c.TXT", converted), Line("e.md", converted)},
       {{"out/b.md", std::nullopt}, {"out/sub/d.txt", std::nullopt}, {"out/e.md", kUnix}}},
      {"an unreadable file fails alone; the next is still converted",
       {{"src/a.txt", kDos}, {"src/b.txt", kDos}},
       {"src"},
       ToUnix("out"),
       {Line("src/a.txt", messages::kSourceUnreadable), Line("src/b.txt", converted)},
       {{"out/a.txt", std::nullopt}, {"out/b.txt", kUnix}},
       Op::Read, 2},
      {"an output folder that cannot be made fails every file, writing nothing",
       {{"src/a.txt", kDos}, {"src/b.txt", kMac}, {"out", "a file in the way"}},
       {"src"},
       ToUnix("out/new"),
       {Line("src/a.txt", messages::kOutputUnwritable), Line("src/b.txt", messages::kOutputUnwritable)},
       {{"out", "a file in the way"}}},
      {"a failed rename leaves the old output",
       {{"src/a.txt", kDos}, {"out/a.txt", "old"}},
       {"src/a.txt"},
       ToUnix("out"),
       {Line("src/a.txt", messages::kOutputUnwritable)},
       {{"out/a.txt", "old"}},
       Op::Rename},
      {"missing paths, a file given twice, two files landing on one output",
       {{"a/x.txt", kDos}, {"b/x.txt", kMac}},
       {"missing.txt", "a", "a/x.txt", "b"},
       ToUnix("out"),
       {Line("missing.txt", messages::kSourceMissing), Line("a/x.txt", converted),
        Line("b/x.txt", messages::kOutputUnwritable)},
       {{"out/x.txt", kUnix}}},
      {"paths that overlap or repeat: each file once, first where it is first reached; a file named is taken "
       "whatever its name",
       {{"src/a.txt", kDos}, {"src/notes.md", kDos}, {"src/sub/b.txt", kDos}, {"src/sub/c.txt", kMac}},
       {"src/sub/b.txt", "src", "src/sub", "src/a.txt", "src/notes.md", "src", "src/sub/b.txt"},
       ToUnix("out", true, {"*.txt"}),
       {Line("src/sub/b.txt", converted), Line("src/a.txt", converted), Line("src/sub/c.txt", converted),
        Line("src/notes.md", converted)},
       {{"out/b.txt", kUnix}, {"out/sub/b.txt", std::nullopt}, {"out/sub/c.txt", kUnix}, {"out/notes.md", kUnix}}},
      {"paths mirrored onto one place: the first path's file is written, the later one fails",
       {{"a/x.txt", "a\r\n"}, {"a/sub/y.txt", "a\r\n"}, {"b/sub/y.txt", "b\r\n"}, {"b/sub/z.txt", "b\r\n"},
        {"c/x.txt", "c\r\n"}},
       {"a", "b", "c/x.txt"},
       ToUnix("out", true),
       {Line("a/sub/y.txt", converted), Line("a/x.txt", converted), Line("b/sub/y.txt", messages::kOutputUnwritable),
        Line("b/sub/z.txt", converted), Line("c/x.txt", messages::kOutputUnwritable)},
       {{"out/x.txt", "a\n"}, {"out/sub/y.txt", "a\n"}, {"out/sub/z.txt", "b\n"}}},
      {"an output folder inside the tree that the batch makes only while the walk goes on is passed over",
       {{"src/a.txt", kDos}, {"src/b.txt", kDos}, {"src/z/c.txt", kDos}},
       {"src"},
       ToUnix("src/z/out", true),
       {Line("src/a.txt", converted), Line("src/b.txt", converted), Line("src/z/c.txt", converted)},
       {{"src/z/out/z/c.txt", kUnix}, {"src/z/out/z/out/a.txt", std::nullopt}}},
      {"already converted: a second run has nothing to do",
       {{"out/a.txt", kUnix}},
       {"out/a.txt"},
       ToUnix(""),
       {Line("out/a.txt", already)},
       {{"out/a.txt", kUnix}}},
  };
  for (const Case& c : cases) {
    // 0: collected whole, as the window does; 2: handed out two at a time, as for the command line.
    for (const std::size_t chunk : {0, 2}) {
      const std::string name = std::string(c.name) + (chunk == 0 ? " (whole)" : " (in chunks)");
      FakeFileSystem fs;
      FakeFolders folders(fs);
      for (const auto& [path, bytes] : c.files) {
        for (std::string folder = std::filesystem::path(path).parent_path().string(); !folder.empty(); folder = std::filesystem::path(folder).parent_path().string()) {
          folders.Create(folder);
        }
        fs.AddFile(path, bytes);
      }
      if (c.fail) fs.FailOn(*c.fail, c.nth);

      std::vector<std::string> shown;
      BatchTotals totals;
      if (chunk == 0) {
        const std::vector<BatchFile> files = CollectBatch(fs, folders, c.paths, c.settings);
        totals = RunBatch(fs, folders, files, c.settings, [&](std::size_t index, const BatchResult& result) {
          shown.push_back(Line(files[index].source, result.message));
        }, {}, 1);
      } else {
        BatchWalker walker(fs, folders, c.paths, c.settings);
        totals = RunBatch(fs, folders, walker, c.settings, [&](const BatchFile& file, const BatchResult& result) {
          shown.push_back(Line(file.source, result.message));
        }, {}, 1, chunk);
      }

      EXPECT_EQ(shown, c.expected) << name;
      EXPECT_EQ(totals.converted + totals.already_target + totals.not_convertible + totals.failed, c.expected.size())
          << name;
      for (const auto& [path, bytes] : c.after) EXPECT_EQ(fs.Contents(path), bytes) << name << ": " << path;
      for (const std::string& path : fs.Paths()) {
        if (path != "src/.a.txt.tarnwhistle-1") {
          EXPECT_EQ(path.find(".tarnwhistle-"), std::string::npos) << name;
        }
      }
    }
  }
}

TEST(Batch, ADryRunDecidesEverythingAndWritesNothing) {
  FakeFileSystem fs;
  FakeFolders folders(fs);
  folders.Create("src");
  fs.AddFile("src/a.txt", kDos);
  fs.AddFile("src/b.txt", kUnix);
  BatchSettings settings = ToUnix("out");
  settings.dry_run = true;
  const std::vector<std::string> before = fs.Paths();
  BatchTotals totals = RunBatch(fs, folders, CollectBatch(fs, folders, {"src"}, settings), settings, {}, {}, 1);
  EXPECT_EQ(totals.converted, 1u);
  EXPECT_EQ(totals.already_target, 1u);
  EXPECT_EQ(fs.Paths(), before);
}

// Stopping leaves the file in progress as it was and begins no other; the summary counts
// only what was done.
TEST(Batch, StoppedInTheMiddle) {
  // Asked before each file, after each read and once more before the output takes its
  // place; the fifth question falls in b.txt's read. Handed out two at a time, c.txt is
  // not yet handed out then.
  for (const bool whole : {true, false}) {
    FakeFileSystem fs;
    FakeFolders folders(fs);
    folders.Create("src");
    for (const char* name : {"src/a.txt", "src/b.txt", "src/c.txt"}) fs.AddFile(name, kDos);
    const BatchSettings settings = ToUnix("");
    int asked = 0;
    const auto stop = [&asked] { return ++asked >= 5; };
    BatchWalker walker(fs, folders, {"src"}, settings);
    BatchTotals totals = whole ? RunBatch(fs, folders, CollectBatch(fs, folders, {"src"}, settings), settings, {}, stop, 1)
                               : RunBatch(fs, folders, walker, settings, {}, stop, 1, 2);
    EXPECT_EQ(totals.converted, 1u);
    EXPECT_EQ(totals.not_done, 2u);
    EXPECT_EQ(fs.Contents("src/a.txt"), kUnix);
    EXPECT_EQ(fs.Contents("src/b.txt"), kDos);
    EXPECT_EQ(fs.Contents("src/c.txt"), kDos);
    EXPECT_EQ(BatchSummary(totals), "変換 1・変換不要 0・変換できません 0・失敗 0");
  }
}

}  // namespace
}  // namespace tarnwhistle
