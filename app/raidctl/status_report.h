// What raidctl prints about an enclosure: its line in the list and its
// decoded status record, as text or as JSON.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/bytes.h"

namespace raid {

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

}  // namespace raid
