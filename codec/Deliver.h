// The SMS-DELIVER decoder (TS 23.040 9.2.2.1), which also reads the
// SMS-SUBMIT PDUs (9.2.2.2) that a modem keeps of sent and unsent
// messages, as the modem prints them in PDU mode: hexadecimal text, the
// service centre address first (TS 27.005 3.1).
//
// DecodeDeliver gives the fields of one PDU: its addresses and time stamp,
// its data coding scheme, the user data header's elements (concatenation
// with its reference size, the national language shift tables) and the
// user data after the header. UserDataText turns that user data into text
// with the PDU's own alphabet, fill bits and tables. Holding the parts of
// a long message and joining them is the reassembly's work
// (incoming/Reassembly.h), which keys the parts by ConcatenationKey.
//
// Malformed input is never an exception: Error names what was wrong. The
// PDU is read through one bounds-checked cursor and never past its end. A
// field that is present but does not read as hexadecimal falls back to 0
// (service centre length, first octet, address length, data coding
// scheme, header length, concatenation values) and decoding goes on; a
// time stamp that does not read gives TimeStamp 0 and TimeZone 0.
//
// Pure functions: any thread, no state.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk::codec {

// Names of the ways a PDU fails to decode.
namespace decode_error {
constexpr const char kEmpty[] = "PDU is empty";
constexpr const char kCenterTruncated[] = "PDU ends inside the service centre address";
constexpr const char kNoFirstOctet[] = "PDU ends before its first octet";
constexpr const char kStatusReport[] = "SMS-STATUS-REPORT PDUs are not decoded";
constexpr const char kNoMessageReference[] = "PDU ends before the message reference";
constexpr const char kAddressTruncated[] = "PDU ends inside the originating address";
constexpr const char kAddressTooLong[] = "originating address claims more than 20 digits";
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

// TS 23.040 9.1.2.5: an address field holds at most 20 semi-octets.
constexpr int kMaxAddressDigits = 20;

// TS 23.038 4: the alphabet a data coding scheme names. In the general
// groups (0x00-0x7F) bits 2-3 name it whatever the class and compression
// bits say; reserved codings are read as the GSM 7-bit default alphabet,
// as the standard tells a receiver to; the "discard message" group (1100)
// has no text.
enum class UserDataAlphabet { Gsm7, Octets, Ucs2, None };
UserDataAlphabet AlphabetOf(int dataCodingScheme);

// What makes the parts of one long message one message: the sender, the
// reference, the size of the element that carried it (TS 23.040
// 9.2.3.24.1 an 8-bit, 9.2.3.24.8 a 16-bit reference) and the part count.
// Two senders that pick the same reference, one sender reusing a
// reference for a message of another length, or the same number in the
// two element kinds are different messages.
struct ConcatenationKey {
  AnsiString Sender;
  int Reference = 0;
  int ReferenceBits = 0;  // 8 or 16; 0 for a message in one part
  int Count = 0;

  bool IsPart() const { return ReferenceBits != 0; }
};
bool operator==(const ConcatenationKey& a, const ConcatenationKey& b);
inline bool operator!=(const ConcatenationKey& a, const ConcatenationKey& b) { return !(a == b); }
// An order for maps: reference first, sender last.
bool operator<(const ConcatenationKey& a, const ConcatenationKey& b);

// The user data after the header as octets: in the object itself up to
// what any well-formed PDU holds, on the heap beyond.
class UserDataOctets {
 public:
  UserDataOctets() = default;
  UserDataOctets(const UserDataOctets& other) { Assign(other.data(), other.size()); }
  UserDataOctets& operator=(const UserDataOctets& other) {
    if (this != &other) Assign(other.data(), other.size());
    return *this;
  }

  const unsigned char* data() const { return heap_.empty() ? local_ : heap_.data(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Room for n octets, their values unspecified.
  unsigned char* Resize(std::size_t n);
  void Assign(const unsigned char* octets, std::size_t n);

 private:
  static constexpr std::size_t kLocal = 160;
  unsigned char local_[kLocal];
  std::vector<unsigned char> heap_;
  std::size_t size_ = 0;
};

// The fields of one SMS-DELIVER (or stored SMS-SUBMIT) PDU.
struct DeliverPDU {
  // Empty when the PDU decoded; otherwise one of decode_error (the fields
  // read before the failure keep their values).
  const char* Error = nullptr;
  // Service centre number, "+" first when international; empty when absent.
  AnsiString CenterNumber;
  // Originating address (destination of an SMS-SUBMIT): "+" and digits
  // when international, or an alphanumeric sender's name.
  AnsiString PhoneNumber;
  // Set when the PDU has a time stamp field (the absolute validity period
  // of an SMS-SUBMIT); 0 and 0 when it does not read.
  std::optional<TDateTime> TimeStamp;
  std::optional<int> TimeZone;  // quarter hours, negative west of Greenwich
  int MessageType = 0;          // TP-MTI: 0 SMS-DELIVER, 1 SMS-SUBMIT
  int DataCodingScheme = 0;     // TP-DCS
  UserDataAlphabet Alphabet = UserDataAlphabet::Gsm7;
  // TP-UDHL, -1 without a header; the fill bits that align 7-bit text
  // after the header (TS 23.040 9.2.3.24), 0 for other alphabets.
  int HeaderLength = -1;
  int FillBits = 0;
  // TS 23.040 9.2.3.24.15 and .16; stDefault when the header names none.
  TNationalLanguageShiftTables SingleShift = stDefault;
  TNationalLanguageShiftTables LockingShift = stDefault;
  // The concatenation element: this part's number from 1 (0 for a message
  // in one part) and the key of its message.
  int PartNumber = 0;
  ConcatenationKey Key;
  // The user data after the header, fill bits included. Septets: the
  // number of 7-bit codes in it by TP-UDL; -1 when TP-UDL did not read
  // (then every septet counts, less a final code 0 taken for padding).
  UserDataOctets UserData;
  int Septets = -1;
};

// Decodes the fields of one PDU. Never raises but std::bad_alloc.
DeliverPDU DecodeDeliver(const AnsiString& MessageText);

// The text of one PDU's user data, decoded with its own alphabet, fill
// bits, septet count and shift tables; empty without an alphabet.
WideString UserDataText(const DeliverPDU& pdu);

// Appends the text of 7-bit user data: `septets` codes (-1: every one the
// octets hold, less a final code 0) after `fillBits` bits, read with the
// two tables.
void AppendSevenBitText(WideString& out, const unsigned char* octets, std::size_t size, int fillBits, int septets,
                        TNationalLanguageShiftTables singleShift, TNationalLanguageShiftTables lockingShift);
// Appends 8-bit data, each octet as a Windows-1252 character.
void AppendOctetText(WideString& out, const unsigned char* octets, std::size_t size);
// Appends UCS2 octet pairs, high octet first, a final odd octet ignored;
// a surrogate without its partner becomes U+FFFD, so the text is
// well-formed UTF-16.
void AppendUcs2Text(WideString& out, const unsigned char* octets, std::size_t size);

// What the component's decoder reports of one PDU.
struct DecodedSMS {
  // The message text; empty while a concatenated message is incomplete,
  // for a data coding scheme without an alphabet, and on failure.
  WideString Text;
  AnsiString PhoneNumber;
  AnsiString CenterNumber;
  // Unset: the PDU has no time stamp field and the caller's values stand.
  std::optional<TDateTime> TimeStamp;
  std::optional<int> TimeZone;
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
  // The key of the message the part belongs to (ReferenceBits 0 for a
  // single message): the same key the reassembly holds its parts under.
  ConcatenationKey Key;
};

// The report of a PDU's fields, without its text. A failure comes back
// skipped, Error naming it.
DecodedSMS ReportOf(DeliverPDU&& pdu);
// The report of a PDU taken by itself: its fields and its own text (a part
// of a long message decodes alone).
DecodedSMS DecodeAlone(DeliverPDU&& pdu);

}  // namespace vesk::codec
