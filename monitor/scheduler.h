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
  // pump: called every 100 ms (the simulator's timeline), may be empty;
  // pumpWorkFrom: the program time of the next timeline event (INT64_MAX
  // when none is left), empty when unknown.
  CoreScheduler(RaidCore& core, Clock& clock, ManualClock* manual, bool inlineWorkers, std::function<void()> pump,
                std::function<int64_t()> pumpWorkFrom = {});

  // Runs every task due up to program time untilMs (Clock::MonotonicMs).
  // A call made while a task runs (a modal box's own event loop pacing the
  // program again) does nothing: tasks never overlap, as on the real threads,
  // where the status thread waits while its call shows a box.
  void RunUntil(int64_t untilMs);

  // The program time at which the next task that may do something is due
  // (a timer, a worker loop with a request waiting, the pump with a
  // timeline event coming); INT64_MAX when none is. Between now and then
  // every task would only find nothing to do, so a front end may sleep
  // until then, and running them later in one go gives the same result.
  int64_t NextWakeMs() const;
  // A task is running (a modal box's own event loop is pacing the program).
  bool Running() const { return running_; }

 private:
  struct Task {
    std::string name;
    int64_t period;
    int64_t next;
    std::function<void()> run;
    std::function<bool()> enabled;  // a timer's enabled state, restarted on enabling
    bool wasEnabled = true;
    // For a loop that only serves requests: the program time from which it
    // has work (INT64_MAX: none yet). Empty for timers, which always count.
    std::function<int64_t()> workFrom;
  };
  void Add(const char* name, int64_t period, std::function<void()> run, std::function<bool()> enabled = {},
           std::function<int64_t()> workFrom = {});

  RaidCore& core_;
  Clock& clock_;
  ManualClock* manual_;
  std::vector<Task> tasks_;
  bool running_ = false;
};

}  // namespace raid
