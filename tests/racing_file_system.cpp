#include "racing_file_system.h"

namespace tarnwhistle::testkit {
namespace {

using platform::Reason;

// A working file that calls the hook before it takes its place, and between its two
// steps of doing so.
class RacingWorkingFile : public platform::WorkingFile {
 public:
  RacingWorkingFile(RacingFileSystem& fs, std::unique_ptr<platform::WorkingFile> inner)
      : fs_(fs), inner_(std::move(inner)) {}

  Reason Write(std::span<const std::uint8_t> data) override { return inner_->Write(data); }
  Reason Skip(std::uint64_t bytes) override { return inner_->Skip(bytes); }
  Reason Flush() override { return inner_->Flush(); }
  Reason SetPermissions(std::uint32_t mode) override { return inner_->SetPermissions(mode); }
  Reason SetModified(std::int64_t seconds, std::int64_t nanoseconds) override {
    return inner_->SetModified(seconds, nanoseconds);
  }
  platform::Ownership SetOwner(std::uint32_t owner, std::uint32_t group) override {
    return inner_->SetOwner(owner, group);
  }
  Reason CopyAccessList(const platform::Place& from) override { return inner_->CopyAccessList(from); }
  Reason Name(const platform::Place& target, bool replacing) override {
    fs_.Reached(RacePoint::kBeforePublish);
    return inner_->Name(target, replacing);
  }
  Reason Rename(const platform::Place& target) override {
    fs_.Reached(RacePoint::kLinkedUnrenamed);
    return inner_->Rename(target);
  }

 private:
  RacingFileSystem& fs_;
  std::unique_ptr<platform::WorkingFile> inner_;
};

}  // namespace

void RacingFileSystem::SetHook(std::function<void(RacePoint)> hook) {
  hooked_.store(false, std::memory_order_release);
  hook_ = std::move(hook);
  hooked_.store(static_cast<bool>(hook_), std::memory_order_release);
}

void RacingFileSystem::Reached(RacePoint point) {
  if (hooked_.load(std::memory_order_acquire)) hook_(point);
}

platform::OrReason<platform::Place> RacingFileSystem::Locate(const std::string& path) {
  platform::OrReason<platform::Place> place = PosixFileSystem::Locate(path);
  if (place) Reached(RacePoint::kLocated);
  return place;
}

platform::OrReason<std::unique_ptr<platform::ReadHandle>> RacingFileSystem::OpenForRead(const platform::Place& place) {
  platform::OrReason<std::unique_ptr<platform::ReadHandle>> file = PosixFileSystem::OpenForRead(place);
  if (file) Reached(RacePoint::kSourceOpened);
  return file;
}

platform::OrReason<std::unique_ptr<platform::WorkingFile>> RacingFileSystem::CreateWorkingFile(
    const platform::Folder& folder, const std::string& name_prefix) {
  platform::OrReason<std::unique_ptr<platform::WorkingFile>> file =
      PosixFileSystem::CreateWorkingFile(folder, name_prefix);
  if (!file) return file;
  return std::unique_ptr<platform::WorkingFile>(std::make_unique<RacingWorkingFile>(*this, std::move(file.value)));
}

Reason RacingFileSystem::List(const platform::Folder& folder, std::vector<platform::FolderEntry>& entries) {
  const Reason listed = PosixFileSystem::List(folder, entries);
  if (listed == Reason::kNone) Reached(RacePoint::kFolderListed);
  return listed;
}

Reason RacingFileSystem::SyncFileSystem(const platform::Folder& folder) {
  const Reason synced = PosixFileSystem::SyncFileSystem(folder);
  if (synced == Reason::kNone) Reached(RacePoint::kGroupFlushed);
  return synced;
}

}  // namespace tarnwhistle::testkit
