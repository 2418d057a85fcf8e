#pragma once

// What the file layer's common code needs to know of the system beneath it, which each
// system answers in a file of its own (system_posix.cpp, system_windows.cpp).

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwhistle::platform {

// The start of this boot's id, 8 letters or digits: the same for every process until the
// machine restarts.
std::string ThisBoot();
// "PID-START": the number of this process and the moment it started, in digits, which
// tell it apart from a later process given the same number. Made afresh in a child
// process after a fork.
std::string ThisProcess();
// False once the process `pid` that started at `start` (as ThisProcess gives them) is
// gone; true while it runs, or when that cannot be told.
bool ProcessRunning(std::uint32_t pid, std::string_view start);

// The system's own name of an errno code ("EDQUOT"), or its number.
std::string ErrorName(int error);
// True for the codes that say the disk, or the user's quota on it, is full.
bool DiskFull(int error);
// True for a file a network file system no longer knows (ESTALE, where there is one).
bool StaleFile(int error);

}  // namespace tarnwhistle::platform
