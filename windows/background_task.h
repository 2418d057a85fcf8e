#pragma once

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>

namespace tarnwhistle::windows {

// Long work of a window (a detection, a conversion, adding or converting many files) on
// a thread of its own, so that the window stays live, in the manner of KeePassXC's
// AsyncTask. The work is given a stop token, and sends what it has to show back to the
// window's thread through Post(): each call runs there, in the order sent. Once the task
// is abandoned or the window is gone, nothing it sends runs any more.
//
// A window holds one as a member, so that closing the window stops its work and waits
// for it (the work checks its token often, so that takes no time worth seeing).
// Everything but Post() is for the window's thread only; Post() is safe from any thread.
class BackgroundTask : public QObject {
  Q_OBJECT

 public:
  // Hands calls from the work to the window's thread.
  class Outbox {
   public:
    void Post(std::function<void()> call) const { task_.Send(run_, std::move(call), false); }

   private:
    friend class BackgroundTask;
    Outbox(BackgroundTask& task, std::uint64_t run) : task_(task), run_(run) {}
    BackgroundTask& task_;
    std::uint64_t run_;
  };
  using Work = std::function<void(const std::stop_token& stop, const Outbox& outbox)>;

  BackgroundTask() = default;
  ~BackgroundTask() override;
  BackgroundTask(const BackgroundTask&) = delete;
  BackgroundTask& operator=(const BackgroundTask&) = delete;

  // Starts `work`, abandoning any task before it. `finished` runs on the window's thread
  // once the work has returned and all it posted has run.
  void Start(Work work, std::function<void()> finished = {});
  // Asks the work to stop. It still ends as usual: what it posts runs, then `finished`.
  void Stop();
  // Asks the work to stop and drops whatever it still posts, `finished` included.
  void Abandon();
  // From Start() until `finished` has run (or the task was abandoned).
  bool Running() const { return current_ != 0; }

 private:
  struct Letter {
    std::uint64_t run;
    std::function<void()> call;
    bool last;  // the work has returned
  };
  void Send(std::uint64_t run, std::function<void()> call, bool last);
  Q_INVOKABLE void Deliver();

  // Shared with the working threads: what they sent, under the mutex, so that a
  // sanitizer sees every handover. Qt's queued call only wakes the window's thread.
  std::mutex mutex_;
  std::deque<Letter> letters_;
  bool wake_pending_ = false;

  // The window's thread only.
  std::uint64_t current_ = 0;  // the run whose letters count; 0 for none
  std::uint64_t last_run_ = 0;
  std::map<std::uint64_t, std::jthread> threads_;  // runs not yet joined, abandoned ones too
  std::function<void()> finished_;
};

}  // namespace tarnwhistle::windows
