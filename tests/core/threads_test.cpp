// The three worker loops on real threads, with the main thread serving their
// calls from a queue and running the timers: the hand-over by one-byte flags
// and blocking calls must detect, poll and log without a data race (this
// test is also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "core_harness.h"
#include "monitor/worker_threads.h"

namespace raid {
namespace {

// Runs queued calls when the main thread asks; a worker waits for its call.
class QueueInvoker final : public MainThreadInvoker {
 public:
  bool RunAndWait(const std::function<void()>& fn) override {
    std::unique_lock lock(mu_);
    if (closing_) return false;
    bool done = false;
    queue_.push_back([&] {
      fn();
      std::lock_guard inner(mu_);
      done = true;
      cv_.notify_all();
    });
    cv_.wait(lock, [&] { return done || closing_; });
    return done;
  }
  void RunPending() {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard lock(mu_);
      work.swap(queue_);
    }
    for (auto& w : work) w();
  }
  void Close() {
    std::lock_guard lock(mu_);
    closing_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> queue_;
  bool closing_ = false;
};

// A status bar and boxes that may be called from the detection thread.
class LockedView final : public CoreView {
 public:
  void SetPanelText(int panel, const std::string& text) override {
    std::lock_guard lock(mu_);
    panels[panel] = text;
  }
  BoxResult ShowMessage(const MessageBoxRequest&) override { return BoxResult::Ok; }
  std::string Panel(int i) {
    std::lock_guard lock(mu_);
    return panels[i];
  }

 private:
  std::mutex mu_;
  std::string panels[5];
};

TEST(RealThreads, DetectionPollingAndTheLogHandOverWithoutRaces) {
  const auto dir = test::TestDir();
  ScaledClock clock({2010, 5, 3, 9, 0, 0, 0}, 50.0);
  sim::SimDeviceIo io(clock, sim::DefaultScenario());
  FixedDateTimeFormat fmt;
  LockedView view;
  RaidCore core(io, clock, fmt, view, dir.string());
  QueueInvoker invoker;
  core.Start();
  CoreThreads threads(core, clock, invoker);
  threads.Start();
  CoreScheduler timers(core, clock, nullptr, false, nullptr);
  const int64_t end = clock.MonotonicMs() + 20000;
  while (clock.MonotonicMs() < end) {
    invoker.RunPending();
    timers.RunUntil(clock.MonotonicMs());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  invoker.Close();
  threads.Stop([&] { invoker.RunPending(); });
  EXPECT_EQ(view.Panel(1), "Detected OK");
  EXPECT_EQ(core.st.DeviceCount, 1);
  EXPECT_EQ(core.st.FirstFill, 0);
  EXPECT_GE(core.log.DayLog.size(), 15u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace raid
