#pragma once

#include "window_services.h"

namespace tarnwhistle::platform {

// The window services on a real Qt desktop.
class QtWindowServices : public WindowServices {
 public:
  // `title` heads every message box and progress window: the product's name.
  explicit QtWindowServices(QString title) : title_(std::move(title)) {}

  void ShowMessage(QWidget* parent, const QString& text) override;
  std::unique_ptr<ProgressReport> StartProgress(QWidget* parent, const QString& label) override;
  QString AskFileToOpen(QWidget* parent, const QString& directory) override;
  QList<Drive> Drives() override;

 private:
  QString title_;
};

}  // namespace tarnwhistle::platform
