#pragma once

#include <functional>

namespace tarnwhistle::platform {

// Moments at which another user changing the files would matter most: between a check
// and the act it allows. The tests step in at them to play that user, at exactly that
// moment, and show that the program still acts on what it checked. Outside the tests
// nothing happens at them.
enum class RacePoint {
  kLocated,         // a path has been resolved into a folder held open and a name
  kSourceOpened,    // a source is open, before its first byte is read
  kFolderListed,    // a walk has listed a folder, before it opens what it found there
  kBeforePublish,   // a converted file is complete, before it takes its place
  kLinkedUnrenamed,  // a converted file has a temporary name, before the rename over the old one
  kGroupFlushed      // a group of converted files is durable on the disk, before the first rename
};

// Sets the function called at every point (nullptr for none). For tests only; not to
// be changed while other threads work on files.
void SetRaceHook(std::function<void(RacePoint)> hook);

// Called by the file layer and the engine at each point.
void Reached(RacePoint point);

}  // namespace tarnwhistle::platform
