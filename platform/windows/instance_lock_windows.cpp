#include <windows.h>

#include "platform/instance_lock.h"

namespace raid {

// A named mutex taken with initial ownership; the system releases it when
// the process ends.
bool InstanceLock::Acquire(const std::string& name) {
  Release();
  HANDLE h = CreateMutexA(nullptr, TRUE, name.c_str());
  if (!h) {
    error_ = "CreateMutexA failed";
    return false;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
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
