// Messages written with each national language table, built by an encoder
// that lives here and knows only the test's typed copy of TS 23.038 annex A
// and the TS 23.040 layout, decode to their text.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/Deliver.h"
#include "codec_test_support.h"
#include "incoming/Reassembly.h"
#include "national_tables_std.h"

namespace vesk::codec {
namespace {

using test::StdNationalLanguage;

WideString Rows(const std::array<const char*, 8>& rows) {
  WideString all;
  for (const char* row : rows) all += Utf8ToWide(row);
  return all;
}

// The tables a message is written with: the language's locking table or
// the default alphabet (also when the language has no locking table), and
// its single shift table or the extension table.
struct Tables {
  WideString main;
  WideString shift;
};

Tables TablesOf(const StdNationalLanguage& l, bool locking, bool single) {
  Tables t;
  t.main = locking && l.hasLockingTable ? Rows(l.locking) : test::kStdDefaultAlphabet;
  t.shift.assign(128, test::kNoCharacter);
  if (single) {
    t.shift = Rows(l.single);
  } else {
    for (const auto& e : test::kStdExtension) t.shift[static_cast<std::size_t>(e.code)] = Utf8ToWide(e.utf8)[0];
  }
  return t;
}

// TS 23.038 6.2.1.2: a character of the main table is its code; one of the
// shift table is the escape and its code. False when neither holds it.
bool EncodeCharacter(const Tables& t, char16_t ch, std::vector<int>& codes) {
  for (std::size_t code = 0; code < 128; ++code)
    if (code != 0x1B && t.main[code] == ch) {
      codes.push_back(static_cast<int>(code));
      return true;
    }
  for (std::size_t code = 0; code < 128; ++code)
    if (code != 0x1B && t.shift[code] == ch) {
      codes.push_back(0x1B);
      codes.push_back(static_cast<int>(code));
      return true;
    }
  return false;
}

// TS 23.038 6.1.2.1.1, bit by bit: septet i starts at bit fill + 7i.
std::string PackSeptets(const std::vector<int>& codes, int fill) {
  const std::size_t bits = static_cast<std::size_t>(fill) + 7 * codes.size();
  std::string octets((bits + 7) / 8, '\0');
  for (std::size_t i = 0; i < codes.size(); ++i)
    for (std::size_t b = 0; b < 7; ++b)
      if (codes[i] & (1 << b)) {
        const std::size_t at = static_cast<std::size_t>(fill) + 7 * i + b;
        octets[at / 8] = static_cast<char>(octets[at / 8] | (1 << (at % 8)));
      }
  return octets;
}

// An SMS-DELIVER (TS 23.040 9.2.2.1) from +44770011223 whose header holds
// the given elements, with the codes as its 7-bit text.
std::string DeliverPdu(const std::string& elements, const std::vector<int>& codes) {
  std::string header;
  if (!elements.empty()) header = std::string(1, static_cast<char>(elements.size())) + elements;
  const int headerBits = static_cast<int>(header.size()) * 8;
  const int fill = (7 - headerBits % 7) % 7;
  const int udl = (headerBits + fill) / 7 + static_cast<int>(codes.size());
  std::string pdu = "00";                                        // no service centre
  pdu += header.empty() ? "04" : "44";                           // SMS-DELIVER, TP-UDHI
  pdu += "0B91" "4477001122F3" "00" "00" "91304151906280";       // TP-OA, PID, DCS, SCTS
  pdu += test::ToHex(std::string(1, static_cast<char>(udl)));    // TP-UDL in septets
  pdu += test::ToHex(header) + test::ToHex(PackSeptets(codes, fill));
  return pdu;
}

std::string ShiftElements(const StdNationalLanguage& l, bool locking, bool single) {
  std::string e;
  if (locking) e += std::string{'\x25', '\x01', static_cast<char>(l.identifier)};
  if (single) e += std::string{'\x24', '\x01', static_cast<char>(l.identifier)};
  return e;
}

// Every character the two tables hold, each once, in code order: the main
// table's first, then the shift table's.
WideString EveryCharacter(const Tables& t) {
  WideString text;
  for (const WideString* table : {&t.main, &t.shift})
    for (std::size_t code = 0; code < 128; ++code) {
      const char16_t ch = (*table)[code];
      if (code != 0x1B && ch != test::kNoCharacter && text.find(ch) == WideString::npos) text.push_back(ch);
    }
  return text;
}

// Splits text into messages of at most 120 codes and checks each.
void ExpectEachMessageDecodes(const StdNationalLanguage& l, bool locking, bool single) {
  SCOPED_TRACE(testing::Message() << l.name << (locking ? " locking" : "") << (single ? " single" : ""));
  const Tables t = TablesOf(l, locking, single);
  const WideString all = EveryCharacter(t);
  ASSERT_GT(all.size(), 100u);
  std::size_t from = 0;
  while (from < all.size()) {
    std::vector<int> codes;
    std::size_t to = from;
    while (to < all.size() && codes.size() < 120) {
      ASSERT_TRUE(EncodeCharacter(t, all[to], codes)) << "U+" << std::hex << static_cast<int>(all[to]);
      ++to;
    }
    const WideString text = all.substr(from, to - from);
    const std::string pdu = DeliverPdu(ShiftElements(l, locking, single), codes);
    const DecodedSMS d = PDUSMSToString(pdu, nullptr, 0);
    EXPECT_EQ(d.Error, "") << pdu;
    EXPECT_FALSE(d.Skip);
    EXPECT_EQ(test::Utf8(d.Text), test::Utf8(text)) << pdu;
    from = to;
  }
}

class NationalMessage : public ::testing::TestWithParam<StdNationalLanguage> {};

// A locking shift element naming a language without a locking table
// (Spanish: A.3.2 is void) leaves the default alphabet.
TEST_P(NationalMessage, LockingShiftAlone) { ExpectEachMessageDecodes(GetParam(), true, false); }

TEST_P(NationalMessage, SingleShiftAlone) { ExpectEachMessageDecodes(GetParam(), false, true); }

TEST_P(NationalMessage, LockingAndSingleShift) { ExpectEachMessageDecodes(GetParam(), true, true); }

// The characters only the language's tables hold read otherwise without
// the elements: the elements are what the decoder follows.
TEST_P(NationalMessage, WithoutTheElementsTheTextDiffers) {
  const auto& l = GetParam();
  const Tables t = TablesOf(l, true, true);
  const Tables plain = TablesOf(l, false, false);
  WideString text;
  std::vector<int> codes, unused;
  for (char16_t ch : EveryCharacter(t))
    if (!EncodeCharacter(plain, ch, unused)) text.push_back(ch);
  ASSERT_FALSE(text.empty());
  text = text.substr(0, 70);  // one message
  for (char16_t ch : text) ASSERT_TRUE(EncodeCharacter(t, ch, codes));
  const DecodedSMS with = PDUSMSToString(DeliverPdu(ShiftElements(l, true, true), codes), nullptr, 0);
  EXPECT_EQ(test::Utf8(with.Text), test::Utf8(text));
  const DecodedSMS without = PDUSMSToString(DeliverPdu("", codes), nullptr, 0);
  EXPECT_EQ(without.Error, "");
  EXPECT_NE(test::Utf8(without.Text), test::Utf8(text));
}

// A two-part message whose parts name their tables each in its own header
// (after the concatenation element in one, before it in the other).
TEST_P(NationalMessage, ConcatenatedPartsEachWithTheirElements) {
  const auto& l = GetParam();
  const Tables t = TablesOf(l, true, true);
  const WideString all = EveryCharacter(t);
  const WideString first = all.substr(0, 60), second = all.substr(60, 60);
  std::vector<int> a, b;
  for (char16_t ch : first) ASSERT_TRUE(EncodeCharacter(t, ch, a));
  for (char16_t ch : second) ASSERT_TRUE(EncodeCharacter(t, ch, b));
  const std::string shift = ShiftElements(l, true, true);
  const std::string concat1 = {'\x00', '\x03', '\x5A', '\x02', '\x01'};
  const std::string concat2 = {'\x00', '\x03', '\x5A', '\x02', '\x02'};
  TConcatenatedSMSCollection parts;
  const DecodedSMS d2 = PDUSMSToString(DeliverPdu(shift + concat2, b), &parts, 45000.0);
  EXPECT_EQ(d2.Error, "");
  EXPECT_TRUE(d2.Skip);
  const DecodedSMS d1 = PDUSMSToString(DeliverPdu(concat1 + shift, a), &parts, 45000.0);
  EXPECT_EQ(d1.Error, "");
  EXPECT_FALSE(d1.Skip);
  EXPECT_EQ(test::Utf8(d1.Text), test::Utf8(first + second));
  EXPECT_EQ(parts.Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Ts23038AnnexA, NationalMessage, ::testing::ValuesIn(test::StdNationalLanguages()),
                         [](const auto& tc) { return std::string(tc.param.name); });

}  // namespace
}  // namespace vesk::codec
