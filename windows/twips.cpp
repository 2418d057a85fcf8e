#include "twips.h"

#include <QEvent>
#include <QFontMetrics>
#include <QRadioButton>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace tarnwhistle::windows {
namespace {

// The default font's metrics (DejaVu Sans at 9 points, 96 dpi), for which the forms
// were tabled. Fixed rather than measured so that a taller or wider family at 9 points
// scales too.
constexpr int kDesignFontHeight = 14;
constexpr int kDesignCharWidth = 6;

// Edges rather than sizes are rounded, so that controls that abut in twips still abut.
int Scaled(int twips, double scale) { return static_cast<int>(std::lround(twips * scale / kTwipsPerPixel)); }

QRect ScaledRect(const QRect& twips, double scale) {
  const int left = Scaled(twips.left(), scale);
  const int top = Scaled(twips.top(), scale);
  return QRect(left, top, std::max(1, Scaled(twips.left() + twips.width(), scale) - left),
               std::max(1, Scaled(twips.top() + twips.height(), scale) - top));
}

// The height a caption needs: the font's line, and an option's circle.
int CaptionHeight(const QWidget* control) {
  int height = control->fontMetrics().height();
  if (qobject_cast<const QRadioButton*>(control) != nullptr) {
    height = std::max(height, control->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, nullptr, control));
  }
  return height;
}

}  // namespace

double ScaleFor(const QFont& font) {
  const QFontMetrics metrics(font);
  return std::max({1.0, static_cast<double>(metrics.height()) / kDesignFontHeight,
                   static_cast<double>(metrics.averageCharWidth()) / kDesignCharWidth});
}

TwipsLayout::TwipsLayout(QWidget* form, QSize twips, bool grows)
    : QObject(form), form_(form), twips_(twips), grows_(grows) {
  form_->installEventFilter(this);
  ApplyAll();
}

void TwipsLayout::Place(QWidget* control, const QRect& twips, Fit fit, Grow grow) {
  entries_.append({control, twips, fit, grow});
  const double scale = ScaleFor(form_->font());
  Apply(entries_.last(), scale, Extra(scale));
}

QSize TwipsLayout::Extra(double scale) const {
  return (form_->size() - ScaledRect(QRect(QPoint(0, 0), twips_), scale).size()).expandedTo(QSize(0, 0));
}

void TwipsLayout::Apply(const Entry& entry, double scale, QSize extra) const {
  QRect place = ScaledRect(entry.twips, scale);
  const auto share = [](double part, int of) { return static_cast<int>(std::lround(part * of)); };
  place.adjust(share(entry.grow.left, extra.width()), share(entry.grow.top, extra.height()),
               share(entry.grow.right, extra.width()), share(entry.grow.bottom, extra.height()));
  if (entry.fit == Fit::Caption) {
    place.setWidth(std::max(place.width(), entry.control->sizeHint().width()));
    const int grow = CaptionHeight(entry.control) - place.height();
    if (grow > 0) place.adjust(0, -grow / 2, 0, grow - grow / 2);
  }
  entry.control->setGeometry(place);
}

void TwipsLayout::ApplyAll() {
  const double scale = ScaleFor(form_->font());
  const QSize tabled = ScaledRect(QRect(QPoint(0, 0), twips_), scale).size();
  if (!grows_) {
    form_->setFixedSize(tabled);
  } else {
    form_->setMinimumSize(tabled);
    if (!form_->isVisible()) form_->resize(tabled);
  }
  const QSize extra = Extra(scale);
  for (const Entry& entry : entries_) Apply(entry, scale, extra);
}

bool TwipsLayout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == form_ && (event->type() == QEvent::FontChange || event->type() == QEvent::Resize)) ApplyAll();
  return QObject::eventFilter(watched, event);
}

QLabel* NewLabel(TwipsLayout& layout, QWidget* parent, const char* name, const QString& caption, const QRect& twips,
                 TwipsLayout::Grow grow) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  layout.Place(label, twips, TwipsLayout::Fit::Caption, grow);
  return label;
}

}  // namespace tarnwhistle::windows
