#include "app/common/core_runtime.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <cmath>

namespace raid {

bool QtInvoker::RunAndWait(const std::function<void()>& fn) {
  if (closing_) return false;
  if (QThread::currentThread() == main_->thread()) {
    fn();
    return true;
  }
  QMetaObject::invokeMethod(
      main_,
      [this, &fn] {
        if (!closing_) fn();
      },
      Qt::BlockingQueuedConnection);
  return !closing_;
}

bool ThreadSafeView::OnMain() const { return QThread::currentThread() == main_->thread(); }

void ThreadSafeView::SetPanelText(int panel, const std::string& text) {
  if (OnMain()) {
    inner_.SetPanelText(panel, text);
    return;
  }
  QMetaObject::invokeMethod(main_, [this, panel, text] { inner_.SetPanelText(panel, text); }, Qt::QueuedConnection);
}

BoxResult ThreadSafeView::ShowMessage(const MessageBoxRequest& box) {
  if (OnMain()) return inner_.ShowMessage(box);
  BoxResult r = BoxResult::Cancel;
  invoker_.RunAndWait([&] { r = inner_.ShowMessage(box); });
  return r;
}

void ThreadSafeView::ShowNotice(const MessageBoxRequest& box) {
  if (OnMain()) {
    inner_.ShowNotice(box);
    return;
  }
  // Nothing waits for a notice: it is shown when the main thread comes to it.
  QMetaObject::invokeMethod(main_, [this, box] { inner_.ShowNotice(box); }, Qt::QueuedConnection);
}

void ThreadSafeView::ProcessMessages() {
  if (OnMain()) inner_.ProcessMessages();
}

CoreRuntime::CoreRuntime(Machine& machine, CoreView& view, const std::string& logDir, QObject* parent)
    : QObject(parent),
      machine_(machine),
      format_(MakePlatformDateTimeFormat()),
      invoker_(this),
      view_(view, this, invoker_) {
  core_ = std::make_unique<RaidCore>(*machine_.io, *machine_.clock, *format_, view_, logDir);
  connect(&pace_, &QTimer::timeout, this, &CoreRuntime::Step);
}

CoreRuntime::~CoreRuntime() { Stop(); }

void CoreRuntime::OnDeviceChangeAnyThread() {
  if (QThread::currentThread() == thread()) {
    core_->OnDeviceChange();
    return;
  }
  QMetaObject::invokeMethod(this, [this] { core_->OnDeviceChange(); }, Qt::QueuedConnection);
}

void CoreRuntime::Start(bool pace) {
  startMs_ = machine_.clock->MonotonicMs();
  core_->Start();
  const bool simulated = machine_.sim != nullptr;
  std::function<void()> pump;
  if (simulated) pump = [this] { machine_.sim->Pump(); };
  // A simulated machine runs every loop on this thread by the program's
  // clock, so a scenario replays the same way every time; real devices get
  // the worker threads.
  scheduler_ = std::make_unique<CoreScheduler>(*core_, *machine_.clock, machine_.manual, simulated, pump);
  if (!simulated) {
    threads_ = std::make_unique<CoreThreads>(*core_, *machine_.clock, invoker_);
    threads_->Start();
  }
  if (machine_.changes && !machine_.changes->Start([this] { OnDeviceChangeAnyThread(); }))
    view_.SetPanelText(4, "Device change notifications are not available");
  if (pace) pace_.start(10);
  started_ = true;
}

void CoreRuntime::Step() {
  int64_t target;
  if (machine_.manual) {
    const auto step = static_cast<int64_t>(std::llround(10.0 * machine_.speed));
    target = machine_.manual->MonotonicMs() + (step > 0 ? step : 1);
  } else {
    target = machine_.clock->MonotonicMs();
  }
  if (deadlineMs_ >= 0 && target > startMs_ + deadlineMs_) target = startMs_ + deadlineMs_;
  scheduler_->RunUntil(target);
  emit Stepped();
}

void CoreRuntime::StepFor(int64_t ms) {
  if (!scheduler_ || !machine_.manual) return;
  scheduler_->RunUntil(machine_.manual->MonotonicMs() + ms);
  emit Stepped();
}

void CoreRuntime::Stop() {
  if (!started_) return;
  started_ = false;
  pace_.stop();
  core_->Close();
  if (machine_.changes) machine_.changes->Stop();
  invoker_.SetClosing();
  if (threads_) threads_->Stop([] { QCoreApplication::processEvents(); });
}

}  // namespace raid
