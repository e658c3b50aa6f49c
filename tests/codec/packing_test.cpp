#include "codec/Packing.h"

#include <gtest/gtest.h>

#include "codec_test_support.h"

namespace vesk::codec {
namespace {

using test::FromHex;
using test::ToHex;
using test::Utf8;

struct SeptetCase {
  const char* name;
  const char* text;
  const char* packed;
  const char* source;
};
void PrintTo(const SeptetCase& c, std::ostream* os) { *os << c.name; }

class SeptetVectors : public ::testing::TestWithParam<SeptetCase> {};

TEST_P(SeptetVectors, PackAndUnpack) {
  const auto& p = GetParam();
  EXPECT_EQ(ToHex(StringToPDU7(p.text)), p.packed);
  EXPECT_EQ(Utf8(PDU7ToString(FromHex(p.packed))), p.text);
  EXPECT_EQ(Utf8(PDU7ToString(FromHex(p.packed), static_cast<int>(strlen(p.text)))), p.text);
}

INSTANTIATE_TEST_SUITE_P(
    Public, SeptetVectors,
    ::testing::Values(
        SeptetCase{"HelloHello", "hellohello", "E8329BFD4697D9EC37", "oFono unit/test-sms.c simple_submit"},
        SeptetCase{"EightCodesFillSevenOctets", "ABCDEFGH", "41E19058341E91", "TS 23.038 6.1.2.1.1 layout"},
        SeptetCase{"QuickFox", "The quick fox jumps over the lazy dog",
                   "54741914AFA7C76B90F98D07A9EB6DF81CF4B697E5203ABA0C6287F57910F97D06",
                   "Perl Device::Gsm t/20pdu.t"},
        SeptetCase{"ThisIsTesting", "This is testing !", "54747A0E4ACF41F4F29C9E769F4121",
                   "oFono unit/test-sms.c test_prepare_7bit"}),
    [](const auto& tc) { return std::string(tc.param.name); });

// Every length and fill against a bit-by-bit reading of TS 23.038 6.1.2.1.1.
TEST(Septets, PackUnpackEveryLengthAndFill) {
  for (int fill = 0; fill < 7; ++fill) {
    for (std::size_t length = 0; length <= 24; ++length) {
      SCOPED_TRACE(testing::Message() << "fill " << fill << " length " << length);
      std::string codes;
      for (std::size_t i = 0; i < length; ++i) codes.push_back(static_cast<char>((i * 37 + 0x41) & 0x7F));
      const std::string packed = PackSeptets(codes, fill);
      ASSERT_EQ(packed.size(), (static_cast<std::size_t>(fill) + 7 * length + 7) / 8);
      for (std::size_t i = 0; i < length; ++i) {
        int code = 0;
        for (int b = 0; b < 7; ++b) {
          const std::size_t bit = static_cast<std::size_t>(fill) + 7 * i + static_cast<std::size_t>(b);
          if (static_cast<unsigned char>(packed[bit / 8]) & (1 << (bit % 8))) code |= 1 << b;
        }
        ASSERT_EQ(code, codes[i]) << i;
      }
      EXPECT_EQ(UnpackSeptets(packed, static_cast<std::size_t>(fill), length), codes);
    }
  }
}

TEST(Septets, FinalAtSurvivesWithTheSeptetCount) {
  // "ABCDEFG@": the eighth code, 0, fills the top of the seventh octet.
  const std::string packed = StringToPDU7("ABCDEFG@");
  ASSERT_EQ(packed.size(), 7u);
  EXPECT_EQ(Utf8(PDU7ToString(packed, 8)), "ABCDEFG@");
  EXPECT_EQ(Utf8(PDU7ToString(packed)), "ABCDEFG");  // the count-less form cannot tell it from padding
  EXPECT_EQ(Utf8(PDU7ToString(StringToPDU7("hi@"), 3)), "hi@");
  // Seven codes leave seven spare bits: no "@" appears with the count.
  EXPECT_EQ(Utf8(PDU7ToString(StringToPDU7("ABCDEFG"), 7)), "ABCDEFG");
  EXPECT_EQ(Utf8(PDU7ToString(StringToPDU7("ABCDEFG"), 20)), "ABCDEFG@");
}

TEST(Septets, ExtensionCharactersCountTwiceAndLongTextsAreCut) {
  EXPECT_EQ(Utf8(PDU7ToString(StringToPDU7("a{b}"), 6)), "a{b}");
  const std::string packed = StringToPDU7(std::string(161, 'x'));
  EXPECT_EQ(packed.size(), 140u);
  EXPECT_EQ(Utf8(PDU7ToString(packed)), std::string(160, 'x'));
  EXPECT_EQ(StringToPDU7(""), "");
  EXPECT_EQ(Utf8(PDU7ToString("")), "");
}

TEST(FillBits, HeaderFillBitGoesFirst) {
  // "hi" after a 6-octet concatenation header: one fill bit first.
  EXPECT_EQ(ToHex(PackSeptets("hi", 1)), "D069");
  EXPECT_EQ(ToHex(Pad7bitBoundary(StringToPDU7("hi"), 1)), "D069");
}

TEST(FillBits, EightCodesAfterAFillBitNeedAnEighthOctet) {
  EXPECT_EQ(ToHex(PackSeptets("ABCDEFGH", 1)), "82C221B1683C2201");
  // The in-place shift keeps seven octets: the last code's top bit wraps
  // into the fill bit of octet 1.
  EXPECT_EQ(ToHex(Pad7bitBoundary(FromHex("41E19058341E91"), 1)), "83C221B1683C22");
}

TEST(FillBits, PadAndUnpadAreInverse) {
  EXPECT_EQ(ToHex(Pad7bitBoundary(FromHex("8101"), 1)), "0203");
  EXPECT_EQ(ToHex(Unpad7bitBoundary(FromHex("0203"), 1)), "8101");
  EXPECT_EQ(ToHex(Unpad7bitBoundary(FromHex("FF"), 3)), "1F");
  EXPECT_EQ(ToHex(Pad7bitBoundary(FromHex("FF"), 3)), "F8");
  const std::string s = FromHex("E8329BFD4697D9EC37");
  for (int n = 1; n <= 7; ++n) EXPECT_EQ(Unpad7bitBoundary(Pad7bitBoundary(s, n), n), s) << n;
  EXPECT_EQ(Pad7bitBoundary(s, 0), s);
  EXPECT_EQ(Unpad7bitBoundary(s, -1), s);
}

TEST(OctetText, EightBitAndUcs2) {
  EXPECT_EQ(ToHex(StringToPDU16(test::W("A€"))), "004120AC");
  EXPECT_EQ(Utf8(PDU16ToString(FromHex("004120"))), "A");
  EXPECT_EQ(Utf8(PDU16ToString(FromHex("D83DDE00"))), "😀");  // a surrogate pair passes as two units
  EXPECT_EQ(StringToPDU8("a\x80z"), "a\x80z");
  EXPECT_EQ(Utf8(PDU8ToString("a\x80\xE9")), "a€é");
}

TEST(BinaryDigits, BothWays) {
  EXPECT_EQ(ByteToBinString(5), "00000101");
  EXPECT_EQ(BinStringToByte("00000101"), 5);
  EXPECT_EQ(WordToBinString(0), std::string(16, '0'));
  EXPECT_EQ(WordToBinString(0x20AC), "0010000010101100");
  EXPECT_EQ(BinStringToWord("0010000010101100"), 0x20AC);
  EXPECT_EQ(BinStringToByte(""), 0);
  EXPECT_EQ(BinStringToByte("100000001"), 1);  // modulo 256
  EXPECT_EQ(BinStringToByte("2"), 2);          // any digit is weighted
  EXPECT_THROW(BinStringToByte("1x0"), EConvertError);
  EXPECT_THROW(BinStringToWord(" 1"), EConvertError);
}

TEST(SafeCopy, WholeRangeOrFallback) {
  EXPECT_EQ(SafeCopy("ABC", 2, 2, "-"), "BC");
  EXPECT_EQ(SafeCopy("ABC", 2, 3, "-"), "-");
  EXPECT_EQ(SafeCopy("ABC", 0, 1, "-"), "-");
  EXPECT_EQ(SafeCopy("ABC", 1, 0, "-"), "-");
  EXPECT_EQ(SafeCopy("ABC", 3, 1, "-"), "C");
  EXPECT_EQ(SafeCopy("ABC", 2147483647, 2147483647, "-"), "-");
}

TEST(Pad0Left, PadsShortStringsOnly) {
  EXPECT_EQ(Pad0Left("7", 3), "007");
  EXPECT_EQ(Pad0Left("1234", 3), "1234");
  EXPECT_EQ(Pad0Left("", -1), "");
}

}  // namespace
}  // namespace vesk::codec
