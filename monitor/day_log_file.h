// Reading and writing a day log file: text lines ended by CR LF, read whole,
// written whole. A save writes a new file beside the old one and renames it
// over, so a crash, a full disk or a killed process mid-save leaves the
// previous file intact.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace raid {

// Files larger than this are not read into memory.
constexpr uint64_t kMaxDayLogBytes = 64ull * 1024 * 1024;

struct FileResult {
  bool ok = false;
  std::string error;  // why not, for the user
};

bool FileExists(const std::string& path);
// Reads the lines of a text file (CR LF, LF or CR ends; a last line without
// an end counts). Files above maxBytes are refused.
FileResult ReadTextLines(const std::string& path, std::vector<std::string>& lines,
                         uint64_t maxBytes = kMaxDayLogBytes);
// Replaces the file atomically with the lines, each ended by CR LF.
FileResult WriteTextLinesAtomic(const std::string& path, const std::vector<std::string>& lines);
// Moves a file aside to the first free "<path>.old<N>"; returns the new name
// or "" when it could not be moved.
std::string MoveAside(const std::string& path);

}  // namespace raid
