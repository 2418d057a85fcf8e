// Tarnwhistle: detects the line-ending convention of a file and writes a converted copy.

#include <QApplication>
#include <QFile>
#include <cstdio>

#include "app/command_line.h"
#include "cli/language.h"
#include "engine/messages.h"
#include "platform/interrupts.h"
#include "platform/posix_file_system.h"
#include "platform/qt_window_services.h"
#include "windows/batch_window.h"
#include "windows/controls.h"
#include "windows/main_window.h"
#include "windows/texts.h"

int main(int argc, char* argv[]) {
  using namespace tarnwhistle;
  // Read before any window exists, so that --help, --version and a wrong command line
  // answer without a display.
  const app::CommandLine line = app::ParseCommandLine(argc, argv, cli::JapaneseLocale());
  if (line.action != app::CommandLine::Action::OpenWindow) {
    std::fputs(line.output.c_str(), line.action == app::CommandLine::Action::Fail ? stderr : stdout);
    return line.ExitCode();
  }
  platform::RaiseOpenFileLimit();
  // Qt is given the program's name alone: it would take options of its own from anywhere
  // on the command line, even from a file name after "--" (-platformpluginpath loads a
  // plugin). The desktop's settings reach it through the environment.
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  windows::PrepareQtJapanese();
  QApplication application(qt_argc, qt_argv);
  QApplication::setApplicationName("tarnwhistle");
  QApplication::setDesktopFileName("io.github.tarnwhistle.tarnwhistle");
  windows::InstallQtJapanese();

  // SIGINT, SIGTERM and SIGHUP (a logout) stop any conversion, which cleans up; the
  // windows close, and the program then ends by that signal. exit(), not quit(): quit()
  // asks each window to close, and a batch window holding a list would put a question to
  // no one. exit() also ends a question's loop already open.
  platform::InterruptCatcher interrupts;
  const std::stop_callback quit(interrupts.Token(), [&application] {
    QMetaObject::invokeMethod(&application, [] { QApplication::exit(0); }, Qt::QueuedConnection);
  });

  int code;
  {
    platform::PosixFileSystem files;
    platform::QtWindowServices services(windows::Text(messages::kProductName));
    windows::MainWindow window(files, services);
    // One file opens in the main window; several (line.batch then), or a folder, in the
    // batch window alone, whose closing ends the program.
    const bool batch = line.batch || (line.files.size() == 1 && windows::IsFolder(files, line.files.front()));
    if (batch) {
      QObject::connect(window.OpenBatch(line.files), &QDialog::finished, &application, &QApplication::quit);
    } else {
      if (!line.files.empty()) window.OpenFile(line.files.front());
      window.show();
    }
    code = QApplication::exec();
  }  // the windows' work, if any, has stopped and cleaned up
  interrupts.ResendIfCaught();
  return code;
}
