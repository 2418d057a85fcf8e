#include "batch_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTableWidget>
#include <QTimer>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "controls.h"
#include "engine/messages.h"
#include "platform/replacement_file.h"
#include "texts.h"

namespace tarnwhistle::windows {
namespace {

enum Column { kPath, kKind, kCrLf, kLf, kCr, kMixed, kResult, kColumns };

constexpr int kSteps = 1000;
const QString kNothingFound = QStringLiteral("該当するファイルがありません");
const QString kResultsName = QStringLiteral("一括変換の結果.csv");
const QString kDiscardQuestion = QStringLiteral("一覧（%1 個のファイル）を破棄して閉じますか？ファイルそのものは変わりません。");

// "*.txt; *.md" as the patterns the engine takes; "*" alone, or nothing, takes every name.
std::vector<std::string> Patterns(const QString& text) {
  std::vector<std::string> patterns;
  for (const QString& part : text.split(';', Qt::SkipEmptyParts)) {
    const QString pattern = part.trimmed();
    if (pattern == QLatin1String("*")) return {};
    if (!pattern.isEmpty()) patterns.push_back(LocalPath(pattern));
  }
  return patterns;
}

// The kind as the table shows it: 改行なし for a text without a line break, and the
// encoding after the kind when it can be told.
QString KindText(LineEndingKind kind, std::string_view encoding) {
  return WithEncoding(kind == LineEndingKind::None ? QStringLiteral("改行なし") : Text(DisplayName(kind)), encoding);
}

// One CSV field: a leading =, +, -, @, TAB or CR, which a spreadsheet would take for a
// formula, gets a ' before it; quoted when it holds a separator, a quote or a line break.
QString CsvField(QString text) {
  if (!text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front())) text.prepend('\'');
  if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r')) return text;
  return '"' + text.replace('"', QStringLiteral("\"\"")) + '"';
}

void SetCell(QTableWidget* table, std::size_t row, int column, const QString& text) {
  QTableWidgetItem* item = table->item(static_cast<int>(row), column);
  item->setText(text);
  item->setToolTip(column == kPath || column == kResult ? text : QString());
}

}  // namespace

BatchWindow::BatchWindow(platform::FileSystem& files, platform::WindowServices& services, QWidget* parent)
    : QDialog(parent), files_(files), services_(services) {
  setObjectName("FrmBatch");
  setWindowTitle(QStringLiteral("一括変換"));
  setAcceptDrops(true);
  auto* layout = new QVBoxLayout(this);
  BuildTable(layout);
  BuildAdding(layout);
  BuildChoosing(layout);
  BuildTarget(layout);
  BuildOutput(layout);
  BuildProgress(layout);
  BuildCommands(layout);
  Restore();
  UpdateEnabled();
}

// As large as the table needs, at most most of the screen it opens on, whatever the
// scale: every button stays on it.
void BatchWindow::showEvent(QShowEvent* event) {
  if (!sized_ && screen() != nullptr) {
    sized_ = true;
    const QSize room = screen()->availableGeometry().size() * 9 / 10;
    const QFontMetrics metrics(font());
    resize(QSize(metrics.horizontalAdvance(QLatin1Char('x')) * 120, metrics.height() * 44).boundedTo(room)
               .expandedTo(minimumSizeHint().boundedTo(room)));
  }
  QDialog::showEvent(event);
}

BatchWindow::~BatchWindow() { Remember(); }

void BatchWindow::BuildTable(QBoxLayout* layout) {
  table_ = new QTableWidget(0, kColumns, this);
  table_->setObjectName("grdFiles");
  table_->setAccessibleName(QStringLiteral("変換するファイル"));
  table_->setHorizontalHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("種類"), QStringLiteral("CR LF"),
                                     QStringLiteral("LF"), QStringLiteral("CR"), QStringLiteral("混在"),
                                     QStringLiteral("結果")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setTabKeyNavigation(false);  // Tab leaves the table for the next control
  // The middle of a long path goes, so that both its first folders and its name show;
  // the whole path is in the tooltip, and it is what assistive tools read.
  table_->setTextElideMode(Qt::ElideMiddle);
  table_->setWordWrap(false);
  // Every column can be widened; the name takes what the others leave, and the result
  // what is left past the last column. Widths follow the font.
  QHeaderView* header = table_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(true);
  const QFontMetrics metrics(table_->font());
  const int margin = metrics.horizontalAdvance(QLatin1Char('x')) * 2;
  table_->setColumnWidth(kKind, metrics.horizontalAdvance(QStringLiteral("MS-DOS　ISO-2022-JP（推定）")) + margin);
  for (int column : {kCrLf, kLf, kCr, kMixed}) {
    table_->setColumnWidth(column, metrics.horizontalAdvance(QStringLiteral("99,999")) + margin);
  }
  table_->setColumnWidth(kResult, metrics.horizontalAdvance(QLatin1Char('x')) * 24);
  table_->viewport()->installEventFilter(this);
  connect(header, &QHeaderView::sectionResized, this, [this](int column) {
    if (column == kPath && !fitting_names_) names_widened_ = true;
  });

  table_->verticalHeader()->hide();
  layout->addWidget(table_, 1);
}

void BatchWindow::BuildAdding(QBoxLayout* layout) {
  auto* row = new QHBoxLayout;
  auto* add_files = NewButton(this, "cmdAddFiles", QStringLiteral("ファイルを追加..."));
  auto* add_folder = NewButton(this, "cmdAddFolder", QStringLiteral("フォルダーを追加..."));
  add_path_ = NewTextBox(new QLineEdit(this), "txtAddPath", QStringLiteral("追加するパス"));
  auto* add = NewButton(this, "cmdAdd", QStringLiteral("追加"));
  auto* remove = NewButton(this, "cmdRemove", QStringLiteral("削除"));
  for (QWidget* each : std::initializer_list<QWidget*>{add_files, add_folder, add_path_, add, remove}) {
    row->addWidget(each, each == add_path_ ? 1 : 0);
    idle_only_.push_back(each);
  }
  layout->addLayout(row);
  using Request = platform::WindowServices::PathRequest;
  connect(add_files, &QPushButton::clicked, this, [this] { OnAddChosen(Request::OpenFiles); });
  connect(add_folder, &QPushButton::clicked, this, [this] { OnAddChosen(Request::Folder); });
  connect(add, &QPushButton::clicked, this, &BatchWindow::OnAddTyped);
  connect(add_path_, &QLineEdit::returnPressed, this, &BatchWindow::OnAddTyped);
  connect(remove, &QPushButton::clicked, this, &BatchWindow::OnRemove);
}

// The name filter and the subfolder box; a change applies again to what was added.
void BatchWindow::BuildChoosing(QBoxLayout* layout) {
  auto* row = new QHBoxLayout;
  auto* filter_label = new QLabel(QStringLiteral("対象ファイル"), this);
  filter_ = NewTextBox(new QLineEdit(this), "txtFilter", QStringLiteral("対象ファイル"));
  filter_->setText(QStringLiteral("*"));
  filter_label->setBuddy(filter_);
  subfolders_ = new QCheckBox(QStringLiteral("サブフォルダーも含める"), this);
  subfolders_->setObjectName("chkSubfolders");
  subfolders_->setChecked(true);
  row->addWidget(filter_label);
  row->addWidget(filter_, 1);
  row->addWidget(subfolders_);
  layout->addLayout(row);
  idle_only_.insert(idle_only_.end(), {filter_, subfolders_});
  connect(filter_, &QLineEdit::editingFinished, this, &BatchWindow::OnSelectionChanged);
  connect(subfolders_, &QCheckBox::toggled, this, &BatchWindow::OnSelectionChanged);
}

void BatchWindow::BuildTarget(QBoxLayout* layout) {
  auto* frame = new QGroupBox(QStringLiteral("出力ファイルの種類"), this);
  frame->setObjectName("fraTarget");
  auto* row = new QHBoxLayout(frame);
  targets_ = new QButtonGroup(this);
  for (QRadioButton* option : NewTargetOptions(frame, targets_, "optTarget")) row->addWidget(option);
  layout->addWidget(frame);
  idle_only_.push_back(frame);
}

void BatchWindow::BuildOutput(QBoxLayout* layout) {
  auto* frame = new QGroupBox(this);
  frame->setObjectName("fraOutput");
  auto* rows = new QVBoxLayout(frame);
  auto* folder_row = new QHBoxLayout;
  to_folder_ = new QRadioButton(QStringLiteral("出力フォルダー"), frame);
  to_folder_->setObjectName("optOutputFolder");
  to_folder_->setChecked(true);
  output_folder_ = NewTextBox(new QLineEdit(frame), "txtOutputFolder", QStringLiteral("出力フォルダー"));
  auto* browse = NewButton(frame, "cmdBrowse", QStringLiteral("参照..."));
  folder_row->addWidget(to_folder_);
  folder_row->addWidget(output_folder_, 1);
  folder_row->addWidget(browse);
  in_place_ = new QRadioButton(QStringLiteral("元のファイルを置き換える"), frame);
  in_place_->setObjectName("optReplace");
  rows->addLayout(folder_row);
  rows->addWidget(in_place_);
  layout->addWidget(frame);
  idle_only_.push_back(frame);
  connect(browse, &QPushButton::clicked, this, &BatchWindow::OnBrowseOutput);
}

// The bar follows the bytes of the files as well as their number, so that one large
// file shows movement too; the summary under it is read by assistive tools.
void BatchWindow::BuildProgress(QBoxLayout* layout) {
  progress_ = new QProgressBar(this);
  progress_->setObjectName("prgBatch");
  progress_->setAccessibleName(QStringLiteral("進行状況"));
  progress_->setRange(0, kSteps);
  progress_->setValue(0);
  progress_timer_ = new QTimer(this);
  progress_timer_->setInterval(100);
  connect(progress_timer_, &QTimer::timeout, this, &BatchWindow::ShowProgress);
  summary_ = new LiveText(this);
  summary_->setObjectName("lblSummary");
  summary_->setAccessibleName(QStringLiteral("結果の集計"));
  summary_->setFocusPolicy(Qt::TabFocus);  // read by a screen reader on its way through
  layout->addWidget(progress_);
  layout->addWidget(summary_);
}

void BatchWindow::BuildCommands(QBoxLayout* layout) {
  auto* row = new QHBoxLayout;
  auto* convert = NewButton(this, "cmdConvert", QStringLiteral("変　　換"));
  stop_button_ = NewButton(this, "cmdStop", QStringLiteral("中止"));
  save_button_ = NewButton(this, "cmdSaveResults", QStringLiteral("結果を保存..."));
  auto* close_button = NewButton(this, "cmdClose", QStringLiteral("閉じる"));
  row->addWidget(convert);
  row->addWidget(stop_button_);
  row->addStretch(1);
  row->addWidget(save_button_);
  row->addWidget(close_button);
  layout->addLayout(row);
  idle_only_.push_back(convert);
  connect(convert, &QPushButton::clicked, this, &BatchWindow::OnConvert);
  connect(stop_button_, &QPushButton::clicked, this, &BatchWindow::OnStop);
  connect(save_button_, &QPushButton::clicked, this, &BatchWindow::OnSaveResults);
  connect(close_button, &QPushButton::clicked, this, &BatchWindow::close);
}

// The choices as they were left; an output folder that has gone since is not offered.
void BatchWindow::Restore() {
  const QSettings settings = WindowSettings();
  const QString folder = settings.value("batch/output_folder").toString();
  if (!folder.isEmpty() && IsFolder(files_, LocalPath(folder))) output_folder_->setText(folder);
  if (QAbstractButton* target = targets_->button(settings.value("batch/target", -1).toInt())) target->setChecked(true);
  filter_->setText(settings.value("batch/filter", QStringLiteral("*")).toString());
  subfolders_->setChecked(settings.value("batch/subfolders", true).toBool());
}

void BatchWindow::Remember() {
  QSettings settings = WindowSettings();
  settings.setValue("batch/output_folder", output_folder_->text().trimmed());
  settings.setValue("batch/target", targets_->checkedId());
  settings.setValue("batch/filter", filter_->text());
  settings.setValue("batch/subfolders", subfolders_->isChecked());
}

void BatchWindow::UpdateEnabled() {
  const bool busy = Busy();
  for (QWidget* each : idle_only_) each->setEnabled(!busy);
  stop_button_->setEnabled(busy);
  save_button_->setEnabled(!busy && table_->rowCount() > 0);
}

BatchSettings BatchWindow::Settings() const {
  BatchSettings settings;
  const int id = targets_->checkedId();
  settings.target = id < 0 ? LineEndingKind::None : static_cast<LineEndingKind>(id);
  settings.recursive = subfolders_->isChecked();
  settings.patterns = Patterns(filter_->text());
  return settings;
}

QString BatchWindow::WalkChoice() const { return filter_->text() + (subfolders_->isChecked() ? "\n+" : "\n-"); }

void BatchWindow::AddPaths(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  if (Busy()) {
    pending_.insert(pending_.end(), paths.begin(), paths.end());
    return;
  }
  std::set<std::string> known;
  for (const BatchFile& row : rows_) known.insert(row.source);
  for (const std::string& path : paths) {
    removed_.erase(path);
    if (std::find(named_.begin(), named_.end(), path) == named_.end()) named_.push_back(path);
  }
  StartAdding(paths, std::move(known));
}

// The engine's walk, a chunk at a time: each chunk's rows appear at once, and each file
// is then examined (its kind and line ends) in the table's order.
void BatchWindow::StartAdding(const std::vector<std::string>& paths, std::set<std::string> known) {
  added_ = 0;
  walked_with_ = WalkChoice();
  const std::size_t first_row = rows_.size();
  task_.Start(
      [this, paths, known = std::move(known), first_row, settings = Settings()](
          const std::stop_token& stop, const BackgroundTask::Outbox& outbox) {
        BatchWalker walker(files_, paths, settings);
        std::size_t row = first_row;
        for (std::vector<BatchFile> chunk; !stop.stop_requested() && walker.Next(chunk, kBatchChunk); chunk.clear()) {
          std::erase_if(chunk, [&known](const BatchFile& file) { return known.count(file.source) != 0; });
          outbox.Post([this, chunk] { AppendRows(chunk); });
          for (const BatchFile& file : chunk) {
            if (!stop.stop_requested() && Refusal(file).ok()) {
              const Examination whole = ExamineFile(files_, file.place, stop);
              outbox.Post([this, row, whole] { ShowExamined(row, whole); });
            }
            ++row;
          }
        }
      },
      [this] {
        if (added_ == 0) ShowLiveText(summary_, kNothingFound);
        EndWork();
      });
  UpdateEnabled();
}

// A run stopped says so, with what it did and how many files it never reached; its bar
// shows the files finished, not the bytes of those left half read.
void BatchWindow::EndWork() {
  const bool converting = progress_timer_->isActive();
  progress_timer_->stop();
  if (converting && std::exchange(stop_pressed_, false)) {
    bytes_read_ = 0;
    ShowProgress();
    const QString summary = Text(messages::WithNotes(
        messages::Text(Outcome::Cancelled), {BatchSummary(totals_), "未処理 " + std::to_string(rows_.size() - FilesDone())}));
    ShowLiveText(summary_, summary);
  }
  stop_pressed_ = false;
  UpdateEnabled();
  if (!pending_.empty()) AddPaths(std::exchange(pending_, {}));
}

void BatchWindow::AppendRows(const std::vector<BatchFile>& files) {
  saved_ = false;
  for (const BatchFile& file : files) {
    const int row = table_->rowCount();
    table_->insertRow(row);
    for (int column = kPath; column < kColumns; ++column) table_->setItem(row, column, new QTableWidgetItem);
    SetCell(table_, row, kPath, PathText(file.source));
    if (const Result refused = Refusal(file); !refused.ok()) SetCell(table_, row, kResult, Text(messages::Describe(refused)));
    rows_.push_back(file);
  }
  added_ += files.size();
  if (added_ > 0) ShowLiveText(summary_, {});
}

void BatchWindow::ShowExamined(std::size_t row, const Examination& whole) {
  if (whole.outcome == Outcome::Cancelled) return;
  if (whole.outcome != Outcome::Ok) {
    SetCell(table_, row, kResult, Text(messages::Describe(whole)));
    return;
  }
  rows_[row].size = whole.identity.size;
  const LineEndingCounts& counts = whole.counts;
  SetCell(table_, row, kKind, KindText(whole.verdict, whole.encoding_name));
  SetCell(table_, row, kCrLf, QString::number(counts.crlf));
  SetCell(table_, row, kLf, QString::number(counts.lf));
  SetCell(table_, row, kCr, QString::number(counts.cr));
  SetCell(table_, row, kMixed, counts.Mixed() ? QStringLiteral("混在") : QString());
}

void BatchWindow::OnAddChosen(platform::WindowServices::PathRequest request) {
  std::vector<std::string> paths;
  for (const QString& chosen : services_.AskPaths(this, request, QDir::currentPath())) {
    if (const std::optional<std::string> path = UnambiguousLocalPath(files_, chosen)) {
      paths.push_back(*path);
    } else {
      services_.ShowMessage(this, Text(messages::Text(Outcome::SourceMissing)));
    }
  }
  AddPaths(paths);
}

void BatchWindow::OnAddTyped() {
  const QString text = add_path_->text().trimmed();
  if (text.isEmpty() || Busy()) return;
  const std::optional<std::string> path = UnambiguousLocalPath(files_, text);
  if (!path) {
    services_.ShowMessage(this, Text(messages::Text(Outcome::SourceMissing)));
    return;
  }
  AddPaths({*path});
  add_path_->clear();
}

void BatchWindow::OnRemove() {
  if (Busy()) return;
  saved_ = false;
  std::set<int> chosen;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) chosen.insert(index.row());
  for (auto row = chosen.rbegin(); row != chosen.rend(); ++row) {
    const std::string source = rows_[static_cast<std::size_t>(*row)].source;
    std::erase(named_, source);
    removed_.insert(source);
    table_->removeRow(*row);
    rows_.erase(rows_.begin() + *row);
  }
  UpdateEnabled();
}

// The folders added are walked again with the new filter or subfolder choice; leaving
// the filter unchanged keeps the table and its results.
void BatchWindow::OnSelectionChanged() {
  if (Busy() || named_.empty() || WalkChoice() == walked_with_) return;
  table_->setRowCount(0);
  rows_.clear();
  totals_ = {};
  StartAdding(named_, removed_);
}

void BatchWindow::OnBrowseOutput() {
  using Request = platform::WindowServices::PathRequest;
  const QStringList chosen = services_.AskPaths(this, Request::Folder, output_folder_->text());
  if (!chosen.isEmpty()) {
    output_folder_->setText(QDir::toNativeSeparators(chosen.first()));
    to_folder_->setChecked(true);
  }
}

void BatchWindow::OnConvert() {
  if (Busy() || rows_.empty()) return;
  BatchSettings settings = Settings();
  if (settings.target == LineEndingKind::None) return services_.ShowMessage(this, Text(messages::Text(Outcome::NoBatchTarget)));
  const bool in_place = in_place_->isChecked();
  const std::optional<std::string> folder =
      in_place ? std::string() : UnambiguousLocalPath(files_, output_folder_->text().trimmed());
  if (!folder || (!in_place && folder->empty())) return services_.ShowMessage(this, Text(messages::Text(Outcome::NoOutputFolder)));
  const QString question = QStringLiteral("元のファイル %1 個を置き換えます。よろしいですか？").arg(rows_.size());
  if (in_place && !services_.Confirm(this, question, QStringLiteral("置き換える"))) return;
  settings.output_folder = *folder;
  auto plan = std::make_shared<BatchPlan>(files_, named_, settings);
  if (const BatchRefusal refused = plan->Refusal()) {
    return services_.ShowMessage(this, Text(messages::Text(refused.outcome)));
  }

  for (std::size_t row = 0; row < rows_.size(); ++row) SetCell(table_, row, kResult, {});
  totals_ = {};
  ShowLiveText(summary_, {});
  total_weight_ = finished_weight_ = 0;
  for (const BatchFile& file : rows_) total_weight_ += file.size + 1;
  bytes_read_ = 0;
  ShowProgress();
  progress_timer_->start();
  task_.Start(
      [this, work = rows_, settings, plan](const std::stop_token& stop, const BackgroundTask::Outbox& outbox) mutable {
        for (BatchFile& file : work) plan->Assign(file);
        RunBatch(
            files_, work, settings,
            [&outbox, this](std::size_t row, const Result& result) {
              outbox.Post([this, row, result] { ShowResult(row, result); });
            },
            stop, BatchWorkers(settings),
            [this](std::uint64_t bytes) { bytes_read_.fetch_add(bytes, std::memory_order_relaxed); });
      },
      [this] { EndWork(); });
  UpdateEnabled();
}

void BatchWindow::OnStop() {
  stop_pressed_ = true;
  task_.Stop();
}

void BatchWindow::ShowResult(std::size_t row, const Result& result) {
  saved_ = false;
  if (result.outcome != Outcome::NotDone) {
    SetCell(table_, row, kResult, Text(messages::Describe(result)));
    finished_weight_ += rows_[row].size + 1;
  }
  totals_.Add(result);
  ShowLiveText(summary_, Text(BatchSummary(totals_)));
  ShowProgress();
}

// Files whose results are in count whole; the bytes read count for the files still in
// hand, so that the bar moves through a large file too.
std::size_t BatchWindow::FilesDone() const {
  return totals_.Files() - totals_.not_done;
}

void BatchWindow::ShowProgress() {
  const std::size_t files_done = FilesDone();
  const std::uint64_t done = std::min(
      total_weight_, std::max(finished_weight_, bytes_read_.load(std::memory_order_relaxed) + files_done));
  progress_->setValue(total_weight_ == 0 ? 0 : static_cast<int>(done * kSteps / total_weight_));
  progress_->setFormat(QStringLiteral("%1 / %2 ファイル　%p%").arg(files_done).arg(rows_.size()));
}

// The name column takes the table's room left by the others, until the user sets its width.
bool BatchWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_->viewport() && event->type() == QEvent::Resize && !names_widened_) {
    int others = 0;
    for (int column = kKind; column < kColumns - 1; ++column) others += table_->columnWidth(column);
    const int least = table_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 24;  // the result's too
    fitting_names_ = true;
    table_->setColumnWidth(kPath, std::max(table_->viewport()->width() - others - least, least));
    fitting_names_ = false;
  }
  return QDialog::eventFilter(watched, event);
}

// Proposed in the folder results were last saved in; the name always ends in .csv.
void BatchWindow::OnSaveResults() {
  using Request = platform::WindowServices::PathRequest;
  const QStringList chosen = services_.AskPaths(this, Request::SaveFile, ResultsFolder() + '/' + kResultsName);
  if (chosen.isEmpty()) return;
  QString path = chosen.first();
  if (!path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) path += QStringLiteral(".csv");
  if (const Result saved = SaveResults(path); !saved.ok()) {
    return services_.ShowMessage(this, Text(messages::Describe(saved)));
  }
  saved_ = true;
  WindowSettings().setValue("batch/results_folder", QFileInfo(path).absolutePath());
}

QString BatchWindow::ResultsFolder() const {
  for (const QString& folder : {WindowSettings().value("batch/results_folder").toString(), output_folder_->text()}) {
    if (!folder.isEmpty() && IsFolder(files_, LocalPath(folder))) return folder;
  }
  return QDir::homePath();
}

Result BatchWindow::SaveResults(const QString& path) {
  QString csv = QStringLiteral("\uFEFF");  // the byte order mark: spreadsheet programs then read UTF-8
  QStringList header;
  for (int column = 0; column < kColumns; ++column) header << CsvField(table_->horizontalHeaderItem(column)->text());
  csv += header.join(',') + QStringLiteral("\r\n");
  for (int row = 0; row < table_->rowCount(); ++row) {
    QStringList fields;
    for (int column = 0; column < kColumns; ++column) fields << CsvField(table_->item(row, column)->text());
    csv += fields.join(',') + QStringLiteral("\r\n");
  }
  const QByteArray bytes = csv.toUtf8();
  const std::optional<std::string> local = UnambiguousLocalPath(files_, path);
  if (!local) return {Outcome::OutputCannotWrite, platform::FromErrno(ENOENT)};
  const auto place = files_.Locate(*local);
  if (!place) return {Outcome::OutputCannotWrite, place.reason};
  auto file = platform::ReplacementFile::Create(files_, place.value, 0666);  // as any new file, less the umask
  if (!file) return {Outcome::OutputCannotWrite, file.reason};
  platform::Reason failed = file.value->Sink().Write(
      {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())});
  if (failed == platform::Reason::kNone) failed = file.value->Commit();
  return failed == platform::Reason::kNone ? Result{} : Result{Outcome::OutputCannotWrite, failed};
}

// Escape, 閉じる and the title bar's close all come here: a table whose results are not
// saved is thrown away only once the user says so.
void BatchWindow::reject() {
  if (table_->rowCount() > 0 && !saved_ &&
      !services_.Confirm(this, kDiscardQuestion.arg(table_->rowCount()), QStringLiteral("閉じる"))) {
    return;
  }
  task_.Stop();
  QDialog::reject();
}

void BatchWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void BatchWindow::dropEvent(QDropEvent* event) {
  const std::vector<std::string> paths = DroppedPaths(event->mimeData());
  if (paths.empty()) return;
  event->acceptProposedAction();
  AddPaths(paths);
}

// Closing stops the work (reject() asks first); the file in progress is left as it was.
void BatchWindow::closeEvent(QCloseEvent* event) {
  QDialog::closeEvent(event);
  if (event->isAccepted()) task_.Stop();
}

}  // namespace tarnwhistle::windows
