#include "monitor/day_log_file.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

namespace raid {

bool FileExists(const std::string& path) { return StatNoFollow(path).regular; }

Outcome ReadTextLines(const std::string& path, std::vector<std::string>& lines, uint64_t maxBytes, FileStamp* stamp) {
  // The stamp is taken before the read: a change made during the read then
  // shows as a difference at the next look.
  if (stamp) *stamp = StatNoFollow(path);
  std::string text;
  const Outcome r = ReadPlainFile(path, maxBytes, text);
  if (!r.ok()) return r;
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out.emplace_back(text, start, i - start);
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) out.emplace_back(text, start);
  lines = std::move(out);
  return Outcome::Ok();
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string text;
  size_t total = 0;
  for (const auto& l : lines) total += l.size() + 2;
  text.reserve(total);
  for (const auto& l : lines) {
    text += l;
    text += "\r\n";
  }
  return text;
}

Outcome WriteTextLinesAtomic(const std::string& path, const std::vector<std::string>& lines, FileStamp* written) {
  return ReplaceFile(path, JoinCrLf(lines), written);
}

std::string MoveAside(const std::string& path) {
  for (int n = 1; n < 1000; ++n) {
    const std::string dest = path + ".old" + std::to_string(n);
    if (StatNoFollow(dest).exists) continue;
    // rename moves a link itself, never what it points to.
    return std::rename(path.c_str(), dest.c_str()) == 0 ? dest : std::string();
  }
  return {};
}

namespace {

// The day a day log's file name stands for ("100503.log": 2010-05-03), as
// days since 1970; nothing for any other name or an impossible date.
std::optional<int64_t> DayOfLogName(const std::string& name) {
  if (name.size() != 10 || name.compare(6, 4, ".log") != 0) return std::nullopt;
  for (size_t i = 0; i < 6; ++i)
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
  auto two = [&](size_t at) { return (name[at] - '0') * 10 + (name[at + 1] - '0'); };
  using namespace std::chrono;
  const year_month_day date{year{2000 + two(0)}, month{static_cast<unsigned>(two(2))},
                            day{static_cast<unsigned>(two(4))}};
  if (!date.ok()) return std::nullopt;
  return sys_days{date}.time_since_epoch().count();
}

}  // namespace

std::vector<std::string> RemoveOldDayLogs(const std::string& folder, int keepDays, const LocalDateTime& today,
                                          std::string& error) {
  using namespace std::chrono;
  std::vector<std::string> removed;
  error.clear();
  const year_month_day now{year{today.year}, month{static_cast<unsigned>(today.month)},
                           day{static_cast<unsigned>(today.day)}};
  if (keepDays <= 0 || !now.ok()) return removed;
  const int64_t oldestKept = sys_days{now}.time_since_epoch().count() - keepDays;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const std::optional<int64_t> dayOfFile = DayOfLogName(name);
    if (!dayOfFile || *dayOfFile >= oldestKept) continue;
    // Looked at without following a link; a link is removed by nobody here.
    std::error_code sec;
    if (!std::filesystem::is_regular_file(it->symlink_status(sec)) || sec) continue;
    if (std::filesystem::remove(it->path(), sec))
      removed.push_back(name);
    else if (sec && error.empty())
      error = "cannot remove " + it->path().string() + ": " + sec.message();
  }
  if (ec && error.empty()) error = "cannot list " + folder + ": " + ec.message();
  return removed;
}

std::string DayLogRetention::Check(const LocalDateTime& now, const LocalDateTime& machineNow) {
  if (keepDays_ <= 0 || (ran_ && lastDay_.SameDay(now))) return "";
  ran_ = true;
  lastDay_ = now;
  std::string error;
  const LocalDateTime& judge = ToLocalMs(machineNow) < ToLocalMs(now) ? machineNow : now;
  const std::vector<std::string> removed = RemoveOldDayLogs(folder_, keepDays_, judge, error);
  std::string text;
  if (!removed.empty())
    text = "removed " + std::to_string(removed.size()) + " day log file" + (removed.size() == 1 ? "" : "s") +
           " dated more than " + std::to_string(keepDays_) + " days back (--keep-days)";
  if (!error.empty()) text += (text.empty() ? "" : "; ") + ("old day log files: " + error);
  return text;
}

}  // namespace raid
