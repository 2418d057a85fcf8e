#include "about_window.h"

#include <QPushButton>

#include "engine/messages.h"
#include "texts.h"
#include "twips.h"

namespace tarnwhistle::windows {

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmAbout");
  setWindowTitle(QStringLiteral("バージョン情報"));
  auto* form = new TwipsLayout(this, QSize(4680, 1575));
  NewLabel(*form, this, "Lbl1", Text(messages::kVersionText), QRect(240, 240, 1575, 180));
  NewLabel(*form, this, "Lbl2", QStringLiteral("© 2026 Tarnwhistle 開発者"), QRect(360, 720, 2460, 180));
  NewLabel(*form, this, "Lbl3", QStringLiteral("MIT ライセンス"), QRect(360, 960, 2700, 180));
  NewLabel(*form, this, "Lbl4", QStringLiteral("マニュアル: man tarnwhistle"), QRect(360, 1200, 2700, 180));

  auto* ok_button = new QPushButton(QStringLiteral("OK"), this);
  ok_button->setObjectName("Cmd1");
  form->Place(ok_button, QRect(3240, 1080, 1215, 375));
  connect(ok_button, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace tarnwhistle::windows
