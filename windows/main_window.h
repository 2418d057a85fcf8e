#pragma once

#include <QMainWindow>

#include "engine/line_ending_kind.h"
#include "platform/file_system.h"
#include "platform/window_services.h"

class QButtonGroup;
class QLineEdit;
class QPushButton;

namespace tarnwhistle::windows {

class FileBrowser;

// The whole application: pick or type a source path, detect its kind, choose a target
// kind, name an output and convert. Every control carries its name as objectName
// (Txt1, Cmd1, Opt1, mnuAbout...) so that tests and assistive tools can find it.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(platform::FileSystem& files, platform::WindowServices& services, QWidget* parent = nullptr);

  LineEndingKind DetectedKind() const { return detected_kind_; }
  LineEndingKind TargetKind() const { return target_kind_; }

  // Fills both path boxes with `path` and moves the browser to its folder, as the File
  // menu's Open and a file dropped on the window do.
  void OpenFile(const QString& path);

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

  platform::FileSystem& files_;
  platform::WindowServices& services_;

  LineEndingKind detected_kind_ = LineEndingKind::None;
  LineEndingKind target_kind_ = LineEndingKind::None;

  FileBrowser* browser_ = nullptr;
  QLineEdit* source_path_ = nullptr;        // Txt1
  QPushButton* detect_button_ = nullptr;    // Cmd1
  QLineEdit* detected_kind_box_ = nullptr;  // Txt2
  QButtonGroup* target_options_ = nullptr;  // the three Opt1, by LineEndingKind code
  QPushButton* convert_button_ = nullptr;   // Cmd2
  QPushButton* close_button_ = nullptr;     // Cmd3
  QLineEdit* output_path_ = nullptr;        // Txt3
};

}  // namespace tarnwhistle::windows
