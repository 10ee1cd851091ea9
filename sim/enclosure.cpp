#include "sim/enclosure.h"

#include <algorithm>
#include <cstring>

#include "device/record_layout.h"
#include "device/requests.h"

namespace raid::sim {

namespace {
constexpr uint32_t kStatusArea = 0x78000;
constexpr uint32_t kStatusEnd = 0x80000;
constexpr uint32_t kProtectedEnd = 0xC000;

bool RandomBlock(uint32_t lba) { return lba >= 3 && lba <= 130; }
}  // namespace

Enclosure::Enclosure(std::string name, EnclosureTransport transport) : name_(std::move(name)), transport_(transport) {
  ident_[ident::kSignature] = ident::kSig0;
  ident_[ident::kSignature + 1] = ident::kSig1;
}

void Enclosure::LogStatus() {
  if (!IsVendor()) return;
  uint32_t next = logged_ ? logAddr_ + NorFlash::kPageSize : kStatusArea;
  if (next + NorFlash::kPageSize > kStatusEnd) {
    for (uint32_t a = kStatusArea; a < kStatusEnd; a += NorFlash::kSectorSize) flash_.EraseSector(a);
    next = kStatusArea;
  }
  flash_.Program(next, status_.data(), NorFlash::kPageSize);
  logAddr_ = next;
  logged_ = true;
}

void Enclosure::EraseSector(uint32_t address) {
  flash_.EraseSector(address);
  // An erased status log holds no record any more: reads there answer the
  // flash again.
  if (logged_ &&
      (logAddr_ & ~(NorFlash::kSectorSize - 1)) == (address % NorFlash::kSize & ~(NorFlash::kSectorSize - 1)))
    logged_ = false;
}

bool Enclosure::FlashWriteAllowed(uint32_t address) const {
  return spiMode_ && (address >= kProtectedEnd || lowAreaOpen_);
}

void Enclosure::ReadFlashOrRecord(uint32_t address, uint8_t* out) {
  if (logged_ && address == logAddr_) {
    // The newest record's slot: the controller answers with the whole
    // current record (the log keeps its first half).
    uint8_t scratch[NorFlash::kPageSize];
    flash_.Read(address, scratch, NorFlash::kPageSize);
    std::memcpy(out, status_.data(), status_.size());
    return;
  }
  flash_.Read(address, out, 512);
}

bool Enclosure::Scsi(ScsiRequest& req, const DeviceTiming& t, int64_t& cost) {
  cost = t.roundTripMs;
  const uint8_t op = req.cdb[0];
  if (op == 0xFE) return IsVendor() && Vendor(req, t, cost);
  if (op == 0x12) {
    if (!req.data || req.transferLength < 36 || req.direction != DataDirection::In) return false;
    std::memset(req.data, 0, 36);
    req.data[4] = inquiryAdditionalLength;
    std::memcpy(req.data + 8, "SIMBRDGE", 8);
    std::memcpy(req.data + 16, "Two-bay enclosure", 16);
    std::memcpy(req.data + 32, "0100", 4);
    return true;
  }
  if (op != 0x28 && op != 0x2A) return false;
  const auto lba = static_cast<uint32_t>(LoadBE(std::span<const uint8_t>(req.cdb.data(), 16), 2, 4));
  const uint32_t count = static_cast<uint32_t>(LoadBE(std::span<const uint8_t>(req.cdb.data(), 16), 7, 2));
  if (count == 0 || !req.data || req.transferLength != count * 512) return false;
  if (op == 0x28) {
    if (req.direction != DataDirection::In) return false;
    cost += t.blockReadMs * count;
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t* out = req.data + i * 512;
      const uint32_t b = lba + i;
      if (b == cmd::kIdentLba && transport_ == EnclosureTransport::Read58) {
        std::memcpy(out, ident_.data(), 512);
      } else if (b == cmd::kStatusLba && !IsVendor()) {
        std::memcpy(out, status_.data(), 512);
      } else if (b == cmd::kSpiReplyLba && !IsVendor()) {
        flash_.Read(spiReadAddr_, out, 512);
      } else {
        auto it = disk_.find(b);
        if (it == disk_.end())
          std::memset(out, 0, 512);
        else
          std::memcpy(out, it->second.data(), 512);
      }
    }
    return true;
  }
  if (req.direction != DataDirection::Out) return false;
  if (count == 1 && req.data[0] == cmd::kSignature0 && req.data[1] == cmd::kSignature1 && !IsVendor()) {
    Sector s;
    std::memcpy(s.data(), req.data, 512);
    return CommandSector(lba, s, t, cost);
  }
  for (uint32_t i = 0; i < count; ++i) std::memcpy(disk_[lba + i].data(), req.data + i * 512, 512);
  return true;
}

bool Enclosure::CommandSector(uint32_t lba, const Sector& s, const DeviceTiming& t, int64_t& cost) {
  if (!CommandBlock::ChecksumOk(s)) return false;
  const uint8_t code = s[cmd::kCode];
  const uint8_t arg = s[cmd::kArg];
  const auto address = static_cast<uint32_t>(LoadBE(s, cmd::kAddress, 3));
  bool ok = false;
  switch (code) {
    case cmd::kSpiRead:
      ok = RandomBlock(lba);
      if (ok) spiReadAddr_ = address;
      break;
    case cmd::kSpiErase:
      ok = lba == cmd::kCommandBlockLba && arg == 0x20 && FlashWriteAllowed(address);
      if (ok) {
        EraseSector(address);
        cost += t.sectorEraseMs;
      }
      break;
    case cmd::kSpiWrite:
      ok = lba == cmd::kCommandBlockLba && s[cmd::kWriteMark] == cmd::kWriteMarkValue && FlashWriteAllowed(address) &&
           address % NorFlash::kPageSize == 0;
      if (ok) {
        if (dropWrites > 0)
          --dropWrites;
        else
          flash_.Program(address, &s[cmd::kPayload], NorFlash::kPageSize);
        cost += t.pageProgramMs;
      }
      break;
    case cmd::kSpiAccess:
      ok = RandomBlock(lba);
      if (ok) {
        spiMode_ = arg == 1;
        if (!spiMode_) lowAreaOpen_ = false;
      }
      break;
    case cmd::kSpiOpenLowArea:
      ok = RandomBlock(lba) && spiMode_;
      if (ok) lowAreaOpen_ = arg == 1;
      break;
    case cmd::kSpiMode10: ok = RandomBlock(lba); break;
    case cmd::kBackupPeriod:
      ok = lba == cmd::kCommandBlockLba;
      if (ok) {
        backupOn_ = s[5];
        backupMinutes_ = s[6];
        // The record reports the schedule (option bit and period).
        status_[status::kOptions] = static_cast<uint8_t>((status_[status::kOptions] & ~status::kScheduleOn) |
                                                         (backupOn_ ? status::kScheduleOn : 0));
        status_[status::kSchedulePeriod] = backupOn_ ? backupMinutes_ : 0;
        LogStatus();
      }
      break;
    case cmd::kInitialise: ok = lba == cmd::kCommandBlockLba; break;
    case cmd::kScan:
      ok = lba == cmd::kCommandBlockLba && s[4] <= 1;
      if (ok) {
        uint8_t& act = status_[status::kActivity];
        if (arg == 0) {
          act = static_cast<uint8_t>((act & ~0x83) | status::kActIsScan | (s[4] ? status::kActHdd2 : status::kActHdd1));
          status_[status::kProgress] = 0;
        } else {
          act = static_cast<uint8_t>(act & ~0x83);
        }
        LogStatus();
      }
      break;
    default: ok = false;
  }
  if (ok) commands_.push_back(s);
  return ok;
}

bool Enclosure::Ata(AtaRegisters& regs, uint8_t* data, uint32_t sectors, const DeviceTiming& t, int64_t& cost) {
  cost = t.roundTripMs;
  if (transport_ != EnclosureTransport::AtaIdentify) return false;
  if (regs.command == 0xEC) {
    if (sectors < 1 || !data) return false;
    std::memcpy(data, ident_.data(), 512);
    return true;
  }
  if (regs.command != 0x88) return false;
  switch (regs.features) {
    case 0x01:
      spiReadAddr_ = regs.lbaLow | (regs.lbaMid << 8) | (static_cast<uint32_t>(regs.lbaHigh) << 16);
      return true;
    case 0x02:
      spiMode_ = false;
      lowAreaOpen_ = false;
      return true;
    case 0x03: spiMode_ = true; return true;
    case 0x04:
    case 0x05:
      if (!spiMode_) return false;
      lowAreaOpen_ = regs.features == 0x04;
      return true;
    case 0x10:
    case 0x11: return true;
    default: return false;
  }
}

bool Enclosure::Vendor(ScsiRequest& req, const DeviceTiming& t, int64_t& cost) {
  DecodedVendorCdb v;
  const uint8_t shift = transport_ == EnclosureTransport::VendorOneFe ? 1 : 0;
  if (!DecodeVendorCdb(req.cdb, shift, v)) return false;
  auto needIn = [&](uint32_t n) { return req.data && req.direction == DataDirection::In && req.transferLength >= n; };
  switch (v.opcode) {
    case kVendorIdentify:
      if (!answersIdentOpcode || !needIn(512)) return false;
      std::memcpy(req.data, ident_.data(), 512);
      return true;
    case 0x78:
      if (!needIn(20)) return false;
      std::memset(req.data, 0, 20);
      req.data[0] = 0x50;
      req.data[1] = 0x8B;
      return true;
    case kVendorReadSpi:
      if (!needIn(512)) return false;
      cost += t.blockReadMs;
      if (v.flag == 1)
        flash_.Read(v.address, req.data, 512);
      else
        ReadFlashOrRecord(v.address, req.data);
      return true;
    case kVendorWriteSpi:
      if (!req.data || req.direction != DataDirection::Out || req.transferLength != 256 ||
          v.address % NorFlash::kPageSize != 0)
        return false;
      if (dropWrites > 0)
        --dropWrites;
      else
        flash_.Program(v.address, req.data, 256);
      cost += t.pageProgramMs;
      return true;
    case kVendorEraseSpi:
      if (!needIn(8)) return false;
      EraseSector(v.address);
      std::memset(req.data, 0, 8);
      cost += t.sectorEraseMs;
      return true;
    case 0x5A:
    case 0x23:
    case 0x10:
    case 0x52:
    case 0x5C:
    case 0x30:
    case 0x32:
      if (!needIn(8)) return false;
      std::memset(req.data, 0, 8);
      return true;
    default: return false;
  }
}

}  // namespace raid::sim
