#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
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
#include <fstream>
#include <functional>

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

using MainWindowTest = testkit::WindowOnDisk<windows::MainWindow>;

// At the default font the form is as tabled; a caption may only grow to be whole.
TEST_F(MainWindowTest, LaysOutEveryControlAsTabledAtTheDefaultFont) {
  const struct {
    const char* name;
    QRect twips;
    bool fits_text;
  } places[] = {
      {"Drv1", {120, 120, 2895, 300}, false}, {"Dir1", {120, 600, 2895, 2400}, false},
      {"Fil1", {3120, 600, 2895, 2430}, false}, {"Lbl1", {240, 3240, 1155, 180}, true},
      {"Txt1", {120, 3480, 5895, 270}, false},  {"Cmd1", {120, 3840, 1695, 375}, false},
      {"Txt2", {1920, 3840, 2775, 375}, false}, {"Frm1", {1920, 4440, 2295, 1215}, false},
      {"Cmd2", {4440, 4680, 1455, 375}, false}, {"Cmd3", {4440, 5160, 1455, 375}, false},
      {"Lbl2", {240, 5400, 1215, 255}, true},   {"Txt3", {120, 5760, 5895, 270}, false},
      {"Line2", {120, 3120, 5880, 15}, false},  {"Line1", {120, 4320, 5880, 15}, false},
  };
  auto pixels = [](const QRect& twips) { return QRect(twips.topLeft() / 15, twips.size() / 15); };
  for (const auto& p : places) {
    const QRect r = Find(p.name)->geometry();
    if (p.fits_text) {
      EXPECT_TRUE(r.contains(pixels(p.twips))) << p.name;
    } else {
      EXPECT_EQ(r, pixels(p.twips)) << p.name;
    }
  }
  const std::pair<K, QRect> options[] = {
      {K::MsDos, {240, 360, 1935, 180}}, {K::Unix, {240, 600, 1215, 180}}, {K::Mac, {240, 840, 1215, 180}}};
  for (const auto& [kind, twips] : options) {
    EXPECT_TRUE(Option(kind)->geometry().contains(pixels(twips))) << static_cast<int>(kind);
    EXPECT_EQ(Option(kind)->parent(), Find("Frm1"));
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
      {"mnuFile", "ファイル(&F)"}, {"mnuOpen", "開く(&A)"}, {"mnuBatch", "一括変換(&B)..."}, {"mnuEnd", "終了(&X)"},
      {"mnuHelp", "ヘルプ(&H)"}, {"mnuAbout", "バージョン情報(&A)"}};
  for (const auto& [name, caption] : menus) EXPECT_EQ(Find<QAction>(name)->text(), caption) << name;
  EXPECT_EQ(Find<QAction>("mnuOpen")->shortcut(), QKeySequence("Ctrl+O"));
  QList<QAction*> bar = window.menuBar()->actions();
  ASSERT_EQ(bar.size(), 2);
  EXPECT_EQ(bar[0], Find<QAction>("mnuFile"));
  EXPECT_EQ(bar[1], Find<QAction>("mnuHelp"));
  EXPECT_EQ(Find<QMenu>("mnuFile")->actions(), (QList<QAction*>{Find<QAction>("mnuOpen"), Find<QAction>("mnuBatch"), Find<QAction>("mnuEnd")}));
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

// Enter presses the focused button, as on Windows; in a text box it presses none, and
// Esc never does.
TEST_F(MainWindowTest, EnterPressesTheFocusedButtonOnly) {
  window.show();
  Type("Txt1", dir.Write("a.txt", "a\n"));
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(Box("Txt1"), key);
  EXPECT_TRUE(Box("Txt2")->text().isEmpty());
  QTest::keyClick(Find("Cmd1"), Qt::Key_Escape);
  EXPECT_TRUE(Box("Txt2")->text().isEmpty());
  EXPECT_TRUE(window.isVisible());

  QTest::keyClick(Find("Cmd1"), Qt::Key_Return);
  EXPECT_EQ(Box("Txt2")->text(), "UNIX");
  QTest::keyClick(Find("Cmd3"), Qt::Key_Enter);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(services.messages.isEmpty());
}

// A screen reader names each control by its role, reads only the file names of the
// browser, and speaks the buttons without the spaces that spread their captions.
TEST_F(MainWindowTest, AssistiveToolsReadEveryControlByName) {
  window.show();
  const std::pair<const char*, const char*> names[] = {
      {"Drv1", "ドライブ"}, {"Dir1", "フォルダー"}, {"Fil1", "ファイル"},       {"Txt1", "変換ファイル名"},
      {"Cmd1", "ファイル種類検出"}, {"Txt2", "ファイル種類"}, {"Cmd2", "変換"}, {"Cmd3", "取消"},
      {"Txt3", "出力ファイル名"}};
  for (const auto& [name, spoken] : names) {
    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(Find(name));
    ASSERT_NE(control, nullptr) << name;
    QStringList heard = {control->text(QAccessible::Name)};
    if (control->role() == QAccessible::ComboBox) {  // on Linux its name is its value; its label names it
      for (const auto& [label, relation] : control->relations(QAccessible::Label)) heard.append(label->text(QAccessible::Name));
    }
    EXPECT_TRUE(heard.contains(QString::fromUtf8(spoken))) << name << ": " << heard.join(", ").toStdString();
  }
  dir.Write("a.txt", "a\n");
  window.OpenFile(QString::fromStdString(dir / "a.txt"));
  for (const char* view : {"Dir1", "Fil1"}) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(Find(view));
    ASSERT_NE(list->tableInterface(), nullptr) << view;
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->tableInterface()->rowCount() > 0; })) << view;
    EXPECT_EQ(list->tableInterface()->columnCount(), 1) << view;
    for (int i = 0; i < list->childCount(); ++i) {
      QAccessibleInterface* cell = list->child(i);
      if (cell != nullptr && cell->role() == QAccessible::ColumnHeader) {
        EXPECT_EQ(cell->text(QAccessible::Name), "名前") << view;
      }
    }
  }
}

// However an option becomes checked, by a click, the keyboard or an assistive tool's
// toggle action, it is the target Convert converts to.
TEST_F(MainWindowTest, TheCheckedOptionIsTheTargetHoweverItWasChecked) {
  window.show();
  ASSERT_NO_FATAL_FAILURE(Detect(dir.Write("dos.txt", "one\r\ntwo\r\n")));
  Type("Txt3", dir / "out.txt");
  auto toggle = [](QWidget* option) {
    QAccessibleActionInterface* actions = QAccessible::queryAccessibleInterface(option)->actionInterface();
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
  };
  auto click = [](QWidget* option) { QTest::mouseClick(option, Qt::LeftButton); };
  auto key = [](QWidget* option) { QTest::keyClick(option, Qt::Key_Space); };
  const struct {
    K kind;
    std::function<void(QWidget*)> check;
    const char* converted;
  } ways[] = {{K::Mac, toggle, "one\rtwo\r"}, {K::Unix, toggle, "one\ntwo\n"}, {K::Mac, click, "one\rtwo\r"},
              {K::Unix, key, "one\ntwo\n"}};
  for (const auto& way : ways) {
    ASSERT_NO_FATAL_FAILURE(way.check(Option(way.kind)));
    ASSERT_TRUE(Option(way.kind)->isChecked());
    EXPECT_EQ(window.TargetKind(), way.kind);
    Click("Cmd2");
    EXPECT_EQ(testkit::ReadAll(dir / "out.txt"), way.converted);
  }
  EXPECT_EQ(services.messages.size(), 4);
  EXPECT_EQ(services.messages.count(Text(messages::kConverted)), 4);
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

// Detecting again without a new verdict keeps the one shown: a source that now gives
// none says nothing, one that is gone or no regular file is reported, and an empty path
// does nothing at all.
TEST_F(MainWindowTest, ADetectionWithoutANewVerdictKeepsTheOneShown) {
  Click("Cmd1");
  EXPECT_TRUE(services.messages.isEmpty());
  EXPECT_EQ(window.DetectedKind(), K::None);

  const std::string path = dir / "current.txt";
  const struct {
    const char* name;
    void (*change)(const std::string& path);  // the same path, so Txt1 does not change
    QStringList shown;
  } cases[] = {
      {"no verdict", [](const std::string& p) { std::ofstream(p) << std::string(300, 'x') << "\n"; }, {}},
      {"gone", [](const std::string& p) { std::filesystem::remove(p); }, {Text(messages::kSourceMissing)}},
      {"a folder",
       [](const std::string& p) {
         std::filesystem::remove(p);
         std::filesystem::create_directory(p);
       },
       {Text(messages::kSourceMissing)}},
  };
  for (const auto& c : cases) {
    ASSERT_NO_FATAL_FAILURE(Detect(dir.Write("current.txt", "dos\r\n")));
    ASSERT_EQ(window.DetectedKind(), K::MsDos);
    c.change(path);
    Click("Cmd1");
    EXPECT_EQ(services.messages, c.shown) << c.name;
    EXPECT_EQ(Box("Txt2")->text(), "MS-DOS") << c.name;
    EXPECT_EQ(window.DetectedKind(), K::MsDos) << c.name;
    std::filesystem::remove_all(path);
    services.messages.clear();
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
  EXPECT_EQ(testkit::ReadAll(dir / "out.txt"), "<missing>");
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
  EXPECT_EQ(testkit::ReadAll(dir / "unix.txt"), "one\ntwo\n");
  EXPECT_EQ(testkit::ReadAll(source), "one\r\ntwo\r\n");
  EXPECT_EQ(window.DetectedKind(), K::MsDos);  // one detection serves many conversions
  EXPECT_EQ(window.TargetKind(), K::Unix);
}

// After a detection with a verdict the status line shows the whole file's line ends,
// counted in the background; a new source path clears it. A count of a large file
// neither holds up the window nor outlives a change of the source path: its result never
// shows, and the window closes without waiting for it.
TEST_F(MainWindowTest, TheStatusLineCountsTheWholeFileInTheBackground) {
  std::string mixed;
  for (int i = 0; i < 1200; ++i) mixed += "line\r\n";
  const std::pair<std::string, const char*> counted[] = {
      {mixed + "a\nb\nc\n", "CR LF: 1,200 行　LF: 3 行　CR: 0 行（混在）"},
      {"a\nb\n", "CR LF: 0 行　LF: 2 行　CR: 0 行"}};
  auto* line = Find<QLabel>("Lbl3");
  ASSERT_NE(line, nullptr);
  EXPECT_FALSE(line->accessibleName().isEmpty());
  for (const auto& [bytes, shown] : counted) {
    ASSERT_NO_FATAL_FAILURE(Detect(dir.Write("f.txt", bytes)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return line->text() == QString::fromUtf8(shown); })) << line->text().toStdString();
    Type("Txt1", dir / "other.txt");
    EXPECT_TRUE(line->text().isEmpty());
  }

  const std::string big = dir.Write("big.txt", "a\r\nb\r\n");
  std::filesystem::resize_file(big, std::uintmax_t{16} << 30);  // sparse: 16 GiB of zeros after the text
  QElapsedTimer timer;
  timer.start();
  ASSERT_NO_FATAL_FAILURE(Detect(big));
  EXPECT_LT(timer.elapsed(), 1000);
  Type("Txt1", big + " ");
  QTest::qWait(200);
  EXPECT_TRUE(line->text().isEmpty());
  timer.restart();
  {
    windows::MainWindow counting(files, services);
    counting.OpenFile(QString::fromStdString(big));
    counting.findChild<QPushButton*>("Cmd1")->click();
  }  // closes while counting
  EXPECT_LT(timer.elapsed(), 3000);
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
