// The PDU's text form: two hexadecimal digits per octet, high nibble first.
#pragma once

#include <cstdint>

#include "component/Framework.h"

namespace vesk::codec {

// The value of a hexadecimal digit (either case), or -1.
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Appends an octet as two upper-case digits.
inline void AppendHexOctet(AnsiString& out, unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.push_back(kDigits[(value >> 4) & 0xF]);
  out.push_back(kDigits[value & 0xF]);
}

inline void AppendHexOctets(AnsiString& out, const AnsiString& octets) {
  out.reserve(out.size() + 2 * octets.size());
  for (char c : octets) AppendHexOctet(out, static_cast<unsigned char>(c));
}

}  // namespace vesk::codec
