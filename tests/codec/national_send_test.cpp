// Sending in the national language tables (TS 23.038 6.2.1.2, annex A;
// TS 23.040 9.2.3.24.15 and .16): which choice a text gets, its parts and
// headers, and that what goes out reads back the same, through readers
// that are not the encoder's: the test's own SMS-SUBMIT reader with its
// hand-typed tables, and the landed decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/Deliver.h"
#include "codec/MessagePlan.h"
#include "codec/Submit.h"
#include "codec_test_support.h"
#include "incoming/Reassembly.h"
#include "national_tables_std.h"

namespace vesk::codec {
namespace {

using Set = TNationalLanguageShiftTablesSet;

// The test's table of a language, from its hand-typed rows.
const test::StdNationalLanguage& Language(TNationalLanguageShiftTables table) {
  for (const auto& l : test::StdNationalLanguages())
    if (l.table == table) return l;
  ADD_FAILURE() << "no language " << static_cast<int>(table);
  return test::StdNationalLanguages().front();
}

WideString Rows(const std::array<const char*, 8>& rows) {
  WideString all;
  for (const char* row : rows) all += Utf8ToWide(row);
  return all;
}

// TS 23.038 6.2.1.2: codes read in the locking table, the code after an
// escape in the single shift table, both as the test typed them.
std::string StdTextWith(const std::vector<int>& codes, TNationalLanguageShiftTables locking,
                        TNationalLanguageShiftTables single) {
  WideString main = test::kStdDefaultAlphabet;
  if (locking != stDefault && Language(locking).hasLockingTable) main = Rows(Language(locking).locking);
  WideString shift(128, test::kNoCharacter);
  if (single != stDefault) {
    shift = Rows(Language(single).single);
  } else {
    for (const auto& e : test::kStdExtension) shift[static_cast<std::size_t>(e.code)] = Utf8ToWide(e.utf8)[0];
  }
  WideString text;
  for (std::size_t k = 0; k < codes.size(); ++k) {
    if (codes[k] != 0x1B) {
      text.push_back(main[static_cast<std::size_t>(codes[k])]);
    } else if (++k < codes.size()) {
      text.push_back(shift[static_cast<std::size_t>(codes[k])]);
    }
  }
  return WideToUtf8(text);
}

// The shift tables a header names (TS 23.040 9.2.3.24.15 and .16).
void ShiftTablesOf(const std::vector<int>& header, TNationalLanguageShiftTables& locking,
                   TNationalLanguageShiftTables& single) {
  locking = single = stDefault;
  for (std::size_t i = 0; i + 1 < header.size(); i += 2 + static_cast<std::size_t>(header[i + 1])) {
    if (header[i + 1] != 1 || i + 2 >= header.size()) continue;
    for (const auto& l : test::StdNationalLanguages()) {
      if (l.identifier != header[i + 2]) continue;
      if (header[i] == 0x25) locking = l.table;
      if (header[i] == 0x24) single = l.table;
    }
  }
}

std::string Hex(const std::vector<int>& octets) {
  std::string s;
  for (int o : octets) s.push_back(static_cast<char>(o));
  return test::ToHex(s);
}

// Encodes the plan's parts as a send does (reference 0x42) and reads each
// back with the test's own reader: its header, and its text through the
// tables its header names.
struct Sent {
  std::vector<test::SubmitFields> parts;
  std::string text;
};
Sent SendAndRead(const MessagePlan& plan) {
  Sent sent;
  const auto count = static_cast<std::uint8_t>(plan.Parts.size());
  for (std::size_t i = 0; i < plan.Parts.size(); ++i) {
    const TUDH udh(0x42, static_cast<std::uint8_t>(i + 1), count);
    const TPDUSMS pdu = StringToPDUSMS(u"+15550100", u"", plan.Parts[i], plan.Info.Encoding, false,
                                       count > 1 ? &udh : nullptr, plan.Info.LockingShift, plan.Info.SingleShift);
    const test::SubmitFields f = test::ReadSubmit(pdu.Data);
    EXPECT_EQ(std::to_string(f.tpduOctets), pdu.Length);
    EXPECT_LE(f.userDataOctets, 140u);
    if (plan.Info.Encoding == me7bit) {
      TNationalLanguageShiftTables locking, single;
      ShiftTablesOf(f.header, locking, single);
      sent.text += StdTextWith(f.septets, locking, single);
    } else {
      for (std::size_t k = 0; k + 1 < f.octets.size(); k += 2)
        sent.text += WideToUtf8(WideString(1, static_cast<char16_t>(static_cast<unsigned char>(f.octets[k]) << 8 |
                                                                     static_cast<unsigned char>(f.octets[k + 1]))));
    }
    sent.parts.push_back(f);
  }
  return sent;
}

// Decodes the parts with the landed decoder, each as a stored SMS-SUBMIT,
// through one reassembly.
std::string ReadBack(const MessagePlan& plan) {
  TConcatenatedSMSCollection collection;
  std::string text;
  const auto count = static_cast<std::uint8_t>(plan.Parts.size());
  for (std::size_t i = 0; i < plan.Parts.size(); ++i) {
    const TUDH udh(0x42, static_cast<std::uint8_t>(i + 1), count);
    const TPDUSMS pdu = StringToPDUSMS(u"+15550100", u"", plan.Parts[i], plan.Info.Encoding, false,
                                       count > 1 ? &udh : nullptr, plan.Info.LockingShift, plan.Info.SingleShift);
    const DecodedSMS d = PDUSMSToString(pdu.Data, &collection, 45000.0);
    EXPECT_EQ(d.Error, "") << pdu.Data;
    EXPECT_EQ(d.Skip, i + 1 < plan.Parts.size());
    if (!d.Skip) text = WideToUtf8(d.Text);
  }
  EXPECT_EQ(collection.Count(), 0);
  return text;
}

// ------------------------------------------------ the choice, language by language

struct ChoiceCase {
  const char* name;
  std::vector<TNationalLanguageShiftTables> allowed;
  const char* text;  // UTF-8, repeated `times`
  int times;
  TMessageEncoding encoding;
  TNationalLanguageShiftTables locking, single;
  int parts;
  const char* header;  // the first part's elements after TP-UDHL, hex; "" for none
  int unitsPerPart;
  int remaining;
  const char* tail = "";  // after the repeated text
};
void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

std::string Repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

class NationalChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(NationalChoice, FewestPartsAndTheHeaderThatSaysSo) {
  const auto& p = GetParam();
  Set allowed;
  for (auto t : p.allowed) allowed.Include(t);
  const std::string utf8 = Repeat(p.text, p.times) + p.tail;
  const WideString text = Utf8ToWide(utf8);

  const TSMSInfo info = GetSMSInfo(text, meAuto, allowed);
  EXPECT_EQ(info.Encoding, p.encoding);
  EXPECT_EQ(info.LockingShift, p.locking);
  EXPECT_EQ(info.SingleShift, p.single);
  EXPECT_EQ(info.Parts, p.parts);
  EXPECT_EQ(info.UnitsPerPart, p.unitsPerPart);
  EXPECT_EQ(info.Remaining, p.remaining);
  EXPECT_EQ(info.Replaced, 0);

  const MessagePlan plan = PlanMessage(text, meAuto, allowed);
  ASSERT_EQ(plan.Parts.size(), static_cast<std::size_t>(p.parts));
  const Sent sent = SendAndRead(plan);
  EXPECT_EQ(Hex(sent.parts.at(0).header), p.header);
  EXPECT_EQ(sent.text, utf8);
  EXPECT_EQ(ReadBack(plan), utf8);
  // Never more parts than UCS2 would take.
  EXPECT_LE(info.Parts, GetSMSInfo(text, meUCS2).Parts);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Ts23038AnnexA, NationalChoice,
    ::testing::Values(
        ChoiceCase{"TurkishSingleShift", {stTurkish}, "Işık", 1, me7bit, stDefault, stTurkish, 1, "240101", 155, 149},
        ChoiceCase{"TurkishLockingShiftTakesFewerParts", {stTurkish}, "ş", 100,
                   me7bit, stTurkish, stDefault, 1, "250101", 155, 55},
        ChoiceCase{"TurkishNoTableHoldsCyrillic", {stTurkish}, "ş д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"SpanishSingleShift", {stSpanish}, "Señor García", 1,
                   me7bit, stDefault, stSpanish, 1, "240102", 155, 142},
        ChoiceCase{"SpanishNoTableHoldsCyrillic", {stSpanish}, "á д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"PortugueseSingleShift", {stPortuguese}, "Não", 1,
                   me7bit, stDefault, stPortuguese, 1, "240103", 155, 151},
        ChoiceCase{"PortugueseLockingShiftTakesFewerParts", {stPortuguese}, "ã", 100,
                   me7bit, stPortuguese, stDefault, 1, "250103", 155, 55},
        ChoiceCase{"PortugueseNoTableHoldsCyrillic", {stPortuguese}, "Não д", 1,
                   meUCS2, stDefault, stDefault, 1, "", 140, 65},
        ChoiceCase{"BengaliSingleShift", {stBengali}, "Hi ১", 1, me7bit, stDefault, stBengali, 1, "240104", 155, 150},
        ChoiceCase{"BengaliLockingShift", {stBengali}, "অআই", 1, me7bit, stBengali, stDefault, 1, "250104", 155, 152},
        ChoiceCase{"BengaliLockingAndSingleShift", {stBengali}, "অ ১", 1,
                   me7bit, stBengali, stBengali, 1, "250104240104", 152, 148},
        ChoiceCase{"BengaliNoTableHoldsCyrillic", {stBengali}, "অ д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"GujaratiSingleShift", {stGujarati}, "Hi ૧", 1,
                   me7bit, stDefault, stGujarati, 1, "240105", 155, 150},
        ChoiceCase{"GujaratiLockingShift", {stGujarati}, "અઆઇ", 1,
                   me7bit, stGujarati, stDefault, 1, "250105", 155, 152},
        ChoiceCase{"GujaratiLockingAndSingleShift", {stGujarati}, "અ ૧", 1,
                   me7bit, stGujarati, stGujarati, 1, "250105240105", 152, 148},
        ChoiceCase{"GujaratiNoTableHoldsCyrillic", {stGujarati}, "અ д", 1,
                   meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"HindiSingleShift", {stHindi}, "Hi १", 1, me7bit, stDefault, stHindi, 1, "240106", 155, 150},
        ChoiceCase{"HindiLockingShift", {stHindi}, "अआइ", 1, me7bit, stHindi, stDefault, 1, "250106", 155, 152},
        ChoiceCase{"HindiLockingAndSingleShift", {stHindi}, "अ १", 1,
                   me7bit, stHindi, stHindi, 1, "250106240106", 152, 148},
        ChoiceCase{"HindiNoTableHoldsCyrillic", {stHindi}, "अ д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"KannadaSingleShift", {stKannada}, "Hi ೧", 1, me7bit, stDefault, stKannada, 1, "240107", 155, 150},
        ChoiceCase{"KannadaLockingShift", {stKannada}, "ಆಇಈ", 1, me7bit, stKannada, stDefault, 1, "250107", 155, 152},
        ChoiceCase{"KannadaLockingAndSingleShift", {stKannada}, "ಆ ೧", 1,
                   me7bit, stKannada, stKannada, 1, "250107240107", 152, 148},
        ChoiceCase{"KannadaNoTableHoldsCyrillic", {stKannada}, "ಆ д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"MalayalamSingleShift", {stMalayalam}, "Hi ൧", 1,
                   me7bit, stDefault, stMalayalam, 1, "240108", 155, 150},
        ChoiceCase{"MalayalamLockingShift", {stMalayalam}, "ആഇഈ", 1,
                   me7bit, stMalayalam, stDefault, 1, "250108", 155, 152},
        ChoiceCase{"MalayalamLockingAndSingleShift", {stMalayalam}, "ആ ൧", 1,
                   me7bit, stMalayalam, stMalayalam, 1, "250108240108", 152, 148},
        ChoiceCase{"MalayalamNoTableHoldsCyrillic", {stMalayalam}, "ആ д", 1,
                   meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"OriyaSingleShift", {stOriya}, "Hi ୧", 1, me7bit, stDefault, stOriya, 1, "240109", 155, 150},
        ChoiceCase{"OriyaLockingShift", {stOriya}, "ଅଆଇ", 1, me7bit, stOriya, stDefault, 1, "250109", 155, 152},
        ChoiceCase{"OriyaLockingAndSingleShift", {stOriya}, "ଅ ୧", 1,
                   me7bit, stOriya, stOriya, 1, "250109240109", 152, 148},
        ChoiceCase{"OriyaNoTableHoldsCyrillic", {stOriya}, "ଅ д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"PunjabiSingleShift", {stPunjabi}, "Hi ੧", 1, me7bit, stDefault, stPunjabi, 1, "24010A", 155, 150},
        ChoiceCase{"PunjabiLockingShift", {stPunjabi}, "ਅਆਇ", 1, me7bit, stPunjabi, stDefault, 1, "25010A", 155, 152},
        ChoiceCase{"PunjabiLockingAndSingleShift", {stPunjabi}, "ਅ ੧", 1,
                   me7bit, stPunjabi, stPunjabi, 1, "25010A24010A", 152, 148},
        ChoiceCase{"PunjabiNoTableHoldsCyrillic", {stPunjabi}, "ਅ д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"TamilSingleShift", {stTamil}, "Hi ௧", 1, me7bit, stDefault, stTamil, 1, "24010B", 155, 150},
        ChoiceCase{"TamilLockingShift", {stTamil}, "ஆஇஈ", 1, me7bit, stTamil, stDefault, 1, "25010B", 155, 152},
        ChoiceCase{"TamilLockingAndSingleShift", {stTamil}, "ஆ ௧", 1,
                   me7bit, stTamil, stTamil, 1, "25010B24010B", 152, 148},
        ChoiceCase{"TamilNoTableHoldsCyrillic", {stTamil}, "ஆ д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"TeluguSingleShift", {stTelugu}, "Hi ౧", 1, me7bit, stDefault, stTelugu, 1, "24010C", 155, 150},
        ChoiceCase{"TeluguLockingShift", {stTelugu}, "అఆఇ", 1, me7bit, stTelugu, stDefault, 1, "25010C", 155, 152},
        ChoiceCase{"TeluguLockingAndSingleShift", {stTelugu}, "అ ౧", 1,
                   me7bit, stTelugu, stTelugu, 1, "25010C24010C", 152, 148},
        ChoiceCase{"TeluguNoTableHoldsCyrillic", {stTelugu}, "అ д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        ChoiceCase{"UrduSingleShift", {stUrdu}, "Hi ؁", 1, me7bit, stDefault, stUrdu, 1, "24010D", 155, 150},
        ChoiceCase{"UrduLockingShift", {stUrdu}, "ٻڀپ", 1, me7bit, stUrdu, stDefault, 1, "25010D", 155, 152},
        ChoiceCase{"UrduLockingAndSingleShift", {stUrdu}, "ٻ ؁", 1,
                   me7bit, stUrdu, stUrdu, 1, "25010D24010D", 152, 148},
        ChoiceCase{"UrduNoTableHoldsCyrillic", {stUrdu}, "ٻ д", 1, meUCS2, stDefault, stDefault, 1, "", 140, 67},
        // Plain text goes as it always has, tables allowed or not.
        ChoiceCase{"PlainTextTakesNoTable", {stTurkish, stHindi}, "Hello", 1,
                   me7bit, stDefault, stDefault, 1, "", 160, 155},
        // A locking table from one language, a single shift table from
        // another (TS 23.040 allows it): "ş" is one septet in the Turkish
        // locking table, "ã" an escaped one in the Portuguese single shift.
        ChoiceCase{"TurkishLockingWithPortugueseSingle", {stTurkish, stPortuguese}, "ş", 100,
                   me7bit, stTurkish, stPortuguese, 1, "250101240103", 152, 50, "ã"},
        // "º" only in the Portuguese locking table, "ş" in the Turkish single.
        ChoiceCase{"PortugueseLockingWithTurkishSingle", {stPortuguese, stTurkish}, "º ş", 1,
                   me7bit, stPortuguese, stTurkish, 1, "250103240101", 152, 148},
        // No allowed combination holds a Hindi and a Tamil letter together.
        ChoiceCase{"NoCombinationHoldsHindiWithTamil", {stHindi, stTamil}, "अ ஆ", 1,
                   meUCS2, stDefault, stDefault, 1, "", 140, 67},
        // 155 septets: one message behind a shift element; 156: two parts
        // of 149, the escaped "á" whole in the second.
        ChoiceCase{"OnTheSingleMessageBoundary", {stSpanish}, "a", 153,
                   me7bit, stDefault, stSpanish, 1, "240102", 155, 0, "á"},
        ChoiceCase{"OneSeptetPastTheBoundary", {stSpanish}, "a", 154,
                   me7bit, stDefault, stSpanish, 2, "0003420201" "240102", 149, 142, "á"},
        // 280 letters of the Turkish locking table: two parts of 149
        // septets with Turkish allowed, five UCS2 parts without.
        ChoiceCase{"TurkishTextOf280Characters", {stTurkish}, "Ağaçlı şehirde büyük ışığı; ", 10,
                   me7bit, stTurkish, stDefault, 2, "0003420201" "250101", 149, 18},
        ChoiceCase{"TurkishTextOf280CharactersWithoutTables", {}, "Ağaçlı şehirde büyük ışığı; ", 10,
                   meUCS2, stDefault, stDefault, 5, "0003420501", 134, 55}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

// ------------------------------------------------ the encoder with tables

// The SMS-SUBMIT with a shift element: the user data are the decoder's own
// vectors (deliver_test: TurkishSingleShift, TurkishLockingShift), the rest
// is the encoder's worked example's layout.
TEST(NationalEncoder, TurkishSingleAndLockingShiftPdus) {
  const TPDUSMS single = StringToPDUSMS(u"+15550100", u"", Utf8ToWide("Işık"), me7bit, false, nullptr, stDefault,
                                        stTurkish);
  EXPECT_EQ(single.Data, "00" "51" "00" "0891" "51551000" "00" "00" "AA" "0B" "03240101" "486EE69BF41A");
  EXPECT_EQ(single.Length, "22");
  const TPDUSMS locking = StringToPDUSMS(u"+15550100", u"", Utf8ToWide("Ağrı"), meAuto, false, nullptr, stTurkish,
                                         stDefault);
  EXPECT_EQ(locking.Data, "00" "51" "00" "0891" "51551000" "00" "00" "AA" "09" "03250101" "0832E407");
  // With a concatenation element, it comes first.
  const TUDH udh(0x2A, 1, 2);
  const TPDUSMS part = StringToPDUSMS(u"+15550100", u"", Utf8ToWide("Ağrı"), me7bit, false, &udh, stTurkish,
                                      stTurkish);
  EXPECT_EQ(part.Data.substr(0, 50), "00" "51" "00" "0891" "51551000" "00" "00" "AA" "12" "0B" "00032A0201" "250101"
                                     "240101");
}

// The tables concern 7-bit text only; no table: the encoder as it was.
TEST(NationalEncoder, TablesPlayNoPartOutsideSevenBit) {
  const WideString text = Utf8ToWide("şд");
  EXPECT_EQ(StringToPDUSMS(u"+15550100", u"", text, meUCS2, false, nullptr, stTurkish, stTurkish).Data,
            StringToPDUSMS(u"+15550100", u"", text, meUCS2, false, nullptr).Data);
  // meAuto: the Cyrillic letter no table holds makes it UCS2, without elements.
  EXPECT_EQ(StringToPDUSMS(u"+15550100", u"", text, meAuto, false, nullptr, stTurkish, stTurkish).Data,
            StringToPDUSMS(u"+15550100", u"", text, meUCS2, false, nullptr).Data);
  const WideString plain = u"hellohello";
  EXPECT_EQ(StringToPDUSMS(u"+15550100", u"", plain, meAuto, false, nullptr, stDefault, stDefault).Data,
            "0011000891515510000000AA0AE8329BFD4697D9EC37");
}

// me7bit keeps to 7-bit: the tables that hold the most characters, and "?"
// for what none holds; without tables, as ever ("ş" and "д" are not in the
// code page: "?").
TEST(NationalEncoder, SevenBitReplacesOnlyWhatNoTableHolds) {
  const WideString text = Utf8ToWide("şu дом");
  const TSMSInfo with = GetSMSInfo(text, me7bit, Set{stTurkish});
  EXPECT_EQ(with.Encoding, me7bit);
  EXPECT_EQ(with.Replaced, 3);
  EXPECT_EQ(with.SingleShift, stTurkish);  // single and locking replace as many: single is simpler
  const MessagePlan plan = PlanMessage(text, me7bit, Set{stTurkish});
  EXPECT_EQ(SendAndRead(plan).text, "şu ???");
  const TSMSInfo without = GetSMSInfo(text, me7bit);
  EXPECT_EQ(without.Replaced, 4);
  EXPECT_EQ(SendAndRead(PlanMessage(text, me7bit)).text, "?u ???");
  // 8-bit and UCS2 are taken as asked.
  EXPECT_EQ(GetSMSInfo(text, me8bit, Set{stTurkish}).Encoding, me8bit);
  EXPECT_EQ(GetSMSInfo(text, meUCS2, Set{stTurkish}).LockingShift, stDefault);
}

// The split never separates an escape from its character: with the
// Spanish single shift table a part holds 149 septets, and an "á" that
// would take the 149th and a 150th starts the next part.
TEST(NationalEncoder, AnEscapedCharacterStaysWhole) {
  const WideString text = WideString(148, u'a') + Utf8ToWide("á") + WideString(10, u'b');
  const MessagePlan plan = PlanMessage(text, meAuto, Set{stSpanish});
  ASSERT_EQ(plan.Parts.size(), 2u);
  EXPECT_EQ(plan.Parts[0], WideString(148, u'a'));
  EXPECT_EQ(plan.Parts[1], Utf8ToWide("á") + WideString(10, u'b'));
  EXPECT_EQ(plan.Info.Remaining, 149 - 12);
  EXPECT_EQ(ReadBack(plan), WideToUtf8(text));
}

// What a counter shows as the user types.
TEST(SMSInfo, CountersOfEachEncoding) {
  TSMSInfo i = GetSMSInfo(u"hello {}", meAuto);
  EXPECT_EQ(i.Encoding, me7bit);
  EXPECT_EQ(i.Units, 10);  // two escaped characters
  EXPECT_EQ(i.UnitsPerPart, 160);
  EXPECT_EQ(i.Remaining, 150);
  i = GetSMSInfo(WideString(161, u'x'), meAuto);
  EXPECT_EQ(i.Parts, 2);
  EXPECT_EQ(i.UnitsPerPart, 153);
  EXPECT_EQ(i.Remaining, 145);
  i = GetSMSInfo(WideString(141, u'x'), me8bit);
  EXPECT_EQ(i.Parts, 2);
  EXPECT_EQ(i.UnitsPerPart, 134);
  EXPECT_EQ(i.Remaining, 127);
  i = GetSMSInfo(Utf8ToWide("дом"), meAuto);
  EXPECT_EQ(i.Encoding, meUCS2);
  EXPECT_EQ(i.UnitsPerPart, 140);
  EXPECT_EQ(i.Units, 6);
  EXPECT_EQ(i.Remaining, 67);
  i = GetSMSInfo(u"", meAuto, Set{stTurkish});
  EXPECT_EQ(i.Parts, 1);
  EXPECT_EQ(i.Remaining, 160);
}

// ------------------------------------------------ property: random texts per language

// Random texts drawn from each language's characters (both its tables, and
// the default alphabet's), with the language allowed: what goes out reads
// back the same through the landed decoder, and never takes more parts
// than UCS2.
TEST(NationalProperty, RandomTextsOfEachLanguageReadBack) {
  std::mt19937 random(23038);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  for (const auto& l : test::StdNationalLanguages()) {
    SCOPED_TRACE(l.name);
    WideString pool;
    auto add = [&](const WideString& table) {
      for (std::size_t code = 0; code < table.size(); ++code)
        if (code != 0x1B && table[code] != test::kNoCharacter && table[code] != u'\r' && table[code] != u'\f' &&
            pool.find(table[code]) == WideString::npos)
          pool.push_back(table[code]);
    };
    if (l.hasLockingTable) add(Rows(l.locking));
    add(Rows(l.single));
    add(test::kStdDefaultAlphabet);
    for (int round = 0; round < 40; ++round) {
      WideString text;
      const std::size_t length = pick(400);
      for (std::size_t i = 0; i < length; ++i) text.push_back(pool[pick(pool.size())]);
      const MessagePlan plan = PlanMessage(text, meAuto, Set{l.table});
      ASSERT_EQ(plan.Parts.size(), static_cast<std::size_t>(plan.Info.Parts));
      EXPECT_LE(plan.Info.Parts, GetSMSInfo(text, meUCS2).Parts);
      EXPECT_EQ(ReadBack(plan), WideToUtf8(text)) << round;
      EXPECT_EQ(SendAndRead(plan).text, WideToUtf8(text)) << round;
    }
  }
}

}  // namespace
}  // namespace vesk::codec
