// The forms at the fonts desktops use and, run again under QT_SCALE_FACTOR by ctest, at
// fractional scales: every caption whole, no two controls overlapping, every control
// inside its form, the separator lines drawn.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPixmap>
#include <QStyle>
#include <string>

#include "fake_window_services.h"
#include "platform/posix_file_system.h"
#include "row_name.h"
#include "windows/about_window.h"
#include "windows/main_window.h"

namespace tarnwhistle {
namespace {

const double kPointSizes[] = {9, 10, 11, 12, 14};

// The height a caption's text, and an option's circle, needs.
int CaptionHeight(const QWidget* control) {
  int height = control->fontMetrics().height();
  if (control->inherits("QRadioButton")) {
    height = std::max(height, control->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, nullptr, control));
  }
  return height;
}

// Checks the named controls of `form`: whole captions and text lines, inside their
// parents, and no two siblings overlapping.
void ExpectNothingClippedOrOverlapping(QWidget& form, const QStringList& names, const std::string& context) {
  QList<QWidget*> controls;
  for (const QString& name : names) {
    const QList<QWidget*> found = form.findChildren<QWidget*>(name);
    ASSERT_FALSE(found.isEmpty()) << name.toStdString();
    controls += found;
  }
  for (QWidget* control : controls) {
    const std::string what = context + ", " + control->objectName().toStdString() + " " +
                             std::string(control->metaObject()->className());
    const QRect place = control->geometry();
    EXPECT_TRUE(control->parentWidget()->rect().contains(place)) << what;
    if (control->inherits("QLabel") || control->inherits("QAbstractButton")) {
      EXPECT_GE(place.width(), control->sizeHint().width()) << what;
      EXPECT_GE(place.height(), CaptionHeight(control)) << what;
    }
    if (control->inherits("QPushButton")) {
      EXPECT_GE(place.height(), control->sizeHint().height()) << what;
    }
    if (control->inherits("QLineEdit") || control->inherits("QComboBox")) {
      EXPECT_GE(place.height(), control->fontMetrics().height() + 4) << what;  // the text and its frame
    }
    if (auto* frame = qobject_cast<QGroupBox*>(control)) {
      EXPECT_GE(place.width(), frame->fontMetrics().horizontalAdvance(frame->title()) + 16) << what;
      for (QWidget* inside : frame->findChildren<QWidget*>()) {
        EXPECT_GE(inside->y(), frame->fontMetrics().height()) << what << " title over " << inside->objectName().toStdString();
      }
    }
    for (QWidget* other : controls) {
      if (other != control && other->parentWidget() == control->parentWidget()) {
        EXPECT_FALSE(place.intersects(other->geometry())) << what << " overlaps " << other->objectName().toStdString();
      }
    }
  }
}

// A line is drawn when, across its strip in device pixels, its colour shows at the
// left, the middle and the right.
void ExpectLineDrawn(QWidget& window, const char* name, const std::string& context) {
  auto* line = window.findChild<QWidget*>(name);
  ASSERT_NE(line, nullptr) << name;
  const QImage image = window.grab().toImage();
  const double ratio = image.devicePixelRatio();
  const QRect strip(line->mapTo(&window, QPoint(0, 0)), line->size());
  const QColor ink = line->palette().color(QPalette::WindowText);
  for (double at : {0.05, 0.5, 0.95}) {
    const int x = static_cast<int>((strip.left() + strip.width() * at) * ratio);
    int inked = 0;
    for (int y = static_cast<int>(strip.top() * ratio) - 1; y <= static_cast<int>((strip.bottom() + 1) * ratio); ++y) {
      if (image.rect().contains(x, y) && image.pixelColor(x, y) == ink) ++inked;
    }
    EXPECT_GE(inked, 1) << context << ", " << name << " at " << at;
  }
}

class WindowLayout : public ::testing::TestWithParam<double> {};

TEST_P(WindowLayout, EveryFontShowsEveryCaptionWholeAndNothingOverlaps) {
  const double points = GetParam();
  const std::string scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toStdString();
  const std::string context = std::to_string(points).substr(0, 4) + " pt at " + scale + "x";
  QFont font = QApplication::font();
  font.setPointSizeF(points);

  platform::PosixFileSystem files;
  testkit::FakeWindowServices services;
  windows::MainWindow window(files, services);
  window.setFont(font);  // as a desktop's font setting arrives: after the window is built
  window.show();
  const QStringList names = {"Drv1", "Dir1", "Fil1", "Line2", "Lbl1", "Txt1", "Cmd1", "Txt2",
                             "Line1", "Frm1", "Opt1", "Cmd2", "Cmd3", "Lbl2", "Txt3"};
  ExpectNothingClippedOrOverlapping(window, names, context);
  for (const char* line : {"Line1", "Line2"}) ExpectLineDrawn(window, line, context);
  window.layout()->activate();
  EXPECT_EQ(window.size(), window.minimumSize()) << context << ": it opens as large as its form";
  EXPECT_GE(window.centralWidget()->width(), window.centralWidget()->childrenRect().right()) << context;
  // Enlarged, the lists and the path boxes take the room, and still nothing overlaps.
  const QSize lists = window.findChild<QWidget*>("Fil1")->size();
  const int box = window.findChild<QWidget*>("Txt3")->width();
  window.resize(window.size() + QSize(300, 200));
  window.layout()->activate();
  ExpectNothingClippedOrOverlapping(window, names, context + ", enlarged");
  EXPECT_EQ(window.findChild<QWidget*>("Fil1")->size(), lists + QSize(150, 200)) << context;
  EXPECT_EQ(window.findChild<QWidget*>("Txt3")->width(), box + 300) << context;

  windows::AboutWindow about;
  about.setFont(font);
  ExpectNothingClippedOrOverlapping(about, {"Lbl1", "Lbl2", "Lbl3", "Lbl4", "Cmd1"}, context + ", About");
}

INSTANTIATE_TEST_SUITE_P(, WindowLayout, ::testing::ValuesIn(kPointSizes),
                         testkit::NameRows(kPointSizes, [](double points) { return std::to_string(int(points)) + "pt"; }));

}  // namespace
}  // namespace tarnwhistle
