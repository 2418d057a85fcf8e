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
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>
#include <set>

#include "engine/detection.h"
#include "engine/messages.h"
#include "engine/statistics.h"
#include "platform/replacement_file.h"
#include "texts.h"

namespace tarnwhistle::windows {
namespace {

enum Column { kPath, kKind, kCrLf, kLf, kCr, kMixed, kResult, kColumns };

const QString kConfirmReplace = QStringLiteral("元のファイルを置き換えます。よろしいですか？");
const QString kNoOutputFolder = QStringLiteral("出力フォルダー を指定してください");

QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  // Spoken without the access key's "&", the "..." and the spaces that spread a short
  // caption across its button ("変　　換" is read as 変換).
  button->setAccessibleName(QString(caption).remove('&').remove(QStringLiteral("...")).remove(QChar(0x3000)));
  return button;
}

QLineEdit* NewBox(QWidget* parent, const char* name, const QString& accessible_name) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(name);
  box->setAccessibleName(accessible_name);
  return box;
}

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

QString PathText(const std::string& path) { return QDir::toNativeSeparators(QFile::decodeName(path.c_str())); }

// One CSV field: quoted when it holds a separator, a quote or a line break.
QString CsvField(QString text) {
  if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r')) return text;
  return '"' + text.replace('"', QStringLiteral("\"\"")) + '"';
}

}  // namespace

BatchWindow::BatchWindow(platform::FileSystem& files, platform::WindowServices& services, QWidget* parent)
    : QDialog(parent), files_(files), services_(services) {
  setObjectName("FrmBatch");
  setWindowTitle(QStringLiteral("一括変換"));
  setAcceptDrops(true);
  BuildControls();
  UpdateEnabled();
}

BatchWindow::~BatchWindow() {
  stop_.request_stop();
  if (worker_.joinable()) worker_.join();
}

void BatchWindow::BuildControls() {
  auto* layout = new QVBoxLayout(this);

  table_ = new QTableWidget(0, kColumns, this);
  table_->setObjectName("grdFiles");
  table_->setAccessibleName(QStringLiteral("変換するファイル"));
  table_->setHorizontalHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("種類"), QStringLiteral("CR LF"),
                                     QStringLiteral("LF"), QStringLiteral("CR"), QStringLiteral("混在"),
                                     QStringLiteral("結果")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setTabKeyNavigation(false);  // Tab leaves the table for the next control
  table_->horizontalHeader()->setSectionResizeMode(kPath, QHeaderView::Stretch);
  table_->verticalHeader()->hide();
  layout->addWidget(table_, 1);

  auto* adding = new QHBoxLayout;
  auto* add_files = NewButton(this, "cmdAddFiles", QStringLiteral("ファイルを追加..."));
  auto* add_folder = NewButton(this, "cmdAddFolder", QStringLiteral("フォルダーを追加..."));
  add_path_ = NewBox(this, "txtAddPath", QStringLiteral("追加するパス"));
  auto* add = NewButton(this, "cmdAdd", QStringLiteral("追加"));
  auto* remove = NewButton(this, "cmdRemove", QStringLiteral("削除"));
  for (QWidget* each : std::initializer_list<QWidget*>{add_files, add_folder, add_path_, add, remove}) {
    adding->addWidget(each, each == add_path_ ? 1 : 0);
  }
  layout->addLayout(adding);

  auto* choosing = new QHBoxLayout;
  auto* filter_label = new QLabel(QStringLiteral("対象ファイル"), this);
  filter_ = NewBox(this, "txtFilter", QStringLiteral("対象ファイル"));
  filter_->setText(QStringLiteral("*"));
  filter_label->setBuddy(filter_);
  subfolders_ = new QCheckBox(QStringLiteral("サブフォルダーも含める"), this);
  subfolders_->setObjectName("chkSubfolders");
  choosing->addWidget(filter_label);
  choosing->addWidget(filter_, 1);
  choosing->addWidget(subfolders_);
  layout->addLayout(choosing);

  auto* target = new QGroupBox(QStringLiteral("出力ファイルの種類"), this);
  target->setObjectName("fraTarget");
  auto* target_layout = new QHBoxLayout(target);
  targets_ = new QButtonGroup(this);
  const QString captions[3] = {QStringLiteral("MS-DOS(Windows)"), QStringLiteral("UNIX"), QStringLiteral("MAC")};
  const LineEndingKind kinds[3] = {LineEndingKind::MsDos, LineEndingKind::Unix, LineEndingKind::Mac};
  for (int i = 0; i < 3; ++i) {
    auto* option = new QRadioButton(captions[i], target);
    option->setObjectName("optTarget");
    targets_->addButton(option, static_cast<int>(kinds[i]));
    target_layout->addWidget(option);
  }
  layout->addWidget(target);

  auto* where = new QGroupBox(this);
  where->setObjectName("fraOutput");
  auto* where_layout = new QVBoxLayout(where);
  auto* folder_row = new QHBoxLayout;
  to_folder_ = new QRadioButton(QStringLiteral("出力フォルダー"), where);
  to_folder_->setObjectName("optOutputFolder");
  to_folder_->setChecked(true);
  output_folder_ = NewBox(where, "txtOutputFolder", QStringLiteral("出力フォルダー"));
  auto* browse = NewButton(where, "cmdBrowse", QStringLiteral("参照..."));
  folder_row->addWidget(to_folder_);
  folder_row->addWidget(output_folder_, 1);
  folder_row->addWidget(browse);
  in_place_ = new QRadioButton(QStringLiteral("元のファイルを置き換える"), where);
  in_place_->setObjectName("optReplace");
  where_layout->addLayout(folder_row);
  where_layout->addWidget(in_place_);
  layout->addWidget(where);

  progress_ = new QProgressBar(this);
  progress_->setObjectName("prgBatch");
  progress_->setAccessibleName(QStringLiteral("進行状況"));
  progress_->setValue(0);
  summary_ = new QLabel(this);
  summary_->setObjectName("lblSummary");
  summary_->setAccessibleName(QStringLiteral("結果の集計"));
  summary_->setFocusPolicy(Qt::TabFocus);  // read by a screen reader on its way through
  layout->addWidget(progress_);
  layout->addWidget(summary_);

  auto* commands = new QHBoxLayout;
  auto* convert = NewButton(this, "cmdConvert", QStringLiteral("変　　換"));
  stop_button_ = NewButton(this, "cmdStop", QStringLiteral("中止"));
  save_button_ = NewButton(this, "cmdSaveResults", QStringLiteral("結果を保存..."));
  auto* close_button = NewButton(this, "cmdClose", QStringLiteral("閉じる"));
  commands->addWidget(convert);
  commands->addWidget(stop_button_);
  commands->addStretch(1);
  commands->addWidget(save_button_);
  commands->addWidget(close_button);
  layout->addLayout(commands);

  idle_only_ = {add_files, add_folder, add_path_, add, remove, filter_, subfolders_, target, where, convert};

  connect(add_files, &QPushButton::clicked, this, &BatchWindow::OnAddFiles);
  connect(add_folder, &QPushButton::clicked, this, &BatchWindow::OnAddFolder);
  connect(add, &QPushButton::clicked, this, &BatchWindow::OnAddTyped);
  connect(add_path_, &QLineEdit::returnPressed, this, &BatchWindow::OnAddTyped);
  connect(remove, &QPushButton::clicked, this, &BatchWindow::OnRemove);
  connect(browse, &QPushButton::clicked, this, &BatchWindow::OnBrowseOutput);
  connect(convert, &QPushButton::clicked, this, &BatchWindow::OnConvert);
  connect(stop_button_, &QPushButton::clicked, this, &BatchWindow::OnStop);
  connect(save_button_, &QPushButton::clicked, this, &BatchWindow::OnSaveResults);
  connect(close_button, &QPushButton::clicked, this, &BatchWindow::close);
  resize(760, 560);
}

void BatchWindow::UpdateEnabled() {
  const bool busy = Busy();
  for (QWidget* each : idle_only_) each->setEnabled(!busy);
  stop_button_->setEnabled(busy);
  save_button_->setEnabled(!busy && table_->rowCount() > 0);
}

void BatchWindow::StartWork(std::function<void()> work) {
  if (worker_.joinable()) worker_.join();
  stop_ = std::stop_source();
  finished_ = false;
  UpdateEnabled();
  worker_ = std::thread([this, work = std::move(work)] {
    work();
    QMetaObject::invokeMethod(this, [this] { EndWork(); }, Qt::QueuedConnection);
  });
}

void BatchWindow::EndWork() {
  if (worker_.joinable()) worker_.join();  // closing the window may have joined it already
  finished_ = true;
  UpdateEnabled();
  emit WorkFinished();
}

void BatchWindow::AddPaths(const QStringList& paths) {
  if (Busy() || paths.isEmpty()) return;
  std::vector<std::string> local;
  for (const QString& path : paths) local.push_back(LocalPath(path));
  // Where each output goes below the output folder is kept, so that the folder can still
  // be chosen after the files are added.
  const BatchSettings settings{LineEndingKind::None, "", subfolders_->isChecked(), Patterns(filter_->text()), false};
  std::set<std::string> known;
  for (const BatchFile& row : rows_) known.insert(row.source);
  const std::size_t first_row = rows_.size();
  StartWork([this, local, settings, known, first_row, stop = stop_.get_token()] {
    std::vector<BatchFile> found;
    BatchWalker walker(files_, local, settings);
    while (!stop.stop_requested() && walker.Next(found, kBatchChunk)) {
    }
    std::erase_if(found, [&known](const BatchFile& file) { return known.count(file.source) != 0; });
    QMetaObject::invokeMethod(this, [this, found] { AppendRows(found); }, Qt::QueuedConnection);
    for (std::size_t i = 0; i < found.size() && !stop.stop_requested(); ++i) {
      QStringList cells;
      if (found[i].refused != Status::Ok || found[i].skipped_link) continue;
      const Examination whole = ExamineFile(files_, found[i].place, stop);
      if (whole.status == Status::Ok) {
        const LineEndingCounts& c = whole.counts;
        cells = {Text(DisplayName(whole.verdict)), QString::number(c.crlf), QString::number(c.lf),
                 QString::number(c.cr), c.Mixed() ? QStringLiteral("混在") : QString(), QString()};
      } else if (whole.status != Status::Cancelled) {
        cells = {QString(), QString(), QString(), QString(), QString(),
                 Text(messages::ForStatus(whole.status, whole.reason))};
      }
      if (!cells.isEmpty()) {
        QMetaObject::invokeMethod(this, [this, row = first_row + i, cells] { ShowExamined(row, cells); },
                                  Qt::QueuedConnection);
      }
    }
  });
}

void BatchWindow::AppendRows(const std::vector<BatchFile>& files) {
  for (const BatchFile& file : files) {
    const int row = table_->rowCount();
    table_->insertRow(row);
    table_->setItem(row, kPath, new QTableWidgetItem(PathText(file.source)));
    for (int column = kKind; column < kColumns; ++column) table_->setItem(row, column, new QTableWidgetItem);
    if (file.refused != Status::Ok) {
      table_->item(row, kResult)->setText(Text(messages::ForStatus(file.refused, file.reason)));
    }
    rows_.push_back(file);
  }
}

void BatchWindow::ShowExamined(std::size_t row, const QStringList& cells) {
  for (int i = 0; i < cells.size(); ++i) table_->item(static_cast<int>(row), kKind + i)->setText(cells[i]);
}

void BatchWindow::OnAddFiles() {
  AddPaths(services_.AskPaths(this, platform::WindowServices::PathRequest::OpenFiles, QDir::currentPath()));
}

void BatchWindow::OnAddFolder() {
  AddPaths(services_.AskPaths(this, platform::WindowServices::PathRequest::Folder, QDir::currentPath()));
}

void BatchWindow::OnAddTyped() {
  const QString path = add_path_->text().trimmed();
  if (path.isEmpty()) return;
  AddPaths({path});
  add_path_->clear();
}

void BatchWindow::OnRemove() {
  if (Busy()) return;
  std::set<int> chosen;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) chosen.insert(index.row());
  for (auto row = chosen.rbegin(); row != chosen.rend(); ++row) {
    table_->removeRow(*row);
    rows_.erase(rows_.begin() + *row);
  }
  UpdateEnabled();
}

void BatchWindow::OnBrowseOutput() {
  const QStringList chosen =
      services_.AskPaths(this, platform::WindowServices::PathRequest::Folder, output_folder_->text());
  if (!chosen.isEmpty()) {
    output_folder_->setText(QDir::toNativeSeparators(chosen.first()));
    to_folder_->setChecked(true);
  }
}

LineEndingKind BatchWindow::TargetKind() const {
  const int id = targets_->checkedId();
  return id < 0 ? LineEndingKind::None : static_cast<LineEndingKind>(id);
}

void BatchWindow::OnConvert() {
  if (Busy() || rows_.empty()) return;
  BatchSettings settings{TargetKind(), "", false, {}, false};
  if (settings.target == LineEndingKind::None) {
    services_.ShowMessage(this, Text(messages::kNoTarget));
    return;
  }
  const bool in_place = in_place_->isChecked();
  const std::string output_folder = LocalPath(output_folder_->text().trimmed());
  if (!in_place && output_folder.empty()) {
    services_.ShowMessage(this, kNoOutputFolder);
    return;
  }
  if (in_place && !services_.Confirm(this, kConfirmReplace)) return;

  std::vector<BatchFile> work = rows_;
  AssignOutputs(files_, work, in_place ? std::string() : output_folder);
  for (int row = 0; row < table_->rowCount(); ++row) table_->item(row, kResult)->setText({});
  totals_ = {};
  summary_->clear();
  progress_->setRange(0, static_cast<int>(work.size()));
  progress_->setValue(0);
  StartWork([this, work, settings, stop = stop_.get_token()] {
    RunBatch(
        files_, work, settings,
        [this](std::size_t index, const BatchResult& result) {
          QMetaObject::invokeMethod(this, [this, index, result] { ShowResult(index, result); }, Qt::QueuedConnection);
        },
        stop);
  });
}

void BatchWindow::ShowResult(std::size_t row, const BatchResult& result) {
  if (result.verdict != BatchVerdict::NotDone) {
    table_->item(static_cast<int>(row), kResult)->setText(QString::fromStdString(result.message));
    progress_->setValue(progress_->value() + 1);
  }
  totals_.Add(result);
  summary_->setText(Text(BatchSummary(totals_)));
}

void BatchWindow::OnStop() { stop_.request_stop(); }

void BatchWindow::OnSaveResults() {
  const QStringList chosen =
      services_.AskPaths(this, platform::WindowServices::PathRequest::SaveFile, QDir::currentPath());
  if (!chosen.isEmpty() && !SaveResults(chosen.first())) {
    services_.ShowMessage(this, Text(messages::kOutputUnwritable));
  }
}

bool BatchWindow::SaveResults(const QString& path) {
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
  const auto place = files_.Locate(LocalPath(path));
  if (!place) return false;
  auto file = platform::ReplacementFile::Create(files_, place.value, 0666);  // as any new file, less the umask
  return file &&
         file.value->Sink().Write({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                   static_cast<std::size_t>(bytes.size())}) == platform::Reason::kNone &&
         file.value->Commit() == platform::Reason::kNone;
}

void BatchWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!Busy() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void BatchWindow::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  AddPaths(paths);
}

// Closing while the work runs stops it after the file in progress.
void BatchWindow::closeEvent(QCloseEvent* event) {
  stop_.request_stop();
  if (worker_.joinable()) worker_.join();
  finished_ = true;
  QDialog::closeEvent(event);
}

}  // namespace tarnwhistle::windows
