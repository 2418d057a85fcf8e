#include "background_task.h"

namespace tarnwhistle::windows {

BackgroundTask::~BackgroundTask() {
  Abandon();
  threads_.clear();  // each jthread joins its run, which was asked to stop
}

void BackgroundTask::Start(Work work, std::function<void()> finished) {
  Abandon();
  const std::uint64_t run = ++last_run_;
  current_ = run;
  finished_ = std::move(finished);
  threads_[run] = std::jthread([this, run, work = std::move(work)](std::stop_token stop) {
    work(stop, Outbox(*this, run));
    Send(run, {}, true);
  });
}

void BackgroundTask::Stop() {
  if (const auto found = threads_.find(current_); found != threads_.end()) found->second.request_stop();
}

void BackgroundTask::Abandon() {
  Stop();
  current_ = 0;
  finished_ = nullptr;
}

void BackgroundTask::Send(std::uint64_t run, std::function<void()> call, bool last) {
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    letters_.push_back({run, std::move(call), last});
    wake = !std::exchange(wake_pending_, true);
  }
  // By name, so that Qt builds and frees the queued call in its own code: the letters
  // themselves cross under the mutex above.
  if (wake) QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
}

// One letter at a time, in their order. wake_pending_ stays set until the letters run
// out, so no second Deliver is queued meanwhile: while a call opens a message box (a
// nested event loop), the letters after it wait until the box is closed.
void BackgroundTask::Deliver() {
  for (;;) {
    Letter letter;
    {
      std::lock_guard lock(mutex_);
      if (letters_.empty()) {
        wake_pending_ = false;
        return;
      }
      letter = std::move(letters_.front());
      letters_.pop_front();
    }
    if (letter.last) {
      threads_.erase(letter.run);  // joins a thread that has returned
      if (letter.run != current_) continue;
      current_ = 0;
      if (auto finished = std::exchange(finished_, nullptr)) finished();
    } else if (letter.run == current_ && letter.call) {
      letter.call();
    }
  }
}

}  // namespace tarnwhistle::windows
