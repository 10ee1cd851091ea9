// The runtime with real worker threads, as on real devices: detection on
// its own thread, status requests through blocking calls on the main
// thread, and a clean stop while calls may be waiting.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>

#include "app/common/core_runtime.h"
#include "monitor/day_log_file.h"
#include "sim/sim_device_io.h"

namespace raid {
namespace {

class CountingView final : public CoreView {
 public:
  void SetPanelText(StatusBarPanel panel, const std::string& text) override {
    if (panel == 1) panel1 = text;
  }
  BoxResult ShowMessage(const MessageBoxRequest&) override { return BoxResult::Ok; }
  void LogLineAppended(const std::string&) override { ++lines; }
  std::string panel1;
  int lines = 0;
};

TEST(WorkerThreads, DetectPollLogAndStopCleanly) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-threads-test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  Machine m;
  m.clock = std::make_unique<ScaledClock>(LocalDateTime{2010, 5, 3, 9, 0, 0, 0}, 40.0);
  m.speed = 40.0;  // the runtime plans its wake-ups by it
  auto io = std::make_unique<sim::SimDeviceIo>(*m.clock, sim::DefaultScenario());
  m.changes = io.get();
  m.io = std::move(io);  // sim left unset: the runtime treats it as real devices
  CountingView view;
  {
    CoreRuntime rt(m, view, dir.string());
    rt.Start();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000 && rt.Core().Monitoring().PollSkip[0] == 0 && rt.ProgramMs() < 20000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(view.panel1, "Detected OK");
    EXPECT_EQ(rt.Core().Devices().DeviceCount, 1);
    EXPECT_EQ(rt.Core().Devices().FirstFill, 0);  // the first poll ran on the main thread
    EXPECT_GE(view.lines, 15);
    rt.Stop();
  }
  EXPECT_TRUE(FileExists((dir / "100503.log").string()));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace raid
