// Scenario files are user input: any bytes give a scenario or an error
// text, never a crash, a hang or an exception. A scenario that
// parses is then run: every drive is opened and read, and the whole timeline
// is played out, so every value the parser let through is used.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "device/requests.h"
#include "sim/scenario.h"
#include "sim/sim_device_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace raid;
  Expected<sim::ScenarioSpec> parsed = sim::ParseScenario(std::string(reinterpret_cast<const char*>(data), size));
  if (!parsed) {
    if (parsed.error().empty()) std::abort();
    return 0;
  }
  const sim::ScenarioSpec sc = std::move(*parsed);
  ManualClock clock;
  sim::SimDeviceIo io(clock, sc);
  auto readAll = [&] {
    for (DeviceId d = 0; d < 10; ++d) {
      const Expected<DeviceHandleValue> opened = io.Open(d);
      if (!opened) continue;
      const DeviceHandleValue h = *opened;
      Sector s{};
      for (uint32_t lba : {58u, 33u}) {
        ScsiRequest r = MakeRead10(lba, 1, s.data());
        (void)io.Scsi(h, r);
      }
      uint8_t inquiry[36] = {};
      ScsiRequest q = MakeInquiry(inquiry);
      (void)io.Scsi(h, q);
      io.Close(h);
    }
    for (char letter = 'A'; letter <= 'Z'; ++letter) io.DriveTypeOf(letter);
  };
  readAll();
  // To the last event in a few jumps; the timeline is at most ten years long.
  for (int i = 0; i < 4; ++i) {
    clock.Advance(static_cast<int64_t>(sim::kMaxScenarioSeconds * 1000 / 4) + 1);
    io.Pump();
    readAll();
  }
  return 0;
}
