// Byte layouts of the two records a controller answers with: its
// identification sector (ATA IDENTIFY DEVICE layout) and its 512-byte status
// record. Offsets are named once here; every reader goes through them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace raid {

namespace ident {
constexpr size_t kFirmware = 46, kFirmwareLen = 8;
constexpr size_t kModel = 54, kModelLen = 40;
constexpr size_t kSignature = 258;  // "3" at 258, "X" at 259 from the controller
constexpr uint8_t kSig0 = 0x33, kSig1 = 0x58;
}  // namespace ident

namespace status {
constexpr size_t kOptions = 56;  // bit 0 buzzer sounds, bit 1 auto scan on, bit 2 schedule backup on
constexpr uint8_t kScheduleOn = 0x04;
constexpr size_t kMode = 57;  // array mode code
constexpr size_t kHdd1Serial = 58, kSerialLen = 20;
constexpr size_t kHdd2Serial = 78;
constexpr size_t kCapacity = 98, kCapacityLen = 5;
constexpr size_t kState = 104;     // drive state bits
constexpr size_t kActivity = 105;  // activity bits
constexpr size_t kProgress = 106;  // percent
constexpr size_t kConfig = 187, kConfigLen = 3;
constexpr size_t kSchedulePeriod = 190;  // schedule backup period in minutes
constexpr size_t kHdd1Model = 256, kModelLen = 40;
constexpr size_t kHdd1Capacity = 296, kDriveCapacityLen = 6;
constexpr size_t kHdd2Model = 302;
constexpr size_t kHdd2Capacity = 342;
constexpr size_t kEnvironment = 348;
constexpr size_t kFanRpm = 349;
constexpr size_t kTemperature = 351;
constexpr size_t kLinkSpeed = 357;
constexpr size_t kMemberModel = 378;
constexpr size_t kBadCount = 471;
constexpr size_t kBadRing = 472, kBadRingEntries = 10;

// Drive state bits of HDD1; HDD2 uses the same shifted left by 4.
constexpr uint8_t kInserted = 0x01, kPresent = 0x02, kAbsent = 0x04, kFailed = 0x08;
constexpr uint8_t kBothPresent = 0x22;
// Activity bits.
constexpr uint8_t kActHdd1 = 0x01, kActHdd2 = 0x02, kBadHdd1 = 0x04, kBadHdd2 = 0x08, kMatchedSsd = 0x10,
                  kActIsScan = 0x80;
}  // namespace status

}  // namespace raid
