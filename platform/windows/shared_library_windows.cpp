#include <windows.h>

#include "platform/shared_library.h"

namespace raid {

bool SharedLibrary::Open(const std::vector<std::string>& names) {
  error_.clear();
  for (const std::string& name : names) {
    HMODULE m = LoadLibraryA(name.c_str());
    if (m) {
      handle_ = reinterpret_cast<void*>(m);
      return true;
    }
    error_ += (error_.empty() ? "" : "; ") + name + ": cannot be loaded (error " + std::to_string(GetLastError()) + ")";
  }
  return false;
}

void* SharedLibrary::Symbol(const char* name) {
  if (!handle_) return nullptr;
  FARPROC at = GetProcAddress(reinterpret_cast<HMODULE>(handle_), name);
  if (!at) error_ = std::string(name) + " is missing from the library";
  return reinterpret_cast<void*>(at);
}

}  // namespace raid
