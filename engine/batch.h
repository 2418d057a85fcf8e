#pragma once

// Many files at once: the files a list of paths stands for, and each of them through
// the one conversion every front end uses, on a few threads.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "line_ending_kind.h"
#include "platform/file_system.h"
#include "platform/folder_listing.h"
#include "status.h"

namespace tarnwhistle {

struct BatchSettings {
  LineEndingKind target = LineEndingKind::None;
  // Where the outputs go, mirroring the folders given; "" replaces each source in place.
  std::string output_folder;
  bool recursive = false;               // folders below the folders given too
  std::vector<std::string> patterns;    // names of files taken from folders; empty: all
  bool dry_run = false;                 // decide everything, write nothing
};

// One file of a batch.
struct BatchFile {
  std::string source;
  std::string output;                   // the source itself when converting in place
  std::string relative;                 // where the output goes below the output folder
  std::string_view refusal;             // set when the file is refused before it is opened
};

// The files `paths` stand for, in the order given, each folder's files sorted by name.
// A folder gives its files whose names match the patterns (and, when recursive, those
// of the folders below it, except hidden ones such as ".git", which hold a program's
// own files); a path that is not a folder is taken as a file whatever its name, so
// that a missing one is reported rather than passed over silently. A file reached
// twice is taken once; two files that would land on one output are not both written.
//
// Handed out a few at a time, so that a batch of any size is held in memory only a
// chunk at a time: what the walk keeps grows with the depth of the tree and the number
// of folders, not with the number of files.
class BatchWalker {
 public:
  BatchWalker(platform::FileSystem& fs, platform::Folders& folders, std::vector<std::string> paths,
              const BatchSettings& settings);
  ~BatchWalker();
  BatchWalker(const BatchWalker&) = delete;
  BatchWalker& operator=(const BatchWalker&) = delete;

  // Appends up to `most` more files to `files`; false when none was left.
  bool Next(std::vector<BatchFile>& files, std::size_t most);

 private:
  class Walk;
  std::unique_ptr<Walk> walk_;
};

// All the files at once, for a caller that keeps them anyway (the batch window's rows).
std::vector<BatchFile> CollectBatch(platform::FileSystem& fs, platform::Folders& folders,
                                    const std::vector<std::string>& paths, const BatchSettings& settings);

enum class BatchVerdict {
  Converted,       // "変換しました"
  AlreadyTarget,   // "変換不要": already of the target kind
  NotConvertible,  // BINARY, a NUL byte, or no verdict: skipped, no error
  Failed,          // a read or a write failed, or the output could not be made
  NotDone,         // the batch was stopped first; the file is as it was
};

struct BatchResult {
  BatchVerdict verdict = BatchVerdict::NotDone;
  LineEndingKind detected = LineEndingKind::None;
  std::string_view message;  // what a person is told; empty for NotDone
};

// Detects one file and converts it as the settings say. `folder_made`, when given, is
// the output folder last made sure of, kept from one file to the next of a run:
// neighbouring files mostly share a folder, and asking once saves a call per file.
BatchResult ConvertBatchFile(platform::FileSystem& fs, platform::Folders& folders, const BatchFile& file,
                             const BatchSettings& settings, const std::function<bool()>& stop_requested = {},
                             std::string* folder_made = nullptr);

struct BatchTotals {
  std::size_t converted = 0;
  std::size_t already_target = 0;
  std::size_t not_convertible = 0;
  std::size_t failed = 0;
  std::size_t not_done = 0;

  void Add(BatchVerdict verdict);
};

// Told of each file's result, in the order of `files`, one call at a time.
using BatchObserver = std::function<void(std::size_t index, const BatchResult& result)>;

// Converts every file, on `workers` threads; a failure in one never stops the others.
// Once `stop_requested` says true, the file in progress is left as it was and no other
// is begun; the rest are told NotDone. `fs` and `folders` must take calls from several
// threads at once (the real ones do).
BatchTotals RunBatch(platform::FileSystem& fs, platform::Folders& folders, const std::vector<BatchFile>& files,
                     const BatchSettings& settings, const BatchObserver& observer,
                     const std::function<bool()>& stop_requested = {}, unsigned workers = 2);

// Told of each file the walker hands out with its result, in the walker's order.
using BatchFileObserver = std::function<void(const BatchFile& file, const BatchResult& result)>;

// The same for the files of `walker`, asked for `chunk` at a time: at most twice that
// many are held at once. Once stopped, the files already handed out and the one after
// them are told NotDone and no more are looked for, so that `not_done` is not a full
// count then, but is 0 exactly when no file was left undone.
constexpr std::size_t kBatchChunk = 256;
BatchTotals RunBatch(platform::FileSystem& fs, platform::Folders& folders, BatchWalker& walker,
                     const BatchSettings& settings, const BatchFileObserver& observer,
                     const std::function<bool()>& stop_requested = {}, unsigned workers = 2,
                     std::size_t chunk = kBatchChunk);

// "変換 12・変換不要 3・変換できません 2・失敗 1".
std::string BatchSummary(const BatchTotals& totals);

}  // namespace tarnwhistle
