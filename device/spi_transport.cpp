#include "device/spi_transport.h"

#include <cstdio>
#include <cstring>

#include "device/command_set.h"
#include "platform/bytes.h"

namespace raid {

// Vendor CDBs.

bool VendorTransport::ReadBlock(uint32_t address, uint8_t* destination, std::string& failure) {
  if (cs_.VendorCommand(1, destination, address)) return true;
  failure = "Read SPI Error USB";
  return false;
}

bool VendorTransport::WritePage(uint32_t address, const uint8_t* page, std::string& failure) {
  uint8_t copy[256];
  std::memcpy(copy, page, sizeof copy);
  if (cs_.VendorCommand(2, copy, address)) return true;
  failure = "Write SPI Error USB";
  return false;
}

bool VendorTransport::EraseSector(uint32_t address, std::string& failure) {
  if (cs_.VendorCommand(3, cs_.ScratchSector.data(), address)) return true;
  failure = "Erase SPI Error USB";
  return false;
}

bool VendorTransport::SearchStatusRecord(uint8_t* buffer) {
  const uint32_t limit = cs_.StatusAreaLimit;
  if (limit < kStatusAreaStart + kStatusRecordStep) return false;
  const uint32_t last = limit - kStatusRecordStep;
  uint32_t a = kStatusAreaStart;
  // The first record in use, then the first erased one after it.
  for (; a <= last; a += kStatusRecordStep) {
    if (!cs_.VendorCommand(4, buffer, a)) return false;
    if (buffer[0] != 0xFF) break;
  }
  for (; a <= last; a += kStatusRecordStep) {
    if (!cs_.VendorCommand(4, buffer, a)) return false;
    if (buffer[0] == 0xFF) break;
  }
  a -= kStatusRecordStep;
  if (!cs_.VendorCommand(1, buffer, a)) return false;
  cs_.FlashRecordAddr = a;
  return true;
}

bool VendorTransport::ReadStatus(uint8_t* destination, std::string& failure) {
  if (SearchStatusRecord(destination)) return true;
  failure = "Read Error for USB";
  return false;
}

// Block commands.

bool BlockTransport::Control(uint8_t request, std::string& failure) {
  uint8_t code = 0, arg = 0;
  switch (request) {
    case spi_control::kLeave:
      code = cmd::kSpiAccess;
      arg = 0;
      break;
    case spi_control::kEnter:
      code = cmd::kSpiAccess;
      arg = 1;
      break;
    case spi_control::kOpenLowArea:
      code = cmd::kSpiOpenLowArea;
      arg = 1;
      break;
    case spi_control::kCloseLowArea:
      code = cmd::kSpiOpenLowArea;
      arg = 0;
      break;
    case spi_control::kMode10:
      code = cmd::kSpiMode10;
      arg = 0;
      break;
    case spi_control::kMode11:
      code = cmd::kSpiMode10;
      arg = 1;
      break;
    default: return false;
  }
  cs_.Block.SetHeader(code, arg);
  return cs_.SendCommand(cs_.NextRandomBlock(), failure);
}

bool BlockTransport::RequestRead(uint32_t address, std::string& failure) {
  cs_.Block.SetHeader(cmd::kSpiRead, 3);
  cs_.Block.SetAddress(address);
  return cs_.SendCommand(cs_.NextRandomBlock(), failure);
}

bool BlockTransport::ReadBlock(uint32_t address, uint8_t* destination, std::string& failure) {
  if (!RequestRead(address, failure)) return false;
  if (cs_.ReadSectors(cs_.handle_, cmd::kSpiReplyLba, destination, 1)) return true;
  failure = "Error code 600";
  return false;
}

bool BlockTransport::WritePage(uint32_t address, const uint8_t* page, std::string& failure) {
  CommandBlock& b = cs_.Block;
  b.SetHeader(cmd::kSpiWrite, 2);
  b.SetAddress(address);
  std::memcpy(&b.Bytes()[cmd::kPayload], page, 256);
  b.Bytes()[cmd::kWriteMark] = cmd::kWriteMarkValue;
  b.UpdateChecksum();
  return cs_.SendCommand(cmd::kCommandBlockLba, failure);
}

bool BlockTransport::EraseSector(uint32_t address, std::string& failure) {
  cs_.Block.SetHeader(cmd::kSpiErase, 0x20);
  cs_.Block.SetAddress(address);
  return cs_.SendCommand(cmd::kCommandBlockLba, failure);
}

bool BlockTransport::ReadStatus(uint8_t* destination, std::string& failure) {
  if (cs_.ReadSectors(cs_.handle_, cmd::kStatusLba, destination, 1)) return true;
  failure = "Error code 330";
  return false;
}

// ATA command 0x88.

bool AtaTransport::Control(uint8_t request, std::string& failure) {
  AtaRegisters regs;
  regs.features = request;
  regs.command = 0x88;
  if (cs_.AtaCommand(cs_.handle_, regs, nullptr, 0)) return true;
  failure = "VU command 0x88 FEA " + HexByte(request) + " Error";
  return false;
}

bool AtaTransport::RequestRead(uint32_t address, std::string& failure) {
  AtaRegisters regs{
      0x01, 0,   static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address >> 16),
      0xE0, 0x88};
  if (cs_.AtaCommand(cs_.handle_, regs, nullptr, 0)) return true;
  failure = "VU command 0x88 FEA 0x01 Read Error";
  return false;
}

}  // namespace raid
