// The three worker threads of the main window. Each is a plain loop over a
// step of the core; whatever touches the core's state beyond one-byte flags
// runs on the main thread through the invoker, which waits for it.
#pragma once

#include <atomic>
#include <thread>

#include "monitor/raid_core.h"
#include "platform/clock.h"
#include "platform/user_interface.h"

namespace raid {

class CoreThreads {
 public:
  CoreThreads(RaidCore& core, Clock& clock, MainThreadInvoker& invoker);
  ~CoreThreads();
  // DriveDetectThread, TRaidThread and TEmailThread, in that order.
  void Start();
  // Asks the loops to end; pump is called while waiting, so a loop blocked
  // in a main-thread call can finish.
  void Stop(const std::function<void()>& pump);

 private:
  RaidCore& core_;
  Clock& clock_;
  MainThreadInvoker& invoker_;
  std::atomic<bool> stop_{false};
  std::atomic<int> running_{0};
  std::thread detect_, raid_, email_;
};

}  // namespace raid
