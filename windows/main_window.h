#pragma once

#include <QMainWindow>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/line_ending_kind.h"
#include "engine/statistics.h"
#include "platform/file_system.h"
#include "platform/window_services.h"

class QButtonGroup;
class QLabel;
class QThreadPool;
class QLineEdit;
class QPushButton;

namespace tarnwhistle::windows {

class BatchWindow;
class FileBrowser;

// The whole application: pick or type a source path, detect its kind, choose a target
// kind, name an output and convert. Every control carries its name as objectName
// (Txt1, Cmd1, Opt1, mnuAbout...) so that tests and assistive tools can find it.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(platform::FileSystem& files, platform::WindowServices& services, QWidget* parent = nullptr);
  ~MainWindow() override;

  LineEndingKind DetectedKind() const { return detected_kind_; }
  LineEndingKind TargetKind() const { return target_kind_; }

  // Fills both path boxes with `path` and moves the browser to its folder, as the File
  // menu's Open and a file dropped on the window do.
  void OpenFile(const QString& path);

  // Shows the batch window (one at a time) with `paths` added to its table, as the File
  // menu's 一括変換, several dropped files and `tarnwhistle --batch` do.
  void OpenBatch(const QStringList& paths);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void SetTabOrder();

  void OnSourcePathChanged();
  void OnDetect();
  void OnConvert();
  void OnTargetToggled(int kind, bool checked);
  void OnFileChosen(const QString& path);
  void OnOpen();
  void OnAbout();

  // The whole file's line ends are counted off the window's thread after a detection;
  // only the latest count may show, and none once the source path has changed.
  void StartCount(const std::string& path);
  void AbandonCount();
  void OnCounted(std::uint64_t count, const Examination& result);

  platform::FileSystem& files_;
  platform::WindowServices& services_;

  LineEndingKind detected_kind_ = LineEndingKind::None;
  platform::FileIdentity detected_file_;  // the file the verdict is of
  LineEndingKind target_kind_ = LineEndingKind::None;

  FileBrowser* browser_ = nullptr;
  QLineEdit* source_path_ = nullptr;        // Txt1
  QPushButton* detect_button_ = nullptr;    // Cmd1
  QLineEdit* detected_kind_box_ = nullptr;  // Txt2
  QButtonGroup* target_options_ = nullptr;  // the three Opt1, by LineEndingKind code
  QPushButton* convert_button_ = nullptr;   // Cmd2
  QPushButton* close_button_ = nullptr;     // Cmd3
  QLineEdit* output_path_ = nullptr;        // Txt3
  QPointer<BatchWindow> batch_window_;      // FrmBatch while it is open
  QLabel* counts_line_ = nullptr;           // Lbl3, in the status bar

  QThreadPool* count_pool_ = nullptr;
  std::uint64_t latest_count_ = 0;
  std::shared_ptr<std::stop_source> stop_count_;
};

}  // namespace tarnwhistle::windows
