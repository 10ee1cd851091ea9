// What a device operation tells the layer that asked for it: success, or a
// failure kind with the status-bar text of the request that failed. It is
// the device layer's form of Outcome (platform/outcome.h): ok() and error()
// read the same, and the kind says what the caller switches on. The device
// layer never talks to the user; the layer above turns a result into the
// panel text and box the user sees.
#pragma once

#include <string>
#include <utility>

#include "platform/outcome.h"

namespace raid {

enum class DeviceFailure {
  None,
  NoDevice,       // no enclosure published
  NoUpgradeMode,  // no long operation holds a slot
  InvalidDrive,   // the slot's drive does not open, or the slot is gone
  Request,        // a request failed; error() is its status-bar text
  Silent,         // ended without anything to show (stopped at a request boundary, a bad argument)
};

struct [[nodiscard]] DeviceResult {
  DeviceFailure failure = DeviceFailure::None;
  // An ATA request could not get its buffer.
  bool outOfMemory = false;

  bool ok() const { return failure == DeviceFailure::None; }
  explicit operator bool() const { return ok(); }
  // The status-bar text of the last request that failed (Request; also
  // set when a later step failed after an earlier one); empty otherwise.
  const std::string& error() const { return text_; }
  Outcome outcome() const { return ok() ? Outcome::Ok() : Outcome::Fail(text_); }

  static DeviceResult Success() { return {}; }
  static DeviceResult Failed(DeviceFailure f) {
    DeviceResult r;
    r.failure = f;
    return r;
  }
  static DeviceResult RequestFailed(std::string text) {
    DeviceResult r = Failed(DeviceFailure::Request);
    r.text_ = std::move(text);
    return r;
  }

 private:
  std::string text_;
};

}  // namespace raid
