// Device arrival and removal. The source calls back on a thread of its own
// choosing; the receiver moves the news to the main thread.
#pragma once

#include <functional>

namespace raid {

class DeviceChangeSource {
 public:
  virtual ~DeviceChangeSource() = default;
  // Returns false when notifications cannot be had (the reason is the
  // backend's to tell).
  virtual bool Start(std::function<void()> onChange) = 0;
  virtual void Stop() = 0;
};

}  // namespace raid
