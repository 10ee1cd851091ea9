#include "app/raidmon/metrics_file.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "app/common/status_report.h"
#include "monitor/metrics_text.h"
#include "monitor/raid_core.h"
#include "platform/file_io.h"

namespace raid {

void MetricsFile::Update(const RaidCore& core, uint64_t mailFailures) {
  const auto& accepted = core.Monitoring().AcceptedCount;
  // The wall clock, not the program's: a scraper compares it with its own
  // time to find a monitor that stopped polling.
  const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  for (size_t d = 0; d < accepted.size(); ++d) {
    if (accepted[d] == seen_[d]) continue;
    seen_[d] = accepted[d];
    lastPoll_[d] = std::round(now * 1000) / 1000;
  }
  std::string text = MetricsText(AcceptedMetrics(core, lastPoll_, mailFailures));
  if (text == written_) return;
  if (const Outcome r = ReplaceFile(path_, text, nullptr, FileAccess::ReadableByAll); !r.ok()) {
    if (!errorSaid_)
      std::fprintf(stderr, "raidmon: the metrics file %s cannot be written: %s\n", path_.c_str(), r.error().c_str());
    errorSaid_ = true;
    return;
  }
  written_ = std::move(text);
  errorSaid_ = false;
}

}  // namespace raid
