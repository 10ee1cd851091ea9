#include "app/common/runtime.h"

#include <cmath>
#include <limits>

namespace raid {

namespace {
// A simulated machine that cannot keep up with its speed (a slow machine, a
// long modal box) is not made to catch up in one burst: a step that comes
// more than this much real time after its planned wake-up runs only that far
// past it, and program time then runs behind the wall. Steps on time keep
// program time at start + speed x elapsed wall time, however long the waits.
constexpr int64_t kMaxLateRealMs = 200;
// Charged device time the wall is given to catch up with (real ms): a few
// polls' worth; a long operation's is not waited for.
constexpr int64_t kMaxAheadRealMs = 1000;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
// On real disks a worker loop with nothing to do looks at its requests at
// least this often (real milliseconds), besides each nudge.
constexpr int64_t kThreadIdleMs = 1000;
}  // namespace

Runtime::Runtime(Machine& machine, CoreView& view, const std::string& logDir, LoopHost& host)
    : machine_(machine), host_(host), format_(MakePlatformDateTimeFormat()), view_(view, host) {
  core_ = std::make_unique<RaidCore>(*machine_.io, *machine_.clock, *format_, view_, logDir, pages_);
}

Runtime::~Runtime() = default;

bool RuntimeJobs::Run(std::function<void(MainThreadInvoker& main)> job, std::function<void()> done) {
  if (!runtime_.threads_) {
    job(DirectCalls());
    if (done) done();
    return true;
  }
  LoopHost& host = runtime_.host_;
  runtime_.threads_->PostDeviceJob([&host, job = std::move(job), done = std::move(done)] {
    job(host);
    if (done) host.Post(done);
  });
  return false;
}

int64_t Runtime::RealMs() { return wall_.MonotonicMs(); }

void Runtime::OnDeviceChangeAnyThread() {
  auto change = [this] {
    if (!started_) return;
    core_->OnDeviceChange();
    Wake();
  };
  if (host_.OnMainThread())
    change();
  else
    host_.Post(change);
}

void Runtime::Start(bool pace) {
  startMs_ = machine_.clock->MonotonicMs();
  core_->Start();
  const bool simulated = machine_.sim != nullptr;
  std::function<void()> pump;
  std::function<int64_t()> pumpWorkFrom;
  if (simulated) {
    pump = [this] { machine_.sim->Pump(); };
    pumpWorkFrom = [this] { return machine_.sim->NextEventMs(); };
  }
  // A simulated machine runs every loop on this thread by the program's
  // clock, so a scenario replays the same way every time; real devices get
  // the worker threads.
  scheduler_ = std::make_unique<CoreScheduler>(*core_, *machine_.clock, machine_.manual, simulated, pump, pumpWorkFrom);
  if (!simulated) {
    // The loops sleep until a step may have given them work (and look once
    // a second at the latest), so an idle monitor stays idle.
    threads_ = std::make_unique<CoreThreads>(*core_, *machine_.clock, host_, kThreadIdleMs);
    threads_->Start();
  }
  started_ = true;
  if (machine_.changes && !machine_.changes->Start([this] { OnDeviceChangeAnyThread(); }))
    view_.SetPanelText(kMessagePanel, "Device change notifications are not available");
  pacing_ = pace;
  anchorReal_ = RealMs();
  anchorProgram_ = machine_.clock->MonotonicMs();
  if (pacing_) PlanWake();
}

void Runtime::Step() {
  if (!pacing_ || !scheduler_) return;
  // A step asked for while a task runs (a modal box's own event loop): the
  // task's own step plans the next wake-up when it is done.
  if (scheduler_->Running()) return;
  int64_t target;
  const int64_t real = RealMs();
  if (machine_.manual) {
    const double speed = machine_.speed > 0 ? machine_.speed : 1.0;
    target = anchorProgram_ + static_cast<int64_t>(std::floor(static_cast<double>(real - anchorReal_) * speed));
    const int64_t now = machine_.manual->MonotonicMs();
    // The step may run up to the wake-up it was planned for and a little
    // past it; a wake-up much later than planned (the loop was held up)
    // resumes from there instead of catching up.
    const auto maxLate = static_cast<int64_t>(std::ceil(kMaxLateRealMs * speed));
    const int64_t expected = plannedProgram_ > now ? plannedProgram_ : now;
    if (target - expected > maxLate) {
      target = expected + maxLate;
      anchorReal_ = real;
      anchorProgram_ = target;
    }
    if (target < now) target = now;
  } else {
    target = machine_.clock->MonotonicMs();
  }
  if (deadlineMs_ >= 0 && target > startMs_ + deadlineMs_) target = startMs_ + deadlineMs_;
  scheduler_->RunUntil(target);
  if (threads_) threads_->Nudge();
  PlanWake();
  if (OnStepped) OnStepped();
}

void Runtime::Wake() {
  if (threads_) threads_->Nudge();
  if (pacing_ && scheduler_ && !scheduler_->Running()) PlanWake();
}

void Runtime::PlanWake() {
  int64_t next = scheduler_->NextWakeMs();
  if (deadlineMs_ >= 0 && startMs_ + deadlineMs_ < next) next = startMs_ + deadlineMs_;
  if (deadlineMs_ >= 0 && DeadlineReached()) return;  // the front end ends it
  plannedProgram_ = next;
  if (next == kNever) return;
  const double speed = machine_.speed > 0 ? machine_.speed : 1.0;
  const int64_t real = RealMs();
  const int64_t now = machine_.clock->MonotonicMs();
  if (machine_.manual) {
    // Device time charged during the step moved the program ahead of the
    // wall. The wall catches up with a little of it (the device's time is
    // part of the wall's, as on a real machine, so program time keeps its
    // pace); more than that, as a long operation charges, is not waited
    // for: the program goes on from there.
    const auto projected =
        anchorProgram_ + static_cast<int64_t>(std::floor(static_cast<double>(real - anchorReal_) * speed));
    const auto maxAhead = static_cast<int64_t>(std::ceil(kMaxAheadRealMs * speed));
    if (now - projected > maxAhead) {
      anchorReal_ = real;
      anchorProgram_ = now - maxAhead;
    }
    const double wallAt = static_cast<double>(anchorReal_) + static_cast<double>(next - anchorProgram_) / speed;
    const auto in = static_cast<int64_t>(std::ceil(wallAt)) - real;
    host_.WakeIn(in > 0 ? in : 0);
    return;
  }
  const auto in = static_cast<int64_t>(std::ceil(static_cast<double>(next - now) / speed));
  host_.WakeIn(in > 0 ? in : 0);
}

void Runtime::StepFor(int64_t ms) {
  if (!scheduler_ || !machine_.manual) return;
  scheduler_->RunUntil(machine_.manual->MonotonicMs() + ms);
  if (OnStepped) OnStepped();
}

void Runtime::Stop(const std::function<void()>& pump) {
  if (!started_) return;
  started_ = false;
  pacing_ = false;
  core_->Close();
  if (machine_.changes) machine_.changes->Stop();
  host_.SetClosing();
  if (threads_) threads_->Stop(pump);
}

}  // namespace raid
