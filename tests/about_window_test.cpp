#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "fake_window_services.h"
#include "platform/posix_file_system.h"
#include "row_name.h"
#include "temp_dir.h"
#include "windows/about_window.h"
#include "windows/main_window.h"

namespace tarnwhistle {
namespace {

using testkit::PrintTo;

TEST(AboutWindow, ShowsNameVersionAndNoticeAsLaidOut) {
  windows::AboutWindow about;
  EXPECT_EQ(about.objectName(), "FrmAbout");
  EXPECT_EQ(about.windowTitle(), "バージョン情報");
  EXPECT_EQ(about.size() * 15, QSize(4680, 1575));
  EXPECT_EQ(about.findChild<QLabel*>("Lbl1")->text(), "Tarnwhistle Ver 1.2");
  EXPECT_FALSE(about.findChild<QLabel*>("Lbl2")->text().isEmpty());
  EXPECT_EQ(about.findChild<QLabel*>("Lbl3")->text(), "MIT ライセンス");
  EXPECT_EQ(about.findChild<QLabel*>("Lbl4")->text(), "マニュアル: man tarnwhistle");
  EXPECT_EQ(about.findChild<QPushButton*>("Cmd1")->text(), "OK");
}

struct Place {
  const char* name;
  QRect twips;
  bool fits_text;
};

const Place kPlaces[] = {{"Lbl1", {240, 240, 1575, 180}, true},
                      {"Lbl2", {360, 720, 2460, 180}, true},
                      {"Lbl3", {360, 960, 2700, 180}, true},
                      {"Lbl4", {360, 1200, 2700, 180}, true},
                      {"Cmd1", {3240, 1080, 1215, 375}, false}};

class AboutWindowPlace : public ::testing::TestWithParam<Place> {};

TEST_P(AboutWindowPlace, IsAsTabled) {
  const Place& p = GetParam();
  windows::AboutWindow about;
  QWidget* control = about.findChild<QWidget*>(p.name);
  ASSERT_NE(control, nullptr);
  const QRect tabled(p.twips.topLeft() / 15, p.twips.size() / 15);
  if (p.fits_text) {
    EXPECT_TRUE(control->geometry().contains(tabled));
  } else {
    EXPECT_EQ(control->geometry(), tabled);
  }
}

INSTANTIATE_TEST_SUITE_P(, AboutWindowPlace, ::testing::ValuesIn(kPlaces), testkit::NameRowsByName(kPlaces));

// Clicks `button` the way the window system delivers a click: through its top-level
// window, where a modal window elsewhere can block it.
void SystemClick(QWidget* button) {
  QWidget* top = button->window();
  QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, button->mapTo(top, button->rect().center()));
}

// The About window opens modally from the Help menu, blocks the main window while it is
// open, and is a fresh window each time.
TEST(AboutWindow, OpensModallyAFreshWindowEachTime) {
  testkit::TempDir dir;
  platform::PosixFileSystem files;
  testkit::FakeWindowServices services;
  windows::MainWindow window(files, services);
  window.show();
  auto* txt1 = window.findChild<QLineEdit*>("Txt1");
  txt1->setText(QString::fromStdString(dir.Write("a.txt", "a\n")));

  QList<QWidget*> seen;
  for (int opening = 0; opening < 2; ++opening) {
    QTimer::singleShot(0, [&] {
      QWidget* about = QApplication::activeModalWidget();
      ASSERT_NE(about, nullptr);
      seen.append(about);
      EXPECT_EQ(about->objectName(), "FrmAbout");
      EXPECT_FALSE(about->windowIcon().isNull());
      // A click on the main window's detect button does nothing while About is open.
      SystemClick(window.findChild<QPushButton*>("Cmd1"));
      EXPECT_FALSE(window.Busy());
      QTest::mouseClick(about->findChild<QPushButton*>("Cmd1"), Qt::LeftButton);
    });
    window.findChild<QAction*>("mnuAbout")->trigger();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(window.findChildren<windows::AboutWindow*>().isEmpty());
  }
  ASSERT_EQ(seen.size(), 2);

  // Once it is closed the main window answers again.
  SystemClick(window.findChild<QPushButton*>("Cmd1"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.findChild<QLineEdit*>("Txt2")->text() == "UNIX"; }, 10000));
}

TEST(AboutWindow, TheCloseControlClosesItLikeOk) {
  windows::AboutWindow about;
  QTimer::singleShot(0, &about, [&about] { about.close(); });
  about.exec();
  EXPECT_FALSE(about.isVisible());
}

}  // namespace
}  // namespace tarnwhistle
