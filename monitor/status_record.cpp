#include "monitor/status_record.h"

namespace raid {

std::string AtaText(const Sector& s, size_t offset, size_t width) {
  std::string out;
  if (offset + width > s.size()) return out;
  out.reserve(width);
  for (size_t i = 0; i < width; ++i) {
    const auto c = static_cast<unsigned char>(s[offset + (i ^ 1)]);
    if (c == 0) break;
    out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  }
  return out;
}

std::string ModelText(const Sector& s, size_t offset) {
  std::string t = AtaText(s, offset, 40);
  while (t.size() > 6 && t.back() == ' ') t.pop_back();
  return t;
}

uint64_t Sectors40(const Sector& s, size_t offset) { return LoadLE(s, offset, 5); }

std::string ModeName(uint8_t code) {
  switch (code) {
    case 0: return "Striping(RAID0)";
    case 1: return "Mirroring(RAID1)";
    case 2: return "NRAID";
    case 3: return "JBOD";
    case 63: return "Bypass";
    default: return "Undefine";
  }
}

std::string ConfigCode(const Sector& s) {
  const auto c0 = s[status::kConfig], c1 = s[status::kConfig + 1], c2 = s[status::kConfig + 2];
  auto hexish = [](uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  if (c0 >= 'A' && c0 <= 'Z' && hexish(c1) && hexish(c2))
    return std::string{static_cast<char>(c0), static_cast<char>(c1), static_cast<char>(c2)};
  return "C00";
}

std::string LinkSpeedText(uint8_t code) {
  switch (code) {
    case 1: return "1.5G";
    case 2: return "3G";
    case 3: return "6G";
    default: return "";
  }
}

FirmwareInfo ReadFirmware(const Sector& ident) {
  FirmwareInfo f;
  // Kept whole: eight characters, NULs shown as blanks.
  for (size_t i = 0; i < ident::kFirmwareLen; ++i) {
    const auto c = static_cast<unsigned char>(ident[ident::kFirmware + (i ^ 1)]);
    f.text += (c < 0x20 || c == 0x7F) ? ' ' : static_cast<char>(c);
  }
  bool digits = f.text.size() == 8 && f.text[6] == '.';
  for (int i = 0; i < 6 && digits; ++i) digits = f.text[i] >= '0' && f.text[i] <= '9';
  if (digits) {
    const long n = std::stol(f.text.substr(0, 6));
    f.scanCapable = n >= 90619;
    f.fanCapable = n >= 100126;
  }
  return f;
}

}  // namespace raid
