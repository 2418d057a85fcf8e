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
class NameColumnOnly;

// The three-stage browser of the main window's upper half: the drive list (Drv1) moves
// the folder tree (Dir1), whose current folder moves the file list (Fil1); a click (or
// Enter) on a file in the list reports its full path. The lists load in the background.
//
// It only shows the disk: Qt's QFileSystemModel lists the folders and QStorageInfo the
// drives, on their own, not through the FileSystem. A path it reports is only text;
// the window reads and writes the file it names through the FileSystem like any other.
class FileBrowser : public QObject {
  Q_OBJECT

 public:
  FileBrowser(platform::WindowServices& services, QWidget* client);

  QComboBox* drive_list() const { return drive_list_; }
  QTreeView* folder_tree() const { return folder_tree_; }
  QListView* file_list() const { return file_list_; }

  // Shows `directory`: its drive in the drive list, the folder itself in the tree, its
  // files in the file list.
  void ShowDirectory(const QString& directory);
  // The folder the file list shows.
  QString Directory() const { return directory_; }
  // Selects the file at `path` in the file list, once listed, as the file the window
  // works on; where the list shows another folder, it selects none.
  void SelectFile(const QString& path);

 signals:
  void FileChosen(const QString& path);

 private:
  void OnDriveChosen(int index);
  void OnFolderChosen(const QModelIndex& current);
  void KeepCurrentFolderInView();
  void OnFileActivated(const QModelIndex& index);
  void ShowSelected();

  int DriveIndexFor(const QString& directory) const;
  void ShowDrive(int index, const QString& directory);
  void ShowFiles(const QString& directory);

  platform::WindowServices& services_;
  QList<platform::Drive> drives_;
  int drive_ = -1;  // the drive shown before the latest change
  QString directory_;
  QString selected_;  // the file SelectFile() was given
  bool scroll_pending_ = false;  // the folder tree keeps its current folder in view while it loads
  bool scroll_queued_ = false;

  QComboBox* drive_list_;        // Drv1
  QTreeView* folder_tree_;       // Dir1
  QListView* file_list_;         // Fil1
  QFileSystemModel* folders_;
  DriveFilter* on_drive_;
  QFileSystemModel* files_;
  NameColumnOnly* file_names_;
};

}  // namespace tarnwhistle::windows
