// The batch window driven as a person would, offscreen, on a real folder: add a folder
// with a filter, convert it into another folder, read the summary, save the report.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <filesystem>

#include "engine/messages.h"
#include "fake_window_services.h"
#include "platform/posix_file_system.h"
#include "temp_dir.h"
#include "windows/batch_window.h"
#include "windows/texts.h"
#include "window_fixture.h"

namespace tarnwhistle {
namespace {

using testkit::ReadAll;
using windows::Text;

class BatchWindowTest : public testkit::WindowOnDisk<windows::BatchWindow> {
 protected:
  // Clicks `button` and waits for the work it starts.
  void ClickAndWait(const char* button) {
    QSignalSpy finished(&window, &windows::BatchWindow::WorkFinished);
    ASSERT_NO_FATAL_FAILURE(Click(button));
    ASSERT_TRUE(finished.wait(10000)) << button;
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
  dir.Write("src/unix.txt", "a\nb\n");
  dir.Write("src/image.txt", std::string("\x01\x02\0\r\n", 5));
  dir.Write("src/notes.md", "a\r\n");
  dir.Write("src/sub/mac.txt", "a\rb\r");

  EXPECT_EQ(window.objectName(), "FrmBatch");
  EXPECT_EQ(Find<QLineEdit>("txtFilter")->text(), "*");
  Find<QLineEdit>("txtFilter")->setText("*.txt; *.csv");
  Find<QCheckBox>("chkSubfolders")->setChecked(true);
  Find<QLineEdit>("txtAddPath")->setText(QString::fromStdString(dir / "src"));
  ASSERT_NO_FATAL_FAILURE(ClickAndWait("cmdAdd"));

  const std::string src = dir / "src";
  const QString s = QString::fromStdString(src);
  EXPECT_EQ(Column(0), QStringList({s + "/dos.txt", s + "/image.txt", s + "/mixed.txt", s + "/sub/mac.txt",
                                    s + "/unix.txt"}));
  EXPECT_EQ(Column(1), QStringList({"MS-DOS", "BINARY", "MS-DOS", "MAC", "UNIX"}));
  EXPECT_EQ(Column(2), QStringList({"2", "1", "1", "0", "0"}));
  EXPECT_EQ(Column(5), QStringList({"", "", "混在", "", ""}));

  // Converting asks for a target first and writes nothing without one.
  Click("cmdConvert");
  EXPECT_EQ(services.messages, QStringList{Text(messages::kNoTarget)});
  window.findChildren<QRadioButton*>("optTarget").at(1)->click();
  Find<QLineEdit>("txtOutputFolder")->setText(QString::fromStdString(dir / "out"));
  ASSERT_NO_FATAL_FAILURE(ClickAndWait("cmdConvert"));

  const QString converted = Text(messages::kConverted);
  EXPECT_EQ(Column(6), QStringList({converted, Text(messages::kBinarySource), converted, converted,
                                    Text(messages::kAlreadyTarget)}));
  EXPECT_EQ(Find<QLabel>("lblSummary")->text(), "変換 3・変換不要 1・変換できません 1・失敗 0");
  EXPECT_EQ(Find<QProgressBar>("prgBatch")->value(), 5);
  EXPECT_EQ(ReadAll(dir / "out/dos.txt"), "a\nb\n");
  EXPECT_EQ(ReadAll(dir / "out/sub/mac.txt"), "a\nb\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out/image.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out/notes.md"));
  EXPECT_EQ(ReadAll(dir / "src/dos.txt"), "a\r\nb\r\n");

  services.paths_to_answer = {QString::fromStdString(dir / "report.csv")};
  Click("cmdSaveResults");
  const std::string csv = ReadAll(dir / "report.csv");
  EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(csv.find(src + "/mixed.txt,MS-DOS,1,1,1,混在,変換しました\r\n"), std::string::npos) << csv;

  // In place: asked once, and a refusal leaves everything as it was.
  Find<QRadioButton>("optReplace")->click();
  services.confirm_answer = false;
  Click("cmdConvert");
  EXPECT_EQ(services.confirmations.size(), 1);
  EXPECT_EQ(ReadAll(dir / "src/dos.txt"), "a\r\nb\r\n");
  services.confirm_answer = true;
  ASSERT_NO_FATAL_FAILURE(ClickAndWait("cmdConvert"));
  EXPECT_EQ(services.confirmations.size(), 2);
  EXPECT_EQ(ReadAll(dir / "src/dos.txt"), "a\nb\n");

  // Every control can be reached by a screen reader by its name.
  for (QWidget* each : window.findChildren<QWidget*>()) {
    if (qobject_cast<QPushButton*>(each) || qobject_cast<QLineEdit*>(each)) {
      EXPECT_FALSE(each->accessibleName().isEmpty()) << each->objectName().toStdString();
    }
  }
  EXPECT_EQ(Find<QTableWidget>("grdFiles")->accessibleName(), "変換するファイル");
  EXPECT_EQ(Find<QPushButton>("cmdConvert")->accessibleName(), "変換");
  EXPECT_EQ(Find<QPushButton>("cmdAddFiles")->accessibleName(), "ファイルを追加");
}

}  // namespace
}  // namespace tarnwhistle
