#include "app/common/drive_health.h"

#include <algorithm>

#include "device/record_layout.h"
#include "monitor/raid_core.h"

namespace raid {

namespace {

EnclosureHealth Judge(const Sector& b, bool read, int slot) {
  EnclosureHealth h;
  h.name = "Device" + std::to_string(slot + 1);
  if (!read) {
    h.text = "waiting for status";
    return h;
  }
  std::string down;
  for (int x = 0; x < 2; ++x) {
    const uint8_t bits = static_cast<uint8_t>(b[status::kState] >> (4 * x));
    const char* name = x == 0 ? "HDD1" : "HDD2";
    if (bits & status::kAbsent)
      down += std::string(down.empty() ? "" : ", ") + name + " missing";
    else if (!(bits & status::kPresent) && (bits & status::kFailed))
      down += std::string(down.empty() ? "" : ", ") + name + " failed";
  }
  if (!down.empty()) {
    h.health = Health::Degraded;
    h.text = down;
    return h;
  }
  const uint8_t act = b[status::kActivity];
  if (act & (status::kActHdd1 | status::kActHdd2)) {
    h.health = Health::Busy;
    h.text = std::string((act & status::kActIsScan) ? "scanning " : "rebuilding ") +
             std::to_string(b[status::kProgress]) + "%";
    return h;
  }
  h.text = "Normal";
  return h;
}

}  // namespace

std::vector<EnclosureHealth> EnclosureHealthOf(const RaidCore& core) {
  std::vector<EnclosureHealth> out;
  const int n = std::clamp<int>(core.Devices().DeviceCount, 0, kMaxSlots);
  for (int s = 0; s < n; ++s) out.push_back(Judge(core.StatusRecordOf(s), core.StatusRecordRead(s), s));
  return out;
}

Health WorstHealth(const std::vector<EnclosureHealth>& list) {
  if (list.empty()) return Health::NoneFound;
  Health worst = Health::Healthy;
  for (const auto& e : list) worst = std::max(worst, e.health);
  return worst;
}

bool AnyDriveDown(const RaidCore& core) {
  const auto list = EnclosureHealthOf(core);
  return std::any_of(list.begin(), list.end(), [](const EnclosureHealth& e) { return e.health == Health::Degraded; });
}

}  // namespace raid
