#include "codec/Alphabet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "codec_test_support.h"
#include "national_tables_std.h"

namespace vesk::codec {
namespace {

using test::kStdDefaultAlphabet;
using test::W;

std::string Byte(int b) { return std::string(1, static_cast<char>(b)); }
std::string Decode(const std::string& codes, TNationalLanguageShiftTables table = stDefault,
                   TNationalLanguageShiftTables locking = stDefault) {
  return test::Utf8(GSM7bitDefaultAlphabetToString(codes, locking, table));
}

// The 128 characters of a table typed as rows; kNoCharacter where empty.
WideString StdRows(const std::array<const char*, 8>& rows) {
  WideString all;
  for (const char* row : rows) all += W(row);
  return all;
}

constexpr TNationalLanguageShiftTables kEveryTable[] = {
    stDefault, stSpanish, stPortuguese, stTurkish, stBengali, stGujarati, stHindi,
    stKannada, stMalayalam, stOriya,   stPunjabi, stTamil,     stTelugu,  stUrdu,
};

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
    for (auto table : kEveryTable) EXPECT_EQ(Decode("\x1B" + Byte(e.code), table), e.utf8);
    const AnsiString ansi = WideToAnsi(W(e.utf8));
    // A carriage return is a default alphabet character: it encodes alone.
    const std::string expected = e.code == 0x0D ? "\r" : "\x1B" + Byte(e.code);
    EXPECT_EQ(StringToGSM7bitDefaultAlphabet(ansi), expected);
    EXPECT_TRUE(IsGSM7bitDefaultAlphabet(W(e.utf8)));
  }
}

// ------------------------------------------------ national language tables (annex A)

class NationalTable : public ::testing::TestWithParam<test::StdNationalLanguage> {};

// Every code of the standard's tables, and no other, holds a character in
// the codec's: the tables have their size and every entry its place.
TEST_P(NationalTable, EveryCodeHoldsTheStandardsCharacter) {
  const auto& p = GetParam();
  const WideString single = StdRows(p.single);
  ASSERT_EQ(single.size(), 128u);
  const WideString locking = p.hasLockingTable ? StdRows(p.locking) : kStdDefaultAlphabet;
  ASSERT_EQ(locking.size(), 128u);
  int singleCount = 0, lockingCount = 0;
  for (int code = 0; code < 128; ++code) {
    SCOPED_TRACE(code);
    const auto c = static_cast<unsigned char>(code);
    const char16_t s = single[static_cast<std::size_t>(code)];
    EXPECT_EQ(SingleShiftCharacter(p.table, c), s == test::kNoCharacter ? 0 : s);
    singleCount += s != test::kNoCharacter;
    if (code == 0x1B) continue;  // the escape
    const char16_t l = locking[static_cast<std::size_t>(code)];
    EXPECT_EQ(LockingShiftCharacter(p.table, c), l == test::kNoCharacter ? 0 : l);
    lockingCount += l != test::kNoCharacter;
  }
  int codecSingle = 0, codecLocking = 0;
  for (int code = 0; code < 256; ++code) {
    codecSingle += SingleShiftCharacter(p.table, static_cast<unsigned char>(code)) != 0;
    codecLocking += LockingShiftCharacter(p.table, static_cast<unsigned char>(code)) != 0;
  }
  EXPECT_EQ(codecSingle, singleCount);
  EXPECT_EQ(codecLocking, lockingCount);
}

// No character stands at two codes of one table, except the two that the
// Indic and Urdu single shift tables list twice ("¡" at 0x13 and 0x15, "*"
// at 0x0B and 0x18).
TEST_P(NationalTable, NoCharacterAtTwoCodes) {
  const auto& p = GetParam();
  for (bool single : {false, true}) {
    std::vector<char16_t> seen;
    for (int code = 0; code < 128; ++code) {
      const auto c = static_cast<unsigned char>(code);
      const char16_t ch = single ? SingleShiftCharacter(p.table, c) : LockingShiftCharacter(p.table, c);
      if (ch == 0) continue;
      const bool allowed = single && p.identifier >= 4 && (ch == u'¡' || ch == u'*');
      if (!allowed) {
        EXPECT_EQ(std::count(seen.begin(), seen.end(), ch), 0) << p.name << " code " << code;
      }
      seen.push_back(ch);
    }
  }
}

// Every character of both tables, encoded from the typed copy (the first
// code that holds it; in a single shift table after the escape), decodes
// back to itself with the language's tables.
TEST_P(NationalTable, EveryCharacterRoundTrips) {
  const auto& p = GetParam();
  const WideString single = StdRows(p.single);
  const WideString locking = p.hasLockingTable ? StdRows(p.locking) : kStdDefaultAlphabet;
  const TNationalLanguageShiftTables lockingTable = p.hasLockingTable ? p.table : stDefault;
  for (int code = 0; code < 128; ++code) {
    const char16_t l = locking[static_cast<std::size_t>(code)];
    if (code != 0x1B && l != test::kNoCharacter) {
      const auto first = locking.find(l);
      EXPECT_EQ(GSM7bitDefaultAlphabetToString(Byte(static_cast<int>(first)), lockingTable, stDefault),
                WideString(1, l))
          << p.name << " locking " << code;
    }
    const char16_t s = single[static_cast<std::size_t>(code)];
    if (s != test::kNoCharacter) {
      const auto first = single.find(s);
      EXPECT_EQ(GSM7bitDefaultAlphabetToString("\x1B" + Byte(static_cast<int>(first)), lockingTable, p.table),
                WideString(1, s))
          << p.name << " single " << code;
    }
  }
}

TEST_P(NationalTable, IdentifierNamesTheTable) {
  const auto& p = GetParam();
  EXPECT_EQ(NationalLanguageTable(p.identifier), p.table);
  EXPECT_EQ(NationalLanguageIdentifier(p.table), p.identifier);
}

INSTANTIATE_TEST_SUITE_P(Ts23038AnnexA, NationalTable, ::testing::ValuesIn(test::StdNationalLanguages()),
                         [](const auto& tc) { return std::string(tc.param.name); });

TEST(NationalLanguageTable, ReservedIdentifiersAreTheDefault) {
  for (int id : {-1, 0, 14, 15, 0x7F, 0xFF}) EXPECT_EQ(NationalLanguageTable(id), stDefault) << id;
  EXPECT_EQ(NationalLanguageIdentifier(stDefault), 0);
}

// The earlier single shift tables keep decoding what they did (the
// Portuguese one now reaches past 0x12).
TEST(NationalLanguageTable, SingleShiftEntriesThatOnlyTheirTableHolds) {
  using Case = std::tuple<std::string, TNationalLanguageShiftTables, std::string>;
  for (const auto& [codes, table, text] : std::vector<Case>{
           {"\x1B\x41", stSpanish, "Á"},
           {"\x1B\x7B", stPortuguese, "ã"},
           {"\x1B\x7C", stPortuguese, "õ"},
           {"\x1B\x61", stPortuguese, "Â"},
           {"\x1B\x13", stPortuguese, "Γ"},
           {"\x1B\x69", stTurkish, "ı"},
           {"\x1B\x19", stHindi, "।"},
           {"\x1B\x65", stTelugu, "€"},
       }) {
    EXPECT_EQ(Decode(codes, table), text) << test::ToHex(codes);
  }
}

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

TEST(GsmAlphabet, DecodingSkipsTrailingEscapeAndHighBytes) {
  EXPECT_EQ(Decode("ab\x1B"), "ab");
  EXPECT_EQ(Decode("a\x80\xFF" "b"), "ab");
  EXPECT_EQ(Decode("\x1B\xC1" "a"), "a");
  EXPECT_EQ(Decode(""), "");
}

// TS 23.038 6.2.1.1: after the escape, a code that the shift table lacks
// shows the character of the main table (the default alphabet, or the
// locking shift table in force); a second escape shows a space.
struct EscapeCase {
  const char* name;
  const char* codes;  // hex
  TNationalLanguageShiftTables locking;
  TNationalLanguageShiftTables single;
  const char* text;
};
void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.name; }

class UnlistedShiftCode : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(UnlistedShiftCode, ShowsTheMainTablesCharacter) {
  const auto& p = GetParam();
  EXPECT_EQ(test::Utf8(GSM7bitDefaultAlphabetToString(test::FromHex(p.codes), p.locking, p.single)), p.text);
}

INSTANTIATE_TEST_SUITE_P(
    Ts23038, UnlistedShiftCode,
    ::testing::Values(EscapeCase{"LetterAfterEscape", "1B41", stDefault, stDefault, "A"},
                      EscapeCase{"AtAfterEscape", "1B00", stDefault, stDefault, "@"},
                      EscapeCase{"EscapeEscapeIsASpace", "1B1B61", stDefault, stDefault, " a"},
                      EscapeCase{"SpanishLacksTheCode", "1B42", stDefault, stSpanish, "B"},
                      EscapeCase{"TurkishLockingInForce", "1B07", stTurkish, stDefault, "ı"},
                      EscapeCase{"HindiLockingAndSingle", "1B02", stHindi, stHindi, "$"},
                      EscapeCase{"HindiLockingCodeTheShiftLacks", "1B3B", stHindi, stHindi, ";"},
                      EscapeCase{"ReservedInBoth", "1B0C", stBengali, stDefault, ""},
                      EscapeCase{"ExtensionCharacterStillWins", "1B65", stDefault, stDefault, "€"}),
    [](const auto& tc) { return std::string(tc.param.name); });

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
