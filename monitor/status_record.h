// Texts derived from the identification sector and the controller status
// record, shared by the log, the report, the Status page and the mail.
#pragma once

#include <cstdint>
#include <string>

#include "platform/bytes.h"
#include "device/record_layout.h"

namespace raid {

// A device's text as it may be shown, printed and logged: printable ASCII
// and well-formed UTF-8 stay; every other byte (C0 and C1 controls, DEL, a
// broken or overlong sequence, a line separator or a bidirectional override)
// becomes `replacement`, byte for byte, so the length in bytes is kept and a
// log line stays one line that no terminal takes for a command.
std::string ShowableText(const std::string& raw, char replacement);
// ATA string order: byte i goes to position i XOR 1. The text ends at the
// first NUL (as the window shows it); what ShowableText refuses, which a
// damaged record may hold, becomes '?'.
std::string AtaText(const Sector& s, size_t offset, size_t width);
// Model text: trailing blanks removed, but never below six characters.
std::string ModelText(const Sector& s, size_t offset);
std::string ModelTrimmed(std::string text);
// Whether the raw serial field starts with a NUL byte (nothing recorded).
inline bool SerialEmpty(const Sector& s, size_t offset) { return s[offset + 1] == 0; }

uint64_t Sectors40(const Sector& s, size_t offset);  // 5 bytes, little-endian
inline uint64_t Gigabytes(uint64_t sectors) { return sectors >> 21; }

// "Striping(RAID0)" ... "Bypass", any other code "Undefine".
std::string ModeName(uint8_t code);
// "" for 0 and codes above 3, "1.5G", "3G", "6G".
std::string LinkSpeedText(uint8_t code);

// The firmware revision of an identification sector (8 characters, kept
// whole) and the capability flags its YYMMDD date code gives.
struct FirmwareInfo {
  std::string text;
  bool scanCapable = false;
  bool fanCapable = false;
};
FirmwareInfo ReadFirmware(const Sector& ident);

}  // namespace raid
