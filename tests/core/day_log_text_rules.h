// How a day log line's event was once read back from its text: the kind
// from phrases such as " was removed, ", the journal priority and the
// notification from the kind. The program no longer does this; the tests
// keep these rules as the reference the events' own renderings must match.
#pragma once

#include <string>

namespace raid {

enum class LogEventKind {
  Other,             // start line, detail lines, progress and the like
  DriveRemoved,      // "D1 HDD2 was removed, ..."
  DriveFailed,       // "D1 HDD2 was failed, ..."
  DriveInserted,     // "D1 HDD2 was inserted, ..."
  DriveInitialized,  // "D1 HDD2 was initialized, ..."
  ActivityFinished,  // a rebuild or scan done, or ended with both drives OK
  ActivityAborted,   // "D1 HDD1 Scan User Abort, ..."
  BadSectors,        // "D1 HDD1 Bad Sector was found. ..."
  EnclosureFound,    // "D1 New Device was found."
  EnclosureRemoved,  // "D1 Device was removed."
};

namespace {

inline bool Has(const std::string& line, const char* text) { return line.find(text) != std::string::npos; }

// Event lines start with the enclosure: "D" and its number.
inline bool EnclosureLine(const std::string& line) {
  return line.size() > 2 && line[0] == 'D' && line[1] >= '1' && line[1] <= '9';
}

}  // namespace

inline LogEventKind ClassifyLogLine(const std::string& line) {
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

inline int LogLinePriority(const std::string& line) {
  switch (ClassifyLogLine(line)) {
    case LogEventKind::DriveRemoved:
    case LogEventKind::DriveFailed:
    case LogEventKind::BadSectors:
    case LogEventKind::EnclosureRemoved: return 4;
    case LogEventKind::Other: return 6;
    default: return 5;
  }
}

inline bool IsNotifiedEvent(LogEventKind kind) {
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

inline std::string LogEventTitle(LogEventKind kind) {
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
