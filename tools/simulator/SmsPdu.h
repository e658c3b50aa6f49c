// The simulator's own SMS PDU code (TS 23.040, TS 23.038): it builds the
// SMS-DELIVER PDUs of incoming messages and the SMS-SUBMIT PDUs of messages
// written in text mode, and reads the SMS-SUBMIT PDUs clients send.
//
// It is independent of the library on purpose: the simulator is the other
// side of the line, and the two must not share mistakes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/simulator/SimTypes.h"

namespace vesk::sim {

using Octets = std::vector<std::uint8_t>;

// TS 23.038 6.1.2.1.1: septets packed into octets, least significant bit
// first, starting after fillBits zero bits (0-6, the padding that aligns the
// text to a septet boundary after a user data header).
Octets PackSeptets(const std::vector<std::uint8_t>& septets, int fillBits = 0);
// The reverse, reading `count` septets; nullopt when the octets are too few.
std::optional<std::vector<std::uint8_t>> UnpackSeptets(const Octets& octets, std::size_t count,
                                                       int fillBits = 0);

// Fill bits after a user data header of headerOctets octets (UDHL included).
int FillBitsAfterHeader(std::size_t headerOctets);

// TS 23.040 9.1.2.5: an address field (length in semi-octets, type, value).
// A sender that is not a phone number (digits, an optional leading '+', and
// * # a b c) is coded alphanumerically with type 0xD0 (TS 23.040 9.1.2.5,
// TS 23.038 6.2.1). type 0 chooses 145, 129 or 208 from the text.
Octets EncodeAddress(std::string_view address, int type = 0);
// TS 24.008 10.5.4.9 as used by TS 27.005 3.1 <sca>: length in octets.
Octets EncodeServiceCentre(std::string_view address, int type = 0);
// The type of address a number gets by default (TS 27.005 3.1 <toda>).
int DefaultAddressType(std::string_view address);

// TS 23.040 9.2.3.11.
Octets EncodeTimestamp(const SmsTimestamp& ts);
// TS 27.005 3.1 <scts>: "yy/MM/dd,hh:mm:ss+zz".
std::string TimestampText(const SmsTimestamp& ts);

// The data coding scheme of a message (TS 23.038 4, general data coding).
int DataCodingScheme(SmsEncoding encoding, bool flash);
SmsEncoding EncodingOfDcs(int dcs);

// The fields a text-mode listing shows of a stored message (TS 27.005 3.1).
struct MessageFields {
  bool incoming = true;              // SMS-DELIVER, else SMS-SUBMIT
  std::string address;               // <oa> or <da>
  int addressType = 145;             // <tooa> or <toda>
  std::string timestamp;             // <scts>, incoming only
  int firstOctet = 0;                // <fo>
  int pid = 0;
  int dcs = 0;
  int validityPeriod = -1;           // <vp>, outgoing only, -1 when none
  std::string serviceCentre;         // <sca>
  int serviceCentreType = 145;       // <tosca>
  int userDataLength = 0;            // TP-UDL
  Octets userData;                   // TP-UD, header included
  bool hasHeader = false;            // TP-UDHI
  std::u32string text;               // the text, header left out
  std::optional<ConcatInfo> concat;
  // TS 23.040 9.2.3.24.16 and .15: the national language identifiers of the
  // locking and single shift elements of the header; 0 when absent.
  int lockingShift = 0;
  int singleShift = 0;
  // An SMS-STATUS-REPORT (address is TP-RA, timestamp TP-SCTS).
  bool statusReport = false;
  int messageReference = 0;   // <mr>
  std::string dischargeTime;  // <dt>
  int reportStatus = 0;       // <st>
};

// A whole PDU with its service centre part, and what text mode shows of it.
struct SmsPdu {
  Octets octets;
  std::size_t serviceCentreOctets = 1;  // length octet included
  MessageFields fields;
  int partNumber = 1;

  std::size_t TpduLength() const { return octets.size() - serviceCentreOctets; }
  std::string Hex() const;
};

// TS 23.040 9.2.2.1: the SMS-DELIVER PDUs of an incoming message, one per
// part, in part order. Long texts are cut into concatenated parts at
// character boundaries (an extension character or a surrogate pair stays
// whole).
std::vector<SmsPdu> EncodeDeliver(const IncomingSms& sms);

// TS 23.040 9.2.2.2: a single SMS-SUBMIT without a header, as a modem builds
// it from a text-mode AT+CMGS or AT+CMGW (relative validity period).
struct SubmitRequest {
  std::string destination;
  int destinationType = 0;
  std::string serviceCentre;
  int firstOctet = 17;               // SMS-SUBMIT, relative validity period
  int validityPeriod = 167;
  int pid = 0;
  int dcs = 0;
  std::u32string text;               // for 8-bit: Latin-1 code points
  int messageReference = 0;
};
SmsPdu EncodeSubmit(const SubmitRequest& request);

// TS 23.040 9.2.2.3: the SMS-STATUS-REPORT the SC sends for a part it was
// asked to report on (TP-SRR): no optional parameters.
struct StatusReportRequest {
  std::string serviceCentre;
  int messageReference = 0;
  std::string recipient;
  int recipientType = 0;
  SmsTimestamp received;    // TP-SCTS
  SmsTimestamp discharged;  // TP-DT
  int status = 0;           // TP-ST
};
SmsPdu EncodeStatusReport(const StatusReportRequest& request);

// Reads an SMS-SUBMIT PDU with its service centre part. On failure returns
// nullopt and names the fault in *error.
std::optional<SmsPdu> DecodeSubmit(const Octets& octets, std::string* error);

}  // namespace vesk::sim
