#include <dlfcn.h>

#include "platform/shared_library.h"

namespace raid {

Outcome SharedLibrary::Open(const std::vector<std::string>& names) {
  std::string error;
  for (const std::string& name : names) {
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) return Outcome::Ok();
    const char* why = dlerror();
    error += (error.empty() ? "" : "; ") + std::string(why ? why : name + ": cannot be loaded");
  }
  return Outcome::Fail(error);
}

Expected<void*> SharedLibrary::Symbol(const char* name) {
  if (!handle_) return Expected<void*>::Fail("no library is open");
  dlerror();
  void* at = dlsym(handle_, name);
  if (!at) {
    const char* why = dlerror();
    return Expected<void*>::Fail(why ? why : std::string(name) + " is missing");
  }
  return at;
}

}  // namespace raid
