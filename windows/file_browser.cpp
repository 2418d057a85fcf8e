#include "file_browser.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QScrollBar>
#include <QTreeView>

#include "engine/messages.h"
#include "platform/file_system.h"
#include "texts.h"

namespace tarnwhistle::windows {

namespace {

QString WithSlash(QString path) {
  if (!path.endsWith('/')) path += '/';
  return path;
}

bool IsInside(const QString& path, const QString& root) {
  return path == root || path.startsWith(WithSlash(root));
}

}  // namespace

// Only the name column of the file system model: the others (size, type, date) are
// hidden from sight anyway, and must not be read out by assistive tools either.
class NameColumnOnly : public QSortFilterProxyModel {
 public:
  explicit NameColumnOnly(QObject* parent) : QSortFilterProxyModel(parent) {}

 protected:
  bool filterAcceptsColumn(int column, const QModelIndex&) const override { return column == 0; }

  // Qt reports a tree's header to assistive tools even when it is hidden.
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal) return QStringLiteral("名前");
    return QSortFilterProxyModel::headerData(section, orientation, role);
  }
};

// Keeps the folder tree on one drive: only the drive's root, the folders under it and
// the folders on the way down to it pass.
class DriveFilter : public NameColumnOnly {
 public:
  explicit DriveFilter(QObject* parent) : NameColumnOnly(parent) {}

  void SetRoot(const QString& root) {
    root_ = QDir::fromNativeSeparators(root);
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    auto* model = static_cast<QFileSystemModel*>(sourceModel());
    QString path = model->filePath(model->index(row, 0, parent));
    return IsInside(path, root_) || IsInside(root_, path);
  }

 private:
  QString root_ = "/";
};

FileBrowser::FileBrowser(platform::WindowServices& services, QWidget* client)
    : QObject(client),
      services_(services),
      drive_list_(new QComboBox(client)),
      folder_tree_(new QTreeView(client)),
      file_list_(new QListView(client)),
      folders_(new QFileSystemModel(this)),
      on_drive_(new DriveFilter(this)),
      files_(new QFileSystemModel(this)),
      file_names_(new NameColumnOnly(this)) {
  drive_list_->setObjectName("Drv1");
  folder_tree_->setObjectName("Dir1");
  file_list_->setObjectName("Fil1");
  drive_list_->setAccessibleName(QStringLiteral("ドライブ"));
  // On Linux, Qt names a combo box by its current item and leaves its name to a label.
  auto* drive_label = new QLabel(QStringLiteral("ドライブ"), client);
  drive_label->setBuddy(drive_list_);
  drive_label->hide();
  folder_tree_->setAccessibleName(QStringLiteral("フォルダー"));
  file_list_->setAccessibleName(QStringLiteral("ファイル"));

  drives_ = services_.Drives();
  for (const platform::Drive& drive : drives_) {
    drive_list_->addItem(drive.label.isEmpty() ? drive.root : drive.root + " [" + drive.label + "]");
  }

  folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  folders_->setRootPath(QString());
  on_drive_->setSourceModel(folders_);
  folder_tree_->setModel(on_drive_);
  folder_tree_->setHeaderHidden(true);

  files_->setFilter(QDir::Files);
  file_names_->setSourceModel(files_);
  file_list_->setModel(file_names_);
  file_list_->setEditTriggers(QAbstractItemView::NoEditTriggers);

  connect(on_drive_, &QAbstractItemModel::rowsInserted, this, &FileBrowser::KeepCurrentFolderInView);
  connect(on_drive_, &QAbstractItemModel::layoutChanged, this, &FileBrowser::KeepCurrentFolderInView);
  auto user_took_over = [this] { scroll_pending_ = false; };
  connect(folder_tree_->verticalScrollBar(), &QScrollBar::actionTriggered, this, user_took_over);
  connect(folder_tree_, &QTreeView::expanded, this, user_took_over);
  connect(folder_tree_, &QTreeView::collapsed, this, user_took_over);
  connect(drive_list_, &QComboBox::currentIndexChanged, this, &FileBrowser::OnDriveChosen);
  connect(folder_tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, &FileBrowser::OnFolderChosen);
  connect(files_, &QFileSystemModel::directoryLoaded, this, &FileBrowser::ShowSelected);
  connect(file_list_, &QListView::clicked, this, &FileBrowser::OnFileActivated);
  connect(file_list_, &QListView::activated, this, &FileBrowser::OnFileActivated);
}

void FileBrowser::ShowDirectory(const QString& directory) {
  QString path = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
  int index = DriveIndexFor(path);
  if (index < 0) return;
  ShowDrive(index, path);
}

int FileBrowser::DriveIndexFor(const QString& directory) const {
  int best = -1;
  for (int i = 0; i < drives_.size(); ++i) {
    QString root = QDir::fromNativeSeparators(drives_[i].root);
    if (IsInside(directory, root) && (best < 0 || root.size() > drives_[best].root.size())) best = i;
  }
  return best;
}

void FileBrowser::OnDriveChosen(int index) {
  if (index < 0 || index >= drives_.size()) return;
  const platform::Drive& drive = drives_[index];
  QFileInfo root(drive.root);
  if (!drive.ready || !root.isDir() || !root.isReadable() || !QDir(drive.root).isReadable()) {
    services_.ShowMessage(drive_list_->window(), Text(messages::Text(Outcome::DriveNotReady)));
    QSignalBlocker quiet(drive_list_);
    drive_list_->setCurrentIndex(drive_);
    return;
  }
  ShowDrive(index, QDir::fromNativeSeparators(drive.root));
}

// Shows the drive at `index` and `directory` on it, which moves the file list with it.
void FileBrowser::ShowDrive(int index, const QString& directory) {
  {
    QSignalBlocker quiet(drive_list_);
    drive_list_->setCurrentIndex(index);
  }
  drive_ = index;
  QString root = QDir::fromNativeSeparators(drives_[index].root);
  on_drive_->SetRoot(root);
  QString above = QFileInfo(root).dir().absolutePath();
  folder_tree_->setRootIndex(root == "/" ? QModelIndex() : on_drive_->mapFromSource(folders_->index(above)));

  QModelIndex folder = on_drive_->mapFromSource(folders_->index(directory));
  folder_tree_->setCurrentIndex(folder);
  for (QModelIndex open = folder; open.isValid(); open = open.parent()) folder_tree_->expand(open);
  scroll_pending_ = true;
  KeepCurrentFolderInView();
  ShowFiles(directory);
}

// Folders load in the background and their rows arrive in batches, each of which can
// push the current folder out of view. Until the user takes over the tree (scrolls, opens
// or closes a folder, picks another), every batch brings it back into view.
void FileBrowser::KeepCurrentFolderInView() {
  if (!scroll_pending_ || scroll_queued_) return;
  scroll_queued_ = true;
  QTimer::singleShot(0, folder_tree_, [this] {
    scroll_queued_ = false;
    if (scroll_pending_) folder_tree_->scrollTo(folder_tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
  });
}

void FileBrowser::OnFolderChosen(const QModelIndex& current) {
  scroll_pending_ = false;
  if (!current.isValid()) return;
  ShowFiles(folders_->filePath(on_drive_->mapToSource(current)));
}

void FileBrowser::ShowFiles(const QString& directory) {
  if (directory == directory_) return;
  directory_ = directory;
  files_->setRootPath(directory);
  file_list_->setRootIndex(file_names_->mapFromSource(files_->index(directory)));
}

void FileBrowser::SelectFile(const QString& path) {
  selected_ = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  ShowSelected();
}

// The list loads in the background: the file is selected when its row is there.
void FileBrowser::ShowSelected() {
  const QModelIndex row = QFileInfo(selected_).absolutePath() == directory_
                              ? file_names_->mapFromSource(files_->index(selected_))
                              : QModelIndex();
  if (row.isValid()) {
    file_list_->setCurrentIndex(row);
    file_list_->scrollTo(row);
  } else {
    file_list_->selectionModel()->clear();
  }
}

void FileBrowser::OnFileActivated(const QModelIndex& index) {
  if (!index.isValid()) return;
  const QString name = files_->fileName(file_names_->mapToSource(index));
  emit FileChosen(PathText(platform::JoinPath(LocalPath(directory_), LocalPath(name))));
}

}  // namespace tarnwhistle::windows
