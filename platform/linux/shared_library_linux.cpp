#include <dlfcn.h>

#include "platform/shared_library.h"

namespace raid {

bool SharedLibrary::Open(const std::vector<std::string>& names) {
  error_.clear();
  for (const std::string& name : names) {
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) return true;
    const char* why = dlerror();
    error_ += (error_.empty() ? "" : "; ") + std::string(why ? why : name + ": cannot be loaded");
  }
  return false;
}

void* SharedLibrary::Symbol(const char* name) {
  if (!handle_) return nullptr;
  dlerror();
  void* at = dlsym(handle_, name);
  if (!at) {
    const char* why = dlerror();
    error_ = why ? why : std::string(name) + " is missing";
  }
  return at;
}

}  // namespace raid
