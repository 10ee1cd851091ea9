// A simulated machine: its disks, enclosures and volumes, and a timeline of
// what happens to them. Read from a JSON file (docs/simulator.md) or built
// in code; the built-in default is one healthy RAID1 enclosure.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/clock.h"
#include "platform/outcome.h"
#include "sim/enclosure.h"

namespace raid::sim {

// What a scenario may ask for (docs/simulator.md). Past these a run would
// wrap a number, outgrow memory or no longer answer a stop request.
inline constexpr double kMaxScenarioSpeed = 10000;                 // program seconds per real second
inline constexpr double kMaxScenarioSeconds = 10 * 366 * 86400.0;  // ten years of program time
inline constexpr uint64_t kMaxDeviceTimeMs = 60000;                // one modelled request
inline constexpr uint64_t kMaxFaultCount = 1000000000;             // fault count and after
inline constexpr uint64_t kMaxRampSteps = 100000;                  // values of one ramp
inline constexpr size_t kMaxTimelineEvents = 1000000;              // after ramps are counted out
inline constexpr size_t kMaxFaults = 1000;
inline constexpr size_t kMaxEnclosures = 10;
inline constexpr size_t kMaxScenarioBytes = 16 * 1024 * 1024;

struct EnclosureSpec {
  std::string name;
  EnclosureTransport transport = EnclosureTransport::Read58;
  Sector ident{};
  Sector status{};
  bool answersIdentOpcode = true;
  uint8_t inquiryAdditionalLength = 31;
};

enum class DiskKind { Empty, Plain, Enclosure };

struct DiskSpec {
  DiskKind kind = DiskKind::Empty;
  std::string enclosure;                 // for DiskKind::Enclosure
  uint8_t inquiryAdditionalLength = 31;  // for an ordinary disk
};

struct VolumeSpec {
  char letter = 'C';
  int drive = 0;
  uint64_t offset = 1048576;
  uint64_t length = 0;
  unsigned type = 3;
  std::string name;  // shown where a letter is shown
};

struct FaultSpec {
  std::string kind = "any";   // open read10 write10 inquiry vendor ata rescan extents scsi any
  std::string mode = "fail";  // fail hang short corrupt flip drop-write
  int drive = -1;             // -1: every drive
  int count = -1;             // -1: unlimited
  int after = 0;              // matching requests let through first
  double from = 0;
  double until = std::numeric_limits<double>::infinity();
};

struct TimelineEvent {
  enum class Kind { Patch, Plug, Unplug, Fault };
  double at = 0;
  Kind kind = Kind::Patch;
  std::string enclosure;
  size_t offset = 0;           // Patch: status record bytes to replace
  std::vector<uint8_t> bytes;  // Patch
  uint8_t mask = 0xFF;         // Patch of one byte: only these bits change
  FaultSpec fault;
};

struct ScenarioSpec {
  std::optional<LocalDateTime> start;
  double speed = 1.0;
  uint32_t seed = 1;
  DeviceTiming timing;
  std::vector<EnclosureSpec> enclosures;
  DiskSpec disks[10];
  std::vector<VolumeSpec> volumes;
  std::vector<TimelineEvent> events;  // sorted by time
  std::vector<FaultSpec> faults;
};

// Parses a scenario, or says what is wrong and where.
Expected<ScenarioSpec> ParseScenario(const std::string& jsonText);
Expected<ScenarioSpec> LoadScenarioFile(const std::string& path);
// One healthy RAID1 enclosure with two drives on physical drive 0.
ScenarioSpec DefaultScenario();

// Writes text in ATA string order (each byte pair swapped), blank-padded.
void PutAtaString(Sector& s, size_t offset, size_t width, const std::string& text);

}  // namespace raid::sim
