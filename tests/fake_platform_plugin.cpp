// A platform plugin in name only, for the command-line tests: it claims a platform of
// its own, "twfake", and leaves the file TW_PLUGIN_MARKER names once it is loaded. It
// provides no platform, so Qt goes on to the next one QT_QPA_PLATFORM names.

#include <fcntl.h>
#include <unistd.h>

#include <QObject>
#include <QtPlugin>
#include <cstdlib>

__attribute__((constructor)) static void Loaded() {
  if (const char* marker = std::getenv("TW_PLUGIN_MARKER")) ::close(::open(marker, O_CREAT | O_WRONLY, 0600));
}

class FakePlatform : public QObject {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE
                    "fake_platform_plugin.json")
};

#include "fake_platform_plugin.moc"
