#pragma once

// The few things the windows ask of the desktop beyond their own widgets: message
// boxes, the standard file dialogs, the drives. Behind an interface so that tests read
// what would have been shown instead of blocking on a modal box. For the window's
// thread only. The dialogs only show the disk: the windows read and write the paths
// they give through the FileSystem, like any other.

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

namespace tarnwhistle::platform {

// A place the file browser offers as a drive: a root of the file system, or a mounted
// disk or removable medium.
struct Drive {
  QString root;   // in the platform's own notation: "/", "/media/usb", "C:\\"
  QString label;  // the volume's name, if it has one
  bool ready = true;
};

class WindowServices {
 public:
  virtual ~WindowServices() = default;

  // A modal message box with an OK button only, no icon, and the application's title.
  // Returns when the user has closed it.
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;

  // The standard dialog for picking an existing file, opened at `directory`. Returns
  // the chosen path, or "" when the user cancelled.
  virtual QString AskFileToOpen(QWidget* parent, const QString& directory) = 0;

  // A modal question with a button saying what will be done (`accept`, such as
  // 置き換える) and キャンセル, which is the default; true for `accept`.
  virtual bool Confirm(QWidget* parent, const QString& text, const QString& accept) = 0;

  // The standard dialogs for several existing files, one existing folder, or a CSV file
  // to save, opened at `directory` (for a file to save, the path proposed). Returns the
  // chosen paths, none when the user cancelled.
  enum class PathRequest { OpenFiles, Folder, SaveFile };
  virtual QStringList AskPaths(QWidget* parent, PathRequest request, const QString& directory) = 0;

  // Opens `url` (a file, or man:page(1)) with the desktop's handler; false when none
  // took it.
  virtual bool OpenUrl(const QString& url) = 0;

  // The drives a user would pick from: the root and the mounted disks and media, not
  // the system's own pseudo file systems.
  virtual QList<Drive> Drives() = 0;
};

}  // namespace tarnwhistle::platform
