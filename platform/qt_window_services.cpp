#include "qt_window_services.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStorageInfo>
#include <QUrl>
#include <algorithm>

namespace tarnwhistle::platform {
namespace {

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

// `text` as a message box shows it: a long one wraps only between words, at a space,
// after a full stop, a comma, a closing bracket, "・" or "/", and before an opening
// bracket, never inside a word as Qt would ("行ってくださ" / "い"): a WORD JOINER
// (U+2060, which is not drawn) holds every other two characters together. Screen
// readers are given the text as it was.
void ShowWholeWords(QMessageBox& box, const QString& text) {
  static const QString kBreakAfter = QStringLiteral(" 。、）・？/");
  QString shown;
  for (qsizetype i = 0; i < text.size(); ++i) {
    shown += text[i];
    if (i + 1 < text.size() && !kBreakAfter.contains(text[i]) && text[i + 1] != QChar(0xFF08) &&
        !text[i].isHighSurrogate() && text[i + 1] != ' ') {
      shown += QChar(0x2060);
    }
  }
  box.setText(shown);
  if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) label->setAccessibleName(text);
}

}  // namespace

void QtWindowServices::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, title_, {}, QMessageBox::Ok, parent);
  ShowWholeWords(box, text);
  box.exec();
}

QString QtWindowServices::AskFileToOpen(QWidget* parent, const QString& directory) {
  return QFileDialog::getOpenFileName(parent, QStringLiteral("開く"), directory,
                                      QString::fromUtf8(kTextFilesFilter) + QStringLiteral(";;すべてのファイル (*)"));
}

bool QtWindowServices::Confirm(QWidget* parent, const QString& text, const QString& accept) {
  QMessageBox box(QMessageBox::NoIcon, title_, {}, QMessageBox::NoButton, parent);
  ShowWholeWords(box, text);
  QPushButton* yes = box.addButton(accept, QMessageBox::AcceptRole);
  box.setDefaultButton(box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole));
  box.exec();
  return box.clickedButton() == yes;
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
      QFileDialog dialog(parent, QStringLiteral("結果を保存"), directory, QStringLiteral("CSV (*.csv)"));
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setDefaultSuffix(QStringLiteral("csv"));  // a name typed without it still asks before replacing
      return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
    }
  }
  return {};
}
bool QtWindowServices::OpenUrl(const QString& url) { return QDesktopServices::openUrl(QUrl(url)); }

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
