// Encoding of every request the program sends to a bridge: the SCSI CDBs,
// both vendor CDB layouts, the ATA pass-through buffer, the 32-bit SCSI
// pass-through record, the command sector and the disk-extents reply.
// Pure functions of their inputs, so each can be checked byte by byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/bytes.h"
#include "platform/device_io.h"

namespace raid {

// I/O control codes of the Windows requests (checked against the SDK headers
// in the Windows backend).
constexpr uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
constexpr uint32_t kIoctlIdePassThrough = 0x4D028;
constexpr uint32_t kIoctlScsiRescanBus = 0x4101C;
constexpr uint32_t kIoctlVolumeGetDiskExtents = 0x560000;

// Time-outs in seconds.
constexpr uint32_t kBlockTimeout = 2;
constexpr uint32_t kInquiryTimeout = 200;

ScsiRequest MakeRead10(uint32_t lba, uint8_t count, uint8_t* buffer);
ScsiRequest MakeWrite10(uint32_t lba, uint8_t count, uint8_t* buffer);
ScsiRequest MakeInquiry(uint8_t* buffer);  // 36 bytes

// Vendor opcodes (after the 0xFE prefix).
constexpr uint8_t kVendorReadSpi = 0x85;
constexpr uint8_t kVendorWriteSpi = 0x89;
constexpr uint8_t kVendorEraseSpi = 0x81;
constexpr uint8_t kVendorIdentify = 0x8B;

// The 10-byte vendor CDB. shift 1: one 0xFE before the opcode, shift 0: two.
std::array<uint8_t, 10> VendorCdb(uint8_t opcode, uint32_t address, uint8_t flag, uint8_t shift);
// Reads a vendor CDB back as a controller using the given layout does.
// Returns false when the bytes are no vendor CDB of that layout.
struct DecodedVendorCdb {
  uint8_t opcode = 0;
  uint32_t address = 0;
  uint8_t flag = 0;
  uint8_t shift = 0;
};
bool DecodeVendorCdb(const std::array<uint8_t, 16>& cdb, uint8_t shift, DecodedVendorCdb& out);

// The vendor query table: opcode and reply length of each row.
struct VendorQueryRow {
  uint8_t opcode;
  uint8_t replyBytes;
};
constexpr std::array<VendorQueryRow, 9> kVendorQueryTable{{{0x5A, 8},
                                                            {0x23, 8},
                                                            {0x10, 8},
                                                            {0x78, 20},
                                                            {0x52, 8},
                                                            {0x5C, 8},
                                                            {0xFE, 8},
                                                            {0x30, 8},
                                                            {0x32, 8}}};

// VendorCommand types.
struct VendorCommandType {
  uint8_t type;
  uint8_t opcode;
  DataDirection direction;
  uint16_t bytes;
  uint8_t flag;
};
// Returns nullptr for an unknown type.
const VendorCommandType* FindVendorCommandType(uint8_t type);

// The SCSI pass-through record of a 32-bit process: the 44-byte
// SCSI_PASS_THROUGH_DIRECT structure, 4 bytes filler, 32 bytes sense.
constexpr size_t kScsiRecord32Size = 80;
namespace sptd32 {
constexpr size_t kLength = 0, kScsiStatus = 2, kPathId = 3, kTargetId = 4, kLun = 5, kCdbLength = 6,
                 kSenseInfoLength = 7, kDataIn = 8, kDataTransferLength = 12, kTimeOutValue = 16,
                 kDataBuffer = 20, kSenseInfoOffset = 24, kCdb = 28, kStructSize = 44, kSense = 48;
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
void DecodeIdeBuffer(const std::vector<uint8_t>& buffer, AtaRegisters& regs, uint8_t* data,
                     uint32_t sectors, bool ok);

// The disk-extents reply for one extent.
struct VolumeExtent {
  uint8_t diskNumber = 0;  // low byte
  uint64_t startingOffset = 0;
  uint64_t extentLength = 0;
};
VolumeExtent ParseExtents(const ExtentsReply& reply);
ExtentsReply MakeExtentsReply(uint32_t diskNumber, uint64_t offset, uint64_t length);

// The 512-byte command sector.
namespace cmd {
constexpr uint8_t kSignature0 = 0x33, kSignature1 = 0x58;
constexpr size_t kCode = 2, kArg = 3, kAddress = 4, kPayload = 7, kWriteMark = 509, kChecksum = 510;
constexpr uint8_t kWriteMarkValue = 0x55;
constexpr uint8_t kSpiRead = 0x00, kSpiErase = 0x01, kSpiWrite = 0x02, kSpiAccess = 0x03,
                  kSpiOpenLowArea = 0x04, kSpiMode10 = 0x10, kBackupPeriod = 0x20, kInitialise = 0x22,
                  kScan = 0x24;
constexpr uint32_t kCommandBlockLba = 20;   // erase, write and settings
constexpr uint32_t kSpiReplyLba = 60;       // SPI read data
constexpr uint32_t kStatusLba = 33;         // status record
constexpr uint32_t kIdentLba = 58;          // identification sector
}  // namespace cmd

class CommandBlock {
 public:
  CommandBlock() { bytes_[0] = cmd::kSignature0; bytes_[1] = cmd::kSignature1; }
  Sector& Bytes() { return bytes_; }
  const Sector& Bytes() const { return bytes_; }
  // Sum of bytes 7-509 as unsigned bytes, truncated to 16 bits.
  static uint16_t ComputeChecksum(const Sector& s);
  static bool ChecksumOk(const Sector& s);
  // Stores the checksum of the current payload at 510-511, low byte first.
  void UpdateChecksum();
  void SetHeader(uint8_t code, uint8_t arg) {
    bytes_[cmd::kCode] = code;
    bytes_[cmd::kArg] = arg;
  }
  void SetAddress(uint32_t address) { StoreBE(bytes_, cmd::kAddress, 3, address & 0xFFFFFF); }

 private:
  Sector bytes_{};
};

// Hex text of bytes, upper case, separated by blanks.
std::string HexBytes(const uint8_t* data, size_t n);

}  // namespace raid
