// The batch window driven as a person would, offscreen, on a real folder: add a folder
// with a filter, convert it into another folder, read the summary, save the report,
// stop a run, and find the choices again in the next window.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <functional>
#include <filesystem>

#include "engine/messages.h"
#include "row_name.h"
#include "temp_dir.h"
#include "windows/batch_window.h"
#include "windows/texts.h"
#include "window_fixture.h"

namespace tarnwhistle {
namespace {

using testkit::ReadAll;
using windows::Text;

class BatchWindowTest : public testkit::WindowTest<windows::BatchWindow> {
 protected:
  void Add(const std::vector<std::string>& paths) {
    window.AddPaths(paths);
    WaitIdle();
  }
  QStringList Column(int column) {
    auto* table = Find<QTableWidget>("grdFiles");
    QStringList cells;
    for (int row = 0; row < table->rowCount(); ++row) cells << table->item(row, column)->text();
    return cells;
  }
};

TEST_F(BatchWindowTest, AFolderWithAFilterIntoAnotherFolder) {
  std::filesystem::create_directories(dir / "src/sub");
  dir.Write("src/dos.txt", "a\r\nb\r\n");
  dir.Write("src/mixed.txt", "a\r\nb\nc\r");
  dir.Write("src/none.txt", "no line break");
  dir.Write("src/image.txt", std::string("\x01\x02\0\r\n", 5));
  dir.Write("src/notes.md", "a\r\n");
  dir.Write("src/sub/utf16.txt", std::string("\xFF\xFE" "a\0\r\0", 6));
  EXPECT_EQ(window.objectName(), "FrmBatch");
  EXPECT_TRUE(Find<QCheckBox>("chkSubfolders")->isChecked());
  Find<QLineEdit>("txtFilter")->setText("*.txt; *.csv");
  Type("txtAddPath", dir / "src");
  Click("cmdAdd");
  EXPECT_TRUE(Box("txtAddPath")->text().isEmpty());

  const QString s = QString::fromStdString(dir / "src");
  EXPECT_EQ(Column(0), QStringList({s + "/dos.txt", s + "/image.txt", s + "/mixed.txt", s + "/none.txt",
                                    s + "/sub/utf16.txt"}));
  EXPECT_EQ(Column(1), QStringList({"MS-DOS　ASCII（推定）", "BINARY", "MS-DOS　ASCII（推定）", "改行なし　ASCII（推定）", "MAC　UTF-16LE"}));
  EXPECT_EQ(Column(2), QStringList({"2", "1", "1", "0", "0"}));
  EXPECT_EQ(Column(5), QStringList({"", "", "混在", "", ""}));

  // Converting asks for a target first and writes nothing without one.
  Click("cmdConvert");
  EXPECT_EQ(services.messages, QStringList{"出力ファイルの種類 を選択してください"});
  Option(LineEndingKind::Unix, "optTarget")->click();
  // An output folder inside the folder added would take its own outputs, nesting on
  // every run: refused as the command line refuses it, and nothing is made.
  Type("txtOutputFolder", dir / "src/out");
  Click("cmdConvert");
  EXPECT_EQ(services.messages.value(1), Text(messages::Text(Outcome::OutputFolderInsideSource)));
  EXPECT_FALSE(std::filesystem::exists(dir / "src/out"));
  Type("txtOutputFolder", dir / "out");
  // The bar weighs each file by its size: it is not full before the last result.
  QSignalSpy steps(Find<QProgressBar>("prgBatch"), &QProgressBar::valueChanged);
  Click("cmdConvert");
  ASSERT_GE(steps.size(), 2);
  EXPECT_LT(steps.at(steps.size() - 2).first().toInt(), Find<QProgressBar>("prgBatch")->maximum());
  const QString converted = Text(messages::Text(Outcome::Ok));
  EXPECT_EQ(Column(6).at(0), converted);
  EXPECT_EQ(Column(6).at(2), converted);
  EXPECT_EQ(Find<QLabel>("lblSummary")->text(), "変換 3・変換不要 1・変換できません 1・失敗 0・コピー 2");
  EXPECT_EQ(Find<QProgressBar>("prgBatch")->value(), Find<QProgressBar>("prgBatch")->maximum());
  EXPECT_EQ(Find<QProgressBar>("prgBatch")->text(), "5 / 5 ファイル　100%");
  EXPECT_EQ(ReadAll(dir / "out/src/dos.txt"), "a\nb\n");
  EXPECT_EQ(ReadAll(dir / "out/src/sub/utf16.txt"), std::string("\xFF\xFE" "a\0\n\0", 6));
  EXPECT_EQ(ReadAll(dir / "out/src/notes.md"), "<missing>");
  EXPECT_EQ(ReadAll(dir / "src/dos.txt"), "a\r\nb\r\n");
  emit Box("txtFilter")->editingFinished();  // tabbing through the filter changes nothing
  EXPECT_EQ(Column(6).value(0), converted);

  // In place: asked once with the number of files, and a refusal leaves everything as it was.
  Find<QRadioButton>("optReplace")->click();
  services.confirm_answer = false;
  Click("cmdConvert");
  EXPECT_EQ(services.confirmations, QStringList{"元のファイル 5 個を置き換えます。よろしいですか？ [置き換える]"});
  EXPECT_EQ(ReadAll(dir / "src/dos.txt"), "a\r\nb\r\n");
  services.confirm_answer = true;
  Click("cmdConvert");
  EXPECT_EQ(ReadAll(dir / "src/dos.txt"), "a\nb\n");
}

// A change of filter or of the subfolder box applies again to the folders added; a folder
// with nothing that matches says so.
TEST_F(BatchWindowTest, TheChoiceOfFilesAppliesToWhatWasAdded) {
  dir.Write("top.txt", "a\n");
  std::filesystem::create_directories(dir / "sub");
  dir.Write("sub/deep.txt", "b\n");
  dir.Write("sub/deep.md", "c\n");
  Add({dir.path()});
  EXPECT_EQ(Column(0).size(), 3);
  Find<QCheckBox>("chkSubfolders")->click();
  WaitIdle();
  EXPECT_EQ(Column(0), QStringList{QString::fromStdString(dir / "top.txt")});
  Type("txtFilter", "*.md");
  emit Box("txtFilter")->editingFinished();
  WaitIdle();
  EXPECT_TRUE(Column(0).isEmpty());
  EXPECT_EQ(Find<QLabel>("lblSummary")->text(), "該当するファイルがありません");
}

// 中止, pressed as an assistive tool presses it, stops the run with the file in progress
// as it was; meanwhile only 中止 works, and paths given are added once the run ends.
TEST_F(BatchWindowTest, StopLeavesTheFilesAsTheyWere) {
  std::filesystem::create_directories(dir / "in");
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) dir.Write(std::string("in/") + name, "x\r\ny\r\n");
  Add({dir / "in"});
  Option(LineEndingKind::Unix, "optTarget")->click();
  Type("txtOutputFolder", dir / "out");
  {
    testkit::Gate gate(files, testkit::RacePoint::kSourceOpened);
    Find<QPushButton>("cmdConvert")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.Reached(); }, 10000));
    for (const char* idle : {"cmdConvert", "cmdAdd", "cmdRemove", "cmdAddFiles", "txtAddPath", "txtFilter"}) {
      EXPECT_FALSE(Find(idle)->isEnabled()) << idle;
    }
    window.AddPaths({dir.Write("late.txt", "z\n")});
    QAccessibleInterface* stop = QAccessible::queryAccessibleInterface(Find("cmdStop"));
    ASSERT_TRUE(stop->state().focusable && !stop->state().disabled);
    QSignalSpy pressed(Find<QPushButton>("cmdStop"), &QPushButton::clicked);
    stop->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(pressed.wait(10000));  // the press is animated, as a click a user sees
    gate.Open();
    WaitIdle();
  }
  EXPECT_FALSE(Find("cmdStop")->isEnabled());
  EXPECT_TRUE(Find("cmdConvert")->isEnabled());
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
    EXPECT_EQ(ReadAll(dir / (std::string("out/in/") + name)), "<missing>") << name;
    EXPECT_EQ(ReadAll(dir / (std::string("in/") + name)), "x\r\ny\r\n") << name;
  }
  EXPECT_EQ(Column(6), QStringList(5, ""));
  EXPECT_EQ(Column(0).last(), QString::fromStdString(dir / "late.txt"));
  // Stopped once more, the bar shows only the files finished and the summary says so,
  // with the files never reached.
  {
    testkit::Gate gate(files, testkit::RacePoint::kSourceOpened);
    Find<QPushButton>("cmdConvert")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.Reached(); }, 10000));
    Find<QPushButton>("cmdStop")->click();
    gate.Open();
    WaitIdle();
  }
  EXPECT_EQ(Find<QProgressBar>("prgBatch")->text(), "0 / 5 ファイル　0%");
  EXPECT_EQ(Find<QLabel>("lblSummary")->text(), "中止しました（変換 0・変換不要 0・変換できません 0・失敗 0・未処理 5）");
}

// The report proposes its name in the folder of the last one, always ends in .csv, and
// defuses cells a spreadsheet would take for a formula.
TEST_F(BatchWindowTest, SavesItsResultsAsCsv) {
  Add({dir.Write("a.txt", "a\r\n"), "=HYPERLINK(x)", "@x", "-x", "+x"});
  services.paths_to_answer = {QString::fromStdString(dir / "report")};
  Click("cmdSaveResults");
  EXPECT_EQ(services.opened_at, QDir::homePath() + "/一括変換の結果.csv");
  const std::string csv = ReadAll(dir / "report.csv");
  EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(csv.find(dir / "a.txt,MS-DOS　ASCII（推定）,1,0,0,,\r\n"), std::string::npos) << csv;
  for (const char* defused : {"\r\n'=HYPERLINK(x),", "\r\n'@x,", "\r\n'-x,", "\r\n'+x,"}) {
    EXPECT_NE(csv.find(defused), std::string::npos) << defused;
  }
  Click("cmdSaveResults");
  EXPECT_EQ(services.opened_at.toStdString(), dir / "一括変換の結果.csv");
}

struct Closing {
  const char* name;
  void (*close)(windows::BatchWindow& window);
};

std::vector<Closing> Closings() {
  return {{"Escape", [](windows::BatchWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
          {"cmdClose", [](windows::BatchWindow& w) { w.findChild<QPushButton*>("cmdClose")->click(); }},
          {"the title bar", [](windows::BatchWindow& w) { w.close(); }}};
}

class BatchWindowClosing : public BatchWindowTest, public ::testing::WithParamInterface<Closing> {};

// However the window is closed, a table not saved is thrown away only once the user
// says so; one just saved goes unasked.
TEST_P(BatchWindowClosing, AsksBeforeDiscardingTheTable) {
  const QString asked = "一覧（1 個のファイル）を破棄して閉じますか？ファイルそのものは変わりません。 [閉じる]";
  Add({dir.Write("a.txt", "a\n")});
  window.show();
  services.confirm_answer = false;
  GetParam().close(window);
  EXPECT_TRUE(window.isVisible());
  services.confirm_answer = true;
  GetParam().close(window);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(services.confirmations, QStringList(2, asked));

  window.show();
  services.confirmations.clear();
  services.paths_to_answer = {QString::fromStdString(dir / "r.csv")};
  Click("cmdSaveResults");
  GetParam().close(window);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(services.confirmations.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(, BatchWindowClosing, ::testing::ValuesIn(Closings()), testkit::NameRowsByName(Closings()));

// The next window offers the output folder, target, filter and subfolder choice of the
// last; an output folder that has gone since is left empty.
TEST_F(BatchWindowTest, RemembersItsChoices) {
  std::filesystem::create_directories(dir / "out");
  for (const std::string& folder : {dir / "out", dir / "gone"}) {
    {
      windows::BatchWindow first(files, services);
      first.findChild<QLineEdit*>("txtOutputFolder")->setText(QString::fromStdString(folder));
      first.findChildren<QRadioButton*>("optTarget").at(2)->click();
      first.findChild<QLineEdit*>("txtFilter")->setText("*.csv");
      first.findChild<QCheckBox*>("chkSubfolders")->setChecked(false);
    }
    windows::BatchWindow next(files, services);
    EXPECT_EQ(next.findChild<QLineEdit*>("txtOutputFolder")->text().toStdString(), folder == dir / "out" ? folder : "");
    EXPECT_TRUE(next.findChildren<QRadioButton*>("optTarget").at(2)->isChecked());
    EXPECT_EQ(next.findChild<QLineEdit*>("txtFilter")->text(), "*.csv");
    EXPECT_FALSE(next.findChild<QCheckBox*>("chkSubfolders")->isChecked());
  }
}

}  // namespace
}  // namespace tarnwhistle
