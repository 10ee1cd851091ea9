// Device arrival and removal. The source calls back on a thread of its own
// choosing; the receiver moves the news to the main thread.
#pragma once

#include <functional>
#include <string_view>

namespace raid {

class DeviceChangeSource {
 public:
  virtual ~DeviceChangeSource() = default;
  // Returns false when notifications cannot be had (the reason is the
  // backend's to tell).
  virtual bool Start(std::function<void()> onChange) = 0;
  virtual void Stop() = 0;
};

// Which hot-plug events of the system are a device change for the program:
// a whole disk arriving or leaving. "change" events are not: udev raises one
// for every close of a writable descriptor of a disk and for partition
// table re-reads, and taking them as device changes would restart the
// re-detection countdown for ever.
inline bool IsDiskArrivalOrRemoval(std::string_view action, std::string_view devtype) {
  return devtype == "disk" && (action == "add" || action == "remove");
}

}  // namespace raid
