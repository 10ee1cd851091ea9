// What both responders (the TCMU backstore and the USB gadget) need around
// the SCSI responder: the scenario's clock on the real clock, started on a
// signal so that a story can start it with the program under test; the
// per-command log; and writing configfs attributes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/clock.h"

namespace raid::realkernel {

// CLOCK_MONOTONIC in milliseconds (async-signal-safe).
int64_t MonotonicNowMs();

// When the scenario's timeline started (MonotonicNowMs); -1 while it waits
// for StartTimeline.
extern std::atomic<int64_t> g_timelineStart;
// Starts the timeline now, once; safe in a signal handler (SIGUSR1).
void StartTimeline(int signal = 0);

// The real clock, with the timeline's time standing at 0 until it starts: a
// story starts it as the program under test starts, so that both count the
// scenario's seconds from the same instant.
class TimelineClock final : public Clock {
 public:
  LocalDateTime Now() override { return real_.Now(); }
  int64_t MonotonicMs() override;
  void Sleep(int64_t ms) override { real_.Sleep(ms); }
  void Charge(int64_t) override {}  // a real device takes its time itself

 private:
  SystemClock real_;
};

// One line per command, stamped with the UTC time of day; any thread.
class ResponderLog {
 public:
  ResponderLog() = default;
  ResponderLog(const ResponderLog&) = delete;
  ResponderLog& operator=(const ResponderLog&) = delete;
  ~ResponderLog();
  // No path: nothing is logged. Throws when the file does not open.
  void Open(const std::string& path);
  void Line(const std::string& text);

 private:
  std::mutex mu_;
  std::FILE* f_ = nullptr;
};

// Writes a configfs attribute (or a small file); throws when it fails.
void WriteText(const std::filesystem::path& p, const std::string& text);

}  // namespace raid::realkernel
