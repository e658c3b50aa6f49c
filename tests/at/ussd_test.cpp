// USSD results (TS 27.007 7.15) and their coding schemes (TS 23.038 5),
// from raw wire strings. The +CUSD lines marked "gammu" are the captures of
// real modems in gammu's test suite (tests/at-ussd: a Huawei E160, a
// Huawei E3276, a Quectel M35, a Telit HE910-D, a Dell modem and unnamed
// ones); the texts they should decode to were worked out apart from this
// code (the septets unpacked by hand, the UCS2 read as UTF-16BE).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/StateAnswers.h"

namespace vesk::at {
namespace {

// Every way of cutting the text into reads frames the same as the whole.
std::vector<TResult> FrameWhole(const std::string& text) { return Frame(text, true).Results; }

TUSSDResult Notice(const std::string& line, const AnsiString& charset = "GSM") {
  const std::vector<TResult> results = FrameWhole("\r\n" + line + "\r\n");
  EXPECT_EQ(results.size(), 1u) << line;
  TUSSDResult u;
  EXPECT_TRUE(!results.empty() && USSDNotice(results[0], charset, u)) << line;
  return u;
}

struct UssdCase {
  const char* name;
  std::string line;
  const char* charset;
  TUSSDStatus status;
  int dcs;
  const char* utf8;
  bool decoded;
};
void PrintTo(const UssdCase& c, std::ostream* os) { *os << c.name; }
class UssdResults : public ::testing::TestWithParam<UssdCase> {};

TEST_P(UssdResults, DecodedByTheirCodingScheme) {
  const UssdCase& c = GetParam();
  const TUSSDResult u = Notice(c.line, c.charset);
  EXPECT_EQ(u.Status, c.status) << USSDStatusName(u.Status);
  EXPECT_EQ(u.DCS, c.dcs);
  EXPECT_EQ(WideToUtf8(u.Text), c.utf8);
  EXPECT_EQ(u.Decoded, c.decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Cusd, UssdResults,
    ::testing::Values(
        // gammu 02-E160: GSM 7-bit packed into hexadecimal, <dcs> 15; the CR
        // that fills the last seven bits is no part of the text.
        UssdCase{"PackedHex",
                 "+CUSD: 0,\"49B41C74ACD3D16171D90D32FBE52072BA0C72CA5DB45CAC76C3CD6CB41B2D060389CB74F9FE4C07D55C371C"
                 "A85897BF1B\",15",
                 "GSM", usNoFurtherAction, 15, "Ihr Guthaben für die Nr.4915783647410 beträgt 5.78 Euro", true},
        // gammu 01-E160: the same unquoted and without <dcs> (the default 0).
        UssdCase{"PackedHexUnquotedNoDcs",
                 "+CUSD: 0, 49B41C74ACD3D16171D90D66666666666666666666B45CAC76C3CD6CB41B2D060389CB74F9FE4C07DD5CB91AA8"
                 "5897BF1B",
                 "GSM", usNoFurtherAction, -1, "Ihr Guthaben¿LΘ3fLΘ3fLΘ34915783647410 beträgt 7.95 Euro", true},
        // gammu 03: plain text in the GSM set ('{' is code 0x7B, 'ä'), no <dcs>.
        UssdCase{"PlainGsmMenu",
                 "+CUSD: 1,\"Kontostand: 3.00 EUR Bitte w{hlen Sie: 1 Konto aufladen 2 CallNow Transfer\"", "GSM",
                 usFurtherAction, -1, "Kontostand: 3.00 EUR Bitte wählen Sie: 1 Konto aufladen 2 CallNow Transfer",
                 true},
        // gammu 04: terminated by the network, plain, <dcs> 0.
        UssdCase{"TerminatedPlain",
                 "+CUSD: 2,\"Maaf, permintaan Anda tidak dapat kami proses. Silakan coba beberapa saat lagi.\",0",
                 "GSM", usTerminated, 0,
                 "Maaf, permintaan Anda tidak dapat kami proses. Silakan coba beberapa saat lagi.", true},
        // gammu issue178-dell: plain, <dcs> 15.
        UssdCase{"DellPlain",
                 "+CUSD: 0,\"On DATA Pack u have 3Gb 817Mb 169kb valid until 21/05/2016   upto time of data recharge "
                 "done by u.\",15",
                 "IRA", usNoFurtherAction, 15,
                 "On DATA Pack u have 3Gb 817Mb 169kb valid until 21/05/2016   upto time of data recharge done by u.",
                 true},
        // gammu H-issue-hex-8bit: 7-bit text given one code an octet.
        UssdCase{"UnpackedHex",
                 "+CUSD: 1,\"536973612070756C73612052702E333030302E416B7469662073642032362F30322F323032302E0A4B6F6E7465"
                 "6E20526961204D6972616E64612026205261696820556D726F682E5270323230302F534D532F32487220736C6D20313830"
                 "48720A312E59410A322E43656B204B756F74610A333E4E656C706F6E0A342E496E7465726E65740A352E4C61696E6E7961"
                 "0A\",0",
                 "GSM", usFurtherAction, 0,
                 "Sisa pulsa Rp.3000.Aktif sd 26/02/2020.\nKonten Ria Miranda & Raih Umroh.Rp2200/SMS/2Hr slm 180Hr\n"
                 "1.YA\n2.Cek Kuota\n3>Nelpon\n4.Internet\n5.Lainnya\n",
                 true},
        // gammu issue109-E3276: UCS2, <dcs> 72.
        UssdCase{"Ucs2",
                 "+CUSD: 0,\"0414043B044F00200441043F044004300432043A04380020043E002004310430043B0430043D0441043500200"
                 "43D04300431043504400438044204350020002A0031003000350023002E002004230441043B0443043304300020043104"
                 "350441043F043B04300442043D0430002E\",72",
                 "GSM", usNoFurtherAction, 72, "Для справки о балансе наберите *105#. Услуга бесплатна.", true},
        // gammu Uissue358-Quectel_M35: a 7-bit text that a modem in the UCS2
        // character set gave as UCS2, under <dcs> 15.
        UssdCase{
            "Ucs2UnderSevenBit",
            "+CUSD: 2,\"00480061007600690020006B0065007200650074003A0020003000460074002E002000460065006C007400F60"
            "06C007400F60074007400200065006700790065006E006C00650067003A0020003700370037003700460074002C0028006500"
            "62006200F6006C0020007600E0007300E00072006C00E000730072006100200069007300200066006F0072006400EC00740068"
            "0061007400F2003A00200037003700370037004600740029002E0020004400EC006A00630073006F006D00610067003A00200"
            "0420065006E0063007300F200200041002E00200055006A002000540065006C0065006B006F006D002000F6006E006B006900"
            "73007A006F006C006700E0006C00F2003A0020002A0031003100310023\",15",
            "GSM", usTerminated, 15,
            "Havi keret: 0Ft. Feltöltött egyenleg: 7777Ft,(ebböl vàsàrlàsra is fordìthatò: 7777Ft). Dìjcsomag: "
            "Bencsò A. Uj Telekom önkiszolgàlò: *111#",
            true},
        // gammu issue377-HE910-D: <dcs> 17, UCS2 after a language in two
        // octets ("ar"); the text ends at the first U+0000, the modem's
        // filling after it is dropped.
        UssdCase{
            "Ucs2WithLanguage",
            "+CUSD: 2,\"613906310635064A062F06430020003100300037002E003900330020062F002E0644060C0627064406350644062"
            "7062D064A0629002000200032003000310038002D00310031002D003000390000FFFF60B16260EEEEFFFFFFFFFFFFFFFFFFFF6"
            "0B16260EEEEFFFFFFFFFFFFFFFFFFFF60B16260EEEEFFFF00A962600000000000000000EE000000000000000000000068B56260"
            "58655F60\",17",
            "GSM", usTerminated, 17, "رصيدك 107.93 د.ل،الصلاحية  2018-11-09", true},
        // The modem in the UCS2 character set, a 7-bit text (TS 27.007 7.15).
        UssdCase{"Ucs2CharacterSet", "+CUSD: 0,\"00480069\",15", "UCS2", usNoFurtherAction, 15, "Hi", true},
        // 8-bit data, as hexadecimal (<dcs> 0x44).
        UssdCase{"EightBit", "+CUSD: 0,\"4869E9\",68", "GSM", usNoFurtherAction, 68, "Hié", true},
        // <dcs> 0x10: the language and a CR come first.
        UssdCase{"SevenBitWithLanguage", "+CUSD: 0,\"de\rHallo\",16", "GSM", usNoFurtherAction, 16, "Hallo", true},
        // Status alone.
        UssdCase{"NotSupported", "+CUSD: 4", "GSM", usNotSupported, -1, "", false},
        UssdCase{"NetworkTimeOut", "+CUSD: 5", "GSM", usNetworkTimeOut, -1, "", false},
        UssdCase{"OtherClient", "+CUSD: 3", "GSM", usOtherClient, -1, "", false},
        // A double quote inside the text does not end it.
        UssdCase{"QuoteInside", "+CUSD: 0,\"Say \"hi\" now\",15", "IRA", usNoFurtherAction, 15, "Say \"hi\" now", true},
        UssdCase{"LowerCase", "+cusd: 1,\"Menu\",15", "GSM", usFurtherAction, 15, "Menu", true},
        // What does not decode comes back raw, with its coding scheme.
        UssdCase{"Ucs2OddDigits", "+CUSD: 0,\"00480\",72", "GSM", usNoFurtherAction, 72, "00480", false},
        UssdCase{"Ucs2NotHex", "+CUSD: 0,\"Hello\",72", "GSM", usNoFurtherAction, 72, "Hello", false},
        UssdCase{"EightBitNotHex", "+CUSD: 0,\"Hello\",68", "GSM", usNoFurtherAction, 68, "Hello", false},
        UssdCase{"Compressed", "+CUSD: 0,\"4869\",96", "GSM", usNoFurtherAction, 96, "4869", false},
        UssdCase{"NeverClosed", "+CUSD: 0,\"Hello", "IRA", usNoFurtherAction, -1, "Hello", true},
        UssdCase{"DcsNotANumber", "+CUSD: 0,\"Hello\",x", "IRA", usNoFurtherAction, -1, "Hello", true}));

TEST(UssdResultLines, Ucs2SurrogatesComeInPairsOrAsReplacements) {
  WideString text;
  // U+1F600 as a pair; then a high surrogate alone, a low one alone.
  EXPECT_TRUE(DecodeUSSDText("D83DDE00D83D0041DE00", 72, "GSM", text));
  EXPECT_EQ(text, (WideString{0xD83D, 0xDE00, 0xFFFD, u'A', 0xFFFD}));
}

TEST(UssdResultLines, MalformedStatusIsNoResult) {
  for (const char* line : {"+CUSD: 6,\"x\",15", "+CUSD: x", "+CUSD:", "+CUSD: ,\"x\"", "+CUSD: 12", "+CSQ: 0"}) {
    const std::vector<TResult> results = FrameWhole(std::string("\r\n") + line + "\r\n");
    ASSERT_EQ(results.size(), 1u) << line;
    TUSSDResult u;
    EXPECT_FALSE(USSDNotice(results[0], "GSM", u)) << line;
  }
}

// TS 23.038 5: every coding group.
TEST(UssdCodingSchemes, EveryGroup) {
  struct Row {
    int dcs;
    TUSSDAlphabet alphabet;
    bool language;
  };
  const Row rows[] = {
      {0x00, TUSSDAlphabet::Gsm7, false},       {0x0F, TUSSDAlphabet::Gsm7, false},
      {0x10, TUSSDAlphabet::Gsm7, true},        {0x11, TUSSDAlphabet::Ucs2, true},
      {0x12, TUSSDAlphabet::Gsm7, false},       {0x1F, TUSSDAlphabet::Gsm7, false},  // reserved
      {0x20, TUSSDAlphabet::Gsm7, false},       {0x23, TUSSDAlphabet::Gsm7, false},
      {0x30, TUSSDAlphabet::Gsm7, false},       {0x40, TUSSDAlphabet::Gsm7, false},
      {0x44, TUSSDAlphabet::EightBit, false},   {0x48, TUSSDAlphabet::Ucs2, false},
      {0x4C, TUSSDAlphabet::Gsm7, false},       {0x51, TUSSDAlphabet::Gsm7, false},  // class 1
      {0x55, TUSSDAlphabet::EightBit, false},   {0x5A, TUSSDAlphabet::Ucs2, false},
      {0x60, TUSSDAlphabet::Compressed, false}, {0x68, TUSSDAlphabet::Compressed, false},
      {0x80, TUSSDAlphabet::Gsm7, false},       {0x94, TUSSDAlphabet::EightBit, false},
      {0x98, TUSSDAlphabet::Ucs2, false},       {0xA0, TUSSDAlphabet::Gsm7, false},
      {0xD8, TUSSDAlphabet::Gsm7, false},       {0xE0, TUSSDAlphabet::EightBit, false},
      {0xF0, TUSSDAlphabet::Gsm7, false},       {0xF4, TUSSDAlphabet::EightBit, false},
      {0xF7, TUSSDAlphabet::EightBit, false},   {0xF8, TUSSDAlphabet::Gsm7, false},
      {-1, TUSSDAlphabet::Gsm7, false},         {256, TUSSDAlphabet::Gsm7, false},
  };
  for (const Row& r : rows) {
    const TUSSDCoding c = USSDCoding(r.dcs);
    EXPECT_EQ(c.Alphabet, r.alphabet) << r.dcs;
    EXPECT_EQ(c.LanguagePrefix, r.language) << r.dcs;
  }
}

TEST(UssdPacking, SevenSpareBitsHoldACarriageReturn) {
  WideString text;
  // Seven characters leave seven spare bits in their seven octets, which
  // TS 23.038 6.1.2.3.1 fills with a CR (an '@' to a reader that ignores it).
  EXPECT_TRUE(DecodeUSSDText("31D98C56B3DD1A", 15, "GSM", text));  // "1234567" + CR
  EXPECT_EQ(WideToUtf8(text), "1234567");
  EXPECT_TRUE(DecodeUSSDText("31D98C56B3DD70", 15, "GSM", text));  // "1234567" + '8'
  EXPECT_EQ(WideToUtf8(text), "12345678");
  EXPECT_TRUE(DecodeUSSDText("31D98C56B3DD00", 15, "GSM", text));  // zero bits instead
  EXPECT_EQ(WideToUtf8(text), "1234567");
  EXPECT_TRUE(DecodeUSSDText("E8329BFD06", 15, "GSM", text));  // "hello": no spare septet
  EXPECT_EQ(WideToUtf8(text), "hello");
}

// A menu's lines inside one quoted string: one result, whichever way the
// text was cut into reads.
TEST(UssdFraming, AMenuOverSeveralLinesIsOneResult) {
  const std::string wire = "\r\nOK\r\n\r\n+CUSD: 1,\"Menu\n1 Balance\r\n2 Bundles\",15\r\n";
  const std::vector<TResult> whole = FrameWhole(wire);
  ASSERT_EQ(whole.size(), 2u);
  EXPECT_EQ(whole[1].Name, "+CUSD");
  EXPECT_EQ(whole[1].Fields, "1,\"Menu\n1 Balance\r\n2 Bundles\",15");
  TUSSDResult u;
  ASSERT_TRUE(USSDNotice(whole[1], "GSM", u));
  EXPECT_EQ(WideToUtf8(u.Text), "Menu\n1 Balance\r\n2 Bundles");
  for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
    std::string held;
    std::vector<std::string> fields;
    const std::string pieces[] = {wire.substr(0, cut), wire.substr(cut)};
    for (int i = 0; i < 2; ++i) {
      held += pieces[i];
      TFraming f = Frame(held, i == 1);
      for (const TResult& r : f.Results) fields.push_back(r.Name + "|" + r.Fields);
      held.erase(0, f.Consumed);
    }
    EXPECT_EQ(fields, (std::vector<std::string>{"|", "+CUSD|" + whole[1].Fields})) << cut;
  }
}

TEST(UssdFraming, AQuoteThatNeverClosesLeavesTheFinalResultAlone) {
  // A command's OK after an unterminated +CUSD still ends the command.
  const std::vector<TResult> r = FrameWhole("\r\n+CUSD: 0,\"Say \"hi\r\n\r\nOK\r\n");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].Fields, "0,\"Say \"hi");
  EXPECT_EQ(r[1].Kind, TResultKind::Final);
  TFinalWatch watch;
  EXPECT_TRUE(watch.Feed("\r\n+CUSD: 0,\"Say \"hi\r\n\r\nOK\r\n"));
  // Unfinished text waits for more: the quote may close on the next line.
  const TFraming open = Frame("\r\n+CUSD: 1,\"Menu\r\n1 Balance\r\n", false);
  EXPECT_TRUE(open.Results.empty());
  // Once the text is final, the first line stands alone and the rest is
  // framed as usual.
  const TFraming final = Frame("\r\n+CUSD: 1,\"Menu\r\n1 Balance\r\n", true);
  ASSERT_EQ(final.Results.size(), 2u);
  EXPECT_EQ(final.Results[0].Fields, "1,\"Menu");
  EXPECT_EQ(final.Results[1].Line, "1 Balance");
}

}  // namespace
}  // namespace vesk::at
