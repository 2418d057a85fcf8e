#include "main_window.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QUrl>
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
#include <QSettings>
#include <QStatusBar>
#include <QTreeView>
#include <chrono>
#include <filesystem>

#include "about_window.h"
#include "batch_window.h"
#include "controls.h"
#include "engine/messages.h"
#include "file_browser.h"
#include "progress_window.h"
#include "texts.h"
#include "twips.h"

// Resources live in a static library, so they are registered by hand.
static void LoadResources() { Q_INIT_RESOURCE(resources); }

namespace tarnwhistle::windows {
namespace {

const QString kDetecting = QStringLiteral("ファイル種類を検出しています…");

// How the controls follow a window made larger: the browser's lists share the extra
// width and take the extra height; what is below them moves down, the path boxes and
// the lines widen, and the commands keep to the right edge.
using Fit = TwipsLayout::Fit;
constexpr TwipsLayout::Grow kBelow{0, 0, 1, 1};
constexpr TwipsLayout::Grow kWiderBelow{0, 1, 1, 1};
constexpr TwipsLayout::Grow kRightBelow{1, 1, 1, 1};
const QString kReplaceQuestion = QStringLiteral("%1 は既にあります。置き換えますか？");

// Progress from a working thread, passed on to the window no more often than a screen
// can show it, and at every change of stage.
class ProgressThrottle {
 public:
  bool Due(Stage stage) {
    const auto now = std::chrono::steady_clock::now();
    if (stage == stage_ && now - last_ < std::chrono::milliseconds(40)) return false;
    stage_ = stage;
    last_ = now;
    return true;
  }

 private:
  Stage stage_ = Stage::Converting;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace

MainWindow::MainWindow(platform::FileSystem& files, platform::WindowServices& services, QWidget* parent)
    : QMainWindow(parent), files_(files), services_(services) {
  LoadResources();
  setObjectName("Tarnwhistle");
  setWindowTitle(Text(messages::kProductName));
  setWindowIcon(QIcon(":/tarnwhistle.svg"));
  setAcceptDrops(true);
  auto* client = new QWidget(this);
  setCentralWidget(client);
  // As large as its form, or larger: the lists and the path boxes take the room.
  auto* form = new TwipsLayout(client, QSize(6135, 6150), true);
  BuildBrowser(*form, client);
  BuildSource(*form, client);
  BuildTargetOptions(*form, client);
  BuildCommands(*form, client);
  BuildStatusLine();
  BuildMenus();
  Connect();
  SetTabOrder();
  Restore();
  resize(minimumSizeHint());
}

MainWindow::~MainWindow() { Remember(); }

void MainWindow::BuildBrowser(TwipsLayout& form, QWidget* client) {
  browser_ = new FileBrowser(services_, client);
  form.Place(browser_->drive_list(), QRect(120, 120, 2895, 300), Fit::AsTabled, {0, 0.5, 0, 0});
  form.Place(browser_->folder_tree(), QRect(120, 600, 2895, 2400), Fit::AsTabled, {0, 0.5, 0, 1});
  form.Place(browser_->file_list(), QRect(3120, 600, 2895, 2430), Fit::AsTabled, {0.5, 1, 0, 1});
  auto* line = new SeparatorLine(client);
  line->setObjectName("Line2");
  form.Place(line, QRect(120, 3120, 5880, kTwipsPerPixel), Fit::AsTabled, kWiderBelow);
}

// The source path, its detection and the kind detected.
void MainWindow::BuildSource(TwipsLayout& form, QWidget* client) {
  NewLabel(form, client, "Lbl1", QStringLiteral("変換ファイル名"), QRect(240, 3240, 1155, 180), kBelow);
  source_path_ = NewTextBox(new QLineEdit(client), "Txt1", QStringLiteral("変換ファイル名"));
  form.Place(source_path_, QRect(120, 3480, 5895, 270), Fit::AsTabled, kWiderBelow);
  detect_button_ = NewButton(client, "Cmd1", QStringLiteral("ファイル種類検出"));
  form.Place(detect_button_, QRect(120, 3840, 1695, 375), Fit::AsTabled, kBelow);
  detected_kind_box_ = NewTextBox(new DisplayBox(client), "Txt2", QStringLiteral("ファイル種類"));
  form.Place(detected_kind_box_, QRect(1920, 3840, 2775, 375), Fit::AsTabled, kBelow);
  auto* line = new SeparatorLine(client);
  line->setObjectName("Line1");
  form.Place(line, QRect(120, 4320, 5880, kTwipsPerPixel), Fit::AsTabled, kWiderBelow);
}

void MainWindow::BuildTargetOptions(TwipsLayout& form, QWidget* client) {
  auto* frame = new QGroupBox(QStringLiteral("出力ファイルの種類"), client);
  frame->setObjectName("Frm1");
  form.Place(frame, QRect(1920, 4440, 2295, 1215), Fit::AsTabled, kBelow);
  target_options_ = new QButtonGroup(this);
  const QList<QRadioButton*> options = NewTargetOptions(frame, target_options_, "Opt1");
  const QRect places[] = {QRect(240, 360, 1935, 180), QRect(240, 600, 1215, 180), QRect(240, 840, 1215, 180)};
  for (int i = 0; i < options.size(); ++i) form.Place(options[i], places[i], TwipsLayout::Fit::Caption);
}

// Convert, Cancel and the output path.
void MainWindow::BuildCommands(TwipsLayout& form, QWidget* client) {
  convert_button_ = NewButton(client, "Cmd2", QStringLiteral("変　　換"));
  form.Place(convert_button_, QRect(4440, 4680, 1455, 375), Fit::AsTabled, kRightBelow);
  close_button_ = NewButton(client, "Cmd3", QStringLiteral("取　　消"));
  form.Place(close_button_, QRect(4440, 5160, 1455, 375), Fit::AsTabled, kRightBelow);
  NewLabel(form, client, "Lbl2", QStringLiteral("出力ファイル名"), QRect(240, 5400, 1215, 255), kBelow);
  output_path_ = NewTextBox(new QLineEdit(client), "Txt3", QStringLiteral("出力ファイル名"));
  form.Place(output_path_, QRect(120, 5760, 5895, 270), Fit::AsTabled, kWiderBelow);
}

void MainWindow::BuildStatusLine() {
  statusBar()->setSizeGripEnabled(false);
  counts_line_ = new LiveText(statusBar());
  counts_line_->setObjectName("Lbl3");
  counts_line_->setAccessibleName(QStringLiteral("改行の数"));
  counts_line_->setContentsMargins(Px(120), 0, 0, 0);  // in line with the form's left edge
  statusBar()->addWidget(counts_line_, 1);
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
  QAction* manual = help->addAction(QStringLiteral("マニュアル(&M)"), this, &MainWindow::OnManual);
  manual->setObjectName("mnuManual");
  manual->setShortcut(QKeySequence::HelpContents);
  QAction* about = help->addAction(QStringLiteral("バージョン情報(&A)"), this, &MainWindow::OnAbout);
  about->setObjectName("mnuAbout");
}

void MainWindow::Connect() {
  connect(source_path_, &QLineEdit::textChanged, this, &MainWindow::OnSourcePathChanged);
  connect(output_path_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (text != output_bytes_.shown) output_bytes_ = {};  // bytes given go with the text that showed them
  });
  connect(detect_button_, &QPushButton::clicked, this, &MainWindow::OnDetect);
  connect(convert_button_, &QPushButton::clicked, this, &MainWindow::OnConvert);
  connect(close_button_, &QPushButton::clicked, this, &MainWindow::close);
  // idToggled, not a click: an option checked by an accessibility action or by code
  // sets the target too.
  connect(target_options_, &QButtonGroup::idToggled, this, &MainWindow::OnTargetToggled);
  connect(browser_, &FileBrowser::FileChosen, this, &MainWindow::OnFileChosen);
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

// The folders of the browser and of 開く as they were left; one that has gone since
// gives way to the working folder. The target options start unchosen every time, so
// that a conversion is always a choice.
void MainWindow::Restore() {
  const QSettings settings = WindowSettings();
  const QString folder = settings.value("main/folder").toString();
  browser_->ShowDirectory(!folder.isEmpty() && IsFolder(files_, LocalPath(folder)) ? folder : QDir::currentPath());
  open_folder_ = settings.value("main/open_folder").toString();
}

void MainWindow::Remember() {
  QSettings settings = WindowSettings();
  settings.setValue("main/folder", browser_->Directory());
  if (!open_folder_.isEmpty()) settings.setValue("main/open_folder", open_folder_);
}

// A new source path makes the old verdict meaningless: both the box and the kind go,
// so that Convert asks for detection again instead of converting the new file as if it
// were of the old one's kind. A detection still running for the old path is dropped.
//
// An output named for the old source would be replaced by the new one's conversion:
// one copied from it follows the new path, any other goes.
void MainWindow::OnSourcePathChanged() {
  const QString before = std::exchange(source_before_, source_path_->text());
  if (source_path_->text() != source_bytes_.shown) source_bytes_ = {};
  if (output_path_->text() == before && !before.isEmpty()) {
    output_path_->setText(source_before_);
    output_bytes_ = source_bytes_;
  } else {
    output_path_->clear();
  }
  detected_kind_box_->clear();
  detected_kind_ = LineEndingKind::None;
  examine_.Abandon();
  if (std::exchange(detecting_, false)) CloseProgress();
  ShowLiveText(counts_line_, {});
}

// Examines the file in one reading: its kind as soon as it is decided, then the counts
// of its whole line ends for the status line.
void MainWindow::OnDetect() {
  if (source_path_->text().isEmpty() || Busy()) return;
  browser_->SelectFile(source_path_->text());  // the file the window now works on
  const std::optional<std::string> local = PathIn(source_path_, source_bytes_);
  if (!local) {
    services_.ShowMessage(this, Text(messages::Text(Outcome::SourceMissing)));
    return;
  }
  ShowLiveText(counts_line_, {});
  detecting_ = true;
  ShowProgress(kDetecting, examine_);
  examine_.Start([this, path = *local](const std::stop_token& stop, const BackgroundTask::Outbox& outbox) {
    const Examination whole = ExamineFile(files_, path, stop, [&outbox, this](const Examination& verdict) {
      outbox.Post([this, verdict] { OnVerdict(verdict); });
    });
    outbox.Post([this, whole] { OnExamined(whole); });
  });
}

// No verdict (no line break anywhere) changes nothing, and says why.
void MainWindow::OnVerdict(const Examination& verdict) {
  detecting_ = false;
  CloseProgress();
  if (verdict.verdict == LineEndingKind::None) {
    services_.ShowMessage(this, Text(messages::Text(Outcome::NoLineBreak)));
  } else {
    detected_kind_box_->setText(Text(DisplayName(verdict.verdict)));
    detected_kind_ = verdict.verdict;
    detected_file_ = verdict.identity;
    detected_found_ = verdict.found;
  }
}

// A failure before the verdict is said in a message and keeps the verdict shown; one
// while counting, after it, is said in the status line instead of the counts.
void MainWindow::OnExamined(const Examination& whole) {
  if (std::exchange(detecting_, false)) {
    CloseProgress();
    if (whole.outcome != Outcome::Ok && whole.outcome != Outcome::Cancelled) {
      services_.ShowMessage(this, Text(messages::Describe(whole)));
    }
  } else if (whole.verdict != LineEndingKind::None && whole.outcome != Outcome::Cancelled) {
    ShowLiveText(counts_line_, whole.outcome == Outcome::Ok ? CountsText(whole.counts, whole.encoding_name)
                                                         : Text(messages::Describe(whole)));
  }
}

void MainWindow::OnConvert() {
  if (Busy()) return;
  const std::optional<std::string> source = PathIn(source_path_, source_bytes_);
  const std::optional<std::string> output = PathIn(output_path_, output_bytes_);
  if (!source || !output) {
    services_.ShowMessage(this, Text(messages::Text(!source ? Outcome::SourceMissing : Outcome::OutputCannotWrite)));
    return;
  }
  ConversionRequest request;
  request.source = *source;
  request.output = *output;
  request.detected = detected_kind_;
  request.target = target_kind_;
  request.detected_file = detected_file_;
  request.detected_found = detected_found_;
  if (WouldReplace(request) &&
      !services_.Confirm(this, kReplaceQuestion.arg(output_path_->text()), QStringLiteral("置き換える"))) {
    return;
  }
  ShowProgress(Text(messages::kConverting), convert_);
  convert_.Start([this, request](const std::stop_token& stop, const BackgroundTask::Outbox& outbox) {
    ProgressThrottle throttle;
    const Result result =
        CheckAndConvert(files_, request, stop, [&](std::uint64_t done, std::uint64_t total, Stage stage) {
          if (!throttle.Due(stage)) return;
          outbox.Post([this, done, total, stage] {
            if (progress_ == nullptr) return;
            progress_->SetLabel(Text(stage == Stage::Finishing ? messages::kFinishing : messages::kConverting));
            progress_->SetProgress(done, total);
          });
        });
    outbox.Post([this, result] { OnConverted(result); });
  });
}

// Whether `request`, refused by none of the checks that need no reading, would replace
// a file other than its source: asked first, since that file is lost.
bool MainWindow::WouldReplace(const ConversionRequest& request) {
  if (request.source.empty() || request.output.empty() || request.output == request.source ||
      request.detected == LineEndingKind::None || request.detected == LineEndingKind::Binary ||
      request.target == LineEndingKind::None) {
    return false;
  }
  const auto output = files_.Locate(request.output);
  if (!output || !files_.Stat(output.value).exists()) return false;
  const auto source = files_.Locate(request.source);
  return !source || !platform::SameExistingFile(files_, source.value, output.value);
}

// The refusal, the failure and why, "変換しました", or "中止しました" after 中止.
void MainWindow::OnConverted(const Result& result) {
  CloseProgress();
  services_.ShowMessage(this, Text(messages::Describe(result)));
}

void MainWindow::ShowProgress(const QString& label, BackgroundTask& task) {
  CloseProgress();
  progress_ = new ProgressWindow(this, Text(messages::kProductName), label);
  connect(progress_, &ProgressWindow::StopRequested, &task, &BackgroundTask::Stop);
}

void MainWindow::CloseProgress() { delete progress_; }

// The options are exclusive, so the one turned on names the target; one turned off
// changes nothing (none is ever turned off without another turning on).
void MainWindow::OnTargetToggled(int kind, bool checked) {
  if (checked) target_kind_ = static_cast<LineEndingKind>(kind);
}

void MainWindow::OnFileChosen(const QString& path) {
  source_path_->setText(path);
  output_path_->setText(path);
}

void MainWindow::OpenFile(const std::string& path) {
  if (path.empty()) return;
  std::error_code failed;
  const std::string here = std::filesystem::current_path(failed).native();
  const std::string whole = path.front() == '/' || failed ? path : platform::JoinPath(here, path);
  browser_->ShowDirectory(QFileInfo(PathText(whole)).absolutePath());
  ShowPath(source_path_, source_bytes_, whole);
  ShowPath(output_path_, output_bytes_, whole);
  browser_->SelectFile(source_path_->text());
}

void MainWindow::ShowPath(QLineEdit* box, KnownBytes& known, const std::string& bytes) {
  known = {PathText(bytes), bytes};
  box->setText(known.shown);
}

std::optional<std::string> MainWindow::PathIn(const QLineEdit* box, const KnownBytes& known) {
  if (!known.bytes.empty() && box->text() == known.shown) return known.bytes;
  return UnambiguousLocalPath(files_, box->text());
}

// The dialog opens where it was left, or where the browser is; it only shows the disk:
// the file chosen is read through `files` like any other.
void MainWindow::OnOpen() {
  const bool known = !open_folder_.isEmpty() && IsFolder(files_, LocalPath(open_folder_));
  const QString path = services_.AskFileToOpen(this, known ? open_folder_ : browser_->Directory());
  if (path.isEmpty()) return;
  open_folder_ = QFileInfo(path).absolutePath();
  // The dialog gives a name that is not UTF-8 with U+FFFD in it: its bytes are found again.
  const std::optional<std::string> bytes = UnambiguousLocalPath(files_, path);
  if (!bytes) return services_.ShowMessage(this, Text(messages::Text(Outcome::SourceMissing)));
  OpenFile(*bytes);
}

// The README beside the program's sources where it runs from its build, else the
// installed manual page, with whatever the desktop opens them with.
void MainWindow::OnManual() {
  const QFileInfo readme(QCoreApplication::applicationDirPath() + QStringLiteral("/../../README.md"));
  const QString url = readme.exists() ? QUrl::fromLocalFile(readme.canonicalFilePath()).toString()
                                      : QStringLiteral("man:tarnwhistle(1)");
  if (!services_.OpenUrl(url)) {
    services_.ShowMessage(this, Text(messages::Text(Outcome::ManualNotOpened)));
  }
}

void MainWindow::OnAbout() {
  AboutWindow about(this);
  about.setWindowIcon(windowIcon());
  about.exec();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

// One file is opened here; several, or a folder, go to the batch window.
void MainWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::string> paths = DroppedPaths(event->mimeData());
  if (paths.empty()) return;
  event->acceptProposedAction();
  if (paths.size() == 1 && !IsFolder(files_, paths.front())) {
    OpenFile(paths.front());
  } else {
    OpenBatch(paths);
  }
}

BatchWindow* MainWindow::OpenBatch(const std::vector<std::string>& paths) {
  if (batch_window_ == nullptr) {
    batch_window_ = new BatchWindow(files_, services_, this);
    batch_window_->setAttribute(Qt::WA_DeleteOnClose);
    batch_window_->setWindowIcon(windowIcon());
  }
  batch_window_->AddPaths(paths);
  batch_window_->show();
  batch_window_->raise();
  batch_window_->activateWindow();
  return batch_window_;
}

}  // namespace tarnwhistle::windows
