#pragma once

#include <QLabel>
#include <QList>
#include <QObject>
#include <QRect>
#include <QSize>

class QFont;

namespace tarnwhistle::windows {

// The forms are tabled in twips (1/1440 inch) for the default 9-point font, drawn at
// 15 twips per logical pixel, the classic 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

constexpr int Px(int twips) { return twips / kTwipsPerPixel; }

// How much larger than the tabled design a form is drawn for `font`: 1 at the default
// font, more where the font is larger, as dialog units follow a dialog's font. Scaling
// by the desktop's pixel ratio (QT_SCALE_FACTOR) needs nothing here: it scales logical
// pixels and fonts alike.
double ScaleFor(const QFont& font);

// Places the controls of one form at their tabled twips, scaled for the form's font,
// and places them again whenever that font changes.
class TwipsLayout : public QObject {
 public:
  // Whether a control may grow past its tabled size to show its whole caption: wider
  // to the right, taller about its middle.
  enum class Fit { AsTabled, Caption };

  // The form's own client size, in twips.
  TwipsLayout(QWidget* form, QSize twips);

  // Records `control` at `twips` (relative to its parent) and places it.
  void Place(QWidget* control, const QRect& twips, Fit fit = Fit::AsTabled);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Entry {
    QWidget* control;
    QRect twips;
    Fit fit;
  };
  void Apply(const Entry& entry, double scale) const;
  void ApplyAll();

  QWidget* form_;
  QSize twips_;
  QList<Entry> entries_;
};

QLabel* NewLabel(TwipsLayout& layout, QWidget* parent, const char* name, const QString& caption, const QRect& twips);

}  // namespace tarnwhistle::windows
