#include "device/command_set.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <new>

namespace raid {

namespace {
constexpr int kPanel = 4;
const char* const kNoDevicePanel = "Device not found!!!";
const char* const kNoDeviceBox = "No Device found !";
const char* const kMessageCaption = "Message";

std::string WriteFailureText(uint32_t lba) { return "Error code " + std::to_string(lba) + "1"; }

std::string Hex2(uint8_t v) {
  char b[3];
  std::snprintf(b, sizeof b, "%02X", v);
  return b;
}
}  // namespace

CommandSet::CommandSet(DeviceIo& io, Clock& clock, UserInterface& ui, DeviceState& state)
    : io_(io), clock_(clock), ui_(ui), st_(state) {}

DeviceHandleValue CommandSet::OpenDevice(DeviceId id) {
  handle_ = io_.Open(id);
  return handle_;
}

void CommandSet::CloseDevice() {
  if (handle_ != kInvalidHandle) io_.Close(handle_);
  handle_ = kInvalidHandle;
}

uint32_t CommandSet::NextRandomBlock() { return (static_cast<uint32_t>(rng_()) & 0x7F) + 3; }

bool CommandSet::Execute(DeviceHandleValue h, ScsiRequest& r, uint32_t needed) {
  r.transferred = 0;
  const bool ok = io_.Scsi(h, r);
  if (r.direction != DataDirection::In) return ok;
  // Bytes that did not arrive read as zero, never as what the buffer held
  // before; a reply too short for the bytes its caller reads has failed.
  const uint32_t got = ok ? std::min(r.transferred, r.transferLength) : 0;
  if (r.data && got < r.transferLength) std::memset(r.data + got, 0, r.transferLength - got);
  return ok && got >= std::min(needed, r.transferLength);
}

bool CommandSet::ReadSectors(DeviceHandleValue h, uint32_t lba, uint8_t* buffer, uint8_t count) {
  ScsiRequest r = MakeRead10(lba, count, buffer);
  return Execute(h, r);
}

bool CommandSet::WriteSectors(DeviceHandleValue h, uint32_t lba, uint8_t* buffer, uint8_t count) {
  ScsiRequest r = MakeWrite10(lba, count, buffer);
  return Execute(h, r);
}

bool CommandSet::InquiryDevice(DeviceHandleValue h, uint8_t* buffer) {
  ScsiRequest r = MakeInquiry(buffer);
  // Detection reads the additional length at byte 4.
  return Execute(h, r, kInquiryBytesRead);
}

bool CommandSet::AtaCommand(DeviceHandleValue h, AtaRegisters& regs, uint8_t* buffer, uint32_t sectors) {
  if (regs.command == 0xEC) {
    // The bridge is asked to look at its bus again before IDENTIFY.
    io_.RescanBus(h);
    clock_.Sleep(500);
  }
  try {
    ReplyStatus status;
    return io_.Ata(h, regs, buffer, sectors, status);
  } catch (const std::bad_alloc&) {
    ui_.ShowMessage({"Menory Alloc Error!!", "", BoxIcon::Error, BoxButtons::Ok});
    return false;
  }
}

bool CommandSet::VendorQuery(uint8_t row, uint32_t needed) {
  if (row >= kVendorQueryTable.size()) return false;
  const auto& q = kVendorQueryTable[row];
  ScsiRequest r;
  const auto cdb = VendorCdb(q.opcode, 0, 0, CdbShift);
  std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
  r.direction = DataDirection::In;
  r.transferLength = q.replyBytes;
  r.timeoutSeconds = kBlockTimeout;
  r.data = ScratchSector.data();
  return Execute(handle_, r, needed);
}

bool CommandSet::VendorCommand(uint8_t type, uint8_t* buffer, uint32_t address) {
  const VendorCommandType* t = FindVendorCommandType(type);
  if (!t || !buffer) return false;
  ScsiRequest r;
  const auto cdb = VendorCdb(t->opcode, address, t->flag, CdbShift);
  std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
  r.direction = t->direction;
  r.transferLength = t->bytes;
  r.timeoutSeconds = kBlockTimeout;
  r.data = buffer;
  return Execute(handle_, r);
}

CommandSet::Transport CommandSet::TransportOf(uint32_t flags) {
  if (flags & drive_flags::kVendor) return Transport::Vendor;
  if (flags & drive_flags::kRead58) return Transport::BlockCommands;
  return Transport::Ata;
}

void CommandSet::Fail(const std::string& text) { ui_.SetPanelText(kPanel, text); }

bool CommandSet::NoDeviceGate() {
  Fail(kNoDevicePanel);
  ui_.ShowMessage({kNoDeviceBox, kMessageCaption, BoxIcon::Information, BoxButtons::Ok});
  return false;
}

bool CommandSet::SendCommand(uint32_t lba) {
  if (WriteSectors(handle_, lba, Block.Bytes().data(), 1)) return true;
  Fail(WriteFailureText(lba));
  return false;
}

bool CommandSet::SpiPreamble(bool enterSpiMode) {
  if (st_.DeviceCount == 0) return NoDeviceGate();
  if (st_.OperationSlot >= st_.DeviceCount || st_.OperationSlot >= kMaxSlots) {
    Fail("No Upgrade Mode!!!");
    ui_.ShowMessage({"No Upgrade Mode !", kMessageCaption, BoxIcon::Information, BoxButtons::Ok});
    return false;
  }
  openedFlags_ = st_.DeviceList[st_.OperationSlot];
  CdbShift = (openedFlags_ & drive_flags::kVendorShift) ? 1 : 0;
  if (OpenDevice(drive_flags::Drive(openedFlags_)) == kInvalidHandle) {
    ui_.ShowMessage({"Invalid Drive", "", BoxIcon::None, BoxButtons::Ok});
    return false;
  }
  if (enterSpiMode && !SpiControlOpen(spi_control::kEnter)) {
    CloseDevice();
    return false;
  }
  return true;
}

bool CommandSet::SpiControlOpen(uint8_t request) {
  switch (TransportOf(openedFlags_)) {
    case Transport::Vendor:
      return true;  // the vendor transport has no mode controls
    case Transport::BlockCommands: {
      uint8_t code = 0, arg = 0;
      switch (request) {
        case spi_control::kLeave: code = cmd::kSpiAccess; arg = 0; break;
        case spi_control::kEnter: code = cmd::kSpiAccess; arg = 1; break;
        case spi_control::kOpenLowArea: code = cmd::kSpiOpenLowArea; arg = 1; break;
        case spi_control::kCloseLowArea: code = cmd::kSpiOpenLowArea; arg = 0; break;
        case spi_control::kMode10: code = cmd::kSpiMode10; arg = 0; break;
        case spi_control::kMode11: code = cmd::kSpiMode10; arg = 1; break;
        default: return false;
      }
      Block.SetHeader(code, arg);
      return SendCommand(NextRandomBlock());
    }
    case Transport::Ata: {
      AtaRegisters regs;
      regs.features = request;
      regs.command = 0x88;
      if (AtaCommand(handle_, regs, nullptr, 0)) return true;
      Fail("VU command 0x88 FEA " + Hex2(request) + " Error");
      return false;
    }
  }
  return false;
}

bool CommandSet::SpiControl(uint8_t request) {
  if (request == spi_control::kMode10 || request == spi_control::kMode11) {
    if (!SpiPreamble(false)) return false;
    const bool ok = SpiControlOpen(request);
    CloseDevice();
    return ok;
  }
  return SpiControlOpen(request);
}

bool CommandSet::CloseSpi(bool lowArea, bool ok) {
  if (lowArea && !SpiControlOpen(spi_control::kCloseLowArea)) ok = false;
  if (!SpiControlOpen(spi_control::kLeave)) ok = false;
  CloseDevice();
  return ok;
}

bool CommandSet::ReadSpi(uint32_t address, uint32_t count, uint8_t* buffer) {
  if (!buffer || count % 512 != 0) return false;
  if (!SpiPreamble(true)) return false;
  const Transport tr = TransportOf(openedFlags_);
  bool ok = true;
  for (uint32_t off = 0; off < count && ok; off += 512) {
    if (StopRequested) {
      ok = false;
      break;
    }
    const uint32_t a = address + off;
    uint8_t* dst = buffer + off;
    if (tr == Transport::Vendor) {
      if (!VendorCommand(1, dst, a)) {
        Fail("Read SPI Error USB");
        ok = false;
      }
    } else {
      if (tr == Transport::BlockCommands) {
        Block.SetHeader(cmd::kSpiRead, 3);
        Block.SetAddress(a);
        ok = SendCommand(NextRandomBlock());
      } else {
        AtaRegisters regs{0x01, 0, static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8),
                          static_cast<uint8_t>(a >> 16), 0xE0, 0x88};
        ok = AtaCommand(handle_, regs, nullptr, 0);
        if (!ok) Fail("VU command 0x88 FEA 0x01 Read Error");
      }
      if (ok && !ReadSectors(handle_, cmd::kSpiReplyLba, dst, 1)) {
        Fail("Error code 600");
        ok = false;
      }
    }
    if (ok) ++ProgressValue;
    ui_.ProcessMessages();
  }
  return CloseSpi(false, ok);
}

bool CommandSet::WriteSpi(uint32_t address, uint32_t count, const uint8_t* data) {
  if (!data || count % 256 != 0) return false;
  if (!SpiPreamble(true)) return false;
  const bool lowArea = address < kProtectedAreaEnd;
  bool ok = !lowArea || SpiControlOpen(spi_control::kOpenLowArea);
  const Transport tr = TransportOf(openedFlags_);
  for (uint32_t off = 0; off < count && ok; off += 256) {
    if (StopRequested) {
      ok = false;
      break;
    }
    const uint32_t a = address + off;
    if (tr == Transport::Vendor) {
      uint8_t page[256];
      std::memcpy(page, data + off, 256);
      if (!VendorCommand(2, page, a)) {
        Fail("Write SPI Error USB");
        ok = false;
      }
    } else {
      Block.SetHeader(cmd::kSpiWrite, 2);
      Block.SetAddress(a);
      std::memcpy(&Block.Bytes()[cmd::kPayload], data + off, 256);
      Block.Bytes()[cmd::kWriteMark] = cmd::kWriteMarkValue;
      Block.UpdateChecksum();
      ok = SendCommand(cmd::kCommandBlockLba);
    }
    if (ok && (off + 256) % 512 == 0) ++ProgressValue;
    ui_.ProcessMessages();
  }
  return CloseSpi(lowArea, ok);
}

bool CommandSet::EraseSpi(uint32_t address, uint32_t count) {
  if (count % 4096 != 0) return false;
  if (!SpiPreamble(true)) return false;
  const bool lowArea = address < kProtectedAreaEnd;
  bool ok = !lowArea || SpiControlOpen(spi_control::kOpenLowArea);
  const Transport tr = TransportOf(openedFlags_);
  for (uint32_t off = 0; off < count && ok; off += 4096) {
    if (StopRequested) {
      ok = false;
      break;
    }
    const uint32_t a = address + off;
    if (tr == Transport::Vendor) {
      if (!VendorCommand(3, ScratchSector.data(), a)) {
        Fail("Erase SPI Error USB");
        ok = false;
      }
    } else {
      Block.SetHeader(cmd::kSpiErase, 0x20);
      Block.SetAddress(a);
      ok = SendCommand(cmd::kCommandBlockLba);
    }
    if (ok) ++ProgressValue;
    ui_.ProcessMessages();
  }
  return CloseSpi(lowArea, ok);
}

bool CommandSet::SearchStatusRecord(uint8_t* buffer) {
  const uint32_t limit = StatusAreaLimit;
  if (limit < kStatusAreaStart + kStatusRecordStep) return false;
  const uint32_t last = limit - kStatusRecordStep;
  uint32_t a = kStatusAreaStart;
  // The first record in use, then the first erased one after it.
  for (; a <= last; a += kStatusRecordStep) {
    if (!VendorCommand(4, buffer, a)) return false;
    if (buffer[0] != 0xFF) break;
  }
  for (; a <= last; a += kStatusRecordStep) {
    if (!VendorCommand(4, buffer, a)) return false;
    if (buffer[0] == 0xFF) break;
  }
  a -= kStatusRecordStep;
  if (!VendorCommand(1, buffer, a)) return false;
  FlashRecordAddr = a;
  return true;
}

bool CommandSet::ReadStatusSector(uint8_t* buffer) {
  if (!buffer) return false;
  if (st_.DeviceCount == 0 && !st_.Detecting) return NoDeviceGate();
  uint32_t flags = 0;
  bool valid = true;
  if (st_.UpgradeRunning) {
    valid = st_.OperationSlot < kMaxSlots;
    if (valid) flags = st_.DeviceList[st_.OperationSlot];
  } else if (st_.Detecting) {
    flags = st_.ScanFlags;
  } else {
    valid = st_.CurrentSlot < kMaxSlots;
    if (valid) flags = st_.DeviceList[st_.CurrentSlot];
  }
  if (!valid || OpenDevice(drive_flags::Drive(flags)) == kInvalidHandle) {
    ui_.ShowNotice({"Invalid Drive", "", BoxIcon::None, BoxButtons::Ok});
    return false;
  }
  bool ok;
  if (TransportOf(flags) == Transport::Vendor) {
    CdbShift = (flags & drive_flags::kVendorShift) ? 1 : 0;
    ok = SearchStatusRecord(buffer);
    if (!ok) Fail("Read Error for USB");
  } else {
    ok = ReadSectors(handle_, cmd::kStatusLba, buffer, 1);
    if (!ok) Fail("Error code 330");
  }
  CloseDevice();
  return ok;
}

bool CommandSet::SettingsPreamble(uint8_t slot) {
  if (st_.DeviceCount == 0) return NoDeviceGate();
  if (!st_.AnySlotChecked()) return false;
  st_.CurrentSlot = slot;
  if (slot >= st_.DeviceCount || slot >= kMaxSlots ||
      OpenDevice(drive_flags::Drive(st_.DeviceList[slot])) == kInvalidHandle) {
    ui_.ShowMessage({"Invalid Drive", "", BoxIcon::None, BoxButtons::Ok});
    return false;
  }
  st_.OptionBoxesEnabled = false;
  st_.AutoScanEnabled = false;
  return true;
}

bool CommandSet::SendBackupPeriod() {
  if (st_.OperationHoldsSlot() || st_.TabSwitching) return false;
  const uint8_t slot = st_.StatusPageSlot;
  if (!SettingsPreamble(slot)) return false;
  Block.UpdateChecksum();
  Block.SetHeader(cmd::kBackupPeriod, 0);
  auto& b = Block.Bytes();
  b[4] = 0;
  if (st_.BackupEnabled) {
    b[5] = 1;
    b[6] = st_.BackupMinutes;
    st_.BackupMessage = "Backup period: " + std::to_string(st_.BackupMinutes) + " min";
  } else {
    b[5] = 0;
    b[6] = 0;
  }
  const bool ok = SendCommand(cmd::kCommandBlockLba);
  CloseDevice();
  if (slot < st_.SettleCounter.size()) st_.SettleCounter[slot] = 4;
  return ok;
}

bool CommandSet::SendScanCommand(uint64_t lastSector) {
  if (st_.OperationHoldsSlot()) return false;
  const uint8_t slot = st_.StatusPageSlot;
  if (!SettingsPreamble(slot)) return false;
  auto& b = Block.Bytes();
  Block.SetHeader(cmd::kScan, st_.ScanStop);
  b[4] = st_.ScanDrive;
  StoreLE(b, 7, 6, 0);
  StoreLE(b, 13, 6, lastSector & 0xFFFFFFFFFFFFULL);
  Block.UpdateChecksum();
  const bool ok = SendCommand(cmd::kCommandBlockLba);
  CloseDevice();
  if (slot < st_.SettleCounter.size()) {
    st_.SettleCounter[slot] = 4;
    if (st_.ScanStop == 1) st_.ScanAbortRequest[slot] = 1;
  }
  return ok;
}

bool CommandSet::SendCommandBlock() {
  // A long operation addresses the slot it holds.
  const uint8_t slot = st_.OperationSlot < kMaxSlots ? static_cast<uint8_t>(st_.OperationSlot) : st_.UpgradePageSlot;
  if (!SettingsPreamble(slot)) return false;
  const bool ok = SendCommand(cmd::kCommandBlockLba);
  CloseDevice();
  return ok;
}

}  // namespace raid
