#include "windows_file_system.h"

#include <aclapi.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "windows_text.h"

// Not in every SDK's winternl.h.
#ifndef STATUS_NOT_A_DIRECTORY
#define STATUS_NOT_A_DIRECTORY static_cast<NTSTATUS>(0xC0000103L)
#endif
#ifndef STATUS_FILE_IS_A_DIRECTORY
#define STATUS_FILE_IS_A_DIRECTORY static_cast<NTSTATUS>(0xC00000BAL)
#endif
#ifndef STATUS_OBJECT_NAME_COLLISION
#define STATUS_OBJECT_NAME_COLLISION static_cast<NTSTATUS>(0xC0000035L)
#endif
#ifndef FILE_OPEN_IF
#define FILE_OPEN_IF 0x00000003
#endif
#ifndef FILE_SEQUENTIAL_ONLY
#define FILE_SEQUENTIAL_ONLY 0x00000004
#endif

namespace tarnwhistle::platform {
namespace {

// What FSCTL_GET_REPARSE_POINT gives for a symbolic link or a junction, as the driver
// kit's ntifs.h has it (the SDK's headers leave it out).
struct ReparseData {
  ULONG ReparseTag;
  USHORT ReparseDataLength;
  USHORT Reserved;
  USHORT SubstituteNameOffset;
  USHORT SubstituteNameLength;
  USHORT PrintNameOffset;
  USHORT PrintNameLength;
  // Then, for a symbolic link only, ULONG Flags; then the names.
};
constexpr ULONG kSymlinkRelative = 1;

}  // namespace

// A source's handle, which a rename over the source may have to close (see Rename).
struct SourceHandle {
  std::mutex mutex;
  Handle handle;
};

struct WindowsFileSystem::OpenFiles {
  std::mutex mutex;
  std::set<HANDLE> handles;  // the working files not yet closed
  // The sources open for reading, by volume and file index.
  std::multimap<std::pair<std::uint64_t, std::uint64_t>, std::weak_ptr<SourceHandle>> sources;
};

namespace {

// The most links one path may go through, as Linux allows (ELOOP after that).
constexpr int kMostLinks = 40;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
// Seconds between 1601, where Windows counts from, and 1970.
constexpr std::int64_t kEpochDifference = 11644473600;

class WindowsFolder : public FolderHandle {
 public:
  WindowsFolder(std::string path, Handle handle) : FolderHandle(std::move(path)), handle_(std::move(handle)) {}
  HANDLE get() const { return handle_.get(); }

 private:
  Handle handle_;
};

HANDLE Of(const Folder& folder) { return static_cast<const WindowsFolder&>(*folder).get(); }

Reason FromStatus(NTSTATUS status) {
  switch (status) {
    case STATUS_NOT_A_DIRECTORY: return FromErrno(ENOTDIR);
    case STATUS_FILE_IS_A_DIRECTORY: return FromErrno(EISDIR);
    case STATUS_OBJECT_NAME_COLLISION: return FromErrno(EEXIST);
    default: return FromWindowsError(::RtlNtStatusToDosError(status));
  }
}

// NtCreateFile on `name` relative to the folder `root` (nullptr: `name` is a whole NT
// path such as \??\C:\). Win32's CreateFileW takes no folder to start from: the native
// call is the one way to open a name inside a folder held open, as openat() does.
OrReason<Handle> OpenAt(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                        ULONG options, ULONG attributes = 0) {
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  const NTSTATUS status = ::NtCreateFile(&handle, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share,
                                         disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status < 0) return FromStatus(status);
  return Handle(handle);
}

std::uint32_t ReparseTag(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return 0;
  return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? tag.ReparseTag : 0;
}

// A symbolic link or a junction: a reparse point that stands for another name. Other
// reparse points (cloud files, deduplicated files) are the files they look like.
bool IsLink(std::uint32_t tag) { return tag != 0 && IsReparseTagNameSurrogate(tag); }

// The name of a link's target, as the link itself holds it; `relative` for a symbolic
// link relative to its folder.
OrReason<std::wstring> LinkTarget(HANDLE link, bool& relative) {
  std::vector<std::uint8_t> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD size = 0;
  if (!::DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(), static_cast<DWORD>(buffer.size()),
                         &size, nullptr)) {
    return LastWindowsError();
  }
  ReparseData data{};
  if (size < sizeof data) return FromErrno(EOPNOTSUPP);
  std::memcpy(&data, buffer.data(), sizeof data);
  std::size_t names_at = sizeof data;
  relative = false;
  if (data.ReparseTag == IO_REPARSE_TAG_SYMLINK) {
    ULONG flags = 0;
    std::memcpy(&flags, buffer.data() + names_at, sizeof flags);
    names_at += sizeof flags;
    relative = (flags & kSymlinkRelative) != 0;
  } else if (data.ReparseTag != IO_REPARSE_TAG_MOUNT_POINT) {
    return FromErrno(EOPNOTSUPP);  // a link of a kind this program cannot read
  }
  const std::size_t start = names_at + data.SubstituteNameOffset;
  if (start + data.SubstituteNameLength > size) return FromErrno(EOPNOTSUPP);
  std::wstring target(data.SubstituteNameLength / sizeof(wchar_t), L'\0');
  std::memcpy(target.data(), buffer.data() + start, target.size() * sizeof(wchar_t));
  return target;
}

std::int64_t UnixTicks(const FILETIME& time) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return ticks - kEpochDifference * 10'000'000;
}

// A path cut into where it starts (an NT path of a drive's or a share's root) and its
// names; `start` empty for a relative path.
struct SplitPath {
  std::wstring start;
  std::vector<std::wstring> names;
};

std::vector<std::wstring> Names(std::wstring_view rest) {
  std::vector<std::wstring> names;
  std::size_t begin = 0;
  while (begin <= rest.size()) {
    std::size_t end = rest.find(L'\\', begin);
    if (end == std::wstring_view::npos) end = rest.size();
    if (end > begin) names.emplace_back(rest.substr(begin, end - begin));
    begin = end + 1;
  }
  return names;
}

bool IsDrive(std::wstring_view path) {
  return path.size() >= 2 && path[1] == L':' && std::iswalpha(path[0]) != 0 && path[0] < 128;
}

// Windows' forms: C:\a, \\server\share\a, \\?\C:\a, \\?\UNC\server\share\a, \??\C:\a,
// \a (the current drive), C:a (the drive's current folder) and a (the current folder),
// with / for \ anywhere.
OrReason<SplitPath> Split(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
  std::wstring_view view(path);
  if (view.starts_with(L"\\\\?\\") || view.starts_with(L"\\??\\")) view.remove_prefix(4);
  else if (view.starts_with(L"\\\\") && !view.starts_with(L"\\\\.\\")) {
    path = L"UNC\\" + path.substr(2);
    view = path;
  } else if (view.starts_with(L"\\\\.\\")) {
    return FromErrno(ENOENT);  // a device (\\.\COM1), never a file
  }
  if (view.starts_with(L"UNC\\")) {
    std::vector<std::wstring> names = Names(view.substr(4));
    if (names.size() < 2) return FromErrno(ENOENT);
    SplitPath split{L"\\??\\UNC\\" + names[0] + L"\\" + names[1] + L"\\", {}};
    split.names.assign(names.begin() + 2, names.end());
    return split;
  }
  if (IsDrive(view) && (view.size() == 2 || view[2] != L'\\')) {
    // The drive's own current folder, which only Win32 keeps.
    wchar_t drive[3] = {view[0], L':', 0};
    std::array<wchar_t, 32768> full{};
    const DWORD size = ::GetFullPathNameW(drive, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (size == 0 || size >= full.size()) return LastWindowsError();
    return Split(std::wstring(full.data(), size) + L"\\" + std::wstring(view.substr(2)));
  }
  if (IsDrive(view)) return SplitPath{L"\\??\\" + std::wstring(view.substr(0, 2)) + L"\\", Names(view.substr(3))};
  if (view.starts_with(L"\\")) {
    std::array<wchar_t, 32768> current{};
    const DWORD size = ::GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data());
    if (size == 0 || size >= current.size()) return LastWindowsError();
    OrReason<SplitPath> here = Split(std::wstring(current.data(), size));
    if (!here) return here.reason;
    here.value.names = Names(view);
    return here;
  }
  return SplitPath{{}, Names(view)};
}

OrReason<Handle> OpenStart(const std::wstring& start) {
  if (!start.empty()) {
    return OpenAt(nullptr, start, kFolderAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
  }
  // The current folder. Windows keeps it open, but gives out no handle to it.
  Handle here(::CreateFileW(L".", kFolderAccess, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!here) return LastWindowsError();
  return here;
}

// The folder that holds the folder `folder`, found from where the folder is now.
OrReason<Handle> ParentOf(HANDLE folder) {
  std::array<wchar_t, 32768> path{};
  const DWORD size =
      ::GetFinalPathNameByHandleW(folder, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  if (size == 0 || size >= path.size()) return LastWindowsError();
  OrReason<SplitPath> split = Split(std::wstring(path.data(), size));
  if (!split) return split.reason;
  if (!split.value.names.empty()) split.value.names.pop_back();
  OrReason<Handle> parent = OpenStart(split.value.start);
  for (const std::wstring& name : split.value.names) {
    if (!parent) break;
    parent = OpenAt(parent.value.get(), name, kFolderAccess, kShareAll, FILE_OPEN,
                    FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
  }
  return parent;
}

// A name Windows' own programs cannot make or remove: a device's (CON, NUL.txt, COM1), one
// ending in a dot or a space, or one with a character Win32 keeps for itself. Such a file
// is read when it is there, but never made.
bool Win32Refuses(std::wstring_view name) {
  if (name.empty() || name.back() == L'.' || name.back() == L' ') return true;
  if (name.find_first_of(L"<>:\"|?*\\/") != std::wstring_view::npos) return true;
  if (std::any_of(name.begin(), name.end(), [](wchar_t c) { return c < 32; })) return true;
  std::wstring stem(name.substr(0, name.find(L'.')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& c : stem) c = static_cast<wchar_t>(std::towupper(c));
  static constexpr std::wstring_view kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  if (std::find(std::begin(kDevices), std::end(kDevices), stem) != std::end(kDevices)) return true;
  return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) && stem[3] >= L'0' &&
         stem[3] <= L'9';
}

// A name of one entry: no separator, and no ':' (which would name a stream of a file, as
// a.txt:s does, instead of a file).
OrReason<std::wstring> EntryName(const std::string& name) {
  bool ok = false;
  std::wstring wide = Utf16(name, &ok);
  if (!ok || wide.empty() || wide.find_first_of(L"\\/:") != std::wstring::npos) return FromErrno(EINVAL);
  return wide;
}

bool ReadOnly(HANDLE folder, const std::wstring& name) {
  OrReason<Handle> file =
      OpenAt(folder, name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
  FILE_BASIC_INFO basic{};
  return file && ::GetFileInformationByHandleEx(file.value.get(), FileBasicInfo, &basic, sizeof basic) &&
         (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

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

FileInfo InfoOfHandle(HANDLE handle) {
  FileInfo info;
  BY_HANDLE_FILE_INFORMATION data{};
  if (!::GetFileInformationByHandle(handle, &data)) return info;
  info.identity.device = data.dwVolumeSerialNumber;
  info.identity.inode = (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
  info.identity.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const std::int64_t ticks = UnixTicks(data.ftLastWriteTime);
  info.identity.modified_seconds = ticks / 10'000'000;
  info.identity.modified_nanoseconds = (ticks % 10'000'000) * 100;
  // The change time, which no one can put back as they can the modification time.
  if (FILE_BASIC_INFO basic{}; ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
    const std::int64_t changed = basic.ChangeTime.QuadPart - kEpochDifference * 10'000'000;
    info.identity.changed_seconds = changed / 10'000'000;
    info.identity.changed_nanoseconds = (changed % 10'000'000) * 100;
  }
  info.links = data.nNumberOfLinks;
  const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLink(ReparseTag(handle))) {
    info.kind = FileInfo::Kind::Link;
  } else if (folder) {
    info.kind = FileInfo::Kind::Folder;
  } else {
    info.kind = ::GetFileType(handle) == FILE_TYPE_DISK ? FileInfo::Kind::File : FileInfo::Kind::Other;
  }
  info.permissions = folder ? 0777 : (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  return info;
}

WindowsFileSystem::WindowsFileSystem() : open_(std::make_shared<OpenFiles>()) {}
WindowsFileSystem::~WindowsFileSystem() = default;

OrReason<Place> WindowsFileSystem::Locate(const std::string& path) {
  if (path.empty()) return FromErrno(ENOENT);
  bool ok = false;
  const std::wstring wide = Utf16(path, &ok);
  if (!ok) return FromErrno(EINVAL);
  OrReason<SplitPath> split = Split(wide);
  if (!split) return split.reason;
  std::vector<std::wstring> names = std::move(split.value.names);
  OrReason<Handle> folder = OpenStart(split.value.start);
  if (!folder) return folder.reason;

  // The folder's path for messages: the path as given, without its last name.
  std::string shown = path;
  while (shown.size() > 1 && (shown.back() == '/' || shown.back() == '\\')) shown.pop_back();
  const std::size_t cut = shown.find_last_of("/\\");
  std::string folder_path = cut == std::string::npos ? "." : shown.substr(0, cut == 0 ? 1 : cut);
  if (cut == std::string::npos && IsDrive(wide)) folder_path = shown.substr(0, 2);
  if (names.empty()) names.push_back(L".");  // a root: the folder itself

  int links = 0;
  std::size_t i = 0;
  while (true) {
    const std::wstring name = names[i];
    const bool last = i + 1 == names.size();
    if (name == L"." || name == L"..") {
      if (name == L"..") {
        folder = ParentOf(folder.value.get());
        if (!folder) return folder.reason;
      }
      if (last) return Place{std::make_shared<WindowsFolder>(folder_path, std::move(folder.value)), "."};
      ++i;
      continue;
    }
    if (name.find(L':') != std::wstring::npos) return FromErrno(EINVAL);  // a stream, not a file
    OrReason<Handle> next = last ? OpenAt(folder.value.get(), name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                                          FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT)
                                 : OpenAt(folder.value.get(), name, kFolderAccess, kShareAll, FILE_OPEN,
                                          FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT);
    if (last && !next) {
      return Place{std::make_shared<WindowsFolder>(folder_path, std::move(folder.value)), Utf8(name)};
    }
    if (!next) return next.reason;
    if (IsLink(ReparseTag(next.value.get()))) {
      // Followed from what the link holds, read from the link itself.
      if (++links > kMostLinks) return FromErrno(ELOOP);
      bool relative = false;
      OrReason<std::wstring> target = LinkTarget(next.value.get(), relative);
      if (!target) return target.reason;
      std::vector<std::wstring> rest(names.begin() + static_cast<std::ptrdiff_t>(i) + 1, names.end());
      if (relative) {
        names = Names(target.value);
      } else {
        OrReason<SplitPath> where = Split(target.value);
        if (!where) return where.reason;
        if (where.value.start.empty()) return FromErrno(ENOENT);
        folder = OpenStart(where.value.start);
        if (!folder) return folder.reason;
        names = std::move(where.value.names);
      }
      names.insert(names.end(), rest.begin(), rest.end());
      if (names.empty()) names.push_back(L".");
      i = 0;
      continue;
    }
    if (last) return Place{std::make_shared<WindowsFolder>(folder_path, std::move(folder.value)), Utf8(name)};
    folder = std::move(next);
    ++i;
  }
}

FileInfo WindowsFileSystem::Stat(const Place& place) {
  if (place.name.empty() || place.name == ".") return StatFolder(place.folder);
  OrReason<std::wstring> name = EntryName(place.name);
  if (!name) return {};
  OrReason<Handle> handle = OpenAt(Of(place.folder), name.value, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                                   FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT);
  if (!handle) {
    FileInfo info;
    // Something is there that this user may not even look at.
    if (handle.reason != FromErrno(ENOENT)) info.kind = FileInfo::Kind::Other;
    return info;
  }
  return InfoOfHandle(handle.value.get());
}

FileInfo WindowsFileSystem::StatFolder(const Folder& folder) { return InfoOfHandle(Of(folder)); }

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

OrReason<Folder> WindowsFileSystem::OpenFolder(const Place& place) {
  std::wstring name;
  if (!place.name.empty() && place.name != ".") {
    OrReason<std::wstring> entry = EntryName(place.name);
    if (!entry) return entry.reason;
    name = entry.value;
  }
  OrReason<Handle> handle = OpenAt(Of(place.folder), name, kFolderAccess, kShareAll, FILE_OPEN,
                                   FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT);
  if (!handle) return handle.reason;
  if (IsLink(ReparseTag(handle.value.get()))) return Reason::kSymbolicLink;
  return Folder(std::make_shared<WindowsFolder>(place.Path(), std::move(handle.value)));
}

OrReason<Folder> WindowsFileSystem::MakeFolder(const Place& place, std::uint32_t) {
  OrReason<std::wstring> name = EntryName(place.name);
  if (!name) return name.reason;
  if (Win32Refuses(name.value) && !Stat(place).exists()) return FromErrno(EINVAL);
  // The new folder takes its access list from the folder it is made in, as on Windows
  // every new folder does: Windows has no permission bits to give it.
  OrReason<Handle> handle = OpenAt(Of(place.folder), name.value, kFolderAccess, kShareAll, FILE_OPEN_IF,
                                   FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT);
  if (!handle) return handle.reason;
  if (IsLink(ReparseTag(handle.value.get()))) return Reason::kSymbolicLink;
  return Folder(std::make_shared<WindowsFolder>(place.Path(), std::move(handle.value)));
}

Reason WindowsFileSystem::List(const Folder& folder, std::vector<FolderEntry>& entries) {
  entries.clear();
  // A handle of the list's own: the position in a listing belongs to the handle.
  OrReason<Handle> handle = OpenAt(Of(folder), L"", FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN,
                                   FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT);
  if (!handle) return handle.reason;
  std::vector<std::uint8_t> buffer(64 * 1024);
  while (true) {
    if (!::GetFileInformationByHandleEx(handle.value.get(), FileIdBothDirectoryInfo, buffer.data(),
                                        static_cast<DWORD>(buffer.size()))) {
      if (::GetLastError() == ERROR_NO_MORE_FILES) break;
      return LastWindowsError();
    }
    for (std::size_t offset = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
      const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        FolderEntry item{Utf8(name), FileInfo::Kind::File};
        // For a reparse point the listing gives its tag where the EA size would be.
        if ((entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLink(entry->EaSize)) {
          item.kind = FileInfo::Kind::Link;
        } else if ((entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          item.kind = FileInfo::Kind::Folder;
        }
        entries.push_back(std::move(item));
      }
      if (entry->NextEntryOffset == 0) break;
      offset += entry->NextEntryOffset;
    }
  }
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return Reason::kNone;
}

Reason WindowsFileSystem::Remove(const Place& place) {
  OrReason<std::wstring> name = EntryName(place.name);
  if (!name) return name.reason;
  OrReason<Handle> handle = OpenAt(Of(place.folder), name.value, DELETE, kShareAll, FILE_OPEN,
                                   FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
  if (!handle) return handle.reason;
  FILE_DISPOSITION_INFO gone{TRUE};
  return ::SetFileInformationByHandle(handle.value.get(), FileDispositionInfo, &gone, sizeof gone)
             ? Reason::kNone
             : LastWindowsError();
}

Reason WindowsFileSystem::SyncFileSystem(const Folder&) {
  std::lock_guard lock(open_->mutex);
  for (HANDLE file : open_->handles) {
    if (!::FlushFileBuffers(file)) return LastWindowsError();
  }
  return Reason::kNone;
}

}  // namespace tarnwhistle::platform
