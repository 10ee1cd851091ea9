// A whole core on a simulated machine, run by the scheduler on a manual
// clock: what a front end does, minus the window.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "app/common/page_selection.h"
#include "monitor/day_log_file.h"
#include "monitor/raid_core.h"
#include "monitor/scheduler.h"
#include "test_support.h"

namespace raid::test {

class HarnessView : public CoreView {
 public:
  void SetPanelText(StatusBarPanel panel, const std::string& text) override { panels[panel] = text; }
  BoxResult ShowMessage(const MessageBoxRequest& box) override {
    boxes.push_back(box);
    if (whileBoxOpen) whileBoxOpen();
    return box.buttons == BoxButtons::YesNo ? yesNoAnswer : BoxResult::Ok;
  }
  // The answer to Yes/No questions.
  BoxResult yesNoAnswer = BoxResult::Ok;
  // Runs when a long loop lets the window breathe.
  void ProcessMessages() override {
    if (pump) pump();
  }
  std::function<void()> pump;
  // Runs while a box is "open" (a modal box's event loop).
  std::function<void()> whileBoxOpen;
  void LogLineAppended(const std::string& line) override { appended.push_back(line); }
  void NavigationEnabledChanged(bool enabled) override { navigation = enabled; }
  void SlotControlsChanged(int slot, bool visible, bool) override { slotVisible[slot] = visible; }
  std::string panels[5];
  std::vector<MessageBoxRequest> boxes;
  std::vector<std::string> appended;
  bool navigation = false;
  bool slotVisible[2] = {false, false};
};

inline std::filesystem::path TestDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  auto dir =
      std::filesystem::temp_directory_path() / ("raid-" + std::string(info->test_suite_name()) + "-" + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

struct Harness {
  explicit Harness(const std::string& json, LocalDateTime start = {2010, 5, 3, 9, 0, 0, 0})
      : dir(TestDir()),
        m(Scenario(json), start),
        core(m.io, m.clock, fmt, view, dir.string(), pages),
        sched(core, m.clock, &m.clock, true, [this] { m.io.Pump(); }) {
    m.io.Start([this] { core.OnDeviceChange(); });
    core.Start();
  }
  ~Harness() { std::filesystem::remove_all(dir); }
  void RunFor(int64_t ms) { sched.RunUntil(m.clock.MonotonicMs() + ms); }
  // One 500 ms tick of Timer4 by hand, with the detection thread's step run
  // first (for tests that drive detection without the scheduler).
  void Tick() {
    m.clock.Advance(500);
    core.DetectionStep();
    core.OnDetectionTimer();
  }
  sim::Enclosure& Enc(const std::string& name = "E1") { return *m.io.FindEnclosure(name); }
  // Changes the enclosure's record as its controller would.
  void Set(size_t offset, uint8_t value, const std::string& name = "E1") {
    Enc(name).Status()[offset] = value;
    Enc(name).LogStatus();
  }
  std::vector<std::string> DayFile(const LocalDateTime& day = {2010, 5, 3}) {
    std::vector<std::string> lines;
    (void)ReadTextLines(core.Log().LogPath(day), lines);
    return lines;
  }
  // The lines appended since the start banner and full report.
  std::vector<std::string> Events() {
    auto lines = DayFile();
    auto it = std::find(lines.begin() + 1, lines.end(), EventLog::DashLine());
    return it == lines.end() ? lines : std::vector<std::string>(it + 1, lines.end());
  }
  std::filesystem::path dir;
  SimMachine m;
  FixedDateTimeFormat fmt;
  HarnessView view;
  PageSelection pages;
  RaidCore core;
  CoreScheduler sched;
};

inline const char* kOneEnclosure = R"({"enclosures":[{"name":"E1"}],"disks":[{"drive":0,"enclosure":"E1"}],
  "volumes":[{"letter":"E","drive":0,"length":1000}]})";

}  // namespace raid::test
