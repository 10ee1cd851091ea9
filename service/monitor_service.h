// The monitor as a service: raidmon --listen ADDRESS answers local clients
// over a versioned line protocol (docs/service-protocol.md): one JSON object
// per line each way. Version 1 serves reading: the enclosure list and the
// status (each as the JSON raidctl prints and as its text), today's day
// log, and a subscription to the new day log lines with their events.
//
// The monitor publishes what may be read after each of its steps (main
// thread); the endpoint's thread answers from that copy, so no client ever
// waits on the monitor or the monitor on a client.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/local_endpoint.h"

namespace raid {

inline constexpr int kServiceProtocolVersion = 1;

// Where the package's monitor service listens ("" where there is none yet).
#ifdef _WIN32
inline constexpr const char* kDefaultServiceAddress = "";
#else
inline constexpr const char* kDefaultServiceAddress = "/run/raidgui/raidmon.sock";
#endif

// One request line, parsed.
struct ServiceRequest {
  std::string op;      // "hello", "list", "status", "log", "subscribe"
  uint64_t id = 0;     // echoed in the answer
  int protocol = 0;    // hello: the version the client speaks
  std::string client;  // hello: the client's name (checked, not used by protocol 1)
};

// Parses one line: a JSON object with "op" (a string) and optional "id" (a
// number up to 2^53), "protocol" (a number) and "client" (a string of at
// most 64 bytes). Anything else fails with the reason.
Expected<ServiceRequest> ParseServiceRequest(std::string_view line);

// What clients may read, as the standalone programs would print it.
struct ServiceSnapshot {
  nlohmann::json list;    // {"exit": N, "text": "..."}
  nlohmann::json status;  // {"exit": N, "text": "...", "document": {...}}
};

class MonitorService {
 public:
  explicit MonitorService(std::string serverName);
  ~MonitorService();

  Outcome Start(const std::string& address);
  void Stop();

  // Main thread: the latest readable state.
  void Publish(ServiceSnapshot snapshot);
  // Main thread: a day log line as it is appended, with its event when it
  // has one ({"kind": ..., "slot": ..., "drive": ...}, or null), for the
  // subscribers.
  void LogLine(const std::string& line, const nlohmann::json& event);
  // Main thread: today's day log as it stands.
  void ResetDayLog(std::vector<std::string> lines);

  // The answer lines to one request line (for tests and fuzzing: no socket).
  std::vector<std::string> Answer(uint64_t client, std::string_view line);

 private:
  struct ClientState {
    bool greeted = false;
    bool subscribed = false;
  };
  void Broadcast(const std::string& line);

  std::string serverName_;
  std::unique_ptr<LocalEndpoint> endpoint_;
  std::mutex mu_;
  ServiceSnapshot snapshot_;                 // guarded by mu_
  std::vector<std::string> dayLog_;          // guarded by mu_
  std::map<uint64_t, ClientState> clients_;  // guarded by mu_
};

}  // namespace raid

namespace raid {

// A client's one question to the service at `address`: connects, says
// hello with the protocol version, asks `op` and gives back the result, or
// the reason there is none (no service, another protocol, a refusal).
Expected<nlohmann::json> AskService(const std::string& address, const std::string& client, const std::string& op,
                                    int timeoutMs = 10000);

}  // namespace raid
