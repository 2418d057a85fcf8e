#include "main_window.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

#include "about_window.h"
#include "convert_command.h"
#include "engine/detection.h"
#include "engine/messages.h"
#include "file_browser.h"
#include "texts.h"
#include "twips.h"

// Resources live in a static library, so they are registered by hand.
static void LoadResources() { Q_INIT_RESOURCE(resources); }

namespace tarnwhistle::windows {
namespace {

QLabel* NewLabel(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
  auto* label = new QLabel(caption, parent);
  label->setObjectName(name);
  label->setGeometry(place);
  WidenToFitText(label);
  return label;
}

QLineEdit* NewTextBox(QWidget* parent, const char* name, const QString& accessible_name, const QRect& place) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  box->setAccessibleName(accessible_name);
  box->setGeometry(place);
  return box;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);  // Enter and Esc press no button of this window
  button->setGeometry(place);
  return button;
}

QFrame* NewLine(QWidget* parent, const char* name, int left, int top, int right) {
  auto* line = new QFrame(parent);
  line->setObjectName(name);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Plain);
  line->setGeometry(Px(left), Px(top), Px(right - left), 1);
  return line;
}

// The one local file (not a folder) a drag carries, or "" when it carries none.
QString DraggedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().first();
  if (!url.isLocalFile() || QFileInfo(url.toLocalFile()).isDir()) return {};
  return url.toLocalFile();
}

}  // namespace

MainWindow::MainWindow(platform::FileSystem& files, platform::WindowServices& services, QWidget* parent)
    : QMainWindow(parent), files_(files), services_(services) {
  LoadResources();
  setObjectName("Tarnwhistle");
  setWindowTitle(Text(messages::kProductName));
  setWindowIcon(QIcon(":/tarnwhistle.svg"));
  setAcceptDrops(true);
  BuildControls();
  BuildMenus();
  SetTabOrder();
  FormLoad();
}

void MainWindow::BuildControls() {
  auto* client = new QWidget(this);
  client->setFixedSize(Px(6135), Px(6150));
  setCentralWidget(client);

  browser_ = new FileBrowser(services_, client);
  browser_->Drv1()->setGeometry(TwipsRect(120, 120, 2895, 300));
  browser_->Dir1()->setGeometry(TwipsRect(120, 600, 2895, 2400));
  browser_->Fil1()->setGeometry(TwipsRect(3120, 600, 2895, 2430));
  NewLine(client, "Line2", 120, 3120, 6000);

  NewLabel(client, "Lbl1", QStringLiteral("変換ファイル名"), TwipsRect(240, 3240, 1155, 180));
  txt1_ = NewTextBox(client, "Txt1", QStringLiteral("変換ファイル名"), TwipsRect(120, 3480, 5895, 270));
  cmd1_ = NewButton(client, "Cmd1", QStringLiteral("ファイル種類検出"), TwipsRect(120, 3840, 1695, 375));
  txt2_ = NewTextBox(client, "Txt2", QStringLiteral("ファイル種類"), TwipsRect(1920, 3840, 2775, 375));
  NewLine(client, "Line1", 120, 4320, 6000);

  auto* frm1 = new QGroupBox(QStringLiteral("出力ファイルの種類"), client);
  frm1->setObjectName("Frm1");
  frm1->setGeometry(TwipsRect(1920, 4440, 2295, 1215));
  const QString captions[3] = {QStringLiteral("MS-DOS(Windows)"), QStringLiteral("UNIX"), QStringLiteral("MAC")};
  const QRect places[3] = {TwipsRect(240, 360, 1935, 180), TwipsRect(240, 600, 1215, 180),
                           TwipsRect(240, 840, 1215, 180)};
  for (int i = 0; i < 3; ++i) {
    opt1_[i] = new QRadioButton(captions[i], frm1);
    opt1_[i]->setObjectName("Opt1");
    opt1_[i]->setProperty("index", i);
    opt1_[i]->setGeometry(places[i]);
    WidenToFitText(opt1_[i]);
    connect(opt1_[i], &QRadioButton::clicked, this, &MainWindow::Opt1Click);
  }

  cmd2_ = NewButton(client, "Cmd2", QStringLiteral("変　　換"), TwipsRect(4440, 4680, 1455, 375));
  cmd3_ = NewButton(client, "Cmd3", QStringLiteral("取　　消"), TwipsRect(4440, 5160, 1455, 375));
  NewLabel(client, "Lbl2", QStringLiteral("出力ファイル名"), TwipsRect(240, 5400, 1215, 255));
  txt3_ = NewTextBox(client, "Txt3", QStringLiteral("出力ファイル名"), TwipsRect(120, 5760, 5895, 270));

  connect(txt1_, &QLineEdit::textChanged, this, &MainWindow::Txt1Change);
  connect(cmd1_, &QPushButton::clicked, this, &MainWindow::Cmd1Click);
  connect(cmd2_, &QPushButton::clicked, this, &MainWindow::Cmd2Click);
  connect(cmd3_, &QPushButton::clicked, this, &MainWindow::Cmd3Click);
  connect(browser_, &FileBrowser::FileClicked, this, &MainWindow::Fil1Click);
  browser_->ShowDirectory(QDir::currentPath());
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  file->menuAction()->setObjectName("mnuFile");
  file->setObjectName("mnuFile");
  QAction* open = file->addAction(QStringLiteral("開く(&A)"), this, &MainWindow::MnuOpenClick);
  open->setObjectName("mnuOpen");
  QAction* end = file->addAction(QStringLiteral("終了(&X)"), this, &MainWindow::Cmd3Click);
  end->setObjectName("mnuEnd");

  QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  help->menuAction()->setObjectName("mnuHelp");
  help->setObjectName("mnuHelp");
  QAction* about = help->addAction(QStringLiteral("バージョン情報(&A)"), this, &MainWindow::MnuAboutClick);
  about->setObjectName("mnuAbout");
}

// Drv1, Dir1, Fil1, Txt1, Cmd1, Txt3, Txt2, Cmd2, Cmd3, then the target options; the
// labels and the frame take no focus.
void MainWindow::SetTabOrder() {
  QWidget* order[] = {browser_->Drv1(), browser_->Dir1(), browser_->Fil1(), txt1_, cmd1_, txt3_,
                      txt2_,            cmd2_,            cmd3_,            opt1_[0], opt1_[1], opt1_[2]};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void MainWindow::FormLoad() {
  detected_kind_ = LineEndingKind::None;
  target_kind_ = LineEndingKind::None;
}

// A new source path makes the old verdict meaningless: both the box and the kind go,
// so that Convert asks for detection again instead of converting the new file as if it
// were of the old one's kind.
void MainWindow::Txt1Change() {
  txt2_->clear();
  detected_kind_ = LineEndingKind::None;
}

void MainWindow::Cmd1Click() {
  const QString path = txt1_->text();
  if (path.isEmpty()) return;
  Detection detection = DetectLineEndings(files_, LocalPath(path));
  if (detection.status != Status::Ok) {
    services_.ShowMessage(this, Text(messages::ForStatus(detection.status)));
    return;
  }
  if (detection.verdict == LineEndingKind::None) return;  // no verdict changes nothing
  txt2_->setText(Text(DisplayName(detection.verdict)));
  detected_kind_ = detection.verdict;
}

void MainWindow::Cmd2Click() {
  RunConvertCommand(files_, services_, this,
                    {LocalPath(txt1_->text()), LocalPath(txt3_->text()), detected_kind_, target_kind_});
}

void MainWindow::Cmd3Click() { close(); }

// Reads the three options in order rather than trusting the one clicked; with none on,
// the target stays as it was.
void MainWindow::Opt1Click() {
  const LineEndingKind kinds[3] = {LineEndingKind::MsDos, LineEndingKind::Unix, LineEndingKind::Mac};
  for (int i = 0; i < 3; ++i) {
    if (opt1_[i]->isChecked()) target_kind_ = kinds[i];
  }
}

void MainWindow::Fil1Click(const QString& path) {
  txt1_->setText(path);
  txt3_->setText(txt1_->text());
}

void MainWindow::OpenFile(const QString& path) {
  const QFileInfo file(path);
  browser_->ShowDirectory(file.absolutePath());
  Fil1Click(QDir::toNativeSeparators(file.absoluteFilePath()));
}

void MainWindow::MnuOpenClick() {
  const QString path = services_.AskFileToOpen(this, browser_->Directory());
  if (!path.isEmpty()) OpenFile(path);
}

void MainWindow::MnuAboutClick() {
  AboutWindow about(this);
  about.setWindowIcon(windowIcon());
  about.exec();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = DraggedFile(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  OpenFile(path);
}

}  // namespace tarnwhistle::windows
