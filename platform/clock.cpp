#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace raid {

std::tm ToTm(const LocalDateTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  return tm;
}

namespace {
constexpr int64_t kMsPerDay = 86'400'000;

int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

int64_t ToLocalMs(const LocalDateTime& t) {
  using namespace std::chrono;
  const sys_days days =
      year_month_day{year{t.year}, month{static_cast<unsigned>(t.month)}, day{static_cast<unsigned>(t.day)}};
  const int64_t d = days.time_since_epoch().count();
  return d * kMsPerDay + ((t.hour * 60LL + t.minute) * 60LL + t.second) * 1000LL + t.millisecond;
}

LocalDateTime FromLocalMs(int64_t ms) {
  using namespace std::chrono;
  int64_t d = ms / kMsPerDay;
  int64_t rest = ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --d;
  }
  const year_month_day ymd{sys_days{days{d}}};
  LocalDateTime t;
  t.year = static_cast<int>(ymd.year());
  t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  t.hour = static_cast<int>(rest / 3'600'000);
  t.minute = static_cast<int>(rest / 60'000 % 60);
  t.second = static_cast<int>(rest / 1000 % 60);
  t.millisecond = static_cast<int>(rest % 1000);
  return t;
}

double ToDayFraction(const LocalDateTime& t) {
  // 1899-12-30 is 25569 days before 1970-01-01.
  return 25569.0 + static_cast<double>(ToLocalMs(t)) / static_cast<double>(kMsPerDay);
}

LocalDateTime SystemClock::Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &secs);
#else
  localtime_r(&secs, &tm);
#endif
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms};
}

int64_t SystemClock::MonotonicMs() { return SteadyMs(); }

void SystemClock::Sleep(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ScaledClock::ScaledClock(const LocalDateTime& start, double speed)
    : startLocalMs_(ToLocalMs(start)), realStartMs_(SteadyMs()), speed_(speed > 0 ? speed : 1.0) {}

int64_t ScaledClock::MonotonicMs() {
  return static_cast<int64_t>(static_cast<double>(SteadyMs() - realStartMs_) * speed_) + charged_.load();
}

LocalDateTime ScaledClock::Now() { return FromLocalMs(startLocalMs_ + MonotonicMs()); }

void ScaledClock::Sleep(int64_t ms) {
  if (ms <= 0) return;
  const auto real = static_cast<int64_t>(static_cast<double>(ms) / speed_);
  std::this_thread::sleep_for(std::chrono::milliseconds(real > 0 ? real : 1));
}

ManualClock::ManualClock(const LocalDateTime& start) : startMs_(ToLocalMs(start)), nowMs_(startMs_) {}

}  // namespace raid
