// SMS-SUBMIT encoder (TS 23.040 9.2.2.2): the PDU text a modem in PDU mode
// takes after AT+CMGS, with its TPDU length.
#pragma once

#include <cstdint>

#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk {

// The encoder's result.
struct TPDUSMS {
  // TPDU length in octets, as decimal digits: every octet except the
  // service centre part.
  AnsiString Length;
  // The whole PDU as upper-case hexadecimal, service centre part first.
  AnsiString Data;
};

// The values of the concatenation information element (TS 23.040
// 9.2.3.24.1) of one part of a long message. Fixed at construction.
class TUDH : public TObject {
 public:
  TUDH(std::uint8_t refNo, std::uint8_t idx, std::uint8_t cnt) : FReferenceNo(refNo), FIndex(idx), FCount(cnt) {}
  std::uint8_t ReferenceNo() const { return FReferenceNo; }
  std::uint8_t Index() const { return FIndex; }
  std::uint8_t Count() const { return FCount; }

 private:
  std::uint8_t FReferenceNo;
  std::uint8_t FIndex;
  std::uint8_t FCount;
};

// What a send asks of each SMS-SUBMIT beyond its text and header.
struct TSubmitOptions {
  // TP-SRR (TS 23.040 9.2.3.5): the SC is asked for a status report.
  bool StatusReportRequest = false;
  // TP-VP in the relative format (9.2.3.12.1), in minutes, rounded up to
  // the next value the format holds (5 minutes to 63 weeks; a longer ask
  // gets 63 weeks). 0 or less: the encoder's standing four days (0xAA).
  int ValidityMinutes = 0;
};

namespace codec {

// TS 23.040 9.2.3.12.1: the relative TP-VP octet that lasts at least
// `minutes` (0 to 143: (VP + 1) x 5 minutes; 144 to 167: 12 hours +
// (VP - 143) x 30 minutes; 168 to 196: (VP - 166) days; 197 to 255:
// (VP - 192) weeks). 255 for anything beyond 63 weeks, 0 for 5 minutes
// or less.
int RelativeValidityPeriod(int minutes);
// How many minutes a relative TP-VP octet (0 to 255) stands for.
int RelativeValidityMinutes(int octet);

// Builds the PDU that AT+CMGS takes: the service centre address (or "00"
// for the modem's own), then an SMS-SUBMIT with a relative validity period
// of four days ("AA"), the text as GSM 7-bit (meAuto picks it when the text
// fits the alphabet, UCS2 otherwise), 8-bit data or UCS2, message class 0
// when Flash, and the concatenation element of UserDataHeader (may be null).
//
// Numbers lose a leading "+" and then a leading "00", either of which makes
// them international (type 91, else 81); nothing else is checked. The text
// must fit one message: 160 codes in 7-bit (153 with a header), 140 octets in
// 8-bit (134), 70 characters in UCS2 (67); longer texts give PDUs the
// network refuses. Raises nothing. Any thread.
TPDUSMS StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber, const WideString& MessageText,
                       TMessageEncoding Encoding, bool Flash, const TUDH* UserDataHeader);
// The same with TP-SRR and the validity period of `Options`; default
// options give the PDU above.
TPDUSMS StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber, const WideString& MessageText,
                       TMessageEncoding Encoding, bool Flash, const TUDH* UserDataHeader,
                       const TSubmitOptions& Options);

// The same, the 7-bit text written with the national language tables:
// every character in the locking shift table `lockingShift` or, escaped, in
// the single shift table `singleShift` (stDefault: the default alphabet,
// the extension table), and the header names each table that is not
// stDefault in its own element (TS 23.040 9.2.3.24.16 locking, .15 single),
// after the concatenation element. A character neither table holds goes
// as "?" (through the code page, as above, with the default alphabet).
// meAuto picks 7-bit when the two tables hold every character, UCS2
// otherwise; with 8-bit and UCS2 the tables play no part. The text must
// fit one message behind that header (codec/MessagePlan.h cuts texts).
TPDUSMS StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber, const WideString& MessageText,
                       TMessageEncoding Encoding, bool Flash, const TUDH* UserDataHeader,
                       TNationalLanguageShiftTables lockingShift, TNationalLanguageShiftTables singleShift);
// The same with the national language tables and the options.
TPDUSMS StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber, const WideString& MessageText,
                       TMessageEncoding Encoding, bool Flash, const TUDH* UserDataHeader,
                       TNationalLanguageShiftTables lockingShift, TNationalLanguageShiftTables singleShift,
                       const TSubmitOptions& Options);

}  // namespace codec

}  // namespace vesk
