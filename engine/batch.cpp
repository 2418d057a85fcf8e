#include "batch.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "conversion_request.h"
#include "detection.h"
#include "messages.h"
#include "platform/replacement_file.h"

namespace tarnwhistle {
namespace {

using platform::FolderEntry;

class Collector {
 public:
  Collector(platform::FileSystem& fs, platform::Folders& folders, const BatchSettings& settings)
      : fs_(fs), folders_(folders), settings_(settings) {
    if (!settings.output_folder.empty()) output_folder_ = fs.Stat(settings.output_folder);
  }

  void AddPath(const std::string& path) {
    std::vector<FolderEntry> entries;
    platform::FileInfo info = fs_.Stat(path);
    if (info.exists && !info.regular && folders_.List(path, entries)) {
      AddFolder(path, "", entries);
    } else {
      Add(path, std::filesystem::path(path).filename().string());
    }
  }

  std::vector<BatchFile> Take() { return std::move(files_); }

 private:
  // `relative` is where the folder's files go below the output folder.
  void AddFolder(const std::string& folder, const std::string& relative, const std::vector<FolderEntry>& entries) {
    for (const FolderEntry& entry : entries) {
      const std::string path = (std::filesystem::path(folder) / entry.name).string();
      const std::string below = (std::filesystem::path(relative) / entry.name).string();
      bool is_file = entry.kind == FolderEntry::Kind::File;
      // A link is taken when it leads to a file, and never followed into a folder, so
      // that a link back up the tree cannot make the walk endless.
      if (entry.kind == FolderEntry::Kind::Link) is_file = fs_.Stat(path).regular;
      if (is_file) {
        if (platform::NameMatches(entry.name, settings_.patterns)) Add(path, below);
      } else if (entry.kind == FolderEntry::Kind::Folder && settings_.recursive && entry.name.front() != '.' &&
                 !IsOutputFolder(path)) {
        std::vector<FolderEntry> inner;
        if (folders_.List(path, inner)) {
          AddFolder(path, below, inner);
        } else {
          files_.push_back({path, "", below, messages::kSourceUnreadable});
        }
      }
    }
  }

  // An output folder inside the tree being converted holds outputs, not sources.
  bool IsOutputFolder(const std::string& path) {
    if (!output_folder_.exists) return false;
    platform::FileInfo info = fs_.Stat(path);
    return info.device == output_folder_.device && info.inode == output_folder_.inode;
  }

  void Add(const std::string& source, const std::string& relative) {
    if (!sources_.insert(source).second) return;
    const bool in_place = settings_.output_folder.empty();
    BatchFile file{source, in_place ? source : (std::filesystem::path(settings_.output_folder) / relative).string(), relative, {}};
    if (!in_place && !outputs_.insert(file.output).second) file.refusal = messages::kOutputUnwritable;
    files_.push_back(std::move(file));
  }

  platform::FileSystem& fs_;
  platform::Folders& folders_;
  const BatchSettings& settings_;
  platform::FileInfo output_folder_;
  std::set<std::string> sources_;
  std::set<std::string> outputs_;
  std::vector<BatchFile> files_;
};

}  // namespace

std::vector<BatchFile> CollectBatch(platform::FileSystem& fs, platform::Folders& folders,
                                    const std::vector<std::string>& paths, const BatchSettings& settings) {
  Collector collector(fs, folders, settings);
  for (const std::string& path : paths) collector.AddPath(path);
  return collector.Take();
}

BatchResult ConvertBatchFile(platform::FileSystem& fs, platform::Folders& folders, const BatchFile& file,
                             const BatchSettings& settings, const std::function<bool()>& stop_requested,
                             std::string* folder_made) {
  using K = LineEndingKind;
  if (!file.refusal.empty()) return {BatchVerdict::Failed, K::None, file.refusal};
  const Detection detection = DetectLineEndings(fs, file.source);
  const K kind = detection.verdict;
  if (detection.status != Status::Ok) return {BatchVerdict::Failed, kind, messages::ForStatus(detection.status)};
  if (kind == K::Binary || kind == K::None) return {BatchVerdict::NotConvertible, kind, messages::kBinarySource};
  if (kind == settings.target) return {BatchVerdict::AlreadyTarget, kind, messages::kAlreadyTarget};
  if (settings.dry_run) return {BatchVerdict::Converted, kind, messages::kConverted};

  const bool in_place = file.output == file.source;
  if (!in_place) {
    std::string folder = std::filesystem::path(file.output).parent_path().string();
    if (folder_made == nullptr || folder != *folder_made) {
      if (!folders.Create(folder)) return {BatchVerdict::Failed, kind, messages::kOutputUnwritable};
      if (folder_made != nullptr) *folder_made = std::move(folder);
    }
  }
  ConversionRequest request{file.source, file.output, kind, settings.target, in_place};
  ConversionProgress progress;
  if (stop_requested) progress = [&stop_requested](std::uint64_t, std::uint64_t) { return !stop_requested(); };
  const ConversionOutcome outcome = CheckAndConvert(fs, request, progress);
  if (!outcome.refusal.empty()) return {BatchVerdict::Failed, kind, outcome.refusal};
  switch (outcome.status) {
    case Status::Ok: return {BatchVerdict::Converted, kind, messages::kConverted};
    case Status::Cancelled: return {BatchVerdict::NotDone, kind, {}};
    case Status::SourceNotText: return {BatchVerdict::NotConvertible, kind, outcome.Message()};
    default: return {BatchVerdict::Failed, kind, outcome.Message()};
  }
}

void BatchTotals::Add(BatchVerdict verdict) {
  switch (verdict) {
    case BatchVerdict::Converted: ++converted; break;
    case BatchVerdict::AlreadyTarget: ++already_target; break;
    case BatchVerdict::NotConvertible: ++not_convertible; break;
    case BatchVerdict::Failed: ++failed; break;
    case BatchVerdict::NotDone: ++not_done; break;
  }
}

BatchTotals RunBatch(platform::FileSystem& fs, platform::Folders& folders, const std::vector<BatchFile>& files,
                     const BatchSettings& settings, const BatchObserver& observer,
                     const std::function<bool()>& stop_requested, unsigned workers) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopped{false};
  std::mutex reporting;
  std::vector<std::optional<BatchResult>> results(files.size());
  std::size_t reported = 0;
  BatchTotals totals;

  // Each thread takes a run of neighbouring files at a time, so that the threads mostly
  // work in different folders: two threads creating files in one folder wait for each
  // other's hold on it. Results come in any order; they are handed on in the files'.
  constexpr std::size_t kRun = 16;
  auto work = [&] {
    std::string folder_made;  // the last output folder this thread made sure of
    for (std::size_t start = next.fetch_add(kRun); start < files.size(); start = next.fetch_add(kRun)) {
      for (std::size_t i = start; i < std::min(start + kRun, files.size()); ++i) {
        if (!stopped && stop_requested && stop_requested()) stopped = true;
        BatchResult result =
            stopped ? BatchResult{} : ConvertBatchFile(fs, folders, files[i], settings, stop_requested, &folder_made);
        std::lock_guard lock(reporting);
        results[i] = result;
        for (; reported < files.size() && results[reported]; ++reported) {
          totals.Add(results[reported]->verdict);
          if (observer) observer(reported, *results[reported]);
        }
      }
    }
  };

  std::vector<std::thread> threads;
  for (unsigned i = 1; i < workers && i < files.size(); ++i) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  return totals;
}

std::string BatchSummary(const BatchTotals& totals) {
  return "変換 " + std::to_string(totals.converted) + "・変換不要 " + std::to_string(totals.already_target) +
         "・変換できません " + std::to_string(totals.not_convertible) + "・失敗 " + std::to_string(totals.failed);
}

}  // namespace tarnwhistle
