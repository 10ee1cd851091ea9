#include "app/common/drive_health.h"

#include <algorithm>

#include "monitor/raid_core.h"

namespace raid {

EnclosureHealth HealthOf(const DecodedStatus& s, int slot) {
  EnclosureHealth h;
  h.name = "Device" + std::to_string(slot + 1);
  std::string down;
  for (int x = 0; x < 2; ++x) {
    const DriveState state = s.drives[static_cast<size_t>(x)].state;
    if (state == DriveState::Absent)
      down += std::string(down.empty() ? "" : ", ") + DriveName(x) + " missing";
    else if (state == DriveState::Failed)
      down += std::string(down.empty() ? "" : ", ") + DriveName(x) + " failed";
  }
  if (!down.empty()) {
    h.health = Health::Degraded;
    h.text = down;
    return h;
  }
  if (s.activity.Running()) {
    h.health = Health::Busy;
    h.text = std::string(s.activity.kind == ActivityKind::Scan ? "scanning " : "rebuilding ") +
             std::to_string(s.activity.progress) + "%";
    return h;
  }
  h.text = "Normal";
  return h;
}

std::vector<EnclosureHealth> EnclosureHealthOf(const RaidCore& core) {
  std::vector<EnclosureHealth> out;
  const int n = std::clamp<int>(core.Devices().DeviceCount, 0, kMaxSlots);
  for (int s = 0; s < n; ++s) {
    if (core.StatusRecordRead(s)) {
      out.push_back(HealthOf(DecodeStatus(core.StatusRecordOf(s), ReadFirmware(core.IdentSectorOf(s))), s));
    } else {
      out.push_back({"Device" + std::to_string(s + 1), Health::Healthy, "waiting for status"});
    }
  }
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
