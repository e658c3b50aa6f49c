#include "codec/Submit.h"

#include <algorithm>

#include "codec/Alphabet.h"
#include "codec/Hex.h"
#include "codec/Packing.h"

namespace vesk::codec {

namespace {

struct PreparedNumber {
  AnsiString digits;
  bool international = false;
};

// A leading "+", then a leading "00", mark an international number and are
// removed. Everything else is kept as it stands.
PreparedNumber PrepareNumber(const WideString& number) {
  PreparedNumber n{WideToAnsi(number), false};
  if (!n.digits.empty() && n.digits[0] == '+') {
    n.digits.erase(0, 1);
    n.international = true;
  }
  if (n.digits.size() > 1 && n.digits[0] == '0' && n.digits[1] == '0') {
    n.digits.erase(0, 2);
    n.international = true;
  }
  return n;
}

// TS 23.040 9.1.2.5 type of address: international or unknown, ISDN plan.
const char* TypeOfAddress(const PreparedNumber& n) { return n.international ? "91" : "81"; }

// TS 23.040 9.1.2.3 semi-octets: digit pairs swapped, "F" filling an odd count.
void AppendSemiOctets(AnsiString& out, const AnsiString& digits) {
  const std::size_t n = digits.size();
  for (std::size_t i = 0; i + 1 < n; i += 2) {
    out.push_back(digits[i + 1]);
    out.push_back(digits[i]);
  }
  if (n % 2 == 1) {
    out.push_back('F');
    out.push_back(digits[n - 1]);
  }
}

// TS 23.038 4: the data coding scheme, class 0 for a flash message.
const char* DataCodingScheme(TMessageEncoding encoding, bool flash) {
  switch (encoding) {
    case meAuto:
    case me7bit:
      return flash ? "F0" : "00";
    case me8bit:
      return flash ? "F4" : "04";
    case meUCS2:
      // Group 00xx with a message class: UCS2, class 0 (0xF8 would be 8-bit data).
      return flash ? "18" : "08";
  }
  return "00";
}

// Whether the two tables hold every character of the text.
bool HeldByTables(const WideString& text, TNationalLanguageShiftTables locking, TNationalLanguageShiftTables single) {
  if (locking == stDefault && single == stDefault) return IsGSM7bitDefaultAlphabet(text);
  const unsigned lockingBit = 1u << locking, singleBit = 1u << single;
  for (char16_t c : text) {
    const NationalCodes* e = NationalCodesOf(c);
    if (e == nullptr || ((e->lockingMask & lockingBit) == 0 && (e->singleMask & singleBit) == 0)) return false;
  }
  return true;
}

}  // namespace

int RelativeValidityPeriod(int minutes) {
  constexpr int kHalfDay = 12 * 60, kDay = 24 * 60, kWeek = 7 * kDay;
  if (minutes <= 5) return 0;
  if (minutes <= kHalfDay) return (minutes + 4) / 5 - 1;
  if (minutes <= kDay) return 143 + (minutes - kHalfDay + 29) / 30;
  if (minutes <= 30 * kDay) return std::max(168, 166 + (minutes + kDay - 1) / kDay);
  if (minutes <= 63 * kWeek) return std::max(197, 192 + (minutes + kWeek - 1) / kWeek);
  return 255;
}

int RelativeValidityMinutes(int octet) {
  if (octet <= 143) return (octet + 1) * 5;
  if (octet <= 167) return 12 * 60 + (octet - 143) * 30;
  if (octet <= 196) return (octet - 166) * 24 * 60;
  return (octet - 192) * 7 * 24 * 60;
}

TPDUSMS StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber, const WideString& MessageText,
                       TMessageEncoding Encoding, bool Flash, const TUDH* UserDataHeader) {
  return StringToPDUSMS(PhoneNumber, CenterNumber, MessageText, Encoding, Flash, UserDataHeader, stDefault, stDefault,
                        TSubmitOptions());
}

TPDUSMS StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber, const WideString& MessageText,
                       TMessageEncoding Encoding, bool Flash, const TUDH* UserDataHeader,
                       const TSubmitOptions& Options) {
  return StringToPDUSMS(PhoneNumber, CenterNumber, MessageText, Encoding, Flash, UserDataHeader, stDefault, stDefault,
                        Options);
}

TPDUSMS StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber, const WideString& MessageText,
                       TMessageEncoding Encoding, bool Flash, const TUDH* UserDataHeader,
                       TNationalLanguageShiftTables lockingShift, TNationalLanguageShiftTables singleShift) {
  return StringToPDUSMS(PhoneNumber, CenterNumber, MessageText, Encoding, Flash, UserDataHeader, lockingShift,
                        singleShift, TSubmitOptions());
}

TPDUSMS StringToPDUSMS(const WideString& PhoneNumber, const WideString& CenterNumber, const WideString& MessageText,
                       TMessageEncoding Encoding, bool Flash, const TUDH* UserDataHeader,
                       TNationalLanguageShiftTables lockingShift, TNationalLanguageShiftTables singleShift,
                       const TSubmitOptions& Options) {
  const PreparedNumber center = PrepareNumber(CenterNumber);
  const PreparedNumber destination = PrepareNumber(PhoneNumber);
  if (Encoding == meAuto) Encoding = HeldByTables(MessageText, lockingShift, singleShift) ? me7bit : meUCS2;
  if (Encoding != me7bit) lockingShift = singleShift = stDefault;
  // TS 23.040 9.2.3.24: the concatenation element, then a shift element
  // for each national table.
  AnsiString elements;
  if (UserDataHeader != nullptr) {
    elements += "0003";
    AppendHexOctet(elements, UserDataHeader->ReferenceNo());
    AppendHexOctet(elements, UserDataHeader->Count());
    AppendHexOctet(elements, UserDataHeader->Index());
  }
  if (lockingShift != stDefault) {
    elements += "2501";
    AppendHexOctet(elements, static_cast<unsigned>(NationalLanguageIdentifier(lockingShift)));
  }
  if (singleShift != stDefault) {
    elements += "2401";
    AppendHexOctet(elements, static_cast<unsigned>(NationalLanguageIdentifier(singleShift)));
  }
  const int headerOctets = elements.empty() ? 0 : static_cast<int>(elements.size() / 2) + 1;
  const bool header = headerOctets > 0;

  AnsiString pdu;
  pdu.reserve(64 + 4 * MessageText.size());

  // Service centre address (TS 24.011 8.2.5.1), its length counting the type octet.
  if (Trim(center.digits).empty()) {
    pdu += "00";
  } else {
    pdu += IntToHex((center.digits.size() + 1) / 2 + 1, 2);
    pdu += TypeOfAddress(center);
    AppendSemiOctets(pdu, center.digits);
  }

  // TS 23.040 9.2.2.2: TP-MTI SMS-SUBMIT, TP-VPF relative, TP-SRR, TP-UDHI.
  AppendHexOctet(pdu, 0x11u | (Options.StatusReportRequest ? 0x20u : 0u) | (header ? 0x40u : 0u));
  pdu += "00";  // TP-MR: the modem assigns it
  pdu += IntToHex(destination.digits.size(), 2);  // TP-DA length in digits
  pdu += TypeOfAddress(destination);
  AppendSemiOctets(pdu, destination.digits);
  pdu += "00";  // TP-PID
  pdu += DataCodingScheme(Encoding, Flash);
  // TP-VP: four days unless the options ask for another span.
  if (Options.ValidityMinutes > 0)
    AppendHexOctet(pdu, static_cast<unsigned>(RelativeValidityPeriod(Options.ValidityMinutes)));
  else
    pdu += "AA";

  // TP-UDL counts septets in 7-bit, octets otherwise, the header included:
  // in 7-bit the header and its fill bits take whole septets (the six
  // octets of a concatenation header and one fill bit, seven).
  AnsiString userData;
  std::size_t udl = 0;
  switch (Encoding) {
    case meAuto:
    case me7bit: {
      AnsiString codes;
      AppendGsmCodes(codes, MessageText, lockingShift, singleShift);
      const int headerBits = headerOctets * 8;
      const int fill = (7 - headerBits % 7) % 7;
      udl = codes.size() + static_cast<std::size_t>((headerBits + fill) / 7);
      // Septets start after the fill bits and the last one gets an octet
      // of its own when it needs one (ceil((fill + 7 * L) / 8) octets).
      userData = PackSeptets(codes.data(), std::min<std::size_t>(codes.size(), kMaxSeptets), fill);
      break;
    }
    case me8bit:
      udl = MessageText.size() + static_cast<std::size_t>(headerOctets);
      userData = StringToPDU8(WideToAnsi(MessageText));
      break;
    case meUCS2:
      udl = 2 * MessageText.size() + static_cast<std::size_t>(headerOctets);
      userData = StringToPDU16(MessageText);
      break;
  }
  pdu += IntToHex(udl, 2);
  if (header) {
    AppendHexOctet(pdu, static_cast<unsigned>(headerOctets - 1));
    pdu += elements;
  }
  AppendHexOctets(pdu, userData);

  // AT+CMGS wants the TPDU length: every octet after the service centre part.
  const int centerOctets = HexDigit(pdu[0]) * 16 + HexDigit(pdu[1]);
  TPDUSMS result;
  result.Length = IntToStr(static_cast<long long>(pdu.size() / 2) - centerOctets - 1);
  result.Data = std::move(pdu);
  return result;
}

}  // namespace vesk::codec
