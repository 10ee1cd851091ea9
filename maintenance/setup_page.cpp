#include "maintenance/setup_page.h"

#include "device/record_layout.h"
#include "monitor/decoded_status.h"

namespace raid {

namespace {

std::string DriveName(uint8_t drive) { return drive == 0 ? "HDD1" : "HDD2"; }
}  // namespace

SetupPage::SetupPage(RaidCore& core, CoreView& view, FirmwareUpgrade& framing)
    : core_(core), view_(view), framing_(framing) {
  core_.SetRequestServedHandler([this](uint8_t bit, bool ok) { RequestServed(bit, ok); });
}

DecodedStatus SetupPage::PageStatus() const {
  const uint8_t slot = core_.Controls().StatusPageSlot;
  return DecodeStatus(core_.StatusRecordOf(slot), ReadFirmware(core_.IdentSectorOf(slot)));
}

bool SetupPage::RecordScheduleOn() const { return PageStatus().scheduleOn; }
uint8_t SetupPage::RecordSchedulePeriod() const { return PageStatus().schedulePeriod; }

void SetupPage::SetMessagePanel(const std::string& text) {
  messageText_ = text;
  view_.SetPanelText(kMessagePanel, text);
}

void SetupPage::ShowProgress(uint32_t value) {
  core_.Commands().ProgressValue = value;
  view_.ProgressChanged(ProgressBar::Setup, value);
}

void SetupPage::SetBackupChecked(bool checked) {
  Model.ScheduleChecked = checked;
  core_.SetBackupEnabled(checked);
}

void SetupPage::TakeScheduleFromRecord() {
  Model.PeriodChecked = -1;
  periodChosen_ = false;
  if (RecordScheduleOn()) {
    SetBackupChecked(true);
    const uint8_t period = RecordSchedulePeriod();
    core_.SetBackupMinutes(period);
    Model.PeriodChecked = period == 180 ? 3 : period == 60 ? 2 : period == 30 ? 1 : 0;
  } else {
    SetBackupChecked(false);
    core_.SetBackupMinutes(0);  // no period until one is chosen
  }
}

void SetupPage::LoadFromStatus() {
  Model.ScheduleSwitchEnabled = false;
  TakeScheduleFromRecord();
  Model.ScheduleSwitchEnabled = true;
  // Switching sub-pages redraws the label; the page shows it as loaded.
  if (Model.SetupSubPage == 1) RefreshScheduleLabel();
  view_.SetupPageChanged();
}

bool SetupPage::OpenPage() {
  if (!core_.NavigationAccepted()) return false;
  LoadFromStatus();
  core_.SelectPage(notebook_page::kSetup);
  RedrawTabs();
  return true;
}

void SetupPage::RedrawTabs() { view_.SetupPageChanged(); }

void SetupPage::ShowInitialize() {
  Model.SetupSubPage = 0;
  Model.SetButtonVisible = true;
  RedrawTabs();
}

void SetupPage::ShowSchedule() {
  Model.SetupSubPage = 1;
  RedrawTabs();
  RefreshScheduleLabel();
}

void SetupPage::SelectPeriod(int index) {
  if (index < 0 || index >= static_cast<int>(kBackupPeriods.size())) return;
  Model.PeriodChecked = index;
  core_.SetBackupMinutes(kBackupPeriods[static_cast<size_t>(index)]);
  periodChosen_ = true;
  view_.SetupPageChanged();
}

void SetupPage::RefreshScheduleLabel() {
  if (Model.ScheduleChecked) {
    if (RecordScheduleOn()) {
      const uint8_t period = RecordSchedulePeriod();
      // A period the user has just chosen stays what "Set" sends; the label
      // tells what the enclosure has now.
      if (!periodChosen_) core_.SetBackupMinutes(period);
      Model.ScheduleMessage = "Backup period: " + std::to_string(period) + " minutes";
    } else {
      Model.ScheduleMessage = setup_text::kScheduleDisabled;
    }
    Model.ScheduleMessageVisible = true;
    Model.SetButtonVisible = true;
  } else {
    Model.ScheduleMessageVisible = false;
    Model.ScheduleMessage = setup_text::kScheduleDisabled;
    Model.SetButtonVisible = false;
  }
  view_.SetupPageChanged();
}

void SetupPage::ScheduleSwitchClick(bool checked) {
  SetBackupChecked(checked);
  if (core_.Devices().FirstFill) {
    view_.SetupPageChanged();
    return;
  }
  RefreshScheduleLabel();
  // Switching the schedule off is sent at once; switching it on waits for
  // "Set".
  if (!checked) core_.RequestBackupPeriod();
}

std::string SetupPage::InitializeQuestion() const {
  const uint8_t slot = core_.Controls().StatusPageSlot % kMaxSlots;
  std::string name = "Device" + std::to_string(slot + 1);
  if (slot < core_.Devices().DeviceCount) {
    name += " (" + ModelText(core_.IdentSectorOf(slot), ident::kModel) + ", " +
            std::to_string(Gigabytes(PageStatus().capacitySectors)) + " GB)";
  }
  return "Initialize the array of " + name +
         "?\n\nBoth drives of this enclosure are set up anew: all data on them is lost.";
}

SetOutcome SetupPage::SetClick() {
  if (Model.SetupSubPage == 1) {
    core_.SetBackupEnabled(Model.ScheduleChecked);
    // Switching on needs a period: the enclosure must never be told "on,
    // every 0 minutes".
    if (core_.Controls().BackupEnabled && core_.Controls().BackupMinutes == 0) {
      SetMessagePanel(setup_text::kChoosePeriod);
      return SetOutcome::NoPeriod;
    }
    core_.RequestBackupPeriod();
    return SetOutcome::ScheduleQueued;
  }
  // A detection that is publishing would change the device table under the
  // operation.
  if (!core_.OperationAllowed()) return SetOutcome::Ignored;
  if (ConfirmInitialize) {
    if (!ConfirmInitialize(InitializeQuestion())) return SetOutcome::Declined;
    if (!core_.OperationAllowed()) return SetOutcome::Ignored;  // started while the question was open
  }
  OperationLease& lease = framing_.BeginDeviceOperation();
  running_ = true;
  lease.Hold(core_.Controls().StatusPageSlot);
  const uint8_t slot = static_cast<uint8_t>(lease.Slot());
  Model.StepText = setup_text::kAutoPartition;
  Model.ProgressMax = 100;
  ShowProgress(0);
  Model.StepPanelCaption = kInitialisationSteps[0].caption;
  Model.StepPanelVisible = true;
  core_.SetProgressTimerEnabled(true);
  view_.SetupPageChanged();

  bool ok = true;
  CommandSet& cs = core_.Commands();
  for (size_t i = 0; i < kInitialisationSteps.size(); ++i) {
    const InitialisationStep& step = kInitialisationSteps[i];
    // The payload is whatever earlier commands left; its checksum is made
    // to match before the header bytes are set.
    cs.Block.UpdateChecksum();
    cs.Block.SetHeader(cmd::kInitialise, step.code);
    if (step.argument >= 0) cs.Block.Bytes()[4] = static_cast<uint8_t>(step.argument);
    const bool sent = core_.SendCommandBlock(slot);
    view_.OptionControlsChanged();
    ShowProgress(step.progressAfter);
    if (!sent) {
      SetMessagePanel(step.failureText);
      ok = false;
      break;
    }
    SetMessagePanel(step.successText);
    Model.StepPanelCaption =
        i + 1 < kInitialisationSteps.size() ? kInitialisationSteps[i + 1].caption : kLastStepCaption;
    view_.SetupPageChanged();
    view_.ProcessMessages();
  }
  if (ok) {
    ShowProgress(100);
    SetMessagePanel(setup_text::kCreatePartitionOk);
  }
  core_.SetProgressTimerEnabled(false);
  Model.StepPanelVisible = false;
  view_.SetupPageChanged();
  if (ok)
    view_.ShowMessage({setup_text::kCompleted, setup_text::kCaption, BoxIcon::Warning, BoxButtons::Ok});
  else
    view_.ShowMessage({messageText_, setup_text::kCaption, BoxIcon::None, BoxButtons::Ok});
  running_ = false;
  framing_.EndDeviceOperation();
  return ok ? SetOutcome::Succeeded : SetOutcome::Failed;
}

ScanOutcome SetupPage::ScanClick(uint8_t drive) {
  if (drive > 1 || !core_.Controls().AnySlotChecked()) return ScanOutcome::Ignored;
  const uint8_t slot = core_.Controls().StatusPageSlot % 4;
  bool stop = false;
  if (core_.Monitoring().ScanRunning[slot]) {
    const BoxResult answer = view_.ShowMessage({drive == 0 ? setup_text::kTerminateHdd1 : setup_text::kTerminateHdd2,
                                                "Message", BoxIcon::Question, BoxButtons::YesNo});
    if (answer != BoxResult::Yes) return ScanOutcome::Declined;
    stop = true;
  }
  return RequestScan(drive, stop);
}

ScanOutcome SetupPage::RequestScan(uint8_t drive, bool stop) {
  if (drive > 1 || !core_.Controls().AnySlotChecked()) return ScanOutcome::Ignored;
  // A start needs the array's last sector; without a capacity it would be
  // sent as sector 0 (or all of the 48-bit range).
  if (!stop && PageStatus().capacitySectors == 0) {
    SetMessagePanel(setup_text::kNoCapacity);
    return ScanOutcome::NoCapacity;
  }
  core_.SetScanButtonCaption(drive, (stop ? "Start " : "Stop ") + DriveName(drive) + " Scan");
  core_.RequestScan(drive, stop);
  view_.StatusPageChanged();
  return ScanOutcome::Queued;
}

uint64_t SetupPage::ScanLastSector() const {
  const uint64_t capacity = PageStatus().capacitySectors;
  return capacity ? capacity - 1 : 0;
}

void SetupPage::OptionBoxClick() {
  if (core_.Controls().TabSwitching || core_.Devices().FirstFill) return;
  // The settings command carries the schedule: away from the Setup page it
  // repeats what the enclosure has, so a click here never switches the
  // schedule off behind the user's back.
  if (core_.Controls().CurrentPage != notebook_page::kSetup) TakeScheduleFromRecord();
  core_.SetBackupEnabled(Model.ScheduleChecked);
  core_.RequestBackupPeriod();
}

void SetupPage::RequestServed(uint8_t bit, bool ok) {
  lastServed_ = bit;
  lastServedOk_ = ok;
  if (bit == request_bits::kBackupPeriod && ok && core_.Controls().BackupEnabled &&
      !core_.Controls().BackupMessage.empty()) {
    Model.ScheduleMessage = core_.Controls().BackupMessage;
    view_.SetupPageChanged();
  }
  // The sender has locked the option controls for the hold-off.
  view_.OptionControlsChanged();
}

}  // namespace raid
