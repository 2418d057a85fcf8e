#include "qt_window_services.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QStorageInfo>
#include <algorithm>

namespace tarnwhistle::platform {
namespace {

constexpr qint64 kRepaintEveryMs = 40;
constexpr int kSteps = 1000;

class QtProgressReport : public ProgressReport {
 public:
  QtProgressReport(QWidget* parent, QString title, QString label, int show_after_ms)
      : parent_(parent), title_(std::move(title)), label_(std::move(label)), show_after_ms_(show_after_ms) {
    started_.start();
  }

  bool Update(std::uint64_t done, std::uint64_t total) override {
    if (!dialog_) {
      if (started_.elapsed() < show_after_ms_) return true;
      Show();
    }
    if (since_repaint_.elapsed() >= kRepaintEveryMs) {
      dialog_->setValue(total == 0 ? kSteps : static_cast<int>(done * kSteps / total));
      QApplication::processEvents();
      since_repaint_.restart();
    }
    return !dialog_->wasCanceled();
  }

 private:
  void Show() {
    dialog_ = std::make_unique<QProgressDialog>(label_, QStringLiteral("中止"), 0, kSteps, parent_);
    auto* bar = new QProgressBar(dialog_.get());
    bar->setAccessibleName(QStringLiteral("進行状況"));
    dialog_->setBar(bar);
    dialog_->setWindowTitle(title_);
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->show();
    QApplication::processEvents();
    since_repaint_.start();
  }

  QWidget* parent_;
  QString title_;
  QString label_;
  int show_after_ms_;  // shorter tasks show no progress at all
  QElapsedTimer started_;
  QElapsedTimer since_repaint_;
  std::unique_ptr<QProgressDialog> dialog_;
};

// True for the volumes a person would choose in a file chooser. On Linux that leaves
// out the kernel's pseudo file systems, snap images and the system's own mounts.
bool IsUserVolume(const QStorageInfo& volume) {
  if (!volume.isValid() || !QFileInfo(volume.rootPath()).isDir()) return false;
#ifdef Q_OS_WIN
  return true;
#else
  const QString root = volume.rootPath();
  if (root == QLatin1String("/")) return true;
  if (!volume.device().startsWith("/dev/") || volume.fileSystemType() == "squashfs") return false;
  for (const char* system : {"/boot", "/dev", "/etc", "/proc", "/snap", "/sys", "/usr", "/var"}) {
    const QString prefix = QLatin1String(system);
    if (root == prefix || root.startsWith(prefix + '/')) return false;
  }
  return !root.startsWith("/run/") || root.startsWith("/run/media/");
#endif
}

}  // namespace

void QtWindowServices::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, title_, text, QMessageBox::Ok, parent);
  box.exec();
}

std::unique_ptr<ProgressReport> QtWindowServices::StartProgress(QWidget* parent, const QString& label) {
  return std::make_unique<QtProgressReport>(parent, title_, label, progress_after_ms_);
}

QString QtWindowServices::AskFileToOpen(QWidget* parent, const QString& directory) {
  return QFileDialog::getOpenFileName(
      parent, QStringLiteral("開く"), directory,
      QStringLiteral("テキスト ファイル (*.txt *.csv *.log *.md *.ini *.conf *.xml *.json *.html *.c *.h *.cpp *.py *.sh);;"
                     "すべてのファイル (*)"));
}

bool QtWindowServices::Confirm(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, title_, text, QMessageBox::Ok | QMessageBox::Cancel, parent);
  box.setDefaultButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

QStringList QtWindowServices::AskPaths(QWidget* parent, PathRequest request, const QString& directory) {
  switch (request) {
    case PathRequest::OpenFiles:
      return QFileDialog::getOpenFileNames(parent, QStringLiteral("ファイルを追加"), directory);
    case PathRequest::Folder: {
      const QString folder = QFileDialog::getExistingDirectory(parent, QStringLiteral("フォルダーを追加"), directory);
      return folder.isEmpty() ? QStringList() : QStringList{folder};
    }
    case PathRequest::SaveFile: {
      const QString file =
          QFileDialog::getSaveFileName(parent, QStringLiteral("結果を保存"), directory, QStringLiteral("CSV (*.csv)"));
      return file.isEmpty() ? QStringList() : QStringList{file};
    }
  }
  return {};
}

QList<Drive> QtWindowServices::Drives() {
  // The root comes first and always, even where the mount table does not show it (in a
  // chroot, say).
  QList<Drive> drives = {{QDir::toNativeSeparators(QDir::rootPath()), QStorageInfo::root().name(), true}};
  QStringList seen = {QDir::rootPath()};
  QList<Drive> others;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!IsUserVolume(volume) || seen.contains(volume.rootPath())) continue;
    seen.append(volume.rootPath());
    others.append({QDir::toNativeSeparators(volume.rootPath()), volume.name(), volume.isReady()});
  }
  std::sort(others.begin(), others.end(), [](const Drive& a, const Drive& b) { return a.root < b.root; });
  return drives + others;
}

}  // namespace tarnwhistle::platform
