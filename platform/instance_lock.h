// Keeps the program to one running copy per user session. The lock belongs
// to the process: a copy that crashed never blocks the next start.
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
  // copy holds it (HeldElsewhere()) or it cannot be had at all (the reason
  // in Error()). program: which program holds it, for a later start to ask
  // (HeldBy()).
  bool Acquire(const std::string& name, const std::string& program = {});
  void Release();
  bool HeldElsewhere() const { return held_; }
  // After a refused Acquire: whether the holder named itself `program`.
  bool HeldBy(const std::string& program) const;
  const std::string& Error() const { return error_; }
#ifndef _WIN32
  // The lock file a name stands for.
  static std::string PathFor(const std::string& name);
#endif

 private:
  std::string error_;
  std::string name_;
  std::string holder_;  // the holder's name as read from the lock file
  bool held_ = false;
#ifdef _WIN32
  void* handle_ = nullptr;
  void* holderHandle_ = nullptr;  // a second mutex that names the holder
#else
  int fd_ = -1;
#endif
};

}  // namespace raid
