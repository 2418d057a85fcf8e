#include "main_window.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
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
}

void MainWindow::BuildControls() {
  auto* client = new QWidget(this);
  client->setFixedSize(Px(6135), Px(6150));
  setCentralWidget(client);

  browser_ = new FileBrowser(services_, client);
  browser_->drive_list()->setGeometry(TwipsRect(120, 120, 2895, 300));
  browser_->folder_tree()->setGeometry(TwipsRect(120, 600, 2895, 2400));
  browser_->file_list()->setGeometry(TwipsRect(3120, 600, 2895, 2430));
  NewLine(client, "Line2", 120, 3120, 6000);

  NewLabel(client, "Lbl1", QStringLiteral("変換ファイル名"), TwipsRect(240, 3240, 1155, 180));
  source_path_ = NewTextBox(client, "Txt1", QStringLiteral("変換ファイル名"), TwipsRect(120, 3480, 5895, 270));
  detect_button_ = NewButton(client, "Cmd1", QStringLiteral("ファイル種類検出"), TwipsRect(120, 3840, 1695, 375));
  detected_kind_box_ = NewTextBox(client, "Txt2", QStringLiteral("ファイル種類"), TwipsRect(1920, 3840, 2775, 375));
  NewLine(client, "Line1", 120, 4320, 6000);

  auto* target_frame = new QGroupBox(QStringLiteral("出力ファイルの種類"), client);
  target_frame->setObjectName("Frm1");
  target_frame->setGeometry(TwipsRect(1920, 4440, 2295, 1215));
  target_options_ = new QButtonGroup(this);
  const struct {
    LineEndingKind kind;
    const char* caption;
    QRect place;
  } options[] = {{LineEndingKind::MsDos, "MS-DOS(Windows)", TwipsRect(240, 360, 1935, 180)},
                 {LineEndingKind::Unix, "UNIX", TwipsRect(240, 600, 1215, 180)},
                 {LineEndingKind::Mac, "MAC", TwipsRect(240, 840, 1215, 180)}};
  for (const auto& option : options) {
    auto* button = new QRadioButton(QString::fromLatin1(option.caption), target_frame);
    button->setObjectName("Opt1");
    button->setGeometry(option.place);
    WidenToFitText(button);
    target_options_->addButton(button, static_cast<int>(option.kind));
  }

  convert_button_ = NewButton(client, "Cmd2", QStringLiteral("変　　換"), TwipsRect(4440, 4680, 1455, 375));
  close_button_ = NewButton(client, "Cmd3", QStringLiteral("取　　消"), TwipsRect(4440, 5160, 1455, 375));
  NewLabel(client, "Lbl2", QStringLiteral("出力ファイル名"), TwipsRect(240, 5400, 1215, 255));
  output_path_ = NewTextBox(client, "Txt3", QStringLiteral("出力ファイル名"), TwipsRect(120, 5760, 5895, 270));

  connect(source_path_, &QLineEdit::textChanged, this, &MainWindow::OnSourcePathChanged);
  connect(detect_button_, &QPushButton::clicked, this, &MainWindow::OnDetect);
  connect(convert_button_, &QPushButton::clicked, this, &MainWindow::OnConvert);
  connect(close_button_, &QPushButton::clicked, this, &MainWindow::close);
  // idToggled, not a click: an option checked by an accessibility action or by code
  // sets the target too.
  connect(target_options_, &QButtonGroup::idToggled, this, &MainWindow::OnTargetToggled);
  connect(browser_, &FileBrowser::FileChosen, this, &MainWindow::OnFileChosen);
  browser_->ShowDirectory(QDir::currentPath());
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  file->menuAction()->setObjectName("mnuFile");
  file->setObjectName("mnuFile");
  QAction* open = file->addAction(QStringLiteral("開く(&A)"), this, &MainWindow::OnOpen);
  open->setObjectName("mnuOpen");
  QAction* end = file->addAction(QStringLiteral("終了(&X)"), this, &MainWindow::close);
  end->setObjectName("mnuEnd");

  QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  help->menuAction()->setObjectName("mnuHelp");
  help->setObjectName("mnuHelp");
  QAction* about = help->addAction(QStringLiteral("バージョン情報(&A)"), this, &MainWindow::OnAbout);
  about->setObjectName("mnuAbout");
}

// The browser, the source path and its detection, the output path, the detected kind,
// Convert and Cancel, then the target options; the labels and the frame take no focus.
void MainWindow::SetTabOrder() {
  QList<QWidget*> order = {browser_->drive_list(), browser_->folder_tree(), browser_->file_list(),
                           source_path_,           detect_button_,          output_path_,
                           detected_kind_box_,     convert_button_,         close_button_};
  for (QAbstractButton* option : target_options_->buttons()) order.append(option);
  for (qsizetype i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
}

// A new source path makes the old verdict meaningless: both the box and the kind go,
// so that Convert asks for detection again instead of converting the new file as if it
// were of the old one's kind.
void MainWindow::OnSourcePathChanged() {
  detected_kind_box_->clear();
  detected_kind_ = LineEndingKind::None;
}

void MainWindow::OnDetect() {
  const QString path = source_path_->text();
  if (path.isEmpty()) return;
  Detection detection = DetectLineEndings(files_, LocalPath(path));
  if (detection.status != Status::Ok) {
    services_.ShowMessage(this, Text(messages::ForStatus(detection.status)));
    return;
  }
  if (detection.verdict == LineEndingKind::None) return;  // no verdict changes nothing
  detected_kind_box_->setText(Text(DisplayName(detection.verdict)));
  detected_kind_ = detection.verdict;
}

void MainWindow::OnConvert() {
  RunConvertCommand(files_, services_, this,
                    {LocalPath(source_path_->text()), LocalPath(output_path_->text()), detected_kind_, target_kind_});
}

// The options are exclusive, so the one turned on names the target; one turned off
// changes nothing (none is ever turned off without another turning on).
void MainWindow::OnTargetToggled(int kind, bool checked) {
  if (checked) target_kind_ = static_cast<LineEndingKind>(kind);
}

void MainWindow::OnFileChosen(const QString& path) {
  source_path_->setText(path);
  output_path_->setText(path);
}

void MainWindow::OpenFile(const QString& path) {
  const QFileInfo file(path);
  browser_->ShowDirectory(file.absolutePath());
  OnFileChosen(QDir::toNativeSeparators(file.absoluteFilePath()));
}

void MainWindow::OnOpen() {
  const QString path = services_.AskFileToOpen(this, browser_->Directory());
  if (!path.isEmpty()) OpenFile(path);
}

void MainWindow::OnAbout() {
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
