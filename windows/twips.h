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

// How a control follows a form made larger than tabled: the share of the extra width
// its left and right edges move by, and of the extra height its top and bottom. None
// keeps it where it is tabled.
struct TwipsGrow {
  double left = 0, right = 0, top = 0, bottom = 0;
};

// Places the controls of one form at their tabled twips, scaled for the form's font,
// and places them again whenever that font changes.
class TwipsLayout : public QObject {
 public:
  // Whether a control may grow past its tabled size to show its whole caption: wider
  // to the right, taller about its middle.
  enum class Fit { AsTabled, Caption };

  using Grow = TwipsGrow;

  // The form's own client size, in twips: its size, or with `grows` its smallest and its
  // size until it is enlarged.
  TwipsLayout(QWidget* form, QSize twips, bool grows = false);

  // Records `control` at `twips` (relative to its parent) and places it.
  void Place(QWidget* control, const QRect& twips, Fit fit = Fit::AsTabled, Grow grow = {});

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Entry {
    QWidget* control;
    QRect twips;
    Fit fit;
    Grow grow;
  };
  void Apply(const Entry& entry, double scale, QSize extra) const;
  QSize Extra(double scale) const;  // the form's size past its tabled one
  void ApplyAll();

  QWidget* form_;
  QSize twips_;
  bool grows_;
  QList<Entry> entries_;
};

QLabel* NewLabel(TwipsLayout& layout, QWidget* parent, const char* name, const QString& caption, const QRect& twips,
                 TwipsLayout::Grow grow = {});

}  // namespace tarnwhistle::windows
