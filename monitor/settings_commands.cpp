#include "monitor/settings_commands.h"

#include <string>

#include "monitor/device_messages.h"

namespace raid {

bool SettingsCommands::Send(uint8_t slot) {
  if (st_.DeviceCount == 0) {
    ShowDeviceResult(ui_, DeviceResult::Failed(DeviceFailure::NoDevice));
    return false;
  }
  if (!ms_.AnySlotChecked()) return false;
  if (const DeviceResult opened = cs_.OpenSlot(slot); !opened) {
    ShowDeviceResult(ui_, opened);
    return false;
  }
  // "Buzzer Mute", the scan buttons and "Auto Scan" stay locked until the
  // command has settled (OnHoldOffTimer counts the hold-off down).
  holdOff_.OptionBoxesEnabled = false;
  holdOff_.AutoScanEnabled = false;
  return true;
}

bool SettingsCommands::SendBackupPeriod(const ScheduleSetting& setting) {
  if (st_.Lease.HoldsSlot() || focus_.Selecting()) return false;
  const uint8_t slot = setting.slot;
  if (!Send(slot)) return false;
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
  const DeviceResult sent = cs_.SendCommandSector();
  cs_.CloseDevice();
  ShowDeviceResult(ui_, sent);
  if (slot < holdOff_.SettleCounter.size()) holdOff_.SettleCounter[slot] = 4;
  return sent.ok();
}

bool SettingsCommands::SendScanCommand(const ScanRequest& request, uint64_t lastSector) {
  if (st_.Lease.HoldsSlot()) return false;
  const uint8_t slot = request.slot;
  if (!Send(slot)) return false;
  CommandBlock& block = cs_.Block;
  auto& b = block.Bytes();
  block.SetHeader(cmd::kScan, request.stop ? 1 : 0);
  b[4] = request.drive;
  StoreLE(b, 7, 6, 0);
  StoreLE(b, 13, 6, lastSector & 0xFFFFFFFFFFFFULL);
  block.UpdateChecksum();
  const DeviceResult sent = cs_.SendCommandSector();
  cs_.CloseDevice();
  ShowDeviceResult(ui_, sent);
  if (slot < holdOff_.SettleCounter.size()) {
    holdOff_.SettleCounter[slot] = 4;
    if (request.stop) scanStopsSent_[slot] = true;
  }
  return sent.ok();
}

bool SettingsCommands::SendCommandBlock(uint8_t slot) {
  if (!Send(slot)) return false;
  const DeviceResult sent = cs_.SendCommandSector();
  cs_.CloseDevice();
  ShowDeviceResult(ui_, sent);
  return sent.ok();
}

}  // namespace raid
