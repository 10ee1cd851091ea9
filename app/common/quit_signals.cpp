#include "app/common/quit_signals.h"

#include <atomic>
#include <csignal>

namespace raid {

namespace {
std::atomic<bool> g_signalled{false};
extern "C" void OnQuitSignal(int) { g_signalled = true; }
}  // namespace

QuitOnSignals::QuitOnSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
  std::signal(SIGINT, OnQuitSignal);
  std::signal(SIGTERM, OnQuitSignal);
  connect(&watch_, &QTimer::timeout, this, [this] {
    if (g_signalled && !fired_) {
      fired_ = true;
      onSignal_();
    }
  });
  watch_.start(50);
}

}  // namespace raid
