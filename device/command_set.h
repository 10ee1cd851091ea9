// The pass-through command set: the primitives that turn one request of the
// program into exactly one device request, and the transport wrappers that
// read and write the controller's SPI flash, read its status sector and send
// its settings commands, whichever of the three transports the drive answers.
#pragma once

#include <atomic>
#include <cstdint>
#include <random>
#include <string>

#include "platform/bytes.h"
#include "device/device_state.h"
#include "device/requests.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/user_interface.h"

namespace raid {

constexpr uint32_t kStatusAreaStart = 0x78000;
constexpr uint32_t kStatusAreaLimit = 0x80000;
constexpr uint32_t kStatusRecordStep = 256;
constexpr uint32_t kProtectedAreaEnd = 0xC000;  // below it writes need control 4/5

// SpiControl requests.
namespace spi_control {
constexpr uint8_t kLeave = 2, kEnter = 3, kOpenLowArea = 4, kCloseLowArea = 5, kMode10 = 0x10, kMode11 = 0x11;
}

// Bytes of an INQUIRY reply detection reads: up to the additional length.
constexpr uint32_t kInquiryBytesRead = 5;

class CommandSet {
 public:
  CommandSet(DeviceIo& io, Clock& clock, UserInterface& ui, DeviceState& state);

  // Opens a drive letter or physical drive number into DeviceHandle.
  DeviceHandleValue OpenDevice(DeviceId id);
  void CloseDevice();
  DeviceHandleValue Handle() const { return handle_; }

  // Primitives: true when the device request succeeded.
  bool ReadSectors(DeviceHandleValue h, uint32_t lba, uint8_t* buffer, uint8_t count);
  bool WriteSectors(DeviceHandleValue h, uint32_t lba, uint8_t* buffer, uint8_t count);
  bool InquiryDevice(DeviceHandleValue h, uint8_t* buffer);
  bool AtaCommand(DeviceHandleValue h, AtaRegisters& regs, uint8_t* buffer, uint32_t sectors);
  // A vendor query into ScratchSector; `needed`: how many bytes of the reply
  // the caller reads (a shorter reply fails, the rest reads as zero).
  bool VendorQuery(uint8_t row, uint32_t needed = UINT32_MAX);
  bool VendorCommand(uint8_t type, uint8_t* buffer, uint32_t address);

  // Transport wrappers: open the device themselves, report failures in
  // status-bar panel 4 and close the device before they return.
  bool ReadSpi(uint32_t address, uint32_t count, uint8_t* buffer);
  bool WriteSpi(uint32_t address, uint32_t count, const uint8_t* data);
  bool EraseSpi(uint32_t address, uint32_t count);
  bool SpiControl(uint8_t request);
  bool ReadStatusSector(uint8_t* buffer);
  bool SendBackupPeriod();
  // lastSector: the array capacity of the slot's status record minus 1.
  bool SendScanCommand(uint64_t lastSector);
  // The command sector as the caller prepared it, to the slot a long
  // operation holds (else the Upgrade page's slot).
  bool SendCommandBlock();

  // The vendor CDB layout of the next vendor command: 1 one 0xFE, 0 two.
  uint8_t CdbShift = 1;
  Sector ScratchSector{};
  CommandBlock Block;
  std::atomic<uint32_t> ProgressValue{0};
  // Set while a long operation is to end at the next request boundary: the
  // flash loops send no further chunk, still close the SPI mode and fail.
  std::atomic<bool> StopRequested{false};
  uint32_t FlashRecordAddr = 0;
  uint32_t StatusAreaLimit = kStatusAreaLimit;

  // The random command block 3-130 used for a request (exposed for tests).
  uint32_t NextRandomBlock();
  void SeedRandom(uint32_t seed) { rng_.seed(seed); }

 private:
  enum class Transport { Vendor, BlockCommands, Ata };
  static Transport TransportOf(uint32_t flags);
  // Sends one SCSI request; `needed` bytes of a data-in reply must arrive.
  bool Execute(DeviceHandleValue h, ScsiRequest& r, uint32_t needed = UINT32_MAX);
  void Fail(const std::string& panelText);
  bool NoDeviceGate();
  bool SpiPreamble(bool enterSpiMode);
  bool SpiControlOpen(uint8_t request);
  bool SendCommand(uint32_t lba);
  bool SearchStatusRecord(uint8_t* buffer);
  bool SettingsPreamble(uint8_t slot);
  bool CloseSpi(bool lowArea, bool ok);

  DeviceIo& io_;
  Clock& clock_;
  UserInterface& ui_;
  DeviceState& st_;
  DeviceHandleValue handle_ = kInvalidHandle;
  uint32_t openedFlags_ = 0;
  std::minstd_rand rng_{1};
};

}  // namespace raid
