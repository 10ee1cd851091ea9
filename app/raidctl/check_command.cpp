#include "app/raidctl/check_command.h"

#include <chrono>
#include <filesystem>

#include <CLI/CLI.hpp>

#include "app/common/command_line.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cctype>

namespace raid {

namespace {

using nlohmann::json;

CheckState Worse(CheckState a, CheckState b) {
  // Severity order: OK < WARNING < UNKNOWN < CRITICAL; a CRITICAL finding is
  // never hidden behind an enclosure that could not be read.
  auto rank = [](CheckState s) {
    switch (s) {
      case CheckState::Ok: return 0;
      case CheckState::Warning: return 1;
      case CheckState::Unknown: return 2;
      case CheckState::Critical: return 3;
    }
    return 2;
  };
  return rank(a) >= rank(b) ? a : b;
}

// A label for performance data: letters, digits and '_' only, so no quote
// or '=' from a device name can break the line.
std::string Label(const std::string& s) {
  std::string out;
  for (char c : s) out += (std::isalnum(static_cast<unsigned char>(c)) || c == '_') ? c : '_';
  return out;
}

const std::string* Str(const json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

bool Int(const json& j, const char* key, long long& out) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_number_integer()) return false;
  out = it->get<long long>();
  return true;
}

struct Finding {
  CheckState state = CheckState::Ok;
  std::vector<std::string> notes;
  void Add(CheckState s, std::string note) {
    state = Worse(state, s);
    notes.push_back(std::move(note));
  }
};

// One enclosure: its findings and its performance data.
void Judge(const json& e, Finding& f, std::string& perf, std::string& summary) {
  const std::string* nameText = Str(e, "name");
  const std::string name = nameText ? *nameText : "enclosure";
  Finding own;
  if (!e.is_object() || !nameText) {
    own.Add(CheckState::Unknown, "unreadable entry");
  } else if (const std::string* err = Str(e, "error")) {
    own.Add(CheckState::Unknown, *err);
  } else {
    const std::string* state = Str(e, "state");
    const auto drives = e.find("drives");
    if (!state || drives == e.end() || !drives->is_array()) {
      own.Add(CheckState::Unknown, "status without array state or drives");
    } else {
      for (const json& d : *drives) {
        const std::string* dn = d.is_object() ? Str(d, "name") : nullptr;
        const std::string* ds = d.is_object() ? Str(d, "state") : nullptr;
        if (!dn || !ds) {
          own.Add(CheckState::Unknown, "a drive without name or state");
        } else if (*ds == "failed" || *ds == "absent") {
          own.Add(CheckState::Critical, *dn + " " + *ds);
        } else if (*ds == "inserted") {
          own.Add(CheckState::Warning, *dn + " inserted");
        }
      }
      if (*state == "Failure")
        own.Add(CheckState::Critical, "array failed");
      else if (*state == "Single HDD Present")
        own.Add(CheckState::Critical, "degraded, one drive present");
      else if (*state != "Normal")
        own.Add(CheckState::Unknown, "array state \"" + *state + "\"");
    }
    const auto act = e.find("activity");
    if (act != e.end() && act->is_object()) {
      const std::string* kind = Str(*act, "kind");
      const std::string* drive = Str(*act, "drive");
      long long progress = 0;
      if (kind && drive) {
        // null: the record's progress was out of range, not known.
        const bool known = Int(*act, "progress", progress) && progress >= 0 && progress <= 100;
        own.Add(CheckState::Warning, (*kind == "scan" ? "scanning " : "rebuilding towards ") + *drive +
                                         (known ? " " + std::to_string(progress) + "%" : ", progress unknown"));
        if (known) perf += " '" + Label(name) + "_progress'=" + std::to_string(progress) + "%;;;0;100";
      } else {
        own.Add(CheckState::Unknown, "activity without kind, drive or progress");
      }
    }
    long long v = 0;
    const auto temp = e.find("temperature");
    if (temp != e.end() && temp->is_object() && Int(*temp, "celsius", v)) {
      perf += " '" + Label(name) + "_temperature'=" + std::to_string(v);
      if (temp->value("alarm", false)) own.Add(CheckState::Warning, "temperature alarm " + std::to_string(v) + " C");
    }
    const auto fan = e.find("fan");
    if (fan != e.end() && fan->is_object() && Int(*fan, "rpm", v)) {
      perf += " '" + Label(name) + "_fan'=" + std::to_string(v);
      if (fan->value("alarm", false)) own.Add(CheckState::Warning, "fan alarm " + std::to_string(v) + " RPM");
    }
  }
  std::string text = name + ": ";
  if (own.notes.empty()) {
    const std::string* state = Str(e, "state");
    text += state ? *state : "Normal";
  } else {
    for (size_t i = 0; i < own.notes.size(); ++i) text += (i ? ", " : "") + own.notes[i];
  }
  summary += (summary.empty() ? "" : "; ") + text;
  f.state = Worse(f.state, own.state);
}

std::string OneLine(std::string s) {
  std::replace(s.begin(), s.end(), '\n', ' ');
  std::replace(s.begin(), s.end(), '\r', ' ');
  std::replace(s.begin(), s.end(), '|', '/');  // '|' starts the performance data
  return s;
}

}  // namespace

const char* CheckStateName(CheckState s) {
  switch (s) {
    case CheckState::Ok: return "OK";
    case CheckState::Warning: return "WARNING";
    case CheckState::Critical: return "CRITICAL";
    case CheckState::Unknown: return "UNKNOWN";
  }
  return "UNKNOWN";
}

CheckResult UnknownResult(const std::string& reason) {
  return {CheckState::Unknown, "RAID UNKNOWN - " + OneLine(reason)};
}

CheckResult EvaluateStatus(const json& doc, const CheckOptions& options) {
  long long version = 0;
  if (!doc.is_object() || !Int(doc, "version", version) || version != kStatusJsonVersion)
    return UnknownResult("status document of an unknown version");
  const auto list = doc.find("enclosures");
  if (list == doc.end() || !list->is_array()) return UnknownResult("status document without enclosures");
  Finding f;
  std::string perf, summary;
  for (const json& e : *list) Judge(e, f, perf, summary);
  const long long found = static_cast<long long>(list->size());
  const long long wanted = std::max(1, options.expect);
  if (found < wanted) {
    f.state = CheckState::Critical;
    const std::string missing = found == 0
                                    ? "no enclosure found"
                                    : std::to_string(found) + " of " + std::to_string(wanted) + " enclosures found";
    summary = summary.empty() ? missing : missing + "; " + summary;
  }
  perf = " 'enclosures'=" + std::to_string(found) + ";;" + std::to_string(wanted) + ":;0" + perf;
  return {f.state, "RAID " + std::string(CheckStateName(f.state)) + " - " + OneLine(summary) + " |" + perf};
}

void CheckTable::Add(CommandLine& line, CLI::App& root) {
  CLI::App& check = line.Command(root, "check",
                                 "health for a monitoring system: one line, exit code 0 OK, 1 WARNING,\n"
                                 "2 CRITICAL, 3 UNKNOWN (a wrong use too)");
  line.Value(check, "--expect", expect_, "N", "fewer than N enclosures (1-8, default 1) is CRITICAL");
  line.Value(check, "--status-file", statusFile_, "FILE",
             "judge the file a running raidmon --status-file writes (no lock, no\n"
             "enclosure; older than 120 s: UNKNOWN)");
}

std::string CheckTable::Finish(const CommandLine& line, CheckOptions& out) const {
  out = {};
  if (line.Given("--expect")) {
    if (expect_.size() != 1 || expect_[0] < '1' || expect_[0] > '8')
      return "--expect needs a number 1-8, not \"" + expect_ + "\"";
    out.expect = expect_[0] - '0';
  }
  if (line.Given("--status-file")) {
    if (statusFile_.empty()) return "--status-file needs the file raidmon writes";
    out.statusFile = statusFile_;
  }
  return {};
}

CheckResult CheckStatusFile(const CheckOptions& options) {
  std::string text;
  const Outcome read = ReadPlainFile(options.statusFile, 1 << 20, text);
  if (!read.ok()) return UnknownResult("the status file " + options.statusFile + " cannot be read: " + read.error());
  std::error_code ec;
  const auto written = std::filesystem::last_write_time(options.statusFile, ec);
  if (!ec) {
    const auto age =
        std::chrono::duration_cast<std::chrono::seconds>(std::filesystem::file_time_type::clock::now() - written)
            .count();
    if (age > kStatusFileMaxAgeSeconds)
      return UnknownResult("the status file " + options.statusFile + " is " + std::to_string(age) +
                           " s old: is raidmon running?");
    // A file dated ahead (a clock set back, a file copied in) says nothing
    // of whether the monitor still writes it.
    if (-age > kStatusFileMaxAgeSeconds)
      return UnknownResult("the status file " + options.statusFile + " is dated " + std::to_string(-age) +
                           " s in the future: is the clock right?");
  }
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded()) return UnknownResult("the status file " + options.statusFile + " is no status document");
  return EvaluateStatus(doc, options);
}

}  // namespace raid
