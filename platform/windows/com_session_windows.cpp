#include <objbase.h>

#include "platform/com_session.h"

namespace raid {

ComSession::ComSession() { initialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }

ComSession::~ComSession() {
  if (initialised_) CoUninitialize();
}

bool ComSession::InitializeSecurity() {
  const HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  return SUCCEEDED(hr);
}

}  // namespace raid
