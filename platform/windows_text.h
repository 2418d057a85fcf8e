#pragma once

// What the Windows files of the layer share: UTF-8 inside the program, UTF-16 at the
// system, and the system's error codes as the program's reasons.

#include <windows.h>

#include <string>
#include <string_view>

#include "reason.h"

namespace tarnwhistle::platform {

// UTF-16 for the system; nullopt-like empty with `ok` false when `text` is not UTF-8.
std::wstring Utf16(std::string_view text, bool* ok = nullptr);
std::string Utf8(std::wstring_view text);

// A Win32 error code (GetLastError) as a reason: the errno code that says the same, or,
// for codes no errno code matches, the code itself above kWindowsErrorBase.
inline constexpr int kWindowsErrorBase = 0x40000000;
Reason FromWindowsError(DWORD error);
inline Reason LastWindowsError() { return FromWindowsError(::GetLastError()); }

// An event set, and left set, once Ctrl+C or the console's closing has come while an
// InterruptCatcher is held; nullptr when none is held. Waits that it must cut short wait
// on it too.
HANDLE InterruptEvent();

// A handle closed at the end of its scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~Handle() { Reset(); }
  Handle(Handle&& other) noexcept : h_(other.Release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = other.Release();
    }
    return *this;
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void Reset() {
    if (h_ != nullptr) ::CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace tarnwhistle::platform
