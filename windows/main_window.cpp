#include "main_window.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QThreadPool>
#include <QTreeView>

#include "about_window.h"
#include "batch_window.h"
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

QLineEdit* NewTextBox(TwipsLayout& layout, QWidget* parent, const char* name, const QString& accessible_name,
                      const QRect& twips) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  box->setAccessibleName(accessible_name);
  layout.Place(box, twips);
  return box;
}

// `accessible_name` is the caption as it is spoken: without the spaces that spread a
// short caption across its button.
QPushButton* NewButton(TwipsLayout& layout, QWidget* parent, const char* name, const QString& caption,
                       const QString& accessible_name, const QRect& twips) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setAccessibleName(accessible_name);
  // Enter presses the focused button, as on Windows. With no default button in the
  // window, Enter in a text box still presses none.
  button->setAutoDefault(true);
  layout.Place(button, twips);
  return button;
}

// The line's own colour fills its whole strip: QFrame draws its line one logical pixel
// wide at the strip's middle, which fractional scale factors can round away.
QFrame* NewLine(TwipsLayout& layout, QWidget* parent, const char* name, int left, int top, int right) {
  auto* line = new QFrame(parent);
  line->setObjectName(name);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Plain);
  line->setBackgroundRole(QPalette::WindowText);
  line->setAutoFillBackground(true);
  layout.Place(line, QRect(left, top, right - left, kTwipsPerPixel));
  return line;
}

// The local files and folders a drag carries; empty when it carries anything else.
QStringList DraggedPaths(const QMimeData* data) {
  QStringList paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    paths.append(url.toLocalFile());
  }
  return paths;
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

MainWindow::~MainWindow() {
  AbandonCount();
  count_pool_->waitForDone();
}

void MainWindow::BuildControls() {
  auto* client = new QWidget(this);
  setCentralWidget(client);
  layout()->setSizeConstraint(QLayout::SetFixedSize);  // the window is as large as its form, never larger
  auto* form = new TwipsLayout(client, QSize(6135, 6150));

  browser_ = new FileBrowser(services_, client);
  form->Place(browser_->drive_list(), QRect(120, 120, 2895, 300));
  form->Place(browser_->folder_tree(), QRect(120, 600, 2895, 2400));
  form->Place(browser_->file_list(), QRect(3120, 600, 2895, 2430));
  NewLine(*form, client, "Line2", 120, 3120, 6000);

  NewLabel(*form, client, "Lbl1", QStringLiteral("変換ファイル名"), QRect(240, 3240, 1155, 180));
  source_path_ = NewTextBox(*form, client, "Txt1", QStringLiteral("変換ファイル名"), QRect(120, 3480, 5895, 270));
  detect_button_ = NewButton(*form, client, "Cmd1", QStringLiteral("ファイル種類検出"),
                             QStringLiteral("ファイル種類検出"), QRect(120, 3840, 1695, 375));
  detected_kind_box_ = NewTextBox(*form, client, "Txt2", QStringLiteral("ファイル種類"), QRect(1920, 3840, 2775, 375));
  NewLine(*form, client, "Line1", 120, 4320, 6000);

  auto* target_frame = new QGroupBox(QStringLiteral("出力ファイルの種類"), client);
  target_frame->setObjectName("Frm1");
  form->Place(target_frame, QRect(1920, 4440, 2295, 1215));
  target_options_ = new QButtonGroup(this);
  const struct {
    LineEndingKind kind;
    const char* caption;
    QRect twips;
  } options[] = {{LineEndingKind::MsDos, "MS-DOS(Windows)", QRect(240, 360, 1935, 180)},
                 {LineEndingKind::Unix, "UNIX", QRect(240, 600, 1215, 180)},
                 {LineEndingKind::Mac, "MAC", QRect(240, 840, 1215, 180)}};
  for (const auto& option : options) {
    auto* button = new QRadioButton(QString::fromLatin1(option.caption), target_frame);
    button->setObjectName("Opt1");
    form->Place(button, option.twips, TwipsLayout::Fit::Caption);
    target_options_->addButton(button, static_cast<int>(option.kind));
  }

  convert_button_ = NewButton(*form, client, "Cmd2", QStringLiteral("変　　換"), QStringLiteral("変換"),
                              QRect(4440, 4680, 1455, 375));
  close_button_ = NewButton(*form, client, "Cmd3", QStringLiteral("取　　消"), QStringLiteral("取消"),
                            QRect(4440, 5160, 1455, 375));
  NewLabel(*form, client, "Lbl2", QStringLiteral("出力ファイル名"), QRect(240, 5400, 1215, 255));
  output_path_ = NewTextBox(*form, client, "Txt3", QStringLiteral("出力ファイル名"), QRect(120, 5760, 5895, 270));

  statusBar()->setSizeGripEnabled(false);
  counts_line_ = new QLabel(statusBar());
  counts_line_->setObjectName("Lbl3");
  counts_line_->setAccessibleName(QStringLiteral("改行の数"));
  counts_line_->setContentsMargins(Px(120), 0, 0, 0);  // in line with the form's left edge
  statusBar()->addWidget(counts_line_, 1);
  count_pool_ = new QThreadPool(this);

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
  open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  QAction* batch = file->addAction(QStringLiteral("一括変換(&B)..."), this, [this] { OpenBatch({}); });
  batch->setObjectName("mnuBatch");
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
  AbandonCount();
}

void MainWindow::OnDetect() {
  const QString path = source_path_->text();
  if (path.isEmpty()) return;
  const std::optional<std::string> local_path = UnambiguousLocalPath(path);
  if (!local_path) {
    services_.ShowMessage(this, Text(messages::kSourceMissing));
    return;
  }
  Detection detection = DetectLineEndings(files_, *local_path);
  if (detection.status != Status::Ok) {
    services_.ShowMessage(this, Text(messages::ForStatus(detection.status, detection.reason)));
    return;
  }
  if (detection.verdict == LineEndingKind::None) {  // no verdict changes nothing, and says why
    services_.ShowMessage(this, Text(messages::kNoLineBreak));
    return;
  }
  detected_kind_box_->setText(Text(DisplayName(detection.verdict)));
  detected_kind_ = detection.verdict;
  detected_file_ = detection.identity;
  StartCount(*local_path);
}

void MainWindow::StartCount(const std::string& path) {
  AbandonCount();
  auto stop = std::make_shared<std::stop_source>();
  stop_count_ = stop;
  count_pool_->start([this, path, stop, count = latest_count_] {
    Examination result = ExamineFile(files_, path, stop->get_token());
    // Queued: the result is shown by the window's thread, which the destructor keeps
    // alive until every count has ended.
    QMetaObject::invokeMethod(this, [this, count, result] { OnCounted(count, result); }, Qt::QueuedConnection);
  });
}

void MainWindow::AbandonCount() {
  ++latest_count_;
  if (stop_count_) stop_count_->request_stop();
  stop_count_.reset();
  counts_line_->clear();
}

void MainWindow::OnCounted(std::uint64_t count, const Examination& result) {
  if (count != latest_count_ || result.status != Status::Ok) return;
  counts_line_->setText(CountsText(result.counts, result.encoding));
}

void MainWindow::OnConvert() {
  const std::optional<std::string> source = UnambiguousLocalPath(source_path_->text());
  const std::optional<std::string> output = UnambiguousLocalPath(output_path_->text());
  if (!source || !output) {
    services_.ShowMessage(this, Text(!source ? messages::kSourceMissing : messages::kOutputUnwritable));
    return;
  }
  ConversionRequest request;
  request.source = *source;
  request.output = *output;
  request.detected = detected_kind_;
  request.target = target_kind_;
  request.detected_file = detected_file_;
  RunConvertCommand(files_, services_, this, request);
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
  if (!DraggedPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

// One file is opened here; several, or a folder, go to the batch window.
void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList paths = DraggedPaths(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  if (paths.size() == 1 && !QFileInfo(paths.first()).isDir()) {
    OpenFile(paths.first());
  } else {
    OpenBatch(paths);
  }
}

void MainWindow::OpenBatch(const QStringList& paths) {
  if (batch_window_ == nullptr) {
    batch_window_ = new BatchWindow(files_, services_, this);
    batch_window_->setAttribute(Qt::WA_DeleteOnClose);
    batch_window_->setWindowIcon(windowIcon());
  }
  batch_window_->AddPaths(paths);
  batch_window_->show();
  batch_window_->raise();
  batch_window_->activateWindow();
}

}  // namespace tarnwhistle::windows
