// raidmon's event loop, without a GUI toolkit: the main thread sleeps until
// the runtime's next wake-up, a call posted by a worker thread, or a quit
// (SIGINT, SIGTERM, SIGHUP; on Windows the console's close events).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "app/common/runtime.h"

namespace raid {

class ConsoleLoop final : public LoopHost {
 public:
  ConsoleLoop();
  ~ConsoleLoop() override;

  // Main thread: runs until Quit; onWake is called for each wake-up asked
  // for with WakeIn.
  void Run(const std::function<void()>& onWake);
  // Any thread.
  void Quit();
  // Main thread: runs the calls posted so far (while the threads end).
  void RunPosted();

  // Signals end the loop from now on. Call before any other thread starts,
  // so that only the loop's own signal thread takes them.
  void QuitOnSignals();
  // The program has saved what it had to save (a Windows console close
  // waits for this).
  static void Finished();

  // LoopHost
  bool OnMainThread() const override { return std::this_thread::get_id() == main_; }
  void Post(std::function<void()> fn) override;
  void WakeIn(int64_t realMs) override;
  void SetClosing() override;
  bool RunAndWait(const std::function<void()>& fn) override;

 private:
  using Clock = std::chrono::steady_clock;
  // With mu_ held through `lock`: runs the first posted call, if there is
  // one, with mu_ released meanwhile. Whether it ran one.
  bool RunFirstPosted(std::unique_lock<std::mutex>& lock);

  std::thread::id main_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> posted_;
  std::optional<Clock::time_point> wakeAt_;
  bool quit_ = false;
  bool closing_ = false;
  std::thread signals_;
};

}  // namespace raid
