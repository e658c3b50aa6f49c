#include "codec/Deliver.h"

#include <algorithm>
#include <memory>

#include "codec/Alphabet.h"
#include "codec/Hex.h"
#include "codec/Packing.h"
#include "incoming/Reassembly.h"

namespace vesk::codec {

namespace {

// Room for a message's octets or codes: on the stack for anything a
// well-formed PDU holds, on the heap for longer input.
class Scratch {
 public:
  explicit Scratch(std::size_t size) : size_(size) {
    if (size > sizeof(local_)) heap_.reset(new unsigned char[size]);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  unsigned char* data() { return heap_ ? heap_.get() : local_; }
  char* chars() { return reinterpret_cast<char*>(data()); }
  std::size_t size() const { return size_; }

 private:
  unsigned char local_[320];
  std::unique_ptr<unsigned char[]> heap_;
  std::size_t size_;
};

// UCS2 user data as UTF-16 an application can trust: octet pairs, high
// octet first (a final odd octet ignored); a surrogate without its partner
// (a phone's bug, or a pair cut by a sender that split a message in the
// middle of one) becomes U+FFFD, the replacement character.
WideString Ucs2Text(const unsigned char* octets, std::size_t size) {
  WideString text = PDU16ToString(octets, size);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || (c >= 0xDC00 && c <= 0xDFFF)) {
      text[i] = u'\uFFFD';
    }
  }
  return text;
}

// The one way the decoder reads its input: a position in the hexadecimal
// text that only ever looks at characters inside it. Moving past the end
// is allowed; reads there fail.
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
    if (!HasOctets(n)) return false;
    const char* p = text_.data() + pos_;
    for (std::size_t i = 0; i < n; ++i, p += 2) {
      const int hi = HexDigit(p[0]), lo = HexDigit(p[1]);
      if ((hi | lo) < 0) return false;
      out[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return true;
  }
  void Skip(std::size_t octets) { pos_ += 2 * octets; }
  void SkipChars(std::size_t chars) { pos_ += chars; }

 private:
  const AnsiString& text_;
  std::size_t pos_ = 0;
};

DecodedSMS Fail(DecodedSMS& r, const char* error) {
  r.Error = error;
  r.Skip = true;
  r.Text.clear();
  return std::move(r);
}

// Swapped semi-octets, TS 23.040 9.1.2.3: the pair "91" reads 19.
int SwappedDecimal(char first, char second) {
  if (first < '0' || first > '9' || second < '0' || second > '9') return -1;
  return (second - '0') * 10 + (first - '0');
}

// TS 23.040 9.2.3.11: year, month, day, hour, minute, second, zone, each
// as swapped semi-octets; bit 3 of the zone octet is its sign. A stamp
// that does not read gives 0 and 0.
void ReadTimeStamp(const PduCursor& c, DecodedSMS& r) {
  r.TimeStamp = 0;
  r.TimeZone = 0;
  int f[6];
  for (std::size_t i = 0; i < 6; ++i)
    if ((f[i] = SwappedDecimal(c.Char(2 * i), c.Char(2 * i + 1))) < 0) return;
  const char units = c.Char(12);
  const int high = HexDigit(c.Char(13));
  if (units < '0' || units > '9' || high < 0) return;
  int zone = (high & 0x7) * 10 + (units - '0');
  if (high & 0x8) zone = -zone;
  const int year = f[0] <= 95 ? 2000 + f[0] : 1900 + f[0];
  TDateTime date, time;
  if (!TryEncodeDate(year, f[1], f[2], date) || !TryEncodeTime(f[3], f[4], f[5], 0, time)) return;
  r.TimeStamp = date + time;
  r.TimeZone = zone;
}

enum class Alphabet { Gsm7, Octets, Ucs2, None };

// TS 23.038 4. In the general groups (0x00-0x7F) bits 2-3 name the
// alphabet whatever the class and compression bits say. Reserved codings
// (bits 2-3 both set, groups 1000 to 1011) are read as the GSM 7-bit
// default alphabet, as the standard tells a receiver to. The "discard
// message" group (1100) is 7-bit text that a receiver may discard: it is.
Alphabet AlphabetOf(int dcs) {
  if (dcs < 0x80) {
    switch ((dcs >> 2) & 0x3) {
      case 0: return Alphabet::Gsm7;
      case 1: return Alphabet::Octets;
      case 2: return Alphabet::Ucs2;
      default: return Alphabet::Gsm7;  // reserved
    }
  }
  if (dcs < 0xC0) return Alphabet::Gsm7;           // reserved groups
  if (dcs < 0xD0) return Alphabet::None;           // message waiting, discard
  if (dcs < 0xE0) return Alphabet::Gsm7;           // message waiting, store
  if (dcs < 0xF0) return Alphabet::Ucs2;           // message waiting, UCS2
  return (dcs & 0x04) ? Alphabet::Octets : Alphabet::Gsm7;  // data coding/message class
}

// The octets of a reassembly slot (one character per octet) back as octets.
void SlotOctets(const UnicodeString& slot, unsigned char* out) {
  for (std::size_t i = 0; i < slot.size(); ++i) {
    unsigned char b;
    out[i] = WideCharToAnsi(slot[i], b) ? b : '?';
  }
}

// TS 23.040 9.1.2.5: the type of number in bits 4-6 of the type of address.
constexpr int kNumberTypeMask = 0x70;
constexpr int kInternational = 0x10;
constexpr int kAlphanumeric = 0x50;

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

// TS 23.040 9.2.3.24.1 and .8: concatenation with 8- and 16-bit references;
// 9.2.3.24.15 and .16: national language single and locking shift.
constexpr int kConcat8 = 0x00;
constexpr int kConcat16 = 0x08;
constexpr int kSingleShift = 0x24;
constexpr int kLockingShift = 0x25;

struct Concatenation {
  int reference = 0;
  int count = 0;
  int index = 0;
  int referenceBits = 0;  // 8 or 16; 0 when the header has no such element
};

// What the decoder takes from a user data header.
struct HeaderElements {
  Concatenation part;
  TNationalLanguageShiftTables singleShift = stDefault;
  TNationalLanguageShiftTables lockingShift = stDefault;
};

// Reads the information elements of a header of `length` octets at the
// cursor, without moving it (TS 23.040 9.2.3.24). Elements of other kinds
// or of a length their kind does not have are skipped; when one occurs
// twice the last counts. Returns an error name, or nullptr: a
// concatenation element that runs past the header is an error, any other
// element that does ends the reading, as does an identifier or length
// that is not hexadecimal.
const char* ReadHeaderElements(const PduCursor& c, std::size_t length, HeaderElements& out) {
  std::size_t at = 0;
  while (at + 2 <= length) {
    const int id = c.Octet(at), size = c.Octet(at + 1);
    if (id < 0 || size < 0) break;
    const std::size_t data = at + 2;
    if (data + static_cast<std::size_t>(size) > length) {
      if (id == kConcat8 || id == kConcat16) return decode_error::kConcatOutsideHeader;
      break;
    }
    auto value = [&](std::size_t i) {
      const int v = c.Octet(data + i);
      return v < 0 ? 0 : v;
    };
    if (id == kConcat8 && size == 3) {
      out.part = Concatenation{value(0), value(1), value(2), 8};
    } else if (id == kConcat16 && size == 4) {
      const int high = c.Octet(data), low = c.Octet(data + 1);
      out.part = Concatenation{high < 0 || low < 0 ? 0 : high * 256 + low, value(2), value(3), 16};
    } else if (id == kSingleShift && size == 1) {
      out.singleShift = NationalLanguageTable(c.Octet(data));
    } else if (id == kLockingShift && size == 1) {
      out.lockingShift = NationalLanguageTable(c.Octet(data));
    }
    at = data + static_cast<std::size_t>(size);
  }
  return nullptr;
}

}  // namespace

DecodedSMS PDUSMSToString(const AnsiString& MessageText, TConcatenatedSMSCollection* parts, TDateTime now,
                          const ReassemblyLimits& limits) {
  DecodedSMS r;
  if (parts != nullptr) parts->RemoveExpired(now, limits.MaxAgeSeconds);
  if (MessageText.empty()) return Fail(r, decode_error::kEmpty);
  PduCursor c(MessageText);

  // Service centre address (TS 24.011 8.2.5.1): length in octets, type, digits.
  if (!c.HasOctets(1)) return Fail(r, decode_error::kCenterTruncated);
  const int centerLength = c.NextOctetOr(0);
  if (centerLength > 0) {
    if (!c.HasOctets(static_cast<std::size_t>(centerLength))) return Fail(r, decode_error::kCenterTruncated);
    const int type = c.Octet(0);
    if (type >= 0 && (type & kNumberTypeMask) == kInternational) r.CenterNumber = "+";
    for (std::size_t i = 1; i < static_cast<std::size_t>(centerLength); ++i) {
      AppendSemiOctet(r.CenterNumber, c.Char(2 * i + 1));
      AppendSemiOctet(r.CenterNumber, c.Char(2 * i));
    }
    c.Skip(static_cast<std::size_t>(centerLength));
  }

  // First octet (TS 23.040 9.2.3.1-9.2.3.3, 9.2.3.23): TP-MTI, TP-VPF, TP-UDHI.
  if (!c.HasOctets(1)) return Fail(r, decode_error::kNoFirstOctet);
  const int first = c.NextOctetOr(0);
  // TS 23.040 9.2.3.1: a receiver reads the reserved type 3 as an SMS-DELIVER.
  const int messageType = (first & 0x03) == 3 ? 0 : first & 0x03;
  const int validityFormat = (first >> 3) & 0x03;
  const bool hasHeader = (first & 0x40) != 0;
  if (messageType == 2) return Fail(r, decode_error::kStatusReport);
  if (messageType == 1) {  // SMS-SUBMIT: TP-MR
    if (!c.HasOctets(1)) return Fail(r, decode_error::kNoMessageReference);
    c.Skip(1);
  }

  // TP-OA (TP-DA of an SMS-SUBMIT), TS 23.040 9.1.2.5: its length counts
  // useful semi-octets.
  if (!c.HasOctets(2)) return Fail(r, decode_error::kAddressTruncated);
  const int addressDigits = c.NextOctetOr(0);
  const int addressType = c.Octet(0);
  c.Skip(1);
  const bool international = addressType >= 0 && (addressType & kNumberTypeMask) == kInternational;
  const bool alphanumeric = addressType >= 0 && (addressType & kNumberTypeMask) == kAlphanumeric;
  const std::size_t addressChars = static_cast<std::size_t>(addressDigits + (addressDigits & 1));
  if (c.CharsLeft() < addressChars) return Fail(r, decode_error::kAddressTruncated);
  if (international) r.PhoneNumber = "+";
  if (alphanumeric) {
    // GSM 7-bit characters packed in the semi-octets (TS 23.040 9.1.2.5).
    Scratch octets(addressChars / 2);
    if (!c.ReadOctets(octets.size(), octets.data())) return Fail(r, decode_error::kAlphanumericNotHex);
    Scratch codes(SeptetsIn(octets.size(), 0));
    std::size_t count = UnpackSeptets(octets.data(), octets.size(), 0, static_cast<std::size_t>(addressDigits) * 4 / 7,
                                      codes.chars());
    // A length that counts the last octet whole ends in seven bits of
    // padding, which read as a final code 0 ("@"): not part of the name.
    if (count > 0 && codes.chars()[count - 1] == 0 && 7 * count == 8 * octets.size()) --count;
    WideString name;
    AppendGsmText(name, codes.chars(), count);
    r.PhoneNumber = WideToAnsi(name);
  } else {
    // Exactly the useful semi-octets; the filler after an odd count is not
    // a digit, whatever its value.
    for (std::size_t k = 0; k < static_cast<std::size_t>(addressDigits); ++k)
      AppendSemiOctet(r.PhoneNumber, c.Char(k ^ 1));
  }
  c.SkipChars(addressChars);

  // TP-PID (not reported), TP-DCS.
  if (!c.HasOctets(2)) return Fail(r, decode_error::kNoCodingScheme);
  c.Skip(1);
  const int dcs = c.NextOctetOr(0);

  // TP-SCTS of an SMS-DELIVER, or the TP-VP of an SMS-SUBMIT (TS 23.040
  // 9.2.3.12): absolute (read as a time stamp), relative, enhanced or none.
  if (messageType == 0 || validityFormat == 3) {
    if (!c.HasOctets(7)) return Fail(r, decode_error::kTimeStampTruncated);
    ReadTimeStamp(c, r);
    c.Skip(7);
  } else if (validityFormat == 2 || validityFormat == 1) {
    const std::size_t octets = validityFormat == 2 ? 1 : 7;
    if (!c.HasOctets(octets)) return Fail(r, decode_error::kValidityTruncated);
    c.Skip(octets);
  }

  // TP-UDL: septets in 7-bit, the header included; octets otherwise.
  if (!c.HasOctets(1)) return Fail(r, decode_error::kNoUserDataLength);
  const int userDataLength = c.NextOctetOr(-1);

  // TP-UD header (TS 23.040 9.2.3.24), every element read in turn.
  int headerLength = 0;
  HeaderElements header;
  const Concatenation& part = header.part;
  if (hasHeader) {
    if (!c.HasOctets(1)) return Fail(r, decode_error::kHeaderTruncated);
    headerLength = c.NextOctetOr(0);
    if (!c.HasOctets(static_cast<std::size_t>(headerLength))) return Fail(r, decode_error::kHeaderTruncated);
    if (const char* error = ReadHeaderElements(c, static_cast<std::size_t>(headerLength), header))
      return Fail(r, error);
    if (part.referenceBits != 0 && (part.index < 1 || part.count < 1 || part.index > part.count))
      return Fail(r, decode_error::kBadPartIndex);
    c.Skip(static_cast<std::size_t>(headerLength));
  }
  const bool concatenated = part.referenceBits != 0;
  if (concatenated) {
    r.PartReference = part.reference;
    r.PartCount = part.count;
    r.PartNumber = part.index;
  }

  // TP-UD after the header: every remaining pair of digits.
  const std::size_t left = c.CharsLeft();
  if (left % 2 != 0) return Fail(r, decode_error::kOddUserData);
  Scratch octets(left / 2);
  if (!c.ReadOctets(octets.size(), octets.data())) return Fail(r, decode_error::kUserDataNotHex);

  const Alphabet alphabet = AlphabetOf(dcs);

  // 7-bit text starts on a septet boundary after the header: fill bits,
  // then TP-UDL minus the header's septets. When TP-UDL does not read,
  // every septet present counts, less a final code 0 taken for padding.
  const std::size_t fill = hasHeader ? (7 - ((headerLength + 1) * 8) % 7) % 7 : 0;
  const int headerSeptets = hasHeader ? static_cast<int>(((headerLength + 1) * 8 + fill) / 7) : 0;

  // TP-UDL counts septets (the discard group is 7-bit too) or octets, the
  // header included: user data shorter than that was cut on its way.
  if (userDataLength >= 0) {
    const std::size_t headerOctets = hasHeader ? static_cast<std::size_t>(headerLength) + 1 : 0;
    const bool septetLength = alphabet == Alphabet::Gsm7 || alphabet == Alphabet::None;
    std::size_t needed = static_cast<std::size_t>(userDataLength);
    if (septetLength) needed = userDataLength > headerSeptets ? (needed * 7 + 7) / 8 : headerOctets;
    if (headerOctets + octets.size() < needed) return Fail(r, decode_error::kUserDataTruncated);
  }
  // The codes themselves are needed now only for a message in one part,
  // or to see whether the last septet is padding.
  const bool oneMessage = !concatenated || parts == nullptr;
  Scratch codes(alphabet == Alphabet::Gsm7 && (oneMessage || userDataLength < 0) ? SeptetsIn(octets.size(), fill) : 0);
  std::size_t codeCount = 0;
  if (alphabet == Alphabet::Gsm7) {
    if (userDataLength >= 0) {
      const int septets = userDataLength > headerSeptets ? userDataLength - headerSeptets : 0;
      codeCount = std::min(static_cast<std::size_t>(septets), SeptetsIn(octets.size(), fill));
      if (oneMessage) UnpackSeptets(octets.data(), octets.size(), fill, codeCount, codes.chars());
    } else {
      codeCount = UnpackSeptets(octets.data(), octets.size(), fill, codes.size(), codes.chars());
      if (codeCount > 0 && codes.chars()[codeCount - 1] == 0) --codeCount;
    }
  }

  TConcatenatedSMS* entry = nullptr;
  if (concatenated && parts != nullptr) {
    const int at = parts->IndexOf(r.PhoneNumber, part.reference, part.count, part.referenceBits);
    if (at >= 0) {
      entry = parts->GetItem(at);
    } else {
      if (limits.MaxEntries >= 1) parts->RemoveOldest(limits.MaxEntries - 1);
      auto created =
          std::make_unique<TConcatenatedSMS>(part.reference, part.count, now, r.PhoneNumber, part.referenceBits);
      if (parts->Add(created.get())) entry = created.release();
    }
    if (entry == nullptr) return Fail(r, decode_error::kBadPartIndex);
    // A 7-bit part is kept without its fill bits, with its septet count
    // and the shift tables its own header named.
    bool ok;
    if (alphabet == Alphabet::Gsm7) {
      Scratch unpadded(octets.size());
      Unpad7bitBoundary(octets.data(), octets.size(), static_cast<int>(fill), unpadded.data());
      ok = entry->SetPart(part.index - 1, unpadded.data(), unpadded.size(), static_cast<int>(codeCount),
                          header.lockingShift, header.singleShift);
    } else {
      ok = entry->SetPart(part.index - 1, octets.data(), octets.size());
    }
    if (!ok) return Fail(r, decode_error::kBadPartIndex);
  }

  if (alphabet == Alphabet::None) return r;
  if (entry == nullptr) {
    switch (alphabet) {
      case Alphabet::Gsm7:
        r.Text.reserve(codeCount);
        AppendGsmText(r.Text, codes.chars(), codeCount, header.singleShift, header.lockingShift);
        break;
      case Alphabet::Octets:
        r.Text.resize(octets.size());
        for (std::size_t i = 0; i < octets.size(); ++i) r.Text[i] = AnsiCharToWide(octets.data()[i]);
        break;
      case Alphabet::Ucs2: r.Text = Ucs2Text(octets.data(), octets.size()); break;
      case Alphabet::None: break;
    }
    return r;
  }
  if (!entry->IsComplete()) {
    r.Skip = true;
    return r;
  }
  const int slots = std::min(entry->Length(), entry->Count());
  switch (alphabet) {
    case Alphabet::Gsm7: {
      // Each part unpacks by itself.
      std::size_t total = 0;
      for (int i = 0; i < slots; ++i) total += SeptetsIn(entry->Get(i).size(), 0);
      r.Text.reserve(total);
      for (int i = 0; i < slots; ++i) {
        const UnicodeString& slot = entry->Get(i);
        Scratch partOctets(slot.size());
        SlotOctets(slot, partOctets.data());
        Scratch partCodes(SeptetsIn(slot.size(), 0));
        const int septets = entry->GetPartSeptets(i);
        if (septets >= 0) {
          const std::size_t n = UnpackSeptets(partOctets.data(), partOctets.size(), 0,
                                              static_cast<std::size_t>(septets), partCodes.chars());
          AppendGsmText(r.Text, partCodes.chars(), n, entry->GetPartSingleShift(i), entry->GetPartLockingShift(i));
        } else {
          // Stored without a count: every septet, less a final code 0.
          std::size_t n = UnpackSeptets(partOctets.data(), partOctets.size(), 0, partCodes.size(), partCodes.chars());
          if (n > 0 && partCodes.chars()[n - 1] == 0) --n;
          AppendGsmText(r.Text, partCodes.chars(), n);
        }
      }
      break;
    }
    case Alphabet::Octets: r.Text = PDU8ToString(entry->GetEntireSMS()); break;
    case Alphabet::Ucs2: {
      const AnsiString all = entry->GetEntireSMS();
      r.Text = Ucs2Text(reinterpret_cast<const unsigned char*>(all.data()), all.size());
      break;
    }
    case Alphabet::None: break;
  }
  parts->Delete(parts->IndexOf(entry), true);
  return r;
}

}  // namespace vesk::codec
