#include "codec/Deliver.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/Alphabet.h"
#include "codec/Hex.h"
#include "codec/Packing.h"
#include "codec/PduFields.h"

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

DeliverPDU Fail(DeliverPDU& r, const char* error) {
  r.Error = error;
  return std::move(r);
}

// TS 23.040 9.2.3.11 at the cursor; a stamp that does not read gives 0 and 0.
void ReadStampInto(const PduCursor& c, DeliverPDU& r) {
  TDateTime stamp;
  int zone;
  ReadTimeStamp(c, stamp, zone);
  r.TimeStamp = stamp;
  r.TimeZone = zone;
}

constexpr AddressErrors kOriginatingAddressErrors = {decode_error::kAddressTruncated, decode_error::kAddressTooLong,
                                                     decode_error::kAlphanumericNotHex};

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

UserDataAlphabet AlphabetOf(int dcs) {
  if (dcs < 0x80) {
    switch ((dcs >> 2) & 0x3) {
      case 0: return UserDataAlphabet::Gsm7;
      case 1: return UserDataAlphabet::Octets;
      case 2: return UserDataAlphabet::Ucs2;
      default: return UserDataAlphabet::Gsm7;  // reserved
    }
  }
  if (dcs < 0xC0) return UserDataAlphabet::Gsm7;  // reserved groups
  if (dcs < 0xD0) return UserDataAlphabet::None;  // message waiting, discard
  if (dcs < 0xE0) return UserDataAlphabet::Gsm7;  // message waiting, store
  if (dcs < 0xF0) return UserDataAlphabet::Ucs2;  // message waiting, UCS2
  return (dcs & 0x04) ? UserDataAlphabet::Octets : UserDataAlphabet::Gsm7;  // data coding/message class
}

bool operator==(const ConcatenationKey& a, const ConcatenationKey& b) {
  return a.Reference == b.Reference && a.Count == b.Count && a.ReferenceBits == b.ReferenceBits &&
         a.Sender == b.Sender;
}

bool operator<(const ConcatenationKey& a, const ConcatenationKey& b) {
  if (a.Reference != b.Reference) return a.Reference < b.Reference;
  if (a.Count != b.Count) return a.Count < b.Count;
  if (a.ReferenceBits != b.ReferenceBits) return a.ReferenceBits < b.ReferenceBits;
  return a.Sender < b.Sender;
}

unsigned char* UserDataOctets::Resize(std::size_t n) {
  size_ = n;
  if (n <= kLocal) {
    heap_.clear();
    return local_;
  }
  heap_.resize(n);
  return heap_.data();
}

void UserDataOctets::Assign(const unsigned char* octets, std::size_t n) {
  unsigned char* out = Resize(n);
  if (n > 0) std::memcpy(out, octets, n);
}

DeliverPDU DecodeDeliver(const AnsiString& MessageText) {
  DeliverPDU r;
  if (MessageText.empty()) return Fail(r, decode_error::kEmpty);
  PduCursor c(MessageText);

  // Service centre address (TS 24.011 8.2.5.1): length in octets, type, digits.
  if (!ReadServiceCentre(c, r.CenterNumber)) return Fail(r, decode_error::kCenterTruncated);

  // First octet (TS 23.040 9.2.3.1-9.2.3.3, 9.2.3.23): TP-MTI, TP-VPF, TP-UDHI.
  if (!c.HasOctets(1)) return Fail(r, decode_error::kNoFirstOctet);
  const int first = c.NextOctetOr(0);
  // TS 23.040 9.2.3.1: a receiver reads the reserved type 3 as an SMS-DELIVER.
  r.MessageType = (first & 0x03) == 3 ? 0 : first & 0x03;
  const int validityFormat = (first >> 3) & 0x03;
  const bool hasHeader = (first & 0x40) != 0;
  if (r.MessageType == 2) return Fail(r, decode_error::kStatusReport);
  if (r.MessageType == 1) {  // SMS-SUBMIT: TP-MR
    if (!c.HasOctets(1)) return Fail(r, decode_error::kNoMessageReference);
    c.Skip(1);
  }

  // TP-OA (TP-DA of an SMS-SUBMIT), TS 23.040 9.1.2.5.
  int addressType;
  if (const char* error = ReadAddress(c, r.PhoneNumber, addressType, kOriginatingAddressErrors)) return Fail(r, error);

  // TP-PID (not reported), TP-DCS.
  if (!c.HasOctets(2)) return Fail(r, decode_error::kNoCodingScheme);
  c.Skip(1);
  r.DataCodingScheme = c.NextOctetOr(0);
  r.Alphabet = AlphabetOf(r.DataCodingScheme);

  // TP-SCTS of an SMS-DELIVER, or the TP-VP of an SMS-SUBMIT (TS 23.040
  // 9.2.3.12): absolute (read as a time stamp), relative, enhanced or none.
  if (r.MessageType == 0 || validityFormat == 3) {
    if (!c.HasOctets(7)) return Fail(r, decode_error::kTimeStampTruncated);
    ReadStampInto(c, r);
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
    r.HeaderLength = headerLength;
  }
  r.SingleShift = header.singleShift;
  r.LockingShift = header.lockingShift;
  if (part.referenceBits != 0) {
    r.PartNumber = part.index;
    r.Key.Sender = r.PhoneNumber;
    r.Key.Reference = part.reference;
    r.Key.ReferenceBits = part.referenceBits;
    r.Key.Count = part.count;
  }

  // TP-UD after the header: every remaining pair of digits.
  const std::size_t left = c.CharsLeft();
  if (left % 2 != 0) return Fail(r, decode_error::kOddUserData);
  if (!c.ReadOctets(left / 2, r.UserData.Resize(left / 2))) {
    r.UserData.Resize(0);
    return Fail(r, decode_error::kUserDataNotHex);
  }
  const std::size_t octetCount = r.UserData.size();

  // 7-bit text starts on a septet boundary after the header: fill bits,
  // then TP-UDL minus the header's septets.
  const std::size_t fill = hasHeader ? (7 - ((headerLength + 1) * 8) % 7) % 7 : 0;
  const int headerSeptets = hasHeader ? static_cast<int>(((headerLength + 1) * 8 + fill) / 7) : 0;
  if (r.Alphabet == UserDataAlphabet::Gsm7) r.FillBits = static_cast<int>(fill);

  // TP-UDL counts septets (the discard group is 7-bit too) or octets, the
  // header included: user data shorter than that was cut on its way.
  if (userDataLength >= 0) {
    const std::size_t headerOctets = hasHeader ? static_cast<std::size_t>(headerLength) + 1 : 0;
    const bool septetLength = r.Alphabet == UserDataAlphabet::Gsm7 || r.Alphabet == UserDataAlphabet::None;
    std::size_t needed = static_cast<std::size_t>(userDataLength);
    if (septetLength) needed = userDataLength > headerSeptets ? (needed * 7 + 7) / 8 : headerOctets;
    if (headerOctets + octetCount < needed) return Fail(r, decode_error::kUserDataTruncated);
    if (r.Alphabet == UserDataAlphabet::Gsm7) {
      const int septets = userDataLength > headerSeptets ? userDataLength - headerSeptets : 0;
      r.Septets = static_cast<int>(std::min(static_cast<std::size_t>(septets), SeptetsIn(octetCount, fill)));
    }
  }
  return r;
}

void AppendSevenBitText(WideString& out, const unsigned char* octets, std::size_t size, int fillBits, int septets,
                        TNationalLanguageShiftTables singleShift, TNationalLanguageShiftTables lockingShift) {
  const auto fill = static_cast<std::size_t>(fillBits);
  Scratch codes(SeptetsIn(size, fill));
  std::size_t count;
  if (septets >= 0) {
    count = UnpackSeptets(octets, size, fill, static_cast<std::size_t>(septets), codes.chars());
  } else {
    count = UnpackSeptets(octets, size, fill, codes.size(), codes.chars());
    if (count > 0 && codes.chars()[count - 1] == 0) --count;
  }
  AppendGsmText(out, codes.chars(), count, singleShift, lockingShift);
}

void AppendOctetText(WideString& out, const unsigned char* octets, std::size_t size) {
  const std::size_t n = out.size();
  out.resize(n + size);
  for (std::size_t i = 0; i < size; ++i) out[n + i] = AnsiCharToWide(octets[i]);
}

void AppendUcs2Text(WideString& out, const unsigned char* octets, std::size_t size) {
  const std::size_t n = out.size();
  const std::size_t units = size / 2;
  out.resize(n + units);
  char16_t* const text = &out[0] + n;
  unsigned surrogates = 0;
  for (std::size_t i = 0; i < units; ++i) {
    const auto c = static_cast<char16_t>(octets[2 * i] << 8 | octets[2 * i + 1]);
    surrogates |= (c & 0xF800) == 0xD800;
    text[i] = c;
  }
  if (surrogates == 0) return;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t c = text[i];
    if (c < 0xD800 || c > 0xDFFF) continue;
    if (c <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else {
      text[i] = u'\uFFFD';
    }
  }
}

WideString UserDataText(const DeliverPDU& pdu) {
  WideString text;
  const unsigned char* octets = pdu.UserData.data();
  const std::size_t size = pdu.UserData.size();
  switch (pdu.Alphabet) {
    case UserDataAlphabet::Gsm7:
      AppendSevenBitText(text, octets, size, pdu.FillBits, pdu.Septets, pdu.SingleShift, pdu.LockingShift);
      break;
    case UserDataAlphabet::Octets: AppendOctetText(text, octets, size); break;
    case UserDataAlphabet::Ucs2: AppendUcs2Text(text, octets, size); break;
    case UserDataAlphabet::None: break;
  }
  return text;
}

DecodedSMS ReportOf(DeliverPDU&& pdu) {
  DecodedSMS r;
  r.PhoneNumber = std::move(pdu.PhoneNumber);
  r.CenterNumber = std::move(pdu.CenterNumber);
  r.TimeStamp = pdu.TimeStamp;
  r.TimeZone = pdu.TimeZone;
  if (pdu.Error != nullptr) {
    r.Error = pdu.Error;
    r.Skip = true;
    return r;
  }
  if (pdu.Key.IsPart()) {
    r.PartReference = pdu.Key.Reference;
    r.PartCount = pdu.Key.Count;
    r.PartNumber = pdu.PartNumber;
    r.Key = std::move(pdu.Key);
  }
  return r;
}

DecodedSMS DecodeAlone(DeliverPDU&& pdu) {
  if (pdu.Error != nullptr) return ReportOf(std::move(pdu));
  WideString text = UserDataText(pdu);
  DecodedSMS r = ReportOf(std::move(pdu));
  r.Text = std::move(text);
  return r;
}

}  // namespace vesk::codec
