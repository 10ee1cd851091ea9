#include "monitor/raid_core.h"

namespace raid {

RaidCore::RaidCore(DeviceIo& io, Clock& clock, const DateTimeFormat& fmt, CoreView& view, const std::string& logDir,
                   ViewFocus& focus)
    : focus_(focus),
      detectionMessages_(view),
      cs_(io, clock, st_),
      det_(cs_, io, detectionMessages_, st_),
      detection_(io, clock, detectionMessages_),
      settings_(st_, ms_, focus_, cs_, view),
      report_(st_, ms_, det_),
      log_(st_, ms_, det_, report_, clock, fmt, view, logDir),
      poller_(st_, focus_, ms_, cs_, settings_, det_, log_, view),
      page_(st_, focus_, ms_, poller_, settings_.HoldOff(), view),
      clock_(clock),
      view_(view) {
  cs_.BetweenRequests = [this] { view_.ProcessMessages(); };
  poller_.RefreshStatusPage = [this](bool force) { page_.RefreshStatusPage(force); };
  poller_.SlotUnchecked = [this](int slot) { page_.SetSlotMonitored(static_cast<uint8_t>(slot), false); };
  page_.Filled = [this] { st_.FirstFill = 0; };
}

void RaidCore::SetDetectText(const std::string& text, bool visible) {
  banner_ = text;
  bannerVisible_ = visible;
  view_.DetectTextChanged(text, visible);
}

void RaidCore::Start() {
  st_.RedetectCountdown = 0;
  st_.Lease.Reset();
  st_.DeviceCount = 0;
  det_.GroupCount = 0;
  det_.FoundCount = 0;
  SetDetectText("Drive detecting", true);
  det_.CountLetters();
  det_.PhysicalDriveCount = static_cast<uint8_t>(det_.CountPhysicalDrives());
  st_.Detecting = 1;
  st_.RequestBits = 0;
  focus_.SetSelecting(false);
  focus_.SetPage(ShownPage::Status);  // the window opens here
  log_.StartOver();
  startTime_ = clock_.Now();
  eventTime_ = startTime_;
  clockTimer_ = true;
  detectionTimer_ = true;
  progressTimer_ = false;
  pollTimer_ = false;
  cs_.StatusAreaLimit = kStatusAreaLimit;
  cs_.FlashRecordAddr = 0;
  navigationEnabled_ = false;
  view_.NavigationEnabledChanged(false);
  view_.LogButtonVisibleChanged(false);
  cs_.CdbShift = 1;
  st_.FirstFill = 1;
  ms_.PollSkip.fill(0);
  ms_.LastProgress[0] = ms_.LastProgress[1] = kNoProgress;
  settings_.HoldOff().SettleCounter.fill(0);
  (void)settings_.TakeScanStops();
  ms_.Caption = AppTitleText();
  view_.IdentityChanged();
  RequestDetection();
}

void RaidCore::DetectOnce() {
  Start();
  detection_.RunOnce();
  if (std::optional<DetectionResult> result = detection_.TakeResult()) Publish(*result);
}

void RaidCore::RequestDetection() {
  DetectionInput in;
  in.DriveLetters = det_.DriveLetters;
  in.LetterCount = det_.LetterCount;
  in.PhysicalDriveCount = det_.PhysicalDriveCount;
  in.FirstFill = st_.FirstFill != 0;
  in.LeasedSlot = st_.Lease.HeldSlot();
  in.DeviceList = st_.DeviceList;
  in.PrevIdentSector = det_.PrevIdentSector;
  detection_.Request(in);
}

void RaidCore::Close() {
  clockTimer_ = false;
  st_.RequestBits &= static_cast<uint8_t>(~request_bits::kArmed);
}

void RaidCore::OnProgressTimer() {
  if (!progressTimer_) return;
  view_.ProgressChanged(focus_.Page() == ShownPage::Setup ? ProgressBar::Setup : ProgressBar::Upgrade,
                        cs_.ProgressValue.load());
}

void RaidCore::OnClockTimer() {
  if (clockTimer_) eventTime_ = clock_.Now();
}

void RaidCore::OnDeviceChange() {
  st_.RedetectCountdown = 16;
  poller_.OnDeviceChange();
}

bool RaidCore::StatusRequestWaiting() const {
  return !detection_.Pending() && (st_.RequestBits.load() & request_bits::kServed) != 0;
}

void RaidCore::ServeMailRequest() {
  if (mailHandler_) {
    mailHandler_();
    return;
  }
  // No notification settings in this program: the request is dropped so
  // the thread stays quiet.
  ms_.MailRequestFlags = 0;
}

void RaidCore::OnDetectionTimer() {
  // A finished scan is published at once, also while a newer change is
  // still settling: it saw the machine as it was, and the detection that
  // follows the settling sees what came since. (Holding it back until the
  // settling ended let an unplug and a replug a few seconds apart pass
  // unseen.)
  if (std::optional<DetectionResult> result = detection_.TakeResult()) {
    Publish(*result);
    return;
  }
  if (st_.RedetectCountdown >= 1 && st_.RedetectCountdown <= 25) {
    ++st_.RedetectCountdown;
    return;
  }
  if (st_.RedetectCountdown >= 26) {
    view_.UpgradeButtonEnabledChanged(false);
    if (st_.Lease.Taken()) {
      view_.UpgradeButtonEnabledChanged(true);
      return;
    }
    st_.Detecting = 1;
    st_.RedetectCountdown = 0;
    // Every arrival or removal that was announced is looked at by a
    // detection, even when the counts of letters and disks come out as
    // before: an enclosure swapped for another, or a disk unplugged and
    // another plugged in its place, leaves them equal.
    det_.CountLetters();
    det_.PhysicalDriveCount = static_cast<uint8_t>(det_.CountPhysicalDrives());
    RequestDetection();
    if (st_.DeviceCount == 0) SetDetectText("Drive detecting", bannerVisible_);
    return;
  }
  if (detection_.Pending() && banner_ == "Drive detecting") SetDetectText(banner_, !bannerVisible_);
}

void RaidCore::Publish(const DetectionResult& result) {
  // The scan's tables become the published ones as a whole; the previous
  // identification sectors stay until the comparison below is done.
  static_cast<DetectionTables&>(det_) = result.Tables;
  view_.SetPanelText(kDetectionPanel, "Detected OK");
  view_.SetPanelText(kProbePanel, " ");
  for (int s = 0; s < kShownSlots; ++s) {
    view_.ProcessMessages();
    const bool present = s < det_.GroupCount;
    ms_.SlotChecked[s] = present;
    view_.SlotControlsChanged(s, present, present);
  }
  const double now = ToDayFraction(clock_.Now());
  for (int g = 0; g < det_.GroupCount; ++g) {
    const uint8_t d = drive_flags::Drive(det_.GroupTable[g]) % kPhysicalDrives;
    if (det_.PrevIdentSector[d] != det_.IdentSector[d]) {
      connectTime_[d] = now;
      ms_.RecordAccepted[d] = false;  // a new enclosure: its record is still to come
    }
  }
  if (st_.FirstFill) {
    if (det_.GroupCount > 0) connectTimeRef_ = drive_flags::Drive(det_.GroupTable[0]);
    log_.FirstDetectionPublished();
  } else {
    log_.DetectDeviceChanges();
  }
  // Only eight slots exist; further groups are not published.
  const int count = det_.GroupCount < kMaxSlots ? det_.GroupCount : kMaxSlots;
  for (int g = 0; g < count; ++g) st_.DeviceList[g] = det_.GroupTable[g];
  st_.DeviceCount = static_cast<uint8_t>(count);
  det_.PrevIdentSector = det_.IdentSector;
  if (st_.DeviceCount > 0) {
    // The pages' own slots follow, so that no page shows a slot that is gone.
    const uint8_t last = static_cast<uint8_t>(st_.DeviceCount - 1);
    if (focus_.StatusSlot() > last) focus_.SetStatusSlot(last);
    if (focus_.UpgradeSlot() > last) focus_.SetUpgradeSlot(last);
    navigationEnabled_ = true;
    view_.NavigationEnabledChanged(true);
    view_.LogButtonVisibleChanged(true);
    poller_.RefreshIdentity();
    st_.Detecting = 0;
    st_.RequestBits |= request_bits::kPoll | request_bits::kArmed;
    pollTimer_ = true;
    clockTimer_ = true;
    SetDetectText(" ", false);
  } else {
    navigationEnabled_ = false;
    view_.NavigationEnabledChanged(false);
    clockTimer_ = false;
    st_.Detecting = 0;
    SetDetectText("No Drive found! ", true);
    // Disks that would not open for lack of rights are no empty machine.
    if (!result.AccessProblem.empty()) view_.SetPanelText(kMessagePanel, result.AccessProblem);
  }
}

bool RaidCore::NavigationAccepted() const { return navigationEnabled_ && st_.DeviceCount > 0 && !st_.FirstFill; }

bool RaidCore::SelectPage(ShownPage p) {
  if (!NavigationAccepted() || static_cast<uint8_t>(p) >= kShownPageCount) return false;
  focus_.SetPage(p);
  view_.NavigationChanged();
  if (p == ShownPage::Status)
    page_.RefreshStatusPage(false);
  else if (p == ShownPage::Upgrade)
    poller_.RefreshIdentity();
  return true;
}

uint8_t RaidCore::DriveOf(int slot) const {
  return drive_flags::Drive(st_.DeviceList[static_cast<size_t>(slot) % kMaxSlots]) % kPhysicalDrives;
}

const Sector& RaidCore::StatusRecordOf(int slot) const { return ms_.StatusBlock[DriveOf(slot)]; }

const Sector& RaidCore::IdentSectorOf(int slot) const { return det_.PrevIdentSector[DriveOf(slot)]; }

void RaidCore::SelectUpgradeSlot(uint8_t slot) { focus_.SetUpgradeSlot(slot); }

DeviceResult RaidCore::ReadStatusRecord(uint8_t slot, Sector& record) {
  return cs_.ReadSlotStatus(slot, record.data());
}

DeviceResult RaidCore::LoadStatusRecordOnce(uint8_t slot) {
  st_.RequestBits = 0;
  focus_.SetStatusSlot(slot);
  const DeviceResult read = cs_.ReadSlotStatus(slot, ms_.StatusBlock[DriveOf(slot)].data());
  if (read) st_.FirstFill = 0;
  return read;
}

void RaidCore::EndOperation(OperationLease& lease) {
  cs_.StopRequested = false;
  lease.Release();
}

void RaidCore::SetScanButtonCaption(uint8_t drive, std::string caption) {
  (drive == 0 ? page_.Model.Hdd1ScanButtonCaption : page_.Model.Hdd2ScanButtonCaption) = std::move(caption);
}

}  // namespace raid
