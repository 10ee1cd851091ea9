// Base64 (RFC 4648, with padding): mail bodies and headers, and a firmware
// image carried in one line of the monitor service's protocol.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"

namespace raid {

std::string Base64Encode(std::string_view bytes);
// Strict: only the 64 letters, whole groups of four, '=' only as the last
// one or two characters. Anything else fails with the reason.
Expected<std::vector<uint8_t>> Base64Decode(std::string_view text);

}  // namespace raid
