#include "platform/base64.h"

#include <array>

namespace raid {

namespace {
constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> MakeValues() {
  std::array<int8_t, 256> v{};
  for (auto& x : v) x = -1;
  for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kLetters[i])] = static_cast<int8_t>(i);
  return v;
}
constexpr std::array<int8_t, 256> kValues = MakeValues();
}  // namespace

std::string Base64Encode(std::string_view in) {
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  size_t i = 0;
  auto byte = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(in[k])); };
  for (; i + 2 < in.size(); i += 3) {
    const uint32_t n = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    out += {kLetters[n >> 18], kLetters[(n >> 12) & 63], kLetters[(n >> 6) & 63], kLetters[n & 63]};
  }
  if (i + 1 == in.size()) {
    const uint32_t n = byte(i) << 16;
    out += {kLetters[n >> 18], kLetters[(n >> 12) & 63], '=', '='};
  } else if (i + 2 == in.size()) {
    const uint32_t n = byte(i) << 16 | byte(i + 1) << 8;
    out += {kLetters[n >> 18], kLetters[(n >> 12) & 63], kLetters[(n >> 6) & 63], '='};
  }
  return out;
}

Expected<std::vector<uint8_t>> Base64Decode(std::string_view text) {
  using Bytes = Expected<std::vector<uint8_t>>;
  if (text.size() % 4 != 0) return Bytes::Fail("base64 text comes in groups of four characters");
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const size_t pad = last ? (text[i + 3] == '=' ? (text[i + 2] == '=' ? 2 : 1) : 0) : 0;
    uint32_t n = 0;
    for (size_t k = 0; k < 4; ++k) {
      const bool padding = k >= 4 - pad;
      const int8_t v = padding ? 0 : kValues[static_cast<unsigned char>(text[i + k])];
      if (v < 0) return Bytes::Fail("base64 text has a character that is no base64 letter");
      n = n << 6 | static_cast<uint32_t>(v);
    }
    out.push_back(static_cast<uint8_t>(n >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(n));
  }
  return out;
}

}  // namespace raid
