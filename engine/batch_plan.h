#pragma once

// The plan of a batch: for the paths named and the settings, every file's source, the
// place of its output, each output folder and the mode it is made with, and every
// refusal. The command line and the batch window both ask it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "batch_file.h"
#include "batch_walk.h"
#include "outcome.h"
#include "platform/file_system.h"

namespace tarnwhistle {

// A folder of the output tree: the output folder itself, or one mirroring a folder
// walked, made when the first file is written into it. One made takes its source
// folder's permission bits less the umask (and its owner may always write into it);
// one that exists is used only when it is the user's own (or root's) and no more open
// than it would be made: another user's folder, or a folder open to more people than its
// source, would let others read or change what is written into it.
class OutputFolder {
 public:
  // The output folder itself, made with every missing folder above it.
  explicit OutputFolder(std::string path);
  OutputFolder(std::shared_ptr<OutputFolder> parent, std::string name, std::uint32_t permissions,
               std::uint32_t umask);

  // Where `file`'s output goes in this folder, which is made first; a dry run makes
  // nothing and only looks at what making it would run into. Refused when it is the
  // file's own place. Safe from several threads.
  platform::OrReason<platform::Place> PlaceFor(platform::FileSystem& fs, const BatchFile& file, bool dry_run);
  // Its path, for messages.
  std::string Path() const;

 private:
  struct Found {
    platform::Folder folder;  // none in a dry run when it is still to be made
    platform::FileIdentity identity;
  };
  platform::OrReason<Found> Get(platform::FileSystem& fs, bool make);
  platform::OrReason<Found> Existing(platform::FileSystem& fs, const platform::Place& place, bool make);
  platform::OrReason<Found> Vetted(platform::FileSystem& fs, const platform::OrReason<platform::Folder>& folder,
                                   bool mirror) const;

  std::shared_ptr<OutputFolder> parent_;
  std::string name_;  // the whole path for the output folder itself
  std::uint32_t permissions_ = 0777;
  std::uint32_t umask_ = 0;
  std::mutex mutex_;
  bool done_ = false;
  platform::OrReason<Found> found_ = platform::Reason::kStopped;
};

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

// Why a whole batch is refused before anything is done.
// OutputFolderInsideSource: the output folder is, or lies inside, a folder named, and
// would take its own outputs; OutputIsSource: the output of a path named would be that
// very file or folder. Ok when neither.
struct BatchRefusal {
  Outcome outcome = Outcome::Ok;
  std::size_t path = 0;  // the index of that path named

  explicit operator bool() const { return outcome != Outcome::Ok; }
};

class BatchPlan {
 public:
  BatchPlan(platform::FileSystem& fs, std::vector<std::string> paths, const BatchSettings& settings);
  ~BatchPlan();
  BatchPlan(const BatchPlan&) = delete;
  BatchPlan& operator=(const BatchPlan&) = delete;

  // What refuses the whole batch, found by what the paths are (never by their texts):
  // an output folder that is, or lies inside, a folder named; a path named whose output
  // would be itself (`-o . A` from the folder holding A).
  BatchRefusal Refusal();

  // Gives `file`, found by a walk of these paths, its output folder (none in place);
  // a file landing where an earlier one does is refused.
  void Assign(BatchFile& file);

  // The next files of the walk of these paths, each with its output.
  bool Next(std::vector<BatchFile>& files, std::size_t most);

  const BatchSettings& settings() const { return settings_; }

 private:
  std::shared_ptr<OutputFolder> MirrorOf(const SourceFolder* folder);

  platform::FileSystem& fs_;
  const std::vector<std::string> paths_;
  const BatchSettings settings_;
  std::unique_ptr<BatchWalker> walker_;  // made when the plan walks itself
  std::shared_ptr<OutputFolder> root_;
  std::uint32_t umask_ = 0;
  std::map<std::string, std::shared_ptr<OutputFolder>> mirrors_;  // by their path below the output folder
  OutputClaims claims_;  // kept only when several paths are given: one path alone never collides
};

}  // namespace tarnwhistle
