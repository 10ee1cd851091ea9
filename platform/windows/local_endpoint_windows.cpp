// The service endpoint on Windows: a local named pipe (\\.\pipe\NAME) in
// byte mode, lines split on '\n'. One thread serves every client with
// overlapped I/O: it waits on one event per pipe instance, one for the
// instance that listens for the next client and one that Send wakes it
// with. A fresh instance always listens; a client that connects there
// becomes one of the served instances and another is made to listen.
#include <windows.h>
// After windows.h:
#include <sddl.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/local_endpoint.h"

namespace raid {

namespace {

constexpr char kPipePrefix[] = "\\\\.\\pipe\\";
constexpr size_t kMaxPipeName = 256;  // the whole name, as the system takes it
constexpr DWORD kPipeBuffer = 64 * 1024;
constexpr size_t kReadChunk = 4096;
// WaitForMultipleObjects takes 64 handles: the wake event, the listening
// instance and one per client.
constexpr size_t kMaxServedClients = MAXIMUM_WAIT_OBJECTS - 2;

std::string SystemText(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s = n && text ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == ' ' || s.back() == '.' || s.back() == '\r' || s.back() == '\n')) s.pop_back();
  return s;
}

std::string Why(const std::string& what, DWORD code = GetLastError()) { return what + ": " + SystemText(code); }

// Only a pipe on this machine: \\.\pipe\ and a name without backslashes.
bool CheckAddress(const std::string& address, std::string& error) {
  const size_t prefix = sizeof kPipePrefix - 1;
  bool ok =
      address.size() > prefix && address.size() <= kMaxPipeName && address.find('\\', prefix) == std::string::npos;
  for (size_t i = 0; ok && i < prefix; ++i) ok = std::tolower(static_cast<unsigned char>(address[i])) == kPipePrefix[i];
  if (!ok)
    error =
        "the service address must be a local named pipe, \\\\.\\pipe\\NAME (NAME without backslashes, the whole "
        "at most " +
        std::to_string(kMaxPipeName) + " characters), not " + address.substr(0, kMaxPipeName);
  return ok;
}

// Who is in the pipe's access list: the system, the administrators and the
// user running the service with every right; authenticated users may read
// and write (connect), but not make instances of their own, so nobody else
// can answer at the service's name while it runs. What each client may ask
// is the service's decision, from the client's token.
bool MakeSecurity(SECURITY_ATTRIBUTES& sa, std::string& error) {
  std::string self;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    alignas(TOKEN_USER) unsigned char buf[256];
    DWORD n = 0;
    char* sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buf, sizeof buf, &n) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buf)->User.Sid, &sid)) {
      self = std::string("(A;;GA;;;") + sid + ")";
      LocalFree(sid);
    }
    CloseHandle(token);
  }
  // 0x12018b: read and write data, read attributes and extended attributes,
  // write attributes, read control, synchronize; not FILE_CREATE_PIPE_INSTANCE.
  const std::string sddl = "D:P(A;;GA;;;SY)(A;;GA;;;BA)" + self + "(A;;0x12018b;;;AU)";
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
    error = Why("the pipe's security descriptor");
    return false;
  }
  sa = SECURITY_ATTRIBUTES{sizeof sa, sd, FALSE};
  return true;
}

// Whether the token is an administrator's (its Administrators membership
// enabled, that is elevated) or the system's.
bool TokenIsAdmin(HANDLE token) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  BOOL member = FALSE;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &admins)) {
    if (!CheckTokenMembership(token, admins, &member)) member = FALSE;
    FreeSid(admins);
  }
  if (member) return true;
  alignas(TOKEN_USER) unsigned char buf[256];
  DWORD n = 0;
  return GetTokenInformation(token, TokenUser, buf, sizeof buf, &n) &&
         IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(buf)->User.Sid, WinLocalSystemSid);
}

// The client of a connected instance, from its token (the client lets the
// service identify it, not act as it).
PeerIdentity IdentifyClient(HANDLE pipe) {
  PeerIdentity peer;
  peer.uid = peer.gid = kNoPosixId;
  ULONG pid = 0;
  if (GetNamedPipeClientProcessId(pipe, &pid)) peer.pid = pid;
  if (!ImpersonateNamedPipeClient(pipe)) return peer;
  HANDLE token = nullptr;
  const bool opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
  if (opened) {
    peer.admin = TokenIsAdmin(token);
    CloseHandle(token);
  }
  // The thread serves every client as the service itself again.
  if (!RevertToSelf()) std::terminate();
  peer.known = opened;
  return peer;
}

// Waits for an operation to end, cancelling it first; its buffer and
// OVERLAPPED may go afterwards.
void Finish(HANDLE h, OVERLAPPED& ov) {
  CancelIoEx(h, &ov);
  DWORD n = 0;
  GetOverlappedResult(h, &ov, &n, TRUE);
}

class PipeEndpoint final : public LocalEndpoint {
 public:
  ~PipeEndpoint() override { Stop(); }

  Outcome Start(const std::string& address, Handlers handlers, Limits limits) override {
    std::string error;
    if (StartPipe(address, std::move(handlers), limits, error)) return Outcome::Ok();
    return Outcome::Fail(error);
  }

  bool StartPipe(const std::string& address, Handlers handlers, Limits limits, std::string& error) {
    Stop();
    if (!CheckAddress(address, error)) return false;
    if (!MakeSecurity(security_, error)) return false;
    address_ = address;
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    listenOv_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!wake_ || !listenOv_.hEvent) {
      error = Why("CreateEvent");
      Release();
      return false;
    }
    // A stopped service leaves nothing behind (the system removes a pipe
    // with its last handle), so a name that answers, or is there but busy
    // or closed to us, is another service's.
    if (const HANDLE probe = CreateFileA(address.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
                                         SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        probe != INVALID_HANDLE_VALUE || GetLastError() == ERROR_PIPE_BUSY || GetLastError() == ERROR_ACCESS_DENIED) {
      if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
      error = "another service already answers at " + address;
      Release();
      return false;
    }
    // The first instance claims the name, so that of two services starting
    // at once one is refused rather than both sharing it.
    if (!Listen(true)) {
      const DWORD code = GetLastError();
      error = code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY ? "another service already answers at " + address
                                                                     : Why(address, code);
      Release();
      return false;
    }
    handlers_ = std::move(handlers);
    limits_ = limits;
    limits_.maxClients = std::min(limits_.maxClients, kMaxServedClients);
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() override {
    if (thread_.joinable()) {
      stop_ = true;
      SetEvent(wake_);
      thread_.join();
      for (auto& [id, c] : clients_) Close(*c);
      clients_.clear();
    }
    Release();
  }

  void Send(ClientId client, const std::string& line) override {
    {
      std::lock_guard lock(mu_);
      outbox_.push_back({client, line + "\n", false});
    }
    SetEvent(wake_);
  }

  void CloseAfterSend(ClientId client) override {
    {
      std::lock_guard lock(mu_);
      outbox_.push_back({client, {}, true});
    }
    SetEvent(wake_);
  }

 private:
  // One connected instance. Reads and writes share its event (manual
  // reset); after a wake both operations are looked at.
  struct Client {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED readOv{};
    OVERLAPPED writeOv{};
    bool reading = false;
    bool writing = false;
    char readBuf[kReadChunk];
    std::string in;
    std::string writeBuf;  // what the pending write sends
    std::string out;       // queued behind it
    bool closeWhenSent = false;
  };
  struct Outgoing {
    ClientId client;
    std::string text;
    bool close;
  };

  // A new instance that waits for a client; false with GetLastError.
  bool Listen(bool first) {
    listen_ = CreateNamedPipeA(address_.c_str(),
                               PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                               PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, &security_);
    if (listen_ == INVALID_HANDLE_VALUE) return false;
    ResetEvent(listenOv_.hEvent);
    listenPending_ = false;
    if (ConnectNamedPipe(listen_, &listenOv_)) {
      SetEvent(listenOv_.hEvent);
      return true;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_IO_PENDING) {
      listenPending_ = true;
    } else if (code == ERROR_PIPE_CONNECTED) {
      SetEvent(listenOv_.hEvent);  // a client came between the two calls
    } else {
      CloseHandle(listen_);
      listen_ = INVALID_HANDLE_VALUE;
      SetLastError(code);
      return false;
    }
    return true;
  }

  void Release() {
    if (listen_ != INVALID_HANDLE_VALUE) {
      if (listenPending_) Finish(listen_, listenOv_);
      CloseHandle(listen_);
    }
    listen_ = INVALID_HANDLE_VALUE;
    listenPending_ = false;
    if (listenOv_.hEvent) CloseHandle(listenOv_.hEvent);
    listenOv_ = OVERLAPPED{};
    if (wake_) CloseHandle(wake_);
    wake_ = nullptr;
    if (security_.lpSecurityDescriptor) LocalFree(security_.lpSecurityDescriptor);
    security_ = SECURITY_ATTRIBUTES{};
  }

  // Closes an instance once nothing is pending on it. What was written
  // stays readable for the client: the handle is closed, not disconnected.
  static void Close(Client& c) {
    if (c.reading) Finish(c.pipe, c.readOv);
    if (c.writing) Finish(c.pipe, c.writeOv);
    CloseHandle(c.pipe);
    CloseHandle(c.readOv.hEvent);
  }

  void Drop(ClientId id) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    Close(*it->second);
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
      Client& c = *it->second;
      if (o.close) {
        c.closeWhenSent = true;
        continue;
      }
      c.out += o.text;
      if (c.out.size() + c.writeBuf.size() > limits_.maxQueuedBytes) Drop(o.client);
    }
  }

  // The listening instance has a client (or lost it again).
  void Accept() {
    HANDLE pipe = listen_;
    DWORD n = 0;
    const bool connected = !listenPending_ || GetOverlappedResult(pipe, &listenOv_, &n, FALSE);
    listen_ = INVALID_HANDLE_VALUE;
    listenPending_ = false;
    ResetEvent(listenOv_.hEvent);
    Listen(false);  // a failure is retried from the loop
    if (!connected) {
      CloseHandle(pipe);
      return;
    }
    if (clients_.size() >= limits_.maxClients) {
      static const char kFull[] = "{\"ok\":false,\"error\":\"too many clients\"}\n";
      OVERLAPPED ov{};
      ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      if (ov.hEvent) {
        if (WriteFile(pipe, kFull, sizeof kFull - 1, nullptr, &ov) || GetLastError() == ERROR_IO_PENDING) {
          WaitForSingleObject(ov.hEvent, 200);
          Finish(pipe, ov);
        }
        CloseHandle(ov.hEvent);
      }
      CloseHandle(pipe);
      return;
    }
    const PeerIdentity peer = IdentifyClient(pipe);
    auto c = std::make_unique<Client>();
    c->pipe = pipe;
    c->readOv.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (!c->readOv.hEvent) {
      CloseHandle(pipe);
      return;
    }
    c->writeOv.hEvent = c->readOv.hEvent;
    const ClientId id = ++lastId_;
    Client& added = *(clients_[id] = std::move(c));
    if (handlers_.connected && !handlers_.connected(id, peer)) added.closeWhenSent = true;
  }

  // Takes what a read brought; false when the client broke the line limit.
  bool Consume(ClientId id, Client& c, DWORD n) {
    c.in.append(c.readBuf, n);
    size_t start = 0;
    for (size_t nl; (nl = c.in.find('\n', start)) != std::string::npos; start = nl + 1) {
      std::string line = c.in.substr(start, nl - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (handlers_.line) handlers_.line(id, line);
    }
    c.in.erase(0, start);
    return c.in.size() <= limits_.maxLineBytes;
  }

  // Moves a client's reads and writes on as far as they go without
  // waiting; false when it is gone, broke a limit or is done. A client that
  // keeps sending is left after a few rounds, its event set, so the others
  // get their turn.
  bool Pump(ClientId id, Client& c) {
    ResetEvent(c.readOv.hEvent);
    for (int round = 0; round < 16; ++round) {
      bool progress = false;
      DWORD n = 0;
      if (c.reading && HasOverlappedIoCompleted(&c.readOv)) {
        c.reading = false;
        if (!GetOverlappedResult(c.pipe, &c.readOv, &n, FALSE)) return false;  // gone (broken pipe) or failed
        if (!Consume(id, c, n)) return false;
        progress = true;
      }
      if (c.writing && HasOverlappedIoCompleted(&c.writeOv)) {
        c.writing = false;
        if (!GetOverlappedResult(c.pipe, &c.writeOv, &n, FALSE)) return false;
        c.writeBuf.erase(0, n);
        progress = true;
      }
      if (!c.reading) {
        if (!ReadFile(c.pipe, c.readBuf, sizeof c.readBuf, nullptr, &c.readOv) && GetLastError() != ERROR_IO_PENDING)
          return false;
        c.reading = true;
        progress = true;
      }
      if (!c.writing && (!c.writeBuf.empty() || !c.out.empty())) {
        if (c.writeBuf.empty()) c.writeBuf.swap(c.out);
        if (!WriteFile(c.pipe, c.writeBuf.data(), static_cast<DWORD>(std::min<size_t>(c.writeBuf.size(), 1 << 20)),
                       nullptr, &c.writeOv) &&
            GetLastError() != ERROR_IO_PENDING)
          return false;
        c.writing = true;
        progress = true;
      }
      if (c.closeWhenSent && !c.writing && c.writeBuf.empty() && c.out.empty()) return false;
      if (!progress) return true;
    }
    SetEvent(c.readOv.hEvent);
    return true;
  }

  void Run() {
    std::vector<HANDLE> events;
    std::vector<ClientId> drop;
    while (!stop_) {
      TakeOutbox();
      drop.clear();
      for (auto& [id, c] : clients_)
        if (!Pump(id, *c)) drop.push_back(id);
      for (ClientId id : drop) Drop(id);
      if (listen_ == INVALID_HANDLE_VALUE) Listen(false);
      events.assign({wake_});
      if (listen_ != INVALID_HANDLE_VALUE) events.push_back(listenOv_.hEvent);
      for (auto& [id, c] : clients_) events.push_back(c->readOv.hEvent);
      const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, 1000);
      if (r == WAIT_FAILED) Sleep(10);  // not expected; the next round rebuilds the list
      if (listen_ != INVALID_HANDLE_VALUE && WaitForSingleObject(listenOv_.hEvent, 0) == WAIT_OBJECT_0) Accept();
    }
  }

  std::string address_;
  SECURITY_ATTRIBUTES security_{};
  HANDLE wake_ = nullptr;
  HANDLE listen_ = INVALID_HANDLE_VALUE;
  OVERLAPPED listenOv_{};
  bool listenPending_ = false;
  Handlers handlers_;
  Limits limits_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::vector<Outgoing> outbox_;  // guarded by mu_
  std::map<ClientId, std::unique_ptr<Client>> clients_;
  ClientId lastId_ = 0;
};

HANDLE PipeOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// One overlapped operation on the client's pipe, given up at the deadline.
// Gives the bytes moved; false with the error (ERROR_TIMEOUT at the deadline).
bool Transfer(HANDLE pipe, bool write, void* data, DWORD size, int timeoutMs, DWORD& moved, DWORD& code) {
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!ov.hEvent) {
    code = GetLastError();
    return false;
  }
  const BOOL done = write ? WriteFile(pipe, data, size, nullptr, &ov) : ReadFile(pipe, data, size, nullptr, &ov);
  code = done ? ERROR_SUCCESS : GetLastError();
  bool ok = false;
  moved = 0;
  if (done || code == ERROR_IO_PENDING) {
    if (WaitForSingleObject(ov.hEvent, static_cast<DWORD>(std::max(timeoutMs, 0))) != WAIT_OBJECT_0)
      CancelIoEx(pipe, &ov);
    // What was moved before a cancel still counts.
    ok = GetOverlappedResult(pipe, &ov, &moved, TRUE) != FALSE;
    code = ok ? ERROR_SUCCESS : GetLastError();
    if (code == ERROR_OPERATION_ABORTED) code = ERROR_TIMEOUT;
  }
  CloseHandle(ov.hEvent);
  return ok;
}

}  // namespace

std::unique_ptr<LocalEndpoint> MakeLocalEndpoint() { return std::make_unique<PipeEndpoint>(); }

std::optional<uint32_t> LocalGroupId(const std::string&) { return std::nullopt; }

LocalConnection::~LocalConnection() {
  if (handle_ != -1) CloseHandle(PipeOf(handle_));
}

Outcome LocalConnection::Connect(const std::string& address) {
  if (std::string error; !CheckAddress(address, error)) return Outcome::Fail(error);
  // Every instance busy: the service makes another at once, so wait a little.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    // Read and write data only (the service grants no more), and the
    // service may identify this process but not act as it.
    const HANDLE h = CreateFileA(address.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(h);
      return Outcome::Ok();
    }
    const DWORD code = GetLastError();
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (code != ERROR_PIPE_BUSY || left <= 0) return Outcome::Fail(Why(address, code));
    WaitNamedPipeA(address.c_str(), static_cast<DWORD>(std::min<long long>(left, 500)));
  }
}

Outcome LocalConnection::SendLine(const std::string& line, int timeoutMs) {
  std::string text = line + "\n";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!text.empty()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    DWORD n = 0, code = 0;
    const bool ok = left > 0 && Transfer(PipeOf(handle_), true, text.data(),
                                         static_cast<DWORD>(std::min<size_t>(text.size(), 1 << 20)),
                                         static_cast<int>(left), n, code);
    text.erase(0, n);
    if (ok) continue;
    if (left <= 0 || code == ERROR_TIMEOUT) {
      if (text.empty()) break;
      return Outcome::Fail("the service does not take the request");
    }
    return Outcome::Fail(Why("send", code));
  }
  return Outcome::Ok();
}

Expected<std::string> LocalConnection::ReadLine(int timeoutMs, size_t maxBytes) {
  using Line = Expected<std::string>;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (const size_t nl = buffer_.find('\n'); nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    if (buffer_.size() > maxBytes) return Line::Fail("the service's answer is too long");
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return Line::Fail("the service did not answer in time");
    char buf[kReadChunk];
    DWORD n = 0, code = 0;
    const bool ok = Transfer(PipeOf(handle_), false, buf, sizeof buf, static_cast<int>(left), n, code);
    buffer_.append(buf, n);
    if (ok || (code == ERROR_TIMEOUT && n > 0)) continue;
    if (code == ERROR_TIMEOUT) return Line::Fail("the service did not answer in time");
    if (code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED || code == ERROR_NO_DATA)
      return Line::Fail("the service closed the connection");
    return Line::Fail(Why("recv", code));
  }
}

}  // namespace raid
