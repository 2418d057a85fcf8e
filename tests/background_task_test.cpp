// The one helper for all long work of the windows: what a run posts reaches the window's
// thread in order and before `finished`, nothing of an abandoned run does, and a stop
// reaches the work.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <chrono>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "windows/background_task.h"

namespace tarnwhistle::windows {
namespace {

// Runs the window thread's events until `done`, for at most ten seconds.
template <typename Done>
bool Until(Done done) {
  const QDeadlineTimer deadline(10000);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

TEST(BackgroundTask, TellsARunsLettersInOrderThenFinishedDropsAnAbandonedRunsAndStops) {
  std::vector<std::string> seen;  // the window's thread only
  std::latch newer_started(1), older_posted(1);
  BackgroundTask task;
  task.Start(
      [&](const std::stop_token&, const BackgroundTask::Outbox& outbox) {
        newer_started.wait();
        outbox.Post([&seen] { seen.push_back("abandoned"); });
        older_posted.count_down();
      },
      [&seen] { seen.push_back("abandoned run finished"); });
  task.Start(
      [&](const std::stop_token& stop, const BackgroundTask::Outbox& outbox) {
        newer_started.count_down();
        for (int i = 0; i < 100; ++i) outbox.Post([&seen, i] { seen.push_back(std::to_string(i)); });
        older_posted.wait();  // the abandoned run's letter is sent before this run ends
        while (!stop.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        outbox.Post([&seen] { seen.push_back("stopped"); });
      },
      [&seen] { seen.push_back("finished"); });
  task.Stop();
  ASSERT_TRUE(Until([&task] { return !task.Running(); })) << "the stop never reached the work";

  std::vector<std::string> expected;
  for (int i = 0; i < 100; ++i) expected.push_back(std::to_string(i));
  expected.push_back("stopped");
  expected.push_back("finished");
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace tarnwhistle::windows
