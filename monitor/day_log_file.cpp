#include "monitor/day_log_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace raid {

namespace fs = std::filesystem;

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

FileResult ReadTextLines(const std::string& path, std::vector<std::string>& lines, uint64_t maxBytes) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) return {false, ec.message()};
  if (size > maxBytes) return {false, "larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB"};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {false, std::strerror(errno)};
  std::string text(static_cast<size_t>(size), '\0');
  in.read(text.data(), static_cast<std::streamsize>(size));
  if (in.gcount() != static_cast<std::streamsize>(size)) return {false, "read error"};
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
  return {true, {}};
}

FileResult WriteTextLinesAtomic(const std::string& path, const std::vector<std::string>& lines) {
  const std::string tmp = path + ".new";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return {false, std::strerror(errno)};
    std::string text;
    size_t total = 0;
    for (const auto& l : lines) total += l.size() + 2;
    text.reserve(total);
    for (const auto& l : lines) {
      text += l;
      text += "\r\n";
    }
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      const std::string why = std::strerror(errno);
      out.close();
      std::error_code ec;
      fs::remove(tmp, ec);
      return {false, why.empty() ? "write error" : why};
    }
  }
#ifndef _WIN32
  // The new file's bytes reach the disk before it replaces the old one.
  const int fd = ::open(tmp.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
#endif
  std::error_code ec;
  fs::rename(tmp, path, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(tmp, ignored);
    return {false, ec.message()};
  }
  return {true, {}};
}

std::string MoveAside(const std::string& path) {
  for (int n = 1; n < 1000; ++n) {
    const std::string dest = path + ".old" + std::to_string(n);
    std::error_code ec;
    if (fs::exists(dest, ec)) continue;
    fs::rename(path, dest, ec);
    return ec ? std::string() : dest;
  }
  return {};
}

}  // namespace raid
