#pragma once

#include "window_services.h"

namespace tarnwhistle::platform {

// The window services on a real Qt desktop.
class QtWindowServices : public WindowServices {
 public:
  // `title` heads every message box and progress window: the product's name. Progress
  // appears once a task has run for `progress_after_ms`.
  explicit QtWindowServices(QString title, int progress_after_ms = 500)
      : title_(std::move(title)), progress_after_ms_(progress_after_ms) {}

  void ShowMessage(QWidget* parent, const QString& text) override;
  std::unique_ptr<ProgressReport> StartProgress(QWidget* parent, const QString& label) override;
  QString AskFileToOpen(QWidget* parent, const QString& directory) override;
  QList<Drive> Drives() override;
  bool Confirm(QWidget* parent, const QString& text) override;
  QStringList AskPaths(QWidget* parent, PathRequest request, const QString& directory) override;

 private:
  QString title_;
  int progress_after_ms_;
};

}  // namespace tarnwhistle::platform
