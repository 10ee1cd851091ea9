// One simulated drive as a SCSI target: answers each command the way it
// arrives at a real logical unit (the CDB bytes as received, the data
// direction and the host's data buffer) with a SCSI status, sense bytes, the
// number of bytes moved, or no answer at all.
//
// The enclosure's own requests (INQUIRY, READ(10)/WRITE(10), the vendor
// 0xFE CDBs, ATA PASS-THROUGH(12)/(16)) go to the simulator, which stays the
// only model of the enclosure; the responder only carries them across and
// turns the simulator's outcome into what a USB-to-SATA bridge would send.
// The commands a kernel sends on its own (TEST UNIT READY, READ CAPACITY,
// MODE SENSE, VPD pages, SYNCHRONIZE CACHE, ...) are answered here, as a
// bridge answers them, and never reach the simulator.
//
// docs/realkernel.md ("The responder") lists every answer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/device_io.h"
#include "sim/scenario.h"
#include "sim/sim_device_io.h"

namespace raid::sim {

// A command as the transport received it. All pointers are the transport's;
// nothing is kept after Answer returns.
struct ScsiCommand {
  const uint8_t* cdb = nullptr;
  size_t cdbLength = 0;  // 1..16; a transport may cut a CDB to its group's length
  DataDirection direction = DataDirection::None;
  uint8_t* data = nullptr;  // the host's buffer: filled for In, read for Out
  uint32_t dataLength = 0;  // its length: the host's allocation
  // The host's time-out when the transport knows it (0 when not): a hung
  // request costs the simulator's clock this long.
  uint32_t timeoutSeconds = 0;
};

struct ScsiAnswer {
  uint8_t status = 0;  // 0x00 GOOD, 0x02 CHECK CONDITION
  std::array<uint8_t, 32> sense{};
  uint8_t senseLength = 0;
  uint32_t transferred = 0;  // bytes moved; the residue is dataLength - transferred
  // Not answered: the transport keeps the command until the host aborts it.
  bool hang = false;
};

// SCSI status and sense key values used in answers.
inline constexpr uint8_t kStatusGood = 0x00;
inline constexpr uint8_t kStatusCheckCondition = 0x02;
inline constexpr uint8_t kKeyNoSense = 0x00;
inline constexpr uint8_t kKeyRecoveredError = 0x01;
inline constexpr uint8_t kKeyNotReady = 0x02;
inline constexpr uint8_t kKeyIllegalRequest = 0x05;
inline constexpr uint8_t kKeyAbortedCommand = 0x0B;

class ScsiResponder {
 public:
  // 1 TB in 512-byte blocks: the size of a drive whose size the scenario
  // does not give.
  static constexpr uint64_t kDefaultBlocks = 1953525168;

  // Answers for `drive` of `io`, `blocks` blocks of 512 bytes large.
  ScsiResponder(SimDeviceIo& io, int drive, uint64_t blocks = kDefaultBlocks);
  ~ScsiResponder();
  ScsiResponder(const ScsiResponder&) = delete;
  ScsiResponder& operator=(const ScsiResponder&) = delete;

  // The size a drive of the scenario shows: the end of its furthest volume,
  // rounded up to whole MiB; kDefaultBlocks when it carries no volume.
  static uint64_t BlocksFor(const ScenarioSpec& scenario, int drive);

  // Answers one command on the responder's own handle of the drive (opened
  // at the first command that needs the simulator).
  ScsiAnswer Answer(const ScsiCommand& c);
  // The same on a handle of `io` the caller opened (a test that lets the
  // program open the drive as it would directly).
  ScsiAnswer Answer(DeviceHandleValue h, const ScsiCommand& c);

  // Whether the simulated drive is there now (the scenario's plug and
  // unplug timeline, applied up to the simulator's clock).
  bool Present();
  // The new plug state when it differs from what the last call returned
  // (the first call reports the state at once), so a transport can unplug
  // or replug the real device; nothing when it is unchanged.
  std::optional<bool> PlugChange();

  // The data direction a command's CDB implies, for transports that do not
  // carry it (a TCMU ring entry has only the buffers).
  static DataDirection ExpectedDirection(const uint8_t* cdb, size_t length);

  int Drive() const { return drive_; }
  uint64_t Blocks() const { return blocks_; }

 private:
  ScsiAnswer Forward(DeviceHandleValue h, const ScsiCommand& c, uint8_t refusedAsc);
  ScsiAnswer ReadWrite(DeviceHandleValue h, const ScsiCommand& c);
  ScsiAnswer Inquiry(DeviceHandleValue h, const ScsiCommand& c);
  ScsiAnswer AtaPassThrough(DeviceHandleValue h, const ScsiCommand& c);
  ScsiAnswer Housekeeping(const ScsiCommand& c, bool& handled);
  DeviceHandleValue OwnHandle();

  SimDeviceIo& io_;
  int drive_;
  uint64_t blocks_;
  DeviceHandleValue handle_ = kInvalidHandle;
  std::optional<bool> reportedPresent_;
};

}  // namespace raid::sim
