// The service endpoint on Windows will be a named pipe; until then the
// programs say so instead of listening or connecting.
#include "platform/local_endpoint.h"

namespace raid {

namespace {
constexpr const char* kNotYet = "the monitor service is not available on Windows yet";

class NoEndpoint final : public LocalEndpoint {
 public:
  Outcome Start(const std::string&, Handlers, Limits) override { return Outcome::Fail(kNotYet); }
  void Stop() override {}
  void Send(ClientId, const std::string&) override {}
  void CloseAfterSend(ClientId) override {}
};
}  // namespace

std::unique_ptr<LocalEndpoint> MakeLocalEndpoint() { return std::make_unique<NoEndpoint>(); }

std::optional<uint32_t> LocalGroupId(const std::string&) { return std::nullopt; }

LocalConnection::~LocalConnection() = default;

Outcome LocalConnection::Connect(const std::string&) { return Outcome::Fail(kNotYet); }

Outcome LocalConnection::SendLine(const std::string&, int) { return Outcome::Fail(kNotYet); }

Expected<std::string> LocalConnection::ReadLine(int, size_t) { return Expected<std::string>::Fail(kNotYet); }

}  // namespace raid
