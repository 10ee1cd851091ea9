// The three worker threads of the main window. Each is a plain loop over a
// step of the core; whatever touches the core's state beyond one-byte flags
// runs on the main thread through the invoker, which waits for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "monitor/raid_core.h"
#include "platform/clock.h"
#include "platform/user_interface.h"

namespace raid {

class CoreThreads {
 public:
  // idleMs 0: each loop looks at its requests every 50 (status), 100
  // (detection) or 200 (mail) ms of program time. idleMs > 0: a loop sleeps
  // until Nudge() or, at the latest, idleMs real milliseconds, so an idle
  // monitor on real disks wakes a few times a second instead of 35.
  CoreThreads(RaidCore& core, Clock& clock, MainThreadInvoker& invoker, int64_t idleMs = 0);
  ~CoreThreads();
  // DriveDetectThread, TRaidThread and TEmailThread, in that order.
  void Start();
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
  std::thread detect_, raid_, email_;
};

}  // namespace raid
