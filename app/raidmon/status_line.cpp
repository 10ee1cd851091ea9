#include "app/raidmon/status_line.h"

#include "device/device_state.h"
#include "monitor/decoded_status.h"

namespace raid {

namespace {
std::string DriveText(const DecodedDrive& d, int x) {
  std::string t = std::string(DriveName(x)) + " " + DriveStateName(d.state);
  if (d.present || d.failed) t += " " + std::to_string(Gigabytes(d.fieldSectors)) + " GB";
  return t;
}

}  // namespace

std::string EnclosureStatusLine(int slot, uint32_t driveFlags, const Sector& ident, const Sector& record) {
  const DecodedStatus s = DecodeStatus(record, ReadFirmware(ident));
  std::string t = "Device" + std::to_string(slot + 1) + " (PD" + std::to_string(drive_flags::Drive(driveFlags)) +
                  "): " + s.mode + ", " + std::to_string(Gigabytes(s.capacitySectors)) + " GB, ";
  const DecodedActivity& a = s.activity;
  if (a.Running()) {
    t += std::string(a.kind == ActivityKind::Scan ? "scan of " : "rebuild of ") + DriveName(a.drive) + " " +
         std::to_string(a.progress) + "%";
  } else {
    t += ArrayStateName(s.array);
  }
  t += "; " + DriveText(s.drives[0], 0) + ", " + DriveText(s.drives[1], 1);
  if (s.badSectorCount != 0) t += ", " + std::to_string(s.badSectorCount) + " bad sectors";
  t += "; firmware " + s.firmware;
  const DecodedEnvironment& e = s.environment;
  if (e.shown) {
    t += "; fan " + std::to_string(e.fanRpm) + " RPM" + (e.fanAlarm ? " (fault)" : "") + ", " +
         std::to_string(e.celsius) + " C" + (e.temperatureAlarm ? " (too hot)" : "");
  }
  return t;
}

}  // namespace raid
