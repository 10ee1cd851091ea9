// A window's view of the monitor service's enclosures: a simulated machine
// with one enclosure per physical drive the service's enclosures lie on,
// answering the window's detection and polls with the identification
// sectors and status records the service accepted last. The window's own
// core then draws what it would draw of the enclosures themselves, while
// nothing it sends reaches an enclosure: the service alone opens them.
#pragma once

#include <array>
#include <optional>

#include <nlohmann/json.hpp>

#include "app/common/options.h"
#include "platform/bytes.h"
#include "platform/outcome.h"
#include "sim/sim_device_io.h"

namespace raid {

class ServiceMirror {
 public:
  // The machine of the mirror: the program's real clock and the mirror's
  // scenario (no device of this computer is opened).
  static void BuildMachine(Machine& m);
  // One enclosure per drive number, 0 to 9.
  static sim::ScenarioSpec MirrorScenario();
  // Starts with every enclosure unplugged.
  explicit ServiceMirror(sim::SimDeviceIo& sim);

  // Main thread: one mirror document of the service ({"enclosures":
  // [{"drive", "transport", "ident", "record"}]}), checked whole before
  // anything changes. An enclosure shows once the service has accepted a
  // record of it; one whose drive, bridge or identification changed goes
  // and comes back, so the window detects it anew.
  Outcome Apply(const nlohmann::json& document);
  // The service went away: every enclosure is unplugged.
  void Clear();

 private:
  struct Shown {
    sim::EnclosureTransport transport = sim::EnclosureTransport::Read58;
    Sector ident{};
  };
  sim::SimDeviceIo& sim_;
  std::array<std::optional<Shown>, 10> shown_;  // by physical drive number
};

}  // namespace raid
