// Explicit byte order for every record the program reads or writes. Device
// replies are untrusted: callers pass whole fixed-size records, and every
// accessor checks its range at compile time or returns a safe value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace raid {

using Sector = std::array<uint8_t, 512>;

inline uint64_t LoadLE(std::span<const uint8_t> b, size_t off, size_t width) {
  uint64_t v = 0;
  if (off > b.size() || width > 8 || width > b.size() - off) return 0;
  for (size_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(b[off + i]) << (8 * i);
  return v;
}

inline void StoreLE(std::span<uint8_t> b, size_t off, size_t width, uint64_t v) {
  if (off > b.size() || width > 8 || width > b.size() - off) return;
  for (size_t i = 0; i < width; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void StoreBE(std::span<uint8_t> b, size_t off, size_t width, uint64_t v) {
  if (off > b.size() || width > 8 || width > b.size() - off) return;
  for (size_t i = 0; i < width; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

inline uint64_t LoadBE(std::span<const uint8_t> b, size_t off, size_t width) {
  uint64_t v = 0;
  if (off > b.size() || width > 8 || width > b.size() - off) return 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | b[off + i];
  return v;
}

// Two upper-case hexadecimal digits ("0A").
inline std::string HexByte(uint8_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string{kDigits[v >> 4], kDigits[v & 0x0F]};
}

}  // namespace raid
