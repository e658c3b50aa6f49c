// The framework layer's string, number and code-page helpers.
#include <gtest/gtest.h>

#include "component/Framework.h"

namespace vesk {
namespace {

TEST(Trim, RemovesBlanksAndControlCharactersAtBothEnds) {
  EXPECT_EQ(Trim(AnsiString("\t\r\n  COM7 \x01")), "COM7");
  EXPECT_EQ(Trim(AnsiString("  a b  ")), "a b");
  EXPECT_EQ(Trim(AnsiString(" \t ")), "");
  EXPECT_EQ(Trim(UnicodeString(u" \u00e9t\u00e9 ")), u"\u00e9t\u00e9");
}

TEST(UpperCase, TouchesOnlyAtoZ) {
  EXPECT_EQ(UpperCase(AnsiString("com7 \xe9z")), "COM7 \xe9Z");
  EXPECT_EQ(UpperCase(UnicodeString(u"ok \u00e9")), u"OK \u00e9");
}

struct IntCase {
  const char* text;
  bool ok;
  int value;
};

class StrToIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntTest, ParsesOrRaises) {
  const IntCase& c = GetParam();
  if (c.ok) {
    EXPECT_EQ(StrToInt(AnsiString(c.text)), c.value);
  } else {
    EXPECT_THROW(StrToInt(AnsiString(c.text)), EConvertError);
  }
  int v = -12345;
  EXPECT_EQ(TryStrToInt(c.text, v), c.ok);
}

INSTANTIATE_TEST_SUITE_P(Numbers, StrToIntTest,
                         ::testing::Values(IntCase{"0", true, 0}, IntCase{"  42", true, 42}, IntCase{"-7", true, -7},
                                           IntCase{"+8", true, 8}, IntCase{"$1F", true, 31},
                                           IntCase{"$FFFFFFFF", true, -1}, IntCase{"2147483647", true, 2147483647},
                                           IntCase{"-2147483648", true, -2147483647 - 1},
                                           IntCase{"2147483648", false, 0}, IntCase{"", false, 0},
                                           IntCase{" ", false, 0}, IntCase{"12 ", false, 0},
                                           IntCase{"1a", false, 0}, IntCase{"-", false, 0},
                                           IntCase{"0x10", true, 16}));

TEST(IntToHex, UpperCaseAndPadded) {
  EXPECT_EQ(IntToHex(0x2a, 2), "2A");
  EXPECT_EQ(IntToHex(0, 4), "0000");
  EXPECT_EQ(IntToHex(0x12345, 2), "12345");
  EXPECT_EQ(IntToStr(-15), "-15");
}

TEST(Pos, CountsFromOneAndGivesZeroWhenAbsent) {
  EXPECT_EQ(Pos("OK", "\r\nOK\r\n"), 3);
  EXPECT_EQ(Pos("ERROR", "OK"), 0);
  EXPECT_EQ(Pos("", "abc"), 0);
  EXPECT_EQ(PosEx("a", "banana", 3), 4);
  EXPECT_EQ(PosEx("a", "banana", 7), 0);
}

TEST(CodePage, Windows1252RoundTripsEveryByte) {
  for (int b = 0; b < 256; ++b) {
    AnsiString one(1, static_cast<char>(b));
    EXPECT_EQ(WideToAnsi(AnsiToWide(one)), one) << b;
  }
  EXPECT_EQ(AnsiToWide("\x80"), u"\u20AC");  // euro sign
  EXPECT_EQ(AnsiToWide("\x9f"), u"\u0178");  // Y with diaeresis
  EXPECT_EQ(AnsiToWide("\xe9"), u"\u00e9");
}

TEST(CodePage, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(WideToAnsi(u"\u0394x\u4e2d"), "?x?");  // Greek Delta and a CJK ideograph
  EXPECT_EQ(WideToAnsi(u"\u20AC"), "\x80");
  // Neighbours of the code page's own characters, and the C1 controls it
  // replaces, have no byte.
  EXPECT_EQ(WideToAnsi(u"\u0080\u0151\u2015\u2123\u20AB\u009E\uFFFF"), "???????");
  EXPECT_EQ(WideToAnsi(u"\u0081\u008D\u2122\u0178"), "\x81\x8D\x99\x9F");
}

TEST(Utf8, RoundTripsIncludingSurrogatePairs) {
  WideString text = u"A\u00e9\u20AC\U0001F600";
  EXPECT_EQ(WideToUtf8(text), "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
}

TEST(Utf8, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xff" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("\xc3"), u"\uFFFD");          // truncated sequence
  EXPECT_EQ(Utf8ToWide("\xed\xa0\x80"), u"\uFFFD");  // encoded surrogate
  EXPECT_EQ(WideToUtf8(u"\xD800"), "\xef\xbf\xbd");   // lone surrogate
}

}  // namespace
}  // namespace vesk
