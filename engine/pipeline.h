#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace tarnwhistle {

// A queue between two threads of a pipeline: one hands things on, the other takes them
// in the same order, waiting while there are none. Closing it wakes every waiter: a
// taker then gets what is left and then nothing, a giver's things are dropped.
template <typename T>
class Channel {
 public:
  void Give(T thing) {
    {
      std::lock_guard lock(mutex_);
      if (closed_) return;
      things_.push_back(std::move(thing));
    }
    ready_.notify_one();
  }

  // The next thing, or nothing once the channel is closed and empty.
  std::optional<T> Take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !things_.empty() || closed_; });
    if (things_.empty()) return std::nullopt;
    T thing = std::move(things_.front());
    things_.pop_front();
    return thing;
  }

  void Close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    ready_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> things_;
  bool closed_ = false;
};

}  // namespace tarnwhistle
