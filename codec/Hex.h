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

// A digit's value as the high (shift 4) or low (shift 0) half of an
// octet, kNotHex when the character is not a digit: or-ing the two halves
// gives the octet, or a value with kNotHex set.
constexpr std::uint16_t kNotHex = 0x100;
constexpr std::array<std::uint16_t, 256> MakeHexHalves(int shift) {
  std::array<std::uint16_t, 256> t{};
  for (std::size_t c = 0; c < 256; ++c)
    t[c] = kHexDigits[c] < 0 ? kNotHex : static_cast<std::uint16_t>(kHexDigits[c] << shift);
  return t;
}
inline constexpr std::array<std::uint16_t, 256> kHexHigh = MakeHexHalves(4);
inline constexpr std::array<std::uint16_t, 256> kHexLow = MakeHexHalves(0);
}  // namespace detail

// The value of a hexadecimal digit (either case), or -1.
constexpr int HexDigit(char c) { return detail::kHexDigits[static_cast<unsigned char>(c)]; }

// Decodes 2n hexadecimal digits into n octets; false when any of them is
// not a digit (what was written to out is then unspecified). No branch
// per octet: the check is made once, at the end.
inline bool DecodeHexOctets(const char* hex, std::size_t n, unsigned char* out) {
  std::uint16_t bad = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint16_t v = detail::kHexHigh[static_cast<unsigned char>(hex[2 * i])] |
                            detail::kHexLow[static_cast<unsigned char>(hex[2 * i + 1])];
    bad |= v;
    out[i] = static_cast<unsigned char>(v);
  }
  return (bad & detail::kNotHex) == 0;
}

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
