#include "monitor/event_detector.h"

#include "device/record_layout.h"

namespace raid {

std::vector<RaidEvent> DriveEvents(int slot, const DecodedStatus& now, uint8_t oldState) {
  std::vector<RaidEvent> events;
  for (int x = 0; x < 2; ++x) {
    const DecodedDrive& drive = now.drives[static_cast<size_t>(x)];
    const uint8_t ob = static_cast<uint8_t>((oldState >> (x * 4)) & 0x0F);
    RaidEvent e;
    e.slot = slot;
    e.drive = x;
    switch (drive.state) {
      case DriveState::Absent:
        if (ob & status::kAbsent) continue;
        e.kind = EventKind::DriveRemoved;
        break;
      case DriveState::Present:
        if (ob & status::kPresent) continue;
        e.kind = EventKind::DriveInitialized;
        e.identity = drive;
        break;
      case DriveState::Failed:
        if (ob & status::kFailed) continue;
        e.kind = EventKind::DriveFailed;
        e.identity = drive;
        break;
      case DriveState::Inserted:
        if (ob & status::kInserted) continue;
        e.kind = EventKind::DriveInserted;
        break;
      case DriveState::None: continue;
    }
    events.push_back(std::move(e));
  }
  return events;
}

std::vector<RaidEvent> ActivityEvents(int slot, const DecodedStatus& now, SlotMemory& m, bool stopSent) {
  const bool bothPresent = now.array == ArrayState::Normal;
  const DecodedActivity& a = now.activity;
  const uint8_t p = a.progress;
  const bool target0 = m.activityTarget == 0;
  RaidEvent e;
  e.slot = slot;
  if (a.Running()) {
    m.scanRunning = a.kind == ActivityKind::Scan ? 1 : 0;
    if (m.lastProgress != kNoProgress && m.lastProgress == p) return {};
    m.lastProgress = p;
    m.activityTarget = static_cast<uint8_t>(a.drive);
    e.kind = EventKind::ActivityProgress;
    e.drive = m.activityTarget == 0 ? 0 : 1;
    e.activity = m.scanRunning ? ActivityKind::Scan : ActivityKind::Rebuild;
    e.progress = p;
    return {e};
  }
  // An activity that ran: stopped by the user, or ended (with the last
  // percentage seen) while both drives are present.
  e.drive = target0 ? 0 : 1;
  e.progress = m.lastProgress;
  std::vector<RaidEvent> events;
  if (m.scanRunning == 1) {
    e.activity = ActivityKind::Scan;
    if (stopSent) {
      e.kind = EventKind::ScanAborted;
      events.push_back(e);
    } else if (m.lastProgress != kNoProgress && bothPresent) {
      e.kind = EventKind::ActivityFinished;
      events.push_back(e);
    }
    m.lastProgress = kNoProgress;
    m.scanRunning = 0;
  } else if (m.lastProgress != kNoProgress) {
    if (bothPresent) {
      e.activity = ActivityKind::Rebuild;
      e.kind = EventKind::ActivityFinished;
      events.push_back(e);
    }
    m.lastProgress = kNoProgress;
  }
  return events;
}

std::vector<RaidEvent> BadSectorEvents(int slot, const DecodedStatus& now, SlotMemory& m) {
  const bool bad1 = now.drives[0].badSectors, bad2 = now.drives[1].badSectors;
  if (!bad1 && !bad2) return {};
  const uint8_t c = now.badSectorCount;
  uint8_t& r = m.badSectorsReported;
  if (c == 0 || c == r) return {};
  if (c < r) {
    r = c;
    return {};
  }
  const int first = (c - r > 10) ? c - 10 : r;
  const bool scanning = m.scanRunning == 1;
  const DecodedActivity& a = now.activity;
  RaidEvent e;
  e.kind = EventKind::BadSectors;
  e.slot = slot;
  e.badSectorCount = c;
  // The drive the sectors are on; none when neither drive is present.
  if (bad2 && !bad1) {
    e.drive = 1;
  } else if (bad1 && !bad2) {
    e.drive = 0;
  } else if (a.Running() && a.drive == 0) {
    e.drive = scanning ? 0 : 1;  // a rebuild towards HDD1 reads from HDD2
  } else if (a.Running()) {
    e.drive = scanning ? 1 : 0;
  } else if (now.drives[0].present) {
    e.drive = 0;
  } else if (now.drives[1].present) {
    e.drive = 1;
  }
  for (int k = first; k < c; ++k) e.sectors.push_back(now.badSectorRing[static_cast<size_t>(k) % 10]);
  r = c;
  return {e};
}

std::vector<RaidEvent> EnclosureListEvents(std::span<const Sector> before, std::span<const Sector> after) {
  const int m = static_cast<int>(before.size());
  const int n = static_cast<int>(after.size());
  auto same = [&](int c, int k) { return before[static_cast<size_t>(c)] == after[static_cast<size_t>(k)]; };
  std::vector<RaidEvent> events;
  auto add = [&](EventKind kind, int slot) {
    RaidEvent e;
    e.kind = kind;
    e.slot = slot;
    events.push_back(e);
  };
  // As many enclosures as before is no change only when each is the one it
  // was: one swapped for another leaves the count equal.
  if (m == n) {
    bool unchanged = true;
    for (int c = 0; c < m && unchanged; ++c) unchanged = same(c, c);
    if (unchanged) return {};
  }
  if (m == 0) {
    for (int k = 0; k < n; ++k) add(EventKind::EnclosureFound, k);
  } else if (n == 0) {
    for (int c = 0; c < m; ++c) add(EventKind::EnclosureRemoved, c);
  } else {
    // Both lists keep their order: walk them together, an enclosure of the
    // old list found further on in the new one makes those before it new.
    int c = 0, i = 0;
    for (;;) {
      if (same(c, i)) {
        ++c;
        ++i;
      } else {
        int j = i;
        while (j < n && !same(c, j)) ++j;
        if (j < n) {
          for (int k = i; k < j; ++k) add(EventKind::EnclosureFound, k);
          i = j + 1;
        } else {
          add(EventKind::EnclosureRemoved, c);
        }
        ++c;
      }
      if (c >= m) {
        for (int k = i; k < n; ++k) add(EventKind::EnclosureFound, k);
        break;
      }
      if (i >= n) {
        for (int k = c; k < m; ++k) add(EventKind::EnclosureRemoved, k);
        break;
      }
    }
  }
  if (!events.empty()) add(EventKind::EnclosureListChanged, 0);
  return events;
}

}  // namespace raid
