#include "notify/password_record.h"

namespace raid {

namespace {
constexpr uint8_t kMask[8] = {0xA5, 0x3C, 0x9E, 0x47, 0xD2, 0x18, 0x6B, 0xF0};
}

PasswordRecord EncodePasswordRecord(const std::string& password, bool authentication, uint8_t salt) {
  const size_t n = password.size() < kPasswordMaxLength ? password.size() : kPasswordMaxLength;
  PasswordRecord r{};
  uint8_t sum = 0;
  for (size_t i = 0; i < 16; ++i) {
    const uint8_t c = i < n ? static_cast<uint8_t>(static_cast<uint8_t>(password[i]) + i) : static_cast<uint8_t>(i);
    sum = static_cast<uint8_t>(sum + c);
    r[i] = static_cast<uint8_t>(c ^ salt ^ kMask[i % 8]);
  }
  r[16] = salt;
  r[17] = static_cast<uint8_t>(sum ^ salt ^ (authentication ? 1 : 0));
  return r;
}

DecodedPassword DecodePasswordRecord(const PasswordRecord& record) {
  const uint8_t salt = record[16];
  uint8_t sum = 0;
  std::string text;
  bool ended = false;
  for (size_t i = 0; i < 16; ++i) {
    const uint8_t d = static_cast<uint8_t>(record[i] ^ salt ^ kMask[i % 8]);
    sum = static_cast<uint8_t>(sum + d);
    const char c = static_cast<char>(static_cast<uint8_t>(d - i));
    if (c == '\0') ended = true;
    if (!ended) text.push_back(c);
  }
  DecodedPassword out;
  if (static_cast<uint8_t>(sum ^ salt) == record[17]) {
    out.password = text;
    out.authState = kAuthOff;
  } else if (static_cast<uint8_t>(sum ^ salt ^ record[17]) == 1) {
    out.password = text;
    out.authState = kAuthOn;
  } else {
    out.password = kBadRecordText;
    out.authState = kAuthInvalid;
  }
  return out;
}

}  // namespace raid
