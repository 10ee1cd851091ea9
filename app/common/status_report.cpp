#include "app/common/status_report.h"

#include <cstdio>

#include "device/device_state.h"
#include "device/record_layout.h"
#include "monitor/raid_core.h"
#include "monitor/status_record.h"
#include "platform/file_io.h"

namespace raid {

namespace {

std::string Trimmed(std::string s) {
  const auto end = s.find_last_not_of(' ');
  s.erase(end == std::string::npos ? 0 : end + 1);
  const auto begin = s.find_first_not_of(' ');
  return begin == std::string::npos ? std::string() : s.substr(begin);
}

struct DriveInfo {
  std::string name, state, model, serial;
  uint64_t sectors = 0;
};

DriveInfo Drive(const Sector& b, int x) {
  DriveInfo d;
  d.name = x == 0 ? "HDD1" : "HDD2";
  const uint8_t bits = static_cast<uint8_t>(b[status::kState] >> (4 * x));
  // The same order of tests as the Status page.
  d.state = (bits & status::kAbsent)     ? "absent"
            : (bits & status::kPresent)  ? "present"
            : (bits & status::kFailed)   ? "failed"
            : (bits & status::kInserted) ? "inserted"
                                         : "none";
  d.model = Trimmed(AtaText(b, x == 0 ? status::kHdd1Model : status::kHdd2Model, status::kModelLen));
  d.serial = Trimmed(AtaText(b, x == 0 ? status::kHdd1Serial : status::kHdd2Serial, status::kSerialLen));
  d.sectors = LoadLE(b, x == 0 ? status::kHdd1Capacity : status::kHdd2Capacity, status::kDriveCapacityLen);
  return d;
}

struct Activity {
  bool running = false;
  std::string kind;   // "rebuild" or "scan"
  std::string drive;  // rebuild: the drive copied to; scan: the drive scanned
  int progress = 0;
};

Activity ActivityOf(const Sector& b, bool scanCapable) {
  Activity a;
  const uint8_t bits = b[status::kActivity];
  if (!(bits & (status::kActHdd1 | status::kActHdd2))) return a;
  a.running = true;
  a.kind = scanCapable && (bits & status::kActIsScan) ? "scan" : "rebuild";
  a.drive = (bits & status::kActHdd1) ? "HDD1" : "HDD2";
  a.progress = b[status::kProgress];
  return a;
}

bool FanShown(const Sector& b, bool fanCapable) {
  const uint8_t env = b[status::kEnvironment];
  return fanCapable && (env >> 4) == 0xA && env != 0xAA;
}

std::string ArrayState(const Sector& b) {
  const uint8_t present = b[status::kState] & status::kBothPresent;
  return present == 0 ? "Failure" : present == status::kBothPresent ? "Normal" : "Single HDD Present";
}

}  // namespace

std::string TransportName(uint32_t f) {
  if (f & drive_flags::kVendor) return (f & drive_flags::kVendorShift) ? "vendor1" : "vendor2";
  if (f & drive_flags::kRead58) return "read58";
  return "ata";
}

std::string SlotName(int slot) { return "Device" + std::to_string(slot + 1); }

std::string ListHeader() {
  char b[160];
  std::snprintf(b, sizeof b, "%-5s %-8s %-6s %-10s %-40s %s", "SLOT", "NAME", "DRIVE", "TRANSPORT", "MODEL",
                "FIRMWARE");
  return b;
}

std::string ListLine(const EnclosureIdentity& e) {
  char b[200];
  std::snprintf(b, sizeof b, "%-5d %-8s PD%-4u %-10s %-40s %s", e.slot, SlotName(e.slot).c_str(),
                drive_flags::Drive(e.flags), TransportName(e.flags).c_str(),
                Trimmed(ModelText(e.ident, ident::kModel)).c_str(), ReadFirmware(e.ident).text.c_str());
  return b;
}

nlohmann::json StatusJson(const EnclosureIdentity& e, const Sector& b) {
  using nlohmann::json;
  const FirmwareInfo fw = ReadFirmware(e.ident);
  json j;
  j["slot"] = e.slot;
  j["name"] = SlotName(e.slot);
  j["drive"] = drive_flags::Drive(e.flags);
  j["transport"] = TransportName(e.flags);
  j["model"] = Trimmed(ModelText(e.ident, ident::kModel));
  j["firmware"] = fw.text + "." + ConfigCode(b);
  j["mode"] = ModeName(b[status::kMode]);
  const uint64_t sectors = Sectors40(b, status::kCapacity);
  j["capacitySectors"] = sectors;
  j["capacityGB"] = Gigabytes(sectors);
  j["state"] = ArrayState(b);
  j["drives"] = json::array();
  for (int x = 0; x < 2; ++x) {
    const DriveInfo d = Drive(b, x);
    j["drives"].push_back({{"name", d.name},
                           {"state", d.state},
                           {"model", d.model},
                           {"serial", d.serial},
                           {"capacitySectors", d.sectors},
                           {"capacityGB", Gigabytes(d.sectors)}});
  }
  const Activity a = ActivityOf(b, fw.scanCapable);
  j["activity"] = a.running ? json{{"kind", a.kind}, {"drive", a.drive}, {"progress", a.progress}} : json(nullptr);
  if (FanShown(b, fw.fanCapable)) {
    const uint8_t env = b[status::kEnvironment];
    j["fan"] = {{"rpm", LoadLE(b, status::kFanRpm, 2)}, {"alarm", (env & 0x01) != 0}};
    j["temperature"] = {{"celsius", b[status::kTemperature]}, {"alarm", (env & 0x04) != 0}};
  } else {
    j["fan"] = nullptr;
    j["temperature"] = nullptr;
  }
  return j;
}

std::string StatusText(const EnclosureIdentity& e, const Sector& b) {
  const FirmwareInfo fw = ReadFirmware(e.ident);
  std::string t = SlotName(e.slot) + " (slot " + std::to_string(e.slot) + ", PD" +
                  std::to_string(drive_flags::Drive(e.flags)) + ", " + TransportName(e.flags) + ")\n";
  t += "  model:       " + Trimmed(ModelText(e.ident, ident::kModel)) + "\n";
  t += "  firmware:    " + fw.text + "." + ConfigCode(b) + "\n";
  t += "  mode:        " + ModeName(b[status::kMode]) + ", " +
       std::to_string(Gigabytes(Sectors40(b, status::kCapacity))) + " GB, " + ArrayState(b) + "\n";
  for (int x = 0; x < 2; ++x) {
    const DriveInfo d = Drive(b, x);
    t += "  " + d.name + ":        " + d.state;
    if (d.state != "none") {
      t += ", " + (d.model.empty() ? std::string("(no model)") : d.model);
      if (!d.serial.empty()) t += ", serial " + d.serial;
      t += ", " + std::to_string(Gigabytes(d.sectors)) + " GB";
    }
    t += "\n";
  }
  const Activity a = ActivityOf(b, fw.scanCapable);
  if (a.running)
    t += "  activity:    " + std::string(a.kind == "scan" ? "scanning " : "rebuilding towards ") + a.drive + ", " +
         std::to_string(a.progress) + "%\n";
  else
    t += "  activity:    none\n";
  if (FanShown(b, fw.fanCapable)) {
    const uint8_t env = b[status::kEnvironment];
    t += "  fan:         " + std::to_string(LoadLE(b, status::kFanRpm, 2)) + " RPM" + ((env & 0x01) ? " (alarm)" : "") +
         "\n";
    t += "  temperature: " + std::to_string(b[status::kTemperature]) + " C" + ((env & 0x04) ? " (alarm)" : "") + "\n";
  }
  return t;
}

EnclosureIdentity IdentityOf(const RaidCore& core, int slot) {
  EnclosureIdentity e;
  e.slot = slot;
  e.flags = core.Devices().DeviceList[static_cast<size_t>(slot) % kMaxSlots];
  e.ident = core.IdentSectorOf(slot);
  return e;
}

nlohmann::json AcceptedStatusDocument(const RaidCore& core) {
  nlohmann::json all = {{"version", kStatusJsonVersion}, {"enclosures", nlohmann::json::array()}};
  for (int s = 0; s < core.Devices().DeviceCount; ++s) {
    // An enclosure just connected has no record yet: said, not judged from
    // an empty record.
    if (!core.StatusRecordRead(s))
      all["enclosures"].push_back({{"slot", s}, {"name", SlotName(s)}, {"error", "no status record read yet"}});
    else
      all["enclosures"].push_back(StatusJson(IdentityOf(core, s), core.StatusRecordOf(s)));
  }
  return all;
}

bool WriteStatusFile(const RaidCore& core, const std::string& path, std::string& error) {
  const std::string text =
      AcceptedStatusDocument(core).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  const FileResult r = ReplaceFile(path, text);
  if (!r.ok) error = r.error;
  return r.ok;
}

}  // namespace raid
