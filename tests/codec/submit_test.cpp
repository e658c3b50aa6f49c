#include "codec/Submit.h"

#include <gtest/gtest.h>

#include "codec_test_support.h"

namespace vesk::codec {
namespace {

using test::W;

struct SubmitCase {
  const char* name;
  const char* phone;
  const char* center;
  const char* text;
  TMessageEncoding encoding;
  bool flash;
  int udhIndex;  // 0: no header; else part udhIndex of 2, reference 0x2A
  const char* data;
  const char* length;
};
void PrintTo(const SubmitCase& c, std::ostream* os) { *os << c.name; }

class SubmitVectors : public ::testing::TestWithParam<SubmitCase> {};

TEST_P(SubmitVectors, EncodesToTheCharacter) {
  const auto& p = GetParam();
  TUDH udh(0x2A, static_cast<std::uint8_t>(p.udhIndex), 2);
  const TPDUSMS pdu = StringToPDUSMS(W(p.phone), W(p.center), W(p.text), p.encoding, p.flash,
                                     p.udhIndex > 0 ? &udh : nullptr);
  EXPECT_EQ(pdu.Data, p.data);
  EXPECT_EQ(pdu.Length, p.length);
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceMessages, SubmitVectors,
    ::testing::Values(
        SubmitCase{"NoCentreNoHeader", "+15550100", "", "hellohello", meAuto, false, 0,
                   "00" "11" "00" "0891" "51551000" "00" "00" "AA" "0A" "E8329BFD4697D9EC37", "21"},
        // The destination's type comes from its own "+", whatever the centre's.
        SubmitCase{"WithCentre", "+15550100", "+15550199", "hellohello", meAuto, false, 0,
                   "0591" "51551099" "11" "00" "0891" "51551000" "00" "00" "AA" "0A" "E8329BFD4697D9EC37", "21"},
        SubmitCase{"FirstOfTwoParts", "+15550100", "", "hi", meAuto, false, 1,
                   "00" "51" "00" "0891" "51551000" "00" "00" "AA" "09" "0500032A0201" "D069", "20"},
        // UCS2 class 0 is 0x18: 0xF8 would announce 8-bit data.
        SubmitCase{"Ucs2Flash", "+15550100", "", "hi", meUCS2, true, 0,
                   "00" "11" "00" "0891" "51551000" "00" "18" "AA" "04" "00680069", "16"},
        SubmitCase{"BlankCentreIsAbsent", "5550100", " \t ", "hi", me7bit, false, 0,
                   "00" "11" "00" "0781" "550501F0" "00" "00" "AA" "02" "E834", "14"},
        SubmitCase{"DoubleZeroIsInternational", "0044123", "", "", me8bit, false, 0,
                   "00" "11" "00" "0591" "4421F3" "00" "04" "AA" "00", "11"},
        SubmitCase{"PlusAndDoubleZeroBothGo", "+0044123", "", "", me8bit, true, 0,
                   "00" "11" "00" "0591" "4421F3" "00" "F4" "AA" "00", "11"},
        SubmitCase{"EightBitWithHeader", "+15550100", "", "ab", me8bit, false, 2,
                   "00" "51" "00" "0891" "51551000" "00" "04" "AA" "08" "0500032A0202" "6162", "20"},
        SubmitCase{"Ucs2WithHeader", "+15550100", "", "ab", meUCS2, false, 1,
                   "00" "51" "00" "0891" "51551000" "00" "08" "AA" "0A" "0500032A0201" "00610062", "22"},
        // Δ fits the alphabet, so 7-bit, and goes as its own code 0x10
        // although Windows-1252 lacks it.
        SubmitCase{"AutoDeltaGoesAsItsGsmCode", "+15550100", "", "Δ", meAuto, false, 0,
                   "00" "11" "00" "0891" "51551000" "00" "00" "AA" "01" "10", "13"},
        // Δ Φ Γ Λ Ω Π Ψ Σ Θ Ξ are codes 0x10 and 0x12 to 0x1A.
        SubmitCase{"GreekCapitalsGoAsGsmCodes", "+15550100", "", "ΔΦΓΛΩΠΨΣΘΞ", me7bit, false, 0,
                   "00" "11" "00" "0891" "51551000" "00" "00" "AA" "0A" "10C98452B15C30190D", "21"},
        // A character outside both the alphabet and Windows-1252 still goes
        // the old way, as "?".
        SubmitCase{"ForcedSevenBitHanIsQuestionMark", "+15550100", "", "你", me7bit, false, 0,
                   "00" "11" "00" "0891" "51551000" "00" "00" "AA" "01" "3F", "13"},
        SubmitCase{"AutoCedillaGoesUcs2", "+15550100", "", "ç", meAuto, false, 0,
                   "00" "11" "00" "0891" "51551000" "00" "08" "AA" "02" "00E7", "14"}),
    [](const auto& tc) { return std::string(tc.param.name); });

// ModemManager src/tests/test-sms-part-3gpp.c, test_create_pdu_ucs2_with_smsc:
// the same message with a validity period of 5 minutes (00) where this
// encoder always writes four days (AA).
TEST(Submit, ModemManagerUcs2VectorMatchesAroundTheValidityPeriod) {
  const TPDUSMS pdu =
      StringToPDUSMS(W("+15555551234"), W("+19037029920"), W("Да здравствует король, детка!"), meAuto, false, nullptr);
  const std::string before = "07919130079229F0" "11" "00" "0B915155551532F4" "00" "08";
  const std::string after =
      "3A" "041404300020043704340440043004320441044204320443043504420020"
      "043A043E0440043E043B044C002C0020043404350442043A04300021";
  ASSERT_EQ(pdu.Data.size(), before.size() + 2 + after.size());
  EXPECT_EQ(pdu.Data.substr(0, before.size()), before);
  EXPECT_EQ(pdu.Data.substr(before.size(), 2), "AA");
  EXPECT_EQ(pdu.Data.substr(before.size() + 2), after);
}

TEST(Submit, LengthNeverCountsTheCentre) {
  const auto without = StringToPDUSMS(W("+15550100"), W(""), W("hello"), meAuto, false, nullptr);
  const auto with = StringToPDUSMS(W("+15550100"), W("+4477850160059"), W("hello"), meAuto, false, nullptr);
  EXPECT_EQ(without.Length, with.Length);
  EXPECT_EQ(with.Data.size() - without.Data.size(), 2u * 8);
}

// ------------------------------------------------ the encoder's output, read independently

struct ReadBackCase {
  const char* name;
  const char* text;
  TMessageEncoding encoding;
  bool header;
};
void PrintTo(const ReadBackCase& c, std::ostream* os) { *os << c.name; }

class SubmitReadBack : public ::testing::TestWithParam<ReadBackCase> {};

TEST_P(SubmitReadBack, IndependentReaderFindsEveryField) {
  const auto& p = GetParam();
  TUDH udh(0x7F, 3, 4);
  const WideString text = W(p.text);
  const TPDUSMS pdu = StringToPDUSMS(W("+4917612345678"), W("+491710760000"), text, p.encoding, false,
                                     p.header ? &udh : nullptr);
  test::SubmitFields f;
  ASSERT_NO_THROW(f = test::ReadSubmit(pdu.Data)) << pdu.Data;
  EXPECT_EQ(f.sca, "+491710760000");
  EXPECT_EQ(f.firstOctet, p.header ? 0x51 : 0x11);
  EXPECT_EQ(f.destination, "+4917612345678");
  EXPECT_EQ(f.validity, 0xAA);
  EXPECT_EQ(std::to_string(f.tpduOctets), pdu.Length);
  if (p.header) {
    EXPECT_EQ(f.header, (std::vector<int>{0x00, 0x03, 0x7F, 4, 3}));
  }
  switch (p.encoding) {
    case meAuto:
    case me7bit:
      EXPECT_EQ(f.dcs, 0x00);
      EXPECT_EQ(f.userDataOctets, (static_cast<std::size_t>(f.udl) * 7 + 7) / 8);  // TS 23.040 9.2.3.16
      EXPECT_EQ(test::StdText(f.septets), test::Utf8(AnsiToWide(WideToAnsi(text))));
      break;
    case me8bit:
      EXPECT_EQ(f.dcs, 0x04);
      EXPECT_EQ(f.octets, WideToAnsi(text));
      break;
    case meUCS2:
      EXPECT_EQ(f.dcs, 0x08);
      ASSERT_EQ(f.octets.size(), 2 * text.size());
      for (std::size_t i = 0; i < text.size(); ++i)
        EXPECT_EQ((static_cast<unsigned char>(f.octets[2 * i]) << 8 | static_cast<unsigned char>(f.octets[2 * i + 1])),
                  text[i]);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, SubmitReadBack,
    ::testing::Values(ReadBackCase{"SevenBit", "Hello, world!", meAuto, false},
                      ReadBackCase{"SevenBitEveryExtension", "\f^{}\\[~]|€ and £¥§¿ÄÖÑÜäöñüà", me7bit, false},
                      ReadBackCase{"SevenBitWithHeader", "hello", me7bit, true},
                      // Code counts that are multiples of 8 need the one further octet.
                      ReadBackCase{"SevenBitHeaderEightCodes", "ABCDEFGH", me7bit, true},
                      ReadBackCase{"SevenBitHeaderSixteenCodes", "ABCDEFGHIJKLMNOz", me7bit, true},
                      ReadBackCase{"SevenBitHeaderExtensionMakesEight", "ABCDEF{", me7bit, true},
                      ReadBackCase{"SevenBitHeaderNoText", "", me7bit, true},
                      ReadBackCase{"SevenBitHeaderFullPart",
                                   "0123456789012345678901234567890123456789012345678901234567890123456789"
                                   "0123456789012345678901234567890123456789012345678901234567890123456789"
                                   "0123456789012", me7bit, true},
                      ReadBackCase{"EightBit", "Grüße €", me8bit, false},
                      ReadBackCase{"EightBitWithHeader", "abc", me8bit, true},
                      ReadBackCase{"Ucs2", "你好, Ωμέγα", meUCS2, false},
                      ReadBackCase{"Ucs2WithHeader", "你好", meUCS2, true}),
    [](const auto& tc) { return std::string(tc.param.name); });

}  // namespace
}  // namespace vesk::codec
