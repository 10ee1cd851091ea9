#include <ctime>
#include <clocale>

#include "platform/datetime_text.h"

namespace raid {

namespace {
// The user's LC_TIME rendering through strftime: %x short date, %X time.
class PosixDateTimeFormat final : public DateTimeFormat {
 public:
  PosixDateTimeFormat() { std::setlocale(LC_TIME, ""); }
  std::string ShortDate(const LocalDateTime& t) const override { return Render(t, "%x"); }
  std::string LongTime(const LocalDateTime& t) const override { return Render(t, "%X"); }

 private:
  static std::string Render(const LocalDateTime& t, const char* fmt) {
    std::tm tm = ToTm(t);
    char buf[128];
    const size_t n = std::strftime(buf, sizeof buf, fmt, &tm);
    return std::string(buf, n);
  }
};
}  // namespace

std::unique_ptr<DateTimeFormat> MakePlatformDateTimeFormat() { return std::make_unique<PosixDateTimeFormat>(); }

}  // namespace raid
