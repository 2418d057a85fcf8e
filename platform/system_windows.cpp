#include <windows.h>

#include <cerrno>
#include <string>

#include "system.h"
#include "windows_text.h"

namespace tarnwhistle::platform {
namespace {

std::uint64_t Ticks(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// When the process behind `process` started, in 100 ns ticks since 1601; "" when it
// cannot be told.
std::string StartOf(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return {};
  return std::to_string(Ticks(created));
}

}  // namespace

std::string ThisBoot() {
  // Windows keeps no boot id: the moment of the boot, in 10-second steps (the clock and the
  // tick count are read a moment apart), the same for every process until the restart.
  static const std::string boot = [] {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t booted = Ticks(now) / 10'000'000 - ::GetTickCount64() / 1000;
    std::string text = std::to_string(booted / 10);
    text = text.size() > 8 ? text.substr(text.size() - 8) : std::string(8 - text.size(), '0') + text;
    return text;
  }();
  return boot;
}

std::string ThisProcess() {
  return std::to_string(::GetCurrentProcessId()) + "-" + StartOf(::GetCurrentProcess());
}

bool ProcessRunning(std::uint32_t pid, std::string_view start) {
  if (pid == 0) return false;
  Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
  DWORD code = 0;
  if (::GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE) return false;
  const std::string now = StartOf(process.get());
  return now.empty() || now == start;
}

std::string ErrorName(int error) {
  if (error >= kWindowsErrorBase) return "Windows " + std::to_string(error - kWindowsErrorBase);
  return std::to_string(error);
}

bool DiskFull(int error) { return error == ENOSPC; }
bool StaleFile(int) { return false; }

}  // namespace tarnwhistle::platform
