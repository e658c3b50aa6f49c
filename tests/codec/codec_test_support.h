// Test-side helpers for the codec tests: hex and UTF-8 conversions, a
// hand-typed copy of the TS 23.038 tables, and an SMS-SUBMIT reader written
// from the TS 23.040 layout, independent of the codec under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/Framework.h"

namespace vesk::codec::test {

inline std::string FromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string ToHex(const std::string& octets) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : octets) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0xF]);
  }
  return out;
}

inline WideString W(const char* utf8) { return Utf8ToWide(utf8); }
inline std::string Utf8(const WideString& s) { return WideToUtf8(s); }

// ------------------------------------------------ TS 23.038, typed from the standard

// 6.2.1 default alphabet in code order; the escape 0x1B stands as U+001B.
inline const WideString kStdDefaultAlphabet = Utf8ToWide(
    "@£$¥èéùìòÇ\nØø\rÅå"
    "Δ_ΦΓΛΩΠΨΣΘΞ\x1B" "ÆæßÉ"
    " !\"#¤%&'()*+,-./"
    "0123456789:;<=>?"
    "¡ABCDEFGHIJKLMNO"
    "PQRSTUVWXYZÄÖÑÜ§"
    "¿abcdefghijklmno"
    "pqrstuvwxyzäöñüà");

struct StdShiftEntry {
  int code;
  const char* utf8;
};

// 6.2.1.1 extension table (0x0D is CR2, read as a carriage return).
inline const std::vector<StdShiftEntry> kStdExtension = {
    {0x0A, "\f"}, {0x0D, "\r"}, {0x14, "^"}, {0x28, "{"}, {0x29, "}"}, {0x2F, "\\"},
    {0x3C, "["},  {0x3D, "~"},  {0x3E, "]"}, {0x40, "|"}, {0x65, "€"},
};

// A.2.2 Spanish single shift table, without the extension entries.
inline const std::vector<StdShiftEntry> kStdSpanish = {
    {0x09, "ç"}, {0x41, "Á"}, {0x49, "Í"}, {0x4F, "Ó"}, {0x55, "Ú"},
    {0x61, "á"}, {0x69, "í"}, {0x6F, "ó"}, {0x75, "ú"},
};

// A.2.3 Portuguese single shift table, without the extension entries.
inline const std::vector<StdShiftEntry> kStdPortuguese = {
    {0x05, "ê"}, {0x09, "ç"}, {0x0B, "Ô"}, {0x0C, "ô"}, {0x0E, "Á"}, {0x0F, "á"}, {0x12, "Φ"},
    {0x13, "Γ"}, {0x15, "Ω"}, {0x16, "Π"}, {0x17, "Ψ"}, {0x18, "Σ"}, {0x19, "Θ"}, {0x1F, "Ê"},
    {0x41, "À"}, {0x49, "Í"}, {0x4F, "Ó"}, {0x55, "Ú"}, {0x5B, "Ã"}, {0x5C, "Õ"}, {0x61, "Â"},
    {0x69, "í"}, {0x6F, "ó"}, {0x75, "ú"}, {0x7B, "ã"}, {0x7C, "õ"}, {0x7F, "â"},
};

// A.2.1 Turkish single shift table, without the extension entries.
inline const std::vector<StdShiftEntry> kStdTurkish = {
    {0x47, "Ğ"}, {0x49, "İ"}, {0x53, "Ş"}, {0x63, "ç"}, {0x67, "ğ"}, {0x69, "ı"}, {0x73, "ş"},
};

// ------------------------------------------------ TS 23.040 SMS-SUBMIT, read independently

struct SubmitFields {
  int scaOctets = 0;            // RP service centre length
  std::string sca;              // digits, "+" first when type 91
  int firstOctet = 0;
  int messageReference = 0;
  std::string destination;      // "+" first when type 91
  int destinationType = 0;
  int pid = 0;
  int dcs = 0;
  int validity = -1;            // relative TP-VP, -1 when absent
  int udl = 0;
  std::vector<int> header;      // TP-UDH octets after the UDHL
  std::vector<int> septets;     // 7-bit: the text codes
  std::string octets;           // 8-bit and UCS2: the text octets
  std::size_t userDataOctets = 0;
  std::size_t tpduOctets = 0;
};

inline std::string SemiOctets(const std::string& o, std::size_t from, std::size_t count) {
  std::string digits;
  for (std::size_t i = 0; i < count; ++i) {
    int v = static_cast<unsigned char>(o[from + i]);
    digits.push_back("0123456789*#abc?"[v & 0xF]);
    if ((v >> 4) != 0xF) digits.push_back("0123456789*#abc?"[v >> 4]);
  }
  return digits;
}

// Reads a PDU as TS 27.005 prints it. Septets are taken bit by bit from
// the start of TP-UD, skipping the header and its fill bits.
inline SubmitFields ReadSubmit(const std::string& hex) {
  const std::string o = FromHex(hex);
  auto at = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(o.at(i))); };
  SubmitFields f;
  std::size_t i = 0;
  f.scaOctets = at(i++);
  if (f.scaOctets > 0) {
    f.sca = (at(i) == 0x91 ? "+" : "") + SemiOctets(o, i + 1, static_cast<std::size_t>(f.scaOctets - 1));
    i += static_cast<std::size_t>(f.scaOctets);
  }
  const std::size_t tpduStart = i;
  f.firstOctet = at(i++);
  f.messageReference = at(i++);
  const int digits = at(i++);
  f.destinationType = at(i++);
  f.destination = (f.destinationType == 0x91 ? "+" : "") + SemiOctets(o, i, static_cast<std::size_t>(digits + 1) / 2);
  i += static_cast<std::size_t>(digits + 1) / 2;
  f.pid = at(i++);
  f.dcs = at(i++);
  const int vpf = (f.firstOctet >> 3) & 3;
  if (vpf == 2) f.validity = at(i++);
  if (vpf == 1 || vpf == 3) i += 7;
  f.udl = at(i++);
  const std::size_t ud = i;
  std::size_t headerOctets = 0;
  if (f.firstOctet & 0x40) {
    const int udhl = at(i);
    for (int k = 1; k <= udhl; ++k) f.header.push_back(at(i + static_cast<std::size_t>(k)));
    headerOctets = static_cast<std::size_t>(udhl) + 1;
  }
  f.tpduOctets = o.size() - tpduStart;
  f.userDataOctets = o.size() - ud;
  if ((f.dcs & 0x0C) == 0) {  // GSM 7-bit
    const std::size_t headerSeptets = (headerOctets * 8 + 6) / 7;
    for (std::size_t s = headerSeptets; s < static_cast<std::size_t>(f.udl); ++s) {
      int code = 0;
      for (int b = 0; b < 7; ++b) {
        const std::size_t bit = s * 7 + static_cast<std::size_t>(b);
        if (at(ud + bit / 8) & (1 << (bit % 8))) code |= 1 << b;
      }
      f.septets.push_back(code);
    }
  } else {
    f.octets = o.substr(ud + headerOctets);
  }
  return f;
}

// The text of septet codes through the hand-typed tables.
inline std::string StdText(const std::vector<int>& codes) {
  WideString text;
  for (std::size_t k = 0; k < codes.size(); ++k) {
    if (codes[k] != 0x1B) {
      text.push_back(kStdDefaultAlphabet[static_cast<std::size_t>(codes[k])]);
    } else if (++k < codes.size()) {
      for (const auto& e : kStdExtension)
        if (e.code == codes[k]) text += Utf8ToWide(e.utf8);
    }
  }
  return WideToUtf8(text);
}

}  // namespace vesk::codec::test
