#include "about_window.h"

#include <QLabel>
#include <QPushButton>

#include "engine/messages.h"
#include "texts.h"
#include "twips.h"

namespace tarnwhistle::windows {

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmAbout");
  setWindowTitle(QStringLiteral("バージョン情報"));
  setFixedSize(Px(4680), Px(1575));

  auto* lbl1 = new QLabel(Text(messages::kVersionText), this);
  lbl1->setObjectName("Lbl1");
  lbl1->setGeometry(TwipsRect(240, 240, 1575, 180));
  WidenToFitText(lbl1);

  auto* lbl2 = new QLabel(QStringLiteral("© 2026 Tarnwhistle 開発者"), this);
  lbl2->setObjectName("Lbl2");
  lbl2->setGeometry(TwipsRect(360, 720, 2460, 180));
  WidenToFitText(lbl2);

  auto* cmd1 = new QPushButton(QStringLiteral("OK"), this);
  cmd1->setObjectName("Cmd1");
  cmd1->setGeometry(TwipsRect(3240, 1080, 1215, 375));
  connect(cmd1, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tarnwhistle::windows
