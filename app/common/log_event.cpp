#include "app/common/log_event.h"

namespace raid {

int JournalPriority(const DayLogEntry& entry) {
  if (!entry.event || !entry.headline) return 6;
  switch (entry.event->kind) {
    case EventKind::DriveRemoved:
    case EventKind::DriveFailed:
    case EventKind::BadSectors:
    case EventKind::EnclosureRemoved: return 4;
    case EventKind::DriveInserted:
    case EventKind::DriveInitialized:
    case EventKind::ActivityFinished:
    case EventKind::ScanAborted:
    case EventKind::EnclosureFound: return 5;
    case EventKind::ActivityProgress:
    case EventKind::EnclosureListChanged: break;
  }
  return 6;
}

std::optional<TrayNotice> TrayNoticeOf(const DayLogEntry& entry) {
  if (!entry.event || !entry.headline) return std::nullopt;
  switch (entry.event->kind) {
    case EventKind::DriveRemoved: return TrayNotice{"Drive removed", true};
    case EventKind::DriveFailed: return TrayNotice{"Drive failed", true};
    case EventKind::DriveInserted: return TrayNotice{"Drive inserted", false};
    case EventKind::ActivityFinished: return TrayNotice{"Rebuild or scan finished", false};
    case EventKind::EnclosureFound: return TrayNotice{"Enclosure found", false};
    case EventKind::EnclosureRemoved: return TrayNotice{"Enclosure removed", true};
    default: break;
  }
  return std::nullopt;
}

}  // namespace raid
