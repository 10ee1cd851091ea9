// Renders a local date-time the way the user's desktop shows it: the short
// date, a blank and the long time; at exactly midnight the time is left out.
#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"

namespace raid {

class DateTimeFormat {
 public:
  virtual ~DateTimeFormat() = default;
  virtual std::string ShortDate(const LocalDateTime& t) const = 0;
  virtual std::string LongTime(const LocalDateTime& t) const = 0;
  // The general date-time text used in the event log.
  std::string Stamp(const LocalDateTime& t) const {
    if (t.IsMidnight()) return ShortDate(t);
    return ShortDate(t) + " " + LongTime(t);
  }
};

// A fixed rendering, "2010/05/03 9:05:07" style: yyyy/mm/dd and h:mm:ss.
// Used by tests and wherever a stable text is wanted.
class FixedDateTimeFormat final : public DateTimeFormat {
 public:
  std::string ShortDate(const LocalDateTime& t) const override;
  std::string LongTime(const LocalDateTime& t) const override;
};

// The operating system's locale rendering.
std::unique_ptr<DateTimeFormat> MakePlatformDateTimeFormat();

}  // namespace raid
