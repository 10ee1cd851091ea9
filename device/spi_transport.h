// The three ways of reaching a controller's SPI flash, settings and status
// record through an open drive, one class each: vendor CDBs, block commands
// carrying the command sector, and ATA command 0x88 with the command sector
// for writes. The command set walks the flash once over these requests;
// a request that fails says so with the status-bar text of its failure.
#pragma once

#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace raid {

class CommandSet;

class SpiTransport {
 public:
  explicit SpiTransport(CommandSet& cs) : cs_(cs) {}
  virtual ~SpiTransport() = default;
  // An SPI mode control (spi_control::k...).
  virtual Outcome Control(uint8_t request) = 0;
  // 512 bytes from the flash at `address`.
  virtual Outcome ReadBlock(uint32_t address, uint8_t* destination) = 0;
  // One 256-byte page programmed at `address`.
  virtual Outcome WritePage(uint32_t address, const uint8_t* page) = 0;
  // The 4 KiB sector at `address` erased.
  virtual Outcome EraseSector(uint32_t address) = 0;
  // The controller's 512-byte status record.
  virtual Outcome ReadStatus(uint8_t* destination) = 0;

 protected:
  CommandSet& cs_;
};

// Vendor CDBs behind one or two 0xFE bytes: no mode controls; the status
// record is the newest entry of the controller's record log in the flash.
class VendorTransport final : public SpiTransport {
 public:
  using SpiTransport::SpiTransport;
  Outcome Control(uint8_t) override { return Outcome::Ok(); }
  Outcome ReadBlock(uint32_t address, uint8_t* destination) override;
  Outcome WritePage(uint32_t address, const uint8_t* page) override;
  Outcome EraseSector(uint32_t address) override;
  Outcome ReadStatus(uint8_t* destination) override;

 private:
  bool SearchStatusRecord(uint8_t* destination);
};

// Block commands: every control, erase and program is a command sector
// written to a block; SPI data comes back at block 60, the status record
// at block 33.
class BlockTransport : public SpiTransport {
 public:
  using SpiTransport::SpiTransport;
  Outcome Control(uint8_t request) override;
  Outcome ReadBlock(uint32_t address, uint8_t* destination) override;
  Outcome WritePage(uint32_t address, const uint8_t* page) override;
  Outcome EraseSector(uint32_t address) override;
  Outcome ReadStatus(uint8_t* destination) override;

 protected:
  // Asks the controller for the block at `address` before it is read at
  // block 60.
  virtual Outcome RequestRead(uint32_t address);
};

// ATA: controls and read addresses go as command 0x88 with the request in
// Features; erases and programs go by command sector as on block commands.
class AtaTransport final : public BlockTransport {
 public:
  using BlockTransport::BlockTransport;
  Outcome Control(uint8_t request) override;

 protected:
  Outcome RequestRead(uint32_t address) override;
};

}  // namespace raid
