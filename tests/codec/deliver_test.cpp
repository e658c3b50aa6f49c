#include "codec/Deliver.h"

#include <gtest/gtest.h>

#include "codec_test_support.h"
#include "incoming/Reassembly.h"

namespace vesk::codec {
namespace {

namespace err = decode_error;

std::string Stamp(const std::optional<TDateTime>& t) {
  if (!t) return "unset";
  if (*t == 0) return "0";
  return DateToStr(*t) + " " + TimeToStr(*t);
}

DecodedSMS Decode(const std::string& pdu) { return PDUSMSToString(pdu, nullptr, 0); }

struct DeliverCase {
  const char* name;
  const char* pdu;
  const char* text;
  const char* phone;
  const char* center;
  const char* stamp;  // "unset", "0" or the date and time
  int zone;
};
void PrintTo(const DeliverCase& c, std::ostream* os) { *os << c.name; }

class DeliverVectors : public ::testing::TestWithParam<DeliverCase> {};

TEST_P(DeliverVectors, DecodesEveryField) {
  const auto& p = GetParam();
  const DecodedSMS r = Decode(p.pdu);
  EXPECT_EQ(r.Error, "");
  EXPECT_FALSE(r.Skip);
  EXPECT_EQ(test::Utf8(r.Text), p.text);
  EXPECT_EQ(r.PhoneNumber, p.phone);
  EXPECT_EQ(r.CenterNumber, p.center);
  EXPECT_EQ(Stamp(r.TimeStamp), p.stamp);
  EXPECT_EQ(r.TimeZone.has_value(), r.TimeStamp.has_value());
  if (r.TimeZone) {
    EXPECT_EQ(*r.TimeZone, p.zone);
  }
}

// Every prefix of a valid PDU decodes to a named error or to a prefix of
// its text, never past the input (the fuzz target runs this under ASan).
TEST_P(DeliverVectors, EveryPrefixFailsByNameOrDecodesAPrefix) {
  const std::string pdu = GetParam().pdu;
  const std::string full = test::Utf8(Decode(pdu).Text);
  for (std::size_t n = 0; n < pdu.size(); ++n) {
    SCOPED_TRACE(n);
    DecodedSMS r;
    ASSERT_NO_THROW(r = Decode(pdu.substr(0, n)));
    if (r.Error.empty()) {
      const std::string text = test::Utf8(r.Text);
      EXPECT_EQ(full.compare(0, text.size(), text), 0) << text;
    } else {
      EXPECT_TRUE(r.Skip);
      EXPECT_TRUE(r.Text.empty());
    }
  }
}

TEST_P(DeliverVectors, NoCharacterReplacementThrowsOrLeaksText) {
  const std::string pdu = GetParam().pdu;
  for (std::size_t i = 0; i < pdu.size(); ++i) {
    std::string bad = pdu;
    bad[i] = 'G';
    DecodedSMS r;
    ASSERT_NO_THROW(r = Decode(bad)) << i;
    if (!r.Error.empty()) {
      EXPECT_TRUE(r.Skip && r.Text.empty()) << i;
    }
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Vectors, DeliverVectors,
    ::testing::Values(
        // Reference message: "hello" from +15550123 via +15550100, two hours east.
        DeliverCase{"ReferenceMessage",
            "0591" "51551000" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "+15550100", "2019-03-14 15:09:26", 8},
        // oFono unit/test-sms.c simple_deliver: zone "48" is -4.
        DeliverCase{"OfonoSimpleDeliver",
            "07911326040000F0" "04" "0B911346610089F6" "00" "00" "20806291731448" "0C" "C8F71D14969741F977FD07",
            "How are you?", "+31641600986", "+31624000000", "2002-08-26 19:37:41", -4},
        // oFono unit/test-sms.c alnum_sender.
        DeliverCase{"OfonoAlphanumericSender",
            "0791447758100650" "04" "0DD0F334FC1CA69701" "00" "00" "80803121702240" "08" "D4F29CDE0EA7D9",
            "Testmail", "sipgate", "+447785016005", "2008-08-13 12:07:22", 4},
        // oFono unit/test-sms.c simple_submit: a stored SMS-SUBMIT, relative validity.
        DeliverCase{"OfonoSimpleSubmit",
            "00" "11" "00" "0B916407281553F8" "00" "00" "AA" "0A" "E8329BFD4697D9EC37",
            "hellohello", "+46708251358", "", "unset", 0},
        // oFono unit/test-sms.c header_test: an SMS-SUBMIT whose header holds
        // five text formatting elements, no concatenation.
        DeliverCase{"OfonoEmsHeader",
            "00" "41" "00" "0B915121551532F4" "00" "00" "63"
            "1A" "0A031906200A032104100A032705040A032E05080A043807002B"
            "8ACD29A85D9ECFC3E7F21C340EBB41E3B79B1E4EBB41697A989D1EB340E2379BCC02B1C3F27399059AB7C36C3628EC2683C66FF65B5E2683E8653C1D",
            "EMS messages can contain italic, bold, large, small and colored text", "+15125551234", "", "unset", 0},
        // ModemManager src/tests/test-sms-part-3gpp.c test_pdu1: extension
        // characters and Greek capitals; zone "0A" is -20.
        DeliverCase{"ModemManagerExtendedCharacters",
            "07912104442961F4" "04" "0B916171957291F8" "00" "00" "1120821105050A" "6A"
            "C8B2BC7C9A83C220F6DB7D2ECB41EDF27C1E3E97411BDE06754FD3D1A0F9BB5D0695F1F4B29B5C2683C6E8B03C3CA697E5F3"
            "4D6AE303D1D1F2F7DD0D4ABB59A0797D8C0685E7A00028EC26832A960B28EC2683BE6050780EBA97D96C17",
            "Here's a longer message [{with some extended characters}] thrown in, such as £ and ΩΠΨ and §¿ as well.",
            "+16175927198", "+12404492164", "2011-02-28 11:50:50", -20},
        // ModemManager test_pdu2: an alphanumeric sender of 20 semi-octets, UCS2 text.
        DeliverCase{"ModemManagerAlphanumericUcs2",
            "07919730071111F1" "04" "14D04937BD2C7797E9D3E614" "00" "08" "11309291024061" "08" "0442043504410442",
            "тест", "InternetSMS", "+79037011111", "2011-03-29 19:20:04", 16},
        // ModemManager test_pdu3_natl: a national number keeps no "+".
        DeliverCase{"ModemManagerNationalNumber",
            "07912143658709F1" "04" "0B818100551512F2" "00" "00" "11101021436500" "0A" "E8329BFD4697D9EC37",
            "hellohello", "18005551212", "+12345678901", "2011-01-01 12:34:56", 0},
        // ModemManager test_pdu_dcsf1: DCS F1 (class 1, 7-bit), 160 septets.
        DeliverCase{"ModemManagerCodingGroupF",
            "07913306091093F0" "04" "048581" "00" "00" "F1" "11604231805180" "A0"
            "49B7F90D9A1AA5A01668F8769BD3E4B29B9E2EB359A03FC85D06A9C3ED707A0EA2CBC3EE79BB4CA7CBCBA05643617DA7C76990FD4D97"
            "9741EE77DD5E0ED741ED371D442E83E0E1F9BC0CD281E677D9B84C06C1DF7539E85C9097E520FB9B2E2F83C6EF369C5E064D8D52D0BC2E07"
            "DDEF77D7DC2C7799E5A0771D040FCB41F402BB0047BFDD6550B80ECAD966",
            "Info SFR - Confidentiel, à ne jamais transmettre -\r\nVoici votre nouveau mot de passe : sw2ced pour gérer "
            "votre compte SFR sur www.sfr.fr ou par téléphone au 963", "1800", "+33609001390", "2011-06-24 13:08:15", 8},
        // ModemManager test_pdu3_8bit: 8-bit data shown through Windows-1252.
        DeliverCase{"ModemManagerEightBit",
            "07912143658709F1" "04" "0B918100551512F2" "00" "04" "11101021436500" "0A" "E8329BFD4697D9EC37DE",
            "è2›ýF—Ùì7Þ", "+18005551212", "+12345678901", "2011-01-01 12:34:56", 0},
        // ModemManager test_pdu_stored_by_us: SMS-SUBMIT without validity period.
        DeliverCase{"ModemManagerStoredSubmitUcs2",
            "00" "21" "00" "098136397339F7" "00" "08" "22" "4F60597D4F60597D4F60597D4F60597D4F60597D4F60597D4F60597D4F60597D4F60",
            "你好你好你好你好你好你好你好你好你", "639337937", "", "unset", 0},
        // ModemManager test_pdu_udhi (KPN welcome message): part 1 of 2, a
        // 16-bit reference, no fill bits; decoded alone without a collection.
        DeliverCase{"ModemManagerSixteenBitReferenceAlone",
            "07911356131313F6" "40" "0485" "0120" "39" "00" "11609232239180" "A0" "06080400100201"
            "D7327BFD6EB340E2321BF46E83EA7790F59D1E97DBE1341B442F83C465763D3DA797E56537C81D0ECB41AB59CC1693C16031D96C064241"
            "E5656838AF03A96230982A269BCD462917C8FA4E8FCBED709A0D7ABBE9F6B0FB5C7683D27350984D4FABC9A0B33C4C4FCF5D20EBFB2D07"
            "9DCB62793DBD06D9C36E50FB2D4E97D9A0B49B5E96BBCB",
            "Welkom, bel om uw Voicemail te beluisteren naar +31612001233 (PrePay: *100*1233#). Voicemail ontvangen is "
            "altijd gratis. Voor gebruik van mobiel interne", "1002", "+31653131316", "2011-06-29 23:32:19", 8},
        // Chromium OS autotest network_SMS sample: zone "69" is -16.
        DeliverCase{"ChromiumOsSample",
            "07914140540510F0" "04" "0B916171056429F5" "00" "00" "11908041811069" "04" "D4F29C0E",
            "Test", "+16175046925", "+14044550010", "2011-09-08 14:18:01", -16},
        // Perl Device::Gsm t/06msgcodec.t: a stored SMS-SUBMIT from a phone.
        DeliverCase{"DeviceGsmStoredSubmit",
            "0791" "932350585800" "11" "A5" "0A81" "2398827779" "00" "00" "AD" "1A"
            "C33468FE76BF41B19A0B068381E065F9FCED2E8342A110",
            "Ci sono 15.000 persone !!!", "3289287797", "+393205858500", "unset", 0},
        // Perl Device::Gsm t/06msgcodec.t: a received message.
        DeliverCase{"DeviceGsmDeliver",
            "0791932350593900" "04" "0C91932398827719" "00" "00" "20808231908200" "0D" "C170382C168BC3E1B0582C06",
            "Aaaabbbaaabbb", "+393289287791", "+393205959300", "2002-08-28 13:09:28", 0},

        // Behaviours at the edges, built on the reference message.
        DeliverCase{"NoServiceCentre",
            "00" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"TenOctetCentre",
            "0A91" "214365870921436587" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "+123456789012345678", "2019-03-14 15:09:26", 8},
        DeliverCase{"ElevenOctetCentreOddDigits",
            "0B91" "214365870921436587F9" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "+1234567890123456789", "2019-03-14 15:09:26", 8},
        DeliverCase{"AlphanumericOfEightCharacters",
            "00" "04" "0ED0" "41E19058341E91" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "ABCDEFGH", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"Year95Is2095", "00" "04" "0891" "51551032" "00" "00" "59304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "2095-03-14 15:09:26", 8},
        DeliverCase{"Year96Is1996", "00" "04" "0891" "51551032" "00" "00" "69304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "1996-03-14 15:09:26", 8},
        DeliverCase{"MonthZeroGivesNoStamp", "00" "04" "0891" "51551032" "00" "00" "91004151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "0", 0},
        DeliverCase{"SubmitWithoutValidity", "00" "01" "00" "0891" "51551032" "00" "00" "05" "E8329BFD06",
            "hello", "+15550123", "", "unset", 0},
        DeliverCase{"SubmitWithAbsoluteValidity",
            "00" "19" "00" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        // TS 23.040 9.2.3.12.3: the enhanced format takes seven octets.
        DeliverCase{"SubmitWithEnhancedValidity",
            "00" "09" "00" "0891" "51551032" "00" "00" "01000000000000" "05" "E8329BFD06",
            "hello", "+15550123", "", "unset", 0},
        // The "discard message" group: the text may be discarded, and is.
        DeliverCase{"CodingGroupCHasNoText", "00" "04" "0891" "51551032" "00" "C0" "91304151906280" "05" "E8329BFD06",
            "", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"CodingF5IsEightBit", "00" "04" "0891" "51551032" "00" "F5" "91304151906280" "05" "68656C6C6F",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"CompressedIsReadAsEightBit", "00" "04" "0891" "51551032" "00" "24" "91304151906280" "02" "6869",
            "hi", "+15550123", "", "2019-03-14 15:09:26", 8},
        // A national language shift element alone: three fill bits follow it.
        DeliverCase{"HeaderWithoutConcatenation",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0A" "03250101" "4097D9EC37",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        // Elements after the concatenation element are skipped, not read as
        // text; five fill bits follow the nine header octets.
        DeliverCase{"ElementsAfterConcatenationSkipped",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0D" "0800032A0201" "240101" "009D06",
            "hi", "+15550123", "", "2019-03-14 15:09:26", 8},
        // The user data length says three septets: the final "@" (code 0) stays.
        DeliverCase{"FinalAtSurvives", "00" "04" "0891" "51551032" "00" "00" "91304151906280" "03" "E83400",
            "hi@", "+15550123", "", "2019-03-14 15:09:26", 8},
        // An octet beyond the user data length adds no "@".
        DeliverCase{"NoSpuriousAt", "00" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD0600",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

struct FailureCase {
  const char* name;
  const char* pdu;
  const char* error;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class DeliverFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DeliverFailures, NamedAndSkipped) {
  const auto& p = GetParam();
  TConcatenatedSMSCollection parts;
  DecodedSMS r;
  ASSERT_NO_THROW(r = PDUSMSToString(p.pdu, &parts, 1000));
  EXPECT_EQ(r.Error, p.error);
  EXPECT_TRUE(r.Skip);
  EXPECT_TRUE(r.Text.empty());
  EXPECT_EQ(parts.Count(), 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Malformed, DeliverFailures,
    ::testing::Values(
        FailureCase{"Empty", "", err::kEmpty},
        FailureCase{"OddUserData", "00" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06" "0",
                    err::kOddUserData},
        FailureCase{"UserDataNotHex", "00" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD0G",
                    err::kUserDataNotHex},
        FailureCase{"AlphanumericNotHex", "00" "04" "0ED0" "41E19058341E9Z" "00" "00" "91304151906280" "00",
                    err::kAlphanumericNotHex},
        FailureCase{"CentreTruncated", "0791" "12345", err::kCenterTruncated},
        FailureCase{"AddressTruncated", "00" "04" "0B91" "1346610", err::kAddressTruncated},
        // TS 23.040 9.1.2.5: an address field holds at most 20 semi-octets;
        // a length of 21 (or a length octet of garbage) is no address.
        FailureCase{"AddressClaimsTwentyOneDigits",
                    "00" "04" "1591" "2143658709214365870921F3" "00" "00" "91304151906280" "05" "E8329BFD06",
                    err::kAddressTooLong},
        FailureCase{"AddressLengthOctetOfGarbage",
                    "00" "04" "FF91" "2143658709214365870921F3" "00" "00" "91304151906280" "05" "E8329BFD06",
                    err::kAddressTooLong},
        FailureCase{"AlphanumericClaimsTwentyTwoSemiOctets",
                    "00" "04" "16D0" "D4F29CDE0EA7D9D4F29CDE0E" "00" "00" "91304151906280" "05" "E8329BFD06",
                    err::kAddressTooLong},
        FailureCase{"StampTruncated", "00" "04" "0891" "51551032" "00" "00" "913041519062", err::kTimeStampTruncated},
        FailureCase{"NoUserDataLength", "00" "04" "0891" "51551032" "00" "00" "91304151906280", err::kNoUserDataLength},
        // ModemManager test_pdu_not_stored: an SMS-STATUS-REPORT.
        FailureCase{"StatusReport", "07914356060013F1" "06" "5A" "098136397339F7" "21901170046380" "21901170046380" "30",
                    err::kStatusReport},
        FailureCase{"IndexBeyondCount", "00" "44" "0891" "51551032" "00" "00" "91304151906280" "09" "0500032A0203" "D069",
                    err::kBadPartIndex},
        FailureCase{"IndexZero", "00" "44" "0891" "51551032" "00" "00" "91304151906280" "09" "0500032A0200" "D069",
                    err::kBadPartIndex},
        FailureCase{"CountZero", "00" "44" "0891" "51551032" "00" "00" "91304151906280" "09" "0500032A0000" "D069",
                    err::kBadPartIndex},
        FailureCase{"ConcatenationOutsideHeader", "00" "44" "0891" "51551032" "00" "00" "91304151906280" "09" "0300032A" "D069",
                    err::kConcatOutsideHeader},
        FailureCase{"HeaderPastTheEnd", "00" "44" "0891" "51551032" "00" "00" "91304151906280" "09" "0A00032A0201",
                    err::kHeaderTruncated},
        FailureCase{"SixteenBitConcatenationOutsideHeader",
                    "00" "44" "0891" "51551032" "00" "00" "91304151906280" "09" "0905040B8423F0080400", err::kConcatOutsideHeader},
        // User data shorter than its length: five septets need five octets.
        FailureCase{"SevenBitUserDataCutShort", "00" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD",
                    err::kUserDataTruncated},
        FailureCase{"SevenBitUserDataEmpty", "00" "04" "0891" "51551032" "00" "00" "91304151906280" "05",
                    err::kUserDataTruncated},
        FailureCase{"EightBitUserDataCutShort", "00" "04" "0891" "51551032" "00" "04" "91304151906280" "05" "68656C6C",
                    err::kUserDataTruncated},
        FailureCase{"Ucs2UserDataCutShort", "00" "04" "0891" "51551032" "00" "08" "91304151906280" "04" "0442",
                    err::kUserDataTruncated},
        // The length counts the header too: 0x0A septets after a six-octet header need nine octets.
        FailureCase{"UserDataCutShortAfterHeader",
                    "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0A" "0500032A0201" "C2E2",
                    err::kUserDataTruncated}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

// Each vector reads differently under the standards than a naive reading
// of the PDU would: the expected fields are the standard's.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Standard, DeliverVectors,
    ::testing::Values(
        // TS 23.040 9.2.3.1: a receiver takes the reserved type 3 for an SMS-DELIVER.
        DeliverCase{"ReservedTypeReadAsDeliver",
            "00" "03" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"ReservedTypeWithHeaderReadAsDeliver",
            "00" "43" "0891" "51551032" "00" "00" "91304151906280" "0A" "03250101" "4097D9EC37",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        // oFono alnum_sender with the length a phone gives when it counts the
        // last octet whole (0E): seven characters, not "sipgate@".
        DeliverCase{"AlphanumericLengthRoundedUp",
            "0791447758100650" "04" "0ED0F334FC1CA69701" "00" "00" "80803121702240" "08" "D4F29CDE0EA7D9",
            "Testmail", "sipgate", "+447785016005", "2008-08-13 12:07:22", 4},
        // TS 23.040 9.1.2.5: any type of number 101 is alphanumeric (here with NPI 1).
        DeliverCase{"AlphanumericWithAnotherNumberingPlan",
            "00" "04" "0DD1" "F334FC1CA69701" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "sipgate", "", "2019-03-14 15:09:26", 8},
        // TS 23.040 9.1.2.5: five digits; the semi-octet after them is not one.
        DeliverCase{"DigitsBeyondTheLengthDropped",
            "00" "04" "0591" "214365" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+12345", "", "2019-03-14 15:09:26", 8},
        // TS 23.040 9.1.2.5: twenty digits, the most an address field holds.
        DeliverCase{"TwentyDigitAddress",
            "00" "04" "1491" "21436587092143658709" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+12345678901234567890", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"OddLengthWithoutFillerF",
            "00" "04" "0B91" "4477001122A3" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+44770011223", "", "2019-03-14 15:09:26", 8},
        // TS 23.040 9.1.2.3: semi-octets 1010 to 1110 are "*", "#", "a", "b", "c".
        DeliverCase{"SemiOctetsAboveNineAsSymbols",
            "00" "04" "0A81" "A1B2C3D4E5" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "1*2#3a4b5c", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"CentreSemiOctetsAsSymbols",
            "0381" "A1B2" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "1*2#", "2019-03-14 15:09:26", 8},
        // TS 23.040 9.1.2.5: type of number 001 is international whatever the numbering plan.
        DeliverCase{"InternationalWithUnknownNumberingPlan",
            "0390" "2143" "04" "0890" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "+1234", "2019-03-14 15:09:26", 8},
        // TS 23.038 4: reserved codings are read as the GSM 7-bit default alphabet.
        DeliverCase{"ReservedAlphabetReadAsSevenBit",
            "00" "04" "0891" "51551032" "00" "0C" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"ReservedClassGroupReadAsSevenBit",
            "00" "04" "0891" "51551032" "00" "7F" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"ReservedCodingGroup8ReadAsSevenBit",
            "00" "04" "0891" "51551032" "00" "80" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"ReservedCodingGroupBReadAsSevenBit",
            "00" "04" "0891" "51551032" "00" "BF" "91304151906280" "05" "E8329BFD06",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        // TS 23.038 6.2.1.1: an escape before a code the extension table lacks
        // shows the main table's character; a second escape shows a space.
        DeliverCase{"EscapeBeforeAnUnlistedCode",
            "00" "04" "0891" "51551032" "00" "00" "91304151906280" "02" "9B20",
            "A", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"EscapeEscapeIsASpace",
            "00" "04" "0891" "51551032" "00" "00" "91304151906280" "03" "9B4D18",
            " a", "+15550123", "", "2019-03-14 15:09:26", 8},
        // TS 23.040 9.2.3.24.15 and .16: the shift elements name the tables.
        DeliverCase{"TurkishSingleShift",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0B" "03240101" "486EE69BF41A",
            "Işık", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"TurkishLockingShift",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "09" "03250101" "0832E407",
            "Ağrı", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"PortugueseSingleShiftBeyond0x12",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "09" "03240103" "706EF66F",
            "Não", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"HindiLockingAndSingleShift",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0E" "06250106240106" "2F21F37BCA02",
            "नमस्ते", "+15550123", "", "2019-03-14 15:09:26", 8},
        // The shift elements concern 7-bit text only.
        DeliverCase{"ShiftElementIgnoredForUcs2",
            "00" "44" "0891" "51551032" "00" "08" "91304151906280" "06" "03240101" "0131",
            "ı", "+15550123", "", "2019-03-14 15:09:26", 8},
        // TS 23.040 9.2.3.24: the concatenation element may follow others
        // (here a 16-bit port addressing element); alone it decodes by itself.
        DeliverCase{"ConcatenationAfterPortAddressing",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "11" "0B05040B8423F00003AA0201" "84C563",
            "abc", "+15550123", "", "2019-03-14 15:09:26", 8},
        DeliverCase{"ConcatenationThenTurkishSingleShift",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0F" "0800032B0201240101" "6093DECC01",
            "ış", "+15550123", "", "2019-03-14 15:09:26", 8},
        // An element whose length runs past the header ends the reading of
        // the header, not the message.
        DeliverCase{"UnknownElementPastTheHeaderEndsIt",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0A" "03250501" "4097D9EC37",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8},
        // A shift element naming a reserved language leaves the default tables.
        DeliverCase{"ReservedLanguageIdentifier",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0A" "03250120" "4097D9EC37",
            "hello", "+15550123", "", "2019-03-14 15:09:26", 8}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

// UCS2 text out of the decoder is well-formed UTF-16: a surrogate without
// its partner becomes U+FFFD; a whole pair stays.
TEST(Deliver, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::string head = "00" "04" "0B915155010000F0" "00" "08" "91304151906280";
  // A lone high surrogate, then "A".
  EXPECT_EQ(Decode(head + "04" "D800" "0041").Text, u"\uFFFD" u"A");
  // A lone low surrogate at the end.
  EXPECT_EQ(Decode(head + "04" "0041" "DC00").Text, u"A" u"\uFFFD");
  // Two high surrogates: the first has no partner, the second has one.
  EXPECT_EQ(Decode(head + "06" "D83D" "D83D" "DE00").Text, u"\uFFFD" u"\U0001F600");
  // A pair as sent.
  EXPECT_EQ(Decode(head + "04" "D83D" "DE00").Text, u"\U0001F600");
}

TEST(Deliver, NonHexFieldsFallBackToZero) {
  // A first octet that does not read is an SMS-DELIVER without header; a
  // DCS that does not read is 7-bit.
  const DecodedSMS r = Decode("00" "ZZ" "0891" "51551032" "00" "XX" "91304151906280" "05" "E8329BFD06");
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(test::Utf8(r.Text), "hello");
}

// ------------------------------------------------ the fields of one PDU

struct FieldsCase {
  const char* name;
  const char* pdu;
  int messageType;
  int dcs;
  UserDataAlphabet alphabet;
  int headerLength;  // -1: no header
  int fillBits;
  TNationalLanguageShiftTables locking, single;
  int partNumber;  // 0: a message in one part
  int reference, referenceBits, count;
  int septets;           // -1: not 7-bit, or no user data length
  const char* userData;  // after the header, fill bits included
};
void PrintTo(const FieldsCase& c, std::ostream* os) { *os << c.name; }

class DeliverFields : public ::testing::TestWithParam<FieldsCase> {};

TEST_P(DeliverFields, OnePduGivesItsFields) {
  const auto& p = GetParam();
  const DeliverPDU d = DecodeDeliver(p.pdu);
  ASSERT_EQ(d.Error, nullptr) << d.Error;
  EXPECT_EQ(d.MessageType, p.messageType);
  EXPECT_EQ(d.DataCodingScheme, p.dcs);
  EXPECT_EQ(d.Alphabet, p.alphabet);
  EXPECT_EQ(d.HeaderLength, p.headerLength);
  EXPECT_EQ(d.FillBits, p.fillBits);
  EXPECT_EQ(d.LockingShift, p.locking);
  EXPECT_EQ(d.SingleShift, p.single);
  EXPECT_EQ(d.PartNumber, p.partNumber);
  EXPECT_EQ(d.Key.IsPart(), p.partNumber != 0);
  EXPECT_EQ(d.Key.Reference, p.reference);
  EXPECT_EQ(d.Key.ReferenceBits, p.referenceBits);
  EXPECT_EQ(d.Key.Count, p.count);
  EXPECT_EQ(d.Key.Sender, p.partNumber != 0 ? d.PhoneNumber : AnsiString());
  EXPECT_EQ(d.Septets, p.septets);
  EXPECT_EQ(test::ToHex(std::string(reinterpret_cast<const char*>(d.UserData.data()), d.UserData.size())), p.userData);
  // The text alone is what the whole decode gives for a single message.
  if (p.partNumber == 0) {
    EXPECT_EQ(UserDataText(d), Decode(p.pdu).Text);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Vectors, DeliverFields,
    ::testing::Values(
        FieldsCase{"ReferenceMessageHasNoHeader",
            "0591" "51551000" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
            0, 0x00, UserDataAlphabet::Gsm7, -1, 0, stDefault, stDefault, 0, 0, 0, 0, 5, "E8329BFD06"},
        // ModemManager test_pdu_udhi: a 16-bit reference; seven header
        // octets end on a septet boundary, no fill bits.
        FieldsCase{"ModemManagerSixteenBitReference",
            "07911356131313F6" "40" "0485" "0120" "39" "00" "11609232239180" "A0" "06080400100201"
            "D7327BFD6EB340E2321BF46E83EA7790F59D1E97DBE1341B442F83C465763D3DA797E56537C81D0ECB41AB59CC1693C16031D96C064241"
            "E5656838AF03A96230982A269BCD462917C8FA4E8FCBED709A0D7ABBE9F6B0FB5C7683D27350984D4FABC9A0B33C4C4FCF5D20EBFB2D07"
            "9DCB62793DBD06D9C36E50FB2D4E97D9A0B49B5E96BBCB",
            0, 0x00, UserDataAlphabet::Gsm7, 6, 0, stDefault, stDefault, 1, 0x0010, 16, 2, 152,
            "D7327BFD6EB340E2321BF46E83EA7790F59D1E97DBE1341B442F83C465763D3DA797E56537C81D0ECB41AB59CC1693C16031D96C064241"
            "E5656838AF03A96230982A269BCD462917C8FA4E8FCBED709A0D7ABBE9F6B0FB5C7683D27350984D4FABC9A0B33C4C4FCF5D20EBFB2D07"
            "9DCB62793DBD06D9C36E50FB2D4E97D9A0B49B5E96BBCB"},
        // oFono unit/test-sms.c assembly_pdu3: UCS2 (DCS 19, class 1), part 3
        // of 3; TP-UDL counts octets.
        FieldsCase{"OfonoUcs2Part",
            "038121F3" "50" "04815555" "01" "19" "90604100122204" "4A" "0500031E0303"
            "043C043D043004420443002C0020043F043E043704300431044B0432000A0434043004360435002C00200447044204"
            "3E002000200431044B043B0020043D04300433002E",
            0, 0x19, UserDataAlphabet::Ucs2, 5, 0, stDefault, stDefault, 3, 0x1E, 8, 3, -1,
            "043C043D043004420443002C0020043F043E043704300431044B0432000A0434043004360435002C00200447044204"
            "3E002000200431044B043B0020043D04300433002E"},
        // TS 23.040 9.2.3.24.16: four header octets, three fill bits.
        FieldsCase{"TurkishLockingShift",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "09" "03250101" "0832E407",
            0, 0x00, UserDataAlphabet::Gsm7, 3, 3, stTurkish, stDefault, 0, 0, 0, 0, 4, "0832E407"},
        FieldsCase{"HindiLockingAndSingleShift",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0E" "06250106240106" "2F21F37BCA02",
            0, 0x00, UserDataAlphabet::Gsm7, 6, 0, stHindi, stHindi, 0, 0, 0, 0, 6, "2F21F37BCA02"},
        FieldsCase{"ConcatenationThenTurkishSingleShift",
            "00" "44" "0891" "51551032" "00" "00" "91304151906280" "0F" "0800032B0201240101" "6093DECC01",
            0, 0x00, UserDataAlphabet::Gsm7, 8, 5, stDefault, stTurkish, 1, 0x2B, 8, 2, 4, "6093DECC01"},
        // TS 23.038 4: the compressed flag set, read as 8-bit data.
        FieldsCase{"CompressedIsEightBit",
            "00" "04" "0891" "51551032" "00" "24" "91304151906280" "02" "6869",
            0, 0x24, UserDataAlphabet::Octets, -1, 0, stDefault, stDefault, 0, 0, 0, 0, -1, "6869"},
        FieldsCase{"DiscardGroupHasNoAlphabet",
            "00" "04" "0891" "51551032" "00" "C0" "91304151906280" "05" "E8329BFD06",
            0, 0xC0, UserDataAlphabet::None, -1, 0, stDefault, stDefault, 0, 0, 0, 0, -1, "E8329BFD06"},
        // oFono unit/test-sms.c simple_submit: a stored SMS-SUBMIT.
        FieldsCase{"OfonoStoredSubmit",
            "00" "11" "00" "0B916407281553F8" "00" "00" "AA" "0A" "E8329BFD4697D9EC37",
            1, 0x00, UserDataAlphabet::Gsm7, -1, 0, stDefault, stDefault, 0, 0, 0, 0, 10, "E8329BFD4697D9EC37"},
        // A user data length that does not read: every septet counts.
        FieldsCase{"UserDataLengthNotHex",
            "00" "04" "0891" "51551032" "00" "00" "91304151906280" "XX" "E8329BFD06",
            0, 0x00, UserDataAlphabet::Gsm7, -1, 0, stDefault, stDefault, 0, 0, 0, 0, -1, "E8329BFD06"}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

// The key of a long message's parts: what keeps two messages apart.
TEST(ConcatenationKey, EveryFieldTellsMessagesApart) {
  const ConcatenationKey base{"+44770011223", 0x2A, 8, 3};
  std::vector<ConcatenationKey> others(4, base);
  others[0].Sender = "+44770099887";
  others[1].Reference = 0x2B;
  others[2].ReferenceBits = 16;
  others[3].Count = 2;
  for (const auto& other : others) {
    EXPECT_NE(other, base);
    EXPECT_NE(base < other, other < base);  // a strict order, for maps
  }
  EXPECT_EQ(ConcatenationKey(base), base);
  EXPECT_FALSE(base < base);
}

// TS 23.040 9.2.3.24.1 and .8: the same number as an 8-bit and as a 16-bit
// reference, from one sender, are two messages: the decoder gives each
// part its message's key.
TEST(ConcatenationKey, TheDecoderGivesEachPartItsKey) {
  const std::string head = "00" "44" "0B91" "4477001122F3" "00" "00" "91304151906280";
  const DeliverPDU eight = DecodeDeliver(head + "0A" "0500032A0201" "C2E231");
  const DeliverPDU sixteen = DecodeDeliver(head + "0B" "060804002A0201" "75FB1D");
  ASSERT_EQ(eight.Error, nullptr);
  ASSERT_EQ(sixteen.Error, nullptr);
  EXPECT_EQ(eight.Key, (ConcatenationKey{"+44770011223", 0x2A, 8, 2}));
  EXPECT_EQ(sixteen.Key, (ConcatenationKey{"+44770011223", 0x2A, 16, 2}));
  EXPECT_EQ(DecodeAlone(DeliverPDU(eight)).Key, eight.Key);
  EXPECT_FALSE(DecodeDeliver(head.substr(0, 2) + "04" + head.substr(4) + "05" "E8329BFD06").Key.IsPart());
}

}  // namespace
}  // namespace vesk::codec
