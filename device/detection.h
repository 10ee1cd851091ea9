// Finds the enclosures among the machine's disks: counts drive letters and
// physical drives, maps volumes to disks, probes drives 0-9 with up to four
// identification methods and groups drives that show the same enclosure.
// Runs on the detection thread; it reports its progress to a
// DetectionProgress, and the layer above decides what the user sees.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/bytes.h"
#include "device/command_set.h"
#include "device/device_state.h"
#include "platform/clock.h"
#include "platform/device_io.h"

namespace raid {

struct VolumeEntry {
  char Letter = 0;
  uint8_t DriveType = 0;   // low byte of the platform drive type; 255 when it does not open
  uint8_t DiskNumber = 0;  // physical disk of the first extent
  uint64_t StartingOffset = 0;
  uint64_t ExtentLength = 0;
  // What the user knows the volume by: the letter itself on Windows, the
  // mount point on Linux.
  std::string Name;
};

// What a scan reports while it runs.
class DetectionProgress {
 public:
  virtual ~DetectionProgress() = default;
  // Drive k is being probed.
  virtual void Probing(uint8_t drive) = 0;
  // Identification method 1-4 is being tried.
  virtual void TryingMode(int mode) = 0;
  // The block-58 read of a drive failed; the other methods follow.
  virtual void IdentReadFailed() = 0;
  // More drive letters than the volume table holds.
  virtual void TooManyVolumes() = 0;
  // A request of the scan failed in a way the user is shown.
  virtual void Failed(const DeviceResult& result) = 0;
  // Between two requests (a window lets pending messages through there).
  virtual void BetweenRequests() {}
};

constexpr int kMaxLetters = 24;
constexpr int kVolumeTableSize = 20;
constexpr int kFoundListSize = 12;
constexpr int kGroupTableSize = 20;

// What one identification scan found. A scan fills a set of its own; the
// main thread publishes a finished set as a whole.
struct DetectionTables {
  std::array<VolumeEntry, kVolumeTableSize> VolumeTable{};
  std::array<Sector, kPhysicalDrives> IdentSector{};
  std::array<Sector, kPhysicalDrives> ScanStatusSector{};
  std::array<uint32_t, kFoundListSize> FoundList{};
  uint8_t FoundCount = 0;
  std::array<uint32_t, kGroupTableSize> GroupTable{};
  uint8_t GroupCount = 0;
  std::array<uint8_t, kGroupTableSize> GroupExtraCount{};
  std::array<std::array<uint8_t, kPhysicalDrives>, kGroupTableSize> GroupExtraMembers{};
};

// The drive counts and tables one detector works on. The main thread's
// detector holds the published tables (written only when a scan is
// published) and counts letters and drives; the detection thread's detector
// scans with a copy of what it needs of them.
class DriveDetector : public DetectionTables {
 public:
  DriveDetector(CommandSet& cs, DeviceIo& io, DetectionProgress& progress, DeviceState& st);

  int CountLetters();
  int CountPhysicalDrives();
  void FillVolumeTable();
  // The identification scan; returns the number of groups.
  int ScanDrives();
  void Rescan();

  // Whether a sector carries the controller's "3X" signature.
  static bool HasSignature(const uint8_t* sector);

  std::array<char, kMaxLetters + 1> DriveLetters{};
  uint8_t LetterCount = 0;
  uint8_t PhysicalDriveCount = 0;
  // The identification sectors of the last published scan.
  std::array<Sector, kPhysicalDrives> PrevIdentSector{};
  // The slot a running operation's lease holds when the scan was asked for
  // (kNoOperationSlot: none): its drive is not opened.
  uint16_t LeasedSlot = kNoOperationSlot;

 private:
  uint32_t Probe(uint8_t k);
  bool VendorTries(uint8_t k);
  void Group(uint8_t k, uint32_t flags);

  CommandSet& cs_;
  DeviceIo& io_;
  DetectionProgress& progress_;
  DeviceState& st_;
};

}  // namespace raid
