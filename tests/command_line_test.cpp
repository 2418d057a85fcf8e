#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <csignal>
#include <filesystem>
#include <map>

#include "app/command_line.h"
#include "row_name.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using Action = app::CommandLine::Action;

struct Parsed {
  std::vector<const char*> arguments;  // after the program's name
  Action action;
  std::vector<std::string> files;
  bool batch;
  const char* output_contains;
  bool japanese = false;  // the locale is Japanese
};

std::vector<Parsed> ParsedLines() {
  const Parsed cases[] = {
      {{}, Action::OpenWindow, {}, false, ""},
      {{"a.txt"}, Action::OpenWindow, {"a.txt"}, false, ""},
      {{"bad\xff.txt"}, Action::OpenWindow, {"bad\xff.txt"}, false, ""},
      {{"--", "-platformpluginpath", "x"}, Action::OpenWindow, {"-platformpluginpath", "x"}, true, ""},
      {{"a.txt", "b.txt"}, Action::OpenWindow, {"a.txt", "b.txt"}, true, ""},
      {{"--batch", "docs/"}, Action::OpenWindow, {"docs/"}, true, ""},
      {{"--batch"}, Action::OpenWindow, {}, true, ""},
      {{"-V"}, Action::PrintVersion, {}, false, "Tarnwhistle Ver 1.2\n"},
      {{"--version"}, Action::PrintVersion, {}, false, "Tarnwhistle Ver 1.2\n"},
      {{"--help"}, Action::PrintHelp, {}, false, "--batch"},
      {{"--bogus"}, Action::Fail, {}, false, "--bogus"},
      {{"-platformpluginpath", "x"}, Action::Fail, {}, false, "-platformpluginpath"},
      {{"--help"}, Action::PrintHelp, {}, false, "一括変換のウィンドウを開きます", true},
      {{"--bogus"}, Action::Fail, {}, false, "余分な引数です: --bogus\n詳しくは --help", true},
  };
  return {std::begin(cases), std::end(cases)};
}

class CommandLineParsed : public ::testing::TestWithParam<Parsed> {};

TEST_P(CommandLineParsed, ReadsTheBytesItIsGivenBeforeQtSeesThem) {
  const Parsed& c = GetParam();
  std::vector<const char*> argv = {"tarnwhistle"};
  argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
  const app::CommandLine line = app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), c.japanese);
  EXPECT_EQ(line.action, c.action);
  if (c.action == Action::OpenWindow) {
    EXPECT_EQ(line.files, c.files);
    EXPECT_EQ(line.batch, c.batch);
  }
  EXPECT_EQ(line.ExitCode(), c.action == Action::Fail ? 2 : 0);
  EXPECT_NE(line.output.find(c.output_contains), std::string::npos) << line.output;
}

INSTANTIATE_TEST_SUITE_P(, CommandLineParsed, ::testing::ValuesIn(ParsedLines()),
                         testkit::NameRows(ParsedLines(), [](const Parsed& c) {
                           std::string described = "given";
                           for (const char* argument : c.arguments) described += std::string(" ") + argument;
                           return described;
                         }));

QProcessEnvironment Environment(const std::map<QString, QString>& set, const QStringList& unset = {}) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const auto& [name, value] : set) environment.insert(name, value);
  for (const QString& name : unset) environment.remove(name);
  return environment;
}

// Without any display, where a window could not even start, the answers that need none
// still come, on the right stream and with the right code, never by an abort.
struct Answer {
  const char* option;
  int code;
  const char* out;
  const char* err;
};

std::vector<Answer> Answers() {
  const Answer cases[] = {{"--version", 0, "Tarnwhistle Ver 1.2\n", ""},
               {"--help", 0, "--version", ""},
               {"--bogus", 2, "", "--bogus"}};
  return {std::begin(cases), std::end(cases)};
}

class CommandLineAnswer : public ::testing::TestWithParam<Answer> {};

TEST_P(CommandLineAnswer, ComesWithoutADisplay) {
  const Answer& c = GetParam();
  QProcess program;
  program.setProcessEnvironment(Environment({{"QT_QPA_PLATFORM", "xcb"}}, {"DISPLAY", "WAYLAND_DISPLAY"}));
  program.start(TARNWHISTLE_APP_PATH, {c.option});
  ASSERT_TRUE(program.waitForFinished(10000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), c.code);
  EXPECT_TRUE(QString::fromUtf8(program.readAllStandardOutput()).contains(c.out));
  EXPECT_TRUE(QString::fromUtf8(program.readAllStandardError()).contains(c.err));
}

INSTANTIATE_TEST_SUITE_P(, CommandLineAnswer, ::testing::ValuesIn(Answers()),
                         testkit::NameRows(Answers(), [](const Answer& c) { return std::string(c.option); }));

// Whether `pid` has a handler of its own for `signal` (SigCgt in /proc): it is then up.
bool Catches(qint64 pid, int signal) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("SigCgt:")) return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
  }
  return false;
}

// Starts the window program, waits until it is up and `settle` milliseconds more, stops
// it by `signal` and says how it ended.
void RunUntilSignal(const QStringList& arguments, const QProcessEnvironment& environment, int signal,
                    int settle = 0) {
  QProcess program;
  program.setProcessEnvironment(environment);
  program.start(TARNWHISTLE_APP_PATH, arguments);
  ASSERT_TRUE(program.waitForStarted(10000));
  QDeadlineTimer ready(20000);
  while (!Catches(program.processId(), signal) && !ready.hasExpired()) QThread::msleep(10);
  ASSERT_TRUE(Catches(program.processId(), signal)) << signal << ": " << program.readAllStandardError().toStdString();
  QThread::msleep(settle);
  ::kill(static_cast<pid_t>(program.processId()), signal);
  ASSERT_TRUE(program.waitForFinished(20000)) << signal;
  EXPECT_EQ(program.exitStatus(), QProcess::CrashExit) << signal;
  EXPECT_EQ(program.exitCode(), signal) << program.readAllStandardError().toStdString();
}

struct Stop {
  QStringList arguments;  // "FILE" stands for a file of the test's own
  int signal;
  int settle;  // milliseconds between the program's being up and the signal
};

std::vector<Stop> Stops() {
  // The last row's batch window holds a list it would ask about before closing; a signal
  // has no one to ask.
  return {{{}, SIGTERM, 0}, {{"--batch"}, SIGHUP, 0}, {{"--batch"}, SIGINT, 0}, {{"--batch", "FILE"}, SIGTERM, 1000}};
}

class WindowSignal : public ::testing::TestWithParam<Stop> {};

// A logout or a kill closes the windows, and the program then ends by that very signal;
// started with no file, as a desktop menu starts it, or with the batch window.
TEST_P(WindowSignal, EndsTheProgramByThatSignal) {
  testkit::TempDir dir;
  QFile(QString::fromStdString(dir / "a.txt")).open(QIODevice::WriteOnly);
  QStringList arguments = GetParam().arguments;
  arguments.replaceInStrings(QStringLiteral("FILE"), QString::fromStdString(dir / "a.txt"));
  RunUntilSignal(arguments, Environment({{"QT_QPA_PLATFORM", "offscreen"}}), GetParam().signal, GetParam().settle);
}

INSTANTIATE_TEST_SUITE_P(, WindowSignal, ::testing::ValuesIn(Stops()), testkit::NameRows(Stops(), [](const Stop& s) {
                           return s.arguments.join(' ').toStdString() + " " + strsignal(s.signal);
                         }));

// File names planted by another user, such as "-platformpluginpath" and a folder with a
// plugin, are file names to the window program, never Qt's options. The plugin would
// leave a file behind if it were loaded, as the environment's own plugin path shows.
TEST(CommandLine, AFileNameIsNeverTakenForAQtOption) {
  testkit::TempDir dir;
  const QString plugins = QString::fromStdString(dir / "plugins");
  std::filesystem::create_directories(plugins.toStdString());
  std::filesystem::copy_file(TARNWHISTLE_FAKE_PLUGIN_PATH, dir / "plugins/libfake.so");
  const QString loaded = QString::fromStdString(dir / "loaded");
  // The planted plugin's platform first: Qt takes the first of the list it can load.
  const std::map<QString, QString> planted_first = {{"QT_QPA_PLATFORM", "twfake;offscreen"},
                                                {"TW_PLUGIN_MARKER", loaded}};
  RunUntilSignal({"--", "-platformpluginpath", plugins}, Environment(planted_first), SIGTERM);
  EXPECT_FALSE(QFile::exists(loaded));

  std::map<QString, QString> chosen = planted_first;
  chosen["QT_QPA_PLATFORM_PLUGIN_PATH"] = plugins;
  QProcess program;  // Qt is left to cope with a plugin that provides nothing: only its loading counts
  program.setProcessEnvironment(Environment(chosen));
  program.start(TARNWHISTLE_APP_PATH);
  EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(loaded); }, 20000)) << "the plugin planted is one Qt would load";
  program.kill();
  program.waitForFinished(20000);
}

}  // namespace
}  // namespace tarnwhistle
