// The records of the Windows pass-through requests: I/O control codes, the
// 32-bit SCSI pass-through record, the IDE pass-through buffer and the
// disk-extents reply. Plain byte layouts with no Windows header, so they are
// checked byte by byte on every system; the Windows backend pins them
// against the SDK's own definitions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/device_io.h"

namespace raid {

// I/O control codes of the Windows requests (checked against the SDK headers
// in the Windows backend).
constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
constexpr uint32_t kIoctlIdePassThrough = 0x4D028;
constexpr uint32_t kIoctlScsiRescanBus = 0x4101C;
constexpr uint32_t kIoctlVolumeGetDiskExtents = 0x560000;

// The SCSI pass-through record of a 32-bit process: the 44-byte
// SCSI_PASS_THROUGH_DIRECT structure, 4 bytes filler, 32 bytes sense.
constexpr size_t kScsiRecord32Size = 80;
namespace sptd32 {
constexpr size_t kLength = 0, kScsiStatus = 2, kPathId = 3, kTargetId = 4, kLun = 5, kCdbLength = 6,
                 kSenseInfoLength = 7, kDataIn = 8, kDataTransferLength = 12, kTimeOutValue = 16, kDataBuffer = 20,
                 kSenseInfoOffset = 24, kCdb = 28, kStructSize = 44, kSense = 48;
constexpr uint8_t kSenseLength = 24;
constexpr uint8_t kTargetIdValue = 1;
}  // namespace sptd32
std::array<uint8_t, kScsiRecord32Size> EncodeScsiRecord32(const ScsiRequest& req, uint32_t bufferAddress);
// The DataIn byte: 1 for data in, 0 otherwise.
inline uint8_t DataInByte(DataDirection d) { return d == DataDirection::In ? 1 : 0; }

// The IDE pass-through buffer: 16 bytes of registers and size, then the data.
constexpr size_t kIdeHeaderSize = 12;
std::vector<uint8_t> EncodeIdeBuffer(const AtaRegisters& regs, uint32_t sectors);
// Copies the registers back and, when ok, the data out of a reply buffer.
void DecodeIdeBuffer(const std::vector<uint8_t>& buffer, AtaRegisters& regs, uint8_t* data, uint32_t sectors, bool ok);

// The reply of the volume disk-extents query for one extent: 32 bytes
// (count at 0, disk number at 8, offset at 16, length at 24).
using ExtentsReply = std::array<uint8_t, 32>;
VolumeExtent ParseExtents(const ExtentsReply& reply);
ExtentsReply MakeExtentsReply(uint32_t diskNumber, uint64_t offset, uint64_t length);

}  // namespace raid
