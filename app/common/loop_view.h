// The front end's event loop as the core's threads reach it, and the view
// that delivers the core's calls on the main thread whichever thread makes
// them. Plain C++: the window's and raidmon's loops implement LoopHost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "monitor/core_view.h"
#include "platform/user_interface.h"

namespace raid {

// The front end's event loop, as the runtime uses it.
class LoopHost : public MainThreadInvoker {
 public:
  virtual bool OnMainThread() const = 0;
  // Runs fn on the main thread soon; any thread may call it.
  virtual void Post(std::function<void()> fn) = 0;
  // Main thread: calls Runtime::Step once after this many real
  // milliseconds (0: as soon as possible), replacing an earlier request.
  virtual void WakeIn(int64_t realMs) = 0;
  // The program is ending: RunAndWait from now on runs nothing and returns
  // false, so a worker thread waiting for the main thread is let go.
  virtual void SetClosing() = 0;
};

// Forwards to the front end's view. A call from another thread (the device
// thread running a poll's failure text or a long operation) is delivered on
// the main thread: status-bar texts and notices without waiting, everything
// else waiting for the main thread, so a page model the caller changed is
// read there only while the caller waits.
class LoopView final : public CoreView {
 public:
  LoopView(CoreView& inner, LoopHost& host) : inner_(inner), host_(host) {}
  void SetPanelText(StatusBarPanel panel, const std::string& text) override;
  BoxResult ShowMessage(const MessageBoxRequest& box) override;
  void ShowNotice(const MessageBoxRequest& box) override;
  void ProcessMessages() override;
  void DetectTextChanged(const std::string& t, bool v) override {
    OnMain([&] { inner_.DetectTextChanged(t, v); });
  }
  void NavigationEnabledChanged(bool e) override {
    OnMain([&] { inner_.NavigationEnabledChanged(e); });
  }
  void UpgradeButtonEnabledChanged(bool e) override {
    OnMain([&] { inner_.UpgradeButtonEnabledChanged(e); });
  }
  void SlotControlsChanged(int s, bool v, bool c) override {
    OnMain([&] { inner_.SlotControlsChanged(s, v, c); });
  }
  void LogButtonVisibleChanged(bool v) override {
    OnMain([&] { inner_.LogButtonVisibleChanged(v); });
  }
  void IdentityChanged() override {
    OnMain([&] { inner_.IdentityChanged(); });
  }
  void StatusPageChanged() override {
    OnMain([&] { inner_.StatusPageChanged(); });
  }
  void LogLineAppended(const std::string& l) override {
    OnMain([&] { inner_.LogLineAppended(l); });
  }
  void DayLogEntryAppended(const DayLogEntry& e) override {
    OnMain([&] { inner_.DayLogEntryAppended(e); });
  }
  void NavigationChanged() override {
    OnMain([&] { inner_.NavigationChanged(); });
  }
  void ProgressChanged(ProgressBar b, uint32_t v) override {
    OnMain([&] { inner_.ProgressChanged(b, v); });
  }
  void OptionControlsChanged() override {
    OnMain([&] { inner_.OptionControlsChanged(); });
  }
  void UpgradePageChanged() override {
    OnMain([&] { inner_.UpgradePageChanged(); });
  }
  void SetupPageChanged() override {
    OnMain([&] { inner_.SetupPageChanged(); });
  }
  std::string PanelText(StatusBarPanel panel) const override {
    std::string text;
    OnMain([&] { text = inner_.PanelText(panel); });
    return text;
  }

 private:
  void OnMain(const std::function<void()>& fn) const {
    if (host_.OnMainThread())
      fn();
    else
      host_.RunAndWait(fn);
  }

  CoreView& inner_;
  LoopHost& host_;
};

}  // namespace raid
