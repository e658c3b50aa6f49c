// SHA-256 (FIPS 180-4), for the keys that tell a message already stored
// from a new one. Not for secrets: nothing here is constant-time.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesk::gateway {

std::array<std::uint8_t, 32> Sha256(std::string_view data);
// Lower-case hexadecimal, 64 digits.
std::string Sha256Hex(std::string_view data);

}  // namespace vesk::gateway
