// The one door through which the PDU decoders read their input: a
// bounds-checked cursor over the hexadecimal text a modem prints, and the
// fields every TPDU type shares (TS 23.040 9.1.2.3 semi-octets, 9.1.2.5
// addresses, 9.2.3.11 time stamps; TS 24.011 8.2.5.1 the service centre
// address before the TPDU). Used by the SMS-DELIVER and SMS-STATUS-REPORT
// decoders alike.
//
// Pure functions: any thread, no state, no exceptions.
#pragma once

#include <cstddef>

#include "codec/Hex.h"
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
bool ReadTimeStamp(const PduCursor& c, TDateTime& stamp, int& zone);

// The service centre address (TS 24.011 8.2.5.1) at the cursor: its
// length in octets, its type, its digits, "+" first when international.
// Moves past it. False when the text ends inside it (a length octet that
// does not read counts as 0, no address).
bool ReadServiceCentre(PduCursor& c, AnsiString& number);

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
const char* ReadAddress(PduCursor& c, AnsiString& out, int& type, const AddressErrors& errors);

}  // namespace vesk::codec
