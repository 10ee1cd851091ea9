// Event detection as a comparison: what the monitoring remembers of an
// enclosure's last record, and its new record decoded, give the events
// since, in the order the day log writes them; the published enclosure
// lists before and after a detection give the enclosures found and
// removed. No device, file or clock is touched: the event log stamps,
// writes and reports what comes out, and keeps the memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "monitor/decoded_status.h"
#include "monitor/monitor_state.h"
#include "monitor/raid_event.h"
#include "platform/bytes.h"

namespace raid {

// What the comparison remembers of one slot between polls.
struct SlotMemory {
  uint8_t lastProgress = kNoProgress;  // the last percentage logged
  uint8_t activityTarget = 0;          // the drive it concerned
  uint8_t scanRunning = 0;             // 1: that activity is a scan
  uint8_t badSectorsReported = 0;      // the controller's count last logged
};

// The drive events from the state byte `oldState` to the new record's: per
// drive, the first of its state bits that is set, when that bit has risen.
std::vector<RaidEvent> DriveEvents(int slot, const DecodedStatus& now, uint8_t oldState);

// A rebuild's or scan's new percentage, its end, or a scan's stop;
// `stopSent`: a scan stop was sent to the enclosure since the last poll.
std::vector<RaidEvent> ActivityEvents(int slot, const DecodedStatus& now, SlotMemory& memory, bool stopSent);

// Bad sectors the controller counted since the last event (at most ten).
std::vector<RaidEvent> BadSectorEvents(int slot, const DecodedStatus& now, SlotMemory& memory);

// The enclosures found and removed between two published lists, each given
// as the identification sectors of its slots in order; an
// EnclosureListChanged closes a non-empty result.
std::vector<RaidEvent> EnclosureListEvents(std::span<const Sector> before, std::span<const Sector> after);

}  // namespace raid
