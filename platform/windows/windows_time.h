// A program date-time as the system's own time record.
#pragma once

#include <windows.h>

#include "platform/clock.h"

namespace raid {

inline SYSTEMTIME ToSystemTime(const LocalDateTime& t) {
  SYSTEMTIME s{};
  s.wYear = static_cast<WORD>(t.year);
  s.wMonth = static_cast<WORD>(t.month);
  s.wDay = static_cast<WORD>(t.day);
  s.wHour = static_cast<WORD>(t.hour);
  s.wMinute = static_cast<WORD>(t.minute);
  s.wSecond = static_cast<WORD>(t.second);
  return s;
}

}  // namespace raid
