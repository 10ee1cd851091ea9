#include "platform/com_session.h"

namespace raid {

ComSession::ComSession() = default;
ComSession::~ComSession() = default;
bool ComSession::InitializeSecurity() { return true; }

}  // namespace raid
