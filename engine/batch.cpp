#include "batch.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <thread>

#include "messages.h"
#include "platform/name_patterns.h"
#include "platform/race_points.h"
#include "platform/replacement_file.h"

namespace tarnwhistle {
namespace {

using platform::FileInfo;
using platform::Folder;
using platform::OrReason;
using platform::Place;
using platform::Reason;

// A working file of another boot is taken for abandoned once it is this old: its process
// may run on another machine sharing the folder, but none converts one file for a day.
constexpr std::int64_t kAbandonedAfterSeconds = 24 * 60 * 60;

// A path's last name, as typed: "src/" and "src" are both "src".
std::string LastName(const std::string& path) {
  std::filesystem::path p(path);
  if (!p.has_filename() && p.has_parent_path() && p.parent_path() != p.root_path()) p = p.parent_path();
  return p.filename().string();
}

// The name a folder named keeps below the output folder, as `cp -r` gives it; for "."
// or "..", the name of the folder they stand for, and nothing for the root.
std::string MirrorName(const std::string& path) {
  const std::string name = LastName(path);
  if (!name.empty() && name != "." && name != "..") return name;
  std::filesystem::path absolute = std::filesystem::absolute(path).lexically_normal();
  if (!absolute.has_filename()) absolute = absolute.parent_path();
  return absolute == absolute.root_path() ? std::string() : absolute.filename().string();
}

// std has one 64-bit hash of a string; a second, independent one makes two different
// names agree by chance about once in 2^128 pairs.
std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// Makes the folder at `path` and every missing one above it, as `mkdir -p` does.
OrReason<Folder> MakePath(platform::FileSystem& fs, const std::string& path) {
  OrReason<Place> place = fs.Locate(path);
  if (!place && place.reason == platform::FromErrno(ENOENT)) {
    const std::filesystem::path whole = std::filesystem::path(path).lexically_normal();
    const std::filesystem::path above = whole.has_filename() ? whole.parent_path() : whole.parent_path().parent_path();
    if (above.empty() || above == whole) return place.reason;
    OrReason<Folder> made = MakePath(fs, above.string());
    if (!made) return made.reason;
    place = Place{made.value, LastName(path)};
  }
  if (!place) return place.reason;
  return fs.MakeFolder(place.value, 0777);
}

using FolderKey = std::pair<std::uint64_t, std::uint64_t>;  // device, inode
FolderKey KeyOf(const platform::FileIdentity& identity) { return {identity.device, identity.inode}; }

}  // namespace

OutputFolder::OutputFolder(std::string path) : name_(std::move(path)) {}

OutputFolder::OutputFolder(std::shared_ptr<OutputFolder> parent, std::string name, std::uint32_t permissions)
    : parent_(std::move(parent)), name_(std::move(name)), permissions_(permissions) {}

OrReason<Folder> OutputFolder::Make(platform::FileSystem& fs) {
  std::lock_guard lock(mutex_);
  if (made_) return made_;
  // Without a name, the root named: its files go straight into the folder above.
  OrReason<Folder> made = parent_ ? parent_->Make(fs) : MakePath(fs, name_);
  if (made && parent_ && !name_.empty()) {
    // The owner may always write into it: a read-only source folder still gets its files.
    made = fs.MakeFolder({made.value, name_}, permissions_ | 0700);
  }
  if (made) made_ = made.value;
  return made;
}

// One lookup of the whole path answers for the folders above too: it fails at the first
// that is not a folder, and a missing one (ENOENT) is one still to be made.
platform::Reason OutputFolder::Check(platform::FileSystem& fs) const {
  const OrReason<Place> place = fs.Locate(Path());
  if (!place) return place.reason == platform::FromErrno(ENOENT) ? Reason::kNone : place.reason;
  const FileInfo::Kind kind = fs.Stat(place.value).kind;
  return kind == FileInfo::Kind::Missing || kind == FileInfo::Kind::Folder ? Reason::kNone : platform::FromErrno(ENOTDIR);
}

std::string OutputFolder::Path() const { return parent_ ? platform::JoinPath(parent_->Path(), name_) : name_; }

void AssignOutputs(platform::FileSystem& fs, std::vector<BatchFile>& files, const std::string& output_folder) {
  for (BatchFile& file : files) file.output = nullptr;
  if (output_folder.empty()) return;
  // Each folder takes the permissions of the source folder its files are in, looked up
  // once. A folder on the way that holds no file of its own is not known here, and is
  // made for its owner alone: a private source folder never gets an open copy.
  std::map<std::string, std::uint32_t> permissions;  // by their path below the output folder
  for (const BatchFile& file : files) {
    const std::string relative = std::filesystem::path(file.relative).parent_path().string();
    if (file.place.folder && !permissions.contains(relative)) {
      permissions[relative] = fs.StatFolder(file.place.folder).permissions;
    }
  }
  const auto root = std::make_shared<OutputFolder>(output_folder);
  std::map<std::string, std::shared_ptr<OutputFolder>> made;  // by their path below the output folder
  const std::function<std::shared_ptr<OutputFolder>(const std::string&)> node = [&](const std::string& relative) {
    if (relative.empty()) return root;
    std::shared_ptr<OutputFolder>& found = made[relative];
    if (!found) {
      const std::filesystem::path path(relative);
      const auto known = permissions.find(relative);
      found = std::make_shared<OutputFolder>(node(path.parent_path().string()), path.filename().string(),
                                             known == permissions.end() ? 0700 : known->second);
    }
    return found;
  };
  OutputClaims claims;
  for (BatchFile& file : files) {
    file.output = node(std::filesystem::path(file.relative).parent_path().string());
    if (!claims.Claim(file.relative) && file.refused == Status::Ok) {
      file.refused = Status::OutputCannotWrite;
      file.reason = Reason::kSameOutput;
    }
  }
}

std::string OutputPath(const BatchFile& file) {
  return file.output ? platform::JoinPath(file.output->Path(), LastName(file.relative)) : file.source;
}

bool OutputClaims::Claim(std::string_view relative) {
  return claimed_.insert({std::hash<std::string_view>{}(relative), Fnv1a(relative)}).second;
}

class BatchWalker::Walk {
 public:
  Walk(platform::FileSystem& fs, std::vector<std::string> paths, const BatchSettings& settings)
      : fs_(fs), paths_(std::move(paths)), settings_(settings) {
    if (!settings_.output_folder.empty()) output_root_ = std::make_shared<OutputFolder>(settings_.output_folder);
  }

  bool Next(std::vector<BatchFile>& files, std::size_t most) {
    const std::size_t before = files.size();
    while (files.size() - before < most) {
      if (frames_.empty()) {
        if (next_path_ == paths_.size()) break;
        StartPath(paths_[next_path_++], files);
        continue;
      }
      Frame& frame = frames_.back();
      if (frame.next == frame.entries.size()) {
        frames_.pop_back();
        continue;
      }
      const platform::FolderEntry entry = frame.entries[frame.next++];
      TakeEntry(frame, entry, files);  // may invalidate `frame`
    }
    return files.size() > before;
  }

 private:
  struct Frame {
    Folder folder;
    std::string shown;     // its path, as shown
    std::string relative;  // where its files go below the output folder
    std::shared_ptr<OutputFolder> output;
    FolderKey key;
    std::vector<platform::FolderEntry> entries;
    std::size_t next = 0;
  };

  void StartPath(const std::string& path, std::vector<BatchFile>& files) {
    const OrReason<Place> place = fs_.Locate(path);
    if (!place) {
      files.push_back(Refused(path, {}, LastName(path), place.reason));
      return;
    }
    if (fs_.Stat(place.value).kind != FileInfo::Kind::Folder) {
      AddNamed(path, place.value, files);
      return;
    }
    const std::string name = MirrorName(path);
    Enter(place.value, path, name, output_root_, name, files);
  }

  // A file named by a path is taken whatever its name, unless it was taken already:
  // named before, or met in a folder walked before (which takes it when its name
  // matches).
  void AddNamed(const std::string& path, const Place& place, std::vector<BatchFile>& files) {
    const FolderKey folder = KeyOf(fs_.StatFolder(place.folder).identity);
    if (!named_.insert({folder, place.name}).second) return;
    if (visited_.count(folder) && platform::NameMatches(place.name, settings_.patterns) &&
        fs_.Stat(place).kind == FileInfo::Kind::File) {
      return;
    }
    const std::string name = LastName(path).empty() ? place.name : LastName(path);
    Add(path, place, name, output_root_, files);
  }

  void TakeEntry(const Frame& frame, const platform::FolderEntry& entry, std::vector<BatchFile>& files) {
    const Place place{frame.folder, entry.name};
    const std::string shown = platform::JoinPath(frame.shown, entry.name);
    switch (entry.kind) {
      case FileInfo::Kind::Link:
        if (platform::NameMatches(entry.name, settings_.patterns)) {
          BatchFile link{shown, place, platform::JoinPath(frame.relative, entry.name), frame.output};
          link.skipped_link = true;
          files.push_back(std::move(link));
        }
        return;
      case FileInfo::Kind::File:
        if (!platform::NameMatches(entry.name, settings_.patterns) ||
            (!named_.empty() && named_.count({frame.key, entry.name}))) {
          return;
        }
        if (IsWorkingFile(place)) return;
        Add(shown, place, platform::JoinPath(frame.relative, entry.name), frame.output, files);
        return;
      case FileInfo::Kind::Folder:
        if (settings_.recursive && entry.name.front() != '.') {
          Enter(place, shown, platform::JoinPath(frame.relative, entry.name), frame.output, entry.name, files);
        }
        return;
      case FileInfo::Kind::Missing:
      case FileInfo::Kind::Other: return;  // FIFOs, sockets, devices: never sources
    }
  }

  // Opens the folder at `place` without following a link there, and walks it next; its
  // files go into the folder `output_name` of `output_above`.
  void Enter(const Place& place, const std::string& shown, const std::string& relative,
             const std::shared_ptr<OutputFolder>& output_above, const std::string& output_name,
             std::vector<BatchFile>& files) {
    const OrReason<Folder> folder = fs_.OpenFolder(place);
    if (!folder) {
      BatchFile refused = Refused(shown, place, relative, folder.reason);
      refused.skipped_link = folder.reason == Reason::kSymbolicLink;  // swapped for one since it was listed
      files.push_back(std::move(refused));
      return;
    }
    const FileInfo info = fs_.StatFolder(folder.value);
    std::shared_ptr<OutputFolder> output;
    if (output_above) output = std::make_shared<OutputFolder>(output_above, output_name, info.permissions);
    Frame frame{folder.value, shown, relative, std::move(output), KeyOf(info.identity), {}, 0};
    if (!visited_.insert(frame.key).second) return;
    if (const Reason listed = fs_.List(folder.value, frame.entries); listed != Reason::kNone) {
      files.push_back(Refused(shown, place, relative, listed));
      return;
    }
    platform::Reached(platform::RacePoint::kFolderListed);
    frames_.push_back(std::move(frame));
  }

  // A working file of this program's: one of a run still going is passed over, one whose
  // process is gone is removed.
  bool IsWorkingFile(const Place& place) {
    const platform::WorkingFileState state = platform::WorkingFileStateOf(place.name);
    if (state == platform::WorkingFileState::NotOurs) return false;
    bool abandoned = state == platform::WorkingFileState::Abandoned;
    if (state == platform::WorkingFileState::OtherBoot) {
      const FileInfo info = fs_.Stat(place);
      const auto now = std::chrono::system_clock::now().time_since_epoch();
      abandoned = std::chrono::duration_cast<std::chrono::seconds>(now).count() - info.identity.modified_seconds >
                  kAbandonedAfterSeconds;
    }
    if (abandoned && !settings_.dry_run) fs_.Remove(place);
    return true;
  }

  void Add(const std::string& shown, const Place& place, std::string relative, std::shared_ptr<OutputFolder> output,
           std::vector<BatchFile>& files) {
    BatchFile file{shown, place, std::move(relative), std::move(output)};
    if (output_root_ && paths_.size() > 1 && !claims_.Claim(file.relative)) {
      file.refused = Status::OutputCannotWrite;
      file.reason = Reason::kSameOutput;
    }
    files.push_back(std::move(file));
  }

  BatchFile Refused(const std::string& shown, const Place& place, const std::string& relative, Reason reason) const {
    BatchFile file{shown, place, relative, output_root_};
    file.refused = Status::SourceCannotOpen;
    file.reason = reason;
    return file;
  }

  platform::FileSystem& fs_;
  const std::vector<std::string> paths_;
  const BatchSettings settings_;
  std::shared_ptr<OutputFolder> output_root_;
  std::size_t next_path_ = 0;
  std::vector<Frame> frames_;  // the folders being walked, innermost last
  // A file is reached twice only through paths that overlap or repeat, so the folders
  // walked and the files named are what it takes to know.
  std::set<FolderKey> visited_;
  std::set<std::pair<FolderKey, std::string>> named_;
  OutputClaims claims_;  // kept only when several paths are given: one path alone never collides
};

BatchWalker::BatchWalker(platform::FileSystem& fs, std::vector<std::string> paths, const BatchSettings& settings)
    : walk_(std::make_unique<Walk>(fs, std::move(paths), settings)) {}

BatchWalker::~BatchWalker() = default;

bool BatchWalker::Next(std::vector<BatchFile>& files, std::size_t most) { return walk_->Next(files, most); }

int OutputFolderInsidePath(platform::FileSystem& fs, const std::vector<std::string>& paths,
                           const std::string& output_folder) {
  if (output_folder.empty()) return -1;
  // The nearest folder of the output's path that exists, and every folder above it.
  std::filesystem::path nearest = std::filesystem::path(output_folder).lexically_normal();
  OrReason<Folder> folder = platform::FromErrno(ENOENT);
  for (;;) {
    const OrReason<Place> place = fs.Locate(nearest.empty() ? "." : nearest.string());
    if (place) {
      folder = fs.Stat(place.value).kind == FileInfo::Kind::Folder ? fs.OpenFolder(place.value) : place.value.folder;
      break;
    }
    if (nearest.empty()) return -1;
    nearest = nearest.has_filename() ? nearest.parent_path() : nearest.parent_path().parent_path();
  }
  std::set<FolderKey> above;
  while (folder) {
    const FolderKey key = KeyOf(fs.StatFolder(folder.value).identity);
    if (!above.insert(key).second) break;  // the root is its own parent
    folder = fs.OpenFolder({folder.value, ".."});
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const OrReason<Place> place = fs.Locate(paths[i]);
    if (!place || fs.Stat(place.value).kind != FileInfo::Kind::Folder) continue;
    const OrReason<Folder> named = fs.OpenFolder(place.value);
    if (named && above.count(KeyOf(fs.StatFolder(named.value).identity))) return static_cast<int>(i);
  }
  return -1;
}

namespace {

// `message` with notes after it in one pair of full-width brackets.
// With an output folder, a file that is not converted is copied there; a dry run says
// it would be.
std::string_view CopyNote(bool mirror, bool dry_run) {
  if (!mirror) return {};
  return dry_run ? "コピー" : "コピーしました";
}

}  // namespace

namespace {

BatchResult Failed(BatchResult result, Result outcome) {
  result.verdict = outcome.status == Status::Cancelled ? BatchVerdict::NotDone : BatchVerdict::Failed;
  result.message = messages::ForStatus(outcome.status, outcome.reason);
  return result;
}

// What a file needs: a conversion (`convert`), or none (already of the kind, or no line
// break), or it allows none (BINARY, or a NUL: `nul`). A dry run reads the whole file to
// know what a conversion would meet.
Result WhatItNeeds(Source& source, LineEndingKind target, bool dry_run, const std::stop_token& stop, bool& convert,
                   bool& nul) {
  convert = source.verdict != LineEndingKind::Binary && source.verdict != LineEndingKind::None;
  nul = false;
  if (!convert || (source.verdict != target && !dry_run)) return {};
  bool all = false;
  const Result scanned = AllLineEndingsOf(source, target, all, &nul, stop);
  convert = !all && !nul;
  return scanned;
}

// Where the file's output goes: itself in place, or below the output folder (made
// first; a dry run only looks at what stands in its way).
OrReason<Place> OutputPlace(platform::FileSystem& fs, const BatchFile& file, const BatchSettings& settings) {
  if (!file.output) return file.place;
  if (settings.dry_run) {
    const Reason blocked = file.output->Check(fs);
    return blocked == Reason::kNone ? OrReason<Place>(file.place) : OrReason<Place>(blocked);
  }
  const OrReason<Folder> folder = file.output->Make(fs);
  if (!folder) return folder.reason;
  return Place{folder.value, LastName(file.relative)};
}

// What a person is told of a file that is not converted, and whether it is copied.
void NotConverted(BatchResult& result, const Source& source, bool nul, bool mirror, bool dry_run) {
  if (source.verdict == LineEndingKind::Binary || nul) {
    result.verdict = BatchVerdict::NotConvertible;
    result.message = messages::WithNotes(messages::kBinarySource,
                                         {nul ? messages::kNulNote : "バイナリ ファイルです", CopyNote(mirror, dry_run)});
  } else {
    result.verdict = BatchVerdict::AlreadyTarget;
    result.message = messages::WithNotes(messages::kAlreadyTarget, {source.verdict == LineEndingKind::None ? "改行がありません" : "",
                                                          CopyNote(mirror, dry_run)});
  }
  result.copied = mirror;
}

// A new file written and not yet in place. Converting in place, the file it replaces is
// its source, which is held open until after the rename: the old file's blocks are then
// given back when it is closed, outside the rename, which holds the folder's lock while
// it frees them (and, on a disk mounted with `discard`, waits for the disk to trim them),
// and the other thread, creating or renaming in the same folder, waits for that lock.
// Held so, 10,000 files in place took 1.13-1.19 s against 1.59-1.89 s.
struct Pending {
  std::unique_ptr<platform::ReplacementFile> file;
  std::unique_ptr<platform::ReadHandle> replaced;
};

// ConvertBatchFile, but a file that replaces an existing one is left in `pending`, when
// given, complete and not yet in place, for PublishGroup to make durable with others.
BatchResult ConvertOne(platform::FileSystem& fs, const BatchFile& file, const BatchSettings& settings,
                       const std::stop_token& stop, const BatchProgress& progress, Pending* pending) {
  BatchResult result;
  if (file.skipped_link) return {BatchVerdict::Skipped, false, {}, "シンボリック リンクのため飛ばしました"};
  if (file.refused != Status::Ok) return Failed(result, {file.refused, file.reason});
  Source source;
  if (Result opened = OpenSource(fs, file.place, source, stop); !opened.ok()) return Failed(result, opened);
  result.detected = source.verdict;
  bool convert = false, nul = false;
  const LineEndingKind target = file.target != LineEndingKind::None ? file.target : settings.target;
  if (Result needs = WhatItNeeds(source, target, settings.dry_run, stop, convert, nul); !needs.ok()) {
    return Failed(result, needs);
  }
  const OrReason<Place> output = OutputPlace(fs, file, settings);
  if (!output) return Failed(result, {Status::OutputCannotWrite, output.reason});
  std::uint64_t told = 0;
  // Bytes read again (the copy of a file found not to be text) are not counted twice.
  const ConversionProgress per_file = [&progress, &told](std::uint64_t done, std::uint64_t, Stage) {
    if (progress && done > told) progress(done - told);
    told = std::max(told, done);
  };
  if (convert) {
    result.verdict = BatchVerdict::Converted;
    result.message = messages::kConverted;
    if (settings.dry_run) return result;
    Written written = WriteUnpublished(fs, source, output.value, target, stop, per_file);
    if (written.result.ok() && pending != nullptr && written.file->ReplacesExisting()) {
      *pending = {std::move(written.file), std::move(source.file)};
      return result;
    }
    if (written.result.ok()) {
      const Result published = Publish(*written.file, stop);
      return published.ok() ? result : Failed(result, published);
    }
    if (written.result.status != Status::SourceNotText) return Failed(result, written.result);
    nul = true;  // the rest is as for a file that allows no conversion
    if (Reason rewound = source.file->Rewind(); rewound != Reason::kNone) {
      return Failed(result, {Status::SourceReadFailed, rewound});
    }
  }
  NotConverted(result, source, nul, file.output != nullptr, settings.dry_run);
  if (!result.copied || settings.dry_run) return result;
  const Result copied = WriteConverted(fs, source, output.value, LineEndingKind::None, stop, per_file);
  return copied.ok() ? result : Failed(result, copied);
}

// Makes the new files of a group durable together (one syncfs for each file system they
// are on), then puts each in its place: one wait for the disk per group, not one per
// file, and still no old file replaced before its new content is on the disk. A stop or
// a failure before a file's rename leaves that file as it was.
void PublishGroup(platform::FileSystem& fs, std::span<BatchResult> results,
                  std::span<Pending> pending, const std::stop_token& stop) {
  const auto fail = [&](std::size_t i, Reason reason) {
    results[i] = Failed(results[i], {Status::OutputCannotWrite, reason});
    pending[i] = {};
  };
  std::map<std::uint64_t, Reason> synced;  // by device
  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (!pending[i].file) continue;
    if (const Reason prepared = pending[i].file->Prepare(false); prepared != Reason::kNone) {
      fail(i, prepared);
      continue;
    }
    const Folder& folder = pending[i].file->Target().folder;
    const auto [device, first] = synced.try_emplace(fs.StatFolder(folder).identity.device, Reason::kNone);
    if (first) device->second = fs.SyncFileSystem(folder);
    if (device->second != Reason::kNone) fail(i, device->second);
  }
  platform::Reached(platform::RacePoint::kGroupFlushed);
  for (std::size_t i = 0; i < pending.size(); ++i) {
    if (!pending[i].file) continue;
    if (stop.stop_requested()) {
      results[i] = BatchResult{};
    } else if (const Reason published = pending[i].file->Publish(); published != Reason::kNone) {
      fail(i, published);
    }
    pending[i] = {};
  }
}

}  // namespace

BatchResult ConvertBatchFile(platform::FileSystem& fs, const BatchFile& file, const BatchSettings& settings,
                             const std::stop_token& stop, const BatchProgress& progress) {
  return ConvertOne(fs, file, settings, stop, progress, nullptr);
}

void BatchTotals::Add(const BatchResult& result) {
  switch (result.verdict) {
    case BatchVerdict::Converted: ++converted; break;
    case BatchVerdict::AlreadyTarget: ++already_target; break;
    case BatchVerdict::NotConvertible: ++not_convertible; break;
    case BatchVerdict::Skipped: ++skipped; break;
    case BatchVerdict::Failed: ++failed; break;
    case BatchVerdict::NotDone: ++not_done; break;
  }
  if (result.copied && result.verdict != BatchVerdict::Failed && result.verdict != BatchVerdict::NotDone) ++copied;
}

namespace {

using Feed = std::function<bool(std::vector<BatchFile>& files, std::size_t most)>;
using Report = std::function<void(std::size_t index, const BatchFile& file, const BatchResult& result)>;

// The files `feed` hands out, converted on `workers` threads, at most about twice
// `chunk` of them held at once: results come in any order and are told in the files'
// order, by one thread at a time and outside the lock.
class Feeder {
 public:
  Feeder(platform::FileSystem& fs, const Feed& feed, const BatchSettings& settings, const Report& report,
         const std::stop_token& stop, std::size_t chunk, const BatchProgress& progress)
      : fs_(fs), feed_(feed), settings_(settings), report_(report), stop_(stop), chunk_(chunk), progress_(progress) {}

  BatchTotals Run(unsigned workers) {
    std::vector<std::jthread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back([this] { Work(); });
    Work();
    threads.clear();
    return totals_;
  }

 private:
  struct Slot {
    BatchFile file;
    std::optional<BatchResult> result;
  };

  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      const std::size_t end = told_ + held_.size();
      if (stop_.stop_requested()) {
        StopHere(lock, end);
        return;
      }
      if (begun_ == end) {
        if (exhausted_) return;
        if (held_.size() >= chunk_) {
          room_.wait(lock);
        } else if (fresh_.clear(); feed_(fresh_, chunk_)) {
          for (BatchFile& file : fresh_) held_.push_back({std::move(file), std::nullopt});
        } else {
          exhausted_ = true;
        }
        continue;
      }
      // Each thread takes a run of neighbouring files at a time, so that the threads
      // mostly work in different folders: two threads creating files in one folder wait
      // for each other's hold on it. A run's replacements are also made durable together:
      // 64 a group measured 0.39-0.60 × dos2unix's time in place on 10,000 files across
      // runs, 16 only 0.62 ×. Slots stay where they are while others are added behind
      // them or told ahead.
      constexpr std::size_t kRun = 64;
      std::array<Slot*, kRun> run{};
      const std::size_t count = std::min(kRun, end - begun_);
      for (std::size_t i = 0; i < count; ++i) run[i] = &held_[begun_++ - told_];
      lock.unlock();
      // The run's files that replace others are made durable together, and told once they
      // are in place.
      std::array<BatchResult, kRun> results;
      std::array<Pending, kRun> pending;
      for (std::size_t i = 0; i < count; ++i) {
        if (!stop_.stop_requested()) results[i] = ConvertOne(fs_, run[i]->file, settings_, stop_, progress_, &pending[i]);
      }
      PublishGroup(fs_, {results.data(), count}, {pending.data(), count}, stop_);
      lock.lock();
      for (std::size_t i = 0; i < count; ++i) run[i]->result = std::move(results[i]);
      Tell(lock);
    }
  }

  // Every file begun is told NotDone when it was not done, and so is one more, so that a
  // file left undone is always told as such.
  void StopHere(std::unique_lock<std::mutex>& lock, std::size_t end) {
    for (; begun_ < end; ++begun_) held_[begun_ - told_].result = BatchResult{};
    if (!exhausted_) {
      fresh_.clear();
      if (feed_(fresh_, 1)) {
        held_.push_back({std::move(fresh_.front()), BatchResult{}});
        ++begun_;
      }
    }
    exhausted_ = true;
    Tell(lock);
  }

  // Tells the oldest files whose results are in. One thread tells at a time; one that
  // finds another telling leaves its results to it.
  void Tell(std::unique_lock<std::mutex>& lock) {
    if (telling_) return;
    telling_ = true;
    while (!held_.empty() && held_.front().result) {
      Slot slot = std::move(held_.front());
      held_.pop_front();
      const std::size_t index = told_++;
      totals_.Add(*slot.result);
      lock.unlock();
      if (report_) report_(index, slot.file, *slot.result);
      lock.lock();
    }
    telling_ = false;
    room_.notify_all();
  }

  platform::FileSystem& fs_;
  const Feed& feed_;
  const BatchSettings& settings_;
  const Report& report_;
  const std::stop_token& stop_;
  const std::size_t chunk_;
  const BatchProgress& progress_;

  std::mutex mutex_;
  std::condition_variable room_;  // the oldest files were told, leaving room for more
  std::deque<Slot> held_;         // handed out and not yet told, oldest first
  std::size_t told_ = 0;          // files told so far: the index of held_.front()
  std::size_t begun_ = 0;         // files begun so far (or marked NotDone)
  bool exhausted_ = false;
  bool telling_ = false;
  std::vector<BatchFile> fresh_;
  BatchTotals totals_;
};

}  // namespace

BatchTotals RunBatch(platform::FileSystem& fs, BatchWalker& walker, const BatchSettings& settings,
                     const BatchObserver& observer, const std::stop_token& stop, unsigned workers, std::size_t chunk,
                     const BatchProgress& progress) {
  const Feed feed = [&walker](std::vector<BatchFile>& files, std::size_t most) { return walker.Next(files, most); };
  const Report report = [&observer](std::size_t, const BatchFile& file, const BatchResult& result) {
    if (observer) observer(file, result);
  };
  return Feeder(fs, feed, settings, report, stop, std::max<std::size_t>(chunk, 1), progress).Run(std::max(workers, 1u));
}

BatchTotals RunBatch(platform::FileSystem& fs, const std::vector<BatchFile>& files, const BatchSettings& settings,
                     const std::function<void(std::size_t index, const BatchResult& result)>& observer,
                     const std::stop_token& stop, unsigned workers, const BatchProgress& progress) {
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
  const unsigned threads = static_cast<unsigned>(std::clamp<std::size_t>(files.size(), 1, std::max(workers, 1u)));
  BatchTotals totals = Feeder(fs, feed, settings, report, stop, kBatchChunk, progress).Run(threads);
  for (; told < files.size(); ++told) {
    totals.Add(BatchResult{});
    if (observer) observer(told, BatchResult{});
  }
  return totals;
}

unsigned BatchWorkers(const BatchSettings& settings) {
  return settings.output_folder.empty() && !settings.dry_run ? 4 : 2;
}

std::string BatchSummary(const BatchTotals& totals) {
  std::string text = "変換 " + std::to_string(totals.converted) + "・変換不要 " + std::to_string(totals.already_target) +
                     "・変換できません " + std::to_string(totals.not_convertible) + "・失敗 " +
                     std::to_string(totals.failed);
  if (totals.copied > 0) text += "・コピー " + std::to_string(totals.copied);
  if (totals.skipped > 0) text += "・リンク " + std::to_string(totals.skipped);
  return text;
}

}  // namespace tarnwhistle
