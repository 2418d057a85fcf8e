#pragma once

// Many files at once: the files a list of paths stands for, and each of them converted
// on a few threads, from folders held open so that a folder swapped for a link while
// the batch runs cannot lead it anywhere else.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "conversion.h"
#include "line_ending_kind.h"
#include "platform/file_system.h"
#include "status.h"

namespace tarnwhistle {

struct BatchSettings {
  LineEndingKind target = LineEndingKind::None;
  // Where the outputs go; "" replaces each source in place. Below it each folder named
  // keeps its own name, and so does each file named, as `cp -r` places them.
  std::string output_folder;
  bool recursive = false;               // folders below the folders named too
  std::vector<std::string> patterns;    // names of files taken from folders; empty: all
  bool dry_run = false;                 // decide everything, write nothing
};

// A folder below the output folder, mirroring a folder walked, made (with that folder's
// permission bits, less the umask) when the first file is written into it.
class OutputFolder {
 public:
  // The output folder itself, made with every missing folder above it.
  explicit OutputFolder(std::string path);
  OutputFolder(std::shared_ptr<OutputFolder> parent, std::string name, std::uint32_t permissions);

  // The folder held open, made first if it is missing. Safe from several threads.
  platform::OrReason<platform::Folder> Make(platform::FileSystem& fs);
  // Its path, for messages.
  std::string Path() const;
  // For a dry run, which makes nothing: what making it would run into, as far as can be
  // told without making it (something not a folder in its way).
  platform::Reason Check(platform::FileSystem& fs) const;

 private:
  std::shared_ptr<OutputFolder> parent_;
  std::string name_;  // the whole path for the output folder itself
  std::uint32_t permissions_ = 0777;
  std::mutex mutex_;
  platform::Folder made_;
};

// One file of a batch.
struct BatchFile {
  std::string source;                         // as shown: the path named, and the names walked below it
  platform::Place place;                      // where it is, in a folder held open
  std::string relative;                       // where its output goes below the output folder
  std::shared_ptr<OutputFolder> output;       // the folder its output goes into, when not in place
  std::uint64_t size = 0;                     // as examined: what the batch window's progress weighs it by
  Status refused = Status::Ok;                // set when the file is refused before it is opened
  platform::Reason reason = platform::Reason::kNone;
  bool skipped_link = false;                  // a symbolic link met by the walk: told, never followed
  LineEndingKind target = LineEndingKind::None;  // this file's own target, in place of the batch's
};

// Gives files collected earlier (the batch window's rows, added in several goes) their
// outputs below `output_folder` ("" for none: in place), mirroring the folders they were
// found in; a file landing where an earlier one does is refused.
void AssignOutputs(platform::FileSystem& fs, std::vector<BatchFile>& files, const std::string& output_folder);

// Where `file`'s output goes: below the output folder, or the file itself in place.
std::string OutputPath(const BatchFile& file);

// Tells, for several batches into one output folder, whether an output is claimed twice:
// two files landing on one place are never both written. Keeps 16 bytes a file (two
// independent hashes of its relative path), not its name.
class OutputClaims {
 public:
  // False when `relative` was claimed before.
  bool Claim(std::string_view relative);

 private:
  struct KeyHash {
    std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& key) const { return key.first; }
  };
  std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, KeyHash> claimed_;
};

// The files `paths` stand for, in the order given, each folder's files sorted by name.
// A path named is resolved as typed (a link there is followed, as the kernel would);
// below it, the walk never follows a link: each one is told as skipped. A folder gives
// its files whose names match the patterns (and, when recursive, those of the folders
// below it, except hidden ones such as ".git", which hold a program's own files); a
// path that is not a folder is taken as a file whatever its name, so that a missing one
// is reported rather than passed over silently. A file reached twice is taken once; two
// files that would land on one output are not both written. A working file this
// program left behind in a folder walked, whose process is gone, is removed.
//
// Handed out a few at a time, so that a batch of any size is held in memory only a
// chunk at a time: what the walk keeps grows with the depth of the tree and the number
// of folders, not with the number of files.
class BatchWalker {
 public:
  BatchWalker(platform::FileSystem& fs, std::vector<std::string> paths, const BatchSettings& settings);
  ~BatchWalker();
  BatchWalker(const BatchWalker&) = delete;
  BatchWalker& operator=(const BatchWalker&) = delete;

  // Appends up to `most` more files to `files`; false when none was left.
  bool Next(std::vector<BatchFile>& files, std::size_t most);

 private:
  class Walk;
  std::unique_ptr<Walk> walk_;
};

// The index of the first path naming a folder that is, or holds, the output folder
// (which would take its own outputs for sources); -1 when there is none.
int OutputFolderInsidePath(platform::FileSystem& fs, const std::vector<std::string>& paths,
                           const std::string& output_folder);

enum class BatchVerdict {
  Converted,       // "変換しました"
  AlreadyTarget,   // "変換不要": already of the target kind, or no line break at all
  NotConvertible,  // BINARY, or a NUL byte
  Skipped,         // a symbolic link met by a walk
  Failed,          // a read or a write failed, or the output could not be made
  NotDone,         // the batch was stopped first; the file is as it was
};

struct BatchResult {
  BatchVerdict verdict = BatchVerdict::NotDone;
  bool copied = false;  // with an output folder: written there unchanged
  LineEndingKind detected = LineEndingKind::None;
  std::string message;  // what a person is told; empty for NotDone
};

// Told, from the threads that do the work, of bytes of sources read.
using BatchProgress = std::function<void(std::uint64_t bytes)>;

// Detects one file and converts it as the settings say, from one opening. With an
// output folder, a file that needs no conversion, or allows none, is copied there as
// it is, so that the output folder holds every file.
BatchResult ConvertBatchFile(platform::FileSystem& fs, const BatchFile& file, const BatchSettings& settings,
                             const std::stop_token& stop = {}, const BatchProgress& progress = {});

struct BatchTotals {
  std::size_t converted = 0;
  std::size_t already_target = 0;
  std::size_t not_convertible = 0;
  std::size_t copied = 0;  // of the two before
  std::size_t skipped = 0;
  std::size_t failed = 0;
  std::size_t not_done = 0;

  void Add(const BatchResult& result);
};

// Told of each file the walker hands out with its result, in the walker's order, one
// call at a time and outside every lock of the batch.
using BatchObserver = std::function<void(const BatchFile& file, const BatchResult& result)>;

// How many threads a batch of `settings` runs on. Two, which on two cores halve the time
// of many small files, where a third measured no faster, the work being mostly the
// kernel's. Four in place: there each thread spends much of its time waiting for the
// disk, to flush its group and to give back each old file's blocks, and while two wait,
// two convert (10,000 files in place: 0.90 s on four, 1.22 s on two; a converted copy of
// them no faster on four).
unsigned BatchWorkers(const BatchSettings& settings);

// Converts the files of `walker`, asked for `chunk` at a time, on `workers` threads: at
// most about twice `chunk` files are held at once, and a failure in one file never stops
// the others. Once `stop` is requested, the file in progress is left as it was and no
// other is begun; the files already handed out and the one after them are told
// NotDone, and no more are looked for, so that `not_done` is not a full count then, but
// is 0 exactly when no file was left undone.
constexpr std::size_t kBatchChunk = 256;
BatchTotals RunBatch(platform::FileSystem& fs, BatchWalker& walker, const BatchSettings& settings,
                     const BatchObserver& observer, const std::stop_token& stop = {}, unsigned workers = 2,
                     std::size_t chunk = kBatchChunk, const BatchProgress& progress = {});

// The same for files already collected (the batch window's rows), told by their index.
BatchTotals RunBatch(platform::FileSystem& fs, const std::vector<BatchFile>& files, const BatchSettings& settings,
                     const std::function<void(std::size_t index, const BatchResult& result)>& observer,
                     const std::stop_token& stop = {}, unsigned workers = 2, const BatchProgress& progress = {});

// "変換 12・変換不要 3・変換できません 2・失敗 1", with "・コピー 4" and "・リンク 1" after
// it when there were any.
std::string BatchSummary(const BatchTotals& totals);

}  // namespace tarnwhistle
