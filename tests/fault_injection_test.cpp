// The Convert command and the window on the failing in-memory file system: its checks in
// order, then every file operation of detection and of every conversion made to fail in
// turn, at every call. Each run must end in the window's message for that failure, with
// the source and any existing output exactly as they were and no new file left behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>

#include "engine/messages.h"
#include "fake_file_system.h"
#include "fake_window_services.h"
#include "platform/byte_writer.h"
#include "windows/convert_command.h"
#include "windows/main_window.h"
#include "windows/texts.h"
#include "window_fixture.h"

namespace tarnwhistle {
namespace {

using K = LineEndingKind;
using testkit::FakeFileSystem;
using testkit::FakeWindowServices;
using testkit::Op;
using testkit::OpName;
using windows::Text;

// The window's message when `op` fails.
QString MessageFor(Op op) {
  switch (op) {
    case Op::OpenRead: return Text(messages::kSourceMissing);
    case Op::Read: return Text(messages::kSourceUnreadable);
    default: return Text(messages::kOutputUnwritable);
  }
}

// Hands every call to whichever fake is current, so that one window can be run against
// a fresh file system for every injected failure.
class SwappableFileSystem : public platform::FileSystem {
 public:
  FakeFileSystem* current = nullptr;

  std::unique_ptr<platform::ReadHandle> OpenForRead(const std::string& path) override {
    return current->OpenForRead(path);
  }
  std::unique_ptr<platform::WriteHandle> CreateWorkingFile(const std::string& directory,
                                                           const std::string& prefix) override {
    return current->CreateWorkingFile(directory, prefix);
  }
  platform::FileInfo Stat(const std::string& path) override { return current->Stat(path); }
  std::string ResolveLinks(const std::string& path) override { return current->ResolveLinks(path); }
  std::uint32_t Umask() override { return current->Umask(); }
};

const char kSource[] = "/d/in";
const char kOutput[] = "/d/out";
const char kOldOutput[] = "old output, longer than any result";

struct Scenario {
  std::string source;
  bool output_exists;
  std::size_t read_limit;  // 0: whole reads
};

std::unique_ptr<FakeFileSystem> MakeFiles(const Scenario& scenario) {
  auto fs = std::make_unique<FakeFileSystem>();
  fs->AddDirectory("/d");
  fs->AddFile(kSource, scenario.source);
  fs->AddFile("/d/other", "unrelated");
  if (scenario.output_exists) fs->AddFile(kOutput, kOldOutput, 0600);
  fs->SetReadLimit(scenario.read_limit);
  return fs;
}

std::string Describe(const Scenario& scenario, Op op, int nth, bool remove_fails) {
  return ::testing::PrintToString(scenario.source.substr(0, 20)) + (scenario.output_exists ? ", output exists" : "") +
         ", reads of " + std::to_string(scenario.read_limit) + ", " + OpName(op) + " #" + std::to_string(nth) +
         " fails" + (remove_fails ? ", and so does the clean-up" : "");
}

// The files after a failed run: the source and the old output as they were, and nothing
// new, except the working file beside the output when even its removal failed.
void ExpectFilesUntouched(const FakeFileSystem& fs, const Scenario& scenario, const std::vector<std::string>& before,
                          bool removal_failed, const std::string& context) {
  EXPECT_EQ(fs.Contents(kSource), scenario.source) << context;
  if (scenario.output_exists) {
    EXPECT_EQ(fs.Contents(kOutput), kOldOutput) << context;
    EXPECT_EQ(fs.Permissions(kOutput), 0600u) << context;
  } else {
    EXPECT_EQ(fs.Contents(kOutput), std::nullopt) << context;
  }
  std::vector<std::string> after = fs.Paths();
  if (!removal_failed) {
    EXPECT_EQ(after, before) << context;
    return;
  }
  std::vector<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  EXPECT_LE(added.size(), 1u) << context;
  for (const std::string& path : added) EXPECT_EQ(path.rfind("/d/.out.tarnwhistle-", 0), 0u) << context;
}

class FaultInjection : public ::testing::Test, public testkit::WindowDriver {
 protected:
  QWidget& Driven() override { return window; }

  SwappableFileSystem files;
  FakeWindowServices services;
  windows::MainWindow window{files, services};
};

struct Conversion {
  K from;
  K to;
  std::string source;
};

const Conversion kConversions[] = {
    {K::MsDos, K::Unix, "one\r\ntwo\r\n"}, {K::MsDos, K::Mac, "a\r\n\r\nb"}, {K::Unix, K::MsDos, "one\ntwo\n"},
    {K::Unix, K::Mac, "\n\nx"},            {K::Mac, K::MsDos, "one\rtwo\r"}, {K::Mac, K::Unix, "a\r\rb\r"},
};

// The whole road through the window, detect, choose, name, convert, with one operation
// failing at one call anywhere along it, and for the operations that leave a working
// file behind, its removal failing as well.
TEST_F(FaultInjection, EveryOperationFailingAtEveryCallOfDetectAndConvert) {
  int runs = 0;
  for (const Conversion& c : kConversions) {
    for (bool output_exists : {false, true}) {
      for (std::size_t read_limit : {0, 1, 3}) {
        const Scenario scenario{c.source, output_exists, read_limit};
        // A clean run first, to count the calls.
        std::unique_ptr<FakeFileSystem> clean = MakeFiles(scenario);
        files.current = clean.get();
        services.messages.clear();
        ASSERT_NO_FATAL_FAILURE(Detect(kSource));
        ASSERT_EQ(window.DetectedKind(), c.from) << Describe(scenario, Op::Read, 0, false);
        std::map<Op, int> detect_calls;
        for (Op op : testkit::kAllOps) detect_calls[op] = clean->Calls(op);
        ASSERT_NO_FATAL_FAILURE(Convert(c.to, kOutput));
        ASSERT_EQ(services.messages, QStringList{Text(messages::kConverted)});

        for (Op op : testkit::kAllOps) {
          if (op == Op::Remove) continue;  // only ever called after another failure
          for (int nth = 1; nth <= clean->Calls(op); ++nth) {
            for (bool remove_fails : {false, true}) {
              const std::string context = Describe(scenario, op, nth, remove_fails);
              std::unique_ptr<FakeFileSystem> fs = MakeFiles(scenario);
              const std::vector<std::string> before = fs->Paths();
              fs->FailOn(op, nth);
              if (remove_fails) fs->FailOn(Op::Remove);
              files.current = fs.get();
              services.messages.clear();

              ASSERT_NO_FATAL_FAILURE(Detect(kSource));
              ASSERT_NO_FATAL_FAILURE(Convert(c.to, kOutput));
              ++runs;

              if (nth <= detect_calls[op]) {
                // Detection failed: it says why, keeps no verdict, and Convert asks for one.
                EXPECT_EQ(services.messages, (QStringList{MessageFor(op), Text(messages::kNotDetected)})) << context;
                EXPECT_EQ(window.DetectedKind(), K::None) << context;
                EXPECT_TRUE(Box("Txt2")->text().isEmpty()) << context;
              } else {
                EXPECT_EQ(services.messages, QStringList{MessageFor(op)}) << context;
                EXPECT_EQ(window.DetectedKind(), c.from) << context;
              }
              ExpectFilesUntouched(*fs, scenario, before, remove_fails && fs->Calls(Op::Remove) > 0, context);
            }
          }
        }
      }
    }
  }
  EXPECT_GT(runs, 500);  // the sweep really ran
}

// A failed detection of a path that was detected before leaves the earlier verdict in
// place, whatever kind of file it is and wherever the failure falls.
TEST_F(FaultInjection, AFailedDetectionKeepsTheVerdictBeforeIt) {
  const std::pair<std::string, K> kFiles[] = {
      {"a\r\nb", K::MsDos},        {"a\nb", K::Unix},
      {"a\rb", K::Mac},            {std::string("a\0\n", 3), K::Binary},
      {"abc\r", K::Mac},           {std::string(300, 'x') + "\n", K::None},
      {"", K::None},               {std::string(256, 'x') + "\n", K::Unix},
  };
  for (const auto& [bytes, verdict] : kFiles) {
    for (std::size_t read_limit : {0, 1, 2, 100}) {
      const Scenario scenario{bytes, true, read_limit};
      std::unique_ptr<FakeFileSystem> clean = MakeFiles(scenario);
      files.current = clean.get();
      ASSERT_NO_FATAL_FAILURE(Detect(kSource));
      const int reads_before = clean->Calls(Op::Read);
      Click("Cmd1");
      const int reads = clean->Calls(Op::Read) - reads_before;
      ASSERT_EQ(window.DetectedKind(), verdict);
      ASSERT_EQ(clean->Calls(Op::Create) + clean->Calls(Op::Write) + clean->Calls(Op::Rename), 0);

      const std::pair<Op, int> kFailures[] = {{Op::OpenRead, 1}};
      std::vector<std::pair<Op, int>> failures(std::begin(kFailures), std::end(kFailures));
      for (int nth = 1; nth <= reads; ++nth) failures.emplace_back(Op::Read, nth);
      for (const auto& [op, nth] : failures) {
        const std::string context = Describe(scenario, op, nth, false);
        std::unique_ptr<FakeFileSystem> fs = MakeFiles(scenario);
        const std::vector<std::string> before = fs->Paths();
        files.current = fs.get();
        ASSERT_NO_FATAL_FAILURE(Detect(kSource));
        services.messages.clear();
        fs->FailOn(op, nth);
        Click("Cmd1");
        EXPECT_EQ(services.messages, QStringList{MessageFor(op)}) << context;
        EXPECT_EQ(window.DetectedKind(), verdict) << context;
        EXPECT_EQ(Box("Txt2")->text(), Text(DisplayName(verdict))) << context;
        ExpectFilesUntouched(*fs, scenario, before, false, context);
      }
    }
  }
}

// The Convert command over a source whose result is several writer buffers long, so
// that writes fail first, in the middle and last, with reads split or whole.
TEST(FaultInjectionOfTheConvertCommand, EveryOperationFailingOnASourceOfManyBuffers) {
  std::string big;
  while (big.size() < 3 * platform::ByteWriter::kDefaultBufferSize) big += "a line of text\r\n\rand\n";
  for (const Conversion& c : kConversions) {
    for (bool output_exists : {false, true}) {
      for (std::size_t read_limit : {0, 100000}) {
        const Scenario scenario{big, output_exists, read_limit};
        const ConversionRequest request{kSource, kOutput, c.from, c.to};
        FakeWindowServices services;
        std::unique_ptr<FakeFileSystem> clean = MakeFiles(scenario);
        windows::RunConvertCommand(*clean, services, nullptr, request);
        ASSERT_EQ(services.messages, QStringList{Text(messages::kConverted)});
        ASSERT_GE(clean->Calls(Op::Write), 3);

        for (Op op : testkit::kAllOps) {
          if (op == Op::Remove) continue;
          for (int nth = 1; nth <= clean->Calls(op); ++nth) {
            for (bool remove_fails : {false, true}) {
              const std::string context = Describe(scenario, op, nth, remove_fails) + ", " +
                                          std::string(DisplayName(c.from)) + " to " + std::string(DisplayName(c.to));
              std::unique_ptr<FakeFileSystem> fs = MakeFiles(scenario);
              const std::vector<std::string> before = fs->Paths();
              fs->FailOn(op, nth);
              if (remove_fails) fs->FailOn(Op::Remove);
              services.messages.clear();
              windows::RunConvertCommand(*fs, services, nullptr, request);
              EXPECT_EQ(services.messages, QStringList{MessageFor(op)}) << context;
              ExpectFilesUntouched(*fs, scenario, before, remove_fails && fs->Calls(Op::Remove) > 0, context);
            }
          }
        }
      }
    }
  }
}

// The Convert command's own checks, its success and a cancel, on a file system that
// fails nowhere.
struct CheckCase {
  const char* name;
  ConversionRequest request;
  std::string_view message;
};

// The checks in their order: each row fails exactly one check and passes those before it.
const CheckCase kCheckCases[] = {
    {"no source name", {"", "/d/out", K::MsDos, K::Unix}, messages::kNoSourceName},
    {"no source name beats every kind", {"", "", K::Binary, K::None}, messages::kNoSourceName},
    {"binary before any target", {"/d/in", "/d/out", K::Binary, K::None}, messages::kBinarySource},
    {"binary with a target", {"/d/in", "/d/out", K::Binary, K::Unix}, messages::kBinarySource},
    {"not detected", {"/d/in", "/d/out", K::None, K::Unix}, messages::kNotDetected},
    {"not detected, no target", {"/d/in", "/d/out", K::None, K::None}, messages::kNotDetected},
    {"no target", {"/d/in", "/d/out", K::MsDos, K::None}, messages::kNoTarget},
    {"same kind", {"/d/in", "/d/out", K::Unix, K::Unix}, messages::kSameKind},
    {"same text", {"/d/in", "/d/in", K::MsDos, K::Unix}, messages::kSameFile},
    {"same text, missing file", {"/d/none", "/d/none", K::MsDos, K::Unix}, messages::kSameFile},
    {"hard link to the source", {"/d/in", "/d/hard", K::MsDos, K::Unix}, messages::kSameFile},
    {"symbolic link to the source", {"/d/in", "/d/soft", K::MsDos, K::Unix}, messages::kSameFile},
    {"no output name", {"/d/in", "", K::MsDos, K::Unix}, messages::kNoOutputName},
};

struct ConvertCommandTest : ::testing::Test {
  ConvertCommandTest() {
    fs.AddDirectory("/d");
    fs.AddFile("/d/in", "one\r\ntwo\r\n");
    fs.AddHardLink("/d/in", "/d/hard");
    fs.AddSymlink("/d/soft", "/d/in");
    fs.AddFile("/d/out", "old output");
  }
  void Run(const ConversionRequest& request) { windows::RunConvertCommand(fs, services, nullptr, request); }

  FakeFileSystem fs;
  FakeWindowServices services;
};

TEST_F(ConvertCommandTest, RefusesWithTheFirstFailingCheckAndOpensNoFile) {
  for (const CheckCase& c : kCheckCases) {
    services.messages.clear();
    Run(c.request);
    EXPECT_EQ(services.messages, QStringList{Text(c.message)}) << c.name;
    EXPECT_EQ(fs.Calls(Op::OpenRead) + fs.Calls(Op::Create), 0) << c.name;
    EXPECT_EQ(fs.Contents("/d/in"), "one\r\ntwo\r\n") << c.name;
    EXPECT_EQ(fs.Contents("/d/out"), "old output") << c.name;
  }
}

TEST_F(ConvertCommandTest, ConvertsAndSaysSoAsOftenAsAsked) {
  Run({"/d/in", "/d/out", K::MsDos, K::Unix});
  Run({"/d/in", "/d/out", K::MsDos, K::Mac});
  EXPECT_EQ(services.messages, (QStringList{Text(messages::kConverted), Text(messages::kConverted)}));
  EXPECT_EQ(fs.Contents("/d/out"), "one\rtwo\r");
}

TEST_F(ConvertCommandTest, CancellingShowsNothingAndKeepsTheOutput) {
  services.cancel_at_update = 1;
  Run({"/d/in", "/d/out", K::MsDos, K::Unix});
  EXPECT_TRUE(services.messages.isEmpty());
  EXPECT_EQ(services.progress_updates, 1);
  EXPECT_EQ(fs.Contents("/d/out"), "old output");
}

}  // namespace
}  // namespace tarnwhistle
