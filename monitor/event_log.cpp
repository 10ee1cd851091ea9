#include "monitor/event_log.h"

#include <algorithm>
#include <cstdio>

#include "monitor/day_log_file.h"
#include "monitor/decoded_status.h"
#include "platform/app_version.h"

namespace raid {

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

void EventLog::AppendNote(const std::string& text) {
  const LocalDateTime now = clock_.Now();
  const std::string line = text + ", " + fmt_.Stamp(now);
  if (!haveDay_ || !bufferDay_.SameDay(now) || st_.FirstFill || !notes_.empty()) {
    notes_.push_back(line);
    return;
  }
  EventTime = now;
  bool full = false;
  OpenDay(LogPath(now), full);
  // The file was gone: the next pass writes the enclosures' block again.
  if (full) noteOpenedDay_ = true;
  Append(line);
  Save(LogPath(now));
}

void EventLog::SaveNow() {
  if (haveDay_) {
    for (const auto& l : notes_) Append(l);
    notes_.clear();
  }
  if (haveDay_ && (dayLog_.size() > savedCount_ || !carried_.empty())) Save(LogPath(bufferDay_));
}

size_t EventLog::UnsavedLineCount() const {
  size_t n = dayLog_.size() - savedCount_;
  for (const auto& d : carried_) n += d.lines.size();
  return n;
}

std::vector<EventLog::UnsavedDay> EventLog::Unsaved() const {
  std::vector<UnsavedDay> out = carried_;
  if (haveDay_ && dayLog_.size() > savedCount_)
    out.push_back({LogPath(bufferDay_),
                   std::vector<std::string>(dayLog_.begin() + static_cast<ptrdiff_t>(savedCount_), dayLog_.end())});
  return out;
}

void EventLog::Append(const std::string& line, const RaidEvent* event, bool headline) {
  dayLog_.push_back(line);
  view_.DayLogEntryAppended({line, event, headline});
}

void EventLog::Log(RaidEvent e, const std::string& stamp) {
  e.time = EventTime;
  const std::vector<std::string> lines = DayLogLines(e, stamp);
  for (size_t i = 0; i < lines.size(); ++i) Append(lines[i], &e, i == 0 && HasHeadline(e));
}

void EventLog::RaiseReport(const RaidEvent& e) {
  if (const uint8_t kind = MailReportKind(e))
    report_.BuildDeviceReport(kind, static_cast<uint8_t>(e.slot), static_cast<uint8_t>(e.drive < 0 ? 0 : e.drive));
}

void EventLog::Queue(const RaidEvent& e) {
  pendingEvents_.push_back(e);
  PendingLines.push_back(DayLogLines(e, "").front());
}

const Sector& EventLog::SlotBlock(uint8_t s) const {
  return ms_.StatusBlock[drive_flags::Drive(st_.DeviceList[s]) % kPhysicalDrives];
}

DecodedStatus EventLog::SlotStatus(uint8_t s) const {
  // The scan capability is the selected slot's, as RefreshIdentity read it.
  return DecodeStatus(SlotBlock(s), {ms_.FirmwareVersion, ms_.ScanCapable, ms_.FanCapable});
}

void EventLog::TakeOverStates(int limit) {
  for (int s = 0; s < limit; ++s) ms_.PrevDriveState[s] = SlotStatus(static_cast<uint8_t>(s)).stateByte;
}

void EventLog::DropSavedLines() {
  dayLog_.erase(dayLog_.begin(), dayLog_.begin() + static_cast<ptrdiff_t>(savedCount_));
  savedCount_ = 0;
  fileStamp_ = {};
}

void EventLog::CarryUnsaved(const std::string& path) {
  if (dayLog_.size() <= savedCount_) return;
  UnsavedDay day{path, std::vector<std::string>(dayLog_.begin() + static_cast<ptrdiff_t>(savedCount_), dayLog_.end())};
  for (auto& d : carried_) {
    if (d.path == path) {
      d.lines.insert(d.lines.end(), day.lines.begin(), day.lines.end());
      return;
    }
  }
  carried_.push_back(std::move(day));
}

bool EventLog::SetAside(const std::string& path, const std::string& why) {
  const std::string aside = MoveAside(path);
  view_.SetPanelText(kMessagePanel, aside.empty() ? "Log file " + path + " is " + why + " and cannot be moved"
                                                  : "Log file was " + why + ", kept as " + aside);
  if (aside.empty()) return false;
  DropSavedLines();  // they are in the file set aside
  return true;
}

bool EventLog::MergeFromFile(const std::string& path) {
  std::vector<std::string> lines;
  FileStamp stamp;
  const Outcome r = ReadTextLines(path, lines, kMaxDayLogBytes, &stamp);
  if (!r.ok()) {
    if (r.error().rfind("larger than", 0) == 0 || r.error().rfind("not a plain file", 0) == 0) {
      // Too large to hold, or a link: kept whole under another name (a link
      // is moved itself, its target never read), and the day restarts.
      SetAside(path, r.error());
      return false;
    }
    if (!saveErrorShown_) view_.SetPanelText(kMessagePanel, "Log file cannot be read: " + r.error());
    saveErrorShown_ = true;
    return false;
  }
  // The file's lines, then ours that it does not hold yet.
  const size_t fileLines = lines.size();
  lines.insert(lines.end(), dayLog_.begin() + static_cast<ptrdiff_t>(savedCount_), dayLog_.end());
  dayLog_ = std::move(lines);
  savedCount_ = fileLines;
  fileStamp_ = stamp;
  return true;
}

void EventLog::OpenDay(const std::string& path, bool& full) {
  const bool sameDay = haveDay_ && bufferDay_.SameDay(EventTime);
  if (!sameDay) {
    // Lines of the day before that never reached its file keep their own
    // file and are saved with the next save.
    if (haveDay_ && !fileless_) CarryUnsaved(LogPath(bufferDay_));
    dayLog_.clear();
    savedCount_ = 0;
    fileStamp_ = {};
    dropped_ = 0;
    haveDropLine_ = false;
  }
  haveDay_ = true;
  bufferDay_ = EventTime;
  FileStamp now = fileless_ ? FileStamp{} : StatNoFollow(path);
  if (now.exists && !now.regular && !now.link) {
    // A folder or a device in the file's place: no save can succeed until
    // it is gone; the day goes on in the buffer.
    full = !sameDay;
    if (!sameDay && !st_.FirstFill) Append(DashLine());
    return;
  }
  if (now.exists && now != fileStamp_ && (st_.FirstFill || !sameDay || now.link)) {
    if (!MergeFromFile(path)) now = StatNoFollow(path);
  }
  if (now.regular) {
    full = false;
    return;
  }
  if (!sameDay || fileStamp_.exists || savedCount_ > 0) {
    // A new day, or the file this day had was removed (its lines left with
    // it; ours that never reached it stay).
    if (sameDay) DropSavedLines();
    if (!st_.FirstFill) Append(DashLine());
    full = true;
  } else {
    // The day's file has never been created: the same day goes on.
    full = false;
  }
}

void EventLog::DetectEvents(uint8_t slotMask, const std::array<bool, 4>& scanStopsSent) {
  const int limit = std::min<int>(st_.DeviceCount, 4);
  bool changed = false;
  EventTime = clock_.Now();
  const std::string stamp = fmt_.Stamp(EventTime);
  const std::string path = LogPath(EventTime);
  bool full = false;
  OpenDay(path, full);
  if (noteOpenedDay_) full = true;
  noteOpenedDay_ = false;

  if (st_.FirstFill) {
    Append(DashLine());
    Append(AppTitleText() + " has started from " + stamp);
    TakeOverStates(limit);
    full = true;
  } else if (PendingDeviceLines_) {
    Append(DashLine());
    owedBlocks_ = 0;
    for (const auto& e : pendingEvents_) {
      Log(e, stamp);
      if (e.kind == EventKind::EnclosureFound && e.slot < 4) owedBlocks_ |= static_cast<uint8_t>(1u << e.slot);
    }
    pendingEvents_.clear();
    PendingLines.clear();
    PendingDeviceLines_ = 0;
    TakeOverStates(limit);
    full = true;
  }

  auto blocks = [&](uint8_t mask) {
    for (int s = 0; s < limit; ++s) {
      if (!(mask & (1u << s))) continue;
      owedBlocks_ &= static_cast<uint8_t>(~(1u << s));
      std::vector<std::string> block;
      report_.AppendDeviceInfoBlock(block, static_cast<uint8_t>(s), ReportForm::Log);
      for (const auto& l : block) Append(l);
    }
    // The group of a device change closes after its last information
    // block: one owed to an enclosure whose first read failed closes it
    // when it comes, so the day log reads the same as when the disk was
    // ready at once.
    if (!(owedBlocks_ & ~mask)) Append(DashLine());
    changed = true;
  };
  if (full) {
    blocks(slotMask);
  } else if (const uint8_t late = owedBlocks_ & slotMask) {
    // An enclosure found when its first read failed (a disk that is not
    // ready yet right after it was plugged in) gets its information block
    // with its first record.
    blocks(late);
  }

  if (!notes_.empty()) {
    for (const auto& l : notes_) Append(l);
    notes_.clear();
    changed = true;
  }

  for (int si = 0; si < limit; ++si) {
    const auto s = static_cast<uint8_t>(si);
    if (!(slotMask & (1u << s))) continue;
    const DecodedStatus b = SlotStatus(s);
    if (!full && ms_.PrevDriveState[s] != b.stateByte) {
      const uint8_t old = ms_.PrevDriveState[s] == 255 ? 0 : ms_.PrevDriveState[s];
      ms_.PrevDriveState[s] = b.stateByte;
      changed = true;
      LogAll(DriveEvents(s, b, old), stamp);
    }
    SlotMemory memory = Memory(s);
    if (LogAll(ActivityEvents(s, b, memory, scanStopsSent[s]), stamp)) changed = true;
    if (LogAll(BadSectorEvents(s, b, memory), stamp)) changed = true;
    Remember(s, memory);
  }
  // Lines an earlier save could not write are tried again every pass.
  if (changed || dayLog_.size() > savedCount_ || !carried_.empty()) Save(path);
}

SlotMemory EventLog::Memory(uint8_t s) const {
  return {ms_.LastProgress[s], ms_.ActivityTarget[s], ms_.ScanRunning[s], ms_.BadSectorsReported[s]};
}

void EventLog::Remember(uint8_t s, const SlotMemory& m) {
  ms_.LastProgress[s] = m.lastProgress;
  ms_.ActivityTarget[s] = m.activityTarget;
  ms_.ScanRunning[s] = m.scanRunning;
  ms_.BadSectorsReported[s] = m.badSectorsReported;
}

bool EventLog::LogAll(const std::vector<RaidEvent>& events, const std::string& stamp) {
  for (const RaidEvent& e : events) {
    Log(e, stamp);
    RaiseReport(e);
  }
  return !events.empty();
}

void EventLog::RetryCarried() {
  for (auto it = carried_.begin(); it != carried_.end();) {
    std::vector<std::string> lines;
    const FileStamp st = StatNoFollow(it->path);
    bool ok = true;
    if (st.exists) ok = ReadTextLines(it->path, lines).ok();
    if (ok) {
      lines.insert(lines.end(), it->lines.begin(), it->lines.end());
      ok = WriteTextLinesAtomic(it->path, lines).ok();
    }
    if (ok)
      it = carried_.erase(it);
    else
      ++it;
  }
}

void EventLog::Bound() {
  const size_t unsaved = dayLog_.size() - savedCount_;
  if (unsaved <= unsavedLimit_) return;
  // The counting line stays first among the unsaved lines; the oldest
  // lines after it make room.
  const size_t first = savedCount_ + (haveDropLine_ ? 1 : 0);
  const size_t drop = unsaved - unsavedLimit_ + (haveDropLine_ ? 0 : 1);
  dayLog_.erase(dayLog_.begin() + static_cast<ptrdiff_t>(first),
                dayLog_.begin() + static_cast<ptrdiff_t>(first + drop));
  if (!haveDropLine_) dayLog_.insert(dayLog_.begin() + static_cast<ptrdiff_t>(savedCount_), std::string());
  haveDropLine_ = true;
  const bool firstDrop = dropped_ == 0;
  dropped_ += drop;
  droppedTotal_ += drop;
  dayLog_[savedCount_] = "*** " + std::to_string(dropped_) + " log lines could not be saved and were dropped ***";
  if (firstDrop)
    view_.SetPanelText(kMessagePanel, "Log file cannot be saved; the oldest unsaved lines are being dropped");
}

void EventLog::SaveFailed(const std::string& why) {
  if (!saveErrorShown_) {
    std::string folder = logDir_;
    if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    view_.SetPanelText(kMessagePanel, "Log file cannot be saved in " + folder + ": " + why +
                                          " (start with --log-dir FOLDER to keep the day log elsewhere)");
  }
  saveErrorShown_ = true;
  Bound();
}

void EventLog::Save(const std::string& path) {
  if (fileless_) {
    savedCount_ = dayLog_.size();
    carried_.clear();
    return;
  }
  RetryCarried();
  const FileStamp now = StatNoFollow(path);
  if (now.exists && now != fileStamp_ && (now.regular || now.link)) {
    // Changed under us (another writer, an editor, a planted link): its
    // lines are taken first, ours follow.
    if (!MergeFromFile(path) && StatNoFollow(path).exists) {
      Bound();
      return;
    }
  }
  FileStamp written;
  const Outcome r = WriteTextLinesAtomic(path, dayLog_, &written);
  if (!r.ok()) {
    SaveFailed(r.error());
    return;
  }
  savedCount_ = dayLog_.size();
  fileStamp_ = written;
  dropped_ = 0;
  haveDropLine_ = false;
  if (saveErrorShown_) view_.SetPanelText(kMessagePanel, " ");
  saveErrorShown_ = false;
}

void EventLog::DetectDeviceChanges() {
  std::vector<Sector> before, after;
  for (int c = 0; c < st_.DeviceCount; ++c)
    before.push_back(det_.PrevIdentSector[drive_flags::Drive(st_.DeviceList[c]) % kPhysicalDrives]);
  for (int k = 0; k < det_.GroupCount; ++k)
    after.push_back(det_.IdentSector[drive_flags::Drive(det_.GroupTable[k]) % kPhysicalDrives]);
  for (const RaidEvent& e : EnclosureListEvents(before, after)) {
    Queue(e);
    // Raised now, while the published list still describes the enclosure.
    RaiseReport(e);
    PendingDeviceLines_ = 1;
  }
}

}  // namespace raid
