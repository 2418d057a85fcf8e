#pragma once

// What both windows are built from, so that each rule has one home: buttons, the target
// options, the separator lines, the texts a screen reader follows, dropped paths and the
// remembered settings.

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <string>
#include <vector>

#include "platform/file_system.h"

class QButtonGroup;
class QMimeData;
class QPushButton;
class QRadioButton;
class QSettings;

namespace tarnwhistle::windows {

// A push button named `name`. A screen reader speaks its caption without the access
// key's "&", the "..." and the ideographic spaces that spread a short caption across it
// ("変　　換" is read as 変換). Enter presses it when it has the focus, as on Windows.
QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption);

// `box`, named `name`, with the name a screen reader gives it.
QLineEdit* NewTextBox(QLineEdit* box, const char* name, const QString& accessible_name);

// The three target options, MS-DOS(Windows), UNIX and MAC, each named `name`, added to
// `group` with their kind's code as id. Each says which line end it writes, and for
// which systems, in a tooltip and to assistive tools.
QList<QRadioButton*> NewTargetOptions(QWidget* parent, QButtonGroup* group, const char* name);

// A thin line between groups of controls. Assistive tools take it for the separator it
// is, and do not show it.
class SeparatorLine : public QFrame {
  Q_OBJECT

 public:
  explicit SeparatorLine(QWidget* parent);
};

// A text box that only shows what the window puts there, such as the detected kind: it
// may be typed in, as any text box, but assistive tools are told it is read-only, since
// nothing typed there is ever read; they read and select its text as any text box's.
class DisplayBox : public QLineEdit {
  Q_OBJECT

 public:
  explicit DisplayBox(QWidget* parent);
};

// A label whose text the window changes, such as the counts of line ends: assistive
// tools read its text as text, not only its name.
class LiveText : public QLabel {
  Q_OBJECT

 public:
  explicit LiveText(QWidget* parent);
};

// Shows `text` in `label` (a LiveText), whose accessible name says what it is
// ("改行の数"), and gives the text to assistive tools as its description too, which a
// screen reader speaks after the name.
void ShowLiveText(QLabel* label, const QString& text);

// The local files and folders a drag carries, as the bytes of their paths (a name that is
// not UTF-8 keeps its bytes); empty when it carries anything else.
std::vector<std::string> DroppedPaths(const QMimeData* data);

// True when `path` names a folder, looked up through `files`.
bool IsFolder(platform::FileReader& files, const std::string& path);

// What the windows remember between runs, in the desktop's usual place
// (~/.config/tarnwhistle/tarnwhistle.conf).
QSettings WindowSettings();

}  // namespace tarnwhistle::windows
