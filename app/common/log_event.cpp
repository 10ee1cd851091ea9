#include "app/common/log_event.h"

namespace raid {

namespace {

bool Has(const std::string& line, const char* text) { return line.find(text) != std::string::npos; }

// Event lines start with the enclosure: "D" and its number.
bool EnclosureLine(const std::string& line) {
  return line.size() > 2 && line[0] == 'D' && line[1] >= '1' && line[1] <= '9';
}

}  // namespace

LogEventKind ClassifyLogLine(const std::string& line) {
  if (!EnclosureLine(line)) return LogEventKind::Other;
  if (Has(line, " New Device was found.")) return LogEventKind::EnclosureFound;
  if (Has(line, " Device was removed.")) return LogEventKind::EnclosureRemoved;
  if (Has(line, " was removed, ")) return LogEventKind::DriveRemoved;
  if (Has(line, " was failed, ")) return LogEventKind::DriveFailed;
  if (Has(line, " was inserted, ")) return LogEventKind::DriveInserted;
  if (Has(line, " was initialized")) return LogEventKind::DriveInitialized;
  if (Has(line, " Bad Sector was found.")) return LogEventKind::BadSectors;
  if (Has(line, " User Abort, ")) return LogEventKind::ActivityAborted;
  if (Has(line, " Done, ") || Has(line, " HDD1 OK, HDD2 OK, ")) return LogEventKind::ActivityFinished;
  return LogEventKind::Other;
}

int LogLinePriority(const std::string& line) {
  switch (ClassifyLogLine(line)) {
    case LogEventKind::DriveRemoved:
    case LogEventKind::DriveFailed:
    case LogEventKind::BadSectors:
    case LogEventKind::EnclosureRemoved: return 4;
    case LogEventKind::Other: return 6;
    default: return 5;
  }
}

bool IsNotifiedEvent(LogEventKind kind) {
  switch (kind) {
    case LogEventKind::DriveRemoved:
    case LogEventKind::DriveFailed:
    case LogEventKind::DriveInserted:
    case LogEventKind::ActivityFinished:
    case LogEventKind::EnclosureFound:
    case LogEventKind::EnclosureRemoved: return true;
    default: return false;
  }
}

std::string LogEventTitle(LogEventKind kind) {
  switch (kind) {
    case LogEventKind::DriveRemoved: return "Drive removed";
    case LogEventKind::DriveFailed: return "Drive failed";
    case LogEventKind::DriveInserted: return "Drive inserted";
    case LogEventKind::DriveInitialized: return "Drive initialised";
    case LogEventKind::ActivityFinished: return "Rebuild or scan finished";
    case LogEventKind::ActivityAborted: return "Scan stopped";
    case LogEventKind::BadSectors: return "Bad sectors found";
    case LogEventKind::EnclosureFound: return "Enclosure found";
    case LogEventKind::EnclosureRemoved: return "Enclosure removed";
    case LogEventKind::Other: break;
  }
  return "RAID event";
}

}  // namespace raid
