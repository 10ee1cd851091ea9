#include "monitor/event_log.h"

#include <algorithm>
#include <cstdio>

#include "monitor/day_log_file.h"
#include "monitor/status_record.h"

namespace raid {

namespace {
constexpr int kPanel = 4;
}

const std::string& EventLog::DashLine() {
  static const std::string dash(83, '-');
  return dash;
}

EventLog::EventLog(DeviceState& st, MonitorState& ms, DriveDetector& det, DeviceReport& report, Clock& clock,
                   const DateTimeFormat& fmt, CoreView& view, std::string logDir)
    : st_(st), ms_(ms), det_(det), report_(report), clock_(clock), fmt_(fmt), view_(view), logDir_(std::move(logDir)) {
  if (!logDir_.empty() && logDir_.back() != '/' && logDir_.back() != '\\') logDir_ += '/';
}

std::string EventLog::LogPath(const LocalDateTime& t) const {
  char name[16];
  std::snprintf(name, sizeof name, "%02d%02d%02d.log", t.year % 100, t.month % 100, t.day % 100);
  return logDir_ + name;
}

void EventLog::SaveNow() {
  if (dirty_ && haveDay_) Save(LogPath(bufferDay_));
}

void EventLog::Append(const std::string& line) {
  DayLog.push_back(line);
  dirty_ = true;
  view_.LogLineAppended(line);
}

const Sector& EventLog::SlotBlock(uint8_t s) const {
  return ms_.StatusBlock[drive_flags::Drive(st_.DeviceList[s]) % kPhysicalDrives];
}

void EventLog::TakeOverStates(int limit) {
  for (int s = 0; s < limit; ++s) ms_.PrevDriveState[s] = SlotBlock(static_cast<uint8_t>(s))[status::kState];
}

void EventLog::OpenDay(const std::string& path, bool& full) {
  const bool sameDay = haveDay_ && bufferDay_.SameDay(EventTime);
  if (FileExists(path)) {
    full = false;
    // (A buffer of today with unsaved lines already holds the file's lines.)
    if (st_.FirstFill && !(sameDay && dirty_)) {
      std::vector<std::string> lines;
      const FileResult r = ReadTextLines(path, lines);
      if (r.ok) {
        DayLog = std::move(lines);
        unreadPath_.clear();
      } else if (r.error.rfind("larger than", 0) == 0) {
        // Too large to hold: kept whole under another name, the day restarts.
        const std::string aside = MoveAside(path);
        view_.SetPanelText(kPanel, aside.empty() ? "Log file " + path + " is " + r.error + " and cannot be moved"
                                                 : "Log file was " + r.error + ", kept as " + aside);
        if (aside.empty()) unreadPath_ = path;
        if (!sameDay) DayLog.clear();
        full = true;
      } else {
        view_.SetPanelText(kPanel, "Log file cannot be read: " + r.error);
        unreadPath_ = path;
      }
    }
  } else {
    // A new day, or the file was removed. Lines of today whose save never
    // reached the disk are kept, so nothing is lost.
    if (!(sameDay && !bufferSaved_)) DayLog.clear();
    if (!st_.FirstFill) Append(DashLine());
    full = true;
  }
  if (!sameDay) bufferSaved_ = false;
  haveDay_ = true;
  bufferDay_ = EventTime;
}

void EventLog::DetectEvents(uint8_t slotMask) {
  const int limit = std::min<int>(st_.DeviceCount, 4);
  bool changed = false;
  EventTime = clock_.Now();
  const std::string stamp = fmt_.Stamp(EventTime);
  const std::string path = LogPath(EventTime);
  bool full = false;
  OpenDay(path, full);

  if (st_.FirstFill) {
    Append(DashLine());
    Append("RAID GUI v0.23-1 has started from " + stamp);
    TakeOverStates(limit);
    full = true;
  } else if (PendingDeviceLines) {
    Append(DashLine());
    for (const auto& l : PendingLines) Append(l + stamp);
    PendingLines.clear();
    PendingDeviceLines = 0;
    TakeOverStates(limit);
    full = true;
  }

  if (full) {
    for (int s = 0; s < limit; ++s) {
      if (!(slotMask & (1u << s))) continue;
      std::vector<std::string> block;
      report_.AppendDeviceInfoBlock(block, static_cast<uint8_t>(s), ReportForm::Log);
      for (const auto& l : block) Append(l);
    }
    Append(DashLine());
    changed = true;
  }

  for (int si = 0; si < limit; ++si) {
    const auto s = static_cast<uint8_t>(si);
    if (!(slotMask & (1u << s))) continue;
    const Sector& b = SlotBlock(s);
    if (!full && ms_.PrevDriveState[s] != b[status::kState]) {
      const uint8_t old = ms_.PrevDriveState[s] == 255 ? 0 : ms_.PrevDriveState[s];
      ms_.PrevDriveState[s] = b[status::kState];
      changed = true;
      DriveEvents(s, b, old, stamp);
    }
    if (Activity(s, b, stamp)) changed = true;
    if (BadSectors(s, b, stamp)) changed = true;
  }
  st_.ScanAbortRequest.fill(0);
  if (changed) Save(path);
}

void EventLog::DetailLines(const Sector& b, int x) {
  const size_t modelAt = x == 0 ? status::kHdd1Model : status::kHdd2Model;
  const size_t serialAt = x == 0 ? status::kHdd1Serial : status::kHdd2Serial;
  const size_t capAt = x == 0 ? status::kHdd1Capacity : status::kHdd2Capacity;
  const uint64_t sectors = Sectors40(b, capAt);
  Append("  Model no.: " + ModelText(b, modelAt));
  Append("  Serial no.: \"" + AtaText(b, serialAt, status::kSerialLen) + "\"");
  Append("  Capacity : " + std::to_string(Gigabytes(sectors)) + " GB(" + std::to_string(sectors) + " Sectors)");
}

void EventLog::DriveEvents(uint8_t s, const Sector& b, uint8_t oldState, const std::string& stamp) {
  const std::string d = "D" + std::to_string(s + 1);
  const uint8_t now = b[status::kState];
  for (int x = 0; x < 2; ++x) {
    const int shift = x * 4;
    const uint8_t nb = static_cast<uint8_t>((now >> shift) & 0x0F);
    const uint8_t ob = static_cast<uint8_t>((oldState >> shift) & 0x0F);
    const std::string hdd = x == 0 ? "HDD1" : "HDD2";
    for (const uint8_t bit : {status::kAbsent, status::kPresent, status::kFailed, status::kInserted}) {
      if (!(nb & bit)) continue;
      if (!(ob & bit)) {
        if (bit == status::kAbsent) {
          Append(d + " " + hdd + " was removed, " + stamp);
          report_.BuildDeviceReport(1, s, static_cast<uint8_t>(x));
        } else if (bit == status::kPresent) {
          const uint8_t speed = static_cast<uint8_t>((b[status::kLinkSpeed] >> shift) & 0x0F);
          Append(d + (x == 0 ? " HDD1 was initialized (SATA" : " HDD2 was initialized, (SATA") +
                 LinkSpeedText(speed) + "), " + stamp);
          DetailLines(b, x);
        } else if (bit == status::kFailed) {
          Append(d + " " + hdd + " was failed, Capacity too small." + stamp);
          DetailLines(b, x);
        } else {
          Append(d + " " + hdd + " was inserted, " + stamp);
        }
      }
      break;  // the first set bit decides; later rows are not looked at
    }
  }
}

bool EventLog::Activity(uint8_t s, const Sector& b, const std::string& stamp) {
  const std::string d = "D" + std::to_string(s + 1);
  const bool bothPresent = (b[status::kState] & status::kBothPresent) == status::kBothPresent;
  const uint8_t p = b[status::kProgress];
  const uint8_t a = b[status::kActivity];
  uint8_t& last = ms_.LastProgress[s];
  const bool target0 = ms_.ActivityTarget[s] == 0;
  if (a & (status::kActHdd1 | status::kActHdd2)) {
    ms_.ScanRunning[s] = (ms_.ScanCapable && (a & status::kActIsScan)) ? 1 : 0;
    if (last != kNoProgress && last == p) return false;
    last = p;
    ms_.ActivityTarget[s] = (a & status::kActHdd1) ? 0 : 1;
    const bool t0 = ms_.ActivityTarget[s] == 0;
    const std::string pct = std::to_string(p) + "%, ";
    if (ms_.ScanRunning[s])
      Append(d + (t0 ? " HDD1 Scan " : " HDD2 Scan ") + pct + stamp);
    else
      Append(d + (t0 ? " HDD2 --> HDD1 " : " HDD1 --> HDD2 ") + pct + stamp);
    return true;
  }
  bool changed = false;
  if (ms_.ScanRunning[s] == 1) {
    const std::string scan = target0 ? " HDD1 Scan " : " HDD2 Scan ";
    if (st_.ScanAbortRequest[s]) {
      Append(d + scan + "User Abort, " + stamp);
      changed = true;
    } else if (last != kNoProgress && bothPresent) {
      Append(last == 99 ? d + scan + "Done, " + stamp : d + " HDD1 OK, HDD2 OK, " + stamp);
      changed = true;
    }
    last = kNoProgress;
    ms_.ScanRunning[s] = 0;
  } else if (last != kNoProgress) {
    if (bothPresent) {
      Append(last == 99 ? d + (target0 ? " HDD2 --> HDD1 " : " HDD1 --> HDD2 ") + "Done, " + stamp
                        : d + " HDD1 OK, HDD2 OK, " + stamp);
      changed = true;
    }
    last = kNoProgress;
  }
  return changed;
}

bool EventLog::BadSectors(uint8_t s, const Sector& b, const std::string& stamp) {
  const uint8_t a = b[status::kActivity];
  if (!(a & (status::kBadHdd1 | status::kBadHdd2))) return false;
  const uint8_t c = b[status::kBadCount];
  uint8_t& r = ms_.BadSectorsReported[s];
  if (c == 0 || c == r) return false;
  if (c < r) {
    r = c;
    return false;
  }
  const int first = (c - r > 10) ? c - 10 : r;
  const std::string d = "D" + std::to_string(s + 1);
  const std::string h1 = d + " HDD1 Bad Sector was found. " + stamp;
  const std::string h2 = d + " HDD2 Bad Sector was found. " + stamp;
  const bool bad1 = a & status::kBadHdd1, bad2 = a & status::kBadHdd2;
  const bool scanning = ms_.ScanRunning[s] == 1;
  if (bad2 && !bad1) {
    Append(h2);
  } else if (bad1 && !bad2) {
    Append(h1);
  } else if (a & status::kActHdd1) {
    Append(scanning ? h1 : h2);  // a rebuild towards HDD1 reads from HDD2
  } else if (a & status::kActHdd2) {
    Append(scanning ? h2 : h1);
  } else if (b[status::kState] & status::kPresent) {
    Append(h1);
  } else if (b[status::kState] & (status::kPresent << 4)) {
    Append(h2);
  }
  for (int k = first; k < c; ++k)
    Append("  LBA: " + std::to_string(LoadLE(b, status::kBadRing + 4 * (k % 10), 4)));
  r = c;
  return true;
}

void EventLog::Save(const std::string& path) {
  if (unreadPath_ == path) {
    // Earlier lines of this file are not in the buffer yet: take them first.
    std::vector<std::string> lines;
    const FileResult r = ReadTextLines(path, lines);
    if (!r.ok) {
      if (!saveErrorShown_) view_.SetPanelText(kPanel, "Log file cannot be read: " + r.error);
      saveErrorShown_ = true;
      return;
    }
    lines.insert(lines.end(), DayLog.begin(), DayLog.end());
    DayLog = std::move(lines);
    unreadPath_.clear();
  }
  const FileResult r = WriteTextLinesAtomic(path, DayLog);
  if (r.ok) {
    bufferSaved_ = true;
    dirty_ = false;
    if (saveErrorShown_) view_.SetPanelText(kPanel, " ");
    saveErrorShown_ = false;
    return;
  }
  if (!saveErrorShown_) view_.SetPanelText(kPanel, "Log file cannot be saved: " + r.error);
  saveErrorShown_ = true;
}

void EventLog::DetectDeviceChanges() {
  const int m = st_.DeviceCount;
  const int n = det_.GroupCount;
  if (m == n) return;
  auto same = [&](int c, int k) {
    return det_.PrevIdentSector[drive_flags::Drive(st_.DeviceList[c]) % kPhysicalDrives] ==
           det_.IdentSector[drive_flags::Drive(det_.GroupTable[k]) % kPhysicalDrives];
  };
  auto found = [&](int k) {
    PendingLines.push_back("D" + std::to_string(k + 1) + " New Device was found.");
    PendingDeviceLines = 1;
  };
  auto removed = [&](int c) {
    PendingLines.push_back("D" + std::to_string(c + 1) + " Device was removed.");
    PendingDeviceLines = 1;
    report_.BuildDeviceReport(2, static_cast<uint8_t>(c), 0);
  };
  if (m == 0) {
    for (int k = 0; k < n; ++k) found(k);
  } else if (n == 0) {
    for (int c = 0; c < m; ++c) removed(c);
  } else {
    int c = 0, i = 0;
    for (;;) {
      view_.ProcessMessages();
      if (same(c, i)) {
        ++c;
        ++i;
      } else {
        int j = i;
        while (j < n && !same(c, j)) ++j;
        if (j < n) {
          for (int k = i; k < j; ++k) found(k);
          i = j + 1;
        } else {
          removed(c);
        }
        ++c;
      }
      if (c >= m) {
        for (int k = i; k < n; ++k) found(k);
        break;
      }
      if (i >= n) {
        for (int k = c; k < m; ++k) removed(k);
        break;
      }
    }
  }
  if (PendingDeviceLines) PendingLines.push_back("    Device had changed.");
}

}  // namespace raid
