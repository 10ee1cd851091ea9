// What event detection found, as a value: its kind, the enclosure and drive
// it concerns, when it was logged and the details its lines show. The day
// log line is one rendering of it (here); the journal priority and the
// desktop notification are others (app/common/log_event.h). Nothing reads a
// rendered line back to learn what happened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/decoded_status.h"
#include "platform/clock.h"

namespace raid {

enum class EventKind : uint8_t {
  EnclosureFound,        // an enclosure joined the list
  EnclosureRemoved,      // an enclosure left the list
  EnclosureListChanged,  // closes the list's changes
  DriveRemoved,
  DriveInitialized,  // a drive became present (with its identity)
  DriveFailed,       // with its identity
  DriveInserted,
  ActivityProgress,  // a rebuild or scan reached a new percentage
  ActivityFinished,  // a rebuild or scan done, or ended with both drives OK
  ScanAborted,       // the user stopped a scan
  BadSectors,        // the controller counted new bad sectors
};

struct RaidEvent {
  EventKind kind = EventKind::EnclosureListChanged;
  int slot = 0;    // the enclosure's slot: 0 is "D1"
  int drive = -1;  // 0 HDD1, 1 HDD2; -1 when no drive is named
  LocalDateTime time;

  // ActivityProgress, ActivityFinished, ScanAborted: which activity, on
  // which drive (drive: the scanned drive or the rebuild's target).
  ActivityKind activity = ActivityKind::None;
  // ActivityProgress: the percentage reached. ActivityFinished: the last
  // percentage seen (99: the activity ran to its end).
  uint8_t progress = 0;
  // DriveInitialized, DriveFailed: the drive as the record describes it.
  DecodedDrive identity;
  // BadSectors: the controller's count after the event and the addresses
  // of the sectors new since the last event (at most ten).
  uint8_t badSectorCount = 0;
  std::vector<uint32_t> sectors;

  bool Complete() const { return progress == 99; }
};

// The event's lines of the day log, its headline first (the bad sectors
// without a drive to name have only their address lines); stamp: the
// event's time as the day log writes it.
std::vector<std::string> DayLogLines(const RaidEvent& e, const std::string& stamp);

// The kind's stable name, as the monitor service sends it ("DriveRemoved").
const char* EventKindName(EventKind kind);

// The mail report the event raises (DeviceReport::BuildDeviceReport's
// kind): 1 a member drive removed, 2 an enclosure removed, 0 none.
uint8_t MailReportKind(const RaidEvent& e);

// The first line rendered is the event's headline, unless bad sectors name
// no drive.
bool HasHeadline(const RaidEvent& e);

}  // namespace raid
