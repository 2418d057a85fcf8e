// Tarnwhistle: detects the line-ending convention of a file and writes a converted copy.

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "app/command_line.h"
#include "engine/messages.h"
#include "platform/interrupts.h"
#include "platform/posix_file_system.h"
#include "platform/qt_window_services.h"
#include "windows/main_window.h"
#include "windows/texts.h"

namespace {

int Print(const tarnwhistle::app::CommandLine& line) {
  const bool failed = line.action == tarnwhistle::app::CommandLine::Action::Fail;
  std::fputs(line.output.toLocal8Bit().constData(), failed ? stderr : stdout);
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace tarnwhistle;
  using Action = app::CommandLine::Action;
  {
    // --help and --version answer before any window exists, so they need no display.
    int probe_argc = argc;
    const QCoreApplication probe(probe_argc, argv);
    const app::CommandLine line = app::ParseCommandLine(QCoreApplication::arguments());
    if (line.action == Action::PrintHelp || line.action == Action::PrintVersion) return Print(line);
  }
  QApplication application(argc, argv);  // takes Qt's own options (-platform...) off the list
  QApplication::setApplicationName("tarnwhistle");
  QApplication::setDesktopFileName("tarnwhistle");
  const app::CommandLine line = app::ParseCommandLine(QApplication::arguments());
  if (line.action != Action::OpenWindow) return Print(line);
  windows::InstallQtJapanese();

  // SIGINT, SIGTERM and SIGHUP (a logout) stop any conversion, which cleans up; the
  // windows close, and the program then ends by that signal.
  platform::InterruptCatcher interrupts;
  QSocketNotifier interrupted(interrupts.WakeDescriptor(), QSocketNotifier::Read);
  QObject::connect(&interrupted, &QSocketNotifier::activated, &application, &QCoreApplication::quit);

  int code;
  {
    platform::PosixFileSystem files;
    platform::QtWindowServices services(windows::Text(messages::kProductName));
    windows::MainWindow window(files, services);
    if (!line.file.isEmpty()) window.OpenFile(line.file);
    window.show();
    if (line.batch) window.OpenBatch(line.paths);
    code = QApplication::exec();
  }  // the batch window's worker, if any, has stopped and cleaned up
  interrupts.ResendIfCaught();
  return code;
}
