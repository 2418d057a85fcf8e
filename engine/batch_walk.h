#pragma once

// The walk: the files a list of paths stands for, from folders held open so that a
// folder swapped for a link while the batch runs cannot lead it anywhere else.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "batch_file.h"
#include "platform/file_system.h"

namespace tarnwhistle {

// What the walk does with an entry of a folder it lists.
enum class WalkTake { Nothing, File, Link, Folder, VersionControl };

// The one rule of which entries a walk takes: files and links whose names match the
// patterns, and, when recursive, the folders below, hidden ones too (".github" holds
// what breaks on CR LF). Never a version control system's own files (".git", ".hg",
// ".svn", folders or not), nor anything whose name matches an excluded pattern. FIFOs,
// sockets and devices are never sources.
WalkTake WhatTheWalkTakes(const platform::FolderEntry& entry, const BatchSettings& settings);

// The files `paths` stand for, in the order given, each folder's files sorted by name.
// A path named is resolved as typed (a link there is followed, as the kernel would);
// below it, the walk never follows a link: each one is told as skipped. A path that is
// not a folder is taken as a file whatever its name, so that a missing one is reported
// rather than passed over silently, unless its name is excluded. A file reached twice is
// taken once. Each file is
// told the folder it was found in and its place below an output folder; which output
// that is, the planner decides.
//
// Handed out a few at a time, so that a batch of any size is held in memory only a
// chunk at a time: what the walk keeps grows with the depth of the tree and the number
// of folders, not with the number of files.
class BatchWalker {
 public:
  BatchWalker(platform::FileReader& fs, std::vector<std::string> paths, const BatchSettings& settings);
  ~BatchWalker();
  BatchWalker(const BatchWalker&) = delete;
  BatchWalker& operator=(const BatchWalker&) = delete;

  // Appends up to `most` more files to `files`; false when none was left.
  bool Next(std::vector<BatchFile>& files, std::size_t most);
  // The version control folders left alone since the last call, as shown: the first of
  // each name only, so that a tree of many clones says each name once.
  std::vector<std::string> VersionControlMet();

 private:
  class Walk;
  std::unique_ptr<Walk> walk_;
};

// A path's last name, as typed: "src/" and "src" are both "src".
std::string LastName(const std::string& path);

// The name a folder named keeps below the output folder, as `cp -r` gives it; for "."
// or "..", the name of the folder they stand for, and nothing for the root. A reason
// when that folder's name cannot be known (the working folder was removed).
platform::OrReason<std::string> MirrorName(const std::string& path);

}  // namespace tarnwhistle
