#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTranslator>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include "platform/qt_window_services.h"
#include "windows/texts.h"

namespace tarnwhistle {
namespace {

TEST(QtWindowServices, AMessageBoxHasOkOnlyNoIconAndTheProductsTitle) {
  platform::QtWindowServices services("Tarnwhistle");
  bool inspected = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Tarnwhistle");
    EXPECT_EQ(box->text(), "変換しました");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    inspected = true;
    box->button(QMessageBox::Ok)->click();
  });
  services.ShowMessage(nullptr, "変換しました");  // returns only once the box is closed
  EXPECT_TRUE(inspected);
}

TEST(QtWindowServices, ProgressStaysHiddenForShortTasks) {
  platform::QtWindowServices services("Tarnwhistle");
  auto progress = services.StartProgress(nullptr, "変換しています…");
  EXPECT_TRUE(progress->Update(10, 100));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(QtWindowServices, ProgressOfALongTaskIsModalAndCanBeCancelled) {
  platform::QtWindowServices services("Tarnwhistle", /*progress_after_ms=*/0);
  auto progress = services.StartProgress(nullptr, "変換しています…");
  EXPECT_TRUE(progress->Update(10, 100));
  auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->windowTitle(), "Tarnwhistle");
  EXPECT_EQ(dialog->labelText(), "変換しています…");
  ASSERT_NE(dialog->findChild<QProgressBar*>(), nullptr);
  EXPECT_EQ(dialog->findChild<QProgressBar*>()->accessibleName(), "進行状況");
  dialog->cancel();
  EXPECT_FALSE(progress->Update(20, 100));
  progress.reset();
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// With Qt's Japanese texts installed, as the application does at start, the Open dialog
// reads in Japanese and offers text files first.
TEST(QtWindowServices, TheOpenDialogIsJapaneseAndOffersTextFilesFirst) {
  QTranslator* japanese = windows::InstallQtJapanese();
  ASSERT_NE(japanese, nullptr) << "Debian's qt6-translations-l10n provides qtbase_ja";
  platform::QtWindowServices services("Tarnwhistle");
  bool inspected = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "開く");
    EXPECT_EQ(dialog->nameFilters(),
              (QStringList{"テキスト ファイル (*.txt *.csv *.log *.md *.ini *.conf *.xml *.json *.html *.c *.h *.cpp *.py *.sh)",
                           "すべてのファイル (*)"}));
    auto* look_in = dialog->findChild<QLabel*>("lookInLabel");
    ASSERT_NE(look_in, nullptr);
    EXPECT_NE(look_in->text(), "Look in:");
    EXPECT_NE(dialog->labelText(QFileDialog::Reject), "Cancel");
    inspected = true;
    dialog->reject();
  });
  EXPECT_EQ(services.AskFileToOpen(nullptr, QDir::tempPath()), "");
  EXPECT_TRUE(inspected);
  QCoreApplication::removeTranslator(japanese);
  delete japanese;
}

TEST(QtWindowServices, TheDrivesStartWithTheRoot) {
  platform::QtWindowServices services("Tarnwhistle");
  QList<platform::Drive> drives = services.Drives();
  ASSERT_FALSE(drives.isEmpty());
  EXPECT_EQ(drives.first().root, "/");
  for (const platform::Drive& drive : drives) {
    for (const char* pseudo : {"/proc", "/sys", "/dev", "/run/user"}) {
      EXPECT_FALSE(drive.root.startsWith(pseudo)) << drive.root.toStdString();
    }
  }
}

}  // namespace
}  // namespace tarnwhistle
