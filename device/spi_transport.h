// The three ways of reaching a controller's SPI flash, settings and status
// record through an open drive, one class each: vendor CDBs, block commands
// carrying the command sector, and ATA command 0x88 with the command sector
// for writes. The command set walks the flash once over these requests;
// each request leaves the status-bar text of its failure in `failure`.
#pragma once

#include <cstdint>
#include <string>

namespace raid {

class CommandSet;

class SpiTransport {
 public:
  explicit SpiTransport(CommandSet& cs) : cs_(cs) {}
  virtual ~SpiTransport() = default;
  // An SPI mode control (spi_control::k...).
  virtual bool Control(uint8_t request, std::string& failure) = 0;
  // 512 bytes from the flash at `address`.
  virtual bool ReadBlock(uint32_t address, uint8_t* destination, std::string& failure) = 0;
  // One 256-byte page programmed at `address`.
  virtual bool WritePage(uint32_t address, const uint8_t* page, std::string& failure) = 0;
  // The 4 KiB sector at `address` erased.
  virtual bool EraseSector(uint32_t address, std::string& failure) = 0;
  // The controller's 512-byte status record.
  virtual bool ReadStatus(uint8_t* destination, std::string& failure) = 0;

 protected:
  CommandSet& cs_;
};

// Vendor CDBs behind one or two 0xFE bytes: no mode controls; the status
// record is the newest entry of the controller's record log in the flash.
class VendorTransport final : public SpiTransport {
 public:
  using SpiTransport::SpiTransport;
  bool Control(uint8_t, std::string&) override { return true; }
  bool ReadBlock(uint32_t address, uint8_t* destination, std::string& failure) override;
  bool WritePage(uint32_t address, const uint8_t* page, std::string& failure) override;
  bool EraseSector(uint32_t address, std::string& failure) override;
  bool ReadStatus(uint8_t* destination, std::string& failure) override;

 private:
  bool SearchStatusRecord(uint8_t* destination);
};

// Block commands: every control, erase and program is a command sector
// written to a block; SPI data comes back at block 60, the status record
// at block 33.
class BlockTransport : public SpiTransport {
 public:
  using SpiTransport::SpiTransport;
  bool Control(uint8_t request, std::string& failure) override;
  bool ReadBlock(uint32_t address, uint8_t* destination, std::string& failure) override;
  bool WritePage(uint32_t address, const uint8_t* page, std::string& failure) override;
  bool EraseSector(uint32_t address, std::string& failure) override;
  bool ReadStatus(uint8_t* destination, std::string& failure) override;

 protected:
  // Asks the controller for the block at `address` before it is read at
  // block 60.
  virtual bool RequestRead(uint32_t address, std::string& failure);
};

// ATA: controls and read addresses go as command 0x88 with the request in
// Features; erases and programs go by command sector as on block commands.
class AtaTransport final : public BlockTransport {
 public:
  using BlockTransport::BlockTransport;
  bool Control(uint8_t request, std::string& failure) override;

 protected:
  bool RequestRead(uint32_t address, std::string& failure) override;
};

}  // namespace raid
