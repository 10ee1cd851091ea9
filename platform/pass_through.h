// What a pass-through reply says besides its data, decoded the same way for
// every system: the SCSI status byte, the sense bytes, and for ATA commands
// sent through a SCSI/ATA translation layer the ATA output registers carried
// in the sense data. Plain code, so the decisions are tested everywhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/device_io.h"
#include "platform/outcome.h"

namespace raid {

constexpr uint8_t kScsiStatusGood = 0x00;
constexpr uint8_t kScsiStatusCheckCondition = 0x02;
constexpr uint8_t kSenseKeyRecoveredError = 0x01;

// Sense key and additional sense code of fixed (0x70/0x71) or descriptor
// (0x72/0x73) sense data; valid false when the bytes are neither.
struct SenseCode {
  bool valid = false;
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
};
SenseCode DecodeSense(const uint8_t* sense, size_t length);

// "ATA pass-through information available": the translation layer completed
// the ATA command and put its output registers into the sense data.
bool IsAtaPassThroughInformation(const SenseCode& s);

// The ATA output registers from the sense data of an ATA PASS-THROUGH reply
// (the ATA Status Return descriptor, or the fixed-format information
// fields). Error lands in `features`, Status in `command`, as the Windows
// IDE pass-through reports them. False when the sense carries none.
bool DecodeAtaOutputRegisters(const uint8_t* sense, size_t length, AtaRegisters& out);

// The ATA PASS-THROUGH(16) CDB for a 28-bit command: PIO data-in of
// `sectors` blocks of 512 bytes, or non-data when `sectors` is 0. A non-data
// command asks for its output registers back (CK_COND).
std::array<uint8_t, 16> EncodeAtaPassThrough16(const AtaRegisters& regs, uint32_t sectors);

// An ATA register command carried as ATA PASS-THROUGH(16) by `transfer`
// (the system's SCSI pass-through, which fills in the reply status): the
// registers come back from the sense data where the reply carries them, and
// it succeeded when the transfer did and all data came in.
Outcome AtaByPassThrough16(AtaRegisters& regs, uint8_t* data, uint32_t sectors, ReplyStatus& status,
                           const std::function<Outcome(ScsiRequest&)>& transfer);

// Whether a completed pass-through request succeeded by its status and sense:
// GOOD succeeds; so does CHECK CONDITION with RECOVERED ERROR 00/1D on an ATA
// PASS-THROUGH request. Anything else failed, and the error says how.
Outcome PassThroughSucceeded(const ReplyStatus& status, bool ataPassThrough);

// "status 0x02, sense 05/24/00" for error texts.
std::string ReplyStatusText(const ReplyStatus& status);

}  // namespace raid
