#include <windows.h>

#include "interrupts.h"
#include "standard_streams.h"
#include "windows_file_system.h"
#include "windows_text.h"

namespace tarnwhistle::platform {
namespace {

// How often a wait on a pipe, which Windows cannot wait on, looks again.
constexpr DWORD kPipeLook = 20;

class Input : public ByteSource {
 public:
  OrReason<std::size_t> Read(std::span<std::uint8_t> data) override {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) return std::size_t{0};  // none: empty
    // Wait for input or for Ctrl+C, whichever comes first.
    const DWORD type = ::GetFileType(in);
    HANDLE interrupt = InterruptEvent();
    if (interrupt != nullptr && type == FILE_TYPE_PIPE) {
      DWORD available = 0;
      while (::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) && available == 0) {
        if (::WaitForSingleObject(interrupt, kPipeLook) == WAIT_OBJECT_0) break;
      }
    } else if (interrupt != nullptr && type == FILE_TYPE_CHAR) {
      HANDLE waits[2] = {in, interrupt};
      ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    }
    if (InterruptRequested()) return Reason::kStopped;
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
    if (!::ReadFile(in, data.data(), wanted, &read, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return std::size_t{0};  // the writer is done
      return FromWindowsError(error);
    }
    if (InterruptRequested()) return Reason::kStopped;  // a console read cut short by Ctrl+C
    return std::size_t{read};
  }
};

class Output : public ByteSink {
 public:
  Reason Write(std::span<const std::uint8_t> data) override {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return FromErrno(EBADF);
    while (!data.empty()) {
      DWORD written = 0;
      const DWORD size = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 30));
      if (!::WriteFile(out, data.data(), size, &written, nullptr)) return LastWindowsError();
      data = data.subspan(written);
    }
    return Reason::kNone;
  }
};

}  // namespace

std::unique_ptr<ByteSource> StandardInput() { return std::make_unique<Input>(); }
std::unique_ptr<ByteSink> StandardOutput() { return std::make_unique<Output>(); }

namespace {

// The file a standard handle reads or writes, when it is a file on a disk.
std::optional<FileIdentity> RegularFileOf(DWORD which) {
  HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK) {
    return std::nullopt;
  }
  const FileInfo info = InfoOfHandle(handle);
  if (info.kind != FileInfo::Kind::File) return std::nullopt;
  return info.identity;
}

}  // namespace

std::optional<FileIdentity> StandardOutputFile() { return RegularFileOf(STD_OUTPUT_HANDLE); }
std::optional<FileIdentity> StandardInputFile() { return RegularFileOf(STD_INPUT_HANDLE); }

}  // namespace tarnwhistle::platform
