// Benchmarks of the poll path and of the day log save.
//   PollCycle: one poll cycle of two monitored enclosures through the whole
//     core (status read, acceptance, event detection, Status page model),
//     against a device that answers at once, so the time is the program's
//     own CPU time outside the device requests.
//   SaveDayLog: replacing a day file of 10,000 lines.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>

#include "device/record_layout.h"
#include "monitor/day_log_file.h"
#include "monitor/raid_core.h"
#include "sim/scenario.h"

namespace raid {
namespace {

// Two block-command enclosures on drives 0 and 1 that answer instantly.
class InstantDevice final : public DeviceIo {
 public:
  InstantDevice() {
    sim::ScenarioSpec sc = sim::DefaultScenario();
    ident_ = sc.enclosures[0].ident;
    status_ = sc.enclosures[0].status;
  }
  DeviceHandleValue Open(DeviceId id) override { return id < 2 ? id + 1 : kInvalidHandle; }
  void Close(DeviceHandleValue) override {}
  bool Scsi(DeviceHandleValue h, ScsiRequest& r) override {
    if (r.cdb[0] != 0x28 || !r.data) return false;
    const uint32_t lba = static_cast<uint32_t>(LoadBE(std::span<const uint8_t>(r.cdb.data(), 16), 2, 4));
    std::memcpy(r.data, lba == 58 ? ident_.data() : status_.data(), 512);
    r.data[0] = static_cast<uint8_t>(h);  // two distinct enclosures
    r.transferred = r.transferLength;
    return true;
  }
  bool Ata(DeviceHandleValue, AtaRegisters&, uint8_t*, uint32_t) override { return false; }
  bool RescanBus(DeviceHandleValue) override { return true; }
  bool DiskExtents(DeviceHandleValue, ExtentsReply&) override { return false; }
  uint32_t LogicalDriveMask() override { return 0; }
  unsigned DriveTypeOf(char) override { return kDriveNoRootDir; }

 private:
  Sector ident_{}, status_{};
};

class QuietView final : public CoreView {
 public:
  void SetPanelText(int, const std::string&) override {}
  BoxResult ShowMessage(const MessageBoxRequest&) override { return BoxResult::Ok; }
};

void PollCycle(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-bench-poll";
  std::filesystem::create_directories(dir);
  InstantDevice io;
  ManualClock clock;
  FixedDateTimeFormat fmt;
  QuietView view;
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
