#include <windows.h>

#include "platform/shared_library.h"

namespace raid {

Outcome SharedLibrary::Open(const std::vector<std::string>& names) {
  std::string error;
  for (const std::string& name : names) {
    HMODULE m = LoadLibraryA(name.c_str());
    if (m) {
      handle_ = reinterpret_cast<void*>(m);
      return Outcome::Ok();
    }
    error += (error.empty() ? "" : "; ") + name + ": cannot be loaded (error " + std::to_string(GetLastError()) + ")";
  }
  return Outcome::Fail(error);
}

Expected<void*> SharedLibrary::Symbol(const char* name) {
  if (!handle_) return Expected<void*>::Fail("no library is open");
  FARPROC at = GetProcAddress(reinterpret_cast<HMODULE>(handle_), name);
  if (!at) return Expected<void*>::Fail(std::string(name) + " is missing from the library");
  return reinterpret_cast<void*>(at);
}

}  // namespace raid
