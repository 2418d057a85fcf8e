#pragma once

#include <QLabel>
#include <QRect>
#include <QWidget>
#include <algorithm>

namespace tarnwhistle::windows {

// The layout is given in twips (1/1440 inch) and drawn at 15 twips per logical pixel,
// the classic 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

constexpr int Px(int twips) { return twips / kTwipsPerPixel; }

inline QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

// Widens a caption-bearing control whose text would be cut at the desktop's font; its
// place and height stay as laid out.
inline void WidenToFitText(QWidget* widget) {
  widget->resize(std::max(widget->width(), widget->sizeHint().width()), widget->height());
}

inline QLabel* NewLabel(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setGeometry(place);
  WidenToFitText(label);
  return label;
}

}  // namespace tarnwhistle::windows
