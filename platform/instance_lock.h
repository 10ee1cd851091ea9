// Keeps the program to one running copy per machine. The lock belongs to the
// process: a copy that crashed never blocks the next start.
#pragma once

#include <string>

namespace raid {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // True when this process now holds the named lock; false when another
  // copy holds it (or it cannot be had, with the reason in Error()).
  bool Acquire(const std::string& name);
  void Release();
  const std::string& Error() const { return error_; }

 private:
  std::string error_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace raid
