// The SMS-DELIVER decoder (TS 23.040 9.2.2.1), which also reads the
// SMS-SUBMIT PDUs (9.2.2.2) that a modem keeps of sent and unsent
// messages, as the modem prints them in PDU mode: hexadecimal text, the
// service centre address first (TS 27.005 3.1).
//
// Malformed input is never an exception: the result names what was wrong
// (Error), Skip is set and the text is empty. The PDU is read through one
// bounds-checked cursor and never past its end. A field that is present but
// does not read as hexadecimal falls back to 0 (service centre length,
// first octet, address length, data coding scheme, header length,
// concatenation values) and decoding goes on; a time stamp that does not
// read gives TimeStamp 0 and TimeZone 0.
//
// Parts of a concatenated message are held in a TConcatenatedSMSCollection
// until the last one arrives, which returns the whole text; the other parts
// come back with Skip set. Entries are keyed by sender, reference, the
// reference's size (8 or 16 bits) and part count; entries older than the
// age limit are dropped on every call, and the oldest go when a new entry
// would exceed the entry limit.
//
// The user data header is read element by element: concatenation (8- or
// 16-bit reference) wherever it stands, and the national language single
// and locking shift elements, whose tables decode the 7-bit text.
//
// Any thread, but a collection must be used by one thread at a time.
#pragma once

#include <optional>

#include "component/Framework.h"

namespace vesk {
class TConcatenatedSMSCollection;
}

namespace vesk::codec {

// Names of the ways a PDU fails to decode.
namespace decode_error {
constexpr const char kEmpty[] = "PDU is empty";
constexpr const char kCenterTruncated[] = "PDU ends inside the service centre address";
constexpr const char kNoFirstOctet[] = "PDU ends before its first octet";
constexpr const char kStatusReport[] = "SMS-STATUS-REPORT PDUs are not decoded";
constexpr const char kNoMessageReference[] = "PDU ends before the message reference";
constexpr const char kAddressTruncated[] = "PDU ends inside the originating address";
constexpr const char kAlphanumericNotHex[] = "alphanumeric address is not hexadecimal";
constexpr const char kNoCodingScheme[] = "PDU ends before the data coding scheme";
constexpr const char kTimeStampTruncated[] = "PDU ends inside the time stamp";
constexpr const char kValidityTruncated[] = "PDU ends inside the validity period";
constexpr const char kNoUserDataLength[] = "PDU ends before the user data length";
constexpr const char kHeaderTruncated[] = "user data header runs past the end of the PDU";
constexpr const char kConcatOutsideHeader[] = "concatenation element runs past the user data header";
constexpr const char kBadPartIndex[] = "concatenation part index is not between 1 and the part count";
constexpr const char kOddUserData[] = "user data has an odd number of hex digits";
constexpr const char kUserDataNotHex[] = "user data is not hexadecimal";
constexpr const char kUserDataTruncated[] = "user data is shorter than its length";
}  // namespace decode_error

struct DecodedSMS {
  // The message text; empty while a concatenated message is incomplete,
  // for a data coding scheme without an alphabet, and on failure.
  WideString Text;
  // Originating address (destination of an SMS-SUBMIT): "+" and digits
  // when international, or an alphanumeric sender's name.
  AnsiString PhoneNumber;
  // Service centre number, "+" first when international; empty when absent.
  AnsiString CenterNumber;
  // Set when the PDU has a time stamp field (the absolute validity period
  // of an SMS-SUBMIT); 0 and 0 when it does not read. Unset: the caller's
  // values stand.
  std::optional<TDateTime> TimeStamp;
  std::optional<int> TimeZone;  // quarter hours, negative west of Greenwich
  // True when the text is not to be reported: a part of an incomplete
  // message, or a PDU that failed (then Error names why).
  bool Skip = false;
  // Empty when the PDU decoded; otherwise one of decode_error.
  AnsiString Error;
  // The concatenation element of a part of a long message (reference,
  // part count, this part's number from 1); all 0 for a single message.
  int PartReference = 0;
  int PartCount = 0;
  int PartNumber = 0;
};

struct ReassemblyLimits {
  int MaxAgeSeconds = 86400;  // < 1: entries never expire
  int MaxEntries = 64;        // < 1: no cap
};

// Decodes one PDU. `parts` may be null: each part of a concatenated
// message then decodes by itself. `now` stamps new entries and expires old
// ones.
DecodedSMS PDUSMSToString(const AnsiString& MessageText, TConcatenatedSMSCollection* parts, TDateTime now,
                          const ReassemblyLimits& limits = {});

}  // namespace vesk::codec
