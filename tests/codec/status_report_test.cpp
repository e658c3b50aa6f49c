#include "codec/StatusReport.h"

#include "codec/Hex.h"

#include <gtest/gtest.h>

#include <random>

#include "codec_test_support.h"

namespace vesk::codec {
namespace {

namespace err = report_error;
namespace note = report_note;

std::string Stamp(TDateTime t) { return t == 0 ? "0" : DateToStr(t) + " " + TimeToStr(t); }

struct ReportCase {
  const char* name;
  const char* pdu;
  bool tpduOnly;  // printed without the service centre address
  const char* centre;
  int reference;
  const char* recipient;
  int recipientType;
  const char* received;  // TP-SCTS: "0" when it does not read
  int receivedZone;
  const char* discharged;  // TP-DT
  int dischargedZone;
  int status;
  int indicator;    // TP-PI, -1 when absent
  const char* cut;  // report_note, or nullptr
};
void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

StatusReportPDU DecodeCase(const ReportCase& c) {
  return c.tpduOnly ? DecodeStatusReportTpdu(c.pdu) : DecodeStatusReport(c.pdu);
}

class ReportVectors : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportVectors, DecodesEveryField) {
  const auto& p = GetParam();
  const StatusReportPDU r = DecodeCase(p);
  ASSERT_EQ(r.Error, nullptr) << r.Error;
  EXPECT_EQ(r.CenterNumber, p.centre);
  EXPECT_EQ(r.FirstOctet & 0x03, 2);
  EXPECT_EQ(r.MessageReference, p.reference);
  EXPECT_EQ(r.Recipient, p.recipient);
  EXPECT_EQ(r.RecipientType, p.recipientType);
  EXPECT_EQ(Stamp(r.ServiceCentreTimeStamp), p.received);
  EXPECT_EQ(r.ServiceCentreTimeZone, p.receivedZone);
  EXPECT_EQ(Stamp(r.DischargeTime), p.discharged);
  EXPECT_EQ(r.DischargeTimeZone, p.dischargedZone);
  EXPECT_EQ(r.Status, p.status);
  EXPECT_EQ(r.ParameterIndicator.value_or(-1), p.indicator);
  EXPECT_STREQ(r.OptionalCut, p.cut);
  EXPECT_TRUE(IsStatusReportPDU(p.tpduOnly ? "00" + std::string(p.pdu) : std::string(p.pdu)));
}

// Every prefix of a report decodes to a named error, or (once the status
// is in) to the same mandatory fields; never past its input.
TEST_P(ReportVectors, EveryPrefixFailsByNameOrKeepsTheMandatoryFields) {
  const auto& p = GetParam();
  const std::string pdu = p.pdu;
  const StatusReportPDU whole = DecodeCase(p);
  for (std::size_t n = 0; n < pdu.size(); ++n) {
    SCOPED_TRACE(n);
    ReportCase cut = p;
    const std::string prefix = pdu.substr(0, n);
    cut.pdu = prefix.c_str();
    StatusReportPDU r;
    ASSERT_NO_THROW(r = DecodeCase(cut));
    if (r.Error != nullptr) continue;
    EXPECT_EQ(r.MessageReference, whole.MessageReference);
    EXPECT_EQ(r.Recipient, whole.Recipient);
    EXPECT_EQ(r.Status, whole.Status);
    EXPECT_EQ(r.DischargeTime, whole.DischargeTime);
  }
}

TEST_P(ReportVectors, NoCharacterReplacementThrows) {
  const std::string pdu = GetParam().pdu;
  for (std::size_t i = 0; i < pdu.size(); ++i) {
    std::string bad = pdu;
    bad[i] = 'G';
    ReportCase c = GetParam();
    c.pdu = bad.c_str();
    StatusReportPDU r;
    ASSERT_NO_THROW(r = DecodeCase(c)) << i;
    if (r.Error == nullptr) {
      EXPECT_GE(r.MessageReference, 0) << i;
      EXPECT_GE(r.Status, 0) << i;
    }
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Vectors, ReportVectors,
    ::testing::Values(
        // python-gsmmodem test/test_pdu.py TestSmsPdu.test_decode: reference 214, delivered.
        ReportCase{"PythonGsmmodemDelivered",
            "00" "06" "D6" "0B91" "1326880736F4" "11101171955140" "11101171957140" "00", false,
            "", 214, "+31628870634", 0x91, "2011-01-11 17:59:15", 4, "2011-01-11 17:59:17", 4, 0x00, -1, nullptr},
        // python-gsmmodem, the same test: "semi-invalid" report captured from
        // a ZTE modem. TS 23.040 9.1.2.3: the semi-octet 1011 is "#".
        ReportCase{"PythonGsmmodemZteCapture",
            "0297F1" "06" "1C" "0F91" "0B487228297020F5" "31706241927280" "31706241921380" "00", false,
            "+1", 28, "+#08427829207025", 0x91, "2013-07-26 14:29:27", 8, "2013-07-26 14:29:31", 8, 0x00, -1, nullptr},
        // ModemManager src/tests/test-sms-part-3gpp.c test_pdu_not_stored:
        // 0x30, a temporary error the SC is still working on.
        ReportCase{"ModemManagerStillTrying",
            "07914356060013F1" "06" "5A" "0981" "36397339F7" "21901170046380" "21901170046380" "30", false,
            "+34656000311", 90, "639337937", 0x81, "2012-09-11 07:40:36", 8, "2012-09-11 07:40:36", 8, 0x30, -1, nullptr},
        // oFono unit/test-sms.c test_sr_assembly sr_pdu1 and sr_pdu2: the
        // TPDU alone, references 4 and 5 of one message; zone "0A" is -20.
        ReportCase{"OfonoFirstOfTwo",
            "06" "04" "0D91" "945152991136F0" "0160124130340A" "0160124130940A" "00", true,
            "", 4, "+4915259911630", 0x91, "2010-06-21 14:03:43", -20, "2010-06-21 14:03:49", -20, 0x00, -1, nullptr},
        ReportCase{"OfonoSecondOfTwo",
            "06" "05" "0D91" "945152991136F0" "0160124130640A" "0160124130450A" "00", true,
            "", 5, "+4915259911630", 0x91, "2010-06-21 14:03:46", -20, "2010-06-21 14:03:54", -20, 0x00, -1, nullptr},
        // oFono sr_pdu3: a national recipient; the zone octet "A0" is no
        // number, so neither stamp reads.
        ReportCase{"OfonoNationalRecipient",
            "06" "06" "0981" "21436587F9" "019012413064A0" "019012413045A0" "00", true,
            "", 6, "123456789", 0x81, "0", 0, "0", 0, 0x00, -1, nullptr},
        // fkgi/sms statusreport_test.go: type of address 0x80, zone +9 hours.
        ReportCase{"FkgiUnknownTypeOfNumber",
            "00" "06" "00" "0480" "2143" "11302241520463" "11302241520463" "00", false,
            "", 0, "1234", 0x80, "2011-03-22 14:25:40", 36, "2011-03-22 14:25:40", 36, 0x00, -1, nullptr},
        // gammu tests/at-sms/30.dump: a phone's +CMGR of a stored report.
        ReportCase{"GammuCapture30",
            "0791246030500200" "06" "E8" "0C91" "666666666666" "90907061842280" "90907061846280" "00", false,
            "+420603052000", 232, "+666666666666", 0x91, "2009-09-07 16:48:22", 8, "2009-09-07 16:48:26", 8, 0x00, -1,
            nullptr},
        // gammu tests/at-sms/34.dump: TP-PI announces TP-DCS and an empty TP-UD; UTC+10.
        ReportCase{"GammuCapture34WithParameters",
            "07911614786007F0" "06" "06" "0B91" "1634092142F4" "01907101100004" "01907101104504" "00" "06" "00" "00", false,
            "+61418706700", 6, "+61439012244", 0x91, "2010-09-17 10:01:00", 40, "2010-09-17 10:01:54", 40, 0x00, 0x06,
            nullptr},
        // gammu tests/at-sms/36.dump: TP-PI 00, nothing after it; UTC+7.
        ReportCase{"GammuCapture36EmptyIndicator",
            "07912658050000F0" "06" "01" "0D91" "265817373754F5" "01010161705382" "01010161708382" "00" "00", false,
            "+62855000000", 1, "+6285717373455", 0x91, "2010-10-10 16:07:35", 28, "2010-10-10 16:07:38", 28, 0x00, 0x00,
            nullptr},
        // gammu tests/at-sms/32.dump: the PDU padded with FF, which reads as
        // TP-PI octets announcing parameters that never come.
        ReportCase{"GammuCapture32PaddedWithFF",
            "0791246020099990" "02" "AB" "0981" "06845688F8" "90708051737580" "90708051830180" "00"
            "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", false,
            "+420602909909", 171, "604865888", 0x81, "2009-07-08 15:37:57", 8, "2009-07-08 15:38:10", 8, 0x00, 0xFF,
            note::kParametersCut},

        // TS 23.040 9.1.2.5: an alphanumeric recipient, seven characters.
        ReportCase{"AlphanumericRecipient",
            "00" "06" "2A" "0ED0" "F334FC1CA69701" "91304151906280" "91304151907280" "00", false,
            "", 42, "sipgate", 0xD0, "2019-03-14 15:09:26", 8, "2019-03-14 15:09:27", 8, 0x00, -1, nullptr},
        // TS 23.040 9.2.3.15: the SC gave up after temporary errors (0x62).
        ReportCase{"GaveUp",
            "00" "06" "FF" "0891" "51551032" "91304151906280" "91304151907280" "62", false,
            "", 255, "+15550123", 0x91, "2019-03-14 15:09:26", 8, "2019-03-14 15:09:27", 8, 0x62, -1, nullptr},
        // TS 23.040 9.2.3.27: TP-PI with its extension bit; the second
        // TP-PI octet names nothing, the first announces TP-PID.
        ReportCase{"IndicatorWithExtensionOctet",
            "00" "06" "07" "0891" "51551032" "91304151906280" "91304151907280" "00" "81" "00" "7F", false,
            "", 7, "+15550123", 0x91, "2019-03-14 15:09:26", 8, "2019-03-14 15:09:27", 8, 0x00, 0x81, nullptr},
        // TP-PI announces a TP-UDL of 5 septets, but only 3 octets follow.
        ReportCase{"UserDataCutShort",
            "00" "06" "07" "0891" "51551032" "91304151906280" "91304151907280" "00" "04" "05" "E8329B", false,
            "", 7, "+15550123", 0x91, "2019-03-14 15:09:26", 8, "2019-03-14 15:09:27", 8, 0x00, 0x04,
            note::kUserDataCut}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

struct ReportFailure {
  const char* name;
  const char* pdu;
  const char* error;
};
void PrintTo(const ReportFailure& c, std::ostream* os) { *os << c.name; }

class ReportFailures : public ::testing::TestWithParam<ReportFailure> {};

TEST_P(ReportFailures, Named) {
  const StatusReportPDU r = DecodeStatusReport(GetParam().pdu);
  EXPECT_STREQ(r.Error, GetParam().error);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Malformed, ReportFailures,
    ::testing::Values(
        ReportFailure{"Empty", "", err::kEmpty},
        ReportFailure{"CentreTruncated", "0791" "4356", err::kCenterTruncated},
        ReportFailure{"NoFirstOctet", "00", err::kNoFirstOctet},
        // The oFono simple_deliver: an SMS-DELIVER is not a report.
        ReportFailure{"ADeliverIsNotAReport",
            "07911326040000F0" "04" "0B911346610089F6" "00" "00" "20806291731448" "0C" "C8F71D14969741F977FD07",
            err::kNotStatusReport},
        ReportFailure{"FirstOctetNotHex", "00" "0G" "07", err::kNotStatusReport},
        ReportFailure{"NoReference", "00" "06", err::kNoMessageReference},
        ReportFailure{"ReferenceNotHex", "00" "06" "Z1" "0891" "51551032", err::kReferenceNotHex},
        ReportFailure{"RecipientTruncated", "00" "06" "07" "0B91" "13466100", err::kRecipientTruncated},
        ReportFailure{"RecipientClaimsTwentyOneDigits",
            "00" "06" "07" "1591" "2143658709214365870921F3" "91304151906280" "91304151907280" "00",
            err::kRecipientTooLong},
        ReportFailure{"AlphanumericRecipientNotHex", "00" "06" "07" "0ED0" "F334FC1CA697G1" "91304151906280",
            err::kAlphanumericNotHex},
        ReportFailure{"TimeStampTruncated", "00" "06" "07" "0891" "51551032" "913041519062", err::kTimeStampTruncated},
        ReportFailure{"DischargeTimeTruncated", "00" "06" "07" "0891" "51551032" "91304151906280" "9130",
            err::kDischargeTimeTruncated},
        ReportFailure{"NoStatus", "00" "06" "07" "0891" "51551032" "91304151906280" "91304151907280", err::kNoStatus},
        ReportFailure{"StatusNotHex", "00" "06" "07" "0891" "51551032" "91304151906280" "91304151907280" "X0",
            err::kStatusNotHex}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

// PDUs split by field:
// clang-format off
// ------------------------------------------------ the optional parameters

TEST(StatusReportParameters, SevenBitTextAfterTheStatus) {
  // TP-PI 07: TP-PID 00, TP-DCS 00, TP-UDL 5 septets "hello".
  const StatusReportPDU r = DecodeStatusReport(
      "00" "06" "07" "0891" "51551032" "91304151906280" "91304151907280" "00" "07" "00" "00" "05" "E8329BFD06");
  ASSERT_EQ(r.Error, nullptr);
  EXPECT_EQ(r.OptionalCut, nullptr);
  EXPECT_EQ(r.ProtocolIdentifier, 0);
  EXPECT_EQ(r.DataCodingScheme, 0);
  EXPECT_EQ(r.UserDataLength, 5);
  EXPECT_EQ(test::Utf8(r.Text), "hello");
}

TEST(StatusReportParameters, UserDataLengthWithoutCodingSchemeIsSevenBit) {
  // TS 23.040 9.2.3.27: TP-UDL without TP-DCS means TP-DCS 00.
  const StatusReportPDU r = DecodeStatusReport(
      "00" "06" "07" "0891" "51551032" "91304151906280" "91304151907280" "00" "04" "02" "E834");
  ASSERT_EQ(r.Error, nullptr);
  EXPECT_FALSE(r.DataCodingScheme.has_value());
  EXPECT_EQ(test::Utf8(r.Text), "hi");
}

TEST(StatusReportParameters, Ucs2TextAfterAHeader) {
  // TP-UDHI set: a header of a 16-bit port element, then UCS2 "ту".
  const StatusReportPDU r = DecodeStatusReport(
      "00" "46" "07" "0891" "51551032" "91304151906280" "91304151907280" "00" "06" "08" "0B"
      "0605040B8423F0" "04420443");
  ASSERT_EQ(r.Error, nullptr);
  EXPECT_TRUE(r.HasHeader);
  EXPECT_EQ(test::Utf8(r.Text), "ту");
  EXPECT_EQ(test::ToHex(std::string(reinterpret_cast<const char*>(r.UserData.data()), r.UserData.size())), "04420443");
}

TEST(StatusReportParameters, TheFirstOctetsFlags) {
  // TP-MMS set (no more messages), TP-LP, TP-SRQ (a report on a command).
  const StatusReportPDU r =
      DecodeStatusReport("00" "2E" "07" "0891" "51551032" "91304151906280" "91304151907280" "00");
  ASSERT_EQ(r.Error, nullptr);
  EXPECT_FALSE(r.MoreMessagesToSend);
  EXPECT_TRUE(r.LoopPrevention);
  EXPECT_TRUE(r.ReportsOnCommand);
  EXPECT_FALSE(r.HasHeader);
  const StatusReportPDU more =
      DecodeStatusReport("00" "02" "07" "0891" "51551032" "91304151906280" "91304151907280" "00");
  EXPECT_TRUE(more.MoreMessagesToSend);
}

// clang-format on

// ------------------------------------------------ TP-ST, every class

struct StatusCase {
  int status;
  ReportStatusClass cls;
};

TEST(StatusClasses, EveryValueHasItsClass) {
  // TS 23.040 9.2.3.15, by the ranges of the table; reserved values
  // (bit 7) read as 0x63 "service rejected".
  for (int st = 0; st <= 0xFF; ++st) {
    SCOPED_TRACE(st);
    ReportStatusClass expected;
    if (st >= 0x80)
      expected = ReportStatusClass::GaveUp;
    else if (st >= 0x60)
      expected = ReportStatusClass::GaveUp;
    else if (st >= 0x40)
      expected = ReportStatusClass::PermanentError;
    else if (st >= 0x20)
      expected = ReportStatusClass::StillTrying;
    else
      expected = ReportStatusClass::Completed;
    EXPECT_EQ(ClassOfStatus(st), expected);
    EXPECT_EQ(IsFinalStatus(st), expected != ReportStatusClass::StillTrying);
  }
  EXPECT_EQ(EffectiveStatus(0x9A), 0x63);
  EXPECT_EQ(EffectiveStatus(0x46), kStatusValidityExpired);
}

TEST(StatusClasses, EachClassDecodesFromAReport) {
  // clang-format off
  const std::string head = "00" "06" "07" "0891" "51551032" "91304151906280" "91304151907280";
  // clang-format on
  const StatusCase cases[] = {{0x00, ReportStatusClass::Completed},      {0x01, ReportStatusClass::Completed},
                              {0x02, ReportStatusClass::Completed},      {0x20, ReportStatusClass::StillTrying},
                              {0x25, ReportStatusClass::StillTrying},    {0x40, ReportStatusClass::PermanentError},
                              {0x46, ReportStatusClass::PermanentError}, {0x49, ReportStatusClass::PermanentError},
                              {0x60, ReportStatusClass::GaveUp},         {0x65, ReportStatusClass::GaveUp},
                              {0xA0, ReportStatusClass::GaveUp}};
  for (const StatusCase& c : cases) {
    std::string pdu = head;
    AppendHexOctet(pdu, static_cast<unsigned>(c.status));
    const StatusReportPDU r = DecodeStatusReport(pdu);
    ASSERT_EQ(r.Error, nullptr);
    EXPECT_EQ(r.Status, c.status);
    EXPECT_EQ(ClassOfStatus(r.Status), c.cls) << c.status;
  }
}

// ------------------------------------------------ recipients compared

TEST(Recipients, NormalisedForms) {
  EXPECT_EQ(NormalisedRecipient("+44 7700-900 123"), "447700900123");
  EXPECT_EQ(NormalisedRecipient("0044 7700 900123"), "447700900123");
  EXPECT_EQ(NormalisedRecipient("07700 900123"), "7700900123");
  EXPECT_EQ(NormalisedRecipient(" sipgate "), "SIPGATE");
  EXPECT_EQ(NormalisedRecipient("+#08427829207025"), "+#08427829207025");
}

TEST(Recipients, TheSamePartyInEveryForm) {
  // oFono test_sr_assembly: national against international, both ways.
  EXPECT_TRUE(SameRecipient("9911630", "+4915259911630"));
  EXPECT_TRUE(SameRecipient("+358123456789", "123456789"));
  EXPECT_TRUE(SameRecipient("+15550123", "0015550123"));
  EXPECT_TRUE(SameRecipient("07700900123", "+447700900123"));
  EXPECT_TRUE(SameRecipient("SIPGATE", "sipgate"));
  EXPECT_FALSE(SameRecipient("+15550123", "+15550124"));
  EXPECT_FALSE(SameRecipient("0123", "+4915550123"));  // too short to stand for a number
  EXPECT_FALSE(SameRecipient("sipgate", "sipgat"));
  EXPECT_FALSE(SameRecipient("", "+15550123"));
}

// ------------------------------------------------ random reports, encoded here

// A status report laid out from TS 23.040 9.2.2.3, independently of the
// decoder.
struct Built {
  std::string hex;
  int reference = 0;
  std::string recipient;
  int type = 0;
  int scts[7] = {};  // year, month, day, hour, minute, second, zone
  int dt[7] = {};
  int status = 0;
  int indicator = -1;
  int pid = -1, dcs = -1, udl = -1;
  std::string text;
};

void Octet(std::string& hex, int v) { AppendHexOctet(hex, static_cast<unsigned>(v)); }

void SwappedBcd(std::string& hex, int v) {
  hex.push_back(static_cast<char>('0' + v % 10));
  hex.push_back(static_cast<char>('0' + v / 10));
}

void StampOctets(std::string& hex, const int (&f)[7]) {
  for (int i = 0; i < 6; ++i) SwappedBcd(hex, f[i] % 100);
  const int zone = f[6] < 0 ? -f[6] : f[6];
  hex.push_back(static_cast<char>('0' + zone % 10));
  hex.push_back("0123456789ABCDEF"[(zone / 10) | (f[6] < 0 ? 8 : 0)]);
}

// GSM 7-bit packing of letters, digits and blanks (their codes are their
// ASCII values).
std::string PackSeven(const std::string& chars) {
  std::string out;
  unsigned acc = 0;
  int bits = 0;
  for (char ch : chars) {
    acc |= static_cast<unsigned>(ch & 0x7F) << bits;
    bits += 7;
    while (bits >= 8) {
      Octet(out, static_cast<int>(acc & 0xFF));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) Octet(out, static_cast<int>(acc & 0xFF));
  return out;
}

Built RandomReport(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  static const char kAlnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  Built b;
  b.hex = "00";
  Octet(b.hex, 0x02 | (pick(0, 1) ? 0x04 : 0));
  b.reference = pick(0, 255);
  Octet(b.hex, b.reference);
  switch (pick(0, 2)) {
    case 0:
    case 1: {  // a number, international or not
      const bool international = pick(0, 1) == 1;
      b.type = international ? 0x91 : 0x81;
      std::string digits;
      const int n = pick(1, 20);
      for (int i = 0; i < n; ++i) digits.push_back(static_cast<char>('0' + pick(0, 9)));
      b.recipient = (international ? "+" : "") + digits;
      Octet(b.hex, n);
      Octet(b.hex, b.type);
      for (int i = 0; i < n; i += 2) {
        b.hex.push_back(i + 1 < n ? digits[static_cast<std::size_t>(i) + 1] : 'F');
        b.hex.push_back(digits[static_cast<std::size_t>(i)]);
      }
      break;
    }
    default: {  // alphanumeric, up to 11 characters
      b.type = 0xD0;
      const int n = pick(1, 11);
      for (int i = 0; i < n; ++i) b.recipient.push_back(kAlnum[pick(0, sizeof kAlnum - 2)]);
      Octet(b.hex, (7 * n + 3) / 4);
      Octet(b.hex, b.type);
      b.hex += PackSeven(b.recipient);
      break;
    }
  }
  for (int(*f)[7] : {&b.scts, &b.dt}) {
    (*f)[0] = 2000 + pick(0, 95);
    (*f)[1] = pick(1, 12);
    (*f)[2] = pick(1, 28);
    (*f)[3] = pick(0, 23);
    (*f)[4] = pick(0, 59);
    (*f)[5] = pick(0, 59);
    (*f)[6] = pick(-79, 79);
    StampOctets(b.hex, *f);
  }
  b.status = pick(0, 255);
  Octet(b.hex, b.status);
  if (pick(0, 1)) {
    b.indicator = pick(0, 7);
    Octet(b.hex, b.indicator);
    if (b.indicator & 1) Octet(b.hex, b.pid = pick(0, 255));
    const int alphabet = pick(0, 2);
    if (b.indicator & 2) Octet(b.hex, b.dcs = alphabet * 4);
    if (b.indicator & 4) {
      const int chars = pick(0, 20);
      std::string text;
      for (int i = 0; i < chars; ++i) text.push_back(kAlnum[pick(0, sizeof kAlnum - 2)]);
      b.text = text;
      const int dcs = b.dcs < 0 ? 0 : b.dcs;
      if (dcs == 0) {
        Octet(b.hex, b.udl = chars);
        b.hex += PackSeven(text);
      } else if (dcs == 4) {
        Octet(b.hex, b.udl = chars);
        for (char ch : text) Octet(b.hex, ch);
      } else {
        Octet(b.hex, b.udl = 2 * chars);
        for (char ch : text) {
          Octet(b.hex, 0);
          Octet(b.hex, ch);
        }
      }
    }
  }
  return b;
}

std::string StampOf(const int (&f)[7]) { return Stamp(EncodeDateTime(f[0], f[1], f[2], f[3], f[4], f[5], 0)); }

TEST(StatusReportProperty, RandomReportsDecodeToWhatWasEncoded) {
  std::mt19937 rng(20240526);
  for (int round = 0; round < 3000; ++round) {
    const Built b = RandomReport(rng);
    SCOPED_TRACE(b.hex);
    const StatusReportPDU r = DecodeStatusReport(b.hex);
    ASSERT_EQ(r.Error, nullptr) << r.Error;
    EXPECT_EQ(r.OptionalCut, nullptr);
    EXPECT_EQ(r.MessageReference, b.reference);
    EXPECT_EQ(r.Recipient, b.recipient);
    EXPECT_EQ(r.RecipientType, b.type);
    EXPECT_EQ(Stamp(r.ServiceCentreTimeStamp), StampOf(b.scts));
    EXPECT_EQ(r.ServiceCentreTimeZone, b.scts[6]);
    EXPECT_EQ(Stamp(r.DischargeTime), StampOf(b.dt));
    EXPECT_EQ(r.DischargeTimeZone, b.dt[6]);
    EXPECT_EQ(r.Status, b.status);
    EXPECT_EQ(r.ParameterIndicator.value_or(-1), b.indicator);
    EXPECT_EQ(r.ProtocolIdentifier.value_or(-1), b.pid);
    EXPECT_EQ(r.DataCodingScheme.value_or(-1), b.dcs);
    EXPECT_EQ(r.UserDataLength.value_or(-1), b.udl);
    EXPECT_EQ(test::Utf8(r.Text), b.text);
    EXPECT_TRUE(IsStatusReportPDU(b.hex));
    // Every prefix fails by name or keeps what the status decided.
    const std::size_t cut =
        static_cast<std::size_t>(std::uniform_int_distribution<int>(0, static_cast<int>(b.hex.size()))(rng));
    const StatusReportPDU p = DecodeStatusReport(b.hex.substr(0, cut));
    if (p.Error == nullptr) {
      EXPECT_EQ(p.Status, b.status);
      EXPECT_EQ(p.Recipient, b.recipient);
    }
  }
}

}  // namespace
}  // namespace vesk::codec
