#include "about_window.h"

#include <QPushButton>

#include "engine/messages.h"
#include "texts.h"
#include "twips.h"

namespace tarnwhistle::windows {

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmAbout");
  setWindowTitle(QStringLiteral("バージョン情報"));
  setFixedSize(Px(4680), Px(1575));

  NewLabel(this, "Lbl1", Text(messages::kVersionText), TwipsRect(240, 240, 1575, 180));
  NewLabel(this, "Lbl2", QStringLiteral("© 2026 Tarnwhistle 開発者"), TwipsRect(360, 720, 2460, 180));

  auto* ok_button = new QPushButton(QStringLiteral("OK"), this);
  ok_button->setObjectName("Cmd1");
  ok_button->setGeometry(TwipsRect(3240, 1080, 1215, 375));
  connect(ok_button, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tarnwhistle::windows
