// Whether the window finds a display, decided before Qt starts: only where
// an X server or a Wayland compositor answers, or where Qt is asked for a
// platform that needs none.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "app/raidgui/display_check.h"

namespace raid {
namespace {

// A server's listening socket; a leading '@' names an abstract one.
struct Listener {
  explicit Listener(const std::string& path) : fd(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    if (path[0] == '@') addr.sun_path[0] = '\0';
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
    ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(fd, 1) == 0;
  }
  ~Listener() { ::close(fd); }
  int fd;
  bool ok = false;
};

TEST(Display, FoundOnlyWhereAServerAnswersOrNoneIsNeeded) {
  std::map<std::string, std::string> env;
  const EnvLookup look = [&env](const char* name) { return env.count(name) ? env[name] : std::string(); };
  const auto missing = [&look](const std::string& why) {
    const std::string said = NoDisplayReason(look);
    return said.rfind("no display was found (" + why + ")", 0) == 0 && said.find("raidmon") != std::string::npos &&
           said.find('\n') == std::string::npos;
  };
  EXPECT_TRUE(missing("DISPLAY is not set")) << NoDisplayReason(look);

  // An X server on the abstract socket of a display number nobody uses.
  int n = 900;
  while (n < 999 && std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) ++n;
  const std::string display = ":" + std::to_string(n);
  env["DISPLAY"] = display + ".0";
  {
    Listener x("@/tmp/.X11-unix/X" + std::to_string(n));
    ASSERT_TRUE(x.ok);
    EXPECT_EQ(NoDisplayReason(look), "");
    // Asked for X11 alone, or for Wayland first and X11 after it.
    env["QT_QPA_PLATFORM"] = "wayland;xcb";
    EXPECT_EQ(NoDisplayReason(look), "");
    env.erase("QT_QPA_PLATFORM");
  }
  EXPECT_TRUE(missing("no X server answers at DISPLAY=" + display + ".0")) << NoDisplayReason(look);
  // A platform that needs no display server is Qt's own business.
  env["QT_QPA_PLATFORM"] = "offscreen";
  EXPECT_EQ(NoDisplayReason(look), "");
  env["QT_QPA_PLATFORM"] = "xcb";
  EXPECT_TRUE(missing("no X server answers at DISPLAY=" + display + ".0"));
  env.erase("QT_QPA_PLATFORM");

  // A Wayland compositor's socket in the runtime folder.
  const auto runtime = std::filesystem::temp_directory_path() / ("raidgui-display-" + std::to_string(::getpid()));
  std::filesystem::create_directories(runtime);
  env["XDG_RUNTIME_DIR"] = runtime.string();
  env["WAYLAND_DISPLAY"] = "wayland-test";
  {
    Listener compositor((runtime / "wayland-test").string());
    ASSERT_TRUE(compositor.ok);
    EXPECT_EQ(NoDisplayReason(look), "");
    env["QT_QPA_PLATFORM"] = "xcb";  // X11 asked for: the compositor does not count
    EXPECT_FALSE(NoDisplayReason(look).empty());
    env.erase("QT_QPA_PLATFORM");
  }
  std::filesystem::remove_all(runtime);
  EXPECT_TRUE(missing("no X server answers at DISPLAY=" + display +
                      ".0, and no Wayland compositor answers at WAYLAND_DISPLAY=wayland-test"))
      << NoDisplayReason(look);
}

}  // namespace
}  // namespace raid
#endif
