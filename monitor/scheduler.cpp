#include "monitor/scheduler.h"

#include <limits>

namespace raid {

CoreScheduler::CoreScheduler(RaidCore& core, Clock& clock, ManualClock* manual, bool inlineWorkers,
                             std::function<void()> pump, std::function<int64_t()> pumpWorkFrom)
    : core_(core), clock_(clock), manual_(manual) {
  constexpr int64_t kNone = std::numeric_limits<int64_t>::max();
  if (pump) Add("pump", 100, std::move(pump), nullptr, std::move(pumpWorkFrom));
  if (inlineWorkers) {
    // The loops only look at their request flags; they have work from the
    // moment a flag is set, and flags are set only by other tasks or by the
    // front end (which then asks for the next wake again).
    Add(
        "DriveDetectThread", 100, [this] { core_.DetectionStep(); }, nullptr,
        [this] { return core_.DetectionPending() ? int64_t{0} : kNone; });
    Add(
        "TRaidThread", 50,
        [this] {
          if (core_.StatusRequestWaiting()) core_.ServeStatusRequest();
        },
        nullptr, [this] { return core_.StatusRequestWaiting() ? int64_t{0} : kNone; });
    Add(
        "TEmailThread", 200,
        [this] {
          if (core_.MailRequestWaiting()) core_.ServeMailRequest();
        },
        nullptr, [this] { return core_.MailRequestWaiting() ? int64_t{0} : kNone; });
  }
  Add(
      "Timer4", 500, [this] { core_.OnDetectionTimer(); }, [this] { return core_.DetectionTimerEnabled(); });
  Add("Timer3", 1000, [this] { core_.OnClockTimer(); });
  Add("Timer1", 1000, [this] { core_.OnProgressTimer(); });
  Add("Timer5", 1000, [this] { core_.OnHoldOffTimer(); });
  Add(
      "Timer2", 4000, [this] { core_.OnPollTimer(); }, [this] { return core_.PollTimerEnabled(); });
}

void CoreScheduler::Add(const char* name, int64_t period, std::function<void()> run, std::function<bool()> enabled,
                        std::function<int64_t()> workFrom) {
  Task t;
  t.workFrom = std::move(workFrom);
  t.name = name;
  t.period = period;
  t.next = clock_.MonotonicMs() + period;
  t.run = std::move(run);
  t.wasEnabled = enabled ? enabled() : true;
  t.enabled = std::move(enabled);
  tasks_.push_back(std::move(t));
}

int64_t CoreScheduler::NextWakeMs() const {
  int64_t best = std::numeric_limits<int64_t>::max();
  for (const auto& t : tasks_) {
    if (t.enabled && !t.enabled()) continue;
    // A timer just enabled is restarted by the next run; its interval
    // counts from then at the latest.
    int64_t at = t.next;
    if (t.workFrom) {
      const int64_t from = t.workFrom();
      if (from == std::numeric_limits<int64_t>::max()) continue;
      // The first run of the loop at or after the moment work is there.
      if (from > at) at += (from - at + t.period - 1) / t.period * t.period;
    }
    if (at < best) best = at;
  }
  return best;
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
      if (t.enabled() && !t.wasEnabled) t.next = now + t.period;
      t.wasEnabled = t.enabled();
    }
    Task* due = nullptr;
    for (auto& t : tasks_) {
      if (t.enabled && !t.enabled()) continue;
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
