// Device I/O as data: every request the program sends to a disk is one of a
// handful of plain records, carried out by a backend (Windows, Linux or the
// enclosure simulator). Nothing above this interface knows which.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace raid {

enum class DataDirection : uint8_t { In, Out, None };

// What the device said about a request besides its data, filled in by the
// backend for every SCSI and ATA request: the SCSI status byte and the sense
// bytes that came with it.
struct ReplyStatus {
  uint8_t scsiStatus = 0;  // 0x00 GOOD, 0x02 CHECK CONDITION, ...
  uint8_t senseLength = 0;
  std::array<uint8_t, 32> sense{};
  // ATA requests: whether the output registers came back from the device
  // (the registers are then the reply's, otherwise they are left as sent).
  bool ataRegistersReturned = false;
};

// One SCSI command with its data phase.
struct ScsiRequest {
  std::array<uint8_t, 16> cdb{};
  uint8_t cdbLength = 10;
  DataDirection direction = DataDirection::In;
  uint32_t transferLength = 0;  // bytes
  uint32_t timeoutSeconds = 2;
  uint8_t* data = nullptr;  // transferLength bytes; in or out per direction
  // Set by the backend: how many bytes the device really moved, and the
  // status of the reply.
  uint32_t transferred = 0;
  ReplyStatus status;
};

// The seven ATA task-file registers in register order.
struct AtaRegisters {
  uint8_t features = 0;
  uint8_t sectorCount = 0;
  uint8_t lbaLow = 0;
  uint8_t lbaMid = 0;
  uint8_t lbaHigh = 0;
  uint8_t device = 0;
  uint8_t command = 0;

  std::array<uint8_t, 7> Bytes() const { return {features, sectorCount, lbaLow, lbaMid, lbaHigh, device, command}; }
  bool operator==(const AtaRegisters&) const = default;
};

// Where a volume lies: the physical disk of its first extent, and the
// extent's place on it in bytes.
struct VolumeExtent {
  uint8_t diskNumber = 0;  // low byte
  uint64_t startingOffset = 0;
  uint64_t extentLength = 0;
};

using DeviceId = uint8_t;                  // a drive letter ('C'..'Z') or a physical drive number 0-9
constexpr DeviceId kFirstLetterId = 0x43;  // ids above 'B' are letters

// Platform drive types of a root path (the low byte is what is kept).
enum DriveType : unsigned {
  kDriveUnknown = 0,
  kDriveNoRootDir = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdrom = 5,
  kDriveRamdisk = 6,
};

// An open device; the value is the backend's own.
using DeviceHandleValue = intptr_t;
constexpr DeviceHandleValue kInvalidHandle = -1;

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // Opens a drive letter or a physical drive number for pass-through
  // requests (read and write on Windows, read-only on Linux), or says why
  // it does not open.
  virtual Expected<DeviceHandleValue> Open(DeviceId id) = 0;
  virtual void Close(DeviceHandleValue h) = 0;

  // Each succeeds when the platform reported the request as done, and
  // otherwise says why not.
  virtual Outcome Scsi(DeviceHandleValue h, ScsiRequest& req) = 0;
  // ATA register command with `sectors` × 512 bytes of data in. Where the
  // transport returns them, the registers are updated from the reply whether
  // or not it succeeded (status.ataRegistersReturned says so).
  virtual Outcome Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* data, uint32_t sectors,
                      ReplyStatus& status) = 0;
  virtual Outcome RescanBus(DeviceHandleValue h) = 0;
  virtual Expected<VolumeExtent> DiskExtents(DeviceHandleValue h) = 0;

  // Bit n set: the letter 'A' + n exists.
  virtual uint32_t LogicalDriveMask() = 0;
  virtual unsigned DriveTypeOf(char letter) = 0;
  // A display name for a letter (Linux shows its mount point there).
  virtual std::string VolumeName(char letter) { return std::string(1, letter); }

  // Non-empty when devices were there but access to them was refused
  // (missing rights): the user must be told, not shown an empty machine.
  virtual std::string AccessProblem() const { return {}; }
};

}  // namespace raid
