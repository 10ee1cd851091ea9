#include "monitor/settings_commands.h"

#include <string>

#include "monitor/device_messages.h"

namespace raid {

bool SettingsCommands::Open(uint8_t slot, MainThreadInvoker& main) {
  bool go = false;
  main.RunAndWait([&] {
    if (st_.DeviceCount == 0)
      ShowDeviceResult(ui_, DeviceResult::Failed(DeviceFailure::NoDevice));
    else
      go = ms_.AnySlotChecked();
  });
  if (!go) return false;
  const DeviceResult opened = cs_.OpenSlot(slot);
  main.RunAndWait([&] {
    if (!opened) {
      ShowDeviceResult(ui_, opened);
      return;
    }
    // "Buzzer Mute", the scan buttons and "Auto Scan" stay locked until the
    // command has settled (OnHoldOffTimer counts the hold-off down).
    holdOff_.OptionBoxesEnabled = false;
    holdOff_.AutoScanEnabled = false;
  });
  return opened.ok();
}

bool SettingsCommands::SendAndClose(MainThreadInvoker& main, const std::function<void()>& settled) {
  const DeviceResult sent = cs_.SendCommandSector();
  cs_.CloseDevice();
  main.RunAndWait([&] {
    ShowDeviceResult(ui_, sent);
    if (settled) settled();
  });
  return sent.ok();
}

bool SettingsCommands::SendBackupPeriod(const ScheduleSetting& setting, MainThreadInvoker& main) {
  bool refused = true;
  main.RunAndWait([&] { refused = st_.Lease.HoldsSlot() || focus_.Selecting(); });
  const uint8_t slot = setting.slot;
  if (refused || !Open(slot, main)) return false;
  CommandBlock& block = cs_.Block;
  block.UpdateChecksum();
  block.SetHeader(cmd::kBackupPeriod, 0);
  auto& b = block.Bytes();
  b[4] = 0;
  if (setting.on) {
    b[5] = 1;
    b[6] = setting.minutes;
  } else {
    b[5] = 0;
    b[6] = 0;
  }
  return SendAndClose(main, [&] {
    if (slot < holdOff_.SettleCounter.size()) holdOff_.SettleCounter[slot] = 4;
  });
}

bool SettingsCommands::SendScanCommand(const ScanRequest& request, uint64_t lastSector, MainThreadInvoker& main) {
  if (st_.Lease.HoldsSlot()) return false;
  const uint8_t slot = request.slot;
  if (!Open(slot, main)) return false;
  CommandBlock& block = cs_.Block;
  auto& b = block.Bytes();
  block.SetHeader(cmd::kScan, request.stop ? 1 : 0);
  b[4] = request.drive;
  StoreLE(b, 7, 6, 0);
  StoreLE(b, 13, 6, lastSector & 0xFFFFFFFFFFFFULL);
  block.UpdateChecksum();
  return SendAndClose(main, [&] {
    if (slot < holdOff_.SettleCounter.size()) {
      holdOff_.SettleCounter[slot] = 4;
      if (request.stop) scanStopsSent_[slot] = true;
    }
  });
}

bool SettingsCommands::SendCommandBlock(uint8_t slot, MainThreadInvoker& main) {
  return Open(slot, main) && SendAndClose(main, nullptr);
}

}  // namespace raid
