// The runtime in a Qt event loop: the main-thread calls of the worker
// threads go through queued calls, and the wake-ups the runtime asks for are
// one single-shot timer, so an idle window wakes only when something is due.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

#include "app/common/runtime.h"

namespace raid {

class CoreRuntime : public QObject, public LoopHost {
  Q_OBJECT
 public:
  // The machine and the view must outlive the runtime.
  CoreRuntime(Machine& machine, CoreView& view, const std::string& logDir, QObject* parent = nullptr);
  ~CoreRuntime() override;

  RaidCore& Core() { return runtime_.Core(); }
  // The view the core talks to: texts from any thread reach the main thread.
  CoreView& SafeView() { return runtime_.SafeView(); }
  DeviceJobs& Jobs() { return runtime_.Jobs(); }
  // Starts the core, its threads, device notifications and the pacing.
  // pace false: nothing runs until StepFor is called (tests, rendering).
  void Start(bool pace = true);
  // Runs the program for this much program time at once (simulated
  // machines only).
  void StepFor(int64_t ms) { runtime_.StepFor(ms); }
  // Disarms polling, ends the threads and stops the pacing.
  void Stop();
  // Stops the pacing at this much program time (ms since start).
  void SetDeadline(int64_t ms) { runtime_.SetDeadline(ms); }
  bool DeadlineReached() const { return runtime_.DeadlineReached(); }
  // Program time since start, milliseconds.
  int64_t ProgramMs() const { return runtime_.ProgramMs(); }

  // LoopHost
  bool OnMainThread() const override;
  void Post(std::function<void()> fn) override;
  void WakeIn(int64_t realMs) override;
  void SetClosing() override { closing_ = true; }
  bool RunAndWait(const std::function<void()>& fn) override;

 signals:
  // After each pacing step (the front end may look at the core).
  void Stepped();

 protected:
  // A click or key may have asked the core for work: the next wake-up is
  // planned again once the event has been handled.
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  std::atomic<bool> closing_{false};
  QTimer wake_;
  Runtime runtime_;
  bool wakeQueued_ = false;
};

}  // namespace raid
