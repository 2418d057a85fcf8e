#pragma once

#include <QDialog>

namespace tarnwhistle::windows {

// The version window, FrmAbout: the product's name and version, the maker's notice, the
// licence's name and where the manual is.
// Each opening builds a fresh window; OK or the close control unloads it.
class AboutWindow : public QDialog {
  Q_OBJECT

 public:
  explicit AboutWindow(QWidget* parent = nullptr);
};

}  // namespace tarnwhistle::windows
