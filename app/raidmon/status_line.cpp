#include "app/raidmon/status_line.h"

#include "device/device_state.h"
#include "device/record_layout.h"
#include "monitor/status_record.h"

namespace raid {

namespace {
std::string DriveText(const Sector& b, int x) {
  const uint8_t bits = static_cast<uint8_t>(b[status::kState] >> (4 * x));
  // The same order of tests as the Status page.
  const char* state = (bits & status::kAbsent)     ? "absent"
                      : (bits & status::kPresent)  ? "present"
                      : (bits & status::kFailed)   ? "failed"
                      : (bits & status::kInserted) ? "inserted"
                                                   : "none";
  std::string t = std::string(x == 0 ? "HDD1 " : "HDD2 ") + state;
  if (bits & (status::kPresent | status::kFailed)) {
    const uint64_t sectors =
        LoadLE(b, x == 0 ? status::kHdd1Capacity : status::kHdd2Capacity, status::kDriveCapacityLen);
    t += " " + std::to_string(Gigabytes(sectors)) + " GB";
  }
  return t;
}
}  // namespace

std::string EnclosureStatusLine(int slot, uint32_t driveFlags, const Sector& ident, const Sector& b) {
  const FirmwareInfo fw = ReadFirmware(ident);
  std::string t = "Device" + std::to_string(slot + 1) + " (PD" + std::to_string(drive_flags::Drive(driveFlags)) +
                  "): " + ModeName(b[status::kMode]) + ", " +
                  std::to_string(Gigabytes(Sectors40(b, status::kCapacity))) + " GB, ";
  const uint8_t act = b[status::kActivity];
  if (act & (status::kActHdd1 | status::kActHdd2)) {
    const bool scan = fw.scanCapable && (act & status::kActIsScan);
    t += std::string(scan ? "scan of " : "rebuild of ") + ((act & status::kActHdd1) ? "HDD1 " : "HDD2 ") +
         std::to_string(b[status::kProgress]) + "%";
  } else {
    const uint8_t present = b[status::kState] & status::kBothPresent;
    t += present == 0 ? "Failure" : present == status::kBothPresent ? "Normal" : "Single HDD Present";
  }
  t += "; " + DriveText(b, 0) + ", " + DriveText(b, 1);
  const unsigned bad = b[status::kBadCount];
  if (bad != 0) t += ", " + std::to_string(bad) + " bad sectors";
  t += "; firmware " + fw.text + "." + ConfigCode(b);
  const uint8_t env = b[status::kEnvironment];
  if (fw.fanCapable && (env >> 4) == 0xA && env != 0xAA) {
    t += "; fan " + std::to_string(LoadLE(b, status::kFanRpm, 2)) + " RPM" + ((env & 0x01) ? " (fault)" : "") + ", " +
         std::to_string(b[status::kTemperature]) + " C" + ((env & 0x04) ? " (too hot)" : "");
  }
  return t;
}

}  // namespace raid
