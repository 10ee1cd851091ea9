// Encoding of every request the program sends to a bridge: the SCSI CDBs,
// both vendor CDB layouts and the command sector.
// Pure functions of their inputs, so each can be checked byte by byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/device_io.h"

namespace raid {

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
constexpr std::array<VendorQueryRow, 9> kVendorQueryTable{
    {{0x5A, 8}, {0x23, 8}, {0x10, 8}, {0x78, 20}, {0x52, 8}, {0x5C, 8}, {0xFE, 8}, {0x30, 8}, {0x32, 8}}};

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

// The 512-byte command sector.
namespace cmd {
constexpr uint8_t kSignature0 = 0x33, kSignature1 = 0x58;
constexpr size_t kCode = 2, kArg = 3, kAddress = 4, kPayload = 7, kWriteMark = 509, kChecksum = 510;
constexpr uint8_t kWriteMarkValue = 0x55;
constexpr uint8_t kSpiRead = 0x00, kSpiErase = 0x01, kSpiWrite = 0x02, kSpiAccess = 0x03, kSpiOpenLowArea = 0x04,
                  kSpiMode10 = 0x10, kBackupPeriod = 0x20, kInitialise = 0x22, kScan = 0x24;
constexpr uint32_t kCommandBlockLba = 20;  // erase, write and settings
constexpr uint32_t kSpiReplyLba = 60;      // SPI read data
constexpr uint32_t kStatusLba = 33;        // status record
constexpr uint32_t kIdentLba = 58;         // identification sector
}  // namespace cmd

class CommandBlock {
 public:
  CommandBlock() {
    bytes_[0] = cmd::kSignature0;
    bytes_[1] = cmd::kSignature1;
  }
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
