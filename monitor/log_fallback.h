// Where day log lines go when their own file cannot take them at exit: one
// file per day in the user's state folder, which later exits add to.
#pragma once

#include <string>
#include <vector>

#include "monitor/event_log.h"
#include "platform/outcome.h"

namespace raid {

struct FallbackResult {
  Outcome outcome;                 // failed: they could not be written anywhere
  size_t lines = 0;                // lines that were not saved to their day file
  std::vector<std::string> files;  // where they are now

  bool ok() const { return outcome.ok(); }
  const std::string& error() const { return outcome.error(); }
};

// The folder the fallback files go to: <state folder>/raidgui.
std::string FallbackFolder();
// Adds each day's unsaved lines to "<folder>/<day file name>.unsaved-<N>",
// CR LF ended as in the day file: N is 1 unless that name is held by
// something other than a plain file of the program's own size.
FallbackResult WriteFallbackFiles(const std::vector<EventLog::UnsavedDay>& days, const std::string& folder);
// The sentence that tells the user, e.g. "3 log lines could not be saved to
// /logs; they are in /home/u/.local/state/raidgui/100503.log.unsaved-1".
std::string FallbackMessage(const FallbackResult& r, const std::string& logDir);

}  // namespace raid
