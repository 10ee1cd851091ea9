#include "monitor/device_report.h"

#include "monitor/status_record.h"

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
  const Sector& b = ms_.StatusBlock[d];
  out.push_back("Device" + n + " information :");
  out.push_back("Model# " + ModelText(id, ident::kModel));
  out.push_back(ModeName(b[status::kMode]) + ", F/W Rev. " + ReadFirmware(id).text + "." + ConfigCode(b));
  out.push_back("Configured Capacity : " + CapacityText(Sectors40(b, status::kCapacity)));

  for (int x = 0; x < 2; ++x) {
    const std::string hdd = x == 0 ? "HDD1" : "HDD2";
    const int shift = x * 4;
    const uint8_t bits = static_cast<uint8_t>((b[status::kState] >> shift) & 0x0F);
    const size_t serialAt = x == 0 ? status::kHdd1Serial : status::kHdd2Serial;
    const size_t modelAt = x == 0 ? status::kHdd1Model : status::kHdd2Model;
    const size_t capAt = x == 0 ? status::kHdd1Capacity : status::kHdd2Capacity;
    const uint8_t speed = static_cast<uint8_t>((b[status::kLinkSpeed] >> shift) & 0x0F);
    auto identity = [&](const std::string& modelPrefix) {
      out.push_back(modelPrefix + ModelText(b, modelAt));
      out.push_back("    Serial no.: \"" + AtaText(b, serialAt, status::kSerialLen) + "\"");
      out.push_back("    Capacity : " + CapacityText(Sectors40(b, capAt)));
    };
    if (form == ReportForm::Log) {
      if (bits & status::kAbsent) {
        out.push_back("  " + hdd + " is absent. ");
        if (!SerialEmpty(b, serialAt)) identity(x == 0 ? "    Model no.:" : "    Model no.: ");
      } else if (bits & status::kPresent) {
        out.push_back("  " + hdd + " is present.(SATA" + LinkSpeedText(speed) + ")");
        identity("    Model no.: ");
      } else if (bits & status::kFailed) {
        const uint8_t a = b[status::kActivity];
        const char* reason = (a & status::kMatchedSsd) ? "Matched SSD, Reboot."
                             : (a & 0x80)              ? "Capacity too small."
                                                       : "Unmatched SSD.";
        out.push_back("  " + hdd + " was failed, " + reason);
        identity("    Model no.: ");
      } else if (bits & status::kInserted) {
        out.push_back(hdd + " was inserted.");
      }
    } else {
      if (bits & status::kAbsent)
        out.push_back("  " + hdd + " is absent. ");
      else if (bits & status::kPresent)
        out.push_back("  " + hdd + " is present.(SATA" + LinkSpeedText(speed) + ")");
      else if (bits & status::kFailed)
        out.push_back("  " + hdd + " was failed, Capacity too small.");
      else if (bits & status::kInserted)
        out.push_back(hdd + " was inserted.");
      if (category == 1 || (bits & (status::kPresent | status::kFailed))) identity("    Model no.: ");
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
