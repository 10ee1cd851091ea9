#include "maintenance/enclosure_verbs.h"

#include "device/record_layout.h"

namespace raid {

DecodedStatus EnclosureVerbs::StatusOf(uint8_t slot) const {
  return DecodeStatus(core_.StatusRecordOf(slot), ReadFirmware(core_.IdentSectorOf(slot)));
}

void EnclosureVerbs::SetMessagePanel(const std::string& text) {
  messageText_ = text;
  view_.SetPanelText(kMessagePanel, text);
}

void EnclosureVerbs::ShowProgress(uint32_t value) {
  core_.Commands().ProgressValue = value;
  view_.ProgressChanged(ProgressBar::Setup, value);
}

VerbStatus EnclosureVerbs::SetSchedule(uint8_t slot, bool on, uint8_t minutes, uint8_t* sentMinutes) {
  if (slot >= core_.Devices().DeviceCount) return VerbStatus::NoEnclosure;
  if (on && minutes == 0) {
    // The enclosure must never be told "on, every 0 minutes".
    const DecodedStatus s = StatusOf(slot);
    if (!s.scheduleOn || s.schedulePeriod == 0) return VerbStatus::NoPeriod;
    minutes = s.schedulePeriod;
  }
  if (!on) minutes = 0;
  if (sentMinutes) *sentMinutes = minutes;
  core_.RequestSchedule({.slot = slot, .on = on, .minutes = minutes});
  return VerbStatus::Queued;
}

uint64_t EnclosureVerbs::ScanLastSector(uint8_t slot) const {
  const uint64_t capacity = StatusOf(slot).capacitySectors;
  return capacity ? capacity - 1 : 0;
}

VerbStatus EnclosureVerbs::Scan(uint8_t slot, uint8_t drive, bool stop) {
  if (drive > 1 || slot >= core_.Devices().DeviceCount) return VerbStatus::NoEnclosure;
  // A start needs the array's last sector; without a capacity it would be
  // sent as sector 0 (or all of the 48-bit range).
  if (!stop && StatusOf(slot).capacitySectors == 0) {
    SetMessagePanel(setup_text::kNoCapacity);
    return VerbStatus::NoCapacity;
  }
  core_.RequestScan({.slot = slot, .drive = drive, .stop = stop});
  return VerbStatus::Queued;
}

VerbStatus EnclosureVerbs::Initialise(uint8_t target, const InitialisationSteps& steps, MainThreadInvoker& main) {
  // A detection that is publishing would change the device table under the
  // operation.
  // Without an enclosure the first step fails and says so, as every
  // command sent to no enclosure does.
  if (!core_.OperationAllowed()) return VerbStatus::Busy;
  OperationLease& lease = framing_.BeginDeviceOperation(main);
  lease.Hold(target);
  const uint8_t slot = static_cast<uint8_t>(lease.Slot());
  ShowProgress(0);
  core_.SetProgressTimerEnabled(true);
  if (steps.started) main.RunAndWait(steps.started);

  bool ok = true;
  CommandSet& cs = core_.Commands();
  for (size_t i = 0; i < kInitialisationSteps.size(); ++i) {
    const InitialisationStep& step = kInitialisationSteps[i];
    // The payload is whatever earlier commands left; its checksum is made
    // to match before the header bytes are set.
    cs.Block.UpdateChecksum();
    cs.Block.SetHeader(cmd::kInitialise, step.code);
    if (step.argument >= 0) cs.Block.Bytes()[4] = static_cast<uint8_t>(step.argument);
    const bool sent = core_.SendCommandBlock(slot, main);
    view_.OptionControlsChanged();
    ShowProgress(step.progressAfter);
    if (!sent) {
      SetMessagePanel(step.failureText);
      ok = false;
      break;
    }
    SetMessagePanel(step.successText);
    if (steps.stepDone) main.RunAndWait([&] { steps.stepDone(i); });
    view_.ProcessMessages();
  }
  if (ok) {
    ShowProgress(100);
    SetMessagePanel(setup_text::kCreatePartitionOk);
  }
  core_.SetProgressTimerEnabled(false);
  if (steps.ended) main.RunAndWait([&] { steps.ended(ok); });
  if (ok)
    view_.ShowMessage({setup_text::kCompleted, setup_text::kCaption, BoxIcon::Warning, BoxButtons::Ok});
  else
    view_.ShowMessage({messageText_, setup_text::kCaption, BoxIcon::None, BoxButtons::Ok});
  framing_.EndDeviceOperation(main);
  return ok ? VerbStatus::Succeeded : VerbStatus::Failed;
}

}  // namespace raid
