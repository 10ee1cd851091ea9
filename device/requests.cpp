#include "device/requests.h"

#include <cstdio>
#include <cstring>

namespace raid {

namespace {
ScsiRequest MakeRw10(uint8_t opcode, uint32_t lba, uint8_t count, uint8_t* buffer, DataDirection dir) {
  ScsiRequest r;
  r.cdb[0] = opcode;
  StoreBE(r.cdb, 2, 4, lba);
  r.cdb[7] = 0;
  r.cdb[8] = count;
  r.cdbLength = 10;
  r.direction = dir;
  r.transferLength = static_cast<uint32_t>(count) * 512;
  r.timeoutSeconds = kBlockTimeout;
  r.data = buffer;
  return r;
}

constexpr std::array<VendorCommandType, 5> kVendorTypes{{
    {1, kVendorReadSpi, DataDirection::In, 512, 0},
    {2, kVendorWriteSpi, DataDirection::Out, 256, 0},
    {3, kVendorEraseSpi, DataDirection::In, 8, 0},
    {4, kVendorReadSpi, DataDirection::In, 512, 1},
    {16, kVendorIdentify, DataDirection::In, 512, 0},
}};
}  // namespace

ScsiRequest MakeRead10(uint32_t lba, uint8_t count, uint8_t* buffer) {
  return MakeRw10(0x28, lba, count, buffer, DataDirection::In);
}

ScsiRequest MakeWrite10(uint32_t lba, uint8_t count, uint8_t* buffer) {
  return MakeRw10(0x2A, lba, count, buffer, DataDirection::Out);
}

ScsiRequest MakeInquiry(uint8_t* buffer) {
  ScsiRequest r;
  r.cdb[0] = 0x12;
  r.cdb[4] = 36;
  r.cdbLength = 10;  // the bridge is sent ten CDB bytes for INQUIRY too
  r.direction = DataDirection::In;
  r.transferLength = 36;
  r.timeoutSeconds = kInquiryTimeout;
  r.data = buffer;
  return r;
}

std::array<uint8_t, 10> VendorCdb(uint8_t opcode, uint32_t address, uint8_t flag, uint8_t shift) {
  std::array<uint8_t, 10> c{};
  const size_t s = shift ? 1 : 0;
  c[0] = 0xFE;
  if (!s) c[1] = 0xFE;
  c[2 - s] = opcode;
  c[3 - s] = 0;
  c[4 - s] = static_cast<uint8_t>(address >> 16);
  c[5 - s] = static_cast<uint8_t>(address >> 8);
  c[6 - s] = static_cast<uint8_t>(address);
  c[7 - s] = 0;
  c[8 - s] = flag;
  return c;
}

bool DecodeVendorCdb(const std::array<uint8_t, 16>& c, uint8_t shift, DecodedVendorCdb& out) {
  if (c[0] != 0xFE) return false;
  const size_t s = shift ? 1 : 0;
  if ((c[1] == 0xFE) != (s == 0)) return false;
  out.shift = static_cast<uint8_t>(s);
  out.opcode = c[2 - s];
  out.address = (static_cast<uint32_t>(c[4 - s]) << 16) | (static_cast<uint32_t>(c[5 - s]) << 8) | c[6 - s];
  out.flag = c[8 - s];
  return true;
}

const VendorCommandType* FindVendorCommandType(uint8_t type) {
  for (const auto& t : kVendorTypes)
    if (t.type == type) return &t;
  return nullptr;
}

uint16_t CommandBlock::ComputeChecksum(const Sector& s) {
  uint32_t sum = 0;
  for (size_t i = cmd::kPayload; i <= cmd::kWriteMark; ++i) sum += s[i];
  return static_cast<uint16_t>(sum);
}

bool CommandBlock::ChecksumOk(const Sector& s) { return LoadLE(s, cmd::kChecksum, 2) == ComputeChecksum(s); }

void CommandBlock::UpdateChecksum() { StoreLE(bytes_, cmd::kChecksum, 2, ComputeChecksum(bytes_)); }

std::string HexBytes(const uint8_t* data, size_t n) {
  std::string out;
  out.reserve(n * 3);
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", data[i]);
    if (i) out += ' ';
    out += buf;
  }
  return out;
}

}  // namespace raid
