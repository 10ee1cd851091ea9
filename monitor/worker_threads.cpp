#include "monitor/worker_threads.h"

#include <chrono>

namespace raid {

CoreThreads::CoreThreads(RaidCore& core, Clock& clock, MainThreadInvoker& invoker)
    : core_(core), clock_(clock), invoker_(invoker) {}

CoreThreads::~CoreThreads() {
  Stop([] {});
}

void CoreThreads::Start() {
  stop_ = false;
  running_ = 3;
  // DriveDetectThread: every 100 ms, a requested scan runs here.
  detect_ = std::thread([this] {
    while (!stop_) {
      if (!core_.DetectionStep()) clock_.Sleep(100);
    }
    --running_;
  });
  // TRaidThread: every 50 ms, one status request on the main thread.
  raid_ = std::thread([this] {
    while (!stop_) {
      if (core_.StatusRequestWaiting()) invoker_.RunAndWait([this] { core_.ServeStatusRequest(); });
      clock_.Sleep(50);
    }
    --running_;
  });
  // TEmailThread: every 200 ms, a pending notification on the main thread.
  email_ = std::thread([this] {
    while (!stop_) {
      if (core_.MailRequestWaiting()) invoker_.RunAndWait([this] { core_.ServeMailRequest(); });
      clock_.Sleep(200);
    }
    --running_;
  });
}

void CoreThreads::Stop(const std::function<void()>& pump) {
  stop_ = true;
  while (running_ > 0) {
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  for (std::thread* t : {&detect_, &raid_, &email_})
    if (t->joinable()) t->join();
}

}  // namespace raid
