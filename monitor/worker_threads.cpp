#include "monitor/worker_threads.h"

#include <chrono>

namespace raid {

CoreThreads::CoreThreads(RaidCore& core, Clock& clock, MainThreadInvoker& invoker, int64_t idleMs)
    : core_(core), clock_(clock), invoker_(invoker), idleMs_(idleMs) {}

CoreThreads::~CoreThreads() {
  Stop([] {});
}

void CoreThreads::Start() {
  stop_ = false;
  running_ = 2;
  // The device thread: a posted long operation first, then a requested
  // detection scan, then a status request, each served whole.
  device_ = std::thread([this] {
    uint64_t seen = 0;
    while (!stop_) {
      std::function<void()> job;
      {
        std::lock_guard lock(mu_);
        if (!jobs_.empty()) {
          job = std::move(jobs_.front());
          jobs_.pop_front();
        }
      }
      if (job) {
        job();
        continue;
      }
      if (core_.DetectionStep()) continue;
      // A scan's result waits for the main thread to publish it (Detecting
      // stays set until then): the device table is not to be read before.
      const bool waiting = core_.StatusRequestWaiting();
      if (waiting && !core_.Devices().Detecting) core_.ServeStatusRequest(invoker_);
      Wait(50, seen, waiting);
    }
    --running_;
  });
  // TEmailThread: a pending notification, handed to the main thread.
  email_ = std::thread([this] {
    uint64_t seen = 0;
    while (!stop_) {
      const bool waiting = core_.MailRequestWaiting();
      if (waiting) invoker_.RunAndWait([this] { core_.ServeMailRequest(); });
      Wait(200, seen, waiting);
    }
    --running_;
  });
}

bool CoreThreads::PostDeviceJob(std::function<void()> job) {
  {
    std::lock_guard lock(mu_);
    if (stop_) return false;
    jobs_.push_back(std::move(job));
    ++nudges_;
  }
  cv_.notify_all();
  return true;
}

void CoreThreads::Wait(int64_t periodMs, uint64_t& seen, bool busy) {
  if (idleMs_ <= 0) {
    clock_.Sleep(periodMs);
    return;
  }
  std::unique_lock lock(mu_);
  // A nudge that came after the loop last looked is not lost: the count has
  // moved on since `seen`.
  cv_.wait_for(lock, std::chrono::milliseconds(busy ? periodMs : idleMs_),
               [&] { return stop_.load() || nudges_ != seen; });
  seen = nudges_;
}

void CoreThreads::Nudge() {
  {
    std::lock_guard lock(mu_);
    ++nudges_;
  }
  cv_.notify_all();
}

void CoreThreads::Stop(const std::function<void()>& pump) {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  while (running_ > 0) {
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  for (std::thread* t : {&device_, &email_})
    if (t->joinable()) t->join();
}

}  // namespace raid
