#include "app/common/quit_signals.h"

#include <QMetaObject>
#include <atomic>
#include <cerrno>
#include <csignal>

#include "app/common/console_quit.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace raid {

namespace {
std::atomic<bool> g_signalled{false};
std::atomic<QuitOnSignals*> g_instance{nullptr};

#ifndef _WIN32
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
  CallOnConsoleQuit([] {
    g_signalled = true;
    if (QuitOnSignals* q = g_instance.load())
      QMetaObject::invokeMethod(
          q, [q] { q->Check(); }, Qt::QueuedConnection);
  });
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

void QuitOnSignals::Finished() { ConsoleQuitFinished(); }

}  // namespace raid
