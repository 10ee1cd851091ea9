// raidmon --metrics-file: the Prometheus text (monitor/metrics_text.h)
// written after every poll and every detection, for node exporter's
// textfile collector to serve.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/device_state.h"

namespace raid {

class RaidCore;

class MetricsFile {
 public:
  explicit MetricsFile(std::string path) : path_(std::move(path)) { lastPoll_.fill(-1); }

  // Main thread, after each step of the core: notes the time of every
  // record a poll accepted since the last call and rewrites the file when
  // its text changed (every poll changes its time; a detection changes the
  // enclosures). The file is replaced whole (a new file renamed over it,
  // mode 0644 whatever the mask), so the collector never reads half of
  // it. A failure is said once on stderr until a write succeeds again.
  void Update(const RaidCore& core, uint64_t mailFailures);

 private:
  std::string path_;
  std::array<uint64_t, kPhysicalDrives> seen_{};
  std::array<double, kPhysicalDrives> lastPoll_{};
  std::string written_;
  bool errorSaid_ = false;
};

}  // namespace raid
