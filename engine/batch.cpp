#include "batch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>

#include "conversion_request.h"
#include "detection.h"
#include "messages.h"
#include "platform/replacement_file.h"

namespace tarnwhistle {
namespace {

using platform::FolderEntry;
using platform::FileInfo;

std::string Join(const std::string& folder, const std::string& name) {
  return (std::filesystem::path(folder) / name).string();
}

// std has one 64-bit hash of a string; a second, independent one makes two different
// names agree by chance about once in 2^128 pairs.
std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

using FolderKey = std::pair<std::uint64_t, std::uint64_t>;  // device, inode
using OutputKey = std::pair<std::uint64_t, std::uint64_t>;  // two hashes of an output's relative path

FolderKey KeyOf(const FileInfo& info) { return {info.device, info.inode}; }

}  // namespace

class BatchWalker::Walk {
 public:
  Walk(platform::FileSystem& fs, platform::Folders& folders, std::vector<std::string> paths,
       const BatchSettings& settings)
      : fs_(fs), folders_(folders), paths_(std::move(paths)), settings_(settings) {}

  bool Next(std::vector<BatchFile>& files, std::size_t most) {
    const std::size_t before = files.size();
    while (files.size() - before < most) {
      if (frames_.empty()) {
        if (next_path_ == paths_.size()) break;
        StartPath(files);
        continue;
      }
      Frame& frame = frames_.back();
      if (frame.next == frame.entries.size()) {
        frames_.pop_back();
        continue;
      }
      const FolderEntry& entry = frame.entries[frame.next++];
      const std::string path = Join(frame.folder, entry.name);
      std::string below = Join(frame.relative, entry.name);
      bool is_file = entry.kind == FolderEntry::Kind::File;
      // A link is taken when it leads to a file, and never followed into a folder, so
      // that a link back up the tree cannot make the walk endless.
      if (entry.kind == FolderEntry::Kind::Link) is_file = fs_.Stat(path).regular;
      if (is_file) {
        if (platform::NameMatches(entry.name, settings_.patterns) && !platform::IsWorkingFileName(entry.name) &&
            (named_.empty() || !named_.count({frame.key, entry.name}))) {
          Add(path, std::move(below), files);
        }
      } else if (entry.kind == FolderEntry::Kind::Folder && settings_.recursive && entry.name.front() != '.') {
        EnterFolder(path, std::move(below), files);  // invalidates `frame` and `entry`
      }
    }
    return files.size() > before;
  }

 private:
  struct Frame {
    std::string folder;
    std::string relative;  // where the folder's files go below the output folder
    FolderKey key;
    std::vector<FolderEntry> entries;
    std::size_t next = 0;
  };

  void StartPath(std::vector<BatchFile>& files) {
    const std::string& path = paths_[next_path_++];
    // Each path's outputs mirror onto the output folder's top, so two paths may land
    // on one output; one path alone never does.
    claimed_.insert(claimed_.end(), claiming_.begin(), claiming_.end());
    std::sort(claimed_.begin(), claimed_.end());
    claiming_.clear();

    const FileInfo info = fs_.Stat(path);
    if (info.exists && !info.regular) {
      Frame frame{path, "", KeyOf(info), {}, 0};
      if (visited_.count(frame.key)) return;
      if (folders_.List(path, frame.entries)) {
        visited_.insert(frame.key);
        frames_.push_back(std::move(frame));
        return;
      }
    }
    AddNamed(path, files);
  }

  // A file named by a path is taken whatever its name, unless it was taken already:
  // named before, or met in a folder walked before (which takes it when its name
  // matches). Known by its folder and name, as the walk knows it.
  void AddNamed(const std::string& path, std::vector<BatchFile>& files) {
    const std::filesystem::path named(path);
    std::string name = named.filename().string();
    const std::string parent = named.parent_path().string();
    const FileInfo folder = fs_.Stat(parent.empty() ? "." : parent);
    if (folder.exists && !name.empty()) {
      if (!named_.insert({KeyOf(folder), name}).second) return;
      if (visited_.count(KeyOf(folder)) && platform::NameMatches(name, settings_.patterns) &&
          !platform::IsWorkingFileName(name) && fs_.Stat(path).regular) {
        return;
      }
    } else if (!named_elsewhere_.insert(path).second) {
      return;
    }
    Add(path, std::move(name), files);
  }

  void EnterFolder(const std::string& path, std::string relative, std::vector<BatchFile>& files) {
    const FileInfo info = fs_.Stat(path);
    if (IsOutputFolder(info)) return;
    if (info.exists && !visited_.insert(KeyOf(info)).second) return;
    Frame frame{path, std::move(relative), KeyOf(info), {}, 0};
    if (folders_.List(path, frame.entries)) {
      frames_.push_back(std::move(frame));
    } else {
      files.push_back({path, "", std::move(frame.relative), messages::kSourceUnreadable});
    }
  }

  // An output folder inside the tree being converted holds outputs, not sources. Until
  // it exists it is asked for again: the batch makes it while the walk goes on.
  bool IsOutputFolder(const FileInfo& info) {
    if (settings_.output_folder.empty() || !info.exists) return false;
    if (!output_folder_.exists) output_folder_ = fs_.Stat(settings_.output_folder);
    return output_folder_.exists && KeyOf(info) == KeyOf(output_folder_);
  }

  void Add(const std::string& source, std::string relative, std::vector<BatchFile>& files) {
    if (settings_.output_folder.empty()) {
      files.push_back({source, source, std::move(relative), {}});
      return;
    }
    BatchFile file{source, Join(settings_.output_folder, relative), std::move(relative), {}};
    if (next_path_ > 1 || next_path_ < paths_.size()) {
      const OutputKey key{std::hash<std::string_view>{}(file.relative), Fnv1a(file.relative)};
      if (std::binary_search(claimed_.begin(), claimed_.end(), key)) {
        file.refusal = messages::kOutputUnwritable;
      } else if (next_path_ < paths_.size()) {
        claiming_.push_back(key);
      }
    }
    files.push_back(std::move(file));
  }

  platform::FileSystem& fs_;
  platform::Folders& folders_;
  const std::vector<std::string> paths_;
  const BatchSettings settings_;
  std::size_t next_path_ = 0;
  std::vector<Frame> frames_;  // the folders being walked, innermost last
  FileInfo output_folder_;
  // A file is reached twice only through paths that overlap or repeat, so the folders
  // walked and the files named are what it takes to know.
  std::set<FolderKey> visited_;
  std::set<std::pair<FolderKey, std::string>> named_;
  std::set<std::string> named_elsewhere_;  // named files whose folder cannot be looked at
  // Outputs claimed by the paths before this one, sorted, and by this one; kept only
  // when several paths are given: 16 bytes a file, where a name would take a path's
  // length, and knowing an earlier path's outputs otherwise means walking it again.
  std::vector<OutputKey> claimed_;
  std::vector<OutputKey> claiming_;
};

BatchWalker::BatchWalker(platform::FileSystem& fs, platform::Folders& folders, std::vector<std::string> paths,
                         const BatchSettings& settings)
    : walk_(std::make_unique<Walk>(fs, folders, std::move(paths), settings)) {}

BatchWalker::~BatchWalker() = default;

bool BatchWalker::Next(std::vector<BatchFile>& files, std::size_t most) { return walk_->Next(files, most); }

std::vector<BatchFile> CollectBatch(platform::FileSystem& fs, platform::Folders& folders,
                                    const std::vector<std::string>& paths, const BatchSettings& settings) {
  BatchWalker walker(fs, folders, paths, settings);
  std::vector<BatchFile> files;
  while (walker.Next(files, kBatchChunk)) {
  }
  return files;
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

namespace {

using Feed = std::function<bool(std::vector<BatchFile>& files, std::size_t most)>;
using Report = std::function<void(std::size_t index, const BatchFile& file, const BatchResult& result)>;

// The files `feed` hands out, converted on `workers` threads, at most about twice
// `chunk` of them held at once: results come in any order and are told in the files'.
BatchTotals RunFeed(platform::FileSystem& fs, platform::Folders& folders, const Feed& feed,
                    const BatchSettings& settings, const Report& report,
                    const std::function<bool()>& stop_requested, unsigned workers, std::size_t chunk) {
  struct Slot {
    BatchFile file;
    std::optional<BatchResult> result;
  };
  std::mutex mutex;
  std::condition_variable room;        // the oldest files were told, leaving room for more
  std::deque<Slot> held;               // handed out and not yet told, oldest first
  std::size_t told = 0;                // files told so far: the index of held.front()
  std::size_t begun = 0;               // files begun so far (or marked NotDone)
  bool exhausted = false;
  std::atomic<bool> stopped{false};
  std::vector<BatchFile> fresh;
  BatchTotals totals;

  const auto tell = [&] {
    for (; !held.empty() && held.front().result; held.pop_front(), ++told) {
      totals.Add(held.front().result->verdict);
      if (report) report(told, held.front().file, *held.front().result);
    }
    room.notify_all();
  };

  // Each thread takes a run of neighbouring files at a time, so that the threads mostly
  // work in different folders: two threads creating files in one folder wait for each
  // other's hold on it. The thread that finds nothing left to begin asks for more.
  constexpr std::size_t kRun = 16;
  auto work = [&] {
    std::string folder_made;  // the last output folder this thread made sure of
    std::unique_lock lock(mutex);
    for (;;) {
      const std::size_t end = told + held.size();
      if (stopped) {
        for (; begun < end; ++begun) held[begun - told].result = BatchResult{};
        // One more, so that a file left undone is always told as such.
        fresh.clear();
        if (!exhausted && feed(fresh, 1)) held.push_back({std::move(fresh.front()), BatchResult{}});
        exhausted = true;
        tell();
        return;
      }
      if (begun == end) {
        if (exhausted) return;
        if (held.size() >= chunk) {
          room.wait(lock);
        } else if (fresh.clear(); feed(fresh, chunk)) {
          for (BatchFile& file : fresh) held.push_back({std::move(file), std::nullopt});
        } else {
          exhausted = true;
        }
        continue;
      }
      // Slots stay where they are while others are added behind them or told ahead.
      std::array<Slot*, kRun> run{};
      const std::size_t count = std::min(kRun, end - begun);
      for (std::size_t i = 0; i < count; ++i) run[i] = &held[begun++ - told];
      lock.unlock();
      for (std::size_t i = 0; i < count; ++i) {
        if (!stopped && stop_requested && stop_requested()) stopped = true;
        BatchResult result =
            stopped ? BatchResult{} : ConvertBatchFile(fs, folders, run[i]->file, settings, stop_requested, &folder_made);
        lock.lock();
        run[i]->result = result;
        tell();
        lock.unlock();
      }
      lock.lock();
    }
  };

  std::vector<std::thread> threads;
  for (unsigned i = 1; i < workers; ++i) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  return totals;
}

}  // namespace

BatchTotals RunBatch(platform::FileSystem& fs, platform::Folders& folders, const std::vector<BatchFile>& files,
                     const BatchSettings& settings, const BatchObserver& observer,
                     const std::function<bool()>& stop_requested, unsigned workers) {
  std::size_t handed = 0;
  const Feed feed = [&files, &handed](std::vector<BatchFile>& more, std::size_t most) {
    const std::size_t end = std::min(files.size(), handed + most);
    more.insert(more.end(), files.begin() + static_cast<std::ptrdiff_t>(handed),
                files.begin() + static_cast<std::ptrdiff_t>(end));
    const bool any = end > handed;
    handed = end;
    return any;
  };
  std::size_t told = 0;
  const Report report = [&observer, &told](std::size_t index, const BatchFile&, const BatchResult& result) {
    told = index + 1;
    if (observer) observer(index, result);
  };
  BatchTotals totals = RunFeed(fs, folders, feed, settings, report, stop_requested,
                               static_cast<unsigned>(std::min<std::size_t>(workers, files.size())), kBatchChunk);
  for (; told < files.size(); ++told) {
    totals.Add(BatchVerdict::NotDone);
    if (observer) observer(told, BatchResult{});
  }
  return totals;
}

BatchTotals RunBatch(platform::FileSystem& fs, platform::Folders& folders, BatchWalker& walker,
                     const BatchSettings& settings, const BatchFileObserver& observer,
                     const std::function<bool()>& stop_requested, unsigned workers, std::size_t chunk) {
  const Feed feed = [&walker](std::vector<BatchFile>& files, std::size_t most) { return walker.Next(files, most); };
  const Report report = [&observer](std::size_t, const BatchFile& file, const BatchResult& result) {
    if (observer) observer(file, result);
  };
  return RunFeed(fs, folders, feed, settings, report, stop_requested, workers, std::max<std::size_t>(chunk, 1));
}

std::string BatchSummary(const BatchTotals& totals) {
  return "変換 " + std::to_string(totals.converted) + "・変換不要 " + std::to_string(totals.already_target) +
         "・変換できません " + std::to_string(totals.not_convertible) + "・失敗 " + std::to_string(totals.failed);
}

}  // namespace tarnwhistle
