#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "platform/window_services.h"

class QComboBox;
class QFileSystemModel;
class QListView;
class QModelIndex;
class QTreeView;
class QWidget;

namespace tarnwhistle::windows {

class DriveFilter;

// The path of the file `name` in `directory`, with the platform's separator:
// ("/", "readme.txt") gives "/readme.txt", ("/home/user/docs", "a.txt") gives
// "/home/user/docs/a.txt".
QString ComposePath(const QString& directory, const QString& name);

// The three-stage browser of the main window's upper half: the drive list Drv1 moves
// the directory list Dir1, whose current folder moves the file list Fil1; a click (or
// Enter) on a file in Fil1 reports its full path. The lists load in the background.
class FileBrowser : public QObject {
  Q_OBJECT

 public:
  FileBrowser(platform::WindowServices& services, QWidget* client);

  QComboBox* Drv1() const { return drv1_; }
  QTreeView* Dir1() const { return dir1_; }
  QListView* Fil1() const { return fil1_; }

  // Shows `directory`: its drive in Drv1, the folder itself in Dir1, its files in Fil1.
  void ShowDirectory(const QString& directory);
  // The folder Fil1 lists.
  QString Directory() const { return directory_; }

 signals:
  void FileClicked(const QString& path);

 private:
  void Drv1Change(int index);
  void Dir1Change(const QModelIndex& current);
  void KeepCurrentFolderInView();
  void Fil1Click(const QModelIndex& index);

  int DriveIndexFor(const QString& directory) const;
  void ShowDrive(int index, const QString& directory);
  void ShowFiles(const QString& directory);

  platform::WindowServices& services_;
  QList<platform::Drive> drives_;
  int drive_ = -1;  // the index Drv1 showed before the latest change
  QString directory_;
  bool scroll_pending_ = false;  // Dir1 keeps its current folder in view while it loads
  bool scroll_queued_ = false;

  QComboBox* drv1_;
  QTreeView* dir1_;
  QListView* fil1_;
  QFileSystemModel* folders_;
  DriveFilter* on_drive_;
  QFileSystemModel* files_;
};

}  // namespace tarnwhistle::windows
