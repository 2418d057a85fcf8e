#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <functional>

#include "engine/messages.h"
#include "fake_file_system.h"
#include "temp_dir.h"
#include "windows/file_browser.h"
#include "windows/main_window.h"
#include "windows/progress_window.h"
#include "windows/texts.h"
#include "row_name.h"
#include "window_fixture.h"

namespace tarnwhistle {
namespace {

using K = LineEndingKind;
using testkit::FakeFileSystem;
using testkit::Op;
using testkit::PrintTo;
using windows::Text;

using MainWindowTest = testkit::WindowTest<windows::MainWindow>;
using MainWindowInMemory = testkit::WindowTest<windows::MainWindow, FakeFileSystem>;

QString Reasoned(Outcome outcome, int error) { return Text(messages::Describe({outcome, platform::FromErrno(error)})); }

// At the default font the form is as tabled; a caption may only grow to be whole.
struct Place {
  const char* name;
  QRect twips;
  bool fits_text;
};

const Place kPlaces[] = {
      {"Drv1", {120, 120, 2895, 300}, false}, {"Dir1", {120, 600, 2895, 2400}, false},
      {"Fil1", {3120, 600, 2895, 2430}, false}, {"Lbl1", {240, 3240, 1155, 180}, true},
      {"Txt1", {120, 3480, 5895, 270}, false},  {"Cmd1", {120, 3840, 1695, 375}, false},
      {"Txt2", {1920, 3840, 2775, 375}, false}, {"Frm1", {1920, 4440, 2295, 1215}, false},
      {"Cmd2", {4440, 4680, 1455, 375}, false}, {"Cmd3", {4440, 5160, 1455, 375}, false},
      {"Lbl2", {240, 5400, 1215, 255}, true},   {"Txt3", {120, 5760, 5895, 270}, false},
      {"Line2", {120, 3120, 5880, 15}, false},  {"Line1", {120, 4320, 5880, 15}, false},
  };

QRect Pixels(const QRect& twips) { return QRect(twips.topLeft() / 15, twips.size() / 15); }

class MainWindowPlace : public MainWindowTest, public ::testing::WithParamInterface<Place> {};

TEST_P(MainWindowPlace, IsAsTabledAtTheDefaultFont) {
  const Place& p = GetParam();
  const QRect r = Find(p.name)->geometry();
  if (p.fits_text) {
    EXPECT_TRUE(r.contains(Pixels(p.twips)));
  } else {
    EXPECT_EQ(r, Pixels(p.twips));
  }
}

INSTANTIATE_TEST_SUITE_P(, MainWindowPlace, ::testing::ValuesIn(kPlaces), testkit::NameRowsByName(kPlaces));

TEST_F(MainWindowTest, LaysOutTheOptionsAndTheFormAsTabledAtTheDefaultFont) {
  const std::pair<K, QRect> options[] = {
      {K::MsDos, {240, 360, 1935, 180}}, {K::Unix, {240, 600, 1215, 180}}, {K::Mac, {240, 840, 1215, 180}}};
  for (const auto& [kind, twips] : options) {
    EXPECT_TRUE(Option(kind)->geometry().contains(Pixels(twips))) << static_cast<int>(kind);
    EXPECT_EQ(Option(kind)->parent(), Find("Frm1"));
  }
  EXPECT_EQ(window.centralWidget()->size(), QSize(6135 / 15, 6150 / 15));
}

TEST_F(MainWindowTest, StartsEmptyWithItsCaptionsAndMenus) {
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
  for (const char* box : {"Txt1", "Txt2", "Txt3"}) EXPECT_TRUE(Box(box)->text().isEmpty()) << box;
  for (K kind : {K::MsDos, K::Unix, K::Mac}) EXPECT_FALSE(Option(kind)->isChecked());
  EXPECT_EQ(window.DetectedKind(), K::None);
  EXPECT_EQ(window.TargetKind(), K::None);

  const std::pair<const char*, const char*> menus[] = {
      {"mnuFile", "ファイル(&F)"}, {"mnuOpen", "開く(&A)"}, {"mnuBatch", "一括変換(&B)..."}, {"mnuEnd", "終了(&X)"},
      {"mnuHelp", "ヘルプ(&H)"}, {"mnuManual", "マニュアル(&M)"}, {"mnuAbout", "バージョン情報(&A)"}};
  for (const auto& [name, caption] : menus) EXPECT_EQ(Find<QAction>(name)->text(), caption) << name;
  EXPECT_EQ(Find<QAction>("mnuOpen")->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(window.menuBar()->actions(), (QList<QAction*>{Find<QAction>("mnuFile"), Find<QAction>("mnuHelp")}));
  EXPECT_EQ(Find<QMenu>("mnuFile")->actions(),
            (QList<QAction*>{Find<QAction>("mnuOpen"), Find<QAction>("mnuBatch"), Find<QAction>("mnuEnd")}));
  EXPECT_EQ(Find<QMenu>("mnuHelp")->actions(), (QList<QAction*>{Find<QAction>("mnuManual"), Find<QAction>("mnuAbout")}));
  // マニュアル gives the desktop the README beside the sources the program runs from, and
  // says what to do where nothing opens it.
  Find<QAction>("mnuManual")->trigger();
  services.url_opens = false;
  Find<QAction>("mnuManual")->trigger();
  EXPECT_EQ(services.opened_urls,
            QStringList(2, QUrl::fromLocalFile(QFileInfo(QStringLiteral(TW_SOURCE_DIR "/README.md")).canonicalFilePath())
                               .toString()));
  EXPECT_EQ(services.messages, QStringList{"マニュアルを開けません（端末で man tarnwhistle を実行してください）"});
}

TEST_F(MainWindowTest, TabsThroughTheControlsInOrder) {
  const char* order[] = {"Drv1", "Dir1", "Fil1", "Txt1", "Cmd1", "Txt3", "Txt2", "Cmd2", "Cmd3"};
  auto next = [](QWidget* from) {
    QWidget* to = from->nextInFocusChain();
    while (to->focusPolicy() == Qt::NoFocus) to = to->nextInFocusChain();
    return to;
  };
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    EXPECT_EQ(next(Find(order[i])), Find(order[i + 1])) << order[i] << " -> " << order[i + 1];
  }
  EXPECT_EQ(next(Find("Cmd3")), Option(K::MsDos));
}

// Enter presses the focused button, as on Windows; in a text box it presses none, and
// Esc never does.
TEST_F(MainWindowTest, EnterPressesTheFocusedButtonOnly) {
  window.show();
  Type("Txt1", dir.Write("a.txt", "a\n"));
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(Box("Txt1"), key);
  QTest::keyClick(Find("Cmd1"), Qt::Key_Escape);
  WaitIdle();
  EXPECT_TRUE(Box("Txt2")->text().isEmpty());
  EXPECT_TRUE(window.isVisible());

  QTest::keyClick(Find("Cmd1"), Qt::Key_Return);
  WaitIdle();
  EXPECT_EQ(Box("Txt2")->text(), "UNIX");
  QTest::keyClick(Find("Cmd3"), Qt::Key_Enter);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(services.messages.isEmpty());
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
  EXPECT_EQ(services.messages, QStringList(4, Text(messages::Text(Outcome::Ok))));
}

// A file detected as MS-DOS is changed, or made to fail, and detected again under the
// same path: the new verdict, or the old one kept with the reason said, and the status
// line with the whole file's line ends (or why they could not be counted).
struct Redetection {
  const char* name;
  std::function<void(FakeFileSystem&, const std::string&)> change;
  const char* kind;
  QStringList shown;
  QString status;
};

std::vector<Redetection> Redetections() {
  std::string many;
  for (int i = 0; i < 1200; ++i) many += "line\r\n";
  const auto rewrite = [](const std::string& bytes) {
    return [bytes](FakeFileSystem& fs, const std::string& path) { fs.Rewrite(path, bytes); };
  };
  const auto fail = [](Op op, int nth, int error) {
    return [=](FakeFileSystem& fs, const std::string&) { fs.FailOn(op, nth, platform::FromErrno(error)); };
  };
  const Redetection cases[] = {
      {"LF", rewrite("a\nb\n"), "UNIX", {}, "CR LF: 0 行　LF: 2 行　CR: 0 行　ASCII（推定）"},
      {"CR", rewrite("a\rb\r"), "MAC", {}, "CR LF: 0 行　LF: 0 行　CR: 2 行　ASCII（推定）"},
      {"a NUL", rewrite(std::string("ab\0\n", 4)), "BINARY", {}, "CR LF: 0 行　LF: 1 行　CR: 0 行"},
      {"mixed", rewrite(many + "a\nb\nc\n"), "MS-DOS", {}, "CR LF: 1,200 行　LF: 3 行　CR: 0 行（混在）　ASCII（推定）"},
      {"UTF-16LE", rewrite(std::string("\xFF\xFE" "a\0\r\0\n\0", 8)), "MS-DOS", {},
       "CR LF: 1 行　LF: 0 行　CR: 0 行　UTF-16LE"},
      {"no line break", rewrite("abc"), "MS-DOS", {Text(messages::Text(Outcome::NoLineBreak))}, ""},
      {"unreadable", fail(Op::OpenRead, 1, EACCES), "MS-DOS", {Reasoned(Outcome::SourceReadFailed, EACCES)}, ""},
      {"a read fails while counting",
       [](FakeFileSystem& fs, const std::string& path) {
         fs.Rewrite(path, "a\r\n" + std::string(70000, 'b') + "\r\n");
         fs.FailOn(Op::Read, 64 * 1024 / 4 + 2, platform::FromErrno(EIO));  // past the first 64 KiB
       },
       "MS-DOS", {}, Reasoned(Outcome::SourceReadFailed, EIO)},
      {"gone", [](FakeFileSystem& fs, const std::string& path) { fs.RemovePath(path); }, "MS-DOS",
       {Text(messages::Text(Outcome::SourceMissing))}, ""},
      {"a folder",
       [](FakeFileSystem& fs, const std::string& path) {
         fs.RemovePath(path);
         fs.AddDirectory(path);
       },
       "MS-DOS", {Reasoned(Outcome::SourceReadFailed, EISDIR)}, ""},
  };
  return {std::begin(cases), std::end(cases)};
}

class MainWindowRedetection : public MainWindowInMemory, public ::testing::WithParamInterface<Redetection> {};

TEST_P(MainWindowRedetection, ShowsItsVerdictOrSaysWhyNot) {
  const Redetection& c = GetParam();
  files.AddDirectory("/d");
  files.SetReadLimit(4);  // the verdict comes from the first 64 KiB, the counts from more
  const std::string path = "/d/file";
  files.AddFile(path, "dos\r\n");
  ASSERT_NO_FATAL_FAILURE(Detect(path));
  ASSERT_EQ(Box("Txt2")->text(), "MS-DOS");
  services.messages.clear();
  c.change(files, path);
  Click("Cmd1");
  EXPECT_EQ(Box("Txt2")->text(), c.kind);
  EXPECT_EQ(Text(DisplayName(window.DetectedKind())), c.kind);
  EXPECT_EQ(services.messages, c.shown);
  auto* line = Find<QLabel>("Lbl3");
  EXPECT_TRUE(QTest::qWaitFor([&] { return line->text() == c.status; }, 10000)) << line->text().toStdString();
}

INSTANTIATE_TEST_SUITE_P(, MainWindowRedetection, ::testing::ValuesIn(Redetections()),
                         testkit::NameRowsByName(Redetections()));

// A new source path forgets the old verdict, so that a binary or MAC file is never
// converted as if it were of the previous file's kind, and the output named for the old
// file, so that the next conversion does not replace it: an output copied from the
// source follows it.
TEST_F(MainWindowTest, ChangingTheSourcePathForgetsTheDetectedKind) {
  window.OpenFile(dir.Write("dos.txt", "a\r\nb\r\n"));
  Click("Cmd1");
  ASSERT_EQ(Box("Txt2")->text(), "MS-DOS");
  Option(K::Unix)->click();
  Box("Txt1")->setFocus();
  QTest::keyClick(Box("Txt1"), Qt::Key_End);
  QTest::keyClicks(Box("Txt1"), "x");
  EXPECT_EQ(Box("Txt3")->text().toStdString(), dir / "dos.txtx");
  Type("Txt3", dir / "dos-unix.txt");
  QTest::keyClicks(Box("Txt1"), "y");
  EXPECT_TRUE(Box("Txt3")->text().isEmpty());
  EXPECT_TRUE(Box("Txt2")->text().isEmpty());
  EXPECT_TRUE(Find<QLabel>("Lbl3")->text().isEmpty());
  EXPECT_EQ(window.DetectedKind(), K::None);

  Type("Txt1", dir.Write("mac.txt", "a\rb\r"));
  Type("Txt3", dir / "out.txt");
  Click("Cmd2");
  EXPECT_EQ(services.messages, QStringList{Text(messages::Text(Outcome::NotDetected))});
  EXPECT_EQ(testkit::ReadAll(dir / "out.txt"), "<missing>");
}

// Each way a Convert of a source detected as MS-DOS ends, told in one message, with the
// output (holding "old") as the engine left it: the window's part is the message.
struct Ending {
  const char* name;
  std::function<void(FakeFileSystem&)> change;  // after detection
  QStringList shown;
  std::optional<std::string> output;
  bool replace = true;  // the answer to the question the output's existence asks
  int questions = 1;    // how many times it is asked
};

std::vector<Ending> Endings() {
  const Ending cases[] = {
      {"converted, twice from one detection", nullptr, {Text(messages::Text(Outcome::Ok)), Text(messages::Text(Outcome::Ok))},
       "a\nb\n", true, 2},
      {"キャンセル at the question", nullptr, {}, "old", false, 2},
      {"a refusal", [](FakeFileSystem& fs) { fs.AddHardLink("/d/in", "/d/out"); }, {Text(messages::Text(Outcome::SameFile))},
       "a\r\nb\r\n", true, 0},
      {"changed since detection", [](FakeFileSystem& fs) { fs.Rewrite("/d/in", "a\rb\r"); },
       {Text(messages::Text(Outcome::ChangedSinceDetected))}, "old"},
      {"a full disk", [](FakeFileSystem& fs) { fs.FailOn(Op::Create, 1, platform::FromErrno(ENOSPC)); },
       {Reasoned(Outcome::OutputCannotWrite, ENOSPC)}, "old"},
  };
  return {std::begin(cases), std::end(cases)};
}

class MainWindowEnding : public MainWindowInMemory, public ::testing::WithParamInterface<Ending> {};

TEST_P(MainWindowEnding, IsSaidInOneMessage) {
  const Ending& c = GetParam();
  // The output exists, so each conversion asks first (but for the source itself).
  const QString asked = "/d/out は既にあります。置き換えますか？ [置き換える]";
  services.confirm_answer = c.replace;
  files.AddDirectories("/d");
  files.AddFile("/d/in", "a\r\nb\r\n");
  files.AddFile("/d/out", "old");
  ASSERT_NO_FATAL_FAILURE(Detect("/d/in"));
  services.messages.clear();
  if (c.change) c.change(files);
  ASSERT_NO_FATAL_FAILURE(Convert(K::Unix, "/d/out"));
  if (!c.change) Click("Cmd2");
  EXPECT_EQ(services.confirmations, QStringList(c.questions, asked));
  EXPECT_EQ(services.messages, c.shown);
  EXPECT_EQ(files.Contents("/d/out"), c.output);
  EXPECT_EQ(window.DetectedKind(), K::MsDos);
}

INSTANTIATE_TEST_SUITE_P(, MainWindowEnding, ::testing::ValuesIn(Endings()), testkit::NameRowsByName(Endings()));

// Long work shows a progress window while it runs, with 書き込み中… while the new file
// is flushed; 中止 stops a conversion, which says so and leaves no output, and Escape
// stops a detection, which keeps what was shown. The window stays live meanwhile: the
// test itself runs on its thread while the work is held.
TEST_F(MainWindowTest, LongWorkShowsItsProgressAndStopsOnRequest) {
  ASSERT_NO_FATAL_FAILURE(Detect(dir.Write("dos.txt", "a\r\nb\r\n")));
  const auto progress = [this] { return window.findChild<windows::ProgressWindow*>("FrmProgress"); };
  const auto shows = [&](testkit::Gate& gate, const char* button, const char* label) {
    Find<QPushButton>(button)->click();
    return QTest::qWaitFor([&] {
      return gate.Reached() && progress() != nullptr && progress()->isVisible() &&
             progress()->findChild<QLabel*>()->text() == QString::fromUtf8(label);
    }, 10000);
  };
  Choose(K::Unix);
  Type("Txt3", dir / "unix.txt");
  {
    testkit::Gate gate(files, testkit::RacePoint::kBeforePublish);
    EXPECT_TRUE(shows(gate, "Cmd2", "書き込み中…"));
    gate.Open();
    WaitIdle();
  }
  EXPECT_EQ(testkit::ReadAll(dir / "unix.txt"), "a\nb\n");

  Type("Txt3", dir / "stopped.txt");
  {
    testkit::Gate gate(files, testkit::RacePoint::kSourceOpened);
    EXPECT_TRUE(shows(gate, "Cmd2", "変換しています…"));
    progress()->findChild<QPushButton*>("cmdStop")->click();
    gate.Open();
    WaitIdle();
  }
  EXPECT_EQ(testkit::ReadAll(dir / "stopped.txt"), "<missing>");
  EXPECT_EQ(services.messages, (QStringList{Text(messages::Text(Outcome::Ok)), Text(messages::Text(Outcome::Cancelled))}));

  Type("Txt1", dir.Write("long.txt", std::string(100000, 'x')));  // no line break anywhere
  {
    testkit::Gate gate(files, testkit::RacePoint::kSourceOpened);
    EXPECT_TRUE(shows(gate, "Cmd1", "ファイル種類を検出しています…"));
    QTest::keyClick(progress(), Qt::Key_Escape);
    gate.Open();
    WaitIdle();
  }
  EXPECT_EQ(services.messages.size(), 2);
  EXPECT_EQ(progress(), nullptr);
}

// The browser's folder and the Open dialog's survive the window; a folder that has gone
// since gives way quietly; the target options always start unchosen.
TEST_F(MainWindowTest, RemembersItsFoldersButNeverTheTarget) {
  const auto folder_shown = [](windows::MainWindow& shown) {
    return shown.findChild<windows::FileBrowser*>()->Directory().toStdString();
  };
  std::filesystem::create_directories(dir / "browsed");
  std::filesystem::create_directories(dir / "opened");
  {
    windows::MainWindow first(files, services);
    services.file_to_open = QString::fromStdString(dir.Write("opened/a.txt", "a\n"));
    first.findChild<QAction*>("mnuOpen")->trigger();
    first.OpenFile(dir.Write("browsed/b.txt", "b\n"));
    first.findChildren<QRadioButton*>("Opt1").at(2)->click();
  }
  services.file_to_open.clear();  // the dialog is cancelled from now on
  {
    windows::MainWindow second(files, services);
    second.findChild<QAction*>("mnuOpen")->trigger();
    EXPECT_EQ(folder_shown(second), dir / "browsed");
    EXPECT_EQ(services.opened_at.toStdString(), dir / "opened");
    EXPECT_EQ(second.TargetKind(), K::None);
  }
  std::filesystem::remove_all(dir / "browsed");
  std::filesystem::remove_all(dir / "opened");
  windows::MainWindow third(files, services);
  third.findChild<QAction*>("mnuOpen")->trigger();
  EXPECT_EQ(QString::fromStdString(folder_shown(third)), QDir::currentPath());
  EXPECT_EQ(services.opened_at.toStdString(), folder_shown(third));
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
