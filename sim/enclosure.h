// The emulated enclosure controller: its identification sector, its status
// record, its SPI flash and the three ways a bridge may carry its requests.
// It checks what a real controller would (signature, checksum, SPI access
// mode, the protected area below 0xC000) so that a wrong request fails.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/device_io.h"
#include "sim/nor_flash.h"

namespace raid::sim {

enum class EnclosureTransport { Read58, AtaIdentify, VendorOneFe, VendorTwoFe };

// Modelled device times in milliseconds, charged to the program's clock.
struct DeviceTiming {
  int64_t roundTripMs = 0;
  int64_t blockReadMs = 0;
  int64_t pageProgramMs = 0;
  int64_t sectorEraseMs = 0;
};

class Enclosure {
 public:
  Enclosure(std::string name, EnclosureTransport transport);

  const std::string& Name() const { return name_; }
  EnclosureTransport Transport() const { return transport_; }
  // Another bridge in front of the same controller (a window's mirror of
  // the monitor's enclosures takes the transport the monitor found).
  void SetTransport(EnclosureTransport t) { transport_ = t; }
  bool IsVendor() const {
    return transport_ == EnclosureTransport::VendorOneFe || transport_ == EnclosureTransport::VendorTwoFe;
  }

  Sector& Ident() { return ident_; }
  Sector& Status() { return status_; }
  NorFlash& Flash() { return flash_; }
  // Writes the current status record into the flash status log (vendor
  // controllers keep it there); called whenever the record changes.
  void LogStatus();

  // Requests the bridge passes on. Each returns true when the controller
  // accepted it; `cost` gets the modelled device time.
  bool Scsi(ScsiRequest& req, const DeviceTiming& t, int64_t& cost);
  bool Ata(AtaRegisters& regs, uint8_t* data, uint32_t sectors, const DeviceTiming& t, int64_t& cost);

  // What a test may inspect.
  bool SpiMode() const { return spiMode_; }
  bool LowAreaOpen() const { return lowAreaOpen_; }
  uint8_t BackupOn() const { return backupOn_; }
  uint8_t BackupMinutes() const { return backupMinutes_; }
  const std::vector<Sector>& AcceptedCommands() const { return commands_; }
  uint32_t StatusLogAddress() const { return logAddr_; }

  // INQUIRY additional length the bridge answers with.
  uint8_t inquiryAdditionalLength = 31;
  // Whether the vendor bridge answers opcode 0x8B (else only query 0x78).
  bool answersIdentOpcode = true;
  // A flash write reported as done but not stored (fault injection).
  int dropWrites = 0;

 private:
  bool CommandSector(uint32_t lba, const Sector& s, const DeviceTiming& t, int64_t& cost);
  bool FlashWriteAllowed(uint32_t address) const;
  void EraseSector(uint32_t address);
  bool Vendor(ScsiRequest& req, const DeviceTiming& t, int64_t& cost);
  void ReadFlashOrRecord(uint32_t address, uint8_t* out);

  std::string name_;
  EnclosureTransport transport_;
  Sector ident_{};
  Sector status_{};
  NorFlash flash_;
  bool spiMode_ = false;
  bool lowAreaOpen_ = false;
  uint32_t spiReadAddr_ = 0;
  uint8_t backupOn_ = 0;
  uint8_t backupMinutes_ = 0;
  uint32_t logAddr_ = 0;  // slot of the newest status record in flash
  bool logged_ = false;
  std::map<uint32_t, Sector> disk_;  // blocks the host wrote as plain data
  std::vector<Sector> commands_;
};

}  // namespace raid::sim
