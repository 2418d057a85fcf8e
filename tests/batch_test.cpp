// Many files at once, at the engine level: which files a batch takes, what it says of
// each, and what it leaves on the (in-memory) disk. Every case runs collected whole (as
// the batch window does) and handed out in chunks (as the command line does), on three
// threads unless a failure is injected, and as a dry run first, which must decide exactly what the real run does and
// write nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "engine/batch.h"
#include "engine/messages.h"
#include "fake_file_system.h"
#include "row_name.h"
#include "platform/replacement_file.h"

namespace tarnwhistle {
namespace {

using namespace std::string_literals;
using testkit::FakeFileSystem;
using testkit::Op;
using testkit::PrintTo;
using K = LineEndingKind;

const std::string kDos = "one\r\ntwo\r\n";
const std::string kUnix = "one\ntwo\n";
const std::string kMac = "one\rtwo\r";
const std::string kGif = "GIF89a\x10\0\x10\0\r\n"s;

const std::string kConverted(messages::Text(Outcome::Ok));
std::string Already(const std::string& notes = "") { return std::string(messages::Text(Outcome::AlreadyTarget)) + notes; }
std::string NotText(const std::string& notes) { return std::string(messages::Text(Outcome::NotConvertible)) + notes; }
std::string Failed(Outcome outcome, int error) { return messages::Describe({outcome, platform::FromErrno(error)}); }
const std::string kSameOutput = messages::Describe({Outcome::OutputCannotWrite, platform::Reason::kSameOutput});
const std::string kLink = "シンボリック リンクのため飛ばしました";
const std::string kRemoved = "残っていた作業ファイルを削除しました";
const std::string kInUseNote = "変換中の作業ファイルのため飛ばしました";

struct Case {
  const char* name;
  std::map<std::string, std::string> files;  // every folder above a file is made too
  std::vector<std::string> paths;
  BatchSettings settings;
  std::vector<std::string> lines;  // "source: message", in order
  std::map<std::string, std::optional<std::string>> after;  // contents afterwards; nullopt: no such file
  std::optional<Op> fail = std::nullopt;  // this operation fails...
  int nth = 1;                            // ...on its nth call
  std::map<std::string, std::string> links = {};  // symbolic links and their targets
  void (*arrange)(FakeFileSystem& fs) = nullptr;  // anything else, after the files
};

BatchSettings ToUnix(std::string folder, bool recursive = false, std::vector<std::string> patterns = {}) {
  return {K::Unix, std::move(folder), recursive, std::move(patterns), false};
}

std::string Line(const std::string& source, const std::string& message) { return source + ": " + message; }

// A working file of a process that is gone (no process has that number) and one of this
// very process, as a run going on beside the batch would have.
const std::string kAbandoned = [] {
  std::string live = platform::WorkingFilePrefix("a.txt");  // ".a.txt.tarnwhistle-BOOT-PID-START-"
  const std::size_t boot = live.find("-") + 1;
  return ".a.txt.tarnwhistle-" + live.substr(boot, 8) + "-999999999-1-ABCDEFGH";
}();
const std::string kInUse = platform::WorkingFilePrefix("b.txt") + "ABCDEFGH";

// Four hundred files in four folders, and what converting them says and leaves: enough
// for three threads, taking up to 64 files at a time, to do several groups each.
std::map<std::string, std::string> Many(const std::string& bytes) {
  std::map<std::string, std::string> files;
  for (int folder = 0; folder < 4; ++folder) {
    for (int file = 0; file < 100; ++file) files["many/d" + std::to_string(folder) + "/f" + std::to_string(file) + ".txt"] = bytes;
  }
  return files;
}
std::vector<std::string> ManyLines() {
  std::vector<std::string> lines;
  for (const auto& [path, bytes] : Many("")) lines.push_back(Line(path, kConverted));
  return lines;
}
std::map<std::string, std::optional<std::string>> ManyAfter() {
  std::map<std::string, std::optional<std::string>> after;
  for (const auto& [path, bytes] : Many(kUnix)) after[path] = bytes;
  return after;
}

const Case kCases[] = {
    {"every kind into a folder: what is not converted is copied, so the folder holds every file",
     {{"src/dos.txt", kDos}, {"src/mac.txt", kMac}, {"src/unix.txt", kUnix}, {"src/image.gif", kGif},
      {"src/late.txt", "a\r\nb\0c\r\n"s}, {"src/line.txt", "no break"}},
     {"src"},
     ToUnix("out"),
     {Line("src/dos.txt", kConverted), Line("src/image.gif", NotText("（1 行目に制御文字 0x10 があります・コピーしました）")),
      Line("src/late.txt", NotText("（2 行目に NUL 文字があります・コピーしました）")),
      Line("src/line.txt", Already("（改行がありません・コピーしました）")), Line("src/mac.txt", kConverted),
      Line("src/unix.txt", Already("（コピーしました）"))},
     {{"out/src/dos.txt", kUnix}, {"out/src/mac.txt", kUnix}, {"out/src/unix.txt", kUnix}, {"out/src/image.gif", kGif},
      {"out/src/late.txt", "a\r\nb\0c\r\n"s}, {"src/dos.txt", kDos}}},
    {"in place: each source replaced, nothing else made; a second run has nothing to do",
     {{"src/dos.txt", kDos}, {"src/unix.txt", kUnix}, {"src/mixed.txt", "a\nb\r\n"}},
     {"src/dos.txt", "src/unix.txt", "src/mixed.txt"},
     ToUnix(""),
     {Line("src/dos.txt", kConverted), Line("src/unix.txt", Already()), Line("src/mixed.txt", kConverted)},
     {{"src/dos.txt", kUnix}, {"src/unix.txt", kUnix}, {"src/mixed.txt", "a\nb\n"}}},
    {"in place, recursion passes over hidden folders and a live run's working file, removes an abandoned one and "
     "says so, and takes a user's file whatever its name",
     {{"src/a.txt", kDos}, {"src/sub/deeper/b.txt", kMac}, {"src/.git/config", kDos}, {"src/" + kAbandoned, kDos},
      {"src/" + kInUse, kDos}, {"src/.notes.tarnwhistle-draft", kDos}},
     {"src"},
     ToUnix("", true),
     {Line("src/" + kAbandoned, kRemoved), Line("src/" + kInUse, kInUseNote),
      Line("src/.notes.tarnwhistle-draft", kConverted), Line("src/a.txt", kConverted),
      Line("src/sub/deeper/b.txt", kConverted)},
     {{"src/sub/deeper/b.txt", kUnix}, {"src/.git/config", kDos}, {"src/" + kAbandoned, std::nullopt},
      {"src/" + kInUse, kDos}}},
    {"in place, a look-alike of an abandoned working file that is another user's, or has another name, is a file "
     "like any other",
     {{"a/" + kAbandoned, kDos}, {"b/" + kAbandoned, kDos}, {"b/kept.txt", kDos}},
     {"a", "b"},
     ToUnix(""),
     {Line("a/" + kAbandoned, kConverted), Line("b/" + kAbandoned, kConverted), Line("b/kept.txt", kConverted)},
     {{"a/" + kAbandoned, kUnix}, {"b/kept.txt", kUnix}},
     std::nullopt,
     1,
     {},
     [](FakeFileSystem& fs) {
       fs.AddFile("a/" + kAbandoned, kDos, 0644, 65534);
       fs.AddHardLink("b/kept.txt", "b/" + kAbandoned);
     }},
    {"into a folder, working files' look-alikes are files like any other: copied, and none removed",
     {{"src/" + kAbandoned, kUnix}, {"src/" + kInUse, kDos}},
     {"src"},
     ToUnix("out"),
     {Line("src/" + kAbandoned, Already("（コピーしました）")), Line("src/" + kInUse, kConverted)},
     {{"src/" + kAbandoned, kUnix}, {"out/src/" + kAbandoned, kUnix}, {"out/src/" + kInUse, kUnix}}},
    {"existing output folders that another user made, or that are open to more than their sources are, are not "
     "used: their files fail, saying why",
     {{"a/x.txt", kDos}, {"b/y.txt", kDos}, {"c/z.txt", kDos}},
     {"a", "b", "c"},
     ToUnix("out"),
     {Line("a/x.txt", messages::Describe({Outcome::OutputCannotWrite, platform::Reason::kOthersFolder})),
      Line("b/y.txt", messages::Describe({Outcome::OutputCannotWrite, platform::Reason::kFolderTooOpen})),
      Line("c/z.txt", kConverted)},
     {{"out/a/x.txt", std::nullopt}, {"out/b/y.txt", std::nullopt}, {"out/c/z.txt", kUnix}},
     std::nullopt,
     1,
     {},
     [](FakeFileSystem& fs) {
       fs.AddDirectory("out");
       fs.AddDirectory("out/a", 0777, 65534);  // made beforehand by someone else, for all to read
       fs.AddDirectory("b", 0700);
       fs.AddDirectory("out/b", 0755);        // the user's own, but its source is private
       fs.AddDirectory("c", 0750);
       fs.AddDirectory("out/c", 0750);        // as a run before made it
     }},
    {"an output folder whose mirror is the sources themselves replaces none of them",
     {{"src/a.txt", kDos}},
     {"src"},
     ToUnix("."),
     {Line("src/a.txt", messages::Describe({Outcome::OutputCannotWrite, platform::Reason::kOutputIsSource}))},
     {{"src/a.txt", kDos}}},
    {"without recursion a folder gives its own files; the filter picks names; a file named is taken, below its "
     "own name",
     {{"src/a.txt", kDos}, {"src/b.md", kDos}, {"src/c.TXT", kDos}, {"src/sub/d.txt", kDos}, {"e.md", kDos}},
     {"src", "e.md"},
     ToUnix("out", false, {"*.txt", "*.TXT"}),
     {Line("src/a.txt", kConverted), Line("src/c.TXT", kConverted), Line("e.md", kConverted)},
     {{"out/src/b.md", std::nullopt}, {"out/src/sub/d.txt", std::nullopt}, {"out/e.md", kUnix}}},
    {"links in a walk are told and never followed; a link named is followed",
     {{"src/a.txt", kDos}, {"secret.txt", kDos}},
     {"src", "named.txt"},
     ToUnix("", true),
     {Line("src/a.txt", kConverted), Line("src/escape", kLink), Line("src/up", kLink), Line("named.txt", kConverted)},
     {{"secret.txt", kUnix}},
     std::nullopt,
     1,
     {{"src/escape", "../secret.txt"}, {"src/up", ".."}, {"named.txt", "secret.txt"}}},
    {"many files in place on several threads, each told once in the walk's order", Many(kDos), {"many"},
     ToUnix("", true), ManyLines(), ManyAfter()},
    {"an unreadable file fails alone, saying why; the next is still converted",
     {{"src/a.txt", kDos}, {"src/b.txt", kDos}},
     {"src"},
     ToUnix("out"),
     {Line("src/a.txt", Failed(Outcome::SourceReadFailed, EIO)), Line("src/b.txt", kConverted)},
     {{"out/src/a.txt", std::nullopt}, {"out/src/b.txt", kUnix}},
     Op::Read, 1},
    {"an output folder that cannot be made fails every file, writing nothing",
     {{"src/a.txt", kDos}, {"src/b.txt", kMac}, {"out", "a file in the way"}},
     {"src"},
     ToUnix("out/new"),
     {Line("src/a.txt", Failed(Outcome::OutputCannotWrite, ENOTDIR)),
      Line("src/b.txt", Failed(Outcome::OutputCannotWrite, ENOTDIR))},
     {{"out", "a file in the way"}}},
    {"a failed rename leaves the old output",
     {{"src/a.txt", kDos}, {"out/a.txt", "old"}},
     {"src/a.txt"},
     ToUnix("out"),
     {Line("src/a.txt", Failed(Outcome::OutputCannotWrite, EACCES))},
     {{"out/a.txt", "old"}},
     Op::Rename},
    {"missing paths, a file given twice, two files and two folders of one name: the later ones are refused",
     {{"a/x.txt", kDos}, {"b/x.txt", kMac}, {"a/src/y.txt", kDos}, {"b/src/y.txt", kMac}},
     {"missing.txt", "a/x.txt", "a/x.txt", "b/x.txt", "a/src", "b/src"},
     ToUnix("out"),
     {Line("missing.txt", Failed(Outcome::SourceCannotOpen, ENOENT)), Line("a/x.txt", kConverted),
      Line("b/x.txt", kSameOutput), Line("a/src/y.txt", kConverted), Line("b/src/y.txt", kSameOutput)},
     {{"out/x.txt", kUnix}, {"out/src/y.txt", kUnix}}},
    {"paths that overlap: each file once, where it is first reached",
     {{"src/a.txt", kDos}, {"src/sub/b.txt", kDos}, {"src/sub/c.txt", kMac}},
     {"src/sub/b.txt", "src", "src/sub", "src/a.txt"},
     ToUnix("out", true),
     {Line("src/sub/b.txt", kConverted), Line("src/a.txt", kConverted), Line("src/sub/c.txt", kConverted)},
     {{"out/b.txt", kUnix}, {"out/src/sub/b.txt", std::nullopt}, {"out/src/sub/c.txt", kUnix}}},
};

std::vector<std::string> LinesOf(const std::vector<std::pair<std::string, Result>>& told) {
  std::vector<std::string> lines;
  for (const auto& [source, result] : told) lines.push_back(Line(source, messages::Describe(result)));
  return lines;
}

void MakeFiles(FakeFileSystem& fs, const Case& c) {
  for (const auto& [path, bytes] : c.files) {
    fs.AddDirectories(std::filesystem::path(path).parent_path().string());
    fs.AddFile(path, bytes);
  }
  for (const auto& [path, target] : c.links) fs.AddSymlink(path, target);
  if (c.arrange != nullptr) c.arrange(fs);
}

// Runs the case whole or in chunks; tells each file's source and result.
std::vector<std::pair<std::string, Result>> RunCase(FakeFileSystem& fs, const Case& c, bool whole, bool dry_run,
                                                    BatchTotals& totals) {
  BatchSettings settings = c.settings;
  settings.dry_run = dry_run;
  std::vector<std::pair<std::string, Result>> told;
  if (whole) {
    BatchSettings collecting = settings;
    collecting.output_folder.clear();  // the window chooses its output folder after adding
    std::vector<BatchFile> files;
    BatchWalker walker(fs, c.paths, collecting);
    while (walker.Next(files, 3)) {
    }
    BatchPlan plan(fs, c.paths, settings);
    for (BatchFile& file : files) plan.Assign(file);
    totals = RunBatch(fs, files, settings, [&](std::size_t index, const Result& result) {
      told.emplace_back(files[index].source, result);
    }, {}, c.fail ? 1 : 3);
  } else {
    BatchPlan plan(fs, c.paths, settings);
    totals = RunBatch(fs, plan, [&](const BatchFile& file, const Result& result) {
      told.emplace_back(file.source, result);
    }, {}, c.fail ? 1 : 3);
  }
  return told;
}

class BatchCase : public ::testing::TestWithParam<Case> {};

TEST_P(BatchCase, EachFileGetsItsResultAndADryRunDecidesTheSame) {
  const Case& c = GetParam();
  for (const bool whole : {true, false}) {
    const std::string name = std::string(c.name) + (whole ? " (whole)" : " (in chunks)");
    FakeFileSystem fs;
    MakeFiles(fs, c);
    const std::vector<std::string> before = fs.Paths();
    BatchTotals dry, real;
    const auto planned = RunCase(fs, c, whole, true, dry);
    EXPECT_EQ(fs.Paths(), before) << name << ": a dry run writes nothing";
    if (c.fail) fs.FailOn(*c.fail, c.nth);
    const auto done = RunCase(fs, c, whole, false, real);

    EXPECT_EQ(LinesOf(done), c.lines) << name;
    ASSERT_EQ(planned.size(), done.size()) << name;
    for (std::size_t i = 0; i < done.size() && !c.fail; ++i) {
      EXPECT_EQ(planned[i].second.outcome, done[i].second.outcome) << name << ": " << done[i].first;
    }
    if (!c.fail) {
      EXPECT_EQ(BatchSummary(dry), BatchSummary(real)) << name;
    }
    for (const auto& [path, bytes] : c.after) EXPECT_EQ(fs.Contents(path), bytes) << name << ": " << path;
    const std::string prefix = platform::WorkingFilePrefix("x");
    const std::string ours = prefix.substr(prefix.find(".tarnwhistle-"));  // this process's working files
    for (const std::string& path : fs.Paths()) {
      if (path.find(ours) != std::string::npos) EXPECT_TRUE(path.ends_with(kInUse)) << name << ": " << path;
    }
    if (whole && c.settings.output_folder.empty() && !c.fail && c.files.size() <= 64) {
      // In place, one group: every file complete (content, mode, owner, access list)
      // before the flush, and only the renames after it.
      const std::vector<Op> log = fs.Log();
      const auto first_flush = std::find(log.begin(), log.end(), Op::Flush);
      for (auto op = log.begin(); op != log.end(); ++op) {
        const bool finishing = *op == Op::Flush || *op == Op::Close || *op == Op::Rename;
        EXPECT_EQ(finishing, op >= first_flush) << name << ": " << testkit::OpName(*op) << " at " << op - log.begin();
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(, BatchCase, ::testing::ValuesIn(kCases), testkit::NameRowsByName(kCases));

// A stop leaves the file in progress as it was and begins no other. Files that replace
// others are made durable and put in place a group at a time (up to 64 of a thread's
// files together), so a stop also leaves the files converted before it in its group as
// they were: every file is converted whole or not at all, and told which. Stopped in
// the second of three files, all in one group, none is converted; in the 65th of 66, the
// first group of 64 is.
TEST(Batch, AStopLeavesEveryFileOfItsGroupAsItWas) {
  for (const std::size_t count : {3, 66}) {
    FakeFileSystem fs;
    fs.AddDirectory("src");
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
      names.push_back("src/" + std::to_string(100 + i) + ".txt");
      fs.AddFile(names.back(), kDos);
    }
    const BatchSettings settings = ToUnix("");
    std::stop_source stop;
    std::uint64_t read = 0;
    const std::size_t stopped_in = count == 3 ? 1 : 64;  // the index of the file the stop comes in
    const BatchProgress progress = [&](std::uint64_t bytes) {
      if ((read += bytes) > stopped_in * kDos.size()) stop.request_stop();
    };
    BatchPlan plan(fs, {"src"}, settings);
    std::vector<BatchFile> files;
    while (plan.Next(files, count)) {
    }
    const BatchTotals totals = RunBatch(fs, files, settings, {}, stop.get_token(), 1, progress);
    const std::size_t converted = count == 3 ? 0 : 64;
    EXPECT_EQ(totals.converted, converted);
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(fs.Contents(names[i]), i < converted ? kUnix : kDos) << i;
    EXPECT_EQ(BatchSummary(totals), "変換 " + std::to_string(converted) + "・変換不要 0・変換できません 0・失敗 0");
    EXPECT_EQ(fs.Paths().size(), count + 1) << "no working file left";
  }
}

// A folder made below the output folder takes its source folder's permission bits less
// the umask, as cp gives them, and its owner may always write into it; so too when the
// window assigns the outputs after collecting, with a subfolder met before the folder's
// own files, and for a folder that holds only folders.
TEST(Batch, MirroredFoldersTakeTheirSourcesModes) {
  const struct {
    std::uint32_t source, mirrored;
    bool own_file;
  } cases[] = {{0750, 0750, true}, {0555, 0755, true}, {0777, 0755, true}, {0750, 0750, false}};
  for (const bool whole : {false, true}) {
    for (const auto& [source, mirrored, own_file] : cases) {
      FakeFileSystem fs;
      fs.AddDirectory("src", source);
      fs.AddDirectories("src/sub");
      fs.AddFile("src/sub/a.txt", kDos);
      if (own_file) fs.AddFile("src/z.txt", kDos);
      const BatchSettings settings = ToUnix("out", true);
      if (whole) {
        std::vector<BatchFile> files;
        BatchWalker walker(fs, {"src"}, ToUnix("", true));
        while (walker.Next(files, 10)) {
        }
        BatchPlan plan(fs, {"src"}, settings);
        for (BatchFile& file : files) plan.Assign(file);
        RunBatch(fs, files, settings, {}, {}, 1);
      } else {
        BatchPlan plan(fs, {"src"}, settings);
        RunBatch(fs, plan, {}, {}, 1);
      }
      EXPECT_EQ(fs.Permissions("out/src"), mirrored) << std::oct << source << (whole ? " (whole)" : "");
    }
  }
}

// An output folder that is, or lies inside, a folder named would take its own outputs
// for sources; a path named whose output would be itself would be replaced as if in
// place. Both are refused before anything is done, found by what the paths are, not by
// their texts.
struct Refusal {
  std::string output;
  std::vector<std::string> paths;
  Outcome kind;
  std::size_t path;
};

std::vector<Refusal> Refusals() {
  const Refusal cases[] = {
      {"out", {"src"}, Outcome::Ok, 0},
      {"src/out", {"src"}, Outcome::OutputFolderInsideSource, 0},
      {"src/sub/new/deeper", {"other", "src"}, Outcome::OutputFolderInsideSource, 1},
      {"src", {"other", "src"}, Outcome::OutputFolderInsideSource, 1},
      {".", {"src", "."}, Outcome::OutputFolderInsideSource, 1},
      {"other", {"src/sub"}, Outcome::Ok, 0},
      // The folder holding the folder named: its mirror is the folder itself.
      {".", {"other", "src"}, Outcome::OutputIsSource, 0},
      {"src/..", {"src/sub/../../other"}, Outcome::OutputIsSource, 0},
      // The folder holding the file named, however either is written.
      {"src", {"src/y.txt"}, Outcome::OutputIsSource, 0},
      {"src/sub/..", {"other", "./src/y.txt"}, Outcome::OutputIsSource, 1},
      {"other", {"src/y.txt"}, Outcome::Ok, 0},
  };
  return {std::begin(cases), std::end(cases)};
}

class OutputRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(OutputRefusal, AnOutputThatIsOrHoldsASourceIsRefused) {
  FakeFileSystem fs;
  fs.AddDirectories("src/sub");
  fs.AddDirectories("other");
  fs.AddFile("src/y.txt", kDos);
  const Refusal& c = GetParam();
  BatchPlan plan(fs, c.paths, ToUnix(c.output));
  const BatchRefusal refused = plan.Refusal();
  EXPECT_EQ(std::make_pair(refused.outcome, refused.path), std::make_pair(c.kind, c.path));
}

INSTANTIATE_TEST_SUITE_P(, OutputRefusal, ::testing::ValuesIn(Refusals()),
                         testkit::NameRows(Refusals(), [](const Refusal& c) {
                           std::string named = c.output == "." ? "dot" : c.output;
                           for (const std::string& path : c.paths) named += " in " + (path == "." ? "dot" : path);
                           return named;
                         }));

}  // namespace
}  // namespace tarnwhistle
