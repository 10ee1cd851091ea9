// The monitor's state in the Prometheus text exposition format (version
// 0.0.4), as node exporter's textfile collector reads it: what
// `raidmon --metrics-file` writes. Plain text built from decoded status
// records (monitor/decoded_status.h), never from record bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/decoded_status.h"

namespace raid {

// One published enclosure as the metrics see it.
struct MetricsEnclosure {
  std::string name;   // "Device1", the `enclosure` label (as in the status JSON)
  std::string model;  // the enclosure's model from its identification sector (untrusted)
  // Whether a poll has accepted a record of it; without one only the
  // enclosure count knows of it (nothing is judged from an empty record).
  bool recordRead = false;
  DecodedStatus status;
  // Unix time (seconds) of the last poll that accepted a record; < 0: none.
  double lastPollSeconds = -1;
};

struct MetricsSnapshot {
  std::vector<MetricsEnclosure> enclosures;
  uint64_t mailFailures = 0;  // notification mails that could not be sent since the start
};

// A label value as the format requires: backslash, double quote and line
// feed escaped (\\, \", \n); bytes that are no UTF-8 become U+FFFD, since one
// invalid label value makes the scraper refuse the whole file.
std::string EscapeLabelValue(std::string_view value);

// The whole exposition: HELP and TYPE lines, then the samples of each
// family together; families without a sample are left out.
std::string MetricsText(const MetricsSnapshot& snapshot);

}  // namespace raid
