// The device table and the one-byte flags that the main window owns and the
// worker threads hand over: which enclosures are published and which of them
// a long operation holds. Requests name their slot or drive themselves. The
// table is written only when a detection is
// published; flags written by one thread and read by another are atomics
// with one writer per direction. What a front end shows and selects is
// its own (ViewFocus).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "device/operation_lease.h"

namespace raid {

// DriveFlags: the descriptor of an identified drive.
namespace drive_flags {
constexpr uint32_t kDriveNumber = 0x0F;
constexpr uint32_t kAtaIdentify = 0x10;  // "Mode 2"
constexpr uint32_t kVendor = 0x20;       // "Mode 3" or "Mode 4"
constexpr uint32_t kRead58 = 0x40;       // "Mode 1"
constexpr uint32_t kVendorShift = 0x80;  // vendor CDBs behind one 0xFE ("Mode 3")
constexpr uint32_t kIdentified = 0xF0;
inline uint8_t Drive(uint32_t f) { return static_cast<uint8_t>(f & kDriveNumber); }
}  // namespace drive_flags

constexpr int kMaxSlots = 8;
constexpr int kShownSlots = 2;
constexpr int kPhysicalDrives = 10;

// RequestBits: requests served by the status thread.
namespace request_bits {
constexpr uint8_t kPoll = 0x01;
constexpr uint8_t kBackupPeriod = 0x02;
constexpr uint8_t kScan = 0x04;
constexpr uint8_t kServed = 0x07;
constexpr uint8_t kArmed = 0x10;
}  // namespace request_bits

struct DeviceState {
  // Published enclosures: slot s addresses physical drive DeviceList[s] & 0xF.
  std::array<uint32_t, kMaxSlots> DeviceList{};
  uint8_t DeviceCount = 0;

  // Set by the main thread from the moment it counts drives again or asks
  // for a scan until the scan is published (the scan's own state has it set
  // while it runs). The hand-over itself is DetectionWorker's.
  std::atomic<uint8_t> Detecting{0};
  uint8_t RedetectCountdown = 0;

  // The lease of a long operation (firmware upgrade, initialisation).
  LeaseRegister Lease;

  std::atomic<uint8_t> RequestBits{0};
  uint8_t FirstFill = 1;
};

}  // namespace raid
