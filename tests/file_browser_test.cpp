#include <gtest/gtest.h>

#include <QTableWidget>
#include <QComboBox>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <filesystem>
#include <functional>

#include "engine/messages.h"
#include "fake_window_services.h"
#include "platform/posix_file_system.h"
#include "temp_dir.h"
#include "windows/batch_window.h"
#include "windows/file_browser.h"
#include "windows/main_window.h"
#include "windows/texts.h"
#include "window_fixture.h"

namespace tarnwhistle {
namespace {

using windows::Text;

// Runs the event loop until `done` holds, checking again whenever `model` reports
// progress; false after ten seconds without it.
bool WaitFor(QAbstractItemModel* model, const std::function<bool()>& done) {
  if (done()) return true;
  QEventLoop loop;
  auto check = [&] {
    if (done()) loop.quit();
  };
  QObject::connect(model, &QAbstractItemModel::rowsInserted, &loop, check);
  QObject::connect(model, &QAbstractItemModel::layoutChanged, &loop, check);
  QObject::connect(model, &QAbstractItemModel::dataChanged, &loop, check);
  if (auto* files = qobject_cast<QFileSystemModel*>(model)) {
    QObject::connect(files, &QFileSystemModel::directoryLoaded, &loop, check);
  }
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

class FileBrowserTest : public ::testing::Test, public testkit::WindowDriver {
 protected:
  FileBrowserTest() {
    std::filesystem::create_directories(disk + "/docs/deeper");
    std::filesystem::create_directories(other + "/folder");
    dir.Write("disk/readme.txt", "root file\n");
    dir.Write("disk/docs/a.txt", "a\r\n");
    dir.Write("disk/docs/b.txt", "b\n");
    dir.Write("other/c.txt", "c\r");
    services.drives = {{"/", "", true}, {QString::fromStdString(disk), "DISK", true},
                       {QString::fromStdString(other), "", true},
                       {QString::fromStdString(dir / "gone"), "EMPTY", true},
                       {QString::fromStdString(dir / "tray"), "", false}};
    std::filesystem::create_directories(dir / "tray");
    window = std::make_unique<windows::MainWindow>(files, services);
    window->show();
  }

  QWidget& Driven() override { return *window; }
  bool Busy() override { return window->Busy(); }
  QListView* FileList() { return Find<QListView>("Fil1"); }
  QTreeView* FolderTree() { return Find<QTreeView>("Dir1"); }
  QComboBox* DriveList() { return Find<QComboBox>("Drv1"); }
  QAbstractItemModel* FilesModel() { return FileList()->model(); }

  // The names the file list shows, once it shows `count` of them.
  QStringList FilesShown(int count) {
    WaitFor(FilesModel(), [&] { return FilesModel()->rowCount(FileList()->rootIndex()) == count; });
    QStringList names;
    for (int row = 0; row < FilesModel()->rowCount(FileList()->rootIndex()); ++row) {
      names << FilesModel()->index(row, 0, FileList()->rootIndex()).data().toString();
    }
    names.sort();
    return names;
  }
  QString FolderShown() {
    auto* filter = static_cast<QSortFilterProxyModel*>(FolderTree()->model());
    return static_cast<QFileSystemModel*>(filter->sourceModel())->filePath(filter->mapToSource(FolderTree()->currentIndex()));
  }
  // Clicks the file `name` in the file list, as a user would.
  void ClickFile(const QString& name) {
    const QModelIndexList found =
        FilesModel()->match(FilesModel()->index(0, 0, FileList()->rootIndex()), Qt::DisplayRole, name, 1, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    const QModelIndex item = found.first();
    FileList()->scrollTo(item);
    QTest::mouseClick(FileList()->viewport(), Qt::LeftButton, {}, FileList()->visualRect(item).center());
  }

  testkit::TempDir dir;
  std::string disk = dir / "disk";
  std::string other = dir / "other";
  platform::PosixFileSystem files;
  testkit::FakeWindowServices services;
  std::unique_ptr<windows::MainWindow> window;
};

TEST_F(FileBrowserTest, ADriveMovesTheFoldersWhichMoveTheFiles) {
  DriveList()->setCurrentIndex(1);
  EXPECT_EQ(FolderShown(), QString::fromStdString(disk));
  EXPECT_EQ(FilesShown(1), QStringList{"readme.txt"});

  auto* filter = static_cast<QSortFilterProxyModel*>(FolderTree()->model());
  auto* folders = static_cast<QFileSystemModel*>(filter->sourceModel());
  FolderTree()->setCurrentIndex(filter->mapFromSource(folders->index(QString::fromStdString(disk + "/docs"))));
  EXPECT_EQ(FilesShown(2), (QStringList{"a.txt", "b.txt"}));

  DriveList()->setCurrentIndex(2);
  EXPECT_EQ(FolderShown(), QString::fromStdString(other));
  EXPECT_EQ(FilesShown(1), QStringList{"c.txt"});
  EXPECT_TRUE(services.messages.isEmpty());
}

TEST_F(FileBrowserTest, ADriveThatIsNotReadyIsReportedAndTheListStays) {
  DriveList()->setCurrentIndex(1);
  for (int not_ready : {3, 4}) {
    services.messages.clear();
    DriveList()->setCurrentIndex(not_ready);
    EXPECT_EQ(services.messages, QStringList{Text(messages::Text(Outcome::DriveNotReady))});
    EXPECT_EQ(DriveList()->currentIndex(), 1);
    EXPECT_EQ(FolderShown(), QString::fromStdString(disk));
  }
}

// A click or Enter on a file fills both boxes and forgets the kind detected before.
TEST_F(FileBrowserTest, AClickOrEnterOnAFileFillsBothBoxesAndForgetsTheKind) {
  auto* txt1 = Find<QLineEdit>("Txt1");
  Detect(disk + "/docs/a.txt");
  ASSERT_EQ(Find<QLineEdit>("Txt2")->text(), "MS-DOS");

  DriveList()->setCurrentIndex(1);
  ASSERT_EQ(FilesShown(1), QStringList{"readme.txt"});
  ClickFile("readme.txt");
  const QString expected = QString::fromStdString(disk + "/readme.txt");
  EXPECT_EQ(txt1->text(), expected);
  EXPECT_EQ(Find<QLineEdit>("Txt3")->text(), expected);
  EXPECT_TRUE(Find<QLineEdit>("Txt2")->text().isEmpty());
  EXPECT_EQ(window->DetectedKind(), LineEndingKind::None);

  DriveList()->setCurrentIndex(2);
  ASSERT_EQ(FilesShown(1), QStringList{"c.txt"});
  FileList()->setFocus();
  QTest::keyClick(FileList(), Qt::Key_Home);
  QTest::keyClick(FileList(), Qt::Key_Return);
  EXPECT_EQ(Find<QLineEdit>("Txt1")->text(), QString::fromStdString(other + "/c.txt"));
}

// The file list selects the file the window works on, however it came: one in another
// folder selects none.
TEST_F(FileBrowserTest, OpenFillsBothBoxesAndMovesTheBrowser) {
  const auto selected = [this] {
    const QModelIndexList rows = FileList()->selectionModel()->selectedIndexes();
    return rows.size() == 1 ? rows.first().data().toString() : QString("<%1 selected>").arg(rows.size());
  };
  services.file_to_open = QString::fromStdString(disk + "/docs/b.txt");
  Find<QAction>("mnuOpen")->trigger();
  EXPECT_EQ(Find<QLineEdit>("Txt1")->text(), services.file_to_open);
  EXPECT_EQ(Find<QLineEdit>("Txt3")->text(), services.file_to_open);
  EXPECT_EQ(DriveList()->currentIndex(), 1);
  EXPECT_EQ(FolderShown(), QString::fromStdString(disk + "/docs"));
  EXPECT_EQ(FilesShown(2), (QStringList{"a.txt", "b.txt"}));
  EXPECT_TRUE(WaitFor(FilesModel(), [&] { return selected() == "b.txt"; })) << selected().toStdString();

  services.file_to_open.clear();  // the dialog cancelled: nothing changes
  Find<QAction>("mnuOpen")->trigger();
  EXPECT_EQ(Find<QLineEdit>("Txt1")->text(), QString::fromStdString(disk + "/docs/b.txt"));
  Detect(disk + "/docs/a.txt");
  EXPECT_EQ(selected(), "a.txt");
  Detect(other + "/c.txt");
  EXPECT_EQ(selected(), "<0 selected>");
}

// One dropped file is opened here; a folder or several files go to the batch window,
// by the bytes of their names.
TEST_F(FileBrowserTest, ADroppedFileIsOpenedAndFoldersOrSeveralFilesGoToTheBatchWindow) {
  auto drop = [this](const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths) {
      urls.append(QUrl::fromEncoded("file://" + QByteArray::fromStdString(path).toPercentEncoding("/")));
    }
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &dropped);
  };
  auto batch_kinds = [this] {
    auto* batch = window->findChild<windows::BatchWindow*>("FrmBatch");
    QStringList kinds;
    if (batch == nullptr || !QTest::qWaitFor([batch] { return !batch->Busy(); }, 10000)) return kinds;
    auto* table = batch->findChild<QTableWidget*>("grdFiles");
    for (int row = 0; row < table->rowCount(); ++row) kinds << table->item(row, 1)->text();
    return kinds;
  };

  ASSERT_NO_FATAL_FAILURE(drop({other + "/c.txt"}));
  EXPECT_EQ(Find<QLineEdit>("Txt1")->text(), QString::fromStdString(other + "/c.txt"));
  EXPECT_EQ(Find<QLineEdit>("Txt3")->text(), QString::fromStdString(other + "/c.txt"));
  EXPECT_EQ(FolderShown(), QString::fromStdString(other));
  EXPECT_EQ(window->findChild<windows::BatchWindow*>("FrmBatch"), nullptr);

  ASSERT_NO_FATAL_FAILURE(drop({disk + "/docs"}));
  EXPECT_EQ(batch_kinds(), (QStringList{"MS-DOS　ASCII（推定）", "UNIX　ASCII（推定）"}));  // a.txt and b.txt
  const std::string not_utf8 = dir.Write("bad\xff.txt", "x\ry\r");
  ASSERT_NO_FATAL_FAILURE(drop({disk + "/docs/a.txt", not_utf8}));
  EXPECT_EQ(batch_kinds(), (QStringList{"MS-DOS　ASCII（推定）", "UNIX　ASCII（推定）", "MAC　ASCII（推定）"}));  // the one batch window, a.txt only once
  EXPECT_EQ(Find<QLineEdit>("Txt1")->text(), QString::fromStdString(other + "/c.txt"));

  window->findChild<QAction*>("mnuBatch")->trigger();  // the menu shows the same window
  EXPECT_EQ(window->findChildren<windows::BatchWindow*>().size(), 1);
}

}  // namespace
}  // namespace tarnwhistle
