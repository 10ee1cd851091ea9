// A local endpoint many clients connect to, line by line: on Linux a Unix
// stream socket, on Windows a named pipe. The platform side only
// moves lines: one thread waits on every connection at once, reads each
// client's lines (bounded in length), hands them to the owner's handler and
// writes what the owner queues, so a slow, stuck or vanished client never
// holds up another or the owner. What a line means is the owner's business.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/outcome.h"

namespace raid {

// What uid and gid hold where there are no POSIX ids (Windows): an id no
// user or group has.
inline constexpr uint32_t kNoPosixId = 0xFFFFFFFFu;

// Who is on the other end, as the system vouches for it.
struct PeerIdentity {
  bool known = false;
  uint32_t uid = 0;
  uint32_t gid = 0;
  int64_t pid = 0;
  std::vector<uint32_t> groups;  // supplementary groups, as at connect time
  // Windows: the client's token is an (elevated) administrator's or the
  // system's. Always false on Linux, where root is uid 0.
  bool admin = false;

  bool InGroup(uint32_t id) const { return gid == id || std::find(groups.begin(), groups.end(), id) != groups.end(); }
};

// The id of a local group by name; none where there is no such group (or
// no groups, as on Windows).
std::optional<uint32_t> LocalGroupId(const std::string& name);

class LocalEndpoint {
 public:
  using ClientId = uint64_t;
  struct Handlers {
    // A client connected; false turns it away.
    std::function<bool(ClientId, const PeerIdentity&)> connected;
    // One line from a client, without its newline; runs on the endpoint's
    // thread and must not block.
    std::function<void(ClientId, const std::string& line)> line;
    std::function<void(ClientId)> closed;
  };
  struct Limits {
    size_t maxClients = 32;
    size_t maxLineBytes = 64 * 1024;          // a longer line closes the client
    size_t maxQueuedBytes = 4 * 1024 * 1024;  // a client that reads no more is closed
  };

  virtual ~LocalEndpoint() = default;
  // Starts listening at `address`: on Linux a socket path (a stale socket
  // there is replaced, anything else is refused), on Windows \\.\pipe\NAME
  // (a name some process holds is refused).
  virtual Outcome Start(const std::string& address, Handlers handlers, Limits limits) = 0;
  // Stops the thread and closes every client and the socket or pipe.
  virtual void Stop() = 0;
  // Queues a line (a newline is added) for a client; any thread.
  virtual void Send(ClientId client, const std::string& line) = 0;
  // Closes a client once what is queued for it has been written.
  virtual void CloseAfterSend(ClientId client) = 0;
};

std::unique_ptr<LocalEndpoint> MakeLocalEndpoint();

// A client's connection: connect, then lines both ways with deadlines.
class LocalConnection {
 public:
  ~LocalConnection();
  Outcome Connect(const std::string& address);
  Outcome SendLine(const std::string& line, int timeoutMs);
  // The next line, without its newline; fails at a time-out, an error or
  // the end (the error says which).
  Expected<std::string> ReadLine(int timeoutMs, size_t maxBytes);

 private:
  intptr_t handle_ = -1;
  std::string buffer_;
};

}  // namespace raid
