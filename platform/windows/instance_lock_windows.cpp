#include <windows.h>

#include <string>

#include "platform/instance_lock.h"

namespace raid {

// A named mutex taken with initial ownership; the system releases it when
// the process ends.
// The holder's program name is not kept: a mutex carries no data.
bool InstanceLock::Acquire(const std::string& name, const std::string&) {
  Release();
  held_ = false;
  holder_.clear();
  // The name lives in the session's own namespace: one copy per session.
  HANDLE h = CreateMutexA(nullptr, TRUE, name.c_str());
  if (!h) {
    const DWORD code = GetLastError();
    // A mutex of that name made by another account of this session.
    held_ = code == ERROR_ACCESS_DENIED;
    error_ = held_ ? "another copy is running" : "cannot create the mutex " + name + ": error " + std::to_string(code);
    return false;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
    held_ = true;
    error_ = "another copy is running";
    return false;
  }
  handle_ = h;
  return true;
}

void InstanceLock::Release() {
  if (handle_) {
    ReleaseMutex(static_cast<HANDLE>(handle_));
    CloseHandle(static_cast<HANDLE>(handle_));
  }
  handle_ = nullptr;
}

InstanceLock::~InstanceLock() { Release(); }

}  // namespace raid
