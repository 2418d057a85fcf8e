#include "race_points.h"

#include <atomic>

namespace tarnwhistle::platform {
namespace {

// Read at every point, so a plain pointer behind an atomic flag: the hot path costs one
// relaxed load.
std::atomic<bool> hooked{false};
std::function<void(RacePoint)>& Hook() {
  static std::function<void(RacePoint)> hook;
  return hook;
}

}  // namespace

void SetRaceHook(std::function<void(RacePoint)> hook) {
  hooked.store(false, std::memory_order_release);
  Hook() = std::move(hook);
  hooked.store(static_cast<bool>(Hook()), std::memory_order_release);
}

void Reached(RacePoint point) {
  if (hooked.load(std::memory_order_acquire)) Hook()(point);
}

}  // namespace tarnwhistle::platform
