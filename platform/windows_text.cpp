#include "windows_text.h"

#include <cerrno>

#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif

namespace tarnwhistle::platform {

std::wstring Utf16(std::string_view text, bool* ok) {
  if (ok != nullptr) *ok = true;
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  if (size <= 0) {
    if (ok != nullptr) *ok = false;
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size, nullptr, nullptr);
  return narrow;
}

Reason FromWindowsError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return FromErrno(EIO);  // a failure that gave no reason
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return FromErrno(ENOENT);
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_INVALID_OWNER: return FromErrno(EACCES);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return FromErrno(EBUSY);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_QUOTA_EXCEEDED: return FromErrno(ENOSPC);
    case ERROR_WRITE_PROTECT: return FromErrno(EROFS);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return FromErrno(EEXIST);
    case ERROR_FILENAME_EXCED_RANGE: return FromErrno(ENAMETOOLONG);
    case ERROR_DIRECTORY: return FromErrno(ENOTDIR);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return FromErrno(ENOMEM);
    case ERROR_TOO_MANY_OPEN_FILES: return FromErrno(EMFILE);
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION: return FromErrno(EINVAL);
    case ERROR_CANT_RESOLVE_FILENAME: return FromErrno(ELOOP);
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_SEEK:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT: return FromErrno(EIO);
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return FromErrno(EPIPE);
    case ERROR_OPERATION_ABORTED: return Reason::kStopped;
    default: return FromErrno(kWindowsErrorBase + static_cast<int>(error & 0xFFFF));
  }
}

}  // namespace tarnwhistle::platform
