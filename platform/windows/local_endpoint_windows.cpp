// The service endpoint on Windows will be a named pipe; until then the
// programs say so instead of listening or connecting.
#include "platform/local_endpoint.h"

namespace raid {

namespace {
constexpr const char* kNotYet = "the monitor service is not available on Windows yet";

class NoEndpoint final : public LocalEndpoint {
 public:
  bool Start(const std::string&, Handlers, Limits, std::string& error) override {
    error = kNotYet;
    return false;
  }
  void Stop() override {}
  void Send(ClientId, const std::string&) override {}
  void CloseAfterSend(ClientId) override {}
};
}  // namespace

std::unique_ptr<LocalEndpoint> MakeLocalEndpoint() { return std::make_unique<NoEndpoint>(); }

std::optional<uint32_t> LocalGroupId(const std::string&) { return std::nullopt; }

LocalConnection::~LocalConnection() = default;

bool LocalConnection::Connect(const std::string&, std::string& error) {
  error = kNotYet;
  return false;
}

bool LocalConnection::SendLine(const std::string&, int, std::string& error) {
  error = kNotYet;
  return false;
}

bool LocalConnection::ReadLine(std::string&, int, size_t, std::string& error) {
  error = kNotYet;
  return false;
}

}  // namespace raid
