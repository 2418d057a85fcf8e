#pragma once

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <string>
#include <vector>

#include "background_task.h"
#include "engine/conversion_request.h"
#include "engine/line_ending_kind.h"
#include "engine/statistics.h"
#include "platform/file_system.h"
#include "platform/window_services.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnwhistle::windows {

class BatchWindow;
class FileBrowser;
class ProgressWindow;
class TwipsLayout;

// The whole application: pick or type a source path, detect its kind, choose a target
// kind, name an output and convert. Every control carries its name as objectName
// (Txt1, Cmd1, Opt1, mnuAbout...) so that tests and assistive tools can find it.
//
// Detection (with the whole file's line ends counted for the status line) and
// conversion run in the background; a task that lasts shows its progress with 中止.
// Everything done to files goes through `files`, which the working threads share with
// the window's thread.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(platform::FileSystem& files, platform::WindowServices& services, QWidget* parent = nullptr);
  ~MainWindow() override;

  LineEndingKind DetectedKind() const { return detected_kind_; }
  LineEndingKind TargetKind() const { return target_kind_; }
  // True while a detection or a conversion runs (the count after a detection aside).
  bool Busy() const { return detecting_ || convert_.Running(); }

  // Fills both path boxes with `path` (its bytes, kept for every operation on the file
  // while the boxes show it) and moves the browser to its folder, as the File menu's
  // Open, a file dropped on the window and the command line do.
  void OpenFile(const std::string& path);

  // Shows the batch window (one at a time) with `paths` (as bytes) added to its table,
  // as the File menu's 一括変換, several dropped files and `tarnwhistle --batch` do;
  // returns it.
  BatchWindow* OpenBatch(const std::vector<std::string>& paths);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildBrowser(TwipsLayout& form, QWidget* client);
  void BuildSource(TwipsLayout& form, QWidget* client);
  void BuildTargetOptions(TwipsLayout& form, QWidget* client);
  void BuildCommands(TwipsLayout& form, QWidget* client);
  void BuildStatusLine();
  void BuildMenus();
  void Connect();
  void SetTabOrder();
  void Restore();
  void Remember();

  void OnSourcePathChanged();
  void OnDetect();
  void OnVerdict(const Examination& verdict);
  void OnExamined(const Examination& whole);
  void OnConvert();
  bool WouldReplace(const ConversionRequest& request);
  void OnConverted(const Result& result);
  void OnTargetToggled(int kind, bool checked);
  void OnFileChosen(const QString& path);
  void OnOpen();
  void OnManual();
  void OnAbout();

  // A path given as bytes, shown in `box` in a readable form.
  struct KnownBytes {
    QString shown;
    std::string bytes;
  };
  void ShowPath(QLineEdit* box, KnownBytes& known, const std::string& bytes);
  // The bytes of the path in `box`: those it was given while it still shows them, else
  // its text's (typed text is UTF-8); nothing where the text stands for several files.
  std::optional<std::string> PathIn(const QLineEdit* box, const KnownBytes& known);

  void ShowProgress(const QString& label, BackgroundTask& task);  // 中止 stops `task`
  void CloseProgress();

  platform::FileSystem& files_;
  platform::WindowServices& services_;

  LineEndingKind detected_kind_ = LineEndingKind::None;
  platform::FileIdentity detected_file_;  // the file the verdict is of
  ControlFound detected_found_;           // what made it BINARY
  LineEndingKind target_kind_ = LineEndingKind::None;
  bool detecting_ = false;      // a detection has given no verdict yet
  QString open_folder_;         // where 開く opened last
  QString source_before_;       // Txt1's text before its latest change
  KnownBytes source_bytes_;     // of Txt1
  KnownBytes output_bytes_;     // of Txt3

  FileBrowser* browser_ = nullptr;
  QLineEdit* source_path_ = nullptr;        // Txt1
  QPushButton* detect_button_ = nullptr;    // Cmd1
  QLineEdit* detected_kind_box_ = nullptr;  // Txt2
  QButtonGroup* target_options_ = nullptr;  // the three Opt1, by LineEndingKind code
  QPushButton* convert_button_ = nullptr;   // Cmd2
  QPushButton* close_button_ = nullptr;     // Cmd3
  QLineEdit* output_path_ = nullptr;        // Txt3
  QLabel* counts_line_ = nullptr;           // Lbl3, in the status bar
  QPointer<BatchWindow> batch_window_;      // FrmBatch while it is open
  QPointer<ProgressWindow> progress_;

  // Declared last, so destroyed first: their work stops, and is waited for, before
  // anything it uses goes.
  BackgroundTask examine_;
  BackgroundTask convert_;
};

}  // namespace tarnwhistle::windows
