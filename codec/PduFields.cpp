#include "codec/PduFields.h"

#include "codec/Alphabet.h"
#include "codec/Deliver.h"
#include "codec/Packing.h"

namespace vesk::codec {

namespace {

// Swapped semi-octets, TS 23.040 9.1.2.3: the pair "91" reads 19.
int SwappedDecimal(char first, char second) {
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

}  // namespace

bool ReadTimeStamp(const PduCursor& c, TDateTime& stamp, int& zone) {
  stamp = 0;
  zone = 0;
  int f[6];
  for (std::size_t i = 0; i < 6; ++i)
    if ((f[i] = SwappedDecimal(c.Char(2 * i), c.Char(2 * i + 1))) < 0) return false;
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

bool ReadServiceCentre(PduCursor& c, AnsiString& number) {
  if (!c.HasOctets(1)) return false;
  const int length = c.NextOctetOr(0);
  if (length <= 0) return true;
  if (!c.HasOctets(static_cast<std::size_t>(length))) return false;
  const int type = c.Octet(0);
  if (type >= 0 && (type & kNumberTypeMask) == kInternationalNumber) number = "+";
  for (std::size_t i = 1; i < static_cast<std::size_t>(length); ++i) {
    AppendSemiOctet(number, c.Char(2 * i + 1));
    AppendSemiOctet(number, c.Char(2 * i));
  }
  c.Skip(static_cast<std::size_t>(length));
  return true;
}

const char* ReadAddress(PduCursor& c, AnsiString& out, int& type, const AddressErrors& errors) {
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
    for (std::size_t k = 0; k < static_cast<std::size_t>(digits); ++k) AppendSemiOctet(out, c.Char(k ^ 1));
  }
  c.SkipChars(chars);
  return nullptr;
}

}  // namespace vesk::codec
