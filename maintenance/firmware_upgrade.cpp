#include "maintenance/firmware_upgrade.h"

#include "monitor/device_messages.h"

#include <algorithm>

#include "monitor/decoded_status.h"

namespace raid {

namespace {
const char* const kMessageCaption = "Message";
}  // namespace

FirmwareUpgrade::FirmwareUpgrade(RaidCore& core, CoreView& view) : core_(core), view_(view) {}

void FirmwareUpgrade::SetMessagePanel(const std::string& text) { view_.SetPanelText(kMessagePanel, text); }

void FirmwareUpgrade::LoadImageFile(const std::string& fileName) {
  auto reader = MakeFileImageReader();
  LoadImageFile(fileName, *reader);
}

void FirmwareUpgrade::LoadImageFile(const std::string& fileName, ImageReader& reader) {
  // The image is the source of a running upgrade: it is never replaced
  // under it.
  if (!LoadAllowed()) return;
  SetMessagePanel("File:" + fileName);
  Model.FileNameText = fileName;
  image_.clear();
  image_.shrink_to_fit();
  // A sum that belongs to the previous file must not stay beside this name.
  view_.SetPanelText(kChecksumPanel, "");

  ImageLoad r = LoadFirmwareImage(reader, fileName);
  if (r.SumKnown()) view_.SetPanelText(kChecksumPanel, ChecksumText(r.sum));
  using O = ImageLoad::Outcome;
  switch (r.outcome) {
    case O::Loaded: image_ = std::move(r.bytes); break;
    case O::OpenFailed:
      view_.ShowMessage({upgrade_text::kFileOpenFailed, "Error", BoxIcon::Error, BoxButtons::Ok});
      break;
    case O::TooShort:
      view_.ShowMessage({"The firmware file is too short: " + std::to_string(r.length) +
                             " bytes. A firmware image has " + std::to_string(kFlashImageLength) + " bytes.",
                         "Error", BoxIcon::Error, BoxButtons::Ok});
      break;
    case O::TooLarge:
      view_.ShowMessage({"The firmware file is too large: " + std::to_string(r.length) +
                             " bytes. A firmware image has at most " + std::to_string(kLargestImageFile) + " bytes.",
                         "Error", BoxIcon::Error, BoxButtons::Ok});
      break;
    case O::ReadFailed:
      view_.ShowMessage({"Error read from Source file. ByteCount = " + std::to_string(r.failedOffset),
                         "Warning:", BoxIcon::Error, BoxButtons::Ok});
      break;
    case O::BadMarks:
      view_.ShowMessage({upgrade_text::kFileNotCorrect, "Error", BoxIcon::Error, BoxButtons::Ok});
      break;
  }
  view_.UpgradePageChanged();
}

bool FirmwareUpgrade::UseBuiltImage(std::vector<uint8_t> image, const std::string& name) {
  if (!LoadAllowed()) return false;
  Model.FileNameText = name;
  view_.SetPanelText(kChecksumPanel, ChecksumText(ImageByteSum(image)));
  image_.clear();
  image_.shrink_to_fit();
  if (ImageMarksOk(image) && image.size() <= kLargestImageFile) image_ = std::move(image);
  view_.UpgradePageChanged();
  return !image_.empty();
}

void FirmwareUpgrade::ChangePage(MainThreadInvoker& main, const std::function<void()>& change) {
  main.RunAndWait([&] {
    change();
    view_.UpgradePageChanged();
  });
}

OperationLease& FirmwareUpgrade::BeginDeviceOperation(MainThreadInvoker& main) {
  lease_ = core_.BeginOperation();
  ChangePage(main, [this] { Model.SlotBoxesEnabled = false; });
  return lease_;
}

void FirmwareUpgrade::EndDeviceOperation(MainThreadInvoker& main) {
  core_.EndOperation(lease_);
  ChangePage(main, [this] { Model.SlotBoxesEnabled = true; });
}

void FirmwareUpgrade::RequestStop() {
  if (running_) core_.Commands().StopRequested = true;
}

void FirmwareUpgrade::ShowProgress() {
  view_.ProgressChanged(ProgressBar::Upgrade, core_.Commands().ProgressValue.load());
}

bool FirmwareUpgrade::Shown(const DeviceResult& result) {
  ShowDeviceResult(view_, result);
  return result.ok();
}

bool FirmwareUpgrade::LeaveUpdateMode() {
  return Shown(core_.Commands().SpiControl(lease_.Slot(), spi_control::kMode10));
}

UpgradeOutcome FirmwareUpgrade::UpgradeClick() {
  // The page's slot is chosen now: later selections do not move the
  // operation.
  return Upgrade(core_.Focus().UpgradeSlot());
}

UpgradeOutcome FirmwareUpgrade::Upgrade(uint8_t target, MainThreadInvoker& main) {
  // A detection that is publishing would change the device table under the
  // operation.
  if (!core_.OperationAllowed()) {
    queued_ = false;
    return UpgradeOutcome::Ignored;
  }
  BeginDeviceOperation(main);
  running_ = true;
  // The lease now keeps the image from being replaced.
  queued_ = false;
  core_.Commands().StopRequested = false;
  struct Finish {
    FirmwareUpgrade& u;
    MainThreadInvoker& main;
    ~Finish() {
      u.running_ = false;
      u.EndDeviceOperation(main);
    }
  } finish{*this, main};

  if (image_.empty()) {
    view_.ShowMessage({upgrade_text::kLoadFirst, kMessageCaption, BoxIcon::None, BoxButtons::Ok});
    return UpgradeOutcome::NoImage;
  }
  lease_.Hold(target);
  const uint8_t slot = static_cast<uint8_t>(lease_.Slot());
  if (!Shown(core_.Commands().SpiControl(slot, spi_control::kMode11))) return UpgradeOutcome::ModeFailed;

  // From here on every path leaves update mode before the operation ends
  // (ending it first would release the slot that 0x10 is addressed to).
  Sector record{};
  const bool read = Shown(core_.Commands().ReadSlotStatus(slot, record.data()));
  if (!read) {
    view_.ShowMessage({upgrade_text::kRecordFailed, kMessageCaption, BoxIcon::None, BoxButtons::Ok});
    LeaveUpdateMode();
    return UpgradeOutcome::RecordFailed;
  }
  if (image_[kImageConfigVersionOffset] != record[1]) {
    view_.ShowMessage({upgrade_text::kVersionError, "", BoxIcon::None, BoxButtons::Ok});
    LeaveUpdateMode();
    return UpgradeOutcome::VersionMismatch;
  }
  // A rebuild or a scan, whatever the firmware calls it, stops the upgrade.
  if (DecodeStatus(record, FirmwareInfo{}).activity.Running()) {
    view_.ShowMessage({upgrade_text::kActivityRunning, "", BoxIcon::None, BoxButtons::Ok});
    LeaveUpdateMode();
    return UpgradeOutcome::ActivityRunning;
  }
  if (ConfirmWrite && !ConfirmWrite()) {
    LeaveUpdateMode();
    return UpgradeOutcome::Declined;
  }
  return FlashPhases(main);
}

UpgradeOutcome FirmwareUpgrade::FlashPhases(MainThreadInvoker& main) {
  CommandSet& cs = core_.Commands();
  const uint16_t slot = lease_.Slot();
  cs.ProgressValue = 0;
  main.RunAndWait([this] {
    Model.ProgressText = upgrade_text::kUpdating;
    Model.ProgressMax = kUpgradeProgressMax;
  });
  ShowProgress();
  core_.SetProgressTimerEnabled(true);
  ChangePage(main, [this] {
    Model.ProgressPanelCaption = "Process 1 / 3";
    Model.ProgressPanelVisible = true;
  });

  bool verified = false;
  if (cs.StopRequested) {
    SetMessagePanel(upgrade_text::kStoppedUnchanged);
  } else if (!Shown(cs.EraseSpi(slot, 0, kFlashImageLength))) {
    ShowProgress();
    SetMessagePanel(cs.StopRequested ? upgrade_text::kStopped : upgrade_text::kEraseFail);
  } else {
    ShowProgress();
    SetMessagePanel(upgrade_text::kEraseOk);
    ChangePage(main, [this] { Model.ProgressPanelCaption = "Process 2 / 3"; });
    if (cs.StopRequested || !Shown(cs.WriteSpi(slot, 0, kFlashImageLength, image_.data()))) {
      ShowProgress();
      SetMessagePanel(cs.StopRequested ? upgrade_text::kStopped : upgrade_text::kProgramFail);
    } else {
      ShowProgress();
      SetMessagePanel(upgrade_text::kProgramOk);
      std::vector<uint8_t> back(kFlashImageLength);
      ChangePage(main, [this] { Model.ProgressPanelCaption = "Process 3 / 3"; });
      if (!cs.StopRequested && Shown(cs.ReadSpi(slot, 0, kFlashImageLength, back.data()))) {
        ShowProgress();
        verified = std::equal(back.begin(), back.end(), image_.begin());
        SetMessagePanel(verified ? upgrade_text::kVerifyOk : upgrade_text::kVerifyFail);
      } else {
        ShowProgress();
        // A failed read leaves the text the read set; one that failed
        // before any request (the drive would not open) must not leave
        // "SPI Program OK" as the failure's message.
        if (cs.StopRequested)
          SetMessagePanel(upgrade_text::kStopped);
        else if (view_.PanelText(kMessagePanel) == upgrade_text::kProgramOk)
          SetMessagePanel(upgrade_text::kVerifyFail);
      }
    }
  }
  const bool stopped = !verified && cs.StopRequested;

  const bool left = LeaveUpdateMode();
  core_.SetProgressTimerEnabled(false);
  ChangePage(main, [this] { Model.ProgressPanelVisible = false; });

  if (verified) {
    // The upgrade itself succeeded and is reported so; what the controller
    // may still need is said first.
    if (!left) view_.ShowMessage({upgrade_text::kStillInUpdateMode, kMessageCaption, BoxIcon::Warning, BoxButtons::Ok});
    view_.ShowMessage({upgrade_text::kCompleted, upgrade_text::kCompletedCaption, BoxIcon::Warning, BoxButtons::Ok});
    return UpgradeOutcome::Succeeded;
  }
  view_.ShowMessage({view_.PanelText(kMessagePanel), kMessageCaption, BoxIcon::None, BoxButtons::Ok});
  return stopped ? UpgradeOutcome::Stopped : UpgradeOutcome::Failed;
}

void FirmwareUpgrade::SelectSlot(uint8_t slot) {
  const uint8_t count = core_.Devices().DeviceCount;
  if (count == 0 || slot >= kShownSlots || slot >= count) return;
  core_.SelectUpgradeSlot(slot);
  RedrawHeader();
}

void FirmwareUpgrade::RedrawHeader() {
  view_.NavigationChanged();  // the tabs show the page's slot
  const uint8_t slot = core_.Focus().UpgradeSlot();
  core_.RefreshIdentity();
  Model.FirmwareVersionText = ReadFirmware(core_.IdentSectorOf(slot)).text + "." +
                              DecodeStatus(core_.StatusRecordOf(slot), FirmwareInfo{}).configCode;
  view_.UpgradePageChanged();
}

}  // namespace raid
