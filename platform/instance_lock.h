// Keeps the programs that talk to the enclosures to one running copy. The
// lock belongs to the process: a copy that crashed never blocks the next
// start.
//
// Scope::Machine (runs on the real disks): on Linux a process running as
// root takes one lock for the whole machine, a file of root's in the
// root-owned folder /run/raidgui that no other user can open, so neither
// the user, the environment nor another account changes or blocks it. A
// process that is not root cannot send the enclosures their commands, and
// keeps to its own user's lock. Scope::User (simulated runs): one lock per
// user session, in $XDG_RUNTIME_DIR (else a name of the user's own in
// /tmp), so a simulated run never takes or waits for the real lock.
#pragma once

#include <string>

#include "platform/outcome.h"

namespace raid {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Succeeds when this process now holds the named lock; fails when another
  // copy holds it (HeldElsewhere()) or it cannot be had at all, saying why.
  // program: which program holds it, for a later start to ask (HeldBy()).
  enum class Scope { User, Machine };
  Outcome Acquire(const std::string& name, const std::string& program = {}, Scope scope = Scope::User);
  void Release();
  bool HeldElsewhere() const { return held_; }
  // After a refused Acquire: whether the holder named itself `program`.
  bool HeldBy(const std::string& program) const;
#ifndef _WIN32
  // The lock file a name stands for.
  static std::string PathFor(const std::string& name, Scope scope = Scope::User);
  // The folder of the machine-wide lock (tests point it elsewhere).
  static std::string& MachineFolder();
#endif

 private:
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
