#pragma once

#include <QDialog>
#include <atomic>
#include <stop_token>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/batch.h"
#include "platform/file_system.h"
#include "platform/window_services.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace tarnwhistle::windows {

// 一括変換: many files and folders into one target kind, into an output folder that
// mirrors the folders added, or each file in place. Looking at the added files and
// converting them run on a worker thread; the window stays live and can stop the work
// after the file in progress.
class BatchWindow : public QDialog {
  Q_OBJECT

 public:
  BatchWindow(platform::FileSystem& files, platform::WindowServices& services, QWidget* parent = nullptr);
  ~BatchWindow() override;

  // Adds files and folders (folders by the name filter and the subfolder box as they
  // are now), as the buttons, the path box, a drop and `tarnwhistle --batch` do.
  void AddPaths(const QStringList& paths);

  // Writes the table as CSV, UTF-8 with a byte order mark; false when it cannot.
  bool SaveResults(const QString& path);

  // True while files are being looked at or converted.
  bool Busy() const { return worker_.joinable() && !finished_; }

 signals:
  void WorkFinished();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void OnAddFiles();
  void OnAddFolder();
  void OnAddTyped();
  void OnRemove();
  void OnBrowseOutput();
  void OnConvert();
  void OnStop();
  void OnSaveResults();
  void UpdateEnabled();

  void StartWork(std::function<void()> work);
  void EndWork();
  void AppendRows(const std::vector<BatchFile>& files);
  void ShowExamined(std::size_t row, const QStringList& cells);
  void ShowResult(std::size_t row, const BatchResult& result);
  LineEndingKind TargetKind() const;

  platform::FileSystem& files_;
  platform::WindowServices& services_;

  std::vector<BatchFile> rows_;  // one per row of the table, in its order
  BatchTotals totals_;

  std::thread worker_;
  std::stop_source stop_;
  std::atomic<bool> finished_{true};

  QTableWidget* table_ = nullptr;
  QLineEdit* add_path_ = nullptr;
  QLineEdit* filter_ = nullptr;
  QCheckBox* subfolders_ = nullptr;
  QButtonGroup* targets_ = nullptr;
  QRadioButton* to_folder_ = nullptr;
  QRadioButton* in_place_ = nullptr;
  QLineEdit* output_folder_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* summary_ = nullptr;
  std::vector<QWidget*> idle_only_;  // controls that would change the work while it runs
  QPushButton* stop_button_ = nullptr;
  QPushButton* save_button_ = nullptr;
};

}  // namespace tarnwhistle::windows
