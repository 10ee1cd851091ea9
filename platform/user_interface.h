// What the program's logic shows the user leaves through this interface:
// status-bar panel texts, message boxes and a "let the window breathe"
// hook. Each front end implements it; tests implement it with a recorder, so
// no test ever blocks on a modal box.
#pragma once

#include <functional>
#include <string>

namespace raid {

enum class BoxIcon { None, Information, Warning, Error, Question };
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxResult { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
  std::string text;
  std::string caption;  // empty: the application's title
  BoxIcon icon = BoxIcon::None;
  BoxButtons buttons = BoxButtons::Ok;
};

// The five panels of the main window's status bar, numbered from 0.
enum StatusBarPanel : int {
  kChecksumPanel = 0,   // the loaded firmware file's byte sum
  kDetectionPanel = 1,  // "Detecting D<k>", "Detected OK"
  kProbePanel = 2,      // the identification method tried; the mail request flags
  kMailPanel = 3,       // the state of a mail being sent
  kMessagePanel = 4,    // the messages of device operations and the log
};
constexpr int kStatusBarPanels = 5;
inline bool IsStatusBarPanel(int panel) { return panel >= 0 && panel < kStatusBarPanels; }

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  virtual void SetPanelText(StatusBarPanel panel, const std::string& text) = 0;
  virtual BoxResult ShowMessage(const MessageBoxRequest& box) = 0;
  // A box that only informs (OK alone) and is raised while monitoring: a
  // window shows it without waiting for it, so monitoring goes on while
  // nobody answers, and never opens a second copy of one still open.
  virtual void ShowNotice(const MessageBoxRequest& box) { ShowMessage(box); }
  // Lets pending window messages be handled during long loops; a no-op
  // where there are none.
  virtual void ProcessMessages() {}
};

// Runs a callback on the main thread and waits for it. Worker threads use it
// for every request they make of the main thread's state.
class MainThreadInvoker {
 public:
  virtual ~MainThreadInvoker() = default;
  // Returns false when the call could not run (the program is shutting down).
  virtual bool RunAndWait(const std::function<void()>& fn) = 0;
};

// Runs the callback on the calling thread: for tests and single-threaded use.
class DirectInvoker final : public MainThreadInvoker {
 public:
  bool RunAndWait(const std::function<void()>& fn) override {
    fn();
    return true;
  }
};

// The one DirectInvoker of the program: for calls that run where they are
// made.
inline MainThreadInvoker& DirectCalls() {
  static DirectInvoker direct;
  return direct;
}

}  // namespace raid
