#include "monitor/raid_event.h"

namespace raid {

namespace {

// " HDD1 Scan " or, for a rebuild, its direction " HDD2 --> HDD1 ".
std::string ActivityText(const RaidEvent& e) {
  if (e.activity == ActivityKind::Scan) return e.drive == 0 ? " HDD1 Scan " : " HDD2 Scan ";
  return e.drive == 0 ? " HDD2 --> HDD1 " : " HDD1 --> HDD2 ";
}

void IdentityLines(std::vector<std::string>& out, const DecodedDrive& d) {
  out.push_back("  Model no.: " + d.modelText);
  out.push_back("  Serial no.: \"" + d.serial + "\"");
  out.push_back("  Capacity : " + std::to_string(Gigabytes(d.sectors)) + " GB(" + std::to_string(d.sectors) +
                " Sectors)");
}

}  // namespace

const char* EventKindName(EventKind kind) {
  switch (kind) {
    case EventKind::EnclosureFound: return "EnclosureFound";
    case EventKind::EnclosureRemoved: return "EnclosureRemoved";
    case EventKind::EnclosureListChanged: return "EnclosureListChanged";
    case EventKind::DriveRemoved: return "DriveRemoved";
    case EventKind::DriveInitialized: return "DriveInitialized";
    case EventKind::DriveFailed: return "DriveFailed";
    case EventKind::DriveInserted: return "DriveInserted";
    case EventKind::ActivityProgress: return "ActivityProgress";
    case EventKind::ActivityFinished: return "ActivityFinished";
    case EventKind::ScanAborted: return "ScanAborted";
    case EventKind::BadSectors: return "BadSectors";
  }
  return "Unknown";
}

uint8_t MailReportKind(const RaidEvent& e) {
  if (e.kind == EventKind::DriveRemoved) return 1;
  if (e.kind == EventKind::EnclosureRemoved) return 2;
  return 0;
}

bool HasHeadline(const RaidEvent& e) { return e.kind != EventKind::BadSectors || e.drive >= 0; }

std::vector<std::string> DayLogLines(const RaidEvent& e, const std::string& stamp) {
  const std::string d = "D" + std::to_string(e.slot + 1);
  const std::string hdd = DriveName(e.drive);
  std::vector<std::string> out;
  switch (e.kind) {
    case EventKind::EnclosureFound: out.push_back(d + " New Device was found." + stamp); break;
    case EventKind::EnclosureRemoved: out.push_back(d + " Device was removed." + stamp); break;
    case EventKind::EnclosureListChanged: out.push_back("    Device had changed." + stamp); break;
    case EventKind::DriveRemoved: out.push_back(d + " " + hdd + " was removed, " + stamp); break;
    case EventKind::DriveInitialized:
      // HDD1's line has no comma before the link speed.
      out.push_back(d + (e.drive == 0 ? " HDD1 was initialized (SATA" : " HDD2 was initialized, (SATA") +
                    e.identity.linkSpeed + "), " + stamp);
      IdentityLines(out, e.identity);
      break;
    case EventKind::DriveFailed:
      out.push_back(d + " " + hdd + " was failed, Capacity too small." + stamp);
      IdentityLines(out, e.identity);
      break;
    case EventKind::DriveInserted: out.push_back(d + " " + hdd + " was inserted, " + stamp); break;
    case EventKind::ActivityProgress:
      out.push_back(d + ActivityText(e) + std::to_string(e.progress) + "%, " + stamp);
      break;
    case EventKind::ActivityFinished:
      out.push_back(e.Complete() ? d + ActivityText(e) + "Done, " + stamp : d + " HDD1 OK, HDD2 OK, " + stamp);
      break;
    case EventKind::ScanAborted: out.push_back(d + ActivityText(e) + "User Abort, " + stamp); break;
    case EventKind::BadSectors:
      if (HasHeadline(e)) out.push_back(d + " " + hdd + " Bad Sector was found. " + stamp);
      for (uint32_t lba : e.sectors) out.push_back("  LBA: " + std::to_string(lba));
      break;
  }
  return out;
}

}  // namespace raid
