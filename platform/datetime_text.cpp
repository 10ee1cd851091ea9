#include "platform/datetime_text.h"

#include <cstdio>

namespace raid {

std::string FixedDateTimeFormat::ShortDate(const LocalDateTime& t) const {
  char b[32];
  std::snprintf(b, sizeof b, "%04d/%02d/%02d", t.year, t.month, t.day);
  return b;
}

std::string FixedDateTimeFormat::LongTime(const LocalDateTime& t) const {
  char b[32];
  std::snprintf(b, sizeof b, "%d:%02d:%02d", t.hour, t.minute, t.second);
  return b;
}

}  // namespace raid
