#include "sim/scsi_responder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/requests.h"

namespace raid::sim {

namespace {

constexpr uint32_t kBlockSize = 512;
constexpr uint8_t kAtaStatusOk = 0x50;     // DRDY, DSC
constexpr uint8_t kAtaStatusError = 0x51;  // DRDY, DSC, ERR
constexpr uint8_t kAtaErrorAbort = 0x04;   // ABRT

// Additional sense codes (the qualifier is 0 for all of these).
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscLbaOutOfRange = 0x21;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
constexpr uint8_t kAscInvalidFieldInParameters = 0x26;
constexpr uint8_t kAscSavingNotSupported = 0x39;
constexpr uint8_t kAscMediumNotPresent = 0x3A;

// Reads CDB bytes; a byte the transport did not deliver reads as zero.
class Cdb {
 public:
  explicit Cdb(const ScsiCommand& c) : p_(c.cdb), n_(c.cdb ? std::min<size_t>(c.cdbLength, 16) : 0) {}
  uint8_t operator[](size_t i) const { return i < n_ ? p_[i] : 0; }
  uint64_t BE(size_t at, size_t width) const {
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | (*this)[at + i];
    return v;
  }
  size_t Length() const { return n_; }

 private:
  const uint8_t* p_;
  size_t n_;
};

void PutBE(std::vector<uint8_t>& b, size_t at, size_t width, uint64_t v) {
  for (size_t i = 0; i < width; ++i) b[at + width - 1 - i] = static_cast<uint8_t>(v >> (8 * i));
}

ScsiAnswer Good(uint32_t transferred = 0) {
  ScsiAnswer a;
  a.transferred = transferred;
  return a;
}

// CHECK CONDITION with fixed-format sense data.
ScsiAnswer Check(uint8_t key, uint8_t asc, uint8_t ascq = 0) {
  ScsiAnswer a;
  a.status = kStatusCheckCondition;
  a.sense[0] = 0x70;  // current error, fixed format
  a.sense[2] = key;
  a.sense[7] = 10;  // additional length: bytes 8-17
  a.sense[12] = asc;
  a.sense[13] = ascq;
  a.senseLength = 18;
  return a;
}

// CHECK CONDITION with descriptor-format sense data carrying the ATA Status
// Return descriptor: the output registers of an ATA PASS-THROUGH command.
ScsiAnswer AtaCheck(uint8_t key, uint8_t asc, uint8_t ascq, const AtaRegisters& r, uint8_t error, uint8_t status) {
  ScsiAnswer a;
  a.status = kStatusCheckCondition;
  uint8_t* s = a.sense.data();
  s[0] = 0x72;  // current error, descriptor format
  s[1] = key;
  s[2] = asc;
  s[3] = ascq;
  s[7] = 14;  // one descriptor of 2 + 12 bytes
  uint8_t* d = s + 8;
  d[0] = 0x09;  // ATA Status Return
  d[1] = 12;
  d[2] = 0;  // EXTEND clear: 28-bit registers
  d[3] = error;
  d[5] = r.sectorCount;
  d[7] = r.lbaLow;
  d[9] = r.lbaMid;
  d[11] = r.lbaHigh;
  d[12] = r.device;
  d[13] = status;
  a.senseLength = 8 + 14;
  return a;
}

// Copies a reply the responder made itself into the host's buffer, cut to
// the CDB's allocation length and the buffer.
ScsiAnswer Reply(const ScsiCommand& c, const std::vector<uint8_t>& reply, uint64_t allocation) {
  const auto n = static_cast<uint32_t>(std::min<uint64_t>({reply.size(), allocation, c.dataLength}));
  if (n && c.data) std::memcpy(c.data, reply.data(), n);
  return Good(n);
}

std::vector<uint8_t> ModePages(uint8_t page, bool changeable, bool& known) {
  std::vector<uint8_t> out;
  known = true;
  const auto caching = [&] {
    std::vector<uint8_t> p(20, 0);
    p[0] = 0x08;
    p[1] = 18;
    // Write cache off, read cache on: every write reaches the controller.
    out.insert(out.end(), p.begin(), p.end());
  };
  const auto control = [&] {
    std::vector<uint8_t> p(12, 0);
    p[0] = 0x0A;
    p[1] = 10;
    out.insert(out.end(), p.begin(), p.end());
  };
  switch (page) {
    case 0x08: caching(); break;
    case 0x0A: control(); break;
    case 0x3F:
      caching();
      control();
      break;
    default: known = false;
  }
  if (changeable) {
    // Nothing can be changed: every byte after each page's header is zero.
    for (size_t i = 0; i + 1 < out.size(); i += 2 + out[i + 1])
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(i + 2),
                out.begin() + static_cast<std::ptrdiff_t>(std::min(out.size(), i + 2 + out[i + 1])), 0);
  }
  return out;
}

}  // namespace

ScsiResponder::ScsiResponder(SimDeviceIo& io, int drive, uint64_t blocks)
    : io_(io), drive_(drive), blocks_(blocks ? blocks : kDefaultBlocks) {}

ScsiResponder::~ScsiResponder() {
  if (handle_ != kInvalidHandle) io_.Close(handle_);
}

uint64_t ScsiResponder::BlocksFor(const ScenarioSpec& sc, int drive) {
  uint64_t end = 0;
  for (const auto& v : sc.volumes)
    if (v.drive == drive) end = std::max(end, v.offset + v.length);
  if (end == 0) return kDefaultBlocks;
  constexpr uint64_t kMiB = 1024 * 1024;
  const uint64_t whole = end / kMiB + (end % kMiB ? 1 : 0);
  return whole * (kMiB / kBlockSize);
}

bool ScsiResponder::Present() { return io_.DrivePresent(drive_); }

std::optional<bool> ScsiResponder::PlugChange() {
  const bool now = Present();
  if (reportedPresent_ && *reportedPresent_ == now) return std::nullopt;
  reportedPresent_ = now;
  return now;
}

DeviceHandleValue ScsiResponder::OwnHandle() {
  if (handle_ == kInvalidHandle) {
    const Expected<DeviceHandleValue> opened = io_.Open(static_cast<DeviceId>(drive_));
    if (opened) handle_ = *opened;
  }
  return handle_;
}

ScsiAnswer ScsiResponder::Answer(const ScsiCommand& c) {
  bool handled = false;
  ScsiAnswer a = Housekeeping(c, handled);
  if (handled) return a;
  const DeviceHandleValue h = OwnHandle();
  if (h == kInvalidHandle) return Check(kKeyNotReady, kAscMediumNotPresent);
  return Answer(h, c);
}

ScsiAnswer ScsiResponder::Answer(DeviceHandleValue h, const ScsiCommand& c) {
  bool handled = false;
  ScsiAnswer a = Housekeeping(c, handled);
  if (handled) return a;
  if (c.direction == DataDirection::In && c.data && c.dataLength) std::memset(c.data, 0, c.dataLength);
  const Cdb cdb(c);
  switch (cdb[0]) {
    case 0x12: return Inquiry(h, c);
    case 0x28:
    case 0x2A: return ReadWrite(h, c);
    case 0xFE: return Forward(h, c, kAscInvalidOpcode);
    case 0xA1:
    case 0x85: return AtaPassThrough(h, c);
    default: return Check(kKeyIllegalRequest, kAscInvalidOpcode);
  }
}

ScsiAnswer ScsiResponder::Forward(DeviceHandleValue h, const ScsiCommand& c, uint8_t refusedAsc) {
  ScsiRequest r;
  const Cdb cdb(c);
  r.cdbLength = static_cast<uint8_t>(cdb.Length());
  for (size_t i = 0; i < cdb.Length(); ++i) r.cdb[i] = cdb[i];
  r.direction = c.direction;
  r.data = c.data;
  r.transferLength = c.data ? c.dataLength : 0;
  r.timeoutSeconds = c.timeoutSeconds ? c.timeoutSeconds : 30;
  if (io_.Scsi(h, r)) return Good(std::min(r.transferred, r.transferLength));
  if (io_.LastRequestHung()) {
    ScsiAnswer a;
    a.hang = true;
    return a;
  }
  if (!Present()) return Check(kKeyNotReady, kAscMediumNotPresent);
  return Check(kKeyIllegalRequest, refusedAsc);
}

ScsiAnswer ScsiResponder::ReadWrite(DeviceHandleValue h, const ScsiCommand& c) {
  const Cdb cdb(c);
  const bool read = cdb[0] == 0x28;
  const uint64_t lba = cdb.BE(2, 4);
  const uint64_t count = cdb.BE(7, 2);
  if (lba + count > blocks_) return Check(kKeyIllegalRequest, kAscLbaOutOfRange);
  if (count == 0) return Good();
  const DataDirection want = read ? DataDirection::In : DataDirection::Out;
  if (c.direction != want || !c.data || c.dataLength < count * kBlockSize)
    return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
  ScsiCommand exact = c;
  exact.dataLength = static_cast<uint32_t>(count * kBlockSize);
  return Forward(h, exact, read ? kAscInvalidFieldInCdb : kAscInvalidFieldInParameters);
}

ScsiAnswer ScsiResponder::Inquiry(DeviceHandleValue h, const ScsiCommand& c) {
  const Cdb cdb(c);
  const uint32_t allocation = static_cast<uint32_t>(std::min<uint64_t>(cdb.BE(3, 2), c.data ? c.dataLength : 0));
  if (c.direction != DataDirection::In) return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
  // The controller answers 36 bytes into a buffer of at least that; a
  // shorter allocation gets the start of them.
  constexpr uint32_t kStandardLength = 36;
  std::vector<uint8_t> scratch;
  ScsiCommand forwarded = c;
  if (allocation < kStandardLength) {
    scratch.assign(kStandardLength, 0);
    forwarded.data = scratch.data();
    forwarded.dataLength = kStandardLength;
  } else {
    forwarded.dataLength = allocation;
  }
  ScsiAnswer a = Forward(h, forwarded, kAscInvalidFieldInCdb);
  if (a.status != kStatusGood || a.hang) return a;
  // As much of the data as the reply says it has (its additional length),
  // within what arrived.
  const uint32_t says = 5u + forwarded.data[4];
  const uint32_t n = std::min({a.transferred, says, allocation});
  if (!scratch.empty() && n) std::memcpy(c.data, scratch.data(), n);
  return Good(n);
}

ScsiAnswer ScsiResponder::AtaPassThrough(DeviceHandleValue h, const ScsiCommand& c) {
  const Cdb cdb(c);
  const bool sixteen = cdb[0] == 0x85;
  const uint8_t protocol = (cdb[1] >> 1) & 0x0F;
  const bool ckCond = cdb[2] & 0x20;
  const bool fromDevice = cdb[2] & 0x08;
  const bool hasData = (cdb[2] & 0x03) != 0;
  AtaRegisters regs;
  if (sixteen) {
    regs = {cdb[4], cdb[6], cdb[8], cdb[10], cdb[12], cdb[13], cdb[14]};
  } else {
    regs = {cdb[3], cdb[4], cdb[5], cdb[6], cdb[7], cdb[8], cdb[9]};
  }
  // Resets and "return response information" are the bridge's own business.
  if (protocol < 3 || protocol == 15) return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
  uint32_t sectors = 0;
  if (hasData) {
    if (!fromDevice) {
      // The controller takes no data from the host by ATA command.
      return AtaCheck(kKeyAbortedCommand, 0, 0, regs, kAtaErrorAbort, kAtaStatusError);
    }
    if (c.direction != DataDirection::In || !c.data || c.dataLength == 0 || c.dataLength % kBlockSize)
      return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
    sectors = c.dataLength / kBlockSize;
  }
  ReplyStatus status;
  if (!io_.Ata(h, regs, hasData ? c.data : nullptr, sectors, status)) {
    if (io_.LastRequestHung()) {
      ScsiAnswer a;
      a.hang = true;
      return a;
    }
    return AtaCheck(kKeyAbortedCommand, 0, 0, regs, kAtaErrorAbort, kAtaStatusError);
  }
  const uint32_t moved = sectors * kBlockSize;
  if (!ckCond) return Good(moved);
  // ATA pass-through information available: the output registers.
  ScsiAnswer a = AtaCheck(kKeyRecoveredError, 0x00, 0x1D, regs, 0, kAtaStatusOk);
  a.transferred = moved;
  return a;
}

ScsiAnswer ScsiResponder::Housekeeping(const ScsiCommand& c, bool& handled) {
  handled = true;
  const Cdb cdb(c);
  if (cdb.Length() == 0) return Check(kKeyIllegalRequest, kAscInvalidOpcode);
  const bool in = c.direction == DataDirection::In && c.data;
  switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
      return Present() ? Good() : Check(kKeyNotReady, kAscMediumNotPresent);
    case 0x03: {  // REQUEST SENSE: nothing pending (sense is returned with each answer)
      if (!in) return Good();
      const bool descriptor = cdb[1] & 0x01;
      const bool present = Present();
      std::vector<uint8_t> s(descriptor ? 8 : 18, 0);
      s[0] = descriptor ? 0x72 : 0x70;
      const uint8_t key = present ? kKeyNoSense : kKeyNotReady;
      const uint8_t asc = present ? 0 : kAscMediumNotPresent;
      if (descriptor) {
        s[1] = key;
        s[2] = asc;
      } else {
        s[2] = key;
        s[7] = 10;
        s[12] = asc;
      }
      return Reply(c, s, cdb[4]);
    }
    case 0x12: {  // INQUIRY: the VPD pages here, the standard data from the controller
      const bool evpd = cdb[1] & 0x01;
      if (!evpd) {
        if (cdb[2] != 0) return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
        handled = false;
        return {};
      }
      if (!in) return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
      const std::string serial = "SIMPD" + std::to_string(drive_);
      std::vector<uint8_t> p(4, 0);
      p[1] = cdb[2];
      switch (cdb[2]) {
        case 0x00:
          for (uint8_t page : {0x00, 0x80, 0x83}) p.push_back(page);
          break;
        case 0x80: p.insert(p.end(), serial.begin(), serial.end()); break;
        case 0x83: {
          // One T10 vendor designator: "SIMBRDGE" and the serial.
          const std::string id = "SIMBRDGE" + serial;
          p.insert(p.end(), {0x02, 0x01, 0x00, static_cast<uint8_t>(id.size())});
          p.insert(p.end(), id.begin(), id.end());
          break;
        }
        default: return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
      }
      PutBE(p, 2, 2, p.size() - 4);
      return Reply(c, p, cdb.BE(3, 2));
    }
    case 0x1A:    // MODE SENSE(6)
    case 0x5A: {  // MODE SENSE(10)
      if (!Present()) return Check(kKeyNotReady, kAscMediumNotPresent);
      const bool ten = cdb[0] == 0x5A;
      const bool noBlockDescriptor = cdb[1] & 0x08;
      const uint8_t control = cdb[2] >> 6;
      const uint8_t page = cdb[2] & 0x3F;
      const uint8_t subpage = cdb[3];
      if (control == 3) return Check(kKeyIllegalRequest, kAscSavingNotSupported);
      if (subpage != 0 && !(subpage == 0xFF && page == 0x3F)) return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
      bool known = false;
      std::vector<uint8_t> pages = ModePages(page, control == 1, known);
      if (!known) return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
      const size_t header = ten ? 8 : 4;
      const size_t descriptor = noBlockDescriptor ? 0 : 8;
      std::vector<uint8_t> m(header + descriptor, 0);
      // Medium type 0, no write protection, no DPO/FUA.
      if (ten) {
        PutBE(m, 6, 2, descriptor);
      } else {
        m[3] = static_cast<uint8_t>(descriptor);
      }
      if (descriptor) {
        PutBE(m, header, 4, std::min<uint64_t>(blocks_, 0xFFFFFFFF));
        PutBE(m, header + 5, 3, kBlockSize);
      }
      m.insert(m.end(), pages.begin(), pages.end());
      if (ten)
        PutBE(m, 0, 2, m.size() - 2);
      else
        m[0] = static_cast<uint8_t>(std::min<size_t>(m.size() - 1, 0xFF));
      return Reply(c, m, ten ? cdb.BE(7, 2) : cdb[4]);
    }
    case 0x25: {  // READ CAPACITY(10)
      if (!Present()) return Check(kKeyNotReady, kAscMediumNotPresent);
      std::vector<uint8_t> r(8, 0);
      PutBE(r, 0, 4, std::min<uint64_t>(blocks_ - 1, 0xFFFFFFFF));
      PutBE(r, 4, 4, kBlockSize);
      return Reply(c, r, r.size());
    }
    case 0x9E: {  // SERVICE ACTION IN(16)
      if ((cdb[1] & 0x1F) != 0x10) return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
      if (!Present()) return Check(kKeyNotReady, kAscMediumNotPresent);
      std::vector<uint8_t> r(32, 0);  // READ CAPACITY(16)
      PutBE(r, 0, 8, blocks_ - 1);
      PutBE(r, 8, 4, kBlockSize);
      return Reply(c, r, cdb.BE(10, 4));
    }
    case 0xA0: {  // REPORT LUNS: LUN 0 only
      const uint64_t allocation = cdb.BE(6, 4);
      if (allocation < 16) return Check(kKeyIllegalRequest, kAscInvalidFieldInCdb);
      std::vector<uint8_t> r(16, 0);
      r[3] = 8;
      return Reply(c, r, allocation);
    }
    case 0x35:  // SYNCHRONIZE CACHE(10)
    case 0x91:  // SYNCHRONIZE CACHE(16)
    case 0x1B:  // START STOP UNIT
    case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
      return Present() ? Good() : Check(kKeyNotReady, kAscMediumNotPresent);
    default: handled = false; return {};
  }
}

DataDirection ScsiResponder::ExpectedDirection(const uint8_t* cdb, size_t length) {
  if (!cdb || length == 0) return DataDirection::None;
  switch (cdb[0]) {
    case 0x03:
    case 0x12:
    case 0x1A:
    case 0x25:
    case 0x28:
    case 0x5A:
    case 0x9E:
    case 0xA0: return DataDirection::In;
    case 0x2A: return DataDirection::Out;
    case 0xA1:
    case 0x85:
      if (length < 3 || (cdb[2] & 0x03) == 0) return DataDirection::None;
      return (cdb[2] & 0x08) ? DataDirection::In : DataDirection::Out;
    case 0xFE: {
      // The enclosure's vendor CDBs: only the flash page program carries
      // data to the device.
      std::array<uint8_t, 16> full{};
      std::copy(cdb, cdb + std::min<size_t>(length, 16), full.begin());
      DecodedVendorCdb v;
      if (!DecodeVendorCdb(full, full[1] == 0xFE ? 0 : 1, v)) return DataDirection::In;
      return v.opcode == kVendorWriteSpi ? DataDirection::Out : DataDirection::In;
    }
    default: return DataDirection::None;
  }
}

}  // namespace raid::sim
