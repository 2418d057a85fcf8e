#pragma once

// The real disk with moments at which a test can play another user changing the files:
// between a check and the act it allows. RacingFileSystem is the real file system that
// also calls the hook at each moment, so that a test can step in at exactly that moment
// and show that the program still acts on what it checked.

#include <atomic>
#include <functional>

#include "platform/posix_file_system.h"

namespace tarnwhistle::testkit {

enum class RacePoint {
  kLocated,          // a path has been resolved into a folder held open and a name
  kSourceOpened,     // a source is open, before its first byte is read
  kFolderListed,     // a folder has been listed, before what was found there is opened
  kBeforePublish,    // a converted file is complete, before it takes its place
  kLinkedUnrenamed,  // a converted file has a name, before it is renamed over the old one
  kGroupFlushed      // everything written to a file system is durable (a group's flush)
};

class RacingFileSystem : public platform::PosixFileSystem {
 public:
  // Sets the function called at every moment (nullptr for none); not to be changed while
  // other threads work on files.
  void SetHook(std::function<void(RacePoint)> hook);

  platform::OrReason<platform::Place> Locate(const std::string& path) override;
  platform::OrReason<std::unique_ptr<platform::ReadHandle>> OpenForRead(const platform::Place& place) override;
  platform::OrReason<std::unique_ptr<platform::WorkingFile>> CreateWorkingFile(const platform::Folder& folder,
                                                                             const std::string& name_prefix) override;
  platform::Reason List(const platform::Folder& folder, std::vector<platform::FolderEntry>& entries) override;
  platform::Reason SyncFileSystem(const platform::Folder& folder) override;

  void Reached(RacePoint point);

 private:
  // Read at every moment, from any thread: the function only while the flag is set.
  std::atomic<bool> hooked_{false};
  std::function<void(RacePoint)> hook_;
};

}  // namespace tarnwhistle::testkit
