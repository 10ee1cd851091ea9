// raidctl check: the enclosures' health for a monitoring system, in the
// plugin convention those systems share: one line "RAID STATE - summary |
// performance data" on standard output and the exit code 0 OK, 1 WARNING,
// 2 CRITICAL, 3 UNKNOWN. The health is judged from the same versioned
// document `raidctl status --json` prints, so the two never disagree.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/common/status_report.h"

namespace CLI {
class App;
}

namespace raid {

class CommandLine;

enum class CheckState { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

struct CheckOptions {
  int expect = 0;  // enclosures that must be found; fewer is CRITICAL (0: at least one)
  // Judge the file a running raidmon writes (--status-file) instead of
  // reading the enclosures: the only way while the monitor holds them.
  std::string statusFile;
};

// A status file older than this means the monitor that writes it stopped.
constexpr int kStatusFileMaxAgeSeconds = 120;

struct CheckResult {
  CheckState state = CheckState::Unknown;
  std::string line;  // the whole output line, without its newline
};

const char* CheckStateName(CheckState s);

// Judges a status document ({"version":1,"enclosures":[...]}). Anything that
// does not have the expected shape is UNKNOWN, never OK.
CheckResult EvaluateStatus(const nlohmann::json& doc, const CheckOptions& options);
// Judges options.statusFile: UNKNOWN when it is missing, unreadable, not a
// status document or older than kStatusFileMaxAgeSeconds.
CheckResult CheckStatusFile(const CheckOptions& options);
// The line for a check that could not look at the enclosures (exit code 3).
CheckResult UnknownResult(const std::string& reason);

// check in raidctl's command-line table; its values are kept here until
// Finish.
class CheckTable {
 public:
  void Add(CommandLine& line, CLI::App& root);
  // After a parse that chose check: its options, or the mistake (empty
  // when there is none).
  std::string Finish(const CommandLine& line, CheckOptions& out) const;

 private:
  std::string expect_, statusFile_;
};

}  // namespace raid
