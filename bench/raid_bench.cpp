// Benchmarks of the poll path and of the day log save.
//   PollCycle: one poll cycle of two monitored enclosures through the whole
//     core (status read, acceptance, event detection, Status page model),
//     against a device that answers at once, so the time is the program's
//     own CPU time outside the device requests.
//   SaveDayLog: replacing a day file of 10,000 lines.
//   FirmwareUpgrade: the whole upgrade (update mode, record, 128 erases,
//     2,048 page programs, 1,024 reads and compare) against a block-command
//     flash that answers at once: the program's own CPU time.
//   FirmwareUpgradeModelled: the same on the simulator with modelled device
//     times; reports the CPU time as a share of the modelled device time
//     (an upper bound: the simulator's own work is included).
//   ServiceStatusAnswer: the monitor service answering one status request
//     (two enclosures, their text and status document) without the socket:
//     the service's own CPU time per request (goal: at most 1 ms).
#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <random>

#include "device/record_layout.h"
#include "device/requests.h"
#include "maintenance/firmware_upgrade.h"
#include "app/common/page_selection.h"
#include "monitor/day_log_file.h"
#include "monitor/raid_core.h"
#include "service/monitor_service.h"
#include "sim/instant_device.h"
#include "sim/scenario.h"
#include "sim/sim_device_io.h"

namespace raid {
namespace {

// The enclosure of the default scenario, on every drive of `io`.
void ShowDefaultEnclosure(sim::InstantDevice& io) {
  const sim::ScenarioSpec sc = sim::DefaultScenario();
  io.ident = sc.enclosures[0].ident;
  io.status = sc.enclosures[0].status;
}

// A started core on `io` whose first detection has been published.
struct StartedCore {
  StartedCore(DeviceIo& io, Clock& clock, const std::filesystem::path& dir)
      : core(io, clock, fmt, view, dir.string(), pages) {
    core.Start();
    core.DetectionStep();
    core.OnDetectionTimer();
  }
  FixedDateTimeFormat fmt;
  SilentView view;
  PageSelection pages;
  RaidCore core;
};

void PollCycle(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-bench-poll";
  std::filesystem::create_directories(dir);
  sim::InstantDevice io(2);  // two enclosures that answer at once
  ShowDefaultEnclosure(io);
  ManualClock clock;
  StartedCore started(io, clock, dir);  // published: two enclosures
  RaidCore& core = started.core;
  core.ServeStatusRequest();  // first pass: banner and full report
  for (auto _ : state) {
    core.OnPollTimer();  // Timer2: a poll is due
    core.ServeStatusRequest();
    clock.Advance(4000);
  }
  state.counters["enclosures"] = core.Devices().DeviceCount;
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
    if (!WriteTextLinesAtomic(path, lines).ok()) state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
  std::filesystem::remove_all(dir);
}
BENCHMARK(SaveDayLog)->Unit(benchmark::kMillisecond);

// A block-command enclosure whose flash answers at once; its identification
// and status read as on the instant device.
class InstantFlash final : public sim::InstantDevice {
 public:
  std::vector<uint8_t> flash = std::vector<uint8_t>(kFlashImageLength, 0xFF);
  uint64_t requests = 0;

  Outcome Scsi(DeviceHandleValue h, ScsiRequest& r) override {
    ++requests;
    if (!r.data || r.transferLength != 512) return Outcome::Fail("not understood");
    if (r.cdb[0] == 0x28) {
      const auto lba = static_cast<uint32_t>(LoadBE(std::span<const uint8_t>(r.cdb.data(), 16), 2, 4));
      if (lba != cmd::kSpiReplyLba) return InstantDevice::Scsi(h, r);
      std::memcpy(r.data, flash.data() + readAddr_, 512);
      r.transferred = 512;
      return Outcome::Ok();
    }
    if (r.cdb[0] != 0x2A || r.data[0] != cmd::kSignature0) return Outcome::Fail("not understood");
    const uint32_t a = static_cast<uint32_t>(r.data[4] << 16 | r.data[5] << 8 | r.data[6]) % kFlashImageLength;
    switch (r.data[cmd::kCode]) {
      case cmd::kSpiRead: readAddr_ = a & ~511u; break;
      case cmd::kSpiErase: std::memset(flash.data() + (a & ~4095u), 0xFF, 4096); break;
      case cmd::kSpiWrite:
        for (uint32_t i = 0; i < 256; ++i) flash[(a & ~255u) + i] &= r.data[cmd::kPayload + i];
        break;
      default: break;
    }
    return Outcome::Ok();
  }

 private:
  uint32_t readAddr_ = 0;
};

std::vector<uint8_t> BenchImage() {
  std::vector<uint8_t> b(kFlashImageLength);
  std::mt19937 rng(1);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  std::memcpy(b.data(), "FIPS", 4);
  b[kImageConfigVersionOffset] = kImageConfigVersion;
  return b;
}

void FirmwareUpgradeInstant(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-bench-upgrade";
  std::filesystem::create_directories(dir);
  InstantFlash io;
  ShowDefaultEnclosure(io);
  ManualClock clock;
  StartedCore started(io, clock, dir);
  FirmwareUpgrade up(started.core, started.view);
  MemoryImageReader reader(BenchImage());
  up.LoadImageFile("fw.bin", reader);
  uint64_t requests = 0;
  for (auto _ : state) {
    const uint64_t before = io.requests;
    if (up.UpgradeClick() != UpgradeOutcome::Succeeded) state.SkipWithError("upgrade failed");
    requests = io.requests - before;
  }
  state.counters["requests"] = static_cast<double>(requests);
  std::filesystem::remove_all(dir);
}
BENCHMARK(FirmwareUpgradeInstant)->Unit(benchmark::kMillisecond);

void FirmwareUpgradeModelled(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-bench-upgrade-sim";
  std::filesystem::create_directories(dir);
  sim::ScenarioSpec sc = sim::DefaultScenario();
  sc.timing = {1, 0, 1, 45};  // round trip, block read, page program, sector erase (ms)
  ManualClock clock;
  sim::SimDeviceIo io(clock, sc);
  StartedCore started(io, clock, dir);
  FirmwareUpgrade up(started.core, started.view);
  MemoryImageReader reader(BenchImage());
  up.LoadImageFile("fw.bin", reader);
  double cpuMs = 0, deviceMs = 0;
  for (auto _ : state) {
    const int64_t t0 = clock.MonotonicMs();
    const std::clock_t c0 = std::clock();
    if (up.UpgradeClick() != UpgradeOutcome::Succeeded) state.SkipWithError("upgrade failed");
    cpuMs += 1000.0 * static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    deviceMs += static_cast<double>(clock.MonotonicMs() - t0);
  }
  state.counters["deviceMs"] = benchmark::Counter(deviceMs, benchmark::Counter::kAvgIterations);
  state.counters["cpuPercentOfDevice"] = deviceMs > 0 ? 100.0 * cpuMs / deviceMs : 0;
  std::filesystem::remove_all(dir);
}
BENCHMARK(FirmwareUpgradeModelled)->Unit(benchmark::kMillisecond);

void ServiceStatusAnswer(benchmark::State& state) {
  MonitorService service("RAID GUI");
  nlohmann::json enclosure = {{"slot", 0},
                              {"name", "Device1"},
                              {"model", "Two-bay RAID"},
                              {"firmware", "100607.1.A12"},
                              {"mode", "Mirroring(RAID1)"},
                              {"drives", nlohmann::json::array({{{"state", "present"}}, {{"state", "present"}}})}};
  nlohmann::json document = {{"version", 1}, {"enclosures", {enclosure, enclosure}}};
  ServiceSnapshot snap;
  snap.list = {{"exit", 0}, {"text", std::string(200, 'x')}};
  snap.status = {{"exit", 0}, {"text", std::string(900, 'x')}, {"document", document}};
  service.Publish(snap);
  service.Answer(1, R"({"op":"hello","protocol":1})");
  for (auto _ : state) benchmark::DoNotOptimize(service.Answer(1, R"({"op":"status","id":2})"));
}
BENCHMARK(ServiceStatusAnswer)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace raid

BENCHMARK_MAIN();
