#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/local_endpoint.h"

namespace raid {

namespace {

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

Outcome FillAddress(const std::string& path, sockaddr_un& a) {
  a = sockaddr_un{};
  a.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof a.sun_path)
    return Outcome::Fail("the socket path must be 1 to " + std::to_string(sizeof a.sun_path - 1) + " bytes long");
  std::memcpy(a.sun_path, path.data(), path.size());
  return Outcome::Ok();
}

class UnixEndpoint final : public LocalEndpoint {
 public:
  ~UnixEndpoint() override { Stop(); }

  Outcome Start(const std::string& address, Handlers handlers, Limits limits) override {
    Stop();
    sockaddr_un a;
    if (Outcome filled = FillAddress(address, a); !filled) return filled;
    struct stat st {};
    if (::lstat(address.c_str(), &st) == 0) {
      if (!S_ISSOCK(st.st_mode)) return Outcome::Fail(address + " exists and is not a socket");
      // A socket nobody answers on is what a stopped service left behind.
      const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const bool alive = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      if (probe >= 0) ::close(probe);
      if (alive) return Outcome::Fail("another service already answers at " + address);
      ::unlink(address.c_str());
    }
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || ::listen(listen_, 16) < 0) {
      const std::string why = Why(address);
      if (listen_ >= 0) ::close(listen_);
      listen_ = -1;
      return Outcome::Fail(why);
    }
    // Every local user may connect; what each may ask is the service's
    // decision, from the peer's credentials.
    ::chmod(address.c_str(), 0666);
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) < 0) {
      const std::string why = Why("pipe");
      ::close(listen_);
      listen_ = -1;
      return Outcome::Fail(why);
    }
    path_ = address;
    handlers_ = std::move(handlers);
    limits_ = limits;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return Outcome::Ok();
  }

  void Stop() override {
    if (!thread_.joinable()) return;
    stop_ = true;
    Wake();
    thread_.join();
    // The answers queued last (the "stopping" ones above all) still go to
    // each client whose socket takes them now; none is waited for.
    TakeOutbox();
    for (auto& [id, c] : clients_) {
      if (c.out.empty()) continue;
      [[maybe_unused]] const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    for (auto& [id, c] : clients_) ::close(c.fd);
    clients_.clear();
    ::close(listen_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    listen_ = -1;
    ::unlink(path_.c_str());
  }

  void Send(ClientId client, const std::string& line) override {
    {
      std::lock_guard lock(mu_);
      outbox_.push_back({client, line + "\n", false});
    }
    Wake();
  }

  void CloseAfterSend(ClientId client) override {
    {
      std::lock_guard lock(mu_);
      outbox_.push_back({client, {}, true});
    }
    Wake();
  }

 private:
  struct Client {
    int fd = -1;
    std::string in;
    std::string out;
    bool closeWhenSent = false;
  };
  struct Outgoing {
    ClientId client;
    std::string text;
    bool close;
  };

  void Wake() {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &b, 1);
  }

  void Drop(ClientId id) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    ::close(it->second.fd);
    clients_.erase(it);
    if (handlers_.closed) handlers_.closed(id);
  }

  void TakeOutbox() {
    std::vector<Outgoing> out;
    {
      std::lock_guard lock(mu_);
      out.swap(outbox_);
    }
    for (auto& o : out) {
      auto it = clients_.find(o.client);
      if (it == clients_.end()) continue;
      if (o.close) {
        it->second.closeWhenSent = true;
        continue;
      }
      it->second.out += o.text;
      if (it->second.out.size() > limits_.maxQueuedBytes) Drop(o.client);
    }
  }

  void Accept() {
    const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    PeerIdentity peer;
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
      peer = {true, cred.uid, cred.gid, cred.pid, {}};
      // The peer's supplementary groups as they were when it connected.
      std::vector<gid_t> groups(64);
      for (int attempt = 0; attempt < 3; ++attempt) {
        socklen_t bytes = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &bytes) == 0) {
          groups.resize(bytes / sizeof(gid_t));
          peer.groups.assign(groups.begin(), groups.end());
          break;
        }
        if (errno != ERANGE) break;
        groups.resize(bytes / sizeof(gid_t) + 1);
      }
    }
    if (clients_.size() >= limits_.maxClients) {
      static const char kFull[] = "{\"ok\":false,\"error\":\"too many clients\"}\n";
      [[maybe_unused]] const ssize_t n = ::send(fd, kFull, sizeof kFull - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      ::close(fd);
      return;
    }
    const ClientId id = ++lastId_;
    clients_[id].fd = fd;
    if (handlers_.connected && !handlers_.connected(id, peer)) clients_[id].closeWhenSent = true;
  }

  // Reads what a client sent; false when it is gone or broke a limit.
  bool Read(ClientId id, Client& c) {
    char buf[4096];
    for (;;) {
      const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n == 0) return false;
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      c.in.append(buf, static_cast<size_t>(n));
      size_t start = 0;
      for (size_t nl; (nl = c.in.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = c.in.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (handlers_.line) handlers_.line(id, line);
      }
      c.in.erase(0, start);
      if (c.in.size() > limits_.maxLineBytes) return false;
    }
  }

  bool Write(Client& c) {
    while (!c.out.empty()) {
      const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      c.out.erase(0, static_cast<size_t>(n));
    }
    return true;
  }

  void Run() {
    while (!stop_) {
      TakeOutbox();
      std::vector<pollfd> fds{{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      std::vector<ClientId> ids;
      for (auto& [id, c] : clients_) {
        if (c.closeWhenSent && c.out.empty()) continue;
        fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
        ids.push_back(id);
      }
      for (auto it = clients_.begin(); it != clients_.end();) {
        auto next = std::next(it);
        if (it->second.closeWhenSent && it->second.out.empty()) Drop(it->first);
        it = next;
      }
      if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) break;
      if (fds[1].revents & POLLIN) {
        char b[64];
        while (::read(wake_[0], b, sizeof b) > 0) {
        }
      }
      for (size_t i = 2; i < fds.size(); ++i) {
        auto it = clients_.find(ids[i - 2]);
        if (it == clients_.end()) continue;
        bool ok = true;
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) ok = Read(it->first, it->second);
        if (ok && (fds[i].revents & POLLOUT)) ok = Write(it->second);
        if (!ok) Drop(ids[i - 2]);
      }
      if (fds[0].revents & POLLIN) Accept();
    }
  }

  int listen_ = -1;
  int wake_[2] = {-1, -1};
  std::string path_;
  Handlers handlers_;
  Limits limits_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::vector<Outgoing> outbox_;  // guarded by mu_
  std::map<ClientId, Client> clients_;
  ClientId lastId_ = 0;
};

bool WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    return r > 0;
  }
}

}  // namespace

std::unique_ptr<LocalEndpoint> MakeLocalEndpoint() { return std::make_unique<UnixEndpoint>(); }

std::optional<uint32_t> LocalGroupId(const std::string& name) {
  group g{};
  group* found = nullptr;
  std::vector<char> buf(16384);
  if (::getgrnam_r(name.c_str(), &g, buf.data(), buf.size(), &found) != 0 || !found) return std::nullopt;
  return static_cast<uint32_t>(found->gr_gid);
}

LocalConnection::~LocalConnection() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

Outcome LocalConnection::Connect(const std::string& address) {
  sockaddr_un a;
  if (Outcome filled = FillAddress(address, a); !filled) return filled;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
    const std::string why = Why(address);
    if (fd >= 0) ::close(fd);
    return Outcome::Fail(why);
  }
  handle_ = fd;
  return Outcome::Ok();
}

Outcome LocalConnection::SendLine(const std::string& line, int timeoutMs) {
  std::string text = line + "\n";
  const int fd = static_cast<int>(handle_);
  while (!text.empty()) {
    if (!WaitFor(fd, POLLOUT, timeoutMs)) return Outcome::Fail("the service does not take the request");
    const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return Outcome::Fail(Why("send"));
    }
    text.erase(0, static_cast<size_t>(n));
  }
  return Outcome::Ok();
}

Expected<std::string> LocalConnection::ReadLine(int timeoutMs, size_t maxBytes) {
  const int fd = static_cast<int>(handle_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (const size_t nl = buffer_.find('\n'); nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    if (buffer_.size() > maxBytes) return Expected<std::string>::Fail("the service's answer is too long");
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !WaitFor(fd, POLLIN, static_cast<int>(left)))
      return Expected<std::string>::Fail("the service did not answer in time");
    char buf[4096];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) return Expected<std::string>::Fail("the service closed the connection");
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return Expected<std::string>::Fail(Why("recv"));
    }
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace raid
