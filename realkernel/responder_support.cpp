#include "realkernel/responder_support.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

namespace raid::realkernel {

int64_t MonotonicNowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::atomic<int64_t> g_timelineStart{-1};

void StartTimeline(int) {
  int64_t expected = -1;
  g_timelineStart.compare_exchange_strong(expected, MonotonicNowMs());
}

int64_t TimelineClock::MonotonicMs() {
  const int64_t start = g_timelineStart.load();
  return start < 0 ? 0 : MonotonicNowMs() - start;
}

ResponderLog::~ResponderLog() {
  if (f_) std::fclose(f_);
}

void ResponderLog::Open(const std::string& path) {
  if (path.empty()) return;
  f_ = std::fopen(path.c_str(), "a");
  if (!f_) throw std::runtime_error("cannot open log " + path + ": " + std::strerror(errno));
}

void ResponderLog::Line(const std::string& text) {
  if (!f_) return;
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t{};
  gmtime_r(&ts.tv_sec, &t);
  std::lock_guard lock(mu_);
  std::fprintf(f_, "%02d:%02d:%02d.%03ld %s\n", t.tm_hour, t.tm_min, t.tm_sec, ts.tv_nsec / 1000000, text.c_str());
  std::fflush(f_);
}

void WriteText(const std::filesystem::path& p, const std::string& text) {
  std::ofstream f(p);
  f << text;
  f.flush();
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

}  // namespace raid::realkernel
