// Reading and writing a day log file: text lines ended by CR LF, read whole,
// written whole. A save writes a new file beside the old one and renames it
// over, so a crash, a full disk or a killed process mid-save leaves the
// previous file intact; no link in the log folder is ever followed.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"

namespace raid {

// Files larger than this are not read into memory.
constexpr uint64_t kMaxDayLogBytes = 64ull * 1024 * 1024;

// A plain file (not a link) is at path.
bool FileExists(const std::string& path);
// Reads the lines of a text file (CR LF, LF or CR ends; a last line without
// an end counts). Files above maxBytes and links are refused.
Outcome ReadTextLines(const std::string& path, std::vector<std::string>& lines, uint64_t maxBytes = kMaxDayLogBytes,
                      FileStamp* stamp = nullptr);
// Replaces the file atomically with the lines, each ended by CR LF.
Outcome WriteTextLinesAtomic(const std::string& path, const std::vector<std::string>& lines,
                             FileStamp* written = nullptr);
// The lines as the file holds them.
std::string JoinCrLf(const std::vector<std::string>& lines);
// Removes the day log files of folder dated more than keepDays days before
// today: plain files named like a day log (yymmdd.log, a real date of
// 20yy); links, folders and every other name are left alone. Returns the
// names removed; error receives what could not be listed or removed.
std::vector<std::string> RemoveOldDayLogs(const std::string& folder, int keepDays, const LocalDateTime& today,
                                          std::string& error);
// --keep-days in a running program: the old day files go at start and on
// each new day of the program's clock.
class DayLogRetention {
 public:
  // keepDays 0: nothing is ever removed.
  DayLogRetention(std::string folder, int keepDays) : folder_(std::move(folder)), keepDays_(keepDays) {}
  // Called at start and after each step; once a day it removes the old day
  // files and returns what to tell ("" when it removed nothing and nothing
  // failed). now is the program's time; machineNow the machine's own. A
  // file goes only when it is old by both: a simulated run's clock, which
  // may stand years ahead, never removes the machine's recent day files.
  std::string Check(const LocalDateTime& now, const LocalDateTime& machineNow);

 private:
  std::string folder_;
  int keepDays_;
  bool ran_ = false;
  LocalDateTime lastDay_;
};
// Moves a file (or a link, never its target) aside to the first free
// "<path>.old<N>"; returns the new name or "" when it could not be moved.
std::string MoveAside(const std::string& path);

}  // namespace raid
