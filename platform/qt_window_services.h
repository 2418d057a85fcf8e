#pragma once

#include "window_services.h"

namespace tarnwhistle::platform {

// The window services on a real Qt desktop.
class QtWindowServices : public WindowServices {
 public:
  // `title` heads every message box: the product's name.
  explicit QtWindowServices(QString title) : title_(std::move(title)) {}

  void ShowMessage(QWidget* parent, const QString& text) override;
  QString AskFileToOpen(QWidget* parent, const QString& directory) override;
  QList<Drive> Drives() override;
  bool OpenUrl(const QString& url) override;
  bool Confirm(QWidget* parent, const QString& text, const QString& accept) override;
  QStringList AskPaths(QWidget* parent, PathRequest request, const QString& directory) override;

 private:
  QString title_;
};

}  // namespace tarnwhistle::platform
