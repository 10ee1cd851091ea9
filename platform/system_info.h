// The machine's identity for the system information block of a notification
// mail: the main board's maker and product, the machine's name and its IP
// addresses. Windows asks WMI; Linux reads DMI, the host name and the
// network interfaces. A value that cannot be had is empty.
#pragma once

#include <string>

#include "platform/clock.h"

namespace raid {

struct SystemProperties {
  std::string boardManufacturer;
  std::string boardProduct;
  std::string systemName;
  std::string ipAddresses;  // joined by ", "
};

SystemProperties QuerySystemProperties();

// Minutes east of UTC of the machine's time zone at this local time (for a
// mail's Date header).
int UtcOffsetMinutes(const LocalDateTime& t);

// The name of the character set of texts typed and stored on this system
// (the ANSI code page on Windows, UTF-8 elsewhere), for a mail's Content-Type.
std::string SystemCharset();

#ifdef _WIN32
// The text of one WMI property: the first instance of the class with a
// non-empty value; arrays are joined by ", ". Empty when nothing has it or a
// step fails. Needs COM initialised on the calling thread.
std::string QuerySystemProperty(const std::string& className, const std::string& propertyName);
#endif

}  // namespace raid
