#include "monitor/device_report.h"

#include "monitor/decoded_status.h"

namespace raid {

namespace {
std::string CapacityText(uint64_t sectors) {
  return std::to_string(Gigabytes(sectors)) + " GB(" + std::to_string(sectors) + " Sectors)";
}
}  // namespace

void DeviceReport::AppendDeviceInfoBlock(std::vector<std::string>& out, uint8_t slot, ReportForm form,
                                         uint8_t category) const {
  if (slot >= kMaxSlots) return;
  const std::string n = std::to_string(slot + 1);
  const uint8_t d = drive_flags::Drive(st_.DeviceList[slot]);
  if (d >= kPhysicalDrives) return;
  const Sector& id = det_.PrevIdentSector[d];
  const DecodedStatus s = DecodeStatus(ms_.StatusBlock[d], ReadFirmware(id));
  out.push_back("Device" + n + " information :");
  out.push_back("Model# " + ModelText(id, ident::kModel));
  out.push_back(s.mode + ", F/W Rev. " + s.firmware);
  out.push_back("Configured Capacity : " + CapacityText(s.capacitySectors));

  for (int x = 0; x < 2; ++x) {
    const std::string hdd = DriveName(x);
    const DecodedDrive& drive = s.drives[static_cast<size_t>(x)];
    auto identity = [&](const std::string& modelPrefix) {
      out.push_back(modelPrefix + drive.modelText);
      out.push_back("    Serial no.: \"" + drive.serial + "\"");
      out.push_back("    Capacity : " + CapacityText(drive.sectors));
    };
    const std::string present = "  " + hdd + " is present.(SATA" + drive.linkSpeed + ")";
    if (form == ReportForm::Log) {
      switch (drive.state) {
        case DriveState::Absent:
          out.push_back("  " + hdd + " is absent. ");
          if (drive.serialRecorded) identity(x == 0 ? "    Model no.:" : "    Model no.: ");
          break;
        case DriveState::Present:
          out.push_back(present);
          identity("    Model no.: ");
          break;
        case DriveState::Failed: {
          const char* reason = s.activity.matchedSsd ? "Matched SSD, Reboot."
                               : s.activity.scanBit  ? "Capacity too small."
                                                     : "Unmatched SSD.";
          out.push_back("  " + hdd + " was failed, " + reason);
          identity("    Model no.: ");
          break;
        }
        case DriveState::Inserted: out.push_back(hdd + " was inserted."); break;
        case DriveState::None: break;
      }
    } else {
      switch (drive.state) {
        case DriveState::Absent: out.push_back("  " + hdd + " is absent. "); break;
        case DriveState::Present: out.push_back(present); break;
        case DriveState::Failed: out.push_back("  " + hdd + " was failed, Capacity too small."); break;
        case DriveState::Inserted: out.push_back(hdd + " was inserted."); break;
        case DriveState::None: break;
      }
      if (category == 1 || drive.present || drive.failed) identity("    Model no.: ");
    }
  }
}

void DeviceReport::BuildDeviceReport(uint8_t kind, uint8_t slot, uint8_t port) {
  ms_.MailEventText.clear();
  if (st_.DeviceCount != 0 && slot < st_.DeviceCount) {
    const std::string n = std::to_string(slot + 1);
    switch (kind) {
      case 1: ms_.MailEventText.push_back("Device" + n + " P" + std::to_string(port) + " Hard Disk Drive fail."); break;
      case 2: ms_.MailEventText.push_back("Device" + n + " RAID system fail."); break;
      case 3: ms_.MailEventText.push_back("Device" + n + " over heat."); break;
      case 4: ms_.MailEventText.push_back("Device" + n + " fan fail."); break;
      default: break;
    }
    AppendDeviceInfoBlock(ms_.MailEventText, slot, ReportForm::Mail, kind);
  }
  ms_.MailCategory = kind;
  ms_.MailRequestFlags |= mail_request::kPending;
}

}  // namespace raid
