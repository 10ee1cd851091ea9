// COM for the main window's thread on Windows: apartment model and
// process-wide security (packet authentication, impersonation), as the
// system-information queries need. Elsewhere there is nothing to set up.
#pragma once

#include <string>

namespace raid {

class ComSession {
 public:
  ComSession();   // initialises COM for the calling thread
  ~ComSession();  // uninitialises it
  ComSession(const ComSession&) = delete;
  ComSession& operator=(const ComSession&) = delete;
  // Sets the process-wide COM security; false when the system refused.
  bool InitializeSecurity();

 private:
  bool initialised_ = false;
};

}  // namespace raid
