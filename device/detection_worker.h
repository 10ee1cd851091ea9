// The hand-over of a drive detection between the main thread and the
// detection thread. The main thread asks for a scan with a copy of what the
// scan needs of its state; the detection thread scans with a detector, a
// command set and device state of its own and leaves one finished result;
// the main thread takes that result as a whole and publishes it. Each
// request has a generation: a result whose request has been superseded by a
// newer one is dropped, so only a complete scan of the latest request is
// ever published, and no table is written by two threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "device/command_set.h"
#include "device/detection.h"
#include "device/device_state.h"

namespace raid {

// What a scan needs of the main thread's state, copied when it is asked for.
struct DetectionInput {
  std::array<char, kMaxLetters + 1> DriveLetters{};
  uint8_t LetterCount = 0;
  uint8_t PhysicalDriveCount = 0;
  bool FirstFill = true;
  // The slot a running firmware upgrade or initialisation leases, and the
  // table it indexes: that drive is not opened by the scan.
  uint16_t LeasedSlot = kNoOperationSlot;
  std::array<uint32_t, kMaxSlots> DeviceList{};
  std::array<Sector, kPhysicalDrives> PrevIdentSector{};
};

struct DetectionResult {
  uint64_t Generation = 0;
  DetectionTables Tables;
  // Non-empty when disks would not open for lack of rights.
  std::string AccessProblem;
};

class DetectionWorker {
 public:
  DetectionWorker(DeviceIo& io, Clock& clock, DetectionProgress& progress);

  // Main thread: asks for a scan; a request or result not yet taken is
  // superseded. Returns the request's generation.
  uint64_t Request(const DetectionInput& input);
  // Any thread: a requested scan has not yet left its result.
  bool Pending() const { return pending_.load(); }
  // Main thread: the finished result of the latest request, once.
  std::optional<DetectionResult> TakeResult();

  // Detection thread (or the simulated machine's scheduler): runs the
  // waiting request, if any; returns whether it ran one.
  bool RunOnce();

 private:
  DeviceIo& io_;
  mutable std::mutex mu_;
  std::optional<DetectionInput> waiting_;  // guarded by mu_
  uint64_t latest_ = 0;                    // guarded by mu_
  std::optional<DetectionResult> result_;  // guarded by mu_
  std::atomic<bool> pending_{false};

  // Used by the detection thread only.
  DeviceState scanState_;
  CommandSet scanCs_;
  DriveDetector scanner_;
};

}  // namespace raid
