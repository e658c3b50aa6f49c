// An SMS-DELIVER decoder for the tests, written from the TS 23.040 9.2.2.1
// layout and the TS 23.038 tables with nothing taken from the simulator's
// code, so that the simulator's encoder is checked against a second reading
// of the standard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vesk::sim::test {

// TS 23.038 6.2.1, typed by hand as UTF-8; index = code. The escape (0x1B)
// is left empty.
inline const char* const kGsmTable[128] = {
    "@", "£", "$", "¥", "è", "é", "ù", "ì", "ò", "Ç", "\n", "Ø", "ø", "\r", "Å", "å",
    "Δ", "_", "Φ", "Γ", "Λ", "Ω", "Π", "Ψ", "Σ", "Θ", "Ξ", "",  "Æ", "æ", "ß", "É",
    " ", "!", "\"", "#", "¤", "%", "&", "'", "(", ")", "*", "+", ",", "-", ".", "/",
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", ":", ";", "<", "=", ">", "?",
    "¡", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "Ä", "Ö", "Ñ", "Ü", "§",
    "¿", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
    "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "ä", "ö", "ñ", "ü", "à",
};

// TS 23.038 6.2.1.1, the default extension table.
inline std::string GsmExtension(int code) {
  switch (code) {
    case 0x0A: return "\f";
    case 0x14: return "^";
    case 0x28: return "{";
    case 0x29: return "}";
    case 0x2F: return "\\";
    case 0x3C: return "[";
    case 0x3D: return "~";
    case 0x3E: return "]";
    case 0x40: return "|";
    case 0x65: return "€";
    default: return kGsmTable[code];
  }
}

struct DecodedDeliver {
  std::string serviceCentre;
  int serviceCentreType = -1;
  int firstOctet = -1;
  bool moreMessagesToSend = false;  // TP-MMS clear
  bool headerPresent = false;       // TP-UDHI
  std::string sender;
  int senderType = -1;
  int pid = -1;
  int dcs = -1;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int zone = 0;                     // quarter hours, signed
  int udl = -1;
  std::vector<std::uint8_t> header;  // information elements, UDHL left out
  int concatReference = -1;
  int concatTotal = -1;
  int concatSequence = -1;
  bool concat16 = false;
  std::string text;                 // UTF-8
  int fillBits = 0;
  std::string error;                // empty when the PDU read cleanly
};

class OctetReader {
 public:
  explicit OctetReader(std::vector<std::uint8_t> octets) : o_(std::move(octets)) {}
  bool Next(int& out) {
    if (i_ >= o_.size()) return false;
    out = o_[i_++];
    return true;
  }
  bool Take(std::size_t n, std::vector<std::uint8_t>& out) {
    if (o_.size() - i_ < n) return false;
    out.assign(o_.begin() + static_cast<std::ptrdiff_t>(i_), o_.begin() + static_cast<std::ptrdiff_t>(i_ + n));
    i_ += n;
    return true;
  }
  std::size_t Left() const { return o_.size() - i_; }

 private:
  std::vector<std::uint8_t> o_;
  std::size_t i_ = 0;
};

inline std::optional<std::vector<std::uint8_t>> HexOctets(const std::string& hex) {
  if (hex.size() % 2) return std::nullopt;
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const std::string byte = hex.substr(i, 2);
    if (byte.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(std::stoi(byte, nullptr, 16)));
  }
  return out;
}

// Septet n of a bit stream that starts `skipBits` into `octets`.
inline int SeptetAt(const std::vector<std::uint8_t>& octets, std::size_t skipBits, std::size_t n) {
  int value = 0;
  for (int b = 0; b < 7; ++b) {
    const std::size_t bit = skipBits + n * 7 + static_cast<std::size_t>(b);
    if (bit / 8 >= octets.size()) return -1;
    if (octets[bit / 8] & (1u << (bit % 8))) value |= 1 << b;
  }
  return value;
}

inline std::string SeptetsToText(const std::vector<int>& septets) {
  std::string out;
  for (std::size_t i = 0; i < septets.size(); ++i) {
    if (septets[i] == 0x1B && i + 1 < septets.size()) {
      out += GsmExtension(septets[++i]);
    } else {
      out += kGsmTable[septets[i]];
    }
  }
  return out;
}

inline void AppendUtf8(std::string& out, unsigned c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

inline int FromSwappedBcd(int octet) { return (octet & 0x0F) * 10 + ((octet >> 4) & 0x0F); }

inline std::string SemiOctets(const std::vector<std::uint8_t>& v, int digits) {
  static const char kDigits[] = "0123456789*#abc";
  std::string out;
  for (int i = 0; i < digits; ++i) {
    const int nibble = i % 2 == 0 ? v[static_cast<std::size_t>(i / 2)] & 0x0F : v[static_cast<std::size_t>(i / 2)] >> 4;
    if (nibble == 0x0F) break;
    out += kDigits[nibble];
  }
  return out;
}

// The whole PDU as AT+CMGR shows it in PDU mode: service centre part first.
inline DecodedDeliver DecodeDeliver(const std::string& hex) {
  DecodedDeliver d;
  auto fail = [&d](const char* why) {
    d.error = why;
    return d;
  };
  const auto octets = HexOctets(hex);
  if (!octets) return fail("not hex");
  OctetReader r(*octets);
  int scLen = 0;
  if (!r.Next(scLen)) return fail("empty");
  if (scLen > 0) {
    std::vector<std::uint8_t> sc;
    if (!r.Next(d.serviceCentreType) || !r.Take(static_cast<std::size_t>(scLen - 1), sc)) return fail("SMSC");
    d.serviceCentre = (d.serviceCentreType == 0x91 ? "+" : "") + SemiOctets(sc, (scLen - 1) * 2);
  }
  if (!r.Next(d.firstOctet)) return fail("first octet");
  if ((d.firstOctet & 0x03) != 0x00) return fail("TP-MTI is not SMS-DELIVER");
  d.moreMessagesToSend = (d.firstOctet & 0x04) == 0;
  d.headerPresent = (d.firstOctet & 0x40) != 0;

  // TS 23.040 9.1.2.5: TP-OA, length in semi-octets.
  int oaDigits = 0;
  std::vector<std::uint8_t> oa;
  if (!r.Next(oaDigits) || !r.Next(d.senderType) || !r.Take(static_cast<std::size_t>((oaDigits + 1) / 2), oa)) {
    return fail("TP-OA");
  }
  if ((d.senderType & 0x70) == 0x50) {
    std::vector<int> septets;
    for (std::size_t n = 0; n < static_cast<std::size_t>(oaDigits) * 4 / 7; ++n) septets.push_back(SeptetAt(oa, 0, n));
    d.sender = SeptetsToText(septets);
  } else {
    d.sender = (d.senderType == 0x91 ? "+" : "") + SemiOctets(oa, oaDigits);
  }
  if (!r.Next(d.pid) || !r.Next(d.dcs)) return fail("TP-PID/TP-DCS");

  // TS 23.040 9.2.3.11: TP-SCTS.
  std::vector<std::uint8_t> ts;
  if (!r.Take(7, ts)) return fail("TP-SCTS");
  d.year = FromSwappedBcd(ts[0]);
  d.month = FromSwappedBcd(ts[1]);
  d.day = FromSwappedBcd(ts[2]);
  d.hour = FromSwappedBcd(ts[3]);
  d.minute = FromSwappedBcd(ts[4]);
  d.second = FromSwappedBcd(ts[5]);
  d.zone = (ts[6] & 0x07) * 10 + (ts[6] >> 4);
  if (ts[6] & 0x08) d.zone = -d.zone;

  if (!r.Next(d.udl)) return fail("TP-UDL");
  std::vector<std::uint8_t> ud;
  r.Take(r.Left(), ud);

  // TS 23.038 4: alphabet from the general data coding group.
  const int alphabet = (d.dcs >> 2) & 0x03;  // 0 default, 1 8-bit, 2 UCS2
  std::size_t headerOctets = 0;
  if (d.headerPresent) {
    if (ud.empty() || ud[0] + 1u > ud.size()) return fail("UDH");
    headerOctets = ud[0] + 1u;
    d.header.assign(ud.begin() + 1, ud.begin() + static_cast<std::ptrdiff_t>(headerOctets));
    for (std::size_t i = 0; i + 1 < d.header.size();) {
      const int iei = d.header[i];
      const std::size_t len = d.header[i + 1];
      if (i + 2 + len > d.header.size()) return fail("UDH element");
      if (iei == 0x00 && len == 3) {
        d.concatReference = d.header[i + 2];
        d.concatTotal = d.header[i + 3];
        d.concatSequence = d.header[i + 4];
      } else if (iei == 0x08 && len == 4) {
        d.concat16 = true;
        d.concatReference = d.header[i + 2] * 256 + d.header[i + 3];
        d.concatTotal = d.header[i + 4];
        d.concatSequence = d.header[i + 5];
      }
      i += 2 + len;
    }
  }

  if (alphabet == 0) {
    // TS 23.040 9.2.3.16: TP-UDL counts septets, the header's included; the
    // text starts at the next septet boundary after the header.
    const std::size_t headerBits = headerOctets * 8;
    const std::size_t headerSeptets = (headerBits + 6) / 7;
    d.fillBits = static_cast<int>(headerSeptets * 7 - headerBits);
    if ((static_cast<std::size_t>(d.udl) * 7 + 7) / 8 != ud.size()) return fail("TP-UDL does not match the octets");
    std::vector<int> septets;
    for (std::size_t n = 0; n + headerSeptets < static_cast<std::size_t>(d.udl); ++n) {
      const int s = SeptetAt(ud, headerBits + static_cast<std::size_t>(d.fillBits), n);
      if (s < 0) return fail("septets run out");
      septets.push_back(s);
    }
    d.text = SeptetsToText(septets);
  } else {
    if (static_cast<std::size_t>(d.udl) != ud.size()) return fail("TP-UDL does not match the octets");
    if (alphabet == 1) {
      for (std::size_t i = headerOctets; i < ud.size(); ++i) AppendUtf8(d.text, ud[i]);
    } else {
      for (std::size_t i = headerOctets; i + 1 < ud.size(); i += 2) {
        unsigned u = ud[i] << 8 | ud[i + 1];
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < ud.size()) {
          const unsigned lo = ud[i + 2] << 8 | ud[i + 3];
          u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
          i += 2;
        }
        AppendUtf8(d.text, u);
      }
    }
  }
  return d;
}

}  // namespace vesk::sim::test
