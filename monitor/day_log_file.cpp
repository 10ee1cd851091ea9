#include "monitor/day_log_file.h"

#include <cstdio>

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

}  // namespace raid
