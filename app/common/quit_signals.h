// SIGINT and SIGTERM end the program the same way closing it does: the
// handler only sets a flag, which a timer on the main thread turns into the
// given action.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace raid {

class QuitOnSignals : public QObject {
 public:
  explicit QuitOnSignals(std::function<void()> onSignal, QObject* parent = nullptr);

 private:
  QTimer watch_;
  std::function<void()> onSignal_;
  bool fired_ = false;
};

}  // namespace raid
