// The PDU's text form: two hexadecimal digits per octet, high nibble first.
#pragma once

#include <array>
#include <cstdint>

#include "component/Framework.h"

namespace vesk::codec {

namespace detail {
constexpr std::array<std::int8_t, 256> MakeHexDigits() {
  std::array<std::int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
  return t;
}
inline constexpr std::array<std::int8_t, 256> kHexDigits = MakeHexDigits();
}  // namespace detail

// The value of a hexadecimal digit (either case), or -1.
constexpr int HexDigit(char c) { return detail::kHexDigits[static_cast<unsigned char>(c)]; }

// Appends an octet as two upper-case digits.
inline void AppendHexOctet(AnsiString& out, unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.push_back(kDigits[(value >> 4) & 0xF]);
  out.push_back(kDigits[value & 0xF]);
}

inline void AppendHexOctets(AnsiString& out, const AnsiString& octets) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::size_t n = out.size();
  out.resize(n + 2 * octets.size());
  char* dst = &out[n];
  for (char c : octets) {
    const auto v = static_cast<unsigned char>(c);
    *dst++ = kDigits[v >> 4];
    *dst++ = kDigits[v & 0xF];
  }
}

}  // namespace vesk::codec
