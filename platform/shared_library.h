// A shared library opened when first needed. The mail client is the one
// user: a monitor that never sends a mail never maps the mail library and
// the TLS libraries behind it, which would otherwise cost every run several
// megabytes of resident memory.
#pragma once

#include <string>
#include <vector>

#include "platform/outcome.h"

namespace raid {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  // The library stays loaded for the rest of the process: what it set up
  // (its global state, its threads) may outlive any one caller.
  ~SharedLibrary() = default;

  // Opens the first of `names` that loads; when none does, the error says
  // why for each.
  Outcome Open(const std::vector<std::string>& names);
  // The address of an exported symbol, or why there is none.
  Expected<void*> Symbol(const char* name);

 private:
  void* handle_ = nullptr;
};

}  // namespace raid
