#include "batch_plan.h"

#include <filesystem>
#include <functional>
#include <set>

#include "platform/paths.h"

namespace tarnwhistle {
namespace {

using platform::FileInfo;
using platform::Folder;
using platform::OrReason;
using platform::Place;
using platform::Reason;


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
    const std::filesystem::path whole = platform::PathOf(path).lexically_normal();
    const std::filesystem::path above = whole.has_filename() ? whole.parent_path() : whole.parent_path().parent_path();
    if (above.empty() || above == whole) return place.reason;
    OrReason<Folder> made = MakePath(fs, platform::TextOf(above));
    if (!made) return made.reason;
    place = Place{made.value, LastName(path)};
  }
  if (!place) return place.reason;
  return fs.MakeFolder(place.value, 0777);
}

// The folder at `path` held open, when there is one.
OrReason<Folder> ExistingFolder(platform::FileSystem& fs, const std::string& path) {
  const OrReason<Place> place = fs.Locate(path);
  if (!place) return place.reason;
  if (fs.Stat(place.value).kind != FileInfo::Kind::Folder) return platform::FromErrno(ENOTDIR);
  return fs.OpenFolder(place.value);
}

// The index of the first path naming a folder that is, or holds, the output folder
// (which would take its own outputs for sources); -1 when there is none.
int OutputFolderInsidePath(platform::FileSystem& fs, const std::vector<std::string>& paths,
                           const std::string& output_folder) {
  // The nearest folder of the output's path that exists, and every folder above it.
  std::filesystem::path nearest = platform::PathOf(output_folder).lexically_normal();
  OrReason<Folder> folder = platform::FromErrno(ENOENT);
  for (;;) {
    const OrReason<Place> place = fs.Locate(nearest.empty() ? "." : platform::TextOf(nearest));
    if (place) {
      folder = fs.Stat(place.value).kind == FileInfo::Kind::Folder ? fs.OpenFolder(place.value) : place.value.folder;
      break;
    }
    if (nearest.empty()) return -1;
    nearest = nearest.has_filename() ? nearest.parent_path() : nearest.parent_path().parent_path();
  }
  std::set<platform::FileKey> above;
  while (folder) {
    const platform::FileKey key = fs.StatFolder(folder.value).identity.Key();
    if (!above.insert(key).second) break;  // the root is its own parent
    folder = fs.OpenFolder({folder.value, ".."});
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const OrReason<Folder> named = ExistingFolder(fs, paths[i]);
    if (named && above.count(fs.StatFolder(named.value).identity.Key())) return static_cast<int>(i);
  }
  return -1;
}

// The index of the first path whose output below the output folder would be the file or
// folder it names, compared as places; -1 when there is none.
int OutputIsPath(platform::FileSystem& fs, const std::vector<std::string>& paths, const std::string& output_folder) {
  const OrReason<Folder> root = ExistingFolder(fs, output_folder);
  if (!root) return -1;  // a folder still to be made holds nothing of the sources
  const platform::FileIdentity root_identity = fs.StatFolder(root.value).identity;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const OrReason<Place> place = fs.Locate(paths[i]);
    if (!place) continue;
    const FileInfo named = fs.Stat(place.value);
    if (named.kind == FileInfo::Kind::Folder) {
      const OrReason<std::string> name = MirrorName(paths[i]);
      if (!name || name.value.empty()) continue;
      const FileInfo mirror = fs.Stat({root.value, name.value});
      if (mirror.kind == FileInfo::Kind::Folder && mirror.identity.SameFile(named.identity)) return static_cast<int>(i);
    } else {
      const std::string name = LastName(paths[i]).empty() ? place.value.name : LastName(paths[i]);
      if (name == place.value.name && fs.StatFolder(place.value.folder).identity.SameFile(root_identity)) {
        return static_cast<int>(i);
      }
    }
  }
  return -1;
}

}  // namespace

OutputFolder::OutputFolder(std::string path) : name_(std::move(path)) {}

OutputFolder::OutputFolder(std::shared_ptr<OutputFolder> parent, std::string name, std::uint32_t permissions,
                           std::uint32_t umask)
    : parent_(std::move(parent)), name_(std::move(name)), permissions_(permissions), umask_(umask) {}

// Looked up once, and told to every file of the folder: a folder that cannot be made,
// or may not be used, fails each of them for the same reason.
OrReason<OutputFolder::Found> OutputFolder::Get(platform::FileSystem& fs, bool make) {
  std::lock_guard lock(mutex_);
  if (done_) return found_;
  if (!parent_) {
    // The output folder the user chose is used as it is.
    if (make) {
      found_ = Vetted(fs, MakePath(fs, name_), false);
    } else {
      const OrReason<Place> place = fs.Locate(name_);
      found_ = place ? Existing(fs, place.value, false)
               : place.reason == platform::FromErrno(ENOENT) ? OrReason<Found>(Found{}) : OrReason<Found>(place.reason);
    }
  } else if (const OrReason<Found> above = parent_->Get(fs, make); !above) {
    found_ = above.reason;
  } else if (name_.empty() || !above.value.folder) {  // the root named; or, in a dry run, one still to be made
    found_ = above.value;
  } else if (make) {
    // The owner may always write into it: a read-only source folder still gets its files.
    found_ = Vetted(fs, fs.MakeFolder({above.value.folder, name_}, permissions_ | 0700), true);
  } else {
    found_ = Existing(fs, {above.value.folder, name_}, true);
  }
  done_ = true;
  return found_;
}

OrReason<OutputFolder::Found> OutputFolder::Existing(platform::FileSystem& fs, const Place& place, bool mirror) {
  switch (fs.Stat(place).kind) {
    case FileInfo::Kind::Missing: return Found{};
    case FileInfo::Kind::Folder: return Vetted(fs, fs.OpenFolder(place), mirror);
    default: return platform::FromErrno(ENOTDIR);
  }
}

OrReason<OutputFolder::Found> OutputFolder::Vetted(platform::FileSystem& fs, const OrReason<Folder>& folder,
                                                   bool mirror) const {
  if (!folder) return folder.reason;
  const FileInfo info = fs.StatFolder(folder.value);
  if (mirror) {
    if (info.owner != 0 && info.owner != fs.UserId()) return Reason::kOthersFolder;
    const std::uint32_t made = (permissions_ | 0700) & ~umask_ & 0777;
    if ((info.permissions & 0777 & ~made) != 0) return Reason::kFolderTooOpen;
  }
  return Found{folder.value, info.identity};
}

OrReason<Place> OutputFolder::PlaceFor(platform::FileSystem& fs, const BatchFile& file, bool dry_run) {
  const OrReason<Found> found = Get(fs, !dry_run);
  if (!found) return found.reason;
  const std::string name = LastName(file.relative);
  if (found.value.folder && file.folder && name == file.place.name &&
      found.value.identity.SameFile(file.folder->identity)) {
    return Reason::kOutputIsSource;
  }
  if (!found.value.folder) return file.place;  // a dry run: nothing is written there
  return Place{found.value.folder, name};
}

std::string OutputFolder::Path() const { return parent_ ? platform::JoinPath(parent_->Path(), name_) : name_; }

std::string OutputPath(const BatchFile& file) {
  return file.output ? platform::JoinPath(file.output->Path(), LastName(file.relative)) : file.source;
}

bool OutputClaims::Claim(std::string_view relative) {
  return claimed_.insert({std::hash<std::string_view>{}(relative), Fnv1a(relative)}).second;
}

BatchPlan::BatchPlan(platform::FileSystem& fs, std::vector<std::string> paths, const BatchSettings& settings)
    : fs_(fs), paths_(std::move(paths)), settings_(settings) {
  if (!settings_.output_folder.empty()) {
    root_ = std::make_shared<OutputFolder>(settings_.output_folder);
    umask_ = fs_.Umask();
  }
}

BatchPlan::~BatchPlan() = default;

BatchRefusal BatchPlan::Refusal() {
  if (!root_) return {};
  if (const int inside = OutputFolderInsidePath(fs_, paths_, settings_.output_folder); inside >= 0) {
    return {Outcome::OutputFolderInsideSource, static_cast<std::size_t>(inside)};
  }
  if (const int same = OutputIsPath(fs_, paths_, settings_.output_folder); same >= 0) {
    return {Outcome::OutputIsSource, static_cast<std::size_t>(same)};
  }
  return {};
}

// Each folder of the mirror is made once, with the permissions of the first source
// folder mirrored there, and the folders above it with theirs: the walk tells every
// folder it went through, those holding only folders too.
std::shared_ptr<OutputFolder> BatchPlan::MirrorOf(const SourceFolder* folder) {
  if (folder == nullptr || !folder->mirrored || folder->relative.empty()) return root_;
  std::shared_ptr<OutputFolder>& found = mirrors_[folder->relative];
  if (!found) {
    found = std::make_shared<OutputFolder>(MirrorOf(folder->parent.get()),
                                           platform::TextOf(platform::PathOf(folder->relative).filename()),
                                           folder->permissions, umask_);
  }
  return found;
}

void BatchPlan::Assign(BatchFile& file) {
  file.output = nullptr;
  if (!root_) return;
  file.output = MirrorOf(file.folder.get());
  if (paths_.size() > 1 && !claims_.Claim(file.relative) && file.refused == Outcome::Ok) {
    file.refused = Outcome::OutputCannotWrite;
    file.reason = Reason::kSameOutput;
  }
}

bool BatchPlan::Next(std::vector<BatchFile>& files, std::size_t most) {
  if (!walker_) walker_ = std::make_unique<BatchWalker>(fs_, paths_, settings_);
  const std::size_t before = files.size();
  if (!walker_->Next(files, most)) return false;
  for (std::size_t i = before; i < files.size(); ++i) Assign(files[i]);
  return true;
}

}  // namespace tarnwhistle
