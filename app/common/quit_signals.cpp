#include "app/common/quit_signals.h"

#include <QMetaObject>
#include <atomic>
#include <cerrno>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace raid {

namespace {
std::atomic<bool> g_signalled{false};
std::atomic<bool> g_finished{false};
std::atomic<QuitOnSignals*> g_instance{nullptr};

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_signalled = true;
      if (QuitOnSignals* q = g_instance.load())
        QMetaObject::invokeMethod(
            q, [q] { q->Check(); }, Qt::QueuedConnection);
      // The system ends the process when this returns after a close,
      // log-off or shut-down: hold it until the log is saved (the system
      // allows a few seconds).
      for (int i = 0; i < 450 && !g_finished; ++i) Sleep(10);
      return TRUE;
    default: return FALSE;
  }
}
#else
// Written by the handler (write is async-signal-safe), read by the loop.
int g_pipe[2] = {-1, -1};
extern "C" void OnQuitSignal(int) {
  const int saved = errno;
  g_signalled = true;
  if (g_pipe[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1);
  }
  errno = saved;
}
#endif
}  // namespace

QuitOnSignals::QuitOnSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
  g_instance = this;
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  if (g_pipe[0] < 0 && ::pipe(g_pipe) == 0) {
    for (const int fd : g_pipe) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  if (g_pipe[0] >= 0) {
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
      char buf[64];
      while (::read(g_pipe[0], buf, sizeof buf) > 0) {
      }
      Check();
    });
  }
  struct sigaction sa {};
  sa.sa_handler = OnQuitSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
#endif
}

QuitOnSignals::~QuitOnSignals() {
  QuitOnSignals* self = this;
  g_instance.compare_exchange_strong(self, nullptr);
}

void QuitOnSignals::Check() {
  if (g_signalled && !fired_) {
    fired_ = true;
    onSignal_();
  }
}

void QuitOnSignals::Finished() { g_finished = true; }

}  // namespace raid
