#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <filesystem>

#include "engine/messages.h"
#include "fake_window_services.h"
#include "platform/posix_file_system.h"
#include "temp_dir.h"
#include "windows/main_window.h"
#include "windows/texts.h"
#include "window_fixture.h"

namespace tarnwhistle {
namespace {

using K = LineEndingKind;
using windows::Text;

class MainWindowTest : public ::testing::Test, public testing::WindowDriver {
 protected:
  QWidget& Driven() override { return window; }

  testing::TempDir dir;
  platform::PosixFileSystem files;
  testing::FakeWindowServices services;
  windows::MainWindow window{files, services};
};

struct Place {
  const char* name;
  int left, top, width, height;
  bool fits_text;  // may grow wider so that its caption is not cut
};

TEST_F(MainWindowTest, LaysOutEveryControlInTwips) {
  const Place places[] = {
      {"Drv1", 120, 120, 2895, 300, false}, {"Dir1", 120, 600, 2895, 2400, false},
      {"Fil1", 3120, 600, 2895, 2430, false}, {"Lbl1", 240, 3240, 1155, 180, true},
      {"Txt1", 120, 3480, 5895, 270, false},  {"Cmd1", 120, 3840, 1695, 375, false},
      {"Txt2", 1920, 3840, 2775, 375, false}, {"Frm1", 1920, 4440, 2295, 1215, false},
      {"Cmd2", 4440, 4680, 1455, 375, false}, {"Cmd3", 4440, 5160, 1455, 375, false},
      {"Lbl2", 240, 5400, 1215, 255, true},   {"Txt3", 120, 5760, 5895, 270, false},
      {"Line2", 120, 3120, 5880, 15, false},  {"Line1", 120, 4320, 5880, 15, false},
  };
  for (const Place& p : places) {
    QRect r = Find(p.name)->geometry();
    EXPECT_EQ(r.left() * 15, p.left) << p.name;
    EXPECT_EQ(r.top() * 15, p.top) << p.name;
    EXPECT_EQ(r.height() * 15, p.height) << p.name;
    if (p.fits_text) {
      EXPECT_GE(r.width() * 15, p.width) << p.name;
    } else {
      EXPECT_EQ(r.width() * 15, p.width) << p.name;
    }
  }
  const QRect options[] = {{240, 360, 1935, 180}, {240, 600, 1215, 180}, {240, 840, 1215, 180}};
  const K kinds[] = {K::MsDos, K::Unix, K::Mac};
  for (int i = 0; i < 3; ++i) {
    QRect r = Option(kinds[i])->geometry();
    EXPECT_EQ(QRect(r.left() * 15, r.top() * 15, options[i].width(), r.height() * 15), options[i]) << i;
    EXPECT_GE(r.width() * 15, options[i].width()) << i;
    EXPECT_EQ(Option(kinds[i])->parent(), Find("Frm1"));
  }
  EXPECT_EQ(window.centralWidget()->size(), QSize(6135 / 15, 6150 / 15));
}

TEST_F(MainWindowTest, ShowsItsCaptionsAndMenus) {
  EXPECT_EQ(window.objectName(), "Tarnwhistle");
  EXPECT_EQ(window.windowTitle(), "Tarnwhistle");
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_EQ(Find<QLabel>("Lbl1")->text(), "変換ファイル名");
  EXPECT_EQ(Find<QLabel>("Lbl2")->text(), "出力ファイル名");
  EXPECT_EQ(Find<QPushButton>("Cmd1")->text(), "ファイル種類検出");
  EXPECT_EQ(Find<QPushButton>("Cmd2")->text(), QString::fromUtf8("変\u3000\u3000換"));
  EXPECT_EQ(Find<QPushButton>("Cmd3")->text(), QString::fromUtf8("取\u3000\u3000消"));
  EXPECT_EQ(Find<QGroupBox>("Frm1")->title(), "出力ファイルの種類");
  EXPECT_EQ(Option(K::MsDos)->text(), "MS-DOS(Windows)");
  EXPECT_EQ(Option(K::Unix)->text(), "UNIX");
  EXPECT_EQ(Option(K::Mac)->text(), "MAC");

  const std::pair<const char*, const char*> menus[] = {
      {"mnuFile", "ファイル(&F)"}, {"mnuOpen", "開く(&A)"}, {"mnuEnd", "終了(&X)"},
      {"mnuHelp", "ヘルプ(&H)"}, {"mnuAbout", "バージョン情報(&A)"}};
  for (const auto& [name, caption] : menus) EXPECT_EQ(Find<QAction>(name)->text(), caption) << name;
  QList<QAction*> bar = window.menuBar()->actions();
  ASSERT_EQ(bar.size(), 2);
  EXPECT_EQ(bar[0], Find<QAction>("mnuFile"));
  EXPECT_EQ(bar[1], Find<QAction>("mnuHelp"));
  EXPECT_EQ(Find<QMenu>("mnuFile")->actions(), (QList<QAction*>{Find<QAction>("mnuOpen"), Find<QAction>("mnuEnd")}));
  EXPECT_EQ(Find<QMenu>("mnuHelp")->actions(), QList<QAction*>{Find<QAction>("mnuAbout")});

  EXPECT_EQ(Box("Txt1")->accessibleName(), "変換ファイル名");
  EXPECT_EQ(Box("Txt3")->accessibleName(), "出力ファイル名");
  EXPECT_EQ(Box("Txt2")->accessibleName(), "ファイル種類");
}

TEST_F(MainWindowTest, StartsEmptyWithBothKindsZero) {
  for (const char* box : {"Txt1", "Txt2", "Txt3"}) EXPECT_TRUE(Box(box)->text().isEmpty()) << box;
  for (K kind : {K::MsDos, K::Unix, K::Mac}) EXPECT_FALSE(Option(kind)->isChecked());
  EXPECT_EQ(window.DetectedKind(), K::None);
  EXPECT_EQ(window.TargetKind(), K::None);
}

TEST_F(MainWindowTest, TabsThroughTheControlsInOrder) {
  const char* order[] = {"Drv1", "Dir1", "Fil1", "Txt1", "Cmd1", "Txt3", "Txt2", "Cmd2", "Cmd3"};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget* next = Find(order[i])->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, Find(order[i + 1])) << order[i] << " -> " << order[i + 1];
  }
  QWidget* after_cancel = Find("Cmd3")->nextInFocusChain();
  while (after_cancel->focusPolicy() == Qt::NoFocus) after_cancel = after_cancel->nextInFocusChain();
  EXPECT_EQ(after_cancel, Option(K::MsDos));
}

// Enter and Esc press no button: none is the window's default or cancel button.
TEST_F(MainWindowTest, EnterAndEscapePressNoButton) {
  window.show();
  Box("Txt1")->setText(QString::fromStdString(dir.Write("a.txt", "a\n")));
  Box("Txt1")->setFocus();
  QTest::keyClick(Box("Txt1"), Qt::Key_Return);
  QTest::keyClick(Box("Txt1"), Qt::Key_Escape);
  EXPECT_TRUE(Box("Txt2")->text().isEmpty());
  EXPECT_TRUE(services.messages.isEmpty());
  EXPECT_TRUE(window.isVisible());
  for (const char* button : {"Cmd1", "Cmd2", "Cmd3"}) {
    EXPECT_FALSE(Find<QPushButton>(button)->isDefault()) << button;
    EXPECT_FALSE(Find<QPushButton>(button)->autoDefault()) << button;
  }
}

TEST_F(MainWindowTest, DetectShowsTheKindOfEachFile) {
  const std::pair<std::string, const char*> files[] = {
      {"abc\r\ndef", "MS-DOS"}, {"abc\ndef", "UNIX"}, {"abc\rdef", "MAC"}, {std::string("ab\0\n", 4), "BINARY"}};
  const K kinds[] = {K::MsDos, K::Unix, K::Mac, K::Binary};
  int i = 0;
  for (const auto& [bytes, name] : files) {
    Detect(dir.Write(std::to_string(i) + ".txt", bytes));
    EXPECT_EQ(Box("Txt2")->text(), name);
    EXPECT_EQ(window.DetectedKind(), kinds[i++]);
  }
  EXPECT_TRUE(services.messages.isEmpty());
}

TEST_F(MainWindowTest, DetectWithoutAVerdictKeepsTheOldOne) {
  std::string path = dir.Write("a.txt", "unix\n");
  Detect(path);
  ASSERT_EQ(window.DetectedKind(), K::Unix);
  dir.Write("a.txt", std::string(300, 'x') + "\n");  // same path, so Txt1 does not change
  Click("Cmd1");
  EXPECT_EQ(Box("Txt2")->text(), "UNIX");
  EXPECT_EQ(window.DetectedKind(), K::Unix);
}

TEST_F(MainWindowTest, DetectOnAnEmptyPathDoesNothing) {
  Click("Cmd1");
  EXPECT_TRUE(services.messages.isEmpty());
  EXPECT_EQ(window.DetectedKind(), K::None);
}

// A source that is gone, or is no regular file, is reported; the verdict already shown
// stays.
TEST_F(MainWindowTest, DetectOnAFileThatCannotBeReadSaysSoAndChangesNothing) {
  const std::string path = dir / "current.txt";
  for (bool becomes_a_folder : {false, true}) {
    services.messages.clear();
    Detect(dir.Write("current.txt", "dos\r\n"));
    ASSERT_EQ(window.DetectedKind(), K::MsDos);
    std::filesystem::remove(path);  // the same path, so Txt1 does not change
    if (becomes_a_folder) std::filesystem::create_directory(path);
    Click("Cmd1");
    EXPECT_EQ(services.messages, QStringList{Text(messages::kSourceMissing)}) << becomes_a_folder;
    EXPECT_EQ(Box("Txt2")->text(), "MS-DOS");
    EXPECT_EQ(window.DetectedKind(), K::MsDos);
    std::filesystem::remove_all(path);
  }
}

// A new source path forgets the old verdict, so that a binary or MAC file is never
// converted as if it were of the previous file's kind.
TEST_F(MainWindowTest, ChangingTheSourcePathForgetsTheDetectedKind) {
  Detect(dir.Write("dos.txt", "a\r\nb\r\n"));
  ASSERT_EQ(Box("Txt2")->text(), "MS-DOS");
  Option(K::Unix)->click();
  Box("Txt1")->setFocus();
  QTest::keyClick(Box("Txt1"), Qt::Key_End);
  QTest::keyClicks(Box("Txt1"), "x");
  EXPECT_TRUE(Box("Txt2")->text().isEmpty());
  EXPECT_EQ(window.DetectedKind(), K::None);

  std::string mac = dir.Write("mac.txt", "a\rb\r");
  Box("Txt1")->setText(QString::fromStdString(mac));
  Box("Txt3")->setText(QString::fromStdString(dir / "out.txt"));
  Click("Cmd2");
  EXPECT_EQ(services.messages, QStringList{Text(messages::kNotDetected)});
  EXPECT_EQ(testing::ReadAll(dir / "out.txt"), "<missing>");
}

TEST_F(MainWindowTest, TheTargetIsTheOptionThatIsOn) {
  Option(K::Unix)->click();
  EXPECT_EQ(window.TargetKind(), K::Unix);
  Option(K::Mac)->click();
  EXPECT_EQ(window.TargetKind(), K::Mac);
  Option(K::Mac)->click();
  EXPECT_EQ(window.TargetKind(), K::Mac);
  Option(K::MsDos)->click();
  EXPECT_EQ(window.TargetKind(), K::MsDos);
  EXPECT_FALSE(Option(K::Mac)->isChecked());
}

TEST_F(MainWindowTest, DetectPickConvert) {
  std::string source = dir.Write("dos.txt", "one\r\ntwo\r\n");
  Detect(source);
  Option(K::Unix)->click();
  Box("Txt3")->setText(QString::fromStdString(source));
  Click("Cmd2");
  Box("Txt3")->setText(QString::fromStdString(dir / "unix.txt"));
  Click("Cmd2");
  EXPECT_EQ(services.messages, (QStringList{Text(messages::kSameFile), Text(messages::kConverted)}));
  EXPECT_EQ(testing::ReadAll(dir / "unix.txt"), "one\ntwo\n");
  EXPECT_EQ(testing::ReadAll(source), "one\r\ntwo\r\n");
  EXPECT_EQ(window.DetectedKind(), K::MsDos);  // one detection serves many conversions
  EXPECT_EQ(window.TargetKind(), K::Unix);
}

TEST_F(MainWindowTest, CancelAndExitCloseTheWindow) {
  window.show();
  Click("Cmd3");
  EXPECT_FALSE(window.isVisible());
  window.show();
  Find<QAction>("mnuEnd")->trigger();
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace tarnwhistle
