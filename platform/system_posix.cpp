#include "system.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace tarnwhistle::platform {
namespace {

// When the process `pid` started, in clock ticks since the boot (field 22 of its stat
// line); "" when it cannot be read. With the pid it tells a process apart from a later
// one that was given the same number.
std::string StartOf(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return {};
  const std::size_t name_end = line.rfind(')');  // the name may hold spaces and parentheses
  if (name_end == std::string::npos || name_end + 2 > line.size()) return {};
  std::istringstream fields(line.substr(name_end + 2));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
  }
  return field;
}

// Made again in a child process, which a fork leaves with its parent's. Made on first
// use, as tests ask for it while their own statics are made.
struct Mark {
  std::mutex mutex;
  std::string text;
};
Mark& TheMark() {
  static Mark mark;
  return mark;
}

}  // namespace

std::string ThisBoot() {
  static const std::string boot = [] {
    std::ifstream id("/proc/sys/kernel/random/boot_id");
    std::string text;
    std::getline(id, text);
    std::erase(text, '-');
    text.resize(8, '0');
    return text;
  }();
  return boot;
}

std::string ThisProcess() {
  static const bool reset_in_child = [] {
    return ::pthread_atfork([] { TheMark().mutex.lock(); }, [] { TheMark().mutex.unlock(); },
                            [] {
                              TheMark().text.clear();
                              TheMark().mutex.unlock();
                            }) == 0;
  }();
  Mark& mark = TheMark();
  std::lock_guard lock(mark.mutex);
  if (mark.text.empty() || !reset_in_child) {
    const std::string pid = std::to_string(::getpid());
    const std::string start = StartOf(pid);
    mark.text = pid + "-" + (start.empty() ? "0" : start);
  }
  return mark.text;
}

bool ProcessRunning(std::uint32_t pid, std::string_view start) {
  // kill(pid, 0) sees processes that /proc may hide from this user (hidepid).
  if (pid == 0 || pid > 0x7fffffff || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) return false;
  const std::string now = StartOf(std::to_string(pid));
  return now.empty() || now == start;
}

std::string ErrorName(int error) {
  const char* name = ::strerrorname_np(error);
  return name != nullptr ? std::string(name) : std::to_string(error);
}

bool DiskFull(int error) { return error == ENOSPC || error == EDQUOT; }
bool StaleFile(int error) { return error == ESTALE; }

}  // namespace tarnwhistle::platform
