// WindowsFileSystem's working files: written hidden, given the old file's security, then named.
#include "windows_file_system.h"

#include <aclapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <vector>

#include "windows_file_system_internal.h"

namespace tarnwhistle::platform {
namespace {

bool ReadOnly(HANDLE folder, const std::wstring& name) {
  OrReason<Handle> file =
      OpenAt(folder, name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
  FILE_BASIC_INFO basic{};
  return file && ::GetFileInformationByHandleEx(file.value.get(), FileBasicInfo, &basic, sizeof basic) &&
         (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

class WindowsWorkingFile : public WorkingFile {
 public:
  WindowsWorkingFile(Handle handle, bool may_set_owner, std::shared_ptr<WindowsFileSystem::OpenFiles> open)
      : handle_(std::move(handle)), may_set_owner_(may_set_owner), open_(std::move(open)) {
    std::lock_guard lock(open_->mutex);
    open_->handles.insert(handle_.get());
  }
  ~WindowsWorkingFile() override {
    {
      std::lock_guard lock(open_->mutex);
      open_->handles.erase(handle_.get());
    }
    if (!published_) Discard();
  }

  Reason Write(std::span<const std::uint8_t> data) override {
    while (!data.empty()) {
      DWORD written = 0;
      const DWORD size = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
      if (!::WriteFile(handle_.get(), data.data(), size, &written, nullptr)) return LastWindowsError();
      data = data.subspan(written);
    }
    return Reason::kNone;
  }
  Reason Flush() override { return ::FlushFileBuffers(handle_.get()) ? Reason::kNone : LastWindowsError(); }
  // Windows' one permission bit: read-only, given once the file has its name (a
  // read-only file could not be removed on a failure before).
  Reason SetPermissions(std::uint32_t mode) override {
    read_only_ = (mode & 0222) == 0;
    return Reason::kNone;
  }
  Reason SetModified(std::int64_t seconds, std::int64_t nanoseconds) override {
    FILE_BASIC_INFO basic{};  // the times left 0 are left as they are
    basic.LastWriteTime.QuadPart = (seconds + kEpochDifference) * 10'000'000 + nanoseconds / 100;
    return ::SetFileInformationByHandle(handle_.get(), FileBasicInfo, &basic, sizeof basic) ? Reason::kNone
                                                                                            : LastWindowsError();
  }
  // The owner comes with the access list, in CopyAccessList.
  Ownership SetOwner(std::uint32_t, std::uint32_t) override { return Ownership::Kept; }
  // The replaced file's access list (DACL) and, where the user may give it, its owner
  // and group: its security descriptor, as far as this user may write one.
  Reason CopyAccessList(const Place& from) override {
    OrReason<std::wstring> name = EntryName(from.name);
    if (!name) return name.reason;
    OrReason<Handle> old = OpenAt(Of(from.folder), name.value, READ_CONTROL, kShareAll, FILE_OPEN,
                                  FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
    if (!old) return old.reason;
    PSID owner = nullptr, group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const SECURITY_INFORMATION wanted = DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;
    if (DWORD error = ::GetSecurityInfo(old.value.get(), SE_FILE_OBJECT, wanted, &owner, &group, &dacl, nullptr,
                                        &descriptor);
        error != ERROR_SUCCESS) {
      return FromWindowsError(error);
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION inherit =
        (control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
    DWORD error = ::SetSecurityInfo(handle_.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inherit, nullptr,
                                    nullptr, dacl, nullptr);
    if (error == ERROR_SUCCESS && may_set_owner_) {
      // Giving another user's SID takes the restore privilege; without it the file stays
      // the converting user's, as any new file of theirs is.
      ::SetSecurityInfo(handle_.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, owner,
                        group, nullptr, nullptr);
    }
    ::LocalFree(descriptor);
    return error == ERROR_SUCCESS ? Reason::kNone : FromWindowsError(error);
  }

  // Windows renames over an existing file in one step: the file takes `target`'s own
  // name at once, and Rename has nothing left to do.
  Reason Name(const Place& target, bool replacing) override {
    OrReason<std::wstring> name = EntryName(target.name);
    if (!name) return Fail(name.reason);
    if (!replacing && Win32Refuses(name.value)) return Fail(FromErrno(EINVAL));
    // A read-only file is one Windows keeps from being changed or removed (del and
    // Explorer refuse it), which some renames ignore: never replaced.
    if (replacing && ReadOnly(Of(target.folder), name.value)) return Fail(FromErrno(EACCES));
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // no longer hidden
    if (!::SetFileInformationByHandle(handle_.get(), FileBasicInfo, &basic, sizeof basic)) {
      return Fail(LastWindowsError());
    }
    if (Reason renamed = Rename(Of(target.folder), name.value, replacing); renamed != Reason::kNone) {
      return Fail(renamed);
    }
    published_ = true;
    if (read_only_) {
      basic.FileAttributes = FILE_ATTRIBUTE_READONLY;
      ::SetFileInformationByHandle(handle_.get(), FileBasicInfo, &basic, sizeof basic);
    }
    std::lock_guard lock(open_->mutex);
    open_->handles.erase(handle_.get());
    handle_.Reset();
    return Reason::kNone;
  }
  Reason Rename(const Place&) override { return Reason::kNone; }

 private:
  // The rename in one step, relative to the target's folder held open, by the native
  // call: Win32's SetFileInformationByHandle takes the name as a path of its own in
  // some versions (wine's among them), which a folder handle cannot go with. With POSIX
  // semantics where the system has them (Windows 10 1709 and later, on NTFS), which
  // replace a file someone holds open (the old file, kept open until the new one has
  // its name); else the classic rename.
  Reason Rename(HANDLE folder, const std::wstring& name, bool replacing) {
    constexpr auto kRenameEx = static_cast<FILE_INFORMATION_CLASS>(65);  // FileRenameInformationEx
    constexpr ULONG kReplace = 0x1, kPosixSemantics = 0x2;
    const std::size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFORMATION) + bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    const ULONG flags = kPosixSemantics | (replacing ? kReplace : 0);
    std::memcpy(info, &flags, sizeof flags);  // the Ex form's flags, where ReplaceIfExists is
    info->RootDirectory = folder;
    info->FileNameLength = static_cast<ULONG>(bytes);
    std::copy(name.begin(), name.end(), info->FileName);
    const ULONG size = static_cast<ULONG>(buffer.size());
    IO_STATUS_BLOCK io{};
    NTSTATUS status = ::NtSetInformationFile(handle_.get(), &io, info, size, kRenameEx);
    if (status >= 0) return Reason::kNone;
    constexpr NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003L), kInvalidParameter = static_cast<NTSTATUS>(0xC000000DL),
                       kNotSupported = static_cast<NTSTATUS>(0xC00000BBL), kNotImplemented = static_cast<NTSTATUS>(0xC0000002L);
    if (status != kInvalidInfoClass && status != kInvalidParameter && status != kNotSupported && status != kNotImplemented) {
      return FromStatus(status);
    }
    std::memset(info, 0, offsetof(FILE_RENAME_INFORMATION, RootDirectory));
    info->ReplaceIfExists = replacing ? TRUE : FALSE;
    status = ::NtSetInformationFile(handle_.get(), &io, info, size, FileRenameInformation);
    if (status >= 0 || !replacing || FromStatus(status) != FromErrno(EACCES)) {
      return status >= 0 ? Reason::kNone : FromStatus(status);
    }
    // The classic rename refuses a target anyone holds open, and in place this process
    // holds the old file open as its source until the new file has its name. The source
    // has been read whole by now: its handle is closed, and the rename tried once more.
    if (!CloseSourcesAt(folder, name)) return FromStatus(status);
    status = ::NtSetInformationFile(handle_.get(), &io, info, size, FileRenameInformation);
    return status >= 0 ? Reason::kNone : FromStatus(status);
  }
  // Closes this process's handles on the file `name` in `folder`; false when it holds none.
  bool CloseSourcesAt(HANDLE folder, const std::wstring& name) {
    OrReason<Handle> target = OpenAt(folder, name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                                     FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
    if (!target) return false;
    const FileIdentity identity = InfoOfHandle(target.value.get()).identity;
    target.value.Reset();
    std::vector<std::shared_ptr<SourceHandle>> sources;
    {
      std::lock_guard lock(open_->mutex);
      auto [first, end] = open_->sources.equal_range(identity.Key());
      for (auto it = first; it != end;) {
        if (auto source = it->second.lock()) sources.push_back(std::move(source));
        it = open_->sources.erase(it);
      }
    }
    for (const auto& source : sources) {
      std::lock_guard lock(source->mutex);
      source->handle.Reset();
    }
    return !sources.empty();
  }
  Reason Fail(Reason reason) {
    Discard();
    published_ = true;  // nothing left to discard
    return reason;
  }
  void Discard() {
    if (!handle_) return;
    FILE_DISPOSITION_INFO gone{TRUE};
    ::SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &gone, sizeof gone);
    std::lock_guard lock(open_->mutex);
    open_->handles.erase(handle_.get());
    handle_.Reset();
  }

  Handle handle_;
  bool may_set_owner_;
  std::shared_ptr<WindowsFileSystem::OpenFiles> open_;
  bool read_only_ = false;
  bool published_ = false;
};

std::string RandomLetters(std::size_t count) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::string text(count, 'a');
  for (char& c : text) c = kLetters[random() % (sizeof kLetters - 1)];
  return text;
}

}  // namespace

OrReason<std::unique_ptr<WorkingFile>> WindowsFileSystem::CreateWorkingFile(const Folder& folder,
                                                                          const std::string& name_prefix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    bool ok = false;
    const std::wstring name = Utf16(name_prefix + RandomLetters(kUniqueSuffixLength), &ok);
    if (!ok) return FromErrno(EINVAL);
    // Shared with no one. WRITE_OWNER only where the user has it (an administrator).
    const ACCESS_MASK access = GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC;
    constexpr ULONG kOptions = FILE_NON_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT;
    OrReason<Handle> file =
        OpenAt(Of(folder), name, access | WRITE_OWNER, 0, FILE_CREATE, kOptions, FILE_ATTRIBUTE_HIDDEN);
    bool may_set_owner = true;
    if (file.reason == FromErrno(EACCES)) {
      file = OpenAt(Of(folder), name, access, 0, FILE_CREATE, kOptions, FILE_ATTRIBUTE_HIDDEN);
      may_set_owner = false;
    }
    if (file.reason == FromErrno(EEXIST)) continue;
    if (!file) return file.reason;
    return std::unique_ptr<WorkingFile>(new WindowsWorkingFile(std::move(file.value), may_set_owner, open_));
  }
  return FromErrno(EEXIST);
}

Reason WindowsFileSystem::SyncFileSystem(const Folder&) {
  std::lock_guard lock(open_->mutex);
  for (HANDLE file : open_->handles) {
    if (!::FlushFileBuffers(file)) return LastWindowsError();
  }
  return Reason::kNone;
}

}  // namespace tarnwhistle::platform
