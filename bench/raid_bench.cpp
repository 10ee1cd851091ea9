// Benchmarks of the poll path and of the day log save.
//   PollCycle: one poll cycle of two monitored enclosures through the whole
//     core (status read, acceptance, event detection, Status page model),
//     against a device that answers at once, so the time is the program's
//     own CPU time outside the device requests.
//   SaveDayLog: replacing a day file of 10,000 lines.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "device/record_layout.h"
#include "monitor/day_log_file.h"
#include "monitor/raid_core.h"
#include "sim/instant_device.h"
#include "sim/scenario.h"

namespace raid {
namespace {

void PollCycle(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-bench-poll";
  std::filesystem::create_directories(dir);
  sim::InstantDevice io(2);  // two enclosures that answer at once
  const sim::ScenarioSpec sc = sim::DefaultScenario();
  io.ident = sc.enclosures[0].ident;
  io.status = sc.enclosures[0].status;
  ManualClock clock;
  FixedDateTimeFormat fmt;
  SilentView view;
  RaidCore core(io, clock, fmt, view, dir.string());
  core.Start();
  core.DetectionStep();
  core.Timer4Timer();  // publish: two enclosures
  core.poller.PollStatus();  // first pass: banner and full report
  for (auto _ : state) {
    core.poller.PollStatus();
    clock.Advance(4000);
  }
  state.counters["enclosures"] = core.st.DeviceCount;
  std::filesystem::remove_all(dir);
}
BENCHMARK(PollCycle)->Unit(benchmark::kMicrosecond);

void SaveDayLog(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-bench-save";
  std::filesystem::create_directories(dir);
  std::vector<std::string> lines;
  for (int i = 0; i < 10000; ++i)
    lines.push_back("D1 HDD1 --> HDD2 " + std::to_string(i % 100) + "%, 2010/05/03 9:" + std::to_string(i % 60));
  const std::string path = (dir / "100503.log").string();
  for (auto _ : state) {
    if (!WriteTextLinesAtomic(path, lines).ok) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(std::filesystem::file_size(path)));
  std::filesystem::remove_all(dir);
}
BENCHMARK(SaveDayLog)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace raid

BENCHMARK_MAIN();
