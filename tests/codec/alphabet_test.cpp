#include "codec/Alphabet.h"

#include <gtest/gtest.h>

#include "codec_test_support.h"

namespace vesk::codec {
namespace {

using test::kStdDefaultAlphabet;
using test::W;

std::string Byte(int b) { return std::string(1, static_cast<char>(b)); }
std::string Decode(const std::string& codes, TNationalLanguageShiftTables table = stDefault) {
  return test::Utf8(GSM7bitDefaultAlphabetToString(codes, stDefault, table));
}

// ------------------------------------------------ every entry of the standard's tables

TEST(GsmAlphabet, EveryDefaultCodeDecodesAndEncodesBack) {
  for (int code = 0; code < 128; ++code) {
    if (code == 0x1B) continue;
    SCOPED_TRACE(code);
    const char16_t ch = kStdDefaultAlphabet[static_cast<std::size_t>(code)];
    EXPECT_EQ(GSM7bitDefaultAlphabetToString(Byte(code)), WideString(1, ch));
    EXPECT_TRUE(IsGSM7bitDefaultAlphabet(ch));
    unsigned char ansi;
    if (WideCharToAnsi(ch, ansi)) {  // the Greek capitals have no 8-bit form
      EXPECT_EQ(StringToGSM7bitDefaultAlphabet(Byte(ansi)), Byte(code));
    }
  }
}

TEST(GsmAlphabet, EveryExtensionCodeDecodesWithEveryTableAndEncodesBack) {
  for (const auto& e : test::kStdExtension) {
    SCOPED_TRACE(e.code);
    for (auto table : {stDefault, stSpanish, stPortuguese, stTurkish})
      EXPECT_EQ(Decode("\x1B" + Byte(e.code), table), e.utf8);
    const AnsiString ansi = WideToAnsi(W(e.utf8));
    // A carriage return is a default alphabet character: it encodes alone.
    const std::string expected = e.code == 0x0D ? "\r" : "\x1B" + Byte(e.code);
    EXPECT_EQ(StringToGSM7bitDefaultAlphabet(ansi), expected);
    EXPECT_TRUE(IsGSM7bitDefaultAlphabet(W(e.utf8)));
  }
}

struct NationalCase {
  const char* name;
  TNationalLanguageShiftTables table;
  const std::vector<test::StdShiftEntry>* entries;
  int decodedBelow;  // entries from this code on decode to nothing
};
void PrintTo(const NationalCase& c, std::ostream* os) { *os << c.name; }

class NationalShiftTable : public ::testing::TestWithParam<NationalCase> {};

TEST_P(NationalShiftTable, EveryEntryDecodesOnlyWithItsTable) {
  const auto& p = GetParam();
  for (const auto& e : *p.entries) {
    SCOPED_TRACE(e.code);
    const std::string codes = "\x1B" + Byte(e.code);
    EXPECT_EQ(Decode(codes, p.table), e.code < p.decodedBelow ? e.utf8 : "");
    EXPECT_EQ(Decode(codes, stDefault), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ts23038AnnexA2, NationalShiftTable,
    ::testing::Values(NationalCase{"Spanish", stSpanish, &test::kStdSpanish, 0x80},
                      // The component decodes the Portuguese table up to 0x12 only.
                      NationalCase{"Portuguese", stPortuguese, &test::kStdPortuguese, 0x13},
                      NationalCase{"Turkish", stTurkish, &test::kStdTurkish, 0x80}),
    [](const auto& tc) { return std::string(tc.param.name); });

TEST(GsmAlphabet, EveryAnsiByteEncodesAsTheStandardTablesSay) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const char16_t ch = AnsiCharToWide(static_cast<unsigned char>(b));
    std::string expected;
    const auto code = kStdDefaultAlphabet.find(ch);
    if (code != WideString::npos && code != 0x1B) {
      expected = Byte(static_cast<int>(code));
    } else {
      for (const auto& e : test::kStdExtension)
        if (W(e.utf8) == WideString(1, ch)) expected = "\x1B" + Byte(e.code);
    }
    EXPECT_EQ(StringToGSM7bitDefaultAlphabet(Byte(b)), expected);
    EXPECT_EQ(IsGSM7bitDefaultAlphabet(ch), !expected.empty());
  }
}

TEST(GsmAlphabet, PublishedSetIsDefaultCodesThenExtensionThenTheRest) {
  WideString expected = kStdDefaultAlphabet.substr(0, 0x1B);
  for (const auto& e : test::kStdExtension) expected += W(e.utf8);
  expected += kStdDefaultAlphabet.substr(0x1C);
  EXPECT_EQ(GSM7bitDefaultAlphabet(), expected);
  EXPECT_EQ(GSM7bitDefaultAlphabet().size(), 138u);
}

// ------------------------------------------------ single behaviours

TEST(GsmAlphabet, BracketsRoundTripThroughTheEscape) {
  EXPECT_EQ(StringToGSM7bitDefaultAlphabet("[x]"), "\x1B\x3C\x78\x1B\x3E");
  EXPECT_EQ(Decode("\x1B\x3C\x78\x1B\x3E"), "[x]");
}

TEST(GsmAlphabet, DecodingSkipsTrailingEscapeHighBytesAndUnknownShifts) {
  EXPECT_EQ(Decode("ab\x1B"), "ab");
  EXPECT_EQ(Decode("a\x80\xFF" "b"), "ab");
  EXPECT_EQ(Decode("\x1B\x41"), "");
  EXPECT_EQ(Decode("\x1B\x41", stSpanish), "Á");
  EXPECT_EQ(Decode("\x1B\x1B" "a"), "a");
  EXPECT_EQ(Decode("\x1B\xC1" "a"), "a");
  EXPECT_EQ(Decode(""), "");
}

TEST(GsmAlphabet, DeltaFitsButHasNoAnsiByte) {
  EXPECT_TRUE(IsGSM7bitDefaultAlphabet(W("Δ")));
  EXPECT_EQ(Decode("\x10"), "Δ");
}

// The encoder takes UTF-16 text: every character of the default alphabet
// and the extension table reaches its code without the detour through an
// 8-bit code page, the Greek capitals included.
TEST(GsmAlphabet, EveryCharacterEncodesStraightFromUtf16) {
  for (int code = 0; code < 128; ++code) {
    if (code == 0x1B) continue;
    SCOPED_TRACE(code);
    const char16_t ch = kStdDefaultAlphabet[static_cast<std::size_t>(code)];
    AnsiString codes;
    EXPECT_EQ(AppendGsmCodes(codes, ch), 1);
    EXPECT_EQ(codes, Byte(code));
  }
  for (const auto& e : test::kStdExtension) {
    SCOPED_TRACE(e.code);
    AnsiString codes;
    AppendGsmCodes(codes, W(e.utf8));
    EXPECT_EQ(codes, e.code == 0x0D ? "\r" : "\x1B" + Byte(e.code));
  }
}

TEST(GsmAlphabet, GreekCapitalsCountAsSevenBitAndKeepTheirCodes) {
  const WideString greek = W("ΔΦΓΛΩΠΨΣΘΞ");
  EXPECT_TRUE(IsGSM7bitDefaultAlphabet(greek));
  AnsiString codes;
  AppendGsmCodes(codes, greek);
  EXPECT_EQ(codes, "\x10\x12\x13\x14\x15\x16\x17\x18\x19\x1A");
  // The 8-bit path cannot carry them: the code page turns them into "?".
  AnsiString viaAnsi;
  AppendGsmCodesViaAnsi(viaAnsi, W("Δ"));
  EXPECT_EQ(viaAnsi, "?");
}

TEST(GsmAlphabet, OtherCharactersEncodeAsThroughTheCodePage) {
  // "ç" and "`" are 8-bit characters outside the alphabet: dropped. A
  // character the code page lacks becomes "?", whose code is 0x3F.
  AnsiString codes;
  EXPECT_EQ(AppendGsmCodes(codes, u'\u00E7'), 0);
  EXPECT_EQ(AppendGsmCodes(codes, u'`'), 0);
  EXPECT_EQ(AppendGsmCodes(codes, u'\u4F60'), 1);
  EXPECT_EQ(codes, "?");
}

TEST(GsmAlphabet, FitAndUnicodeAreDifferentQuestions) {
  EXPECT_TRUE(IsGSM7bitDefaultAlphabet(W("Ä€")));
  EXPECT_TRUE(IsUnicode(W("Ä€")));
  EXPECT_FALSE(IsGSM7bitDefaultAlphabet(W("é ç")));
  EXPECT_FALSE(IsUnicode(W("é ç")));
  EXPECT_TRUE(IsGSM7bitDefaultAlphabet(WideString()));
  EXPECT_FALSE(IsUnicode(WideString()));
  EXPECT_FALSE(IsGSM7bitDefaultAlphabet(W("你")));
}

TEST(ReplaceControlChars, NamesEveryControlByteAndKeepsTheRest) {
  EXPECT_EQ(ReplaceControlChars("AT\r\n"), "AT<CR><LF>");
  EXPECT_EQ(ReplaceControlChars(std::string("\x00\x09\x1A\x1B\x1F", 5)), "<NUL><TAB><SUB><ESC><US>");
  EXPECT_EQ(ReplaceControlChars("\x7F\x80\xFF "), "\x7F\x80\xFF ");
  EXPECT_EQ(ReplaceControlChars(""), "");
}

}  // namespace
}  // namespace vesk::codec
