// Device replies are untrusted: an identification sector and a sequence of
// status records, all taken from the fuzzer's bytes, go through detection,
// polling, event detection, the Status page and both report forms. Nothing
// may crash, and no log or mail line may hold a line break.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "monitor/raid_core.h"
#include "sim/instant_device.h"

namespace {

using namespace raid;

void CheckLines(const std::vector<std::string>& lines) {
  for (const auto& l : lines)
    if (l.find('\n') != std::string::npos || l.find('\r') != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    auto d = std::filesystem::temp_directory_path() / "raid-fuzz-records";
    std::filesystem::create_directories(d);
    return d.string();
  }();
  sim::InstantDevice io;
  ManualClock clock;
  FixedDateTimeFormat fmt;
  SilentView view;
  RaidCore core(io, clock, fmt, view, dir);
  size_t at = 0;
  auto take = [&](Sector& s) {
    const size_t n = size - at < 512 ? size - at : 512;
    std::memcpy(s.data(), data + at, n);
    at += n;
  };
  take(io.ident);
  io.ident[258] = '3';  // always identified, so the records are used
  io.ident[259] = 'X';
  take(io.status);
  core.Start();
  core.DetectionStep();
  core.Timer4Timer();
  do {
    core.poller.PollStatus();
    core.page.RefreshStatusPage(true);
    for (uint8_t kind = 1; kind <= 4; ++kind) {
      core.report.BuildDeviceReport(kind, 0, kind & 1);
      CheckLines(core.ms.MailEventText);
    }
    clock.Advance(4000);
    take(io.status);
  } while (at < size);
  CheckLines(core.log.DayLog);
  return 0;
}
