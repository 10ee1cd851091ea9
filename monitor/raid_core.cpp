#include "monitor/raid_core.h"

namespace raid {

RaidCore::RaidCore(DeviceIo& io, Clock& clock, const DateTimeFormat& fmt, CoreView& view, const std::string& logDir)
    : detectionMessages(view),
      cs(io, clock, st),
      det(cs, io, detectionMessages, st),
      detection(io, clock, detectionMessages),
      settings(st, controls, cs, view),
      report(st, ms, det),
      log(st, controls, ms, det, report, clock, fmt, view, logDir),
      poller(st, controls, ms, cs, settings, det, log, view),
      page(st, controls, ms, poller, view),
      clock_(clock),
      view_(view) {
  cs.BetweenRequests = [this] { view_.ProcessMessages(); };
  poller.RefreshStatusPage = [this](bool force) { page.RefreshStatusPage(force); };
  poller.SlotUnchecked = [this](int slot) { page.SetSlotMonitored(static_cast<uint8_t>(slot), false); };
}

void RaidCore::SetDetectText(const std::string& text, bool visible) {
  DetectionBanner = text;
  DetectionBannerVisible = visible;
  view_.DetectTextChanged(text, visible);
}

void RaidCore::Start() {
  st.RedetectCountdown = 0;
  st.UpgradeRunning = 0;
  st.OperationBusy = 0;
  st.CurrentSlot = 0;
  st.OperationSlot = kNoOperationSlot;
  st.DeviceCount = 0;
  det.GroupCount = 0;
  det.FoundCount = 0;
  SetDetectText("Drive detecting", true);
  det.CountLetters();
  det.PhysicalDriveCount = static_cast<uint8_t>(det.CountPhysicalDrives());
  st.Detecting = 1;
  st.RequestBits = 0;
  controls.TabSwitching = 0;
  log.ReportListSelector = 0;
  log.PendingDeviceLines = 0;
  StartTime = clock_.Now();
  Now = StartTime;
  ClockTimerEnabled = true;
  DetectionTimerEnabled = true;
  ProgressTimerEnabled = false;
  PollTimerEnabled = false;
  cs.StatusAreaLimit = kStatusAreaLimit;
  cs.FlashRecordAddr = 0;
  NavigationEnabled = false;
  view_.NavigationEnabledChanged(false);
  view_.LogButtonVisibleChanged(false);
  cs.CdbShift = 1;
  st.FirstFill = 1;
  ms.PollSkip.fill(0);
  ms.LastProgress[0] = ms.LastProgress[1] = kNoProgress;
  controls.SettleCounter.fill(0);
  controls.ScanAbortRequest.fill(0);
  ms.Caption = AppTitleText();
  view_.IdentityChanged();
  RequestDetection();
}

void RaidCore::RequestDetection() {
  changedDuringScan_ = false;
  DetectionInput in;
  in.DriveLetters = det.DriveLetters;
  in.LetterCount = det.LetterCount;
  in.PhysicalDriveCount = det.PhysicalDriveCount;
  in.FirstFill = st.FirstFill != 0;
  in.OperationSlot = st.OperationSlot;
  in.DeviceList = st.DeviceList;
  in.PrevIdentSector = det.PrevIdentSector;
  detection.Request(in);
}

void RaidCore::Close() {
  ClockTimerEnabled = false;
  st.RequestBits &= static_cast<uint8_t>(~request_bits::kArmed);
}

void RaidCore::OnProgressTimer() {
  if (!ProgressTimerEnabled) return;
  view_.ProgressChanged(controls.CurrentPage == 1 ? 2 : 1, cs.ProgressValue.load());
}

void RaidCore::OnClockTimer() {
  if (ClockTimerEnabled) Now = clock_.Now();
}

void RaidCore::OnDeviceChange() {
  st.RedetectCountdown = 16;
  // A scan that was running (or waiting) when the machine changed may have
  // seen half of the change: the next count check scans again even when the
  // counts come out the same.
  if (detection.Pending()) changedDuringScan_ = true;
  poller.OnDeviceChange();
}

bool RaidCore::StatusRequestWaiting() const {
  return !detection.Pending() && (st.RequestBits.load() & request_bits::kServed) != 0;
}

void RaidCore::ServeMailRequest() {
  if (MailHandler) {
    MailHandler();
    return;
  }
  // No notification settings in this program: the request is dropped so
  // the thread stays quiet.
  ms.MailRequestFlags = 0;
}

void RaidCore::OnDetectionTimer() {
  if (st.RedetectCountdown >= 1 && st.RedetectCountdown <= 25) {
    ++st.RedetectCountdown;
    return;
  }
  if (st.RedetectCountdown >= 26) {
    view_.UpgradeButtonEnabledChanged(false);
    if (st.OperationBusy) {
      view_.UpgradeButtonEnabledChanged(true);
      return;
    }
    st.Detecting = 1;
    st.RedetectCountdown = 0;
    const uint8_t oldLetters = det.LetterCount;
    const int letters = det.CountLetters();
    const int drives = det.CountPhysicalDrives();
    if (letters == oldLetters && drives == det.PhysicalDriveCount && !changedDuringScan_) {
      st.Detecting = 0;
      // Nothing changed: the enclosures are still there, and so is Upgrade.
      if (st.DeviceCount > 0) view_.UpgradeButtonEnabledChanged(true);
      return;
    }
    det.PhysicalDriveCount = static_cast<uint8_t>(drives);
    RequestDetection();
    if (st.DeviceCount == 0) SetDetectText("Drive detecting", DetectionBannerVisible);
    return;
  }
  if (std::optional<DetectionResult> result = detection.TakeResult()) {
    Publish(*result);
    return;
  }
  if (detection.Pending() && DetectionBanner == "Drive detecting")
    SetDetectText(DetectionBanner, !DetectionBannerVisible);
}

void RaidCore::Publish(const DetectionResult& result) {
  // The scan's tables become the published ones as a whole; the previous
  // identification sectors stay until the comparison below is done.
  static_cast<DetectionTables&>(det) = result.Tables;
  view_.SetPanelText(kDetectionPanel, "Detected OK");
  view_.SetPanelText(kProbePanel, " ");
  for (int s = 0; s < kShownSlots; ++s) {
    view_.ProcessMessages();
    const bool present = s < det.GroupCount;
    controls.SlotChecked[s] = present;
    view_.SlotControlsChanged(s, present, present);
  }
  const double now = ToDayFraction(clock_.Now());
  for (int g = 0; g < det.GroupCount; ++g) {
    const uint8_t d = drive_flags::Drive(det.GroupTable[g]) % kPhysicalDrives;
    if (det.PrevIdentSector[d] != det.IdentSector[d]) ConnectTime[d] = now;
  }
  if (st.FirstFill) {
    if (det.GroupCount > 0) ConnectTimeRef = drive_flags::Drive(det.GroupTable[0]);
    log.ReportListSelector = 1;
  } else {
    log.DetectDeviceChanges();
  }
  // Only eight slots exist; further groups are not published.
  const int count = det.GroupCount < kMaxSlots ? det.GroupCount : kMaxSlots;
  for (int g = 0; g < count; ++g) st.DeviceList[g] = det.GroupTable[g];
  st.DeviceCount = static_cast<uint8_t>(count);
  det.PrevIdentSector = det.IdentSector;
  if (st.DeviceCount > 0) {
    if (st.CurrentSlot >= st.DeviceCount) st.CurrentSlot = st.DeviceCount - 1;
    // The pages' own slots follow, so that no page shows a slot that is gone.
    if (controls.StatusPageSlot >= st.DeviceCount) controls.StatusPageSlot = st.DeviceCount - 1;
    if (controls.UpgradePageSlot >= st.DeviceCount) controls.UpgradePageSlot = st.DeviceCount - 1;
    NavigationEnabled = true;
    view_.NavigationEnabledChanged(true);
    view_.LogButtonVisibleChanged(true);
    poller.RefreshIdentity();
    st.Detecting = 0;
    st.RequestBits |= request_bits::kPoll | request_bits::kArmed;
    PollTimerEnabled = true;
    ClockTimerEnabled = true;
    SetDetectText(" ", false);
  } else {
    NavigationEnabled = false;
    view_.NavigationEnabledChanged(false);
    ClockTimerEnabled = false;
    st.Detecting = 0;
    SetDetectText("No Drive found! ", true);
    // Disks that would not open for lack of rights are no empty machine.
    if (!result.AccessProblem.empty()) view_.SetPanelText(kMessagePanel, result.AccessProblem);
  }
}

bool RaidCore::NavigationAccepted() const { return NavigationEnabled && st.DeviceCount > 0 && !st.FirstFill; }

bool RaidCore::SelectPage(uint8_t p) {
  if (!NavigationAccepted() || p > 4) return false;
  controls.CurrentPage = p;
  view_.NavigationChanged();
  if (p == 0) {
    st.CurrentSlot = controls.StatusPageSlot;
    page.RefreshStatusPage(false);
  } else if (p == 2) {
    st.CurrentSlot = controls.UpgradePageSlot;
    poller.RefreshIdentity();
  }
  return true;
}

}  // namespace raid
