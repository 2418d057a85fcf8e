#pragma once

// The few things the windows ask of the desktop beyond their own widgets: message
// boxes, progress for long work, the standard file dialog. Behind an interface so that
// tests read what would have been shown instead of blocking on a modal box.

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class QWidget;

namespace tarnwhistle::platform {

// Progress of one long task, shown only if the task lasts long enough to need it.
class ProgressReport {
 public:
  virtual ~ProgressReport() = default;
  // Reports `done` out of `total`. Returns false once the user has asked to cancel.
  virtual bool Update(std::uint64_t done, std::uint64_t total) = 0;
};

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

  // Starts reporting the progress of a task described by `label`. The report appears,
  // modal and with a cancel button, only once the task has run for about half a second.
  virtual std::unique_ptr<ProgressReport> StartProgress(QWidget* parent, const QString& label) = 0;

  // The standard dialog for picking an existing file, opened at `directory`. Returns
  // the chosen path, or "" when the user cancelled.
  virtual QString AskFileToOpen(QWidget* parent, const QString& directory) = 0;

  // A modal question with OK and Cancel; true for OK.
  virtual bool Confirm(QWidget* parent, const QString& text) = 0;

  // The standard dialogs for several existing files, one existing folder, or a file to
  // save, opened at `directory`. Returns the chosen paths, none when the user cancelled.
  enum class PathRequest { OpenFiles, Folder, SaveFile };
  virtual QStringList AskPaths(QWidget* parent, PathRequest request, const QString& directory) = 0;

  // The drives a user would pick from: the root and the mounted disks and media, not
  // the system's own pseudo file systems.
  virtual QList<Drive> Drives() = 0;
};

}  // namespace tarnwhistle::platform
