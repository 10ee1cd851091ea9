// Device replies are untrusted: an identification sector and a sequence of
// status records, all taken from the fuzzer's bytes, go through detection,
// polling, event detection, the Status page and both report forms. Nothing
// may crash, and no log or mail line may hold a line break. Each record is
// also decoded on its own: its texts keep their field widths and hold no
// line break, and each drive's state is one of the bits it has set.
//
// Every input starts from a fresh core and an empty log folder, so one
// input's day file never feeds the next. The folder lies in memory
// (/dev/shm) where the machine has one, so the day-log saves touch no disk.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/common/page_selection.h"
#include "monitor/decoded_status.h"
#include "monitor/raid_core.h"
#include "tests/core/core_access.h"
#include "sim/instant_device.h"

namespace {

using namespace raid;
namespace fs = std::filesystem;

void CheckLines(const std::vector<std::string>& lines) {
  for (const auto& l : lines)
    if (l.find('\n') != std::string::npos || l.find('\r') != std::string::npos) std::abort();
}

// A private folder of this process, emptied before every input and
// removed when the fuzzer ends.
struct LogFolder {
  LogFolder() {
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    dir = base / ("raid-fuzz-records-" + std::to_string(::getpid()));
    text = dir.string() + "/";
  }
  ~LogFolder() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  const std::string& Fresh() {
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    return text;
  }
  fs::path dir;
  std::string text;
};

const std::string& FreshLogDir() {
  static LogFolder folder;
  return folder.Fresh();
}

void CheckText(const std::string& t, size_t width) {
  if (t.size() > width || t.find('\n') != std::string::npos || t.find('\r') != std::string::npos) std::abort();
}

void CheckDecoded(const Sector& record, const Sector& ident) {
  const DecodedStatus s = DecodeStatus(record, ReadFirmware(ident));
  for (const DecodedDrive& d : s.drives) {
    CheckText(d.model, 40);
    CheckText(d.modelText, 40);
    CheckText(d.serial, 20);
    const bool stateSet = d.state == DriveState::Absent     ? d.absent
                          : d.state == DriveState::Present  ? d.present && !d.absent
                          : d.state == DriveState::Failed   ? d.failed && !d.absent && !d.present
                          : d.state == DriveState::Inserted ? d.inserted && !d.absent && !d.present && !d.failed
                                                            : !(d.inserted || d.present || d.absent || d.failed);
    if (!stateSet) std::abort();
  }
  CheckText(s.memberModelText, 40);
  if (s.activity.Running() && s.activity.drive != 0 && s.activity.drive != 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::InstantDevice io;
  ManualClock clock;
  FixedDateTimeFormat fmt;
  SilentView view;
  PageSelection pages;
  RaidCore core(io, clock, fmt, view, FreshLogDir(), pages);
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
  core.OnDetectionTimer();
  do {
    CheckDecoded(io.status, io.ident);
    CoreTestAccess::Poller(core).PollStatus();
    CoreTestAccess::Page(core).RefreshStatusPage(true);
    for (uint8_t kind = 1; kind <= 4; ++kind) {
      CoreTestAccess::Report(core).BuildDeviceReport(kind, 0, kind & 1);
      CheckLines(core.Monitoring().MailEventText);
    }
    clock.Advance(4000);
    take(io.status);
  } while (at < size);
  CheckLines(core.Log().DayLog());
  return 0;
}
