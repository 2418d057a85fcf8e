// WindowsFileSystem::OpenForRead and its handle, which a rename over the source may close.
#include "windows_file_system.h"

#include <algorithm>

#include "windows_file_system_internal.h"

namespace tarnwhistle::platform {
namespace {

class WindowsReadHandle : public ReadHandle {
 public:
  WindowsReadHandle(Handle handle, FileInfo opened, const std::shared_ptr<WindowsFileSystem::OpenFiles>& open)
      : source_(std::make_shared<SourceHandle>()), opened_(opened), open_(open) {
    source_->handle = std::move(handle);
    std::lock_guard lock(open->mutex);
    open->sources.emplace(Key(), source_);
  }
  ~WindowsReadHandle() override {
    std::lock_guard lock(open_->mutex);
    auto [first, end] = open_->sources.equal_range(Key());
    for (auto it = first; it != end;) it = it->second.expired() || it->second.lock() == source_ ? open_->sources.erase(it) : ++it;
  }
  OrReason<std::size_t> Read(std::span<std::uint8_t> data) override {
    std::lock_guard lock(source_->mutex);
    if (!source_->handle) return FromErrno(EBADF);
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
    if (!::ReadFile(source_->handle.get(), data.data(), wanted, &read, nullptr)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) return std::size_t{0};
      return LastWindowsError();
    }
    return std::size_t{read};
  }
  const FileInfo& Opened() const override { return opened_; }
  Reason ChangedSinceOpened() override {
    std::lock_guard lock(source_->mutex);
    if (!source_->handle) return Reason::kChangedWhileRead;
    const FileInfo now = InfoOfHandle(source_->handle.get());
    return now.identity == opened_.identity ? Reason::kNone : Reason::kChangedWhileRead;
  }
  Reason Rewind() override {
    std::lock_guard lock(source_->mutex);
    LARGE_INTEGER start{};
    return source_->handle && ::SetFilePointerEx(source_->handle.get(), start, nullptr, FILE_BEGIN)
               ? Reason::kNone
               : LastWindowsError();
  }

 private:
  FileKey Key() const { return opened_.identity.Key(); }

  std::shared_ptr<SourceHandle> source_;
  FileInfo opened_;
  std::shared_ptr<WindowsFileSystem::OpenFiles> open_;
};

}  // namespace

OrReason<std::unique_ptr<ReadHandle>> WindowsFileSystem::OpenForRead(const Place& place) {
  if (place.name.empty() || place.name == ".") return FromErrno(EISDIR);
  OrReason<std::wstring> name = EntryName(place.name);
  if (!name) return name.reason;
  // Shared with writers, which ChangedSinceOpened catches, and with a rename over it.
  OrReason<Handle> handle =
      OpenAt(Of(place.folder), name.value, GENERIC_READ, kShareAll, FILE_OPEN,
             FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SEQUENTIAL_ONLY | FILE_OPEN_FOR_BACKUP_INTENT);
  if (!handle) return handle.reason;
  const FileInfo info = InfoOfHandle(handle.value.get());
  if (info.kind == FileInfo::Kind::Link) return Reason::kSymbolicLink;
  if (info.kind != FileInfo::Kind::File) return Reason::kNotAFile;
  return std::unique_ptr<ReadHandle>(new WindowsReadHandle(std::move(handle.value), info, open_));
}

}  // namespace tarnwhistle::platform
