// Where a long device operation (a firmware upgrade, an initialisation)
// runs: on the device thread when the program has one, else at once on the
// calling thread. Inside the job, `main` reaches the core's state (the main
// thread's invoker, or direct calls); `done` then runs on the main thread.
// Run returns true when the job (and done) already ran, at once.
#pragma once

#include <functional>

#include "platform/user_interface.h"

namespace raid {

class DeviceJobs {
 public:
  virtual ~DeviceJobs() = default;
  virtual bool Run(std::function<void(MainThreadInvoker& main)> job, std::function<void()> done) = 0;
};

// Runs each job at once on the calling thread.
class DirectDeviceJobs final : public DeviceJobs {
 public:
  bool Run(std::function<void(MainThreadInvoker& main)> job, std::function<void()> done) override {
    job(DirectCalls());
    if (done) done();
    return true;
  }
};

}  // namespace raid
