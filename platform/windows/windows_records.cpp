#include "platform/windows/windows_records.h"

#include <cstring>

#include "platform/bytes.h"

namespace raid {

std::array<uint8_t, kScsiRecord32Size> EncodeScsiRecord32(const ScsiRequest& req, uint32_t bufferAddress) {
  using namespace sptd32;
  std::array<uint8_t, kScsiRecord32Size> r{};
  StoreLE(r, kLength, 2, kStructSize);
  r[kTargetId] = kTargetIdValue;
  r[kCdbLength] = req.cdbLength;
  r[kSenseInfoLength] = kSenseLength;
  r[kDataIn] = DataInByte(req.direction);
  StoreLE(r, kDataTransferLength, 4, req.transferLength);
  StoreLE(r, kTimeOutValue, 4, req.timeoutSeconds);
  StoreLE(r, kDataBuffer, 4, bufferAddress);
  StoreLE(r, kSenseInfoOffset, 4, kSense);
  std::memcpy(&r[kCdb], req.cdb.data(), 16);
  return r;
}

std::vector<uint8_t> EncodeIdeBuffer(const AtaRegisters& regs, uint32_t sectors) {
  const uint32_t n = sectors * 512;
  // The data field is at least four bytes, so a command without data still
  // sends a 16-byte buffer.
  std::vector<uint8_t> b(kIdeHeaderSize + (n < 4 ? 4 : n), 0);
  const auto rb = regs.Bytes();
  std::memcpy(b.data(), rb.data(), 7);
  b[7] = 0;
  StoreLE(b, 8, 4, n);
  b[kIdeHeaderSize] = 1;
  return b;
}

void DecodeIdeBuffer(const std::vector<uint8_t>& b, AtaRegisters& regs, uint8_t* data, uint32_t sectors, bool ok) {
  if (b.size() < 7) return;
  regs = {b[0], b[1], b[2], b[3], b[4], b[5], b[6]};
  const size_t n = static_cast<size_t>(sectors) * 512;
  if (ok && data && n > 0 && b.size() >= kIdeHeaderSize + n) std::memcpy(data, &b[kIdeHeaderSize], n);
}

VolumeExtent ParseExtents(const ExtentsReply& r) {
  VolumeExtent e;
  e.diskNumber = r[8];
  e.startingOffset = LoadLE(r, 16, 8);
  e.extentLength = LoadLE(r, 24, 8);
  return e;
}

ExtentsReply MakeExtentsReply(uint32_t diskNumber, uint64_t offset, uint64_t length) {
  ExtentsReply r{};
  StoreLE(r, 0, 4, 1);
  StoreLE(r, 8, 4, diskNumber);
  StoreLE(r, 16, 8, offset);
  StoreLE(r, 24, 8, length);
  return r;
}

}  // namespace raid
