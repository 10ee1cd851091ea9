#include "realkernel/bulk_only.h"

#include <algorithm>
#include <cstdio>

namespace raid::realkernel {
namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC" as little-endian bytes
constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kCheckCondition = 0x02;

}  // namespace

std::optional<Cbw> ParseCbw(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size != kCbwSize || Le32(bytes) != kCbwSignature) return std::nullopt;
  const uint8_t flags = bytes[12];
  const uint8_t lun = bytes[13];
  const uint8_t cbLength = bytes[14];
  // Only bit 7 of the flags, four bits of LUN and five of CDB length are defined.
  if ((flags & 0x7F) != 0 || (lun & 0xF0) != 0 || (cbLength & 0xE0) != 0) return std::nullopt;
  if (cbLength < 1 || cbLength > 16) return std::nullopt;
  Cbw c;
  c.tag = Le32(bytes + 4);
  c.dataLength = Le32(bytes + 8);
  c.direction = c.dataLength == 0 ? DataDirection::None : (flags & 0x80) ? DataDirection::In : DataDirection::Out;
  c.lun = lun;
  c.cdbLength = cbLength;
  std::copy_n(bytes + 15, cbLength, c.cdb.begin());
  return c;
}

std::array<uint8_t, kCswSize> MakeCsw(uint32_t tag, uint32_t residue, uint8_t status) {
  std::array<uint8_t, kCswSize> b{};
  PutLe32(b.data(), kCswSignature);
  PutLe32(b.data() + 4, tag);
  PutLe32(b.data() + 8, residue);
  b[12] = status;
  return b;
}

BotOutcome BulkOnlyTarget::Run(const Cbw& cbw, std::vector<uint8_t>& buffer) {
  BotOutcome out;
  buffer.resize(cbw.dataLength);
  uint32_t moved = 0;
  uint8_t cswStatus = kCswPassed;
  if (cbw.cdb[0] == kRequestSense && !pendingSense_.empty()) {
    // Answered here, from the sense of the command before: the bridge's own
    // auto-sense. Without one the device answers it.
    const std::vector<uint8_t> sense = std::move(pendingSense_);
    pendingSense_.clear();
    if (cbw.direction == DataDirection::In) {
      const uint32_t allocation = cbw.cdb[4];
      moved = static_cast<uint32_t>(std::min<size_t>({sense.size(), allocation, buffer.size()}));
      std::copy_n(sense.begin(), moved, buffer.begin());
    }
    out.dataInBytes = moved;
    out.csw = MakeCsw(cbw.tag, cbw.dataLength - moved, kCswPassed);
    return out;
  }
  pendingSense_.clear();
  ScsiReply r = answer_(cbw.cdb.data(), cbw.cdbLength, cbw.direction, buffer.data(), cbw.dataLength);
  out.scsiStatus = r.status;
  if (r.hang) {
    out.hang = true;
    return out;
  }
  if (r.moved > cbw.dataLength) {
    // More than the host offered: the phases no longer agree.
    out.csw = MakeCsw(cbw.tag, cbw.dataLength, kCswPhaseError);
    return out;
  }
  moved = r.moved;
  if (r.status != 0) {
    cswStatus = kCswFailed;
    if (r.status == kCheckCondition) pendingSense_ = r.sense;
    out.sense = r.sense;
  }
  out.dataInBytes = cbw.direction == DataDirection::In ? moved : 0;
  out.csw = MakeCsw(cbw.tag, cbw.dataLength - moved, cswStatus);
  return out;
}

std::string DescribeCommand(const Cbw& cbw, const BotOutcome& o) {
  std::string s = "cdb";
  char hex[4];
  for (unsigned i = 0; i < cbw.cdbLength; ++i) {
    std::snprintf(hex, sizeof hex, " %02x", cbw.cdb[i]);
    s += hex;
  }
  s += cbw.direction == DataDirection::In ? " in " : cbw.direction == DataDirection::Out ? " out " : " none ";
  s += std::to_string(cbw.dataLength);
  if (o.hang) return s + " HANG";
  const uint32_t residue = static_cast<uint32_t>(o.csw[8]) | static_cast<uint32_t>(o.csw[9]) << 8 |
                           static_cast<uint32_t>(o.csw[10]) << 16 | static_cast<uint32_t>(o.csw[11]) << 24;
  s += " moved " + std::to_string(cbw.dataLength - residue);
  if (o.csw[12] == kCswPassed) return s + " GOOD";
  if (o.csw[12] == kCswPhaseError) return s + " PHASE-ERROR";
  char status[8];
  std::snprintf(status, sizeof status, "%02x", o.scsiStatus);
  s += std::string(" status ") + status;
  if (!o.sense.empty()) {
    s += " sense";
    for (uint8_t b : o.sense) {
      std::snprintf(hex, sizeof hex, " %02x", b);
      s += hex;
    }
  }
  return s;
}

}  // namespace raid::realkernel
