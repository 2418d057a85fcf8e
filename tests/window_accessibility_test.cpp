// What a screen reader gets from both windows, through Qt's accessibility interface as
// AT-SPI relays it (tests/bridge reads the real bridge): every control's name, what the target options mean, the current text
// of the counts line, of the summary and of each result, the detected kind read-only and
// the separator lines passed over.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QTableWidget>
#include <QTest>
#include <memory>

#include "row_name.h"
#include "temp_dir.h"
#include "windows/batch_window.h"
#include "windows/main_window.h"
#include "window_fixture.h"

namespace tarnwhistle {
namespace {

enum Window { kMain, kBatch };

struct Heard {
  Window window;
  const char* control;  // objectName, and which of several: "Opt1#2" is the third
  QAccessible::Role role;
  const char* name;
  const char* description = nullptr;  // not checked when null
  bool read_only = false;             // for text boxes
  bool shown = true;
};

const Heard kHeard[] = {
    {kMain, "Drv1", QAccessible::ComboBox, "ドライブ"},
    {kMain, "Dir1", QAccessible::Tree, "フォルダー"},
    {kMain, "Fil1", QAccessible::List, "ファイル"},
    {kMain, "Txt1", QAccessible::EditableText, "変換ファイル名"},
    {kMain, "Cmd1", QAccessible::Button, "ファイル種類検出"},
    {kMain, "Txt2", QAccessible::EditableText, "ファイル種類", nullptr, true},
    {kMain, "Line1", QAccessible::Separator, "", nullptr, false, false},
    {kMain, "Line2", QAccessible::Separator, "", nullptr, false, false},
    {kMain, "Opt1#0", QAccessible::RadioButton, "MS-DOS(Windows)", "改行を CR LF にします（Windows）"},
    {kMain, "Opt1#1", QAccessible::RadioButton, "UNIX", "改行を LF にします（Linux、macOS）"},
    {kMain, "Opt1#2", QAccessible::RadioButton, "MAC", "改行を CR にします（Mac OS 9 以前）"},
    {kMain, "Cmd2", QAccessible::Button, "変換"},
    {kMain, "Cmd3", QAccessible::Button, "取消"},
    {kMain, "Txt3", QAccessible::EditableText, "出力ファイル名"},
    {kMain, "Lbl3", QAccessible::StaticText, "改行の数", "CR LF: 1 行　LF: 0 行　CR: 0 行　ASCII（推定）"},
    {kBatch, "grdFiles", QAccessible::Table, "変換するファイル"},
    {kBatch, "cmdAddFiles", QAccessible::Button, "ファイルを追加"},
    {kBatch, "cmdAddFolder", QAccessible::Button, "フォルダーを追加"},
    {kBatch, "txtAddPath", QAccessible::EditableText, "追加するパス"},
    {kBatch, "txtFilter", QAccessible::EditableText, "対象ファイル"},
    {kBatch, "optTarget#2", QAccessible::RadioButton, "MAC", "改行を CR にします（Mac OS 9 以前）"},
    {kBatch, "txtOutputFolder", QAccessible::EditableText, "出力フォルダー"},
    {kBatch, "prgBatch", QAccessible::ProgressBar, "進行状況"},
    {kBatch, "lblSummary", QAccessible::StaticText, "結果の集計", "変換 1・変換不要 0・変換できません 0・失敗 0"},
    {kBatch, "cmdConvert", QAccessible::Button, "変換"},
    {kBatch, "cmdStop", QAccessible::Button, "中止"},
    {kBatch, "cmdSaveResults", QAccessible::Button, "結果を保存"},
};

// A combo box is named by its label on Linux (its own name is its current item).
QStringList NamesOf(QAccessibleInterface* control) {
  QStringList names = {control->text(QAccessible::Name)};
  for (const auto& [label, relation] : control->relations(QAccessible::Label)) names << label->text(QAccessible::Name);
  return names;
}

void ExpectHeard(QWidget& window, const Heard& heard) {
  const QStringList parts = QString::fromLatin1(heard.control).split('#');
  const QList<QWidget*> found = window.findChildren<QWidget*>(parts.first());
  const int which = parts.size() > 1 ? parts[1].toInt() : 0;
  ASSERT_GT(found.size(), which) << heard.control;
  QAccessibleInterface* control = QAccessible::queryAccessibleInterface(found[which]);
  ASSERT_NE(control, nullptr) << heard.control;
  EXPECT_EQ(control->role(), heard.role) << heard.control;
  EXPECT_TRUE(NamesOf(control).contains(QString::fromUtf8(heard.name))) << heard.control << ": "
                                                                      << NamesOf(control).join(", ").toStdString();
  if (heard.description != nullptr) {
    EXPECT_EQ(control->text(QAccessible::Description), QString::fromUtf8(heard.description)) << heard.control;
  }
  if (heard.role == QAccessible::EditableText) {
    EXPECT_EQ(control->state().readOnly, heard.read_only) << heard.control;
    EXPECT_NE(control->textInterface(), nullptr) << heard.control;  // the bridge reads text only through it
  }
  EXPECT_EQ(!control->state().invisible, heard.shown) << heard.control;
}

// The cells of a table or list, by row, as their text is read.
QString Cell(QWidget* view, int row, int column) {
  QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(view)->tableInterface();
  QAccessibleInterface* cell = table == nullptr ? nullptr : table->cellAt(row, column);
  return cell == nullptr ? QStringLiteral("<none>") : cell->text(QAccessible::Name);
}

// Both windows as a user leaves them: a file detected in the main window, and converted
// in the batch window into another folder. Made once for all of a suite's tests.
struct BothWindows {
  testkit::TempDir dir;
  platform::PosixFileSystem files;
  testkit::FakeWindowServices services;
  windows::MainWindow main{files, services};
  windows::BatchWindow batch{files, services};
  std::string source = dir.Write("a file with a long name.txt", "a\r\n");
};

class WindowAccessibility : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    windows_ = std::make_unique<BothWindows>();
    windows::MainWindow& main = windows_->main;
    main.show();
    main.OpenFile(windows_->source);
    main.findChild<QPushButton*>("Cmd1")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !main.findChild<QLabel*>("Lbl3")->text().isEmpty(); }, 10000));
    windows::BatchWindow& batch = windows_->batch;
    batch.show();
    batch.AddPaths({windows_->source});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !batch.Busy(); }, 10000));
    batch.findChildren<QRadioButton*>("optTarget").at(2)->click();
    batch.findChild<QLineEdit*>("txtOutputFolder")->setText(QString::fromStdString(windows_->dir / "out"));
    batch.findChild<QPushButton*>("cmdConvert")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !batch.Busy(); }, 10000));
  }
  static void TearDownTestSuite() { windows_.reset(); }

 protected:
  static inline std::unique_ptr<BothWindows> windows_;
};

class HeardControl : public WindowAccessibility, public ::testing::WithParamInterface<Heard> {};

TEST_P(HeardControl, ReadsAsItShows) {
  const Heard& heard = GetParam();
  ExpectHeard(heard.window == kMain ? static_cast<QWidget&>(windows_->main) : windows_->batch, heard);
}

INSTANTIATE_TEST_SUITE_P(, HeardControl, ::testing::ValuesIn(kHeard), testkit::NameRows(kHeard, [](const Heard& heard) {
                           return std::string(heard.window == kMain ? "main " : "batch ") + heard.control;
                         }));

TEST_F(WindowAccessibility, BothWindowsReadTheirListsAndTablesAsTheyShow) {
  // The browser's lists read the file names alone, under one column called 名前.
  for (const char* view : {"Dir1", "Fil1"}) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(windows_->main.findChild<QWidget*>(view));
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->tableInterface()->rowCount() > 0; }, 10000)) << view;
    EXPECT_EQ(list->tableInterface()->columnCount(), 1) << view;
    for (int i = 0; i < list->childCount(); ++i) {
      QAccessibleInterface* cell = list->child(i);
      if (cell != nullptr && cell->role() == QAccessible::ColumnHeader) {
        EXPECT_EQ(cell->text(QAccessible::Name), "名前") << view;
      }
    }
  }
  // Each row: the whole path, however it is shortened on the screen, and its result.
  auto* table = windows_->batch.findChild<QTableWidget*>("grdFiles");
  EXPECT_EQ(Cell(table, 0, 0), QString::fromStdString(windows_->source));
  EXPECT_EQ(Cell(table, 0, 6), "変換しました");
}

}  // namespace
}  // namespace tarnwhistle
