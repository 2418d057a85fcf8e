#include <gtest/gtest.h>

#include "engine/messages.h"
#include "fake_file_system.h"
#include "fake_window_services.h"
#include "windows/convert_command.h"
#include "windows/texts.h"

namespace tarnwhistle {
namespace {

using K = LineEndingKind;
using testing::FakeFileSystem;
using testing::FakeWindowServices;
using testing::Op;
using windows::Text;

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

// Every failure gets its own message and never "converted".
TEST_F(ConvertCommandTest, ReportsFailuresInsteadOfSuccess) {
  struct {
    const char* name;
    ConversionRequest request;
    Op fail;
    std::string_view message;
  } const cases[] = {
      {"missing source, mac to unix", {"/d/gone", "/d/out", K::Mac, K::Unix}, Op::OpenRead, messages::kSourceMissing},
      {"missing source, dos to unix", {"/d/gone", "/d/out", K::MsDos, K::Unix}, Op::OpenRead, messages::kSourceMissing},
      {"source is a folder", {"/d", "/d/out", K::MsDos, K::Unix}, Op::OpenRead, messages::kSourceMissing},
      {"output folder missing", {"/d/in", "/x/out", K::MsDos, K::Unix}, Op::OpenRead, messages::kOutputUnwritable},
      {"output is a folder", {"/d/in", "/d", K::MsDos, K::Unix}, Op::OpenRead, messages::kOutputUnwritable},
      {"read fails", {"/d/in", "/d/out", K::MsDos, K::Unix}, Op::Read, messages::kSourceUnreadable},
      {"write fails", {"/d/in", "/d/out", K::MsDos, K::Unix}, Op::Write, messages::kOutputUnwritable},
      {"rename fails", {"/d/in", "/d/out", K::MsDos, K::Unix}, Op::Rename, messages::kOutputUnwritable},
  };
  for (const auto& c : cases) {
    services.messages.clear();
    if (c.fail != Op::OpenRead) fs.FailOn(c.fail);
    Run(c.request);
    EXPECT_EQ(services.messages, QStringList{Text(c.message)}) << c.name;
    EXPECT_EQ(fs.Contents("/d/out"), "old output") << c.name;
  }
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
