#include "codec/StatusReport.h"

#include <algorithm>

#include "codec/Packing.h"
#include "codec/PduFields.h"

namespace vesk::codec {

namespace {

// TS 23.040 9.2.3.1: TP-MTI 10 from the SC is an SMS-STATUS-REPORT.
constexpr int kStatusReportType = 0x02;
// TS 23.040 9.2.3.27 TP-PI: TP-PID, TP-DCS, TP-UDL present; the extension
// bit says another TP-PI octet follows.
constexpr int kPidPresent = 0x01;
constexpr int kDcsPresent = 0x02;
constexpr int kUdlPresent = 0x04;
constexpr int kPiExtension = 0x80;

constexpr AddressErrors kRecipientErrors = {report_error::kRecipientTruncated, report_error::kRecipientTooLong,
                                            report_error::kAlphanumericNotHex};

StatusReportPDU Fail(StatusReportPDU& r, const char* error) {
  r.Error = error;
  return std::move(r);
}

// TP-PI and the optional parameters it announces, as far as the PDU
// holds them.
void ReadOptionalParameters(PduCursor& c, StatusReportPDU& r) {
  if (!c.HasOctets(1)) return;
  const int indicator = c.Octet(0);
  if (indicator < 0) return;  // no indicator that reads: nothing more
  r.ParameterIndicator = indicator;
  c.Skip(1);
  // Further TP-PI octets, each announced by the extension bit of the one
  // before, name nothing this decoder knows.
  for (int octet = indicator; octet & kPiExtension;) {
    if (!c.HasOctets(1)) break;
    octet = c.NextOctetOr(0);
  }
  auto cut = [&](const char* note) { r.OptionalCut = note; };
  if (indicator & kPidPresent) {
    if (!c.HasOctets(1)) return cut(report_note::kParametersCut);
    r.ProtocolIdentifier = c.NextOctetOr(0);
  }
  if (indicator & kDcsPresent) {
    if (!c.HasOctets(1)) return cut(report_note::kParametersCut);
    r.DataCodingScheme = c.NextOctetOr(0);
  }
  // Without TP-UDL there is no TP-UD either.
  if (!(indicator & kUdlPresent)) return;
  if (!c.HasOctets(1)) return cut(report_note::kParametersCut);
  const int length = c.NextOctetOr(0);
  r.UserDataLength = length;

  // TS 23.040 9.2.3.27: TP-UDL without TP-DCS means the default alphabet.
  const int dcs = r.DataCodingScheme.value_or(0);
  const UserDataAlphabet alphabet = AlphabetOf(dcs);
  const bool septetLength = alphabet == UserDataAlphabet::Gsm7 || alphabet == UserDataAlphabet::None;
  const std::size_t announced =
      septetLength ? (static_cast<std::size_t>(length) * 7 + 7) / 8 : static_cast<std::size_t>(length);
  const std::size_t present = std::min(announced, c.CharsLeft() / 2);
  if (present < announced) cut(report_note::kUserDataCut);
  UserDataOctets all;
  if (!c.ReadOctets(present, all.Resize(present))) {
    all.Resize(0);
    return cut(report_note::kUserDataCut);
  }
  c.Skip(present);

  // A user data header (TS 23.040 9.2.3.24) is passed over; 7-bit text
  // starts on the septet boundary after it.
  std::size_t skip = 0;
  std::size_t fill = 0;
  int headerSeptets = 0;
  if (r.HasHeader && !all.empty()) {
    skip = std::min<std::size_t>(all.size(), static_cast<std::size_t>(all.data()[0]) + 1);
    fill = (7 - (skip * 8) % 7) % 7;
    headerSeptets = static_cast<int>((skip * 8 + fill) / 7);
  }
  r.UserData.Assign(all.data() + skip, all.size() - skip);
  switch (alphabet) {
    case UserDataAlphabet::Gsm7: {
      const int septets = std::max(0, length - headerSeptets);
      AppendSevenBitText(r.Text, r.UserData.data(), r.UserData.size(), static_cast<int>(fill), septets, stDefault,
                         stDefault);
      break;
    }
    case UserDataAlphabet::Octets: AppendOctetText(r.Text, r.UserData.data(), r.UserData.size()); break;
    case UserDataAlphabet::Ucs2: AppendUcs2Text(r.Text, r.UserData.data(), r.UserData.size()); break;
    case UserDataAlphabet::None: break;
  }
}

StatusReportPDU Decode(const AnsiString& text, bool withCentre) {
  StatusReportPDU r;
  if (text.empty()) return Fail(r, report_error::kEmpty);
  PduCursor c(text);
  if (withCentre && !ReadServiceCentre(c, r.CenterNumber)) return Fail(r, report_error::kCenterTruncated);

  // First octet: TP-MTI, TP-MMS, TP-LP, TP-SRQ, TP-UDHI.
  if (!c.HasOctets(1)) return Fail(r, report_error::kNoFirstOctet);
  const int first = c.Octet(0);
  if (first < 0 || (first & 0x03) != kStatusReportType) return Fail(r, report_error::kNotStatusReport);
  c.Skip(1);
  r.FirstOctet = first;
  r.MoreMessagesToSend = (first & 0x04) == 0;
  r.LoopPrevention = (first & 0x08) != 0;
  r.ReportsOnCommand = (first & 0x20) != 0;
  r.HasHeader = (first & 0x40) != 0;

  // TP-MR.
  if (!c.HasOctets(1)) return Fail(r, report_error::kNoMessageReference);
  if (c.Octet(0) < 0) return Fail(r, report_error::kReferenceNotHex);
  r.MessageReference = c.NextOctetOr(0);

  // TP-RA.
  if (const char* error = ReadAddress(c, r.Recipient, r.RecipientType, kRecipientErrors)) return Fail(r, error);

  // TP-SCTS, TP-DT.
  if (!c.HasOctets(7)) return Fail(r, report_error::kTimeStampTruncated);
  ReadTimeStamp(c, r.ServiceCentreTimeStamp, r.ServiceCentreTimeZone);
  c.Skip(7);
  if (!c.HasOctets(7)) return Fail(r, report_error::kDischargeTimeTruncated);
  ReadTimeStamp(c, r.DischargeTime, r.DischargeTimeZone);
  c.Skip(7);

  // TP-ST.
  if (!c.HasOctets(1)) return Fail(r, report_error::kNoStatus);
  if (c.Octet(0) < 0) return Fail(r, report_error::kStatusNotHex);
  r.Status = c.NextOctetOr(0);

  ReadOptionalParameters(c, r);
  return r;
}

bool IsDigitsOnly(const AnsiString& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

}  // namespace

ReportStatusClass ClassOfStatus(int status) {
  switch ((EffectiveStatus(status) >> 5) & 0x03) {
    case 0: return ReportStatusClass::Completed;
    case 1: return ReportStatusClass::StillTrying;
    case 2: return ReportStatusClass::PermanentError;
    default: return ReportStatusClass::GaveUp;
  }
}

bool IsFinalStatus(int status) { return ClassOfStatus(status) != ReportStatusClass::StillTrying; }

int EffectiveStatus(int status) { return status < 0 || status > 0x7F ? 0x63 : status; }

StatusReportPDU DecodeStatusReport(const AnsiString& MessageText) { return Decode(MessageText, true); }

StatusReportPDU DecodeStatusReportTpdu(const AnsiString& MessageText) { return Decode(MessageText, false); }

bool IsStatusReportPDU(const AnsiString& MessageText) {
  PduCursor c(MessageText);
  AnsiString centre;
  if (!ReadServiceCentre(c, centre)) return false;
  const int first = c.Octet(0);
  return first >= 0 && (first & 0x03) == kStatusReportType;
}

AnsiString NormalisedRecipient(const AnsiString& address) {
  AnsiString digits;
  bool other = false;
  const AnsiString trimmed = Trim(address);
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    const char ch = trimmed[i];
    if (ch >= '0' && ch <= '9')
      digits.push_back(ch);
    else if (ch == '+' && i == 0)
      continue;
    else if (ch == ' ' || ch == '-' || ch == '.' || ch == '(' || ch == ')')
      continue;
    else
      other = true;
  }
  if (other || digits.empty()) return UpperCase(trimmed);
  // "00" and a national "0" are prefixes, not the number.
  const std::size_t first = digits.find_first_not_of('0');
  return first == AnsiString::npos ? AnsiString("0") : digits.substr(first);
}

bool SameRecipient(const AnsiString& a, const AnsiString& b) {
  const AnsiString x = NormalisedRecipient(a), y = NormalisedRecipient(b);
  if (x == y) return true;
  if (!IsDigitsOnly(x) || !IsDigitsOnly(y)) return false;
  const AnsiString& shorter = x.size() < y.size() ? x : y;
  const AnsiString& longer = x.size() < y.size() ? y : x;
  constexpr std::size_t kMinimumDigits = 6;
  return shorter.size() >= kMinimumDigits &&
         longer.compare(longer.size() - shorter.size(), shorter.size(), shorter) == 0;
}

}  // namespace vesk::codec
