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
#include <type_traits>

#include "engine/line_ending_kind.h"

namespace tarnwhistle::windows {
namespace {

// A text that assistive tools read, and may select, but not change, whatever the
// keyboard may do: a box that only shows (QLineEdit's own interface would say it is
// editable) or a label whose text changes (QLabel's has no text at all). Written here
// because Qt's own implementations of both are private.
template <typename W>
class ReadOnlyTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  ReadOnlyTextAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.editable = false;
    return state;
  }
  QString text(QAccessible::Text which) const override {
    if (which == QAccessible::Value) return Shown()->text();
    return QAccessibleWidget::text(which);
  }

  QString text(int start, int end) const override { return Shown()->text().mid(start, end - start); }
  int characterCount() const override { return static_cast<int>(Shown()->text().size()); }
  int selectionCount() const override { return Shown()->hasSelectedText() ? 1 : 0; }
  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0 || !Shown()->hasSelectedText()) return;
    *start = Shown()->selectionStart();
    *end = *start + static_cast<int>(Shown()->selectedText().size());
  }
  void addSelection(int start, int end) override { setSelection(0, start, end); }
  void removeSelection(int) override { Shown()->setSelection(0, 0); }
  void setSelection(int, int start, int end) override { Shown()->setSelection(start, end - start); }
  int cursorPosition() const override {
    if constexpr (std::is_same_v<W, QLineEdit>) return Shown()->cursorPosition();
    return 0;
  }
  void setCursorPosition(int position) override {
    if constexpr (std::is_same_v<W, QLineEdit>) Shown()->setCursorPosition(position);
  }
  void scrollToSubstring(int start, int) override { setCursorPosition(start); }
  QString attributes(int, int* start, int* end) const override {
    *start = 0;
    *end = characterCount();
    return {};
  }
  // The text starts at the left of the contents, on one line, as both show it here.
  QRect characterRect(int offset) const override {
    const QString text = Shown()->text();
    if (offset < 0 || offset >= text.size()) return {};
    const QFontMetrics metrics(Shown()->font());
    const QRect contents = Shown()->contentsRect();
    const int left = contents.left() + kMargin + metrics.horizontalAdvance(text.left(offset));
    const QRect box(left, contents.center().y() - metrics.height() / 2, metrics.horizontalAdvance(text.at(offset)),
                    metrics.height());
    return QRect(Shown()->mapToGlobal(box.topLeft()), box.size());
  }
  int offsetAtPoint(const QPoint& point) const override {
    const QString text = Shown()->text();
    for (int offset = 0; offset < text.size(); ++offset) {
      if (characterRect(offset).contains(point)) return offset;
    }
    return -1;
  }

 private:
  static constexpr int kMargin = std::is_same_v<W, QLineEdit> ? 2 : 0;  // QLineEdit's own, before its text
  W* Shown() const { return static_cast<W*>(widget()); }
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
    return new ReadOnlyTextAccessible<QLineEdit>(static_cast<QWidget*>(object), QAccessible::EditableText);
  }
  if (class_name == QLatin1String(LiveText::staticMetaObject.className())) {
    return new ReadOnlyTextAccessible<QLabel>(static_cast<QWidget*>(object), QAccessible::StaticText);
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

DisplayBox::DisplayBox(QWidget* parent) : QLineEdit(parent) { InstallOwnAccessible(); }

LiveText::LiveText(QWidget* parent) : QLabel(parent) { InstallOwnAccessible(); }

void ShowLiveText(QLabel* label, const QString& text) {
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

bool IsFolder(platform::FileReader& files, const std::string& path) {
  const auto place = files.Locate(path);
  return place && files.Stat(place.value).kind == platform::FileInfo::Kind::Folder;
}

QSettings WindowSettings() { return QSettings(QStringLiteral("tarnwhistle"), QStringLiteral("tarnwhistle")); }

}  // namespace tarnwhistle::windows
