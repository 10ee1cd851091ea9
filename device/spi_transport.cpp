#include "device/spi_transport.h"

#include <cstdio>
#include <cstring>

#include "device/command_set.h"
#include "platform/bytes.h"

namespace raid {

// Vendor CDBs.

Outcome VendorTransport::ReadBlock(uint32_t address, uint8_t* destination) {
  if (cs_.VendorCommand(1, destination, address)) return Outcome::Ok();
  return Outcome::Fail("Read SPI Error USB");
}

Outcome VendorTransport::WritePage(uint32_t address, const uint8_t* page) {
  uint8_t copy[256];
  std::memcpy(copy, page, sizeof copy);
  if (cs_.VendorCommand(2, copy, address)) return Outcome::Ok();
  return Outcome::Fail("Write SPI Error USB");
}

Outcome VendorTransport::EraseSector(uint32_t address) {
  if (cs_.VendorCommand(3, cs_.ScratchSector.data(), address)) return Outcome::Ok();
  return Outcome::Fail("Erase SPI Error USB");
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

Outcome VendorTransport::ReadStatus(uint8_t* destination) {
  if (SearchStatusRecord(destination)) return Outcome::Ok();
  return Outcome::Fail("Read Error for USB");
}

// Block commands.

Outcome BlockTransport::Control(uint8_t request) {
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
    default: return Outcome::Fail({});  // not a control: nothing to show
  }
  cs_.Block.SetHeader(code, arg);
  return cs_.SendCommand(cs_.NextRandomBlock());
}

Outcome BlockTransport::RequestRead(uint32_t address) {
  cs_.Block.SetHeader(cmd::kSpiRead, 3);
  cs_.Block.SetAddress(address);
  return cs_.SendCommand(cs_.NextRandomBlock());
}

Outcome BlockTransport::ReadBlock(uint32_t address, uint8_t* destination) {
  if (Outcome asked = RequestRead(address); !asked) return asked;
  if (cs_.ReadSectors(cs_.handle_, cmd::kSpiReplyLba, destination, 1)) return Outcome::Ok();
  return Outcome::Fail("Error code 600");
}

Outcome BlockTransport::WritePage(uint32_t address, const uint8_t* page) {
  CommandBlock& b = cs_.Block;
  b.SetHeader(cmd::kSpiWrite, 2);
  b.SetAddress(address);
  std::memcpy(&b.Bytes()[cmd::kPayload], page, 256);
  b.Bytes()[cmd::kWriteMark] = cmd::kWriteMarkValue;
  b.UpdateChecksum();
  return cs_.SendCommand(cmd::kCommandBlockLba);
}

Outcome BlockTransport::EraseSector(uint32_t address) {
  cs_.Block.SetHeader(cmd::kSpiErase, 0x20);
  cs_.Block.SetAddress(address);
  return cs_.SendCommand(cmd::kCommandBlockLba);
}

Outcome BlockTransport::ReadStatus(uint8_t* destination) {
  if (cs_.ReadSectors(cs_.handle_, cmd::kStatusLba, destination, 1)) return Outcome::Ok();
  return Outcome::Fail("Error code 330");
}

// ATA command 0x88.

Outcome AtaTransport::Control(uint8_t request) {
  AtaRegisters regs;
  regs.features = request;
  regs.command = 0x88;
  if (cs_.AtaCommand(cs_.handle_, regs, nullptr, 0)) return Outcome::Ok();
  return Outcome::Fail("VU command 0x88 FEA " + HexByte(request) + " Error");
}

Outcome AtaTransport::RequestRead(uint32_t address) {
  AtaRegisters regs{
      0x01, 0,   static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address >> 16),
      0xE0, 0x88};
  if (cs_.AtaCommand(cs_.handle_, regs, nullptr, 0)) return Outcome::Ok();
  return Outcome::Fail("VU command 0x88 FEA 0x01 Read Error");
}

}  // namespace raid
