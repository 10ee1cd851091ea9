// USB mass storage Bulk-Only Transport, target side: the 31-byte command
// block wrapper (CBW) the host sends, the 13-byte status wrapper (CSW) the
// device answers with, and one command's course between them. The bytes come
// from the host and are checked before use; BOT fields are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_io.h"

namespace raid::realkernel {

inline constexpr size_t kCbwSize = 31;
inline constexpr size_t kCswSize = 13;

// CSW status values.
inline constexpr uint8_t kCswPassed = 0;
inline constexpr uint8_t kCswFailed = 1;
inline constexpr uint8_t kCswPhaseError = 2;

struct Cbw {
  uint32_t tag = 0;
  uint32_t dataLength = 0;  // bytes the host expects to move
  DataDirection direction = DataDirection::None;
  uint8_t lun = 0;
  uint8_t cdbLength = 0;  // 1..16
  std::array<uint8_t, 16> cdb{};
};

// A CBW, or nothing when the bytes are not a valid one (wrong size or
// signature, CDB length outside 1..16, reserved bits set).
std::optional<Cbw> ParseCbw(const uint8_t* bytes, size_t size);
std::array<uint8_t, kCswSize> MakeCsw(uint32_t tag, uint32_t residue, uint8_t status);

// What the device makes of one SCSI command.
struct ScsiReply {
  uint8_t status = 0;          // SCSI status: 0x00 GOOD, 0x02 CHECK CONDITION
  std::vector<uint8_t> sense;  // with CHECK CONDITION
  uint32_t moved = 0;          // bytes of the data phase really moved
  bool hang = false;           // never answered: the host has to give up and reset
};

// Answers one command: its CDB, the data phase's direction and the buffer
// (data-out: what the host sent; data-in: to be filled, its size is what the
// host is ready to take).
using ScsiAnswerer =
    std::function<ScsiReply(const uint8_t* cdb, size_t cdbLength, DataDirection dir, uint8_t* data, uint32_t length)>;

// One command's course on the target: what to send in the data-in phase,
// the CSW and whether to hold it unanswered.
struct BotOutcome {
  uint32_t dataInBytes = 0;  // bytes of the buffer to send to the host
  std::array<uint8_t, kCswSize> csw{};
  bool hang = false;
  uint8_t scsiStatus = 0;
  std::vector<uint8_t> sense;  // the sense kept for the host's REQUEST SENSE
};

// Runs commands through the answerer the way a USB-to-SATA bridge does: a
// CHECK CONDITION becomes CSW status 1 and its sense is kept for the REQUEST
// SENSE the host sends next (the bridge answers that one itself; any other
// command drops it); a short
// data phase is reported as the residue; an answer claiming more bytes than
// the host offered is a phase error.
class BulkOnlyTarget {
 public:
  explicit BulkOnlyTarget(ScsiAnswerer answer) : answer_(std::move(answer)) {}

  // `buffer` holds the data-out bytes, or is filled with the data-in bytes;
  // its size is the CBW's data length.
  BotOutcome Run(const Cbw& cbw, std::vector<uint8_t>& buffer);
  // After a reset or an unplug nothing of the last command is kept.
  void Reset() { pendingSense_.clear(); }

 private:
  ScsiAnswerer answer_;
  std::vector<uint8_t> pendingSense_;
};

// One log line: CDB hex, direction, host length, moved bytes and status.
std::string DescribeCommand(const Cbw& cbw, const BotOutcome& outcome);

}  // namespace raid::realkernel
