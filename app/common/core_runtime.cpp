#include "app/common/core_runtime.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QThread>

namespace raid {

CoreRuntime::CoreRuntime(Machine& machine, CoreView& view, const std::string& logDir, QObject* parent)
    : QObject(parent), runtime_(machine, view, logDir, *this) {
  wake_.setSingleShot(true);
  wake_.setTimerType(Qt::PreciseTimer);
  connect(&wake_, &QTimer::timeout, this, [this] { runtime_.Step(); });
  runtime_.OnStepped = [this] { emit Stepped(); };
}

CoreRuntime::~CoreRuntime() { Stop(); }

bool CoreRuntime::OnMainThread() const { return QThread::currentThread() == thread(); }

void CoreRuntime::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(
      this, [fn = std::move(fn)] { fn(); }, Qt::QueuedConnection);
}

void CoreRuntime::WakeIn(int64_t realMs) {
  constexpr int64_t kMaxTimerMs = 24LL * 3600 * 1000;
  wake_.start(static_cast<int>(realMs < kMaxTimerMs ? realMs : kMaxTimerMs));
}

bool CoreRuntime::RunAndWait(const std::function<void()>& fn) {
  if (closing_) return false;
  if (OnMainThread()) {
    fn();
    return true;
  }
  QMetaObject::invokeMethod(
      this,
      [this, &fn] {
        if (!closing_) fn();
      },
      Qt::BlockingQueuedConnection);
  return !closing_;
}

void CoreRuntime::Start(bool pace) {
  if (pace && QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
  runtime_.Start(pace);
}

bool CoreRuntime::eventFilter(QObject* o, QEvent* e) {
  switch (e->type()) {
    case QEvent::MouseButtonRelease:
    case QEvent::KeyRelease:
      if (!wakeQueued_) {
        wakeQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
              wakeQueued_ = false;
              runtime_.Wake();
            },
            Qt::QueuedConnection);
      }
      break;
    default: break;
  }
  return QObject::eventFilter(o, e);
}

void CoreRuntime::Stop() {
  wake_.stop();
  if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
  runtime_.Stop([] { QCoreApplication::processEvents(); });
}

}  // namespace raid
