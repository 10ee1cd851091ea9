// The stored form of the mail password ("ProductID", 18 bytes): 16 masked
// and salted bytes, the salt, and a check byte that also carries the
// "SMTP Login Authentication" switch.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace raid {

inline constexpr size_t kPasswordRecordSize = 18;
inline constexpr size_t kPasswordMaxLength = 15;
inline constexpr const char* kBadRecordText = "ErrorFormat";

using PasswordRecord = std::array<uint8_t, kPasswordRecordSize>;

// MailAuthState values.
enum : uint8_t { kAuthOff = 0, kAuthOn = 1, kAuthInvalid = 2 };

// A password longer than 15 characters is cut to 15 (the field's limit).
PasswordRecord EncodePasswordRecord(const std::string& password, bool authentication, uint8_t salt);

struct DecodedPassword {
  std::string password;  // "ErrorFormat" when the check byte does not fit
  uint8_t authState = kAuthOff;
};
DecodedPassword DecodePasswordRecord(const PasswordRecord& record);

}  // namespace raid
