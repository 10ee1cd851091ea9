// The pass-through command set: the primitives that turn one request of the
// program into exactly one device request, and the operations that read and
// write the controller's SPI flash, read its status record and send its
// command sector, whichever of the three transports the drive answers on.
// Every operation returns a DeviceResult; what the user is told is decided
// by the layer that asked.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>

#include "platform/bytes.h"
#include "device/device_result.h"
#include "device/device_state.h"
#include "device/requests.h"
#include "device/spi_transport.h"
#include "platform/clock.h"
#include "platform/device_io.h"

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
  CommandSet(DeviceIo& io, Clock& clock, DeviceState& state);

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

  // Flash operations on the enclosure in `slot` (the slot a long
  // operation's lease holds; kNoOperationSlot fails as "not in update
  // mode"): open the drive, enter SPI access mode, walk the range, leave the
  // mode and close the drive, whichever transport the drive answers on.
  // Each 4 KiB erased, 512 bytes programmed or 512 bytes read adds one to
  // ProgressValue.
  DeviceResult ReadSpi(uint16_t slot, uint32_t address, uint32_t count, uint8_t* buffer);
  DeviceResult WriteSpi(uint16_t slot, uint32_t address, uint32_t count, const uint8_t* data);
  DeviceResult EraseSpi(uint16_t slot, uint32_t address, uint32_t count);
  // Update mode on (0x11) or off (0x10) for the enclosure in `slot`.
  DeviceResult SpiControl(uint16_t slot, uint8_t request);
  // The status record of the drive `driveFlags` describes (its number and
  // the transport it answers on), whether published or being identified.
  DeviceResult ReadStatusSector(uint32_t driveFlags, uint8_t* buffer);
  // The status record of the enclosure published in `slot`.
  DeviceResult ReadSlotStatus(uint8_t slot, uint8_t* buffer);
  // Opens the drive of a published slot for a command sector.
  DeviceResult OpenSlot(uint8_t slot);
  // Writes Block, as the caller prepared it, to block 20 of the open drive.
  DeviceResult SendCommandSector();

  // Whether an ATA request since the last call could not get its buffer
  // (cleared by the call).
  bool TakeMemoryShort() { return std::exchange(memoryShort_, false); }

  // Called after every request of a flash walk (the window lets pending
  // messages through there).
  std::function<void()> BetweenRequests;

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
  friend class VendorTransport;
  friend class BlockTransport;
  friend class AtaTransport;

  SpiTransport& TransportFor(uint32_t flags);
  // Sends one SCSI request; `needed` bytes of a data-in reply must arrive.
  bool Execute(DeviceHandleValue h, ScsiRequest& r, uint32_t needed = UINT32_MAX);
  // Writes Block to `lba`; the failure text names the block.
  Outcome SendCommand(uint32_t lba);
  // Opens the enclosure in `slot` for a flash operation and, when asked,
  // enters SPI access mode.
  DeviceResult OpenFlashEnclosure(uint16_t slot, bool enterSpiMode);
  // The address walk shared by the three flash operations: step(address,
  // offset) carries out one request and returns its Outcome.
  template <typename Step>
  DeviceResult WalkFlash(uint16_t slot, uint32_t address, uint32_t count, uint32_t stride, uint32_t bytesPerProgress,
                         bool lowAreaGate, Step step);
  // Leaves SPI mode (closing the low area first when it was opened) and
  // closes the drive; a failure there fails the operation too. `failure` is
  // the text of the last request that failed so far.
  DeviceResult CloseSpi(bool lowArea, bool ok, std::string failure);

  DeviceIo& io_;
  Clock& clock_;
  DeviceState& st_;
  VendorTransport vendor_;
  BlockTransport block_;
  AtaTransport ata_;
  SpiTransport* transport_ = nullptr;  // of the enclosure a flash operation opened
  DeviceHandleValue handle_ = kInvalidHandle;
  bool memoryShort_ = false;
  std::minstd_rand rng_{1};
};

}  // namespace raid
