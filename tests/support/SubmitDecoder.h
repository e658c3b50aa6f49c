// An SMS-SUBMIT reader for tests, written from the TS 23.040 layout alone
// (9.2.2.2, with the TS 24.011 service centre address in front, as
// AT+CMGS takes it in PDU mode). It shares nothing with the library's
// encoder, so a PDU it reads back checks the encoder rather than agreeing
// with it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vesk::testing {

struct DecodedSubmit {
  std::string centre;          // "+" in front when international; "" when absent
  std::string destination;     // likewise
  int firstOctet = 0;
  int dcs = 0;
  int alphabet = 0;            // 0 GSM 7-bit, 1 8-bit data, 2 UCS2
  int messageClass = -1;       // -1: none given
  int udl = 0;                 // as written: septets in 7-bit, else octets
  int tpduOctets = 0;          // every octet after the service centre part
  int userDataOctets = 0;      // the octets after the UDL octet
  bool concatenated = false;   // an 8-bit reference concatenation element
  int reference = -1, total = -1, sequence = -1;
  std::u16string text;
};

namespace submit_detail {

// TS 23.038 6.2.1, by code; 0x1B (escape) stands as U+001B.
inline const std::u16string& DefaultAlphabet() {
  static const std::u16string table =
      u"@\u00A3$\u00A5\u00E8\u00E9\u00F9\u00EC\u00F2\u00C7\n\u00D8\u00F8\r\u00C5\u00E5"
      u"\u0394_\u03A6\u0393\u039B\u03A9\u03A0\u03A8\u03A3\u0398\u039E\u001B\u00C6\u00E6\u00DF\u00C9"
      u" !\"#\u00A4%&'()*+,-./0123456789:;<=>?"
      u"\u00A1ABCDEFGHIJKLMNOPQRSTUVWXYZ\u00C4\u00D6\u00D1\u00DC\u00A7"
      u"\u00BFabcdefghijklmnopqrstuvwxyz\u00E4\u00F6\u00F1\u00FC\u00E0";
  return table;
}

// TS 23.038 6.2.1.1.
inline char16_t Extension(int code) {
  switch (code) {
    case 0x0A: return 0x000C;
    case 0x14: return u'^';
    case 0x28: return u'{';
    case 0x29: return u'}';
    case 0x2F: return u'\\';
    case 0x3C: return u'[';
    case 0x3D: return u'~';
    case 0x3E: return u']';
    case 0x40: return u'|';
    case 0x65: return 0x20AC;
    default: return 0;
  }
}

inline std::vector<int> Octets(const std::string& hex) {
  if (hex.size() % 2) throw std::runtime_error("odd number of hex digits");
  std::vector<int> out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    std::size_t used = 0;
    int v = std::stoi(hex.substr(i, 2), &used, 16);
    if (used != 2) throw std::runtime_error("not hex: " + hex.substr(i, 2));
    out.push_back(v);
  }
  return out;
}

class Cursor {
 public:
  explicit Cursor(std::vector<int> octets) : o_(std::move(octets)) {}
  int Next() {
    if (at_ >= o_.size()) throw std::runtime_error("PDU ends early");
    return o_[at_++];
  }
  std::size_t At() const { return at_; }
  std::size_t Size() const { return o_.size(); }
  const std::vector<int>& All() const { return o_; }

 private:
  std::vector<int> o_;
  std::size_t at_ = 0;
};

// Semi-octets, low nibble first; an F nibble fills an odd count.
inline std::string Digits(Cursor& c, int octets, int digits) {
  std::string out;
  for (int i = 0; i < octets; ++i) {
    int b = c.Next();
    for (int nibble : {b & 0x0F, b >> 4}) {
      if (static_cast<int>(out.size()) == digits) break;
      out += "0123456789*#abcf"[nibble];
    }
  }
  return out;
}

}  // namespace submit_detail

// Reads the hex of AT+CMGS's body. Throws std::runtime_error on a PDU that
// does not read as an SMS-SUBMIT.
inline DecodedSubmit DecodeSubmit(const std::string& hex) {
  using namespace submit_detail;
  DecodedSubmit d;
  Cursor c(Octets(hex));
  // TS 24.011 8.2.5.1: length, type of address, semi-octets.
  const int scaLength = c.Next();
  if (scaLength > 0) {
    const int toa = c.Next();
    d.centre = (toa == 0x91 ? "+" : "") + Digits(c, scaLength - 1, 2 * (scaLength - 1));
    if (!d.centre.empty() && d.centre.back() == 'f') d.centre.pop_back();
  }
  const std::size_t tpduStart = c.At();
  d.firstOctet = c.Next();
  if ((d.firstOctet & 0x03) != 0x01) throw std::runtime_error("not an SMS-SUBMIT");
  const int vpf = (d.firstOctet >> 3) & 0x03;
  const bool udhi = (d.firstOctet & 0x40) != 0;
  c.Next();  // TP-MR
  const int daDigits = c.Next();
  const int daToa = c.Next();
  d.destination = (daToa == 0x91 ? "+" : "") + Digits(c, (daDigits + 1) / 2, daDigits);
  c.Next();  // TP-PID
  d.dcs = c.Next();
  // TS 23.038 4: the general group 00xx, and the group 1111.
  if ((d.dcs & 0xC0) == 0x00) {
    if (d.dcs & 0x20) throw std::runtime_error("compressed text");
    d.alphabet = (d.dcs >> 2) & 0x03;
    if (d.dcs & 0x10) d.messageClass = d.dcs & 0x03;
  } else if ((d.dcs & 0xF0) == 0xF0) {
    d.alphabet = (d.dcs & 0x04) ? 1 : 0;
    d.messageClass = d.dcs & 0x03;
  } else {
    throw std::runtime_error("data coding scheme outside the groups read here");
  }
  if (d.alphabet == 3) throw std::runtime_error("reserved alphabet");
  if (vpf == 2) c.Next();                        // relative
  if (vpf == 1 || vpf == 3) for (int i = 0; i < 7; ++i) c.Next();
  d.udl = c.Next();
  const std::size_t udStart = c.At();
  d.userDataOctets = static_cast<int>(c.Size() - udStart);
  d.tpduOctets = static_cast<int>(c.Size() - tpduStart);
  int headerOctets = 0;
  if (udhi) {
    const int udhl = c.Next();
    headerOctets = udhl + 1;
    const std::size_t end = udStart + static_cast<std::size_t>(headerOctets);
    while (c.At() < end) {
      const int iei = c.Next();
      const int length = c.Next();
      std::vector<int> data;
      for (int i = 0; i < length; ++i) data.push_back(c.Next());
      if (iei == 0x00 && length == 3) {
        d.concatenated = true;
        d.reference = data[0];
        d.total = data[1];
        d.sequence = data[2];
      }
    }
    if (c.At() != end) throw std::runtime_error("header length disagrees with its elements");
  }
  const std::vector<int>& o = c.All();
  if (d.alphabet == 0) {
    // Septets start at the first septet boundary after the header.
    const int headerSeptets = (headerOctets * 8 + 6) / 7;
    const int septets = d.udl - headerSeptets;
    const std::size_t needOctets = (static_cast<std::size_t>(d.udl) * 7 + 7) / 8;
    if (needOctets != static_cast<std::size_t>(d.userDataOctets))
      throw std::runtime_error("user data octets disagree with the septet count");
    std::size_t bit = udStart * 8 + static_cast<std::size_t>(headerSeptets) * 7;
    bool escaped = false;
    for (int i = 0; i < septets; ++i, bit += 7) {
      int code = 0;
      for (int k = 0; k < 7; ++k) {
        const std::size_t b = bit + static_cast<std::size_t>(k);
        if ((o[b / 8] >> (b % 8)) & 1) code |= 1 << k;
      }
      if (escaped) {
        d.text += Extension(code);
        escaped = false;
      } else if (code == 0x1B) {
        escaped = true;
      } else {
        d.text += DefaultAlphabet()[static_cast<std::size_t>(code)];
      }
    }
    if (escaped) throw std::runtime_error("escape without its code at the end");
  } else {
    if (d.udl != d.userDataOctets) throw std::runtime_error("user data length disagrees with the octets");
    const std::size_t from = udStart + static_cast<std::size_t>(headerOctets);
    if (d.alphabet == 1) {
      for (std::size_t i = from; i < o.size(); ++i) d.text += static_cast<char16_t>(o[i]);
    } else {
      if ((o.size() - from) % 2) throw std::runtime_error("odd number of UCS2 octets");
      for (std::size_t i = from; i + 1 < o.size(); i += 2) d.text += static_cast<char16_t>(o[i] * 256 + o[i + 1]);
    }
  }
  return d;
}

}  // namespace vesk::testing
