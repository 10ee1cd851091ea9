// Runs the main window's timers, and optionally the worker loops, by the
// program's clock. On a manual clock it moves time from one due task to the
// next, so a simulated run replays exactly and as fast as wanted; on a real
// clock it runs what is due.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "monitor/raid_core.h"
#include "platform/clock.h"

namespace raid {

class CoreScheduler {
 public:
  // inlineWorkers: the detection, status and mail loops run here as tasks
  // on the calling thread instead of on threads of their own.
  // pump: called every 100 ms (the simulator's timeline), may be empty.
  CoreScheduler(RaidCore& core, Clock& clock, ManualClock* manual, bool inlineWorkers, std::function<void()> pump);

  // Runs every task due up to program time untilMs (Clock::MonotonicMs).
  // A call made while a task runs (a modal box's own event loop pacing the
  // program again) does nothing: tasks never overlap, as on the real threads,
  // where the status thread waits while its call shows a box.
  void RunUntil(int64_t untilMs);

 private:
  struct Task {
    std::string name;
    int64_t period;
    int64_t next;
    std::function<void()> run;
    const bool* enabled = nullptr;  // a timer's enabled flag, restarted on enabling
    bool wasEnabled = true;
  };
  void Add(const char* name, int64_t period, std::function<void()> run, const bool* enabled = nullptr);

  RaidCore& core_;
  Clock& clock_;
  ManualClock* manual_;
  std::vector<Task> tasks_;
  bool running_ = false;
};

}  // namespace raid
