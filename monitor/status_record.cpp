#include "monitor/status_record.h"

namespace raid {

namespace {

// The length of the well-formed UTF-8 sequence at b[i] whose character may be
// shown (not a C1 control, a line or paragraph separator or a bidirectional
// override), or 0.
size_t ShowableSequence(const std::string& b, size_t i) {
  const auto c0 = static_cast<unsigned char>(b[i]);
  size_t len;
  uint32_t cp;
  if (c0 >= 0xC2 && c0 <= 0xDF) {
    len = 2;
    cp = c0 & 0x1Fu;
  } else if (c0 >= 0xE0 && c0 <= 0xEF) {
    len = 3;
    cp = c0 & 0x0Fu;
  } else if (c0 >= 0xF0 && c0 <= 0xF4) {
    len = 4;
    cp = c0 & 0x07u;
  } else {
    return 0;
  }
  if (i + len > b.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(b[i + k]);
    if ((c & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (c & 0x3Fu);
  }
  const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  if (cp < 0xA0) return 0;                                                       // C1 controls
  if (cp >= 0x2028 && cp <= 0x202E) return 0;                                    // separators, embeddings, overrides
  if ((cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F) return 0;  // isolates, marks
  return len;
}

}  // namespace

std::string ShowableText(const std::string& raw, char replacement) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    const auto c = static_cast<unsigned char>(raw[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const size_t n = c >= 0x80 ? ShowableSequence(raw, i) : 0;
    if (n > 0) {
      out.append(raw, i, n);
      i += n;
    } else {
      out += replacement;
      ++i;
    }
  }
  return out;
}

std::string AtaText(const Sector& s, size_t offset, size_t width) {
  std::string raw;
  if (offset + width > s.size()) return raw;
  raw.reserve(width);
  for (size_t i = 0; i < width; ++i) {
    const auto c = static_cast<char>(s[offset + (i ^ 1)]);
    if (c == 0) break;
    raw += c;
  }
  return ShowableText(raw, '?');
}

std::string ModelText(const Sector& s, size_t offset) { return ModelTrimmed(AtaText(s, offset, 40)); }

std::string ModelTrimmed(std::string t) {
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
  std::string raw;
  for (size_t i = 0; i < ident::kFirmwareLen; ++i) raw += static_cast<char>(ident[ident::kFirmware + (i ^ 1)]);
  f.text = ShowableText(raw, ' ');
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
