#pragma once

#include <QMainWindow>

#include "engine/line_ending_kind.h"
#include "platform/file_system.h"
#include "platform/window_services.h"

class QAction;
class QFrame;
class QLineEdit;
class QPushButton;
class QRadioButton;

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

  // Handlers, by control and event.
  void FormLoad();
  void Txt1Change();
  void Cmd1Click();
  void Cmd2Click();
  void Cmd3Click();
  void Opt1Click();
  void Fil1Click(const QString& path);
  void MnuOpenClick();
  void MnuAboutClick();

  platform::FileSystem& files_;
  platform::WindowServices& services_;

  LineEndingKind detected_kind_ = LineEndingKind::None;
  LineEndingKind target_kind_ = LineEndingKind::None;

  FileBrowser* browser_ = nullptr;
  QLineEdit* txt1_ = nullptr;
  QLineEdit* txt2_ = nullptr;
  QLineEdit* txt3_ = nullptr;
  QPushButton* cmd1_ = nullptr;
  QPushButton* cmd2_ = nullptr;
  QPushButton* cmd3_ = nullptr;
  QRadioButton* opt1_[3] = {};
};

}  // namespace tarnwhistle::windows
