#include "app/raidmon/console_loop.h"

#include <atomic>
#include <future>

#include "app/common/console_quit.h"

#ifndef _WIN32
#include <pthread.h>
#include <csignal>
#endif

namespace raid {

namespace {
#ifdef _WIN32
std::atomic<ConsoleLoop*> g_loop{nullptr};
#else
sigset_t QuitSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}
std::atomic<bool> g_signalThreadEnding{false};
#endif
}  // namespace

ConsoleLoop::ConsoleLoop() : main_(std::this_thread::get_id()) {}

ConsoleLoop::~ConsoleLoop() {
#ifdef _WIN32
  g_loop = nullptr;
#else
  if (signals_.joinable()) {
    g_signalThreadEnding = true;
    pthread_kill(signals_.native_handle(), SIGTERM);
    signals_.join();
  }
#endif
}

void ConsoleLoop::QuitOnSignals() {
#ifdef _WIN32
  g_loop = this;
  CallOnConsoleQuit([] {
    if (ConsoleLoop* l = g_loop.load()) l->Quit();
  });
#else
  // Blocked here, the signals are inherited blocked by every thread started
  // later and wait for sigwait in the loop's signal thread.
  const sigset_t set = QuitSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signals_ = std::thread([this, set] {
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      if (g_signalThreadEnding) return;
      Quit();
    }
  });
#endif
}

void ConsoleLoop::Finished() { ConsoleQuitFinished(); }

void ConsoleLoop::Run(const std::function<void()>& onWake) {
  std::unique_lock lock(mu_);
  while (!quit_) {
    if (RunFirstPosted(lock)) continue;
    if (wakeAt_ && Clock::now() >= *wakeAt_) {
      wakeAt_.reset();
      lock.unlock();
      onWake();
      lock.lock();
      continue;
    }
    if (wakeAt_)
      cv_.wait_until(lock, *wakeAt_);
    else
      cv_.wait(lock);
  }
}

void ConsoleLoop::RunPosted() {
  std::unique_lock lock(mu_);
  while (RunFirstPosted(lock)) {
  }
}

bool ConsoleLoop::RunFirstPosted(std::unique_lock<std::mutex>& lock) {
  if (posted_.empty()) return false;
  std::function<void()> fn = std::move(posted_.front());
  posted_.pop_front();
  lock.unlock();
  fn();
  lock.lock();
  return true;
}

void ConsoleLoop::Quit() {
  {
    std::lock_guard lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
}

void ConsoleLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(mu_);
    posted_.push_back(std::move(fn));
  }
  cv_.notify_all();
}

void ConsoleLoop::WakeIn(int64_t realMs) {
  std::lock_guard lock(mu_);
  wakeAt_ = Clock::now() + std::chrono::milliseconds(realMs);
}

void ConsoleLoop::SetClosing() {
  std::lock_guard lock(mu_);
  closing_ = true;
}

bool ConsoleLoop::RunAndWait(const std::function<void()>& fn) {
  if (OnMainThread()) {
    fn();
    return true;
  }
  auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> result = done->get_future();
  {
    std::lock_guard lock(mu_);
    if (closing_) return false;
    // The posted call runs on the main thread while this thread waits, so
    // fn is still alive then; once closing it is skipped.
    posted_.push_back([this, &fn, done] {
      bool run;
      {
        std::lock_guard l(mu_);
        run = !closing_;
      }
      if (run) fn();
      done->set_value(run);
    });
  }
  cv_.notify_all();
  return result.get();
}

}  // namespace raid
