#include "batch_walk.h"

#include <filesystem>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include "platform/name_patterns.h"
#include "platform/paths.h"

namespace tarnwhistle {
namespace {

using platform::FileInfo;
using platform::Folder;
using platform::OrReason;
using platform::Place;
using platform::Reason;


bool Excluded(std::string_view name, const BatchSettings& settings) {
  return !settings.excluded.empty() && platform::NameMatches(name, settings.excluded);
}

}  // namespace

std::string LastName(const std::string& path) {
  std::filesystem::path p = platform::PathOf(path);
  if (!p.has_filename() && p.has_parent_path() && p.parent_path() != p.root_path()) p = p.parent_path();
  return platform::TextOf(p.filename());
}

OrReason<std::string> MirrorName(const std::string& path) {
  const std::string name = LastName(path);
  if (!name.empty() && name != "." && name != "..") return name;
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(platform::PathOf(path), error).lexically_normal();
  if (error) return platform::FromErrno(error.value());
  if (!absolute.has_filename()) absolute = absolute.parent_path();
  return absolute == absolute.root_path() ? std::string() : platform::TextOf(absolute.filename());
}

WalkTake WhatTheWalkTakes(const platform::FolderEntry& entry, const BatchSettings& settings) {
  if (entry.name == ".git" || entry.name == ".hg" || entry.name == ".svn") return WalkTake::VersionControl;
  if (Excluded(entry.name, settings)) return WalkTake::Nothing;
  switch (entry.kind) {
    case FileInfo::Kind::Link:
      return platform::NameMatches(entry.name, settings.patterns) ? WalkTake::Link : WalkTake::Nothing;
    case FileInfo::Kind::File:
      return platform::NameMatches(entry.name, settings.patterns) ? WalkTake::File : WalkTake::Nothing;
    case FileInfo::Kind::Folder:
      return settings.recursive ? WalkTake::Folder : WalkTake::Nothing;
    case FileInfo::Kind::Missing:
    case FileInfo::Kind::Other: break;
  }
  return WalkTake::Nothing;
}

class BatchWalker::Walk {
 public:
  Walk(platform::FileReader& fs, std::vector<std::string> paths, const BatchSettings& settings)
      : fs_(fs), paths_(std::move(paths)), settings_(settings) {}

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
    std::string shown;  // its path, as shown
    std::shared_ptr<const SourceFolder> source;
    std::vector<platform::FolderEntry> entries;
    std::size_t next = 0;
  };

  void StartPath(const std::string& path, std::vector<BatchFile>& files) {
    if (ExcludedOnTheWay(path)) return;
    if (next_path_ > settings_.listed_from && ListedLink(path, files)) return;
    const OrReason<Place> place = fs_.Locate(path);
    if (!place) {
      files.push_back(Refused(path, {}, LastName(path), place.reason));
      return;
    }
    if (fs_.Stat(place.value).kind != FileInfo::Kind::Folder) {
      AddNamed(path, place.value, files);
      return;
    }
    const OrReason<std::string> name = MirrorName(path);
    if (!name) {
      files.push_back(Refused(path, place.value, LastName(path), name.reason));
      return;
    }
    Enter(place.value, path, nullptr, name.value, files);
  }

  // Whether a name of `path` is excluded: a file named, or one of the folders it is in.
  bool ExcludedOnTheWay(const std::string& path) const {
    if (settings_.excluded.empty()) return false;
    for (const auto& name : std::filesystem::path(path)) {
      if (name != "." && name != ".." && name != "/" && !name.empty() && Excluded(name.string(), settings_)) return true;
    }
    return false;
  }

  // A listed path that is a link, told as skipped; false for anything else, which is then
  // taken as a path typed is.
  bool ListedLink(const std::string& path, std::vector<BatchFile>& files) {
    const std::filesystem::path typed(path);
    const std::string name = typed.filename().string();
    if (name.empty() || name == "." || name == "..") return false;
    const OrReason<Place> above = fs_.Locate(typed.has_parent_path() ? typed.parent_path().string() : ".");
    const OrReason<Folder> folder = above ? fs_.OpenFolder(above.value) : OrReason<Folder>(above.reason);
    if (!folder) return false;
    const Place place{folder.value, name};
    if (fs_.Stat(place).kind != FileInfo::Kind::Link) return false;
    files.push_back(BatchFile{path, place, name, nullptr, 0, Outcome::Ok, Reason::kNone, true, nullptr});
    return true;
  }

  // A file named by a path is taken whatever its name, unless it was taken already:
  // named before, or met in a folder walked before (which takes it when its name
  // matches).
  void AddNamed(const std::string& path, const Place& place, std::vector<BatchFile>& files) {
    const FileInfo folder = fs_.StatFolder(place.folder);
    const platform::FileKey key = folder.identity.Key();
    if (!named_.insert({key, place.name}).second) return;
    if (visited_.count(key) && platform::NameMatches(place.name, settings_.patterns) &&
        fs_.Stat(place).kind == FileInfo::Kind::File) {
      return;
    }
    const std::string name = LastName(path).empty() ? place.name : LastName(path);
    auto source = std::make_shared<SourceFolder>(SourceFolder{nullptr, "", folder.permissions, folder.identity, false});
    files.push_back(BatchFile{path, place, name, nullptr, 0, Outcome::Ok, Reason::kNone, false, std::move(source)});
  }

  void TakeEntry(const Frame& frame, const platform::FolderEntry& entry, std::vector<BatchFile>& files) {
    const Place place{frame.folder, entry.name};
    const std::string shown = platform::JoinPath(frame.shown, entry.name);
    const std::string relative = platform::JoinPath(frame.source->relative, entry.name);
    switch (WhatTheWalkTakes(entry, settings_)) {
      case WalkTake::Nothing: return;
      case WalkTake::VersionControl:
        if (said_.insert(entry.name).second) version_control_.push_back(shown);
        return;
      case WalkTake::Link:
        files.push_back(BatchFile{shown, place, relative, nullptr, 0, Outcome::Ok, Reason::kNone, true, frame.source});
        return;
      case WalkTake::File:
        if (!named_.empty() && named_.count({frame.source->identity.Key(), entry.name})) return;
        files.push_back(BatchFile{shown, place, relative, nullptr, 0, Outcome::Ok, Reason::kNone, false, frame.source});
        return;
      case WalkTake::Folder: Enter(place, shown, frame.source, entry.name, files); return;
    }
  }

  // Opens the folder at `place` without following a link there, and walks it next; its
  // files go into its mirror, `name` below the mirror of `above`.
  void Enter(const Place& place, const std::string& shown, const std::shared_ptr<const SourceFolder>& above,
             const std::string& name, std::vector<BatchFile>& files) {
    const std::string relative = platform::JoinPath(above ? above->relative : std::string(), name);
    const OrReason<Folder> folder = fs_.OpenFolder(place);
    if (!folder) {
      BatchFile refused = Refused(shown, place, relative, folder.reason);
      refused.skipped_link = folder.reason == Reason::kSymbolicLink;  // swapped for one since it was listed
      files.push_back(std::move(refused));
      return;
    }
    const FileInfo info = fs_.StatFolder(folder.value);
    if (!visited_.insert(info.identity.Key()).second) return;
    Frame frame{folder.value, shown,
                std::make_shared<SourceFolder>(SourceFolder{above, relative, info.permissions, info.identity, true}),
                {}, 0};
    if (const Reason listed = fs_.List(folder.value, frame.entries); listed != Reason::kNone) {
      files.push_back(Refused(shown, place, relative, listed));
      return;
    }
    frames_.push_back(std::move(frame));
  }

  static BatchFile Refused(const std::string& shown, const Place& place, const std::string& relative, Reason reason) {
    return BatchFile{shown, place, relative, nullptr, 0, Outcome::SourceCannotOpen, reason, false, nullptr};
  }

  platform::FileReader& fs_;
  const std::vector<std::string> paths_;
  const BatchSettings settings_;
  std::size_t next_path_ = 0;
  std::vector<Frame> frames_;  // the folders being walked, innermost last
  // A file is reached twice only through paths that overlap or repeat, so the folders
  // walked and the files named are what it takes to know.
  std::set<platform::FileKey> visited_;
  std::set<std::pair<platform::FileKey, std::string>> named_;
  std::set<std::string> said_;                // the names of version control folders met
  std::vector<std::string> version_control_;  // met and not yet asked for

 public:
  std::vector<std::string> VersionControlMet() { return std::exchange(version_control_, {}); }
};

BatchWalker::BatchWalker(platform::FileReader& fs, std::vector<std::string> paths, const BatchSettings& settings)
    : walk_(std::make_unique<Walk>(fs, std::move(paths), settings)) {}

BatchWalker::~BatchWalker() = default;

bool BatchWalker::Next(std::vector<BatchFile>& files, std::size_t most) { return walk_->Next(files, most); }

std::vector<std::string> BatchWalker::VersionControlMet() { return walk_->VersionControlMet(); }

}  // namespace tarnwhistle
