#include "app/common/status_report.h"

#include <cstdio>

#include "device/device_state.h"
#include "device/record_layout.h"
#include "monitor/decoded_status.h"
#include "monitor/raid_core.h"
#include "monitor/status_record.h"
#include "platform/base64.h"
#include "platform/file_io.h"

namespace raid {

namespace {

std::string Trimmed(std::string s) {
  const auto end = s.find_last_not_of(' ');
  s.erase(end == std::string::npos ? 0 : end + 1);
  const auto begin = s.find_first_not_of(' ');
  return begin == std::string::npos ? std::string() : s.substr(begin);
}

const char* ActivityKindName(ActivityKind k) { return k == ActivityKind::Scan ? "scan" : "rebuild"; }

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

nlohmann::json StatusJson(const EnclosureIdentity& e, const Sector& record) {
  using nlohmann::json;
  const DecodedStatus s = DecodeStatus(record, ReadFirmware(e.ident));
  json j;
  j["slot"] = e.slot;
  j["name"] = SlotName(e.slot);
  j["drive"] = drive_flags::Drive(e.flags);
  j["transport"] = TransportName(e.flags);
  j["model"] = Trimmed(ModelText(e.ident, ident::kModel));
  j["firmware"] = s.firmware;
  j["mode"] = s.mode;
  j["capacitySectors"] = s.capacitySectors;
  j["capacityGB"] = Gigabytes(s.capacitySectors);
  j["state"] = ArrayStateName(s.array);
  j["drives"] = json::array();
  for (int x = 0; x < 2; ++x) {
    const DecodedDrive& d = s.drives[static_cast<size_t>(x)];
    j["drives"].push_back({{"name", DriveName(x)},
                           {"state", DriveStateName(d.state)},
                           {"model", Trimmed(d.model)},
                           {"serial", Trimmed(d.serial)},
                           {"capacitySectors", d.fieldSectors},
                           {"capacityGB", Gigabytes(d.fieldSectors)}});
  }
  const DecodedActivity& a = s.activity;
  j["activity"] = a.Running() ? json{{"kind", ActivityKindName(a.kind)},
                                     {"drive", DriveName(a.drive)},
                                     {"progress", a.ProgressKnown() ? json(a.progress) : json(nullptr)}}
                              : json(nullptr);
  if (s.environment.shown) {
    j["fan"] = {{"rpm", s.environment.fanRpm}, {"alarm", s.environment.fanAlarm}};
    j["temperature"] = {{"celsius", s.environment.celsius}, {"alarm", s.environment.temperatureAlarm}};
  } else {
    j["fan"] = nullptr;
    j["temperature"] = nullptr;
  }
  // The switches the Setup page shows (what a client sends back with a
  // schedule command when it changes the buzzer or auto scan).
  j["options"] = {{"buzzer", s.buzzerSounds},
                  {"autoScan", s.autoScan},
                  {"schedule", s.scheduleOn},
                  {"schedulePeriodMinutes", s.schedulePeriod}};
  return j;
}

std::string StatusText(const EnclosureIdentity& e, const Sector& record) {
  const DecodedStatus s = DecodeStatus(record, ReadFirmware(e.ident));
  std::string t = SlotName(e.slot) + " (slot " + std::to_string(e.slot) + ", PD" +
                  std::to_string(drive_flags::Drive(e.flags)) + ", " + TransportName(e.flags) + ")\n";
  t += "  model:       " + Trimmed(ModelText(e.ident, ident::kModel)) + "\n";
  t += "  firmware:    " + s.firmware + "\n";
  t += "  mode:        " + s.mode + ", " + std::to_string(Gigabytes(s.capacitySectors)) + " GB, " +
       ArrayStateName(s.array) + "\n";
  for (int x = 0; x < 2; ++x) {
    const DecodedDrive& d = s.drives[static_cast<size_t>(x)];
    t += "  " + std::string(DriveName(x)) + ":        " + DriveStateName(d.state);
    if (d.state != DriveState::None) {
      const std::string model = Trimmed(d.model), serial = Trimmed(d.serial);
      t += ", " + (model.empty() ? std::string("(no model)") : model);
      if (!serial.empty()) t += ", serial " + serial;
      t += ", " + std::to_string(Gigabytes(d.fieldSectors)) + " GB";
    }
    t += "\n";
  }
  const DecodedActivity& a = s.activity;
  if (a.Running())
    t += "  activity:    " + std::string(a.kind == ActivityKind::Scan ? "scanning " : "rebuilding towards ") +
         DriveName(a.drive) + ", " + std::to_string(a.progress) + "%\n";
  else
    t += "  activity:    none\n";
  if (s.environment.shown) {
    t += "  fan:         " + std::to_string(s.environment.fanRpm) + " RPM" +
         (s.environment.fanAlarm ? " (alarm)" : "") + "\n";
    t += "  temperature: " + std::to_string(s.environment.celsius) + " C" +
         (s.environment.temperatureAlarm ? " (alarm)" : "") + "\n";
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

std::string NoRecordReason(int slot) {
  return slot >= kShownSlots
             ? "not watched: the monitor watches the first " + std::to_string(kShownSlots) + " enclosures"
             : "no status record read yet";
}

nlohmann::json AcceptedStatusDocument(const RaidCore& core) {
  nlohmann::json all = {{"version", kStatusJsonVersion}, {"enclosures", nlohmann::json::array()}};
  for (int s = 0; s < core.Devices().DeviceCount; ++s) {
    // An enclosure just connected has no record yet: said, not judged from
    // an empty record.
    if (!core.StatusRecordRead(s))
      all["enclosures"].push_back({{"slot", s}, {"name", SlotName(s)}, {"error", NoRecordReason(s)}});
    else
      all["enclosures"].push_back(StatusJson(IdentityOf(core, s), core.StatusRecordOf(s)));
  }
  return all;
}

nlohmann::json ListOutput(const RaidCore& core) {
  if (core.Devices().DeviceCount == 0) return {{"exit", 1}, {"text", "No enclosure found.\n"}};
  std::string text = ListHeader() + "\n";
  for (int s = 0; s < core.Devices().DeviceCount; ++s) text += ListLine(IdentityOf(core, s)) + "\n";
  return {{"exit", 0}, {"text", text}};
}

nlohmann::json AcceptedStatusOutput(const RaidCore& core) {
  const nlohmann::json document = AcceptedStatusDocument(core);
  if (core.Devices().DeviceCount == 0) return {{"exit", 1}, {"text", "No enclosure found.\n"}, {"document", document}};
  std::string text;
  bool failed = false;
  for (int s = 0; s < core.Devices().DeviceCount; ++s) {
    if (!core.StatusRecordRead(s)) {
      text += SlotName(s) + " (slot " + std::to_string(s) + "): " + NoRecordReason(s) + "\n";
      failed = true;
    } else {
      text += StatusText(IdentityOf(core, s), core.StatusRecordOf(s));
    }
  }
  return {{"exit", failed ? 1 : 0}, {"text", text}, {"document", document}};
}

MetricsSnapshot AcceptedMetrics(const RaidCore& core, const std::array<double, kPhysicalDrives>& lastPollSeconds,
                                uint64_t mailFailures) {
  MetricsSnapshot m;
  m.mailFailures = mailFailures;
  for (int s = 0; s < core.Devices().DeviceCount; ++s) {
    const EnclosureIdentity e = IdentityOf(core, s);
    MetricsEnclosure& out = m.enclosures.emplace_back();
    out.name = SlotName(s);
    out.model = Trimmed(ModelText(e.ident, ident::kModel));
    out.recordRead = core.StatusRecordRead(s);
    if (!out.recordRead) continue;
    out.status = DecodeStatus(core.StatusRecordOf(s), ReadFirmware(e.ident));
    out.lastPollSeconds = lastPollSeconds[drive_flags::Drive(e.flags) % kPhysicalDrives];
  }
  return m;
}

bool WriteStatusFile(const RaidCore& core, const std::string& path, std::string& error) {
  const std::string text =
      AcceptedStatusDocument(core).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  // Any user may read it (raidctl check --status-file), whatever the
  // service's file mode mask.
  const Outcome r = ReplaceFile(path, text, nullptr, FileAccess::ReadableByAll);
  if (!r.ok()) error = r.error();
  return r.ok();
}

nlohmann::json MirrorDocument(const RaidCore& core) {
  auto b64 = [](const Sector& s) {
    return Base64Encode(std::string_view(reinterpret_cast<const char*>(s.data()), s.size()));
  };
  nlohmann::json all = {{"enclosures", nlohmann::json::array()}};
  for (int s = 0; s < core.Devices().DeviceCount; ++s) {
    const EnclosureIdentity e = IdentityOf(core, s);
    all["enclosures"].push_back(
        {{"drive", drive_flags::Drive(e.flags)},
         {"transport", TransportName(e.flags)},
         {"ident", b64(e.ident)},
         {"record", core.StatusRecordRead(s) ? nlohmann::json(b64(core.StatusRecordOf(s))) : nlohmann::json(nullptr)}});
  }
  return all;
}

}  // namespace raid
