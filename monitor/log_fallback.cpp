#include "monitor/log_fallback.h"

#include "monitor/day_log_file.h"

namespace raid {

namespace {
// A day's fallback file is added to up to this size; then the next name.
constexpr uint64_t kMaxFallbackBytes = 64ull << 20;
}  // namespace

std::string FallbackFolder() {
  const std::string state = UserStateFolder();
  return state.empty() ? std::string() : state + "/raidgui";
}

FallbackResult WriteFallbackFiles(const std::vector<EventLog::UnsavedDay>& days, const std::string& folder) {
  FallbackResult r;
  for (const auto& d : days) r.lines += d.lines.size();
  if (r.lines == 0) return r;
  if (folder.empty()) {
    r.outcome = Outcome::Fail("no state folder (neither XDG_STATE_HOME nor HOME is set)");
    return r;
  }
  const Outcome made = MakeFolders(folder);
  if (!made.ok()) {
    r.outcome = made;
    return r;
  }
  for (const auto& d : days) {
    if (d.lines.empty()) continue;
    const size_t slash = d.path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? d.path : d.path.substr(slash + 1);
    const std::string text = JoinCrLf(d.lines);
    // One file per day: a later exit adds to the day's file instead of
    // leaving another one. A name held by anything but a plain file (a
    // link, a folder) or by a file grown too large is passed over.
    Outcome w = Outcome::Fail("no free name");
    for (int n = 1; n < 10000 && !w.ok(); ++n) {
      const std::string path = folder + "/" + name + ".unsaved-" + std::to_string(n);
      if (StatNoFollow(path).exists) {
        std::string before;
        if (!ReadPlainFile(path, kMaxFallbackBytes, before).ok()) continue;
        w = ReplaceFile(path, before + text, nullptr, FileAccess::OwnerOnly);
        if (w.ok()) r.files.push_back(path);
        continue;
      }
      w = CreateNewFile(path, text);
      if (w.ok())
        r.files.push_back(path);
      else if (StatNoFollow(path).exists)
        continue;  // taken meanwhile: the next name
      else
        break;
    }
    if (!w.ok()) {
      r.outcome = Outcome::Fail(folder + ": " + w.error());
      return r;
    }
  }
  return r;
}

std::string FallbackMessage(const FallbackResult& r, const std::string& logDir) {
  std::string m =
      std::to_string(r.lines) + (r.lines == 1 ? " log line" : " log lines") + " could not be saved to " + logDir;
  if (!r.ok()) return m + ", nor set aside: " + r.error();
  m += r.lines == 1 ? "; it is in " : "; they are in ";
  for (size_t i = 0; i < r.files.size(); ++i) m += (i ? ", " : "") + r.files[i];
  return m;
}

}  // namespace raid
