// What raidctl prints about an enclosure: its line in the list and its
// decoded status record, as text or as JSON.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "device/device_state.h"
#include "monitor/metrics_text.h"
#include "platform/bytes.h"

namespace raid {

// The version of the `status --json` document. Raised only when a field
// changes its meaning or goes away; new fields may be added within a version.
constexpr int kStatusJsonVersion = 1;

class RaidCore;

struct EnclosureIdentity {
  int slot = 0;
  uint32_t flags = 0;  // DriveFlags
  Sector ident{};      // identification sector
};

// "read58", "ata", "vendor1" (one 0xFE) or "vendor2" (two).
std::string TransportName(uint32_t driveFlags);
// "Device1", "Device2", ...
std::string SlotName(int slot);

std::string ListHeader();
std::string ListLine(const EnclosureIdentity& e);

nlohmann::json StatusJson(const EnclosureIdentity& e, const Sector& record);
std::string StatusText(const EnclosureIdentity& e, const Sector& record);

// The identity of a published slot.
EnclosureIdentity IdentityOf(const RaidCore& core, int slot);
// The status document (`raidctl status --json`) of the records the core
// accepted last, without a request of its own: what a running monitor
// publishes for `raidctl check --status-file`.
nlohmann::json AcceptedStatusDocument(const RaidCore& core);
// Why the monitor has no status record of the enclosure in slot: not read
// yet, or not watched (beyond the enclosures the monitor watches).
std::string NoRecordReason(int slot);
// Writes the document atomically to path; false with the reason on failure.
// What `raidctl list` and `raidctl status` print, and their exit codes,
// from the enclosures the core has published and their last accepted
// records: what the monitor service answers.
nlohmann::json ListOutput(const RaidCore& core);
nlohmann::json AcceptedStatusOutput(const RaidCore& core);

// The metrics (raidmon --metrics-file) of the enclosures the core has
// published and the records it accepted last. lastPollSeconds: per
// physical drive, the Unix time its last record was accepted (< 0: none).
MetricsSnapshot AcceptedMetrics(const RaidCore& core, const std::array<double, kPhysicalDrives>& lastPollSeconds,
                                uint64_t mailFailures);

bool WriteStatusFile(const RaidCore& core, const std::string& path, std::string& error);

// What a window needs to show the monitor's enclosures as its own: per
// published slot the physical drive, the transport, the identification
// sector and the last accepted status record (null before the first), as
// {"enclosures": [{"drive", "transport", "ident", "record"}]} with the
// sectors in base64. The monitor service answers it.
nlohmann::json MirrorDocument(const RaidCore& core);

}  // namespace raid
