#pragma once

#include <QDialog>
#include <cstdint>

class QLabel;
class QProgressBar;

namespace tarnwhistle::windows {

// The progress of one long task of a window, in a small window over it. It appears only
// once the task has run for kShowAfterMs, so that quick work shows nothing, and then
// keeps the window it covers from starting other work. 中止 (or Escape, or its close
// control) asks the task to stop; it stays until the window closes it, when the task
// has ended. It never runs an event loop of its own.
class ProgressWindow : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kShowAfterMs = 300;

  ProgressWindow(QWidget* parent, const QString& title, const QString& label);

  void SetLabel(const QString& label);
  // `done` out of `total` bytes; a total of 0 shows a busy bar.
  void SetProgress(std::uint64_t done, std::uint64_t total);

 signals:
  void StopRequested();

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* label_;
  QProgressBar* bar_;
};

}  // namespace tarnwhistle::windows
