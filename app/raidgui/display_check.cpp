#include "app/raidgui/display_check.h"

#include <cstdlib>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#endif

namespace raid {

std::string ProcessEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

#ifdef _WIN32

std::string NoDisplayReason(const EnvLookup&) { return {}; }

#else

namespace {

// Whether something accepts a connection on this local socket; a leading
// '@' names an abstract one.
bool LocalSocketAnswers(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  if (path[0] == '@') addr.sun_path[0] = '\0';
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return ok;
}

// Whether host:port accepts a TCP connection within two seconds.
bool TcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a && !ok; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      ok = true;
    } else if (errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int err = 0;
      socklen_t errLen = sizeof err;
      ok = ::poll(&p, 1, 2000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen) == 0 && err == 0;
    }
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return ok;
}

// DISPLAY is [host]:number[.screen]. A local server listens on
// /tmp/.X11-unix/X<number> (on Linux also on the abstract socket of that
// name), a remote one on TCP port 6000 + number.
bool XServerAnswers(const std::string& display) {
  if (display.empty()) return false;
  // A socket path of its own (as some systems set it): left to Qt.
  if (display[0] == '/') return true;
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos) return false;
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + number;
    return LocalSocketAnswers("@" + path) || LocalSocketAnswers(path);
  }
  return TcpAnswers(host, 6000 + std::stoi(number));
}

bool WaylandAnswers(const EnvLookup& env) {
  std::string name = env("WAYLAND_DISPLAY");
  if (name.empty()) return false;
  if (name[0] != '/') {
    const std::string runtimeDir = env("XDG_RUNTIME_DIR");
    if (runtimeDir.empty()) return false;
    name = runtimeDir + "/" + name;
  }
  return LocalSocketAnswers(name);
}

}  // namespace

std::string NoDisplayReason(const EnvLookup& env) {
  // QT_QPA_PLATFORM is a list of platforms tried in turn, each perhaps with
  // options after a colon; without it Qt opens on X11 or Wayland.
  bool x11 = true, wayland = true;
  const std::string platforms = env("QT_QPA_PLATFORM");
  if (!platforms.empty()) {
    x11 = wayland = false;
    size_t from = 0;
    while (from <= platforms.size()) {
      size_t end = platforms.find(';', from);
      if (end == std::string::npos) end = platforms.size();
      const std::string entry = platforms.substr(from, end - from);
      const std::string name = entry.substr(0, entry.find(':'));
      if (name == "xcb") {
        x11 = true;
      } else if (name.rfind("wayland", 0) == 0) {
        wayland = true;
      } else if (!name.empty()) {
        return {};  // offscreen, vnc, eglfs ...: they need no display server
      }
      from = end + 1;
    }
  }
  const std::string display = env("DISPLAY");
  const std::string waylandDisplay = env("WAYLAND_DISPLAY");
  if (x11 && XServerAnswers(display)) return {};
  if (wayland && WaylandAnswers(env)) return {};
  std::vector<std::string> why;
  if (x11) why.push_back(display.empty() ? "DISPLAY is not set" : "no X server answers at DISPLAY=" + display);
  if (wayland && !waylandDisplay.empty())
    why.push_back("no Wayland compositor answers at WAYLAND_DISPLAY=" + waylandDisplay);
  if (!x11 && !wayland) why.push_back("QT_QPA_PLATFORM=" + platforms + " names no platform");
  std::string reasons;
  for (const auto& w : why) reasons += (reasons.empty() ? "" : ", and ") + w;
  return "no display was found (" + reasons +
         "); to watch the enclosures without a window, run the headless monitor raidmon with the same options";
}

#endif

}  // namespace raid
