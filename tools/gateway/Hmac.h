// HMAC-SHA256 (RFC 2104 over FIPS 180-4, through OpenSSL) for webhook
// signatures, and a comparison whose time does not depend on where two
// secrets differ.
#pragma once

#include <string>

namespace vesk::gateway {

// Lower-case hex, 64 digits.
std::string HmacSha256Hex(const std::string& key, const std::string& data);

// Whether a and b are equal, in a time that depends on their lengths only.
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace vesk::gateway
