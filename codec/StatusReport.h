// The SMS-STATUS-REPORT decoder (TS 23.040 9.2.2.3): what a service
// centre says of a message sent with TP-SRR set, as a modem prints it in
// PDU mode (+CDS: <length>, a stored report read with +CMGR or +CMGL):
// hexadecimal text, the service centre address first (TS 27.005 3.1).
//
//   first octet    TP-MTI (10), TP-MMS, TP-LP, TP-SRQ, TP-UDHI   9.2.3.1-3, 26, 23
//   TP-MR          the reference the SMS-SUBMIT carried           9.2.3.6
//   TP-RA          the recipient, as the SC knows it              9.2.3.14
//   TP-SCTS        when the SC received the SMS-SUBMIT            9.2.3.11
//   TP-DT          when the SC delivered it, or tried last        9.2.3.13
//   TP-ST          what became of it                              9.2.3.15
//   TP-PI          optional: which of the following there are     9.2.3.27
//   TP-PID, TP-DCS, TP-UDL, TP-UD (each optional)
//
// Malformed input is never an exception: Error names what was wrong, and
// the fields read before it keep their values. Every byte comes through
// the bounds-checked cursor of codec/PduFields.h. The mandatory fields
// decide whether a report decodes; the optional ones after TP-ST are read
// as far as the PDU holds them, since service centres and modems are
// known to cut them or pad the PDU (OptionalCut then says so), and a time
// stamp that does not read gives 0 and 0, as in the DELIVER decoder.
//
// Pure functions: any thread, no state.
#pragma once

#include <optional>

#include "codec/Deliver.h"
#include "component/Framework.h"

namespace vesk::codec {

// Names of the ways a status report fails to decode.
namespace report_error {
constexpr const char kEmpty[] = "PDU is empty";
constexpr const char kCenterTruncated[] = "PDU ends inside the service centre address";
constexpr const char kNoFirstOctet[] = "PDU ends before its first octet";
constexpr const char kNotStatusReport[] = "PDU is not an SMS-STATUS-REPORT";
constexpr const char kNoMessageReference[] = "PDU ends before the message reference";
constexpr const char kReferenceNotHex[] = "message reference is not hexadecimal";
constexpr const char kRecipientTruncated[] = "PDU ends inside the recipient address";
constexpr const char kRecipientTooLong[] = "recipient address claims more than 20 digits";
constexpr const char kAlphanumericNotHex[] = "alphanumeric recipient address is not hexadecimal";
constexpr const char kTimeStampTruncated[] = "PDU ends inside the service centre time stamp";
constexpr const char kDischargeTimeTruncated[] = "PDU ends inside the discharge time";
constexpr const char kNoStatus[] = "PDU ends before the status";
constexpr const char kStatusNotHex[] = "status is not hexadecimal";
}  // namespace report_error

// What the optional parameters lacked: the PDU ends where TP-PI said
// there was more.
namespace report_note {
constexpr const char kParametersCut[] = "PDU ends before the parameters its indicator announces";
constexpr const char kUserDataCut[] = "user data is shorter than its length";
}  // namespace report_note

// TS 23.040 9.2.3.15 TP-Status, by the classes of its bits 6-5.
enum class ReportStatusClass {
  Completed,       // 0x00-0x1F: the transaction completed (received, forwarded, replaced)
  StillTrying,     // 0x20-0x3F: temporary error, the SC still tries
  PermanentError,  // 0x40-0x5F: permanent error, no more attempts
  GaveUp,          // 0x60-0x7F: temporary error, no more attempts
};
// Reserved values (bit 7 set) are read as 0x63 "service rejected", as the
// standard tells a receiving SME to.
ReportStatusClass ClassOfStatus(int status);
// Whether the SC has finished with the message: every class but StillTrying.
bool IsFinalStatus(int status);
// 0x46: the validity period expired.
constexpr int kStatusValidityExpired = 0x46;
// The TP-ST of a reserved value, 0x63 "service rejected"; others unchanged.
int EffectiveStatus(int status);

struct StatusReportPDU {
  // Empty when the mandatory fields decoded; one of report_error otherwise.
  const char* Error = nullptr;
  // Non-null when an optional parameter that TP-PI announced is missing or
  // cut: one of report_note. The report itself still stands.
  const char* OptionalCut = nullptr;

  AnsiString CenterNumber;  // "+" first when international; empty when absent
  int FirstOctet = 0;
  bool MoreMessagesToSend = false;  // TP-MMS (bit 2 clear: more to send)
  bool LoopPrevention = false;      // TP-LP
  bool ReportsOnCommand = false;    // TP-SRQ: the SMS-SUBMIT (0) or an SMS-COMMAND (1)
  bool HasHeader = false;           // TP-UDHI
  int MessageReference = -1;        // TP-MR, 0 to 255
  // TP-RA: "+" and digits when international, a name when alphanumeric.
  AnsiString Recipient;
  int RecipientType = -1;  // its type of address octet, -1 when it does not read
  // TP-SCTS and TP-DT with their zones in quarter hours; 0 and 0 when one
  // does not read.
  TDateTime ServiceCentreTimeStamp = 0;
  int ServiceCentreTimeZone = 0;
  TDateTime DischargeTime = 0;
  int DischargeTimeZone = 0;
  int Status = -1;  // TP-ST as received

  // TP-PI (its first octet) and what it announces; unset when absent.
  std::optional<int> ParameterIndicator;
  std::optional<int> ProtocolIdentifier;
  std::optional<int> DataCodingScheme;
  std::optional<int> UserDataLength;
  // The user data after its header (fill bits included), and its text in
  // the alphabet of TP-DCS (0, the GSM 7-bit alphabet, when TP-DCS is
  // absent but TP-UDL present).
  UserDataOctets UserData;
  WideString Text;
};

// Decodes one status report, service centre address first. Never raises
// but std::bad_alloc.
StatusReportPDU DecodeStatusReport(const AnsiString& MessageText);
// The same without the service centre address: the TPDU alone, as some
// modems print it after +CDS.
StatusReportPDU DecodeStatusReportTpdu(const AnsiString& MessageText);

// Whether the PDU's first octet (after its service centre address) names
// an SMS-STATUS-REPORT (TP-MTI 10). False when it does not read.
bool IsStatusReportPDU(const AnsiString& MessageText);

// A recipient as a pairing compares it: for a number, its digits without
// a leading "+", "00" or national "0" (and without blanks, dashes, dots
// or brackets); an alphanumeric address in capitals.
AnsiString NormalisedRecipient(const AnsiString& address);
// Whether two recipients are the same party: equal normalised forms, or
// one number's digits ending the other's (a national form against the
// international one), the shorter holding at least six digits.
bool SameRecipient(const AnsiString& a, const AnsiString& b);

}  // namespace vesk::codec
