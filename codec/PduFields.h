// The one door through which the PDU decoders read their input: a
// bounds-checked cursor over the hexadecimal text a modem prints, and the
// fields every TPDU type shares (TS 23.040 9.1.2.3 semi-octets, 9.1.2.5
// addresses, 9.2.3.11 time stamps; TS 24.011 8.2.5.1 the service centre
// address before the TPDU). Used by the SMS-DELIVER and SMS-STATUS-REPORT
// decoders alike.
//
// Pure functions: any thread, no state, no exceptions. Inline: they are
// the inner loop of every decode.
#pragma once

#include <cstddef>

#include "codec/Alphabet.h"
#include "codec/Deliver.h"
#include "codec/Hex.h"
#include "codec/Packing.h"
#include "component/Framework.h"

namespace vesk::codec {

// A position in the hexadecimal text that only ever looks at characters
// inside it. Moving past the end is allowed; reads there fail.
class PduCursor {
 public:
  explicit PduCursor(const AnsiString& text) : text_(text) {}

  std::size_t Position() const { return pos_; }
  std::size_t CharsLeft() const { return pos_ < text_.size() ? text_.size() - pos_ : 0; }
  bool HasOctets(std::size_t n) const { return CharsLeft() / 2 >= n; }

  // The character `ahead` places on, or '\0' beyond the end.
  char Char(std::size_t ahead) const {
    std::size_t at = pos_ + ahead;
    return at < text_.size() ? text_[at] : '\0';
  }
  // Octet number `ahead` from the cursor; -1 when its two characters are
  // not both there and hexadecimal.
  int Octet(std::size_t ahead = 0) const {
    int hi = HexDigit(Char(2 * ahead));
    int lo = HexDigit(Char(2 * ahead + 1));
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
  }
  // Reads the octet at the cursor, `fallback` when it is not hexadecimal,
  // and moves on.
  int NextOctetOr(int fallback) {
    int v = Octet();
    Skip(1);
    return v < 0 ? fallback : v;
  }
  // The next n octets written to out, without moving; false when they are
  // not all there and hexadecimal.
  bool ReadOctets(std::size_t n, unsigned char* out) const {
    return HasOctets(n) && DecodeHexOctets(text_.data() + pos_, n, out);
  }
  void Skip(std::size_t octets) { pos_ += 2 * octets; }
  void SkipChars(std::size_t chars) { pos_ += chars; }

 private:
  const AnsiString& text_;
  std::size_t pos_ = 0;
};

// TS 23.040 9.1.2.5: the type of number in bits 4-6 of the type of address.
constexpr int kNumberTypeMask = 0x70;
constexpr int kInternationalNumber = 0x10;
constexpr int kAlphanumericNumber = 0x50;

// TS 23.040 9.2.3.11: the seven octets at the cursor (year, month, day,
// hour, minute, second, zone, each as swapped semi-octets; bit 3 of the
// zone octet its sign), without moving. False, with stamp and zone 0, when
// they do not read as a date and a time.
inline bool ReadTimeStamp(const PduCursor& c, TDateTime& stamp, int& zone);

// The service centre address (TS 24.011 8.2.5.1) at the cursor: its
// length in octets, its type, its digits, "+" first when international.
// Moves past it. False when the text ends inside it (a length octet that
// does not read counts as 0, no address).
inline bool ReadServiceCentre(PduCursor& c, AnsiString& number);

// The names an address field's failures go by, for the field at hand
// ("originating address", "recipient address").
struct AddressErrors {
  const char* truncated;
  const char* tooLong;
  const char* notHex;
};

// TS 23.040 9.1.2.5 an address field (TP-OA, TP-DA, TP-RA) at the cursor:
// the count of useful semi-octets (at most 20), the type of address, the
// digits ("+" first when international; the semi-octets 1010 to 1110 as
// "*", "#", "a", "b", "c") or the GSM 7-bit name of an alphanumeric
// address. Moves past it. Returns one of `errors`, or nullptr; `type` is
// the type of address octet, -1 when it does not read.
inline const char* ReadAddress(PduCursor& c, AnsiString& out, int& type, const AddressErrors& errors);

// ---------------------------------------------------------------- definitions
namespace detail {

// Swapped semi-octets, TS 23.040 9.1.2.3: the pair "91" reads 19.
inline int SwappedDecimal(char first, char second) {
  if (first < '0' || first > '9' || second < '0' || second > '9') return -1;
  return (second - '0') * 10 + (first - '0');
}

// Appends one semi-octet of a number (TS 23.040 9.1.2.3): digits as they
// stand, 0xA to 0xE as "*", "#", "a", "b", "c"; the filler 0xF yields
// nothing; a character that is not hexadecimal is kept as it stands.
inline void AppendSemiOctet(AnsiString& out, char ch) {
  if (ch >= '0' && ch <= '9') {
    out.push_back(ch);
    return;
  }
  const int v = HexDigit(ch);
  if (v == 0xF) return;
  out.push_back(v < 0 ? ch : "*#abc"[v - 10]);
}

}  // namespace detail

inline bool ReadTimeStamp(const PduCursor& c, TDateTime& stamp, int& zone) {
  stamp = 0;
  zone = 0;
  int f[6];
  for (std::size_t i = 0; i < 6; ++i)
    if ((f[i] = detail::SwappedDecimal(c.Char(2 * i), c.Char(2 * i + 1))) < 0) return false;
  const char units = c.Char(12);
  const int high = HexDigit(c.Char(13));
  if (units < '0' || units > '9' || high < 0) return false;
  int z = (high & 0x7) * 10 + (units - '0');
  if (high & 0x8) z = -z;
  const int year = f[0] <= 95 ? 2000 + f[0] : 1900 + f[0];
  TDateTime date, time;
  if (!TryEncodeDate(year, f[1], f[2], date) || !TryEncodeTime(f[3], f[4], f[5], 0, time)) return false;
  stamp = date + time;
  zone = z;
  return true;
}

inline bool ReadServiceCentre(PduCursor& c, AnsiString& number) {
  if (!c.HasOctets(1)) return false;
  const int length = c.NextOctetOr(0);
  if (length <= 0) return true;
  if (!c.HasOctets(static_cast<std::size_t>(length))) return false;
  const int type = c.Octet(0);
  if (type >= 0 && (type & kNumberTypeMask) == kInternationalNumber) number = "+";
  for (std::size_t i = 1; i < static_cast<std::size_t>(length); ++i) {
    detail::AppendSemiOctet(number, c.Char(2 * i + 1));
    detail::AppendSemiOctet(number, c.Char(2 * i));
  }
  c.Skip(static_cast<std::size_t>(length));
  return true;
}

inline const char* ReadAddress(PduCursor& c, AnsiString& out, int& type, const AddressErrors& errors) {
  type = -1;
  // Its length counts useful semi-octets, at most 20.
  if (!c.HasOctets(2)) return errors.truncated;
  const int digits = c.NextOctetOr(0);
  if (digits > kMaxAddressDigits) return errors.tooLong;
  type = c.Octet(0);
  c.Skip(1);
  const bool international = type >= 0 && (type & kNumberTypeMask) == kInternationalNumber;
  const bool alphanumeric = type >= 0 && (type & kNumberTypeMask) == kAlphanumericNumber;
  const std::size_t chars = static_cast<std::size_t>(digits + (digits & 1));
  if (c.CharsLeft() < chars) return errors.truncated;
  if (international) out = "+";
  if (alphanumeric) {
    // GSM 7-bit characters packed in the semi-octets (TS 23.040 9.1.2.5).
    unsigned char octets[kMaxAddressDigits / 2];
    const std::size_t octetCount = chars / 2;
    if (!c.ReadOctets(octetCount, octets)) return errors.notHex;
    char codes[kMaxAddressDigits];
    std::size_t count = UnpackSeptets(octets, octetCount, 0, static_cast<std::size_t>(digits) * 4 / 7, codes);
    // A length that counts the last octet whole ends in seven bits of
    // padding, which read as a final code 0 ("@"): not part of the name.
    if (count > 0 && codes[count - 1] == 0 && 7 * count == 8 * octetCount) --count;
    WideString name;
    AppendGsmText(name, codes, count);
    out = WideToAnsi(name);
  } else {
    // Exactly the useful semi-octets; the filler after an odd count is not
    // a digit, whatever its value.
    for (std::size_t k = 0; k < static_cast<std::size_t>(digits); ++k) detail::AppendSemiOctet(out, c.Char(k ^ 1));
  }
  c.SkipChars(chars);
  return nullptr;
}

}  // namespace vesk::codec
