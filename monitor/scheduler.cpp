#include "monitor/scheduler.h"

#include <limits>

namespace raid {

CoreScheduler::CoreScheduler(RaidCore& core, Clock& clock, ManualClock* manual, bool inlineWorkers,
                             std::function<void()> pump)
    : core_(core), clock_(clock), manual_(manual) {
  if (pump) Add("pump", 100, std::move(pump));
  if (inlineWorkers) {
    Add("DriveDetectThread", 100, [this] { core_.DetectionStep(); });
    Add("TRaidThread", 50, [this] {
      if (core_.StatusRequestWaiting()) core_.ServeStatusRequest();
    });
    Add("TEmailThread", 200, [this] {
      if (core_.MailRequestWaiting()) core_.ServeMailRequest();
    });
  }
  Add("Timer4", 500, [this] { core_.Timer4Timer(); }, &core_.Timer4Enabled);
  Add("Timer3", 1000, [this] { core_.Timer3Timer(); });
  Add("Timer1", 1000, [this] { core_.Timer1Timer(); });
  Add("Timer5", 1000, [this] { core_.Timer5Timer(); });
  Add("Timer2", 4000, [this] { core_.Timer2Timer(); }, &core_.Timer2Enabled);
}

void CoreScheduler::Add(const char* name, int64_t period, std::function<void()> run, const bool* enabled) {
  Task t;
  t.name = name;
  t.period = period;
  t.next = clock_.MonotonicMs() + period;
  t.run = std::move(run);
  t.enabled = enabled;
  t.wasEnabled = enabled ? *enabled : true;
  tasks_.push_back(std::move(t));
}

void CoreScheduler::RunUntil(int64_t untilMs) {
  if (running_) return;
  running_ = true;
  for (;;) {
    // A timer that was just enabled starts its interval now, as a window
    // timer does.
    const int64_t now = clock_.MonotonicMs();
    for (auto& t : tasks_) {
      if (!t.enabled) continue;
      if (*t.enabled && !t.wasEnabled) t.next = now + t.period;
      t.wasEnabled = *t.enabled;
    }
    Task* due = nullptr;
    for (auto& t : tasks_) {
      if (t.enabled && !*t.enabled) continue;
      if (!due || t.next < due->next) due = &t;
    }
    if (!due || due->next > untilMs) break;
    if (manual_ && manual_->MonotonicMs() < due->next) manual_->Advance(due->next - manual_->MonotonicMs());
    const int64_t at = due->next;
    due->run();
    // A task far behind (a long device request) is not run again in a burst.
    const int64_t after = clock_.MonotonicMs();
    due->next = at + due->period;
    if (due->next + due->period < after) due->next = after + due->period;
  }
  if (manual_ && manual_->MonotonicMs() < untilMs) manual_->Advance(untilMs - manual_->MonotonicMs());
  running_ = false;
}

}  // namespace raid
