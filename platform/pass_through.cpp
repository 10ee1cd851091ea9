#include "platform/pass_through.h"

#include <algorithm>
#include <cstdio>

namespace raid {

namespace {
constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;

bool IsFixed(uint8_t code) { return code == 0x70 || code == 0x71; }
bool IsDescriptor(uint8_t code) { return code == 0x72 || code == 0x73; }
}  // namespace

SenseCode DecodeSense(const uint8_t* sense, size_t length) {
  SenseCode s;
  if (!sense || length < 1) return s;
  const uint8_t code = sense[0] & 0x7F;
  if (IsFixed(code) && length >= 3) {
    s.valid = true;
    s.key = sense[2] & 0x0F;
    // The additional sense bytes are there only when the additional length
    // covers them.
    if (length >= 14 && sense[7] >= 6) {
      s.asc = sense[12];
      s.ascq = sense[13];
    }
  } else if (IsDescriptor(code) && length >= 4) {
    s.valid = true;
    s.key = sense[1] & 0x0F;
    s.asc = sense[2];
    s.ascq = sense[3];
  }
  return s;
}

bool IsAtaPassThroughInformation(const SenseCode& s) {
  return s.valid && s.key == kSenseKeyRecoveredError && s.asc == 0x00 && s.ascq == 0x1D;
}

bool DecodeAtaOutputRegisters(const uint8_t* sense, size_t length, AtaRegisters& out) {
  if (!sense || length < 8) return false;
  const uint8_t code = sense[0] & 0x7F;
  if (IsDescriptor(code)) {
    // Descriptors follow the 8-byte header, as many as the additional
    // length (byte 7) says and the buffer holds.
    size_t end = 8 + static_cast<size_t>(sense[7]);
    if (end > length) end = length;
    size_t i = 8;
    while (i + 2 <= end) {
      const uint8_t type = sense[i];
      const size_t size = 2 + static_cast<size_t>(sense[i + 1]);
      if (i + size > end) return false;
      if (type == kAtaStatusReturnDescriptor && size >= 14) {
        const uint8_t* d = sense + i;
        out.features = d[3];     // Error
        out.sectorCount = d[5];  // Count (7:0)
        out.lbaLow = d[7];       // LBA (7:0)
        out.lbaMid = d[9];       // LBA (15:8)
        out.lbaHigh = d[11];     // LBA (23:16)
        out.device = d[12];
        out.command = d[13];  // Status
        return true;
      }
      i += size;
    }
    return false;
  }
  if (IsFixed(code) && length >= 12) {
    // Information field: Error, Status, Device, Count; command-specific
    // information: flags, then LBA (7:0), (15:8), (23:16).
    out.features = sense[3];
    out.command = sense[4];
    out.device = sense[5];
    out.sectorCount = sense[6];
    out.lbaLow = sense[9];
    out.lbaMid = sense[10];
    out.lbaHigh = sense[11];
    return true;
  }
  return false;
}

std::array<uint8_t, 16> EncodeAtaPassThrough16(const AtaRegisters& regs, uint32_t sectors) {
  std::array<uint8_t, 16> c{};
  const bool in = sectors > 0;
  c[0] = 0x85;
  c[1] = static_cast<uint8_t>((in ? 4 : 3) << 1);  // protocol: PIO data-in or non-data
  // Data in: T_DIR from the device, lengths in 512-byte blocks, the length in
  // the Count field. Non-data: CK_COND, so the output registers come back.
  c[2] = in ? 0x0E : 0x20;
  c[4] = regs.features;
  c[6] = regs.sectorCount ? regs.sectorCount : static_cast<uint8_t>(sectors);
  c[8] = regs.lbaLow;
  c[10] = regs.lbaMid;
  c[12] = regs.lbaHigh;
  c[13] = regs.device;
  c[14] = regs.command;
  return c;
}

Outcome PassThroughSucceeded(const ReplyStatus& status, bool ataPassThrough) {
  if (status.scsiStatus == kScsiStatusGood) return Outcome::Ok();
  const size_t n = status.senseLength < status.sense.size() ? status.senseLength : status.sense.size();
  if (ataPassThrough && status.scsiStatus == kScsiStatusCheckCondition &&
      IsAtaPassThroughInformation(DecodeSense(status.sense.data(), n)))
    return Outcome::Ok();
  return Outcome::Fail("device refused the request (" + ReplyStatusText(status) + ")");
}

std::string ReplyStatusText(const ReplyStatus& status) {
  char b[64];
  std::snprintf(b, sizeof b, "status 0x%02X", status.scsiStatus);
  std::string s = b;
  const size_t n = status.senseLength < status.sense.size() ? status.senseLength : status.sense.size();
  const SenseCode code = DecodeSense(status.sense.data(), n);
  if (code.valid) {
    std::snprintf(b, sizeof b, ", sense %02X/%02X/%02X", code.key, code.asc, code.ascq);
    s += b;
  }
  return s;
}

Outcome AtaByPassThrough16(AtaRegisters& regs, uint8_t* data, uint32_t sectors, ReplyStatus& status,
                           const std::function<Outcome(ScsiRequest&)>& transfer) {
  const bool in = sectors > 0 && data;
  ScsiRequest r;
  r.cdbLength = 16;
  r.cdb = EncodeAtaPassThrough16(regs, in ? sectors : 0);
  r.direction = in ? DataDirection::In : DataDirection::None;
  r.transferLength = in ? sectors * 512 : 0;
  r.data = data;
  r.timeoutSeconds = 10;
  Outcome done = transfer(r);
  status = r.status;
  const size_t n = std::min<size_t>(status.senseLength, status.sense.size());
  status.ataRegistersReturned = DecodeAtaOutputRegisters(status.sense.data(), n, regs);
  if (done && in && r.transferred != r.transferLength)
    return Outcome::Fail("the device sent " + std::to_string(r.transferred) + " of " +
                         std::to_string(r.transferLength) + " bytes");
  return done;
}

}  // namespace raid
