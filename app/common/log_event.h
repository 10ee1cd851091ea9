// What a day log line tells about the enclosures, read back from its text:
// the journal takes its priority from it and the desktop notifications
// pick the drive and enclosure events out of the log with it.
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

LogEventKind ClassifyLogLine(const std::string& line);

// The syslog priority of the line: 4 warning for a removal, a failure and bad
// sectors, 5 notice for the other drive and enclosure events, 6 info else.
int LogLinePriority(const std::string& line);

// Drive and enclosure events a desktop user is told about: removed, failed,
// inserted, rebuild or scan finished, enclosure found or removed.
bool IsNotifiedEvent(LogEventKind kind);

// A short title for the notification of the line ("Drive removed").
std::string LogEventTitle(LogEventKind kind);

}  // namespace raid
