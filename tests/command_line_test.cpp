#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <csignal>

#include "app/command_line.h"

namespace tarnwhistle {
namespace {

using Action = app::CommandLine::Action;

TEST(CommandLine, AFileOpensTheWindowOnItAndHelpAndVersionOpenNone) {
  const struct {
    QStringList arguments;
    Action action;
    QString file;
    QString output_contains;
  } cases[] = {
      {{"tarnwhistle"}, Action::OpenWindow, "", ""},
      {{"tarnwhistle", "a.txt"}, Action::OpenWindow, "a.txt", ""},
      {{"tarnwhistle", "--", "-odd.txt"}, Action::OpenWindow, "-odd.txt", ""},
      {{"tarnwhistle", "--version"}, Action::PrintVersion, "", "Tarnwhistle Ver 1.2\n"},
      {{"tarnwhistle", "--unknown", "-v"}, Action::PrintVersion, "", "Tarnwhistle Ver 1.2\n"},
      {{"tarnwhistle", "--help"}, Action::PrintHelp, "", "--batch"},
      {{"tarnwhistle", "--unknown"}, Action::Fail, "", "unknown"},
      {{"tarnwhistle", "a.txt", "b.txt"}, Action::Fail, "", "One file"},
  };
  for (const auto& c : cases) {
    const app::CommandLine line = app::ParseCommandLine(c.arguments);
    const std::string context = c.arguments.join(' ').toStdString();
    EXPECT_EQ(line.action, c.action) << context;
    EXPECT_EQ(line.file, c.file) << context;
    EXPECT_TRUE(line.output.contains(c.output_contains, Qt::CaseInsensitive)) << context << ": " << line.output.toStdString();
  }
  const app::CommandLine batch = app::ParseCommandLine({"tarnwhistle", "--batch", "a.txt", "docs/"});
  EXPECT_EQ(batch.action, Action::OpenWindow);
  EXPECT_TRUE(batch.batch);
  EXPECT_EQ(batch.paths, (QStringList{"a.txt", "docs/"}));
}

// Without any display, where a window could not even start, --version and --help still
// answer.
TEST(CommandLine, HelpAndVersionNeedNoDisplay) {
  for (const auto& [option, expected] : {std::pair{"--version", "Tarnwhistle Ver 1.2\n"}, {"--help", "--version"}}) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    program.setProcessEnvironment(environment);
    program.start(TARNWHISTLE_APP_PATH, {option});
    ASSERT_TRUE(program.waitForFinished(10000)) << option;
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << option;
    EXPECT_EQ(program.exitCode(), 0) << option;
    EXPECT_TRUE(QString::fromUtf8(program.readAllStandardOutput()).contains(expected)) << option;
  }
}

// Whether `pid` has a handler of its own for `signal` (SigCgt in /proc).
bool Catches(qint64 pid, int signal) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("SigCgt:")) return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
  }
  return false;
}

// A logout or a kill closes the windows, and the program then ends by that very signal.
TEST(CommandLine, TheWindowEndsByTheSignalThatStopsIt) {
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    QProcess program;
    program.start(TARNWHISTLE_APP_PATH, {"--batch"});
    ASSERT_TRUE(program.waitForStarted(10000));
    QDeadlineTimer ready(10000);
    while (!Catches(program.processId(), signal) && !ready.hasExpired()) QThread::msleep(10);
    ASSERT_TRUE(Catches(program.processId(), signal)) << signal;
    ::kill(static_cast<pid_t>(program.processId()), signal);
    ASSERT_TRUE(program.waitForFinished(10000)) << signal;
    EXPECT_EQ(program.exitStatus(), QProcess::CrashExit) << signal;
    EXPECT_EQ(program.exitCode(), signal);
  }
}

}  // namespace
}  // namespace tarnwhistle
