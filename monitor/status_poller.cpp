#include "monitor/status_poller.h"

#include "monitor/device_messages.h"

#include <cstdio>
#include <cstring>

#include "monitor/decoded_status.h"
#include "platform/app_version.h"
#include "platform/bytes.h"

namespace raid {

StatusPoller::StatusPoller(DeviceState& st, const ViewFocus& focus, MonitorState& ms, CommandSet& cs,
                           SettingsCommands& settings, DriveDetector& det, EventLog& log, CoreView& view)
    : st_(st), focus_(focus), ms_(ms), cs_(cs), settings_(settings), det_(det), log_(log), view_(view) {}

void StatusPoller::ServeRequest(MainThreadInvoker& main) {
  const uint8_t bits = st_.RequestBits.load();
  if (bits & request_bits::kPoll) {
    PollStatus(main);
    st_.RequestBits &= static_cast<uint8_t>(~request_bits::kPoll);
  } else if (bits & request_bits::kBackupPeriod) {
    // The request is taken with its bit: one made while it is sent waits
    // for the next turn instead of being cleared unsent.
    ScheduleSetting setting;
    main.RunAndWait([&] {
      setting = schedule_;
      st_.RequestBits &= static_cast<uint8_t>(~request_bits::kBackupPeriod);
    });
    const bool ok = settings_.SendBackupPeriod(setting, main);
    main.RunAndWait([&] {
      if (RequestServed) RequestServed(request_bits::kBackupPeriod, ok);
    });
  } else if (bits & request_bits::kScan) {
    ScanRequest scan;
    uint64_t cap = 0;
    main.RunAndWait([&] {
      scan = scan_;
      st_.RequestBits &= static_cast<uint8_t>(~request_bits::kScan);
      if (scan.slot < kMaxSlots)
        cap = DecodeStatus(ms_.StatusBlock[drive_flags::Drive(st_.DeviceList[scan.slot]) % kPhysicalDrives],
                           FirmwareInfo{})
                  .capacitySectors;
    });
    const bool ok = settings_.SendScanCommand(scan, cap ? cap - 1 : 0, main);
    main.RunAndWait([&] {
      if (RequestServed) RequestServed(request_bits::kScan, ok);
    });
  }
}

void StatusPoller::RequestSchedule(const ScheduleSetting& setting) {
  schedule_ = setting;
  st_.RequestBits |= request_bits::kBackupPeriod;
}

void StatusPoller::RequestScan(const ScanRequest& request) {
  scan_ = request;
  st_.RequestBits |= request_bits::kScan;
}

void StatusPoller::OnPollTimer() {
  if (st_.RedetectCountdown == 0 && !st_.Detecting && !st_.Lease.Taken()) {
    if (st_.RequestBits & request_bits::kArmed)
      st_.RequestBits |= request_bits::kPoll;
    else
      // Arming again after an operation keeps a settings or scan request
      // that waits: it was asked for and is still to be sent.
      st_.RequestBits = static_cast<uint8_t>(
          (st_.RequestBits.load() & (request_bits::kBackupPeriod | request_bits::kScan)) | request_bits::kArmed);
  } else if (st_.Lease.Taken()) {
    st_.RequestBits &= static_cast<uint8_t>(~request_bits::kArmed);
  }
}

bool StatusPoller::WillRead(uint8_t s) {
  if (st_.Lease.Taken() || s >= st_.DeviceCount || !ms_.SlotChecked[s] || st_.Lease.Holds(s)) return false;
  if (ms_.PollSkip[s] & 1) {
    ++ms_.PollSkip[s];
    return false;
  }
  return true;
}

void StatusPoller::TakeReading(uint8_t s, const DeviceResult& read, Sector& r, uint8_t& mask) {
  if (!read) {
    // Shown without holding up the polling; the read failure texts stay in
    // panel 4.
    ShowDeviceResult(view_, read, true);
    if (++ms_.PollSkip[s] > 10) {
      ms_.SlotChecked[s] = false;
      ms_.PollSkip[s] = 0;
      if (SlotUnchecked) SlotUnchecked(s);
      if (retryClock_) {
        switchedOff_[s] = true;
        retrying_[s] = false;
        offSinceMs_[s] = retryClock_->MonotonicMs();
        view_.SetPanelText(kMessagePanel, "D" + std::to_string(s + 1) +
                                              " does not answer: monitoring switched off, tried again every " +
                                              std::to_string(retryPeriodMs_ / 60000) +
                                              " minutes and at every device change");
      }
    }
    return;
  }
  if (retrying_[s]) {
    retrying_[s] = false;
    view_.SetPanelText(kMessagePanel, "D" + std::to_string(s + 1) + " answers again: monitoring resumed");
  }
  const uint8_t d = drive_flags::Drive(st_.DeviceList[s]) % kPhysicalDrives;
  ms_.SlotStatusDrive = d;
  Sector& o = ms_.StatusBlock[d];
  if (RecordStateByte(r) != 0 || ms_.LastProgress[s] == kNoProgress) {
    // A drive that left the array keeps its identity from the last record.
    KeepIdentityOfLeftDrives(o, r);
    o = r;
    ms_.RecordAccepted[d] = true;
    ++ms_.AcceptedCount[d];
  } else {
    view_.SetPanelText(kMessagePanel, "HDD Status = 0x" + HexByte(RecordStateByte(r)) + ", Err Count = 0x" +
                                          HexByte(ms_.StatusErrCount));
    ++ms_.StatusErrCount;
  }
  mask |= static_cast<uint8_t>(1u << s);
  ms_.PollSkip[s] = 0;
}

void StatusPoller::EnableSlotRetry(Clock& clock, int64_t periodMs) {
  retryClock_ = &clock;
  retryPeriodMs_ = periodMs;
}

void StatusPoller::OnDeviceChange() { deviceChanged_ = true; }

void StatusPoller::RetrySwitchedOffSlots() {
  const bool changed = deviceChanged_.exchange(false);
  if (!retryClock_) return;
  const int64_t now = retryClock_->MonotonicMs();
  for (uint8_t s = 0; s < kShownSlots; ++s) {
    if (!switchedOff_[s]) continue;
    // The enclosure is gone, or a re-detection switched the slot on again:
    // then its next poll says whether it answers, as a retry's does.
    if (ms_.SlotChecked[s] || s >= st_.DeviceCount) {
      switchedOff_[s] = false;
      retrying_[s] = s < st_.DeviceCount;
      continue;
    }
    if (!changed && now - offSinceMs_[s] < retryPeriodMs_) continue;
    switchedOff_[s] = false;
    retrying_[s] = true;
    ms_.SlotChecked[s] = true;
    ms_.PollSkip[s] = 0;
    view_.SlotControlsChanged(s, true, true);
  }
}

bool StatusPoller::BeginPoll() {
  if (st_.RedetectCountdown != 0 || st_.Detecting || st_.Lease.Taken()) return false;
  RetrySwitchedOffSlots();
  return true;
}

void StatusPoller::EndPoll(uint8_t mask) {
  log_.DetectEvents(mask, settings_.TakeScanStops());
  if (mask != 0 && focus_.Page() == ShownPage::Status && RefreshStatusPage) RefreshStatusPage(st_.FirstFill != 0);
}

void StatusPoller::PollStatus(MainThreadInvoker& main) {
  bool go = false;
  main.RunAndWait([&] { go = BeginPoll(); });
  if (!go) return;
  uint8_t mask = 0;
  for (uint8_t s = 0; s < kShownSlots; ++s) {
    bool read = false;
    main.RunAndWait([&] { read = WillRead(s); });
    // A long operation that took the lease meanwhile ends the poll.
    if (st_.Lease.Taken()) break;
    if (!read) continue;
    Sector r{};
    const DeviceResult result = cs_.ReadSlotStatus(s, r.data());
    main.RunAndWait([&] { TakeReading(s, result, r, mask); });
  }
  main.RunAndWait([&] { EndPoll(mask); });
}

void StatusPoller::RefreshIdentity() {
  if (!ms_.AnySlotChecked()) return;
  // The texts follow the slot the page shown has selected.
  const uint8_t shown = focus_.ShownSlot();
  const uint8_t cd = drive_flags::Drive(st_.DeviceList[shown % kMaxSlots]) % kPhysicalDrives;
  const FirmwareInfo fw = ReadFirmware(det_.PrevIdentSector[cd]);
  ms_.FirmwareVersion = fw.text;
  ms_.ScanCapable = fw.scanCapable;
  ms_.FanCapable = fw.fanCapable;
  for (uint8_t s = 0; s < st_.DeviceCount && s < kShownSlots; ++s) {
    const uint8_t d = drive_flags::Drive(st_.DeviceList[s]) % kPhysicalDrives;
    uint8_t volumeDrive = d;
    std::string name;
    if (det_.GroupExtraCount[s] != 0 && ms_.SelectedMember != 0) {
      const DecodedStatus b = DecodeStatus(ms_.StatusBlock[d], fw);
      name = (b.modeCode < 3 || ms_.SelectedMember > 1) ? b.memberModelText : b.drives[1].modelText;
      const uint8_t member = ms_.SelectedMember - 1;
      if (member < kPhysicalDrives) volumeDrive = det_.GroupExtraMembers[s][member];
    } else {
      name = ModelText(det_.PrevIdentSector[d], ident::kModel);
    }
    name += " [";
    bool first = true;
    for (int v = 0; v < det_.LetterCount && v < kVolumeTableSize; ++v) {
      const VolumeEntry& e = det_.VolumeTable[v];
      if (e.DriveType != kDriveFixed || e.DiskNumber != volumeDrive) continue;
      // Bare letters run together; longer names (mount points) are spaced.
      if (e.Name.size() > 1) {
        if (!first) name += ' ';
        name += e.Name;
      } else {
        name += e.Letter;
      }
      first = false;
    }
    name += "]";
    ms_.SlotNames[s] = name;
  }
  ms_.Caption = AppTitleText() + " - " + ms_.SlotNames[shown % kShownSlots];
  view_.IdentityChanged();
}

void StatusPoller::OnHoldOffTimer() {
  OptionHoldOff& h = settings_.HoldOff();
  bool others = h.OptionBoxesEnabled;
  bool autoScan = h.AutoScanEnabled;
  const uint8_t pageSlot = focus_.StatusSlot() % 4;
  if (st_.FirstFill || st_.DeviceCount == 0 || st_.Lease.HoldsSlot()) {
    others = autoScan = false;
  } else if (focus_.Selecting()) {
    autoScan = true;  // the others keep their state
  } else if (ms_.AnySlotChecked() && h.SettleCounter[pageSlot] != 0) {
    others = autoScan = false;
  } else {
    others = autoScan = true;
  }
  if (others != h.OptionBoxesEnabled || autoScan != h.AutoScanEnabled) {
    h.OptionBoxesEnabled = others;
    h.AutoScanEnabled = autoScan;
    view_.OptionControlsChanged();
  }
  for (auto& c : h.SettleCounter)
    if (c) --c;
}

}  // namespace raid
