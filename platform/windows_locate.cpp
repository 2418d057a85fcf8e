// WindowsFileSystem::Locate: a path cut into names and walked from folders held open.
#include "windows_file_system.h"

#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cwctype>
#include <vector>

#include "windows_file_system_internal.h"

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

// The most links one path may go through, as Linux allows (ELOOP after that).
constexpr int kMostLinks = 40;

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

}  // namespace

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

}  // namespace tarnwhistle::platform
