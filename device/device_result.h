// What a device operation tells the layer that asked for it: success, or a
// failure kind with the status-bar text of the request that
// failed. The device layer never talks to the user; the layer above turns a
// result into the panel text and box the user sees.
#pragma once

#include <string>

namespace raid {

enum class DeviceFailure {
  None,
  NoDevice,       // no enclosure published
  NoUpgradeMode,  // no long operation holds a slot
  InvalidDrive,   // the slot's drive does not open, or the slot is gone
  Request,        // a request failed; `text` is its status-bar text
  Silent,         // ended without anything to show (stopped at a request boundary, a bad argument)
};

struct DeviceResult {
  DeviceFailure failure = DeviceFailure::None;
  // The status-bar text of the last request that failed (Request; also
  // set when a later step failed after an earlier one).
  std::string text;
  // An ATA request could not get its buffer.
  bool outOfMemory = false;

  bool ok() const { return failure == DeviceFailure::None; }
  explicit operator bool() const { return ok(); }

  static DeviceResult Success() { return {}; }
  static DeviceResult Failed(DeviceFailure f) { return {f, {}, false}; }
  static DeviceResult RequestFailed(std::string t) { return {DeviceFailure::Request, std::move(t), false}; }
};

}  // namespace raid
