// WindowsFileSystem: the native calls its files share, what a handle's file is, and folders.
#include "windows_file_system.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "windows_file_system_internal.h"

namespace tarnwhistle::platform {
namespace {

std::int64_t UnixTicks(const FILETIME& time) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return ticks - kEpochDifference * 10'000'000;
}

}  // namespace

Reason FromStatus(NTSTATUS status) {
  switch (status) {
    case STATUS_NOT_A_DIRECTORY: return FromErrno(ENOTDIR);
    case STATUS_FILE_IS_A_DIRECTORY: return FromErrno(EISDIR);
    case STATUS_OBJECT_NAME_COLLISION: return FromErrno(EEXIST);
    default: return FromWindowsError(::RtlNtStatusToDosError(status));
  }
}

OrReason<Handle> OpenAt(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                        ULONG options, ULONG attributes) {
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

bool IsLink(std::uint32_t tag) { return tag != 0 && IsReparseTagNameSurrogate(tag); }

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

OrReason<std::wstring> EntryName(const std::string& name) {
  bool ok = false;
  std::wstring wide = Utf16(name, &ok);
  if (!ok || wide.empty() || wide.find_first_of(L"\\/:") != std::wstring::npos) return FromErrno(EINVAL);
  return wide;
}

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

}  // namespace tarnwhistle::platform
