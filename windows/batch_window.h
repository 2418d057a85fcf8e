#pragma once

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "background_task.h"
#include "engine/batch.h"
#include "engine/statistics.h"
#include "platform/file_system.h"
#include "platform/window_services.h"

class QBoxLayout;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTimer;

namespace tarnwhistle::windows {

// 一括変換: many files and folders into one target kind, into an output folder that
// mirrors the folders added, or each file in place. Adding (the engine's walk, a chunk
// at a time, each file examined as its row arrives) and converting run in the
// background; 中止 stops either, leaving the file in progress as it was. Paths are kept
// as the bytes the file system names them by.
class BatchWindow : public QDialog {
  Q_OBJECT

 public:
  BatchWindow(platform::FileSystem& files, platform::WindowServices& services, QWidget* parent = nullptr);
  ~BatchWindow() override;

  // Adds files and folders (folders by the name filter and the subfolder box as they
  // are then), as the buttons, the path box, a drop and `tarnwhistle --batch` do. Paths
  // given while work runs are added when it ends.
  void AddPaths(const std::vector<std::string>& paths);

  // Writes the table as CSV, UTF-8 with a byte order mark: Ok, or OutputCannotWrite and why.
  Result SaveResults(const QString& path);

  // True while files are being added or converted.
  bool Busy() const { return task_.Running(); }

 protected:
  // Escape, 閉じる and the title bar ask before a table not saved is thrown away.
  void reject() override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildTable(QBoxLayout* layout);
  void BuildAdding(QBoxLayout* layout);
  void BuildChoosing(QBoxLayout* layout);
  void BuildTarget(QBoxLayout* layout);
  void BuildOutput(QBoxLayout* layout);
  void BuildProgress(QBoxLayout* layout);
  void BuildCommands(QBoxLayout* layout);
  void Restore();
  void Remember();

  void OnAddChosen(platform::WindowServices::PathRequest request);
  void OnAddTyped();
  void OnRemove();
  void OnSelectionChanged();
  void OnBrowseOutput();
  void OnConvert();
  void OnSaveResults();
  void OnStop();
  void UpdateEnabled();

  void StartAdding(const std::vector<std::string>& paths, std::set<std::string> known);
  void EndWork();
  void AppendRows(const std::vector<BatchFile>& files);
  void ShowExamined(std::size_t row, const Examination& whole);
  void ShowResult(std::size_t row, const Result& result);
  void ShowProgress();
  std::size_t FilesDone() const;  // of a run: files with a result, not those left as they were
  BatchSettings Settings() const;
  QString WalkChoice() const;  // the filter and subfolder choice, as walked_with_ holds it
  QString ResultsFolder() const;

  platform::FileSystem& files_;
  platform::WindowServices& services_;

  std::vector<BatchFile> rows_;          // one per row of the table, in its order
  std::vector<std::string> named_;       // the paths added, walked again when the filter changes
  std::set<std::string> removed_;        // rows removed, kept out of such a walk
  std::vector<std::string> pending_;     // paths given while work ran
  std::size_t added_ = 0;                // rows the latest adding found
  QString walked_with_;                  // the filter and subfolder choice the rows were found by
  BatchTotals totals_;
  bool names_widened_ = false;           // the user set the name column's width
  bool fitting_names_ = false;           // the window sets it
  bool sized_ = false;                   // to the screen, when first shown
  bool saved_ = false;                   // the table, as it is, was saved
  bool stop_pressed_ = false;            // 中止 was pressed during the work running
  std::uint64_t total_weight_ = 0;       // of a run: every file's size, and 1 a file
  std::uint64_t finished_weight_ = 0;    // of the files whose results are in
  std::atomic<std::uint64_t> bytes_read_{0};  // told by the working threads

  QTableWidget* table_ = nullptr;
  QLineEdit* add_path_ = nullptr;
  QLineEdit* filter_ = nullptr;
  QCheckBox* subfolders_ = nullptr;
  QButtonGroup* targets_ = nullptr;
  QRadioButton* to_folder_ = nullptr;
  QRadioButton* in_place_ = nullptr;
  QLineEdit* output_folder_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QTimer* progress_timer_ = nullptr;
  QLabel* summary_ = nullptr;
  std::vector<QWidget*> idle_only_;  // controls that would start or change work
  QPushButton* stop_button_ = nullptr;
  QPushButton* save_button_ = nullptr;

  // Declared last, so destroyed first: the work stops, and is waited for, before
  // anything it uses goes.
  BackgroundTask task_;
};

}  // namespace tarnwhistle::windows
