// One line about an enclosure for raidmon's console: slot, mode, capacity,
// array state, the two drives, a running rebuild or scan, firmware, fan and
// temperature.
#pragma once

#include <cstdint>
#include <string>

#include "platform/bytes.h"

namespace raid {

// ident: the enclosure's identification sector; record: its status record.
std::string EnclosureStatusLine(int slot, uint32_t driveFlags, const Sector& ident, const Sector& record);

}  // namespace raid
