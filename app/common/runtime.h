// The runtime both front ends share, in plain C++: it owns the core, runs
// its timers (and on a simulated machine its worker loops) by the program's
// clock, and starts and stops the worker threads. It never polls: after each
// step it asks its host's event loop for one wake-up, when the next timer,
// request or timeline event is due, so an idle monitor sleeps.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/common/loop_view.h"
#include "app/common/options.h"
#include "app/common/page_selection.h"
#include "monitor/device_jobs.h"
#include "monitor/raid_core.h"
#include "monitor/scheduler.h"
#include "monitor/worker_threads.h"
#include "platform/clock.h"
#include "platform/datetime_text.h"

namespace raid {

class Runtime;

// The runtime's long operations: on the device thread when it runs one,
// else at once.
class RuntimeJobs final : public DeviceJobs {
 public:
  explicit RuntimeJobs(Runtime& runtime) : runtime_(runtime) {}
  bool Run(std::function<void(MainThreadInvoker& main)> job, std::function<void()> done) override;

 private:
  Runtime& runtime_;
};

class Runtime {
 public:
  // The machine, the view and the host must outlive the runtime.
  Runtime(Machine& machine, CoreView& view, const std::string& logDir, LoopHost& host);
  ~Runtime();

  RaidCore& Core() { return *core_; }
  // Where the long operations run (on the device thread on real devices).
  DeviceJobs& Jobs() { return jobs_; }
  // The view the core talks to: texts from any thread reach the main thread.
  CoreView& SafeView() { return view_; }
  // Starts the core, its threads, device notifications and the pacing.
  // pace false: nothing runs until StepFor is called (tests, rendering).
  void Start(bool pace = true);
  // The host's wake-up: runs what is due by now and asks for the next one.
  void Step();
  // Something outside the tasks changed the core (a device change, the
  // user): plan the next wake-up again.
  void Wake();
  // Runs the program for this much program time at once (simulated
  // machines only).
  void StepFor(int64_t ms);
  // Disarms polling, ends the threads and stops the pacing; pump lets the
  // host run what the threads wait for.
  void Stop(const std::function<void()>& pump);
  // Stops the pacing at this much program time (ms since start).
  void SetDeadline(int64_t ms) { deadlineMs_ = ms; }
  bool DeadlineReached() const { return deadlineMs_ >= 0 && ProgramMs() >= deadlineMs_; }
  // Program time since start, milliseconds.
  int64_t ProgramMs() const { return machine_.clock->MonotonicMs() - startMs_; }
  // Called on the main thread after each step and from a device change.
  std::function<void()> OnStepped;
  // Called from any thread when a device arrives or leaves, before the core
  // hears of it (the host moves the call to the main thread).
  void OnDeviceChangeAnyThread();

 private:
  // Real milliseconds, for relating program time to the wall.
  int64_t RealMs();
  void PlanWake();

  Machine& machine_;
  LoopHost& host_;
  std::unique_ptr<DateTimeFormat> format_;
  LoopView view_;
  PageSelection pages_;  // the front end's page and selections
  RuntimeJobs jobs_{*this};
  friend class RuntimeJobs;
  std::unique_ptr<RaidCore> core_;
  std::unique_ptr<CoreScheduler> scheduler_;
  std::unique_ptr<CoreThreads> threads_;
  SystemClock wall_;
  int64_t startMs_ = 0;
  int64_t deadlineMs_ = -1;
  // A simulated machine's program time runs `speed` times the wall from
  // this pair on (moved when the program falls behind or device time is
  // charged).
  int64_t anchorReal_ = 0, anchorProgram_ = 0;
  // The program time the pending wake-up was planned for.
  int64_t plannedProgram_ = 0;
  bool started_ = false;
  bool pacing_ = false;
};

}  // namespace raid
