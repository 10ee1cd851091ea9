// The program's one source of time. Every piece that needs "now", a pause or
// a date reads it through Clock, so tests and simulated scenarios replay
// exactly and a simulated wait costs nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

namespace raid {

// A local calendar date and time (no time zone), as the user's wall clock
// shows it.
struct LocalDateTime {
  int year = 2000;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  bool IsMidnight() const { return hour == 0 && minute == 0 && second == 0 && millisecond == 0; }
  bool SameDay(const LocalDateTime& o) const { return year == o.year && month == o.month && day == o.day; }
  bool operator==(const LocalDateTime&) const = default;
};

// Milliseconds since 1970-01-01 00:00 of the local wall clock, and back.
int64_t ToLocalMs(const LocalDateTime& t);
LocalDateTime FromLocalMs(int64_t ms);
// The C library's broken-down local time of a date-time (daylight saving
// left to the library).
std::tm ToTm(const LocalDateTime& t);
// Date-time as fractional days since 1899-12-30, the usual desktop
// date-time value (ConnectTime keeps this form).
double ToDayFraction(const LocalDateTime& t);

class Clock {
 public:
  virtual ~Clock() = default;
  // The local wall-clock time now.
  virtual LocalDateTime Now() = 0;
  // A monotonic millisecond counter, for intervals.
  virtual int64_t MonotonicMs() = 0;
  // Wait this long. A simulated clock advances instead of waiting.
  virtual void Sleep(int64_t ms) = 0;
  // Modelled device time: charged to the clock without waiting. A real
  // clock ignores it (the device took the time already).
  virtual void Charge(int64_t ms) = 0;
};

// The machine's real local time.
class SystemClock final : public Clock {
 public:
  LocalDateTime Now() override;
  int64_t MonotonicMs() override;
  void Sleep(int64_t ms) override;
  void Charge(int64_t) override {}
};

// A clock that starts at a fixed local date-time and runs at `speed` times
// real time; charged device time is added on top. Used by simulated runs.
class ScaledClock final : public Clock {
 public:
  ScaledClock(const LocalDateTime& start, double speed);
  LocalDateTime Now() override;
  int64_t MonotonicMs() override;
  void Sleep(int64_t ms) override;
  void Charge(int64_t ms) override { charged_ += ms; }

 private:
  int64_t startLocalMs_;
  int64_t realStartMs_;
  double speed_;
  std::atomic<int64_t> charged_{0};
};

// A clock that moves only when told to: Sleep and Charge advance it. For
// tests and for scenarios that run as fast as the machine allows.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(const LocalDateTime& start = {2010, 5, 3, 9, 0, 0, 0});
  LocalDateTime Now() override { return FromLocalMs(nowMs_.load()); }
  int64_t MonotonicMs() override { return nowMs_.load() - startMs_; }
  void Sleep(int64_t ms) override { Advance(ms); }
  void Charge(int64_t ms) override { Advance(ms); }
  void Advance(int64_t ms) { nowMs_ += ms; }
  void Set(const LocalDateTime& t) { nowMs_ = ToLocalMs(t); }

 private:
  int64_t startMs_;
  std::atomic<int64_t> nowMs_;
};

}  // namespace raid
