// The enclosures' health as the front ends' additions see it, from the
// core's last status records: the tray icon's colour, its tooltip and the
// daily mail reminder.
#pragma once

#include <string>
#include <vector>

#include "monitor/decoded_status.h"

namespace raid {

class RaidCore;

// Ordered from best to worst; the tray shows the worst of all enclosures.
enum class Health { Healthy, Busy, Degraded, NoneFound };

struct EnclosureHealth {
  std::string name;  // "Device1", ...
  Health health = Health::Healthy;
  std::string text;  // "Normal", "rebuilding 40%", "HDD2 removed", ...
};

// One enclosure's health from its decoded record: a failed or missing drive
// first, then a running rebuild or scan, else "Normal".
EnclosureHealth HealthOf(const DecodedStatus& status, int slot);
// Per enclosure, from the status records polled so far (an enclosure not
// read yet counts as healthy with the text "waiting for status").
std::vector<EnclosureHealth> EnclosureHealthOf(const RaidCore& core);
// The worst state; NoneFound without enclosures.
Health WorstHealth(const std::vector<EnclosureHealth>& list);
// A drive of a monitored enclosure is failed or missing.
bool AnyDriveDown(const RaidCore& core);

}  // namespace raid
