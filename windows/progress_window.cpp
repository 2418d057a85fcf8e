#include "progress_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "controls.h"

namespace tarnwhistle::windows {

constexpr int kSteps = 1000;

ProgressWindow::ProgressWindow(QWidget* parent, const QString& title, const QString& label)
    : QDialog(parent), label_(new QLabel(label, this)), bar_(new QProgressBar(this)) {
  setObjectName("FrmProgress");
  setWindowTitle(title);
  setWindowModality(Qt::WindowModal);
  bar_->setAccessibleName(QStringLiteral("進行状況"));
  bar_->setRange(0, kSteps);
  bar_->setValue(0);
  QPushButton* stop_button = NewButton(this, "cmdStop", QStringLiteral("中止"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
  layout->addWidget(bar_);
  layout->addWidget(stop_button, 0, Qt::AlignRight);
  setMinimumWidth(360);
  connect(stop_button, &QPushButton::clicked, this, &ProgressWindow::StopRequested);
  QTimer::singleShot(kShowAfterMs, this, &QWidget::show);
}

void ProgressWindow::SetLabel(const QString& label) { label_->setText(label); }

void ProgressWindow::SetProgress(std::uint64_t done, std::uint64_t total) {
  if (total == 0) {
    bar_->setRange(0, 0);
    return;
  }
  bar_->setRange(0, kSteps);
  bar_->setValue(static_cast<int>(std::min(done, total) * kSteps / total));
}

void ProgressWindow::reject() { emit StopRequested(); }

void ProgressWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  emit StopRequested();
}

}  // namespace tarnwhistle::windows
