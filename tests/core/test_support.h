// Shared helpers of the core tests: a recording user interface that answers
// message boxes at once, and a simulated machine on a manual clock.
#pragma once

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/user_interface.h"
#include "sim/scenario.h"
#include "sim/sim_device_io.h"

namespace raid::test {

class RecordingUi : public UserInterface {
 public:
  void SetPanelText(StatusBarPanel panel, const std::string& text) override {
    panels[panel] = text;
    panelLog.push_back(std::to_string(panel) + ":" + text);
  }
  BoxResult ShowMessage(const MessageBoxRequest& box) override {
    boxes.push_back(box);
    return answer;
  }
  std::string panels[5];
  std::vector<std::string> panelLog;
  std::vector<MessageBoxRequest> boxes;
  BoxResult answer = BoxResult::Ok;
};

// A simulated machine with its trace captured.
struct SimMachine {
  explicit SimMachine(const sim::ScenarioSpec& sc = sim::DefaultScenario(),
                      LocalDateTime start = {2010, 5, 3, 9, 0, 0, 0})
      : clock(start), io(clock, sc) {
    io.SetTrace(&trace);
  }
  std::vector<std::string> TraceLines() {
    std::vector<std::string> out;
    std::istringstream in(trace.str());
    for (std::string l; std::getline(in, l);) {
      // Drop the time stamp: tests compare what was sent.
      out.push_back(l.substr(l.find(' ') + 1));
    }
    return out;
  }
  void ClearTrace() { trace.str(""); }
  ManualClock clock;
  sim::SimDeviceIo io;
  std::ostringstream trace;
};

// A scenario from JSON text; the test fails on a parse error.
// A scenario the test relies on: a mistake in it fails the test with its text.
inline sim::ScenarioSpec Must(Expected<sim::ScenarioSpec> sc) {
  if (!sc) throw std::runtime_error(sc.error());
  return std::move(*sc);
}
inline sim::ScenarioSpec Scenario(const std::string& json) { return Must(sim::ParseScenario(json)); }

}  // namespace raid::test
