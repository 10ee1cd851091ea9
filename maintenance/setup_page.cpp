#include "maintenance/setup_page.h"

#include <memory>

#include "device/record_layout.h"
#include "monitor/decoded_status.h"

namespace raid {

SetupPage::SetupPage(RaidCore& core, CoreView& view, FirmwareUpgrade& framing)
    : core_(core), view_(view), verbs_(core, view, framing) {
  core_.SetRequestServedHandler([this](uint8_t bit, bool ok) { RequestServed(bit, ok); });
}

uint8_t SetupPage::PageSlot() const { return core_.Focus().StatusSlot(); }

DecodedStatus SetupPage::PageStatus() const { return verbs_.StatusOf(PageSlot()); }

bool SetupPage::RecordScheduleOn() const { return PageStatus().scheduleOn; }
uint8_t SetupPage::RecordSchedulePeriod() const { return PageStatus().schedulePeriod; }

void SetupPage::SetMessagePanel(const std::string& text) { view_.SetPanelText(kMessagePanel, text); }

void SetupPage::SetBackupChecked(bool checked) {
  Model.ScheduleChecked = checked;
  backupEnabled_ = checked;
}

void SetupPage::TakeScheduleFromRecord() {
  Model.PeriodChecked = -1;
  periodChosen_ = false;
  if (RecordScheduleOn()) {
    SetBackupChecked(true);
    const uint8_t period = RecordSchedulePeriod();
    backupMinutes_ = period;
    Model.PeriodChecked = period == 180 ? 3 : period == 60 ? 2 : period == 30 ? 1 : 0;
  } else {
    SetBackupChecked(false);
    backupMinutes_ = 0;  // no period until one is chosen
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
  core_.SelectPage(ShownPage::Setup);
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
  backupMinutes_ = kBackupPeriods[static_cast<size_t>(index)];
  periodChosen_ = true;
  view_.SetupPageChanged();
}

void SetupPage::RefreshScheduleLabel() {
  if (Model.ScheduleChecked) {
    if (RecordScheduleOn()) {
      const uint8_t period = RecordSchedulePeriod();
      // A period the user has just chosen stays what "Set" sends; the label
      // tells what the enclosure has now.
      if (!periodChosen_) backupMinutes_ = period;
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
  if (!checked) SendSchedule(false);
}

std::string SetupPage::InitializeQuestion() const {
  const uint8_t slot = PageSlot() % kMaxSlots;
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
    backupEnabled_ = Model.ScheduleChecked;
    // Switching on needs a period: the enclosure must never be told "on,
    // every 0 minutes".
    if (backupEnabled_ && backupMinutes_ == 0) {
      SetMessagePanel(setup_text::kChoosePeriod);
      return SetOutcome::NoPeriod;
    }
    SendSchedule(backupEnabled_);
    return SetOutcome::ScheduleQueued;
  }
  // One initialisation at a time, also while one waits on the device thread.
  if (running_ || !core_.OperationAllowed()) return SetOutcome::Ignored;
  if (ConfirmInitialize) {
    if (!ConfirmInitialize(InitializeQuestion())) return SetOutcome::Declined;
  }
  InitialisationSteps steps;
  steps.started = [this] {
    Model.StepText = setup_text::kAutoPartition;
    Model.ProgressMax = 100;
    Model.StepPanelCaption = kInitialisationSteps[0].caption;
    Model.StepPanelVisible = true;
    view_.SetupPageChanged();
  };
  steps.stepDone = [this](size_t i) {
    Model.StepPanelCaption =
        i + 1 < kInitialisationSteps.size() ? kInitialisationSteps[i + 1].caption : kLastStepCaption;
    view_.SetupPageChanged();
  };
  steps.ended = [this](bool) {
    Model.StepPanelVisible = false;
    view_.SetupPageChanged();
  };
  running_ = true;
  const uint8_t slot = PageSlot();
  DirectDeviceJobs direct;
  DeviceJobs& jobs = Jobs ? *Jobs : static_cast<DeviceJobs&>(direct);
  // Read only when the job ran at once, on this thread.
  auto done = std::make_shared<VerbStatus>(VerbStatus::Busy);
  const bool ranHere = jobs.Run(
      [this, slot, steps, done](MainThreadInvoker& main) {
        *done = verbs_.Initialise(slot, steps, main);
        running_ = false;
      },
      [this] {
        if (InitialisationEnded) InitialisationEnded();
      });
  if (!ranHere) return SetOutcome::Started;
  switch (*done) {
    case VerbStatus::Succeeded: return SetOutcome::Succeeded;
    case VerbStatus::Failed: return SetOutcome::Failed;
    default: return SetOutcome::Ignored;  // started while the question was open
  }
}

ScanOutcome SetupPage::ScanClick(uint8_t drive) {
  if (drive > 1 || !core_.Monitoring().AnySlotChecked()) return ScanOutcome::Ignored;
  const uint8_t slot = PageSlot() % 4;
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
  if (drive > 1 || !core_.Monitoring().AnySlotChecked()) return ScanOutcome::Ignored;
  switch (verbs_.Scan(PageSlot(), drive, stop)) {
    case VerbStatus::Queued: break;
    case VerbStatus::NoCapacity: return ScanOutcome::NoCapacity;
    default: return ScanOutcome::Ignored;
  }
  core_.SetScanButtonCaption(drive, std::string(stop ? "Start " : "Stop ") + (drive == 0 ? "HDD1" : "HDD2") + " Scan");
  view_.StatusPageChanged();
  return ScanOutcome::Queued;
}

void SetupPage::OptionBoxClick() {
  if (core_.Focus().Selecting() || core_.Devices().FirstFill) return;
  // The settings command carries the schedule: away from the Setup page it
  // repeats what the enclosure has, so a click here never switches the
  // schedule off behind the user's back.
  if (core_.Focus().Page() != ShownPage::Setup) TakeScheduleFromRecord();
  backupEnabled_ = Model.ScheduleChecked;
  SendSchedule(backupEnabled_);
}

void SetupPage::SendSchedule(bool on) {
  if (verbs_.SetSchedule(PageSlot(), on, backupMinutes_, &sentMinutes_) == VerbStatus::Queued) sentOn_ = on;
}

void SetupPage::RequestServed(uint8_t bit, bool ok) {
  lastServed_ = bit;
  lastServedOk_ = ok;
  if (bit == request_bits::kBackupPeriod && ok && backupEnabled_ && sentOn_) {
    Model.ScheduleMessage = "Backup period: " + std::to_string(sentMinutes_) + " min";
    view_.SetupPageChanged();
  }
  // The sender has locked the option controls for the hold-off.
  view_.OptionControlsChanged();
}

}  // namespace raid
