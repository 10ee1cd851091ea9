#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <fstream>

#include "platform/system_info.h"

namespace raid {

namespace {

// The first line of a small sysfs file, trailing blanks removed.
std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string Addresses() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return {};
  std::string joined;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || (a->ifa_flags & IFF_LOOPBACK) || !(a->ifa_flags & IFF_UP)) continue;
    char text[INET6_ADDRSTRLEN] = {};
    const int family = a->ifa_addr->sa_family;
    if (family == AF_INET) {
      ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
    } else if (family == AF_INET6) {
      ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr, text, sizeof text);
    } else {
      continue;
    }
    if (!text[0]) continue;
    if (!joined.empty()) joined += ", ";
    joined += text;
  }
  ::freeifaddrs(list);
  return joined;
}

}  // namespace

SystemProperties QuerySystemProperties() {
  SystemProperties p;
  p.boardManufacturer = FirstLine("/sys/class/dmi/id/board_vendor");
  p.boardProduct = FirstLine("/sys/class/dmi/id/board_name");
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) p.systemName = host;
  p.ipAddresses = Addresses();
  return p;
}

}  // namespace raid

#include <ctime>

namespace raid {

int UtcOffsetMinutes(const LocalDateTime& t) {
  std::tm tm = ToTm(t);
  const std::time_t when = std::mktime(&tm);
  if (when == static_cast<std::time_t>(-1)) return 0;
  std::tm local{};
  if (!::localtime_r(&when, &local)) return 0;
  return static_cast<int>(local.tm_gmtoff / 60);
}

std::string SystemCharset() { return "UTF-8"; }

}  // namespace raid
