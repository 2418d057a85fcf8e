#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QFileSystemModel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <functional>

#include "platform/qt_window_services.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

// Each dialog inspected while it is open, then closed: a message box has OK only, no
// icon and the product's title; a question names what it will do and defaults to
// キャンセル; the Open dialog reads in Japanese, dates included, and offers the common
// text files first.
TEST(QtWindowServices, DialogsReadAsTheProductsOwn) {
  testkit::TempDir dir;
  dir.Write("a.txt", "a\n");
  platform::QtWindowServices services("Tarnwhistle");
  const auto message_box = [](QWidget* shown) {
    auto* box = qobject_cast<QMessageBox*>(shown);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Tarnwhistle");
    // It wraps only between words (a WORD JOINER holds the rest), and reads as written.
    EXPECT_EQ(box->text(), QString::fromUtf8("も\u2060う\u2060一\u2060度 フ\u2060ァ\u2060イ\u2060ル"));
    EXPECT_EQ(box->findChild<QLabel*>("qt_msgbox_label")->accessibleName(), "もう一度 ファイル");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
  };
  const auto question = [](QWidget* shown) {
    auto* box = qobject_cast<QMessageBox*>(shown);
    ASSERT_NE(box, nullptr);
    QStringList buttons;
    for (QAbstractButton* button : box->buttons()) buttons << button->text();
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"キャンセル", "置き換える"}));
    EXPECT_EQ(box->defaultButton()->text(), "キャンセル");
  };
  const auto open_dialog = [&dir](QWidget* shown) {
    auto* dialog = qobject_cast<QFileDialog*>(shown);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "開く");
    const QStringList filters = dialog->nameFilters();
    ASSERT_EQ(filters.size(), 2);
    EXPECT_EQ(filters[0], QString::fromUtf8(platform::kTextFilesFilter));
    EXPECT_EQ(filters[1], "すべてのファイル (*)");
    EXPECT_NE(dialog->findChild<QLabel*>("lookInLabel")->text(), "Look in:");
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const QModelIndex file = model->index(QString::fromStdString(dir / "a.txt"), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->data(file).toString().isEmpty(); }, 10000));
    EXPECT_TRUE(QRegularExpression("^\\d{4}/\\d{2}/\\d{2} ").match(model->data(file).toString()).hasMatch())
        << model->data(file).toString().toStdString();
    EXPECT_NE(model->headerData(3, Qt::Horizontal).toString(), "Date Modified");
  };
  const struct {
    const char* name;
    std::function<void(QWidget*)> inspect;
    std::function<void()> show;  // returns only once the dialog is closed
  } dialogs[] = {
      {"message box", message_box, [&] { services.ShowMessage(nullptr, "もう一度 ファイル"); }},
      {"question", question, [&] { EXPECT_FALSE(services.Confirm(nullptr, "?", "置き換える")); }},
      {"open dialog", open_dialog, [&] { EXPECT_EQ(services.AskFileToOpen(nullptr, QString::fromStdString(dir.path())), ""); }},
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
