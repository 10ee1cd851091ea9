// A console check of the Windows backend: lists the logical drives and the
// physical drives that open. Built by the cross build to prove the backend
// links into a program.
#include <cstdio>

#include "platform/windows/windows_device_io.h"

int main() {
  raid::WindowsDeviceIo io;
  const uint32_t mask = io.LogicalDriveMask();
  for (int i = 0; i < 26; ++i)
    if (mask & (1u << i)) std::printf("%c: type %u\n", 'A' + i, io.DriveTypeOf(static_cast<char>('A' + i)));
  for (uint8_t d = 0; d < 10; ++d) {
    const auto h = io.Open(d);
    if (h == raid::kInvalidHandle) continue;
    std::printf("PhysicalDrive%u opens\n", d);
    io.Close(h);
  }
  return 0;
}
