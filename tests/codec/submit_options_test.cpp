// The SMS-SUBMIT options a send passes through: TP-SRR and a relative
// TP-VP, read back by the independent reader of codec_test_support.h.
#include <gtest/gtest.h>

#include "codec/Submit.h"
#include "codec_test_support.h"

namespace vesk::codec {
namespace {

using test::W;

struct ValidityCase {
  int minutes;
  int octet;
};

// python-gsmmodem test/test_pdu.py TestRelativeValidityPeriod: 30 minutes,
// 16 hours, 3 days and 5 weeks; the rest are the edges of the four ranges
// of TS 23.040 9.2.3.12.1, each rounded up to the next value it holds.
TEST(RelativeValidity, PublishedValuesAndTheEdgesOfEachRange) {
  const ValidityCase cases[] = {
      {30, 5},
      {16 * 60, 151},
      {3 * 1440, 169},
      {5 * 10080, 197},  // python-gsmmodem
      {1, 0},
      {5, 0},
      {6, 1},
      {720, 143},  // 5-minute steps
      {721, 144},
      {750, 144},
      {751, 145},
      {1440, 167},  // 30-minute steps
      {1441, 168},
      {2880, 168},
      {2881, 169},
      {30 * 1440, 196},  // days
      {30 * 1440 + 1, 197},
      {63 * 10080, 255},
      {63 * 10080 + 1, 255},
      {1 << 30, 255},  // weeks
  };
  for (const ValidityCase& c : cases) {
    SCOPED_TRACE(c.minutes);
    EXPECT_EQ(RelativeValidityPeriod(c.minutes), c.octet);
  }
}

TEST(RelativeValidity, EveryOctetLastsItsTableSpan) {
  EXPECT_EQ(RelativeValidityMinutes(0), 5);
  EXPECT_EQ(RelativeValidityMinutes(143), 12 * 60);
  EXPECT_EQ(RelativeValidityMinutes(144), 12 * 60 + 30);
  EXPECT_EQ(RelativeValidityMinutes(167), 24 * 60);
  EXPECT_EQ(RelativeValidityMinutes(168), 2 * 1440);
  EXPECT_EQ(RelativeValidityMinutes(196), 30 * 1440);
  EXPECT_EQ(RelativeValidityMinutes(197), 5 * 10080);
  EXPECT_EQ(RelativeValidityMinutes(255), 63 * 10080);
  // The spans grow with the octet, so "the next value the format holds"
  // is well defined.
  for (int v = 1; v <= 255; ++v) EXPECT_GT(RelativeValidityMinutes(v), RelativeValidityMinutes(v - 1)) << v;
}

TEST(RelativeValidity, RoundsUpToTheShortestSpanThatIsLongEnough) {
  for (int minutes = 1; minutes <= 63 * 10080; minutes += minutes < 3000 ? 1 : 97) {
    const int octet = RelativeValidityPeriod(minutes);
    ASSERT_GE(RelativeValidityMinutes(octet), minutes) << minutes;
    if (octet > 0) {
      ASSERT_LT(RelativeValidityMinutes(octet - 1), minutes) << minutes;
    }
  }
}

struct OptionsCase {
  const char* name;
  bool report;
  int minutes;
  bool header;
  int firstOctet;
  int validity;
};
void PrintTo(const OptionsCase& c, std::ostream* os) { *os << c.name; }

class SubmitWithOptions : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(SubmitWithOptions, FirstOctetAndValidityAsAsked) {
  const auto& p = GetParam();
  TUDH udh(0x2A, 1, 2);
  TSubmitOptions options;
  options.StatusReportRequest = p.report;
  options.ValidityMinutes = p.minutes;
  const TPDUSMS pdu =
      StringToPDUSMS(W("+15550100"), W(""), W("hello"), meAuto, false, p.header ? &udh : nullptr, options);
  const test::SubmitFields f = test::ReadSubmit(pdu.Data);
  // TS 23.040 9.2.3.1-5: SMS-SUBMIT, relative TP-VPF, TP-SRR in bit 5.
  EXPECT_EQ(f.firstOctet, p.firstOctet);
  EXPECT_EQ(f.validity, p.validity);
  EXPECT_EQ(f.destination, "+15550100");
  EXPECT_EQ(std::to_string(f.tpduOctets), pdu.Length);
  std::vector<int> codes;
  for (char c : std::string("hello")) codes.push_back(c);
  EXPECT_EQ(f.septets, codes);
}

INSTANTIATE_TEST_SUITE_P(Options, SubmitWithOptions,
                         ::testing::Values(OptionsCase{"Defaults", false, 0, false, 0x11, 0xAA},
                                           OptionsCase{"ReportRequested", true, 0, false, 0x31, 0xAA},
                                           OptionsCase{"ReportRequestedWithHeader", true, 0, true, 0x71, 0xAA},
                                           OptionsCase{"ThirtyMinutes", false, 30, false, 0x11, 5},
                                           OptionsCase{"ReportAndOneDay", true, 1440, true, 0x71, 167},
                                           OptionsCase{"NegativeMinutesKeepFourDays", false, -5, false, 0x11, 0xAA}),
                         [](const auto& tc) { return std::string(tc.param.name); });

// Default options give exactly the PDU of the six-argument form.
TEST(SubmitWithOptions, DefaultOptionsChangeNothing) {
  TUDH udh(0x2A, 1, 2);
  const TUDH* const headers[] = {nullptr, &udh};
  for (const TUDH* header : headers) {
    const TPDUSMS plain = StringToPDUSMS(W("+15550100"), W("+15550199"), W("hellohello"), meAuto, false, header);
    const TPDUSMS options =
        StringToPDUSMS(W("+15550100"), W("+15550199"), W("hellohello"), meAuto, false, header, TSubmitOptions());
    EXPECT_EQ(plain.Data, options.Data);
    EXPECT_EQ(plain.Length, options.Length);
  }
  // The worked example stays as it was.
  EXPECT_EQ(StringToPDUSMS(W("+15550100"), W(""), W("hellohello"), meAuto, false, nullptr).Data,
            "0011000891515510000000AA0AE8329BFD4697D9EC37");
}

}  // namespace
}  // namespace vesk::codec
