#include <windows.h>

#include <string>

#include "platform/instance_lock.h"

namespace raid {

// A named mutex taken with initial ownership; the system releases it when
// the process ends.
// A mutex carries no data: the holder's program name is a second mutex,
// "<name>.<program>", held as long as the lock.
Outcome InstanceLock::Acquire(const std::string& name, const std::string& program, Scope) {
  Release();
  held_ = false;
  name_ = name;
  // The name lives in the session's own namespace: one copy per session.
  HANDLE h = CreateMutexA(nullptr, TRUE, name.c_str());
  if (!h) {
    const DWORD code = GetLastError();
    // A mutex of that name made by another account of this session.
    held_ = code == ERROR_ACCESS_DENIED;
    return Outcome::Fail(held_ ? "another copy is running"
                               : "cannot create the mutex " + name + ": error " + std::to_string(code));
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
    held_ = true;
    return Outcome::Fail("another copy is running");
  }
  handle_ = h;
  if (!program.empty()) holderHandle_ = CreateMutexA(nullptr, FALSE, (name + "." + program).c_str());
  return Outcome::Ok();
}

bool InstanceLock::HeldBy(const std::string& program) const {
  if (!held_ || program.empty()) return false;
  HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, (name_ + "." + program).c_str());
  if (!h) return false;
  CloseHandle(h);
  return true;
}

void InstanceLock::Release() {
  if (holderHandle_) CloseHandle(static_cast<HANDLE>(holderHandle_));
  holderHandle_ = nullptr;
  if (handle_) {
    ReleaseMutex(static_cast<HANDLE>(handle_));
    CloseHandle(static_cast<HANDLE>(handle_));
  }
  handle_ = nullptr;
}

InstanceLock::~InstanceLock() { Release(); }

}  // namespace raid
