#include "controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QButtonGroup>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QUrl>

#include "engine/line_ending_kind.h"

namespace tarnwhistle::windows {
namespace {

// Read-only to assistive tools, whatever the keyboard may do.
class DisplayBoxAccessible : public QAccessibleWidget {
 public:
  explicit DisplayBoxAccessible(QWidget* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.editable = false;
    return state;
  }
  QString text(QAccessible::Text which) const override {
    if (which == QAccessible::Value) return static_cast<QLineEdit*>(widget())->text();
    return QAccessibleWidget::text(which);
  }
};

// A separator, and one assistive tools do not show: AT-SPI leaves it out of what a screen
// reader walks through (it is neither visible nor showing to them).
class SeparatorAccessible : public QAccessibleWidget {
 public:
  explicit SeparatorAccessible(QWidget* line) : QAccessibleWidget(line, QAccessible::Separator) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.invisible = true;
    state.focusable = false;
    return state;
  }
};

// Qt's own factory knows neither class by name, so these are asked for them.
QAccessibleInterface* OwnAccessible(const QString& class_name, QObject* object) {
  if (class_name == QLatin1String(SeparatorLine::staticMetaObject.className())) {
    return new SeparatorAccessible(static_cast<QWidget*>(object));
  }
  if (class_name == QLatin1String(DisplayBox::staticMetaObject.className())) {
    return new DisplayBoxAccessible(static_cast<QWidget*>(object));
  }
  return nullptr;
}

void InstallOwnAccessible() {
  static const bool installed = [] {
    QAccessible::installFactory(&OwnAccessible);
    return true;
  }();
  (void)installed;
}

}  // namespace

QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setAccessibleName(QString(caption).remove('&').remove(QStringLiteral("...")).remove(QChar(0x3000)));
  button->setAutoDefault(true);
  return button;
}

QLineEdit* NewTextBox(QLineEdit* box, const char* name, const QString& accessible_name) {
  box->setObjectName(name);
  box->setAccessibleName(accessible_name);
  return box;
}

QList<QRadioButton*> NewTargetOptions(QWidget* parent, QButtonGroup* group, const char* name) {
  const struct {
    LineEndingKind kind;
    const char* caption;
    const char* says;
  } options[] = {
      {LineEndingKind::MsDos, "MS-DOS(Windows)", "改行を CR LF にします（Windows）"},
      {LineEndingKind::Unix, "UNIX", "改行を LF にします（Linux、macOS）"},
      {LineEndingKind::Mac, "MAC", "改行を CR にします（Mac OS 9 以前）"},
  };
  QList<QRadioButton*> buttons;
  for (const auto& option : options) {
    auto* button = new QRadioButton(QString::fromLatin1(option.caption), parent);
    button->setObjectName(name);
    button->setToolTip(QString::fromUtf8(option.says));
    button->setAccessibleDescription(QString::fromUtf8(option.says));
    group->addButton(button, static_cast<int>(option.kind));
    buttons.append(button);
  }
  return buttons;
}

SeparatorLine::SeparatorLine(QWidget* parent) : QFrame(parent) {
  InstallOwnAccessible();
  setFrameShape(QFrame::HLine);
  setFrameShadow(QFrame::Plain);
  // The line's own colour fills its whole strip: QFrame draws its line one logical
  // pixel wide at the strip's middle, which fractional scale factors can round away.
  setBackgroundRole(QPalette::WindowText);
  setAutoFillBackground(true);
}

void ShowLiveText(QLabel* label, const QString& text) {
  InstallOwnAccessible();
  label->setText(text);
  label->setAccessibleDescription(text);
}

std::vector<std::string> DroppedPaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    // The path percent-encoded, then decoded as bytes: toLocalFile() would read a name
    // that is not UTF-8 as a look-alike with U+FFFD in it.
    paths.push_back(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
  }
  return paths;
}

bool IsFolder(platform::FileSystem& files, const std::string& path) {
  const auto place = files.Locate(path);
  return place && files.Stat(place.value).kind == platform::FileInfo::Kind::Folder;
}

QSettings WindowSettings() { return QSettings(QStringLiteral("tarnwhistle"), QStringLiteral("tarnwhistle")); }

}  // namespace tarnwhistle::windows
