#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTranslator>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "platform/qt_window_services.h"
#include "windows/texts.h"

namespace tarnwhistle {
namespace {

// Each dialog inspected while it is open, then closed: a message box has OK only, no
// icon and the product's title; with Qt's Japanese texts installed, as the application
// does at start, the Open dialog reads in Japanese and offers text files first.
TEST(QtWindowServices, DialogsReadAsTheProductsOwn) {
  QTranslator* japanese = windows::InstallQtJapanese();
  ASSERT_NE(japanese, nullptr) << "Debian's qt6-translations-l10n provides qtbase_ja";
  platform::QtWindowServices services("Tarnwhistle");
  const auto message_box = [](QWidget* shown) {
    auto* box = qobject_cast<QMessageBox*>(shown);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Tarnwhistle");
    EXPECT_EQ(box->text(), "変換しました");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
  };
  const auto open_dialog = [](QWidget* shown) {
    auto* dialog = qobject_cast<QFileDialog*>(shown);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "開く");
    EXPECT_EQ(dialog->nameFilters(),
              (QStringList{"テキスト ファイル (*.txt *.csv *.log *.md *.ini *.conf *.xml *.json *.html *.c *.h *.cpp *.py *.sh)",
                           "すべてのファイル (*)"}));
    auto* look_in = dialog->findChild<QLabel*>("lookInLabel");
    ASSERT_NE(look_in, nullptr);
    EXPECT_NE(look_in->text(), "Look in:");
    EXPECT_NE(dialog->labelText(QFileDialog::Reject), "Cancel");
  };
  const struct {
    const char* name;
    std::function<void(QWidget*)> inspect;
    std::function<void()> show;  // returns only once the dialog is closed
  } dialogs[] = {
      {"message box", message_box, [&] { services.ShowMessage(nullptr, "変換しました"); }},
      {"open dialog", open_dialog, [&] { EXPECT_EQ(services.AskFileToOpen(nullptr, QDir::tempPath()), ""); }},
  };
  for (const auto& d : dialogs) {
    bool inspected = false;
    QTimer::singleShot(0, [&] {
      QWidget* shown = QApplication::activeModalWidget();
      d.inspect(shown);
      inspected = true;
      if (auto* dialog = qobject_cast<QDialog*>(shown)) dialog->reject();
    });
    d.show();
    EXPECT_TRUE(inspected) << d.name;
  }
  QCoreApplication::removeTranslator(japanese);
  delete japanese;
}

// A short task shows no progress; a long one shows it modal, and it can be cancelled.
TEST(QtWindowServices, ProgressShowsOnlyForALongTaskAndCanBeCancelled) {
  platform::QtWindowServices short_task("Tarnwhistle");
  auto brief = short_task.StartProgress(nullptr, "変換しています…");
  EXPECT_TRUE(brief->Update(10, 100));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  brief.reset();

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
