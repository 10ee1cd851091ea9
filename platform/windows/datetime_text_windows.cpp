#include <windows.h>

#include "platform/windows/windows_time.h"

#include "platform/datetime_text.h"

namespace raid {

namespace {

// The user's locale: short date format and long time format.
class WindowsDateTimeFormat final : public DateTimeFormat {
 public:
  std::string ShortDate(const LocalDateTime& t) const override {
    const SYSTEMTIME s = ToSystemTime(t);
    char buf[128] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &s, nullptr, buf, sizeof buf);
    return buf;
  }
  std::string LongTime(const LocalDateTime& t) const override {
    const SYSTEMTIME s = ToSystemTime(t);
    char buf[128] = {};
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &s, nullptr, buf, sizeof buf);
    return buf;
  }
};
}  // namespace

std::unique_ptr<DateTimeFormat> MakePlatformDateTimeFormat() { return std::make_unique<WindowsDateTimeFormat>(); }

}  // namespace raid
