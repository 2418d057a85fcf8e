// What WindowsFileSystem's files (windows_*.cpp) share: native opens, folder handles, open files.
#pragma once

#include <winternl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "windows_file_system.h"
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

inline HANDLE Of(const Folder& folder) { return static_cast<const WindowsFolder&>(*folder).get(); }

Reason FromStatus(NTSTATUS status);

// NtCreateFile on `name` relative to the folder `root` (nullptr: `name` is a whole NT
// path such as \??\C:\). Win32's CreateFileW takes no folder to start from: the native
// call is the one way to open a name inside a folder held open, as openat() does.
OrReason<Handle> OpenAt(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                        ULONG options, ULONG attributes = 0);

std::uint32_t ReparseTag(HANDLE handle);

// A symbolic link or a junction: a reparse point that stands for another name. Other
// reparse points (cloud files, deduplicated files) are the files they look like.
bool IsLink(std::uint32_t tag);

// A name Windows' own programs cannot make or remove: a device's (CON, NUL.txt, COM1), one
// ending in a dot or a space, or one with a character Win32 keeps for itself. Such a file
// is read when it is there, but never made.
bool Win32Refuses(std::wstring_view name);

// A name of one entry: no separator, and no ':' (which would name a stream of a file, as
// a.txt:s does, instead of a file).
OrReason<std::wstring> EntryName(const std::string& name);

}  // namespace tarnwhistle::platform
