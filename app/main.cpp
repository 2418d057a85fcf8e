// Tarnwhistle: detects the line-ending convention of a file and writes a converted copy.

#include <QApplication>

#include "engine/messages.h"
#include "platform/posix_file_system.h"
#include "platform/qt_window_services.h"
#include "windows/main_window.h"
#include "windows/texts.h"

int main(int argc, char* argv[]) {
  using namespace tarnwhistle;
  QApplication app(argc, argv);
  QApplication::setApplicationName("tarnwhistle");
  QApplication::setDesktopFileName("tarnwhistle");

  platform::PosixFileSystem files;
  platform::QtWindowServices services(windows::Text(messages::kProductName));
  windows::MainWindow window(files, services);
  window.show();
  return QApplication::exec();
}
