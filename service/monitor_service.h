// The monitor as a service: raidmon --listen ADDRESS answers local clients
// over a versioned line protocol (docs/service-protocol.md): one JSON object
// per line each way. Version 1 serves reading: the enclosure list and the
// status (each as the JSON raidctl prints and as its text), today's day
// log, and a subscription to the new day log lines with their events.
// Version 2 adds the setup commands (schedule, scan, initialize), allowed to
// root and the members of the group raidgui (on Windows to administrators
// and the system); the monitor runs them and answers when they have ended.
//
// The monitor publishes what may be read after each of its steps (main
// thread); the endpoint's thread answers from that copy, so no client ever
// waits on the monitor or the monitor on a client.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/local_endpoint.h"
#include "platform/user_interface.h"

namespace raid {

inline constexpr int kServiceProtocolVersion = 2;
// The oldest version still served.
inline constexpr int kOldestServiceProtocol = 1;
// The group whose members may change the enclosures through the service.
inline constexpr const char* kServiceGroup = "raidgui";
// The longest request line: an upgrade carries a whole image file of up to
// 1 MiB in base64.
inline constexpr size_t kMaxRequestBytes = 2 * 1024 * 1024;

// Where the package's monitor service listens.
#ifdef _WIN32
inline constexpr const char* kDefaultServiceAddress = "\\\\.\\pipe\\raidgui-raidmon";
#else
inline constexpr const char* kDefaultServiceAddress = "/run/raidgui/raidmon.sock";
#endif

// One request line, parsed.
struct ServiceRequest {
  std::string op;      // "hello", "list", "status", "log", "subscribe", or a change
  uint64_t id = 0;     // echoed in the answer
  int protocol = 0;    // hello: the version the client speaks
  std::string client;  // hello: the client's name (checked, not used by the protocol)
  // A change's arguments, checked: "slot" 0-7; schedule: "on", "period"
  // (0 keeps the enclosure's, 10, 30, 60, 180); scan: "drive" 1 or 2, "stop".
  nlohmann::json args = nlohmann::json::object();
};

// A box of a change, as its answer carries it to a window: {"text",
// "caption", "icon": "none", "information", "warning", "error" or
// "question"}; read back with an unknown icon as none.
nlohmann::json BoxJson(const MessageBoxRequest& box);
MessageBoxRequest BoxFromJson(const nlohmann::json& box);

// A field of a message from the other side, or `fallback` when the message
// is no object or the field is missing or of another type (a message is
// untrusted: reading it never throws).
std::string JsonText(const nlohmann::json& message, const char* key, const std::string& fallback = {});
bool JsonFlag(const nlohmann::json& message, const char* key, bool fallback = false);
int64_t JsonNumber(const nlohmann::json& message, const char* key, int64_t fallback = 0);
nlohmann::json JsonField(const nlohmann::json& message, const char* key);

// Whether op is a request that changes an enclosure.
bool IsServiceChange(const std::string& op);

// Parses one line: a JSON object with "op" (a string) and optional "id" (a
// number up to 2^53), "protocol" (a number) and "client" (a string of at
// most 64 bytes); a change's own fields as its op takes them. Anything else
// fails with the reason.
Expected<ServiceRequest> ParseServiceRequest(std::string_view line);

// What clients may read, as the standalone programs would print it.
struct ServiceSnapshot {
  nlohmann::json list;    // {"exit": N, "text": "..."}
  nlohmann::json status;  // {"exit": N, "text": "...", "document": {...}}
  // The enclosures' identification sectors and accepted records, for a
  // window that shows them ({"enclosures": [...]}).
  nlohmann::json mirror = {{"enclosures", nlohmann::json::array()}};
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
  // Main thread: today's day log as it stands. One that does not go on
  // from the last (a new day) is sent whole to the subscribers.
  void ResetDayLog(std::vector<std::string> lines);

  // Before Start: who runs the changes. Called on the endpoint's thread
  // (not to block) with a change that passed the rights check; its answer
  // goes out through Reply.
  using ChangeHandler = std::function<void(uint64_t client, const ServiceRequest& request)>;
  void SetChangeHandler(ChangeHandler handler) { changeHandler_ = std::move(handler); }
  // Any thread: a change's result.
  void Reply(uint64_t client, uint64_t id, const nlohmann::json& result);
  // Any thread: how a running change goes ({"text", "caption", "percent"}).
  void Progress(uint64_t client, uint64_t id, const nlohmann::json& progress);
  // Called on the endpoint's thread when a client has gone.
  std::function<void(uint64_t client)> ClientGone;

  // The answer lines to one request line (for tests and fuzzing: no socket;
  // a client first seen here is not known, so it may read but not change).
  std::vector<std::string> Answer(uint64_t client, std::string_view line);

 private:
  struct ClientState {
    bool greeted = false;
    bool subscribed = false;
    int protocol = 0;
    PeerIdentity peer;
  };
  // Why a client may not change anything; "" when it may.
  static std::string ChangeRefusal(const PeerIdentity& peer);
  // To the subscribers that said hello with at least minProtocol.
  void Broadcast(const std::string& line, int minProtocol = 1);

  std::string serverName_;
  std::unique_ptr<LocalEndpoint> endpoint_;
  std::mutex mu_;
  ServiceSnapshot snapshot_;                 // guarded by mu_
  std::vector<std::string> dayLog_;          // guarded by mu_
  std::map<uint64_t, ClientState> clients_;  // guarded by mu_
  ChangeHandler changeHandler_;
};

}  // namespace raid

namespace raid {

// A client's one question to the service at `address`: connects, says
// hello with the protocol version, asks `op` and gives back the result, or
// the reason there is none (no service, another protocol, a refusal).
Expected<nlohmann::json> AskService(const std::string& address, const std::string& client, const std::string& op,
                                    int timeoutMs = 10000);
// The same with a whole request ({"op": ..., arguments}): a change, whose
// answer comes when it has ended.
// A change that reports how it goes: hello, the request, then progress
// messages ({"id": N, "progress": {...}}) until its answer.
class ServiceSession {
 public:
  Outcome Open(const std::string& address, const std::string& client, int timeoutMs);
  Outcome Send(const nlohmann::json& request, int timeoutMs);
  // The next message, parsed: a progress message or an answer
  // ({"id", "ok", "result" or "error"}). Fails at the time-out ("the
  // service did not answer in time"), at the end, or for a line that is no
  // protocol message.
  Expected<nlohmann::json> Next(int timeoutMs);

 private:
  LocalConnection c_;
};

Expected<nlohmann::json> AskServiceRequest(const std::string& address, const std::string& client,
                                           nlohmann::json request, int timeoutMs);

}  // namespace raid
