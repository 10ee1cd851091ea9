#include "device/command_set.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <new>

namespace raid {

namespace {
// "Error code 201" for block 20: the block number and the digit 1.
std::string WriteFailureText(uint32_t lba) { return "Error code " + std::to_string(lba) + "1"; }

// Whether a request of a longer operation succeeded; a failure's text
// replaces `failure`, so the operation shows the last request that failed.
bool KeepFailure(const Outcome& o, std::string& failure) {
  if (!o.ok() && !o.error().empty()) failure = o.error();
  return o.ok();
}
}  // namespace

CommandSet::CommandSet(DeviceIo& io, Clock& clock, DeviceState& state)
    : io_(io), clock_(clock), st_(state), vendor_(*this), block_(*this), ata_(*this) {}

DeviceHandleValue CommandSet::OpenDevice(DeviceId id) {
  const Expected<DeviceHandleValue> opened = io_.Open(id);
  handle_ = opened ? *opened : kInvalidHandle;
  return handle_;
}

void CommandSet::CloseDevice() {
  if (handle_ != kInvalidHandle) io_.Close(handle_);
  handle_ = kInvalidHandle;
}

uint32_t CommandSet::NextRandomBlock() { return (static_cast<uint32_t>(rng_()) & 0x7F) + 3; }

bool CommandSet::Execute(DeviceHandleValue h, ScsiRequest& r, uint32_t needed) {
  r.transferred = 0;
  // Why a request failed is not shown: the caller's status-bar text says
  // which request it was.
  const bool ok = io_.Scsi(h, r).ok();
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
    // A bridge that cannot rescan is asked anyway.
    (void)io_.RescanBus(h);
    clock_.Sleep(500);
  }
  try {
    ReplyStatus status;
    return io_.Ata(h, regs, buffer, sectors, status).ok();
  } catch (const std::bad_alloc&) {
    memoryShort_ = true;
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

SpiTransport& CommandSet::TransportFor(uint32_t flags) {
  if (flags & drive_flags::kVendor) return vendor_;
  if (flags & drive_flags::kRead58) return block_;
  return ata_;
}

Outcome CommandSet::SendCommand(uint32_t lba) {
  if (WriteSectors(handle_, lba, Block.Bytes().data(), 1)) return Outcome::Ok();
  return Outcome::Fail(WriteFailureText(lba));
}

DeviceResult CommandSet::OpenFlashEnclosure(uint16_t slot, bool enterSpiMode) {
  memoryShort_ = false;
  if (st_.DeviceCount == 0) return DeviceResult::Failed(DeviceFailure::NoDevice);
  if (slot >= st_.DeviceCount || slot >= kMaxSlots) return DeviceResult::Failed(DeviceFailure::NoUpgradeMode);
  const uint32_t flags = st_.DeviceList[slot];
  CdbShift = (flags & drive_flags::kVendorShift) ? 1 : 0;
  transport_ = &TransportFor(flags);
  if (OpenDevice(drive_flags::Drive(flags)) == kInvalidHandle) return DeviceResult::Failed(DeviceFailure::InvalidDrive);
  if (const Outcome entered = enterSpiMode ? transport_->Control(spi_control::kEnter) : Outcome::Ok(); !entered) {
    CloseDevice();
    DeviceResult r = DeviceResult::RequestFailed(entered.error());
    r.outOfMemory = memoryShort_;
    return r;
  }
  return DeviceResult::Success();
}

DeviceResult CommandSet::CloseSpi(bool lowArea, bool ok, std::string failure) {
  if (lowArea && !KeepFailure(transport_->Control(spi_control::kCloseLowArea), failure)) ok = false;
  if (!KeepFailure(transport_->Control(spi_control::kLeave), failure)) ok = false;
  CloseDevice();
  if (ok) return DeviceResult::Success();
  // Stopped at a request boundary with nothing failing: nothing to show.
  DeviceResult r = failure.empty() ? DeviceResult::Failed(DeviceFailure::Silent) : DeviceResult::RequestFailed(failure);
  r.outOfMemory = memoryShort_;
  return r;
}

template <typename Step>
DeviceResult CommandSet::WalkFlash(uint16_t slot, uint32_t address, uint32_t count, uint32_t stride,
                                   uint32_t bytesPerProgress, bool lowAreaGate, Step step) {
  DeviceResult opened = OpenFlashEnclosure(slot, true);
  if (!opened) return opened;
  // Below 0xC000 the controller takes writes only while that area is open.
  const bool lowArea = lowAreaGate && address < kProtectedAreaEnd;
  std::string failure;  // of the last request that failed
  bool ok = !lowArea || KeepFailure(transport_->Control(spi_control::kOpenLowArea), failure);
  for (uint32_t off = 0; off < count && ok; off += stride) {
    if (StopRequested) {
      ok = false;
      break;
    }
    ok = KeepFailure(step(address + off, off), failure);
    if (ok && (off + stride) % bytesPerProgress == 0) ++ProgressValue;
    if (BetweenRequests) BetweenRequests();
  }
  return CloseSpi(lowArea, ok, failure);
}

DeviceResult CommandSet::ReadSpi(uint16_t slot, uint32_t address, uint32_t count, uint8_t* buffer) {
  if (!buffer || count % 512 != 0) return DeviceResult::Failed(DeviceFailure::Silent);
  return WalkFlash(slot, address, count, 512, 512, false,
                   [&](uint32_t a, uint32_t off) { return transport_->ReadBlock(a, buffer + off); });
}

DeviceResult CommandSet::WriteSpi(uint16_t slot, uint32_t address, uint32_t count, const uint8_t* data) {
  if (!data || count % 256 != 0) return DeviceResult::Failed(DeviceFailure::Silent);
  return WalkFlash(slot, address, count, 256, 512, true,
                   [&](uint32_t a, uint32_t off) { return transport_->WritePage(a, data + off); });
}

DeviceResult CommandSet::EraseSpi(uint16_t slot, uint32_t address, uint32_t count) {
  if (count % 4096 != 0) return DeviceResult::Failed(DeviceFailure::Silent);
  return WalkFlash(slot, address, count, 4096, 4096, true,
                   [&](uint32_t a, uint32_t) { return transport_->EraseSector(a); });
}

DeviceResult CommandSet::SpiControl(uint16_t slot, uint8_t request) {
  if (request != spi_control::kMode10 && request != spi_control::kMode11)
    return DeviceResult::Failed(DeviceFailure::Silent);
  DeviceResult r = OpenFlashEnclosure(slot, false);
  if (!r) return r;
  const Outcome done = transport_->Control(request);
  CloseDevice();
  if (done) return DeviceResult::Success();
  r = DeviceResult::RequestFailed(done.error());
  r.outOfMemory = memoryShort_;
  return r;
}

DeviceResult CommandSet::ReadStatusSector(uint32_t flags, uint8_t* buffer) {
  if (!buffer) return DeviceResult::Failed(DeviceFailure::Silent);
  if (OpenDevice(drive_flags::Drive(flags)) == kInvalidHandle) return DeviceResult::Failed(DeviceFailure::InvalidDrive);
  if (flags & drive_flags::kVendor) CdbShift = (flags & drive_flags::kVendorShift) ? 1 : 0;
  const Outcome read = TransportFor(flags).ReadStatus(buffer);
  CloseDevice();
  return read ? DeviceResult::Success() : DeviceResult::RequestFailed(read.error());
}

DeviceResult CommandSet::ReadSlotStatus(uint8_t slot, uint8_t* buffer) {
  if (!buffer) return DeviceResult::Failed(DeviceFailure::Silent);
  if (st_.DeviceCount == 0) return DeviceResult::Failed(DeviceFailure::NoDevice);
  if (slot >= kMaxSlots) return DeviceResult::Failed(DeviceFailure::InvalidDrive);
  return ReadStatusSector(st_.DeviceList[slot], buffer);
}

DeviceResult CommandSet::OpenSlot(uint8_t slot) {
  if (slot >= st_.DeviceCount || slot >= kMaxSlots ||
      OpenDevice(drive_flags::Drive(st_.DeviceList[slot])) == kInvalidHandle)
    return DeviceResult::Failed(DeviceFailure::InvalidDrive);
  return DeviceResult::Success();
}

DeviceResult CommandSet::SendCommandSector() {
  const Outcome sent = SendCommand(cmd::kCommandBlockLba);
  return sent ? DeviceResult::Success() : DeviceResult::RequestFailed(sent.error());
}

}  // namespace raid
