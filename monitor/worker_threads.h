// The threads of a program on real devices. The device thread is the one
// owner of the enclosures: it runs the detection scans, the status thread's
// polls and settings commands, and the long operations (a firmware upgrade,
// an initialisation) posted to it, one at a time; whatever those read or
// change of the core's state runs on the main thread through the invoker,
// so a slow or hung request never holds up the window. TEmailThread hands a
// pending notification to the main thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "monitor/raid_core.h"
#include "platform/clock.h"
#include "platform/user_interface.h"

namespace raid {

class CoreThreads {
 public:
  // idleMs 0: the device loop looks at its work every 50 ms and the mail
  // loop every 200 ms of program time. idleMs > 0: a loop sleeps until
  // Nudge() or, at the latest, idleMs real milliseconds, so an idle monitor
  // on real disks wakes a few times a second instead of 25.
  CoreThreads(RaidCore& core, Clock& clock, MainThreadInvoker& invoker, int64_t idleMs = 0);
  ~CoreThreads();
  // The device thread and TEmailThread.
  void Start();
  // Runs job on the device thread once what it does now has ended (before
  // the next scan or poll); false when the threads are stopping.
  bool PostDeviceJob(std::function<void()> job);
  // Asks the loops to end; pump is called while waiting, so a loop blocked
  // in a main-thread call can finish.
  void Stop(const std::function<void()>& pump);
  // The main thread may have asked for work (a timer ran, the user
  // clicked): the loops look at their requests now. Any thread may call it.
  void Nudge();

 private:
  // Waits before a loop's next look; `seen` is the nudge count the loop
  // has acted on. busy: the loop just served a request, so the next one
  // follows at the loop's own pace.
  void Wait(int64_t periodMs, uint64_t& seen, bool busy);

  RaidCore& core_;
  Clock& clock_;
  MainThreadInvoker& invoker_;
  std::atomic<bool> stop_{false};
  std::atomic<int> running_{0};
  const int64_t idleMs_;
  std::mutex mu_;
  std::condition_variable cv_;
  uint64_t nudges_ = 0;
  std::deque<std::function<void()>> jobs_;  // under mu_
  std::thread device_, email_;
};

}  // namespace raid
