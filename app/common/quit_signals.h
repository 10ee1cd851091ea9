// SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl+C, Ctrl+Break, the console
// window closed, log-off and shut-down) end the program the same way closing
// it does: the handler only sets a flag and wakes the main thread's event
// loop (through a pipe on POSIX, a queued call on Windows), which turns it
// into the given action. Nothing polls while no signal comes.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace raid {

class QuitOnSignals : public QObject {
 public:
  explicit QuitOnSignals(std::function<void()> onSignal, QObject* parent = nullptr);
  ~QuitOnSignals() override;
  // The program has saved what it had to save: on Windows the console
  // handler, which must hold the process until then, may return.
  static void Finished();
  // Runs the action now when a signal has come (the wake-up does this).
  void Check();

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> onSignal_;
  bool fired_ = false;
};

}  // namespace raid
