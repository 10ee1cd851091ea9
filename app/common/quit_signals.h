// SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl+C, Ctrl+Break, the console
// window closed, log-off and shut-down) end the program the same way closing
// it does: the handler only sets a flag, which a timer on the main thread
// turns into the given action.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace raid {

class QuitOnSignals : public QObject {
 public:
  explicit QuitOnSignals(std::function<void()> onSignal, QObject* parent = nullptr);
  // The program has saved what it had to save: on Windows the console
  // handler, which must hold the process until then, may return.
  static void Finished();
  // Runs the action now when a signal has come (the timer does this every
  // 50 ms).
  void Check();

 private:
  QTimer watch_;
  std::function<void()> onSignal_;
  bool fired_ = false;
};

}  // namespace raid
