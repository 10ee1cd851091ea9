// Two renderings of a day log line's event besides the line itself: the
// journal's priority and the desktop notification. Both are decided from
// the event the line carries, never from its text.
#pragma once

#include <optional>
#include <string>

#include "monitor/core_view.h"

namespace raid {

// The syslog priority of the line: 4 warning for a drive removed or failed,
// bad sectors and an enclosure removed; 5 notice for the other drive and
// enclosure events; 6 info for progress, the list change's closing line,
// detail lines and the program's own lines.
int JournalPriority(const DayLogEntry& entry);

struct TrayNotice {
  std::string title;  // "Drive removed"
  bool warning = false;
};

// The notification a desktop user gets for the line, if any: only an
// event's headline, and only for a drive removed, failed or inserted, a
// rebuild or scan finished, and an enclosure found or removed.
std::optional<TrayNotice> TrayNoticeOf(const DayLogEntry& entry);

}  // namespace raid
