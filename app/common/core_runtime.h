// The Qt side shared by both front ends: the main-thread invoker, a view
// wrapper that moves worker-thread calls to the main thread, and the runtime
// that owns the core, paces its scheduler and starts and stops its threads.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

#include "app/common/options.h"
#include "monitor/raid_core.h"
#include "monitor/scheduler.h"
#include "monitor/worker_threads.h"
#include "platform/datetime_text.h"

namespace raid {

class QtInvoker final : public MainThreadInvoker {
 public:
  explicit QtInvoker(QObject* mainObject) : main_(mainObject) {}
  bool RunAndWait(const std::function<void()>& fn) override;
  void SetClosing() { closing_ = true; }

 private:
  QObject* main_;
  std::atomic<bool> closing_{false};
};

// Forwards to the front end's view; status-bar texts and message boxes that
// come from a worker thread are delivered on the main thread.
class ThreadSafeView final : public CoreView {
 public:
  ThreadSafeView(CoreView& inner, QObject* mainObject, QtInvoker& invoker)
      : inner_(inner), main_(mainObject), invoker_(invoker) {}
  void SetPanelText(int panel, const std::string& text) override;
  BoxResult ShowMessage(const MessageBoxRequest& box) override;
  void ShowNotice(const MessageBoxRequest& box) override;
  void ProcessMessages() override;
  void DetectTextChanged(const std::string& t, bool v) override { inner_.DetectTextChanged(t, v); }
  void NavigationEnabledChanged(bool e) override { inner_.NavigationEnabledChanged(e); }
  void UpgradeButtonEnabledChanged(bool e) override { inner_.UpgradeButtonEnabledChanged(e); }
  void SlotControlsChanged(int s, bool v, bool c) override { inner_.SlotControlsChanged(s, v, c); }
  void LogButtonVisibleChanged(bool v) override { inner_.LogButtonVisibleChanged(v); }
  void IdentityChanged() override { inner_.IdentityChanged(); }
  void StatusPageChanged() override { inner_.StatusPageChanged(); }
  void LogLineAppended(const std::string& l) override { inner_.LogLineAppended(l); }
  void NavigationChanged() override { inner_.NavigationChanged(); }
  void ProgressChanged(int b, uint32_t v) override { inner_.ProgressChanged(b, v); }
  void OptionControlsChanged() override { inner_.OptionControlsChanged(); }

 private:
  bool OnMain() const;
  CoreView& inner_;
  QObject* main_;
  QtInvoker& invoker_;
};

class CoreRuntime : public QObject {
  Q_OBJECT
 public:
  // The machine and the view must outlive the runtime.
  CoreRuntime(Machine& machine, CoreView& view, const std::string& logDir, QObject* parent = nullptr);
  ~CoreRuntime() override;

  RaidCore& Core() { return *core_; }
  // The view the core talks to: texts from any thread reach the main thread.
  CoreView& SafeView() { return view_; }
  // Starts the core, its threads, device notifications and the timers.
  // pace false: nothing runs until StepFor is called (tests, rendering).
  void Start(bool pace = true);
  // Runs the program for this much program time at once (simulated
  // machines only).
  void StepFor(int64_t ms);
  // Disarms polling, ends the threads and stops the timers.
  void Stop();
  // Stops the pacing at this much program time (ms since start).
  void SetDeadline(int64_t ms) { deadlineMs_ = ms; }
  bool DeadlineReached() const { return deadlineMs_ >= 0 && ProgramMs() >= deadlineMs_; }
  // Program time since start, milliseconds.
  int64_t ProgramMs() const { return machine_.clock->MonotonicMs() - startMs_; }

 signals:
  // After each pacing step (the front end may look at the core).
  void Stepped();

 private:
  void Step();
  void OnDeviceChangeAnyThread();

  Machine& machine_;
  std::unique_ptr<DateTimeFormat> format_;
  QtInvoker invoker_;
  ThreadSafeView view_;
  std::unique_ptr<RaidCore> core_;
  std::unique_ptr<CoreScheduler> scheduler_;
  std::unique_ptr<CoreThreads> threads_;
  QTimer pace_;
  int64_t startMs_ = 0;
  int64_t deadlineMs_ = -1;
  bool started_ = false;
};

}  // namespace raid
