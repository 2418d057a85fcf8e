// One conversion as the window and the command line ask for it, on the failing in-memory
// file system: the checks in their order, the whole road of a conversion, and every file
// operation failing at every call, each run leaving every file as it was and saying why.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>

#include "engine/conversion_request.h"
#include "engine/messages.h"
#include "fake_file_system.h"
#include "row_name.h"

namespace tarnwhistle {
namespace {

using namespace std::string_literals;
using K = LineEndingKind;
using platform::Reason;
using testkit::FakeFileSystem;
using testkit::Op;
using testkit::PrintTo;

ConversionRequest Request(std::string source, std::string output, K detected, K target) {
  ConversionRequest request;
  request.source = std::move(source);
  request.output = std::move(output);
  request.detected = detected;
  request.target = target;
  return request;
}

ConversionRequest Detecting(std::string source, std::string output, K target) {
  ConversionRequest request = Request(std::move(source), std::move(output), K::None, target);
  request.detect = true;
  return request;
}

// A folder of every kind of source, and an old output.
void MakeFiles(FakeFileSystem& fs) {
  fs.AddDirectory("/d");
  fs.AddFile("/d/in", "one\r\ntwo\r\n");
  fs.AddFile("/d/unix", "a\nb\n");
  fs.AddFile("/d/mixed", "a\r\nb\nc\r\nd\re\n");
  fs.AddFile("/d/png", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s);
  fs.AddFile("/d/line", "no line break");
  fs.AddFile("/d/esc", "\x01\r\nb\r\n");
  fs.AddHardLink("/d/in", "/d/hard");
  fs.AddSymlink("/d/soft", "/d/in");
  fs.AddFile("/d/out", "old output");
}

// The checks in their order: each row fails exactly one check and passes those before
// it. Checks 1 to 4, and 6 and 7 where the kinds differ, open no file; the others read
// the source, and none writes anything.
struct Refusal {
  const char* name;
  ConversionRequest request;
  std::string_view refusal;  // with the note after it
  bool reads;
};

std::vector<Refusal> Refusals() {
  ConversionRequest binary = Request("/d/in", "/d/out", K::Binary, K::None);
  binary.detected_found = {kEsc, 1};  // what the window's detection found
  const auto not_text = [](const char* found) { return messages::WithNotes(messages::Text(Outcome::NotConvertible), {found}); };
  static const std::string escape = not_text("1 行目に制御文字 0x1B があります"),
                           control = not_text("1 行目に制御文字 0x01 があります"),
                           nul = not_text("3 行目に NUL 文字があります");
  const Refusal cases[] = {
      {"no source name", Request("", "/d/out", K::MsDos, K::Unix), messages::Text(Outcome::NoSourceName), false},
      {"no source name beats every kind", Request("", "", K::Binary, K::None), messages::Text(Outcome::NoSourceName), false},
      {"binary before any target", binary, escape, false},
      {"not detected", Request("/d/in", "/d/out", K::None, K::Unix), messages::Text(Outcome::NotDetected), false},
      {"no target", Request("/d/in", "/d/out", K::MsDos, K::None), messages::Text(Outcome::NoTarget), false},
      {"same kind, every line of it", Request("/d/unix", "/d/out", K::Unix, K::Unix), messages::Text(Outcome::SameKind), true},
      {"same kind, before the output's checks", Request("/d/unix", "/d/unix", K::Unix, K::Unix), messages::Text(Outcome::SameKind),
       true},
      {"same text", Request("/d/in", "/d/in", K::MsDos, K::Unix), messages::Text(Outcome::SameFile), false},
      {"same text, missing file", Request("/d/none", "/d/none", K::MsDos, K::Unix), messages::Text(Outcome::SameFile), false},
      {"hard link to the source", Request("/d/in", "/d/hard", K::MsDos, K::Unix), messages::Text(Outcome::SameFile), false},
      {"symbolic link to the source", Request("/d/in", "/d/soft", K::MsDos, K::Unix), messages::Text(Outcome::SameFile), false},
      {"no output name", Request("/d/in", "", K::MsDos, K::Unix), messages::Text(Outcome::NoOutputName), false},
      {"found binary, by a control byte", Detecting("/d/esc", "/d/out", K::Unix), control, true},
      {"found binary, by a NUL past the first line break", Detecting("/d/png", "/d/out", K::Unix), nul, true},
      {"found without a line break", Detecting("/d/line", "/d/out", K::Unix), messages::Text(Outcome::NoLineBreak), true},
      {"found of the kind", Detecting("/d/unix", "/d/out", K::Unix), messages::Text(Outcome::SameKind), true},
  };
  return {std::begin(cases), std::end(cases)};
}

class RefusedConversion : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedConversion, RefusesWithTheFirstFailingCheck) {
  const Refusal& c = GetParam();
  FakeFileSystem fs;
  MakeFiles(fs);
  const std::vector<std::string> before = fs.Paths();
  const Result outcome = CheckAndConvert(fs, c.request);
  EXPECT_FALSE(outcome.ok() || outcome.Failed());
  EXPECT_EQ(messages::Describe(outcome), c.refusal);
  EXPECT_EQ(fs.Calls(Op::OpenRead) > 0, c.reads);
  EXPECT_EQ(fs.Calls(Op::Create), 0);
  EXPECT_EQ(fs.Paths(), before);
  EXPECT_EQ(fs.Contents("/d/out"), "old output");
}

INSTANTIATE_TEST_SUITE_P(, RefusedConversion, ::testing::ValuesIn(Refusals()), testkit::NameRowsByName(Refusals()));

// The whole road, from one opening of the source: every line ending becomes the
// target's (a mixed file is made one kind, even its own detected kind), a UTF-16 file
// keeps its mark and byte order, --from is taken as given, and a file changed since its
// detection is refused.
struct Road {
  const char* name;
  ConversionRequest request;
  std::string source;  // written to the request's source first
  Outcome outcome;
  std::string written;  // what the output holds afterwards
};

std::vector<Road> Roads() {
  ConversionRequest stale = Request("/d/in", "/d/out", K::MsDos, K::Unix);
  stale.detected_file = platform::FileIdentity{1, 2, 11, 0, 0};  // another file's
  const Road cases[] = {
      {"mixed, to MAC", Detecting("/d/mixed", "/d/out", K::Mac), "a\r\nb\nc\r\nd\re\n", Outcome::Ok, "a\rb\rc\rd\re\r"},
      {"mixed, to its own kind", Request("/d/mixed", "/d/out", K::Unix, K::Unix), "a\nb\r\nc\n", Outcome::Ok,
       "a\nb\nc\n"},
      {"utf-16le keeps its mark", Detecting("/d/mixed", "/d/out", K::Mac), "\xff\xfe" "a\0\r\0\n\0b\0\n\0"s,
       Outcome::Ok, "\xff\xfe" "a\0\r\0b\0\r\0"s},
      {"utf-16be keeps its order", Detecting("/d/mixed", "/d/out", K::MsDos), "\xfe\xff\0a\0\n"s, Outcome::Ok,
       "\xfe\xff\0a\0\r\0\n"s},
      {"a NUL further on", Request("/d/mixed", "/d/out", K::MsDos, K::Unix), "a\r\nb\0c\r\n"s, Outcome::NotConvertible,
       "old output"},
      {"changed since its detection", stale, "one\r\ntwo\r\n", Outcome::ChangedSinceDetected, "old output"},
  };
  return {std::begin(cases), std::end(cases)};
}

class ConversionRoad : public ::testing::TestWithParam<Road> {};

TEST_P(ConversionRoad, ConvertsEveryLineEndingOnce) {
  const Road& c = GetParam();
  FakeFileSystem fs;
  MakeFiles(fs);
  fs.AddFile(c.request.source, c.source);
  const Result outcome = CheckAndConvert(fs, c.request);
  EXPECT_EQ(outcome.outcome, c.outcome);
  EXPECT_EQ(fs.Contents("/d/out"), c.written);
  EXPECT_EQ(fs.Paths().size(), 10u) << "no file added or left behind";
}

INSTANTIATE_TEST_SUITE_P(, ConversionRoad, ::testing::ValuesIn(Roads()), testkit::NameRowsByName(Roads()));

struct Conversion {
  K from;
  K to;
  std::string source;
};

const Conversion kConversions[] = {
    {K::MsDos, K::Unix, "one\r\ntwo\r\n"}, {K::MsDos, K::Mac, "a\r\n\r\nb"}, {K::Unix, K::MsDos, "one\ntwo\n"},
    {K::Unix, K::Mac, "\n\nx"},            {K::Mac, K::MsDos, "one\rtwo\r"}, {K::Mac, K::Unix, "a\r\rb\r"},
};

struct Scenario {
  std::string source;
  bool output_exists;
  std::size_t read_limit;  // 0: whole reads
};

const std::string kOld = "old output, longer than any result";

std::unique_ptr<FakeFileSystem> Files(const Scenario& scenario) {
  auto fs = std::make_unique<FakeFileSystem>();
  fs->AddDirectory("/d");
  fs->AddFile("/d/in", scenario.source);
  fs->AddFile("/d/other", "unrelated");
  if (scenario.output_exists) fs->AddFile("/d/out", kOld, 0600);
  fs->SetReadLimit(scenario.read_limit);
  return fs;
}

// What is left after a failed run: the source and the old output as they were, and
// nothing new, except the working file beside the output when even its removal failed.
void ExpectUntouched(const FakeFileSystem& fs, const Scenario& scenario, const std::vector<std::string>& before,
                     bool removal_failed, const std::string& context) {
  EXPECT_EQ(fs.Contents("/d/in"), scenario.source) << context;
  EXPECT_EQ(fs.Contents("/d/out"), scenario.output_exists ? std::optional(kOld) : std::nullopt) << context;
  std::vector<std::string> added;
  const std::vector<std::string> after = fs.Paths();
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  EXPECT_LE(added.size(), removal_failed ? 1u : 0u) << context;
  for (const std::string& path : added) EXPECT_EQ(path.rfind("/d/.out.tarnwhistle-", 0), 0u) << context;
}

// Every operation failing at every call of every conversion, with reads whole or split,
// with and without an existing output, on sources of a few bytes and of several writer
// buffers (writes failing first, in the middle and last); and for the operations that
// leave a working file behind, its removal failing as well. Each run ends in its failure
// and its reason, never in "変換しました".
class FailingConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(FailingConversion, EveryOperationFailingAtEveryCallLeavesEveryFileAsItWas) {
  const Conversion& c = GetParam();
  static const std::string big = [] {
    std::string text;
    while (text.size() < 5 * 1024 * 1024) text += "a line of text\r\n\rand\n";  // overlapped reads and writes
    return text;
  }();
  int runs = 0;
  // The large source for the conversions that shrink and that grow the text.
  const bool large = c.from == K::MsDos ? c.to == K::Unix : c.from == K::Unix && c.to == K::MsDos;
  const std::pair<std::string, std::vector<std::size_t>> sources[] = {{c.source, {0, 1, 3}},
                                                                       {large ? big : "", {0}}};
  for (const auto& [text, read_limits] : sources) {
    if (text.empty()) continue;
    for (const bool output_exists : {false, true}) {
      for (const std::size_t read_limit : read_limits) {
        const Scenario scenario{text, output_exists, read_limit};
        const ConversionRequest request = Request("/d/in", "/d/out", c.from, c.to);
        std::unique_ptr<FakeFileSystem> clean = Files(scenario);
        ASSERT_TRUE(CheckAndConvert(*clean, request).ok());
        for (Op op : testkit::kAllOps) {
          for (int nth = 1; nth <= clean->Calls(op) && op != Op::Remove; ++nth) {
            for (const bool remove_fails : {false, true}) {
              const std::string context = std::string(DisplayName(c.from)) + " to " + std::string(DisplayName(c.to)) +
                                          ", " + std::to_string(text.size()) + " bytes in reads of " +
                                          std::to_string(read_limit) + (output_exists ? ", output exists, " : ", ") +
                                          testkit::OpName(op) + " #" + std::to_string(nth) +
                                          (remove_fails ? " and the clean-up fail" : " fails");
              std::unique_ptr<FakeFileSystem> fs = Files(scenario);
              const std::vector<std::string> before = fs->Paths();
              fs->FailOn(op, nth);
              if (remove_fails) fs->FailOn(Op::Remove);
              const Result outcome = CheckAndConvert(*fs, request);
              ++runs;
              const Outcome expected = op == Op::OpenRead ? Outcome::SourceCannotOpen
                                      : op == Op::Read   ? Outcome::SourceReadFailed
                                                         : Outcome::OutputCannotWrite;
              const Reason why = op == Op::SetOwner ? Reason::kOwnerNotKept : testkit::DefaultReason(op);
              EXPECT_EQ(messages::Describe(outcome), messages::Describe({expected, why})) << context;
              ExpectUntouched(*fs, scenario, before, remove_fails && fs->Calls(Op::Remove) > 0, context);
            }
          }
        }
      }
    }
  }
  EXPECT_GT(runs, 100);  // the sweep really ran
}

INSTANTIATE_TEST_SUITE_P(, FailingConversion, ::testing::ValuesIn(kConversions),
                         testkit::NameRows(kConversions, [](const Conversion& c) {
                           return std::string(DisplayName(c.from)) + " to " + std::string(DisplayName(c.to));
                         }));

// A stop leaves the output as it was: during the reads (of a small file, and of a large
// one, written on a thread of its own), and after the last one, while the new
// file is flushed. Only a file that replaces another waits for the disk.
TEST(CheckAndConvert, AStopLeavesTheOutputAsItWasAndOnlyAReplacementIsFlushed) {
  for (const std::size_t size : {100, 5 << 20}) {
    for (const Stage stop_at : {Stage::Converting, Stage::Finishing}) {
      FakeFileSystem fs;
      MakeFiles(fs);
      fs.AddFile("/d/big", std::string(size, '\n'));
      fs.SetReadLimit(size == 100 ? 10 : 0);
      std::stop_source stop;
      const Result outcome = CheckAndConvert(
          fs, Request("/d/big", "/d/out", K::Unix, K::MsDos), stop.get_token(),
          [&](std::uint64_t done, std::uint64_t total, Stage stage) {
            EXPECT_EQ(total, size);
            if (stage == stop_at && done >= 30) stop.request_stop();
          });
      EXPECT_EQ(outcome.outcome, Outcome::Cancelled) << size;
      EXPECT_EQ(messages::Describe(outcome), messages::Text(Outcome::Cancelled));
      EXPECT_EQ(fs.Contents("/d/out"), "old output");
      EXPECT_EQ(fs.Paths().size(), 11u);
    }
  }
  FakeFileSystem fs;
  MakeFiles(fs);
  ASSERT_TRUE(CheckAndConvert(fs, Request("/d/in", "/d/new", K::MsDos, K::Unix)).ok());
  EXPECT_EQ(fs.Calls(Op::Flush), 0);
  ASSERT_TRUE(CheckAndConvert(fs, Request("/d/in", "/d/new", K::MsDos, K::Unix)).ok());
  EXPECT_EQ(fs.Calls(Op::Flush), 1);
}

}  // namespace
}  // namespace tarnwhistle
