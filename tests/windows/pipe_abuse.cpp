// Misbehaving clients of the monitor service's named pipe, for the checks
// under wine: a line that is no request, a line far over the length limit,
// and a client that vanishes in the middle of a line. Ends with 0 when the
// service answered the first, closed the second and is still there.
// Usage: pipe_abuse \\.\pipe\NAME
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/local_endpoint.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pipe_abuse PIPE\n");
    return 2;
  }
  const std::string address = argv[1];
  int failures = 0;
  auto fail = [&](const std::string& what) {
    std::printf("pipe_abuse: %s\n", what.c_str());
    ++failures;
  };
  {
    raid::LocalConnection c;
    raid::Outcome sent = c.Connect(address);
    if (sent) sent = c.SendLine("no request at all", 5000);
    if (!sent) {
      fail("garbage: " + sent.error());
    } else if (const raid::Expected<std::string> line = c.ReadLine(5000, 4096); !line) {
      fail("garbage: " + line.error());
    } else if (line->find("\"ok\":false") == std::string::npos) {
      fail("garbage was answered with " + *line);
    }
  }
  {
    raid::LocalConnection c;
    if (const raid::Outcome connected = c.Connect(address); !connected) {
      fail("long line: " + connected.error());
    } else {
      // The service closes the client once the line passes its limit, so the
      // write may fail halfway; either way nothing comes back.
      (void)c.SendLine(std::string(3000000, 'x'), 5000);
      const raid::Expected<std::string> line = c.ReadLine(5000, 4096);
      if (line || line.error() != "the service closed the connection")
        fail("a line over the limit was not closed: " + (line ? *line : line.error()));
    }
  }
  const HANDLE h = CreateFileA(address.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    fail("half a line: cannot connect");
  } else {
    static const char kHalf[] = "{\"op\": \"hel";
    DWORD n = 0;
    WriteFile(h, kHalf, sizeof kHalf - 1, &n, nullptr);
    CloseHandle(h);
  }
  return failures == 0 ? 0 : 1;
}
