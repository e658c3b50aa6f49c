// The simulator's own PDU code, anchored by published vectors and checked
// against the independent decoder of DeliverDecoder.h.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/simulator/GsmAlphabet.h"
#include "tools/simulator/ModemSimulator.h"
#include "tools/simulator/SmsPdu.h"
#include "tools/simulator/tests/DeliverDecoder.h"

namespace vesk::sim {
namespace {

using test::DecodeDeliver;
using test::DecodedDeliver;

std::string Septets(const std::string& ascii) {
  std::vector<std::uint8_t> codes = ToGsmCodes(Utf8ToCodePoints(ascii));
  return ToHex(PackSeptets(codes));
}

// --- Alphabet ----------------------------------------------------------------

TEST(GsmAlphabet, EveryDefaultCodeMatchesTheHandTypedTable) {
  for (std::size_t code = 0; code < 128; ++code) {
    if (code == kGsmEscape) continue;
    EXPECT_EQ(CodePointsToUtf8(std::u32string(1, kGsmDefaultAlphabet[code])), test::kGsmTable[code])
        << "code " << code;
    // And back: the character encodes to the same single code.
    const auto codes = ToGsmCodes(std::u32string(1, kGsmDefaultAlphabet[code]));
    ASSERT_EQ(codes.size(), 1u) << "code " << code;
    EXPECT_EQ(codes[0], code);
  }
}

TEST(GsmAlphabet, ExtensionTableMatchesTheHandTypedTable) {
  for (const GsmExtension& e : kGsmExtensionTable) {
    EXPECT_EQ(CodePointsToUtf8(std::u32string(1, e.character)), test::GsmExtension(e.code));
    EXPECT_EQ(ToGsmCodes(std::u32string(1, e.character)), (std::vector<std::uint8_t>{kGsmEscape, e.code}));
  }
}

TEST(GsmAlphabet, CharacterOutsideBothTablesBecomesQuestionMark) {
  bool lossless = true;
  EXPECT_EQ(ToGsmCodes(U"a\u4E2Db", &lossless), (std::vector<std::uint8_t>{0x61, 0x3F, 0x62}));
  EXPECT_FALSE(lossless);
  EXPECT_FALSE(IsGsmText(U"\u4E2D"));
  EXPECT_TRUE(IsGsmText(U"{\u20AC}"));
}

TEST(GsmAlphabet, TeCharacterSets) {
  EXPECT_EQ(ToTeCharacterSet(U"@\u00E9", "GSM"), std::string("\x00\x05", 2));
  EXPECT_EQ(ToTeCharacterSet(U"@\u00E9", "IRA"), "@?");
  EXPECT_EQ(ToTeCharacterSet(U"@\u00E9", "8859-1"), "@\xE9");
  EXPECT_EQ(ToTeCharacterSet(U"A\u20AC", "UCS2"), "004120AC");
  EXPECT_EQ(FromTeCharacterSet("004120AC", "UCS2"), std::u32string(U"A\u20AC"));
  EXPECT_EQ(FromTeCharacterSet("0041X", "UCS2"), std::nullopt);
  EXPECT_EQ(FromTeCharacterSet(std::string("\x00\x1B\x65", 3), "GSM"), std::u32string(U"@\u20AC"));
}

// --- Septet packing (TS 23.038 6.1.2.1.1) -----------------------------------

struct PackingCase {
  const char* name;
  const char* text;
  const char* packed;
  const char* source;
};

class SeptetPacking : public ::testing::TestWithParam<PackingCase> {};

TEST_P(SeptetPacking, PacksAndUnpacks) {
  const PackingCase& c = GetParam();
  EXPECT_EQ(Septets(c.text), c.packed) << c.source;
  const auto octets = FromHex(c.packed);
  ASSERT_TRUE(octets);
  const auto septets = UnpackSeptets(*octets, std::string(c.text).size());
  ASSERT_TRUE(septets);
  EXPECT_EQ(CodePointsToUtf8(FromGsmCodes(*septets)), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, SeptetPacking,
    ::testing::Values(
        PackingCase{"HelloHello", "hellohello", "E8329BFD4697D9EC37", "the widely published SMS PDU tutorial example"},
        PackingCase{"EightSeptetsFillSevenOctets", "12345678", "31D98C56B3DD70", "hand-computed, TS 23.038 6.1.2.1.1"},
        PackingCase{"SevenBitPackLastSeptetAlone", "hello", "E8329BFD06", "hand-computed, TS 23.038 6.1.2.1.1"},
        PackingCase{"SingleSeptet", "A", "41", "hand-computed"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SeptetPackingFill, FillBitsShiftTheFirstSeptet) {
  // 'h' (0x68) after one fill bit: 0x68 << 1 = 0xD0.
  EXPECT_EQ(ToHex(PackSeptets({0x68}, 1)), "D0");
  EXPECT_EQ(FillBitsAfterHeader(6), 1);  // 8-bit reference header: 48 bits -> 49
  EXPECT_EQ(FillBitsAfterHeader(7), 0);  // 16-bit reference header: 56 bits
  EXPECT_EQ(FillBitsAfterHeader(4), 3);
}

TEST(SeptetPackingFill, UnpackRefusesTooFewOctets) {
  EXPECT_FALSE(UnpackSeptets(Octets{0xE8}, 2));
}

// --- SMS-DELIVER: exact PDUs -------------------------------------------------

IncomingSms Sms(std::string text) {
  IncomingSms sms;
  sms.text = std::move(text);
  return sms;
}

struct DeliverCase {
  const char* name;
  IncomingSms sms;
  std::string pdu;
  const char* source;
};

class DeliverVectors : public ::testing::TestWithParam<DeliverCase> {};

TEST_P(DeliverVectors, EncodesExactly) {
  const DeliverCase& c = GetParam();
  const std::vector<std::string> pdus = DeliverPdus(c.sms);
  ASSERT_EQ(pdus.size(), 1u);
  EXPECT_EQ(pdus[0], c.pdu) << c.source;
  EXPECT_EQ(DecodeDeliver(pdus[0]).error, "");
}

DeliverCase PublicTutorial() {
  IncomingSms sms = Sms("hellohello");
  sms.sender = "27838890001";
  sms.senderType = 0xC8;
  sms.serviceCentre = "+27381000015";
  sms.timestamp = {1999, 3, 29, 15, 16, 59, 8};
  return {"PublicTutorialHelloHello", sms,
          "07917283010010F5" "04" "0BC87238880900F1" "00" "00" "99309251619580" "0A" "E8329BFD4697D9EC37",
          "the widely published SMS PDU tutorial example"};
}

DeliverCase WorkedExample() {
  return {"HelloFromDefaults", Sms("hello"),
          "0591" "51551000" "04" "0891" "51551032" "00" "00" "91304151906280" "05" "E8329BFD06",
          "hand-computed from the TS 23.040 9.2.2.1 layout"};
}

DeliverCase AlphanumericSender() {
  IncomingSms sms = Sms("Hi");
  sms.sender = "Vesk";
  sms.serviceCentre = "";
  return {"AlphanumericSender", sms, "00" "04" "07D0D6F27C0D" "00" "00" "91304151906280" "02" "C834",
          "hand-computed: TS 23.040 9.1.2.5 type D0, value packed as in TS 23.038 6.1.2.1.1"};
}

DeliverCase NegativeZone() {
  IncomingSms sms = Sms("hello");
  sms.serviceCentre = "";
  sms.timestamp.zoneQuarterHours = -20;
  return {"NegativeZoneSignBit", sms, "00" "04" "0891" "51551032" "00" "00" "913041519062" "0A" "05" "E8329BFD06",
          "hand-computed: TS 23.040 9.2.3.11, 20 quarter hours west, sign in bit 3"};
}

DeliverCase Ucs2() {
  IncomingSms sms = Sms("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");  // Привет
  sms.serviceCentre = "";
  sms.encoding = SmsEncoding::Ucs2;
  return {"Ucs2", sms, "00" "04" "0891" "51551032" "00" "08" "91304151906280" "0C" "041F04400438043204350442",
          "hand-computed: UTF-16 big endian, TS 23.038 6.2.3"};
}

DeliverCase EightBitFlash() {
  IncomingSms sms = Sms("AB");
  sms.serviceCentre = "";
  sms.encoding = SmsEncoding::EightBit;
  sms.flash = true;
  return {"EightBitFlash", sms, "00" "04" "0891" "51551032" "00" "14" "91304151906280" "02" "4142",
          "hand-computed: TS 23.038 4, class 0 with 8-bit data"};
}

DeliverCase Euro() {
  IncomingSms sms = Sms("\xE2\x82\xAC");  // €
  sms.serviceCentre = "";
  return {"ExtensionCharacterTakesTwoSeptets", sms,
          "00" "04" "0891" "51551032" "00" "00" "91304151906280" "02" "9B32",
          "hand-computed: escape 1B then 65, TS 23.038 6.2.1.1"};
}

INSTANTIATE_TEST_SUITE_P(Vectors, DeliverVectors,
                         ::testing::Values(PublicTutorial(), WorkedExample(), AlphanumericSender(), NegativeZone(),
                                           Ucs2(), EightBitFlash(), Euro()),
                         [](const auto& p) { return std::string(p.param.name); });

// --- SMS-DELIVER: read back by the independent decoder ------------------------

TEST(DeliverDecoded, AllFieldsReadBack) {
  IncomingSms sms = Sms("Hello {world} \xE2\x82\xAC 10");
  sms.sender = "+4915112345678";
  sms.serviceCentre = "+491710760000";
  sms.timestamp = {2024, 12, 31, 23, 59, 58, -14};
  const DecodedDeliver d = DecodeDeliver(DeliverPdus(sms).at(0));
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.serviceCentre, "+491710760000");
  EXPECT_EQ(d.serviceCentreType, 0x91);
  EXPECT_FALSE(d.moreMessagesToSend);
  EXPECT_FALSE(d.headerPresent);
  EXPECT_EQ(d.sender, "+4915112345678");
  EXPECT_EQ(d.senderType, 0x91);
  EXPECT_EQ(d.pid, 0);
  EXPECT_EQ(d.dcs, 0);
  EXPECT_EQ(d.year, 24);
  EXPECT_EQ(d.month, 12);
  EXPECT_EQ(d.day, 31);
  EXPECT_EQ(d.hour, 23);
  EXPECT_EQ(d.minute, 59);
  EXPECT_EQ(d.second, 58);
  EXPECT_EQ(d.zone, -14);
  EXPECT_EQ(d.text, sms.text);
  EXPECT_EQ(d.udl, 21);  // 18 characters, three of them from the extension table
}

TEST(DeliverDecoded, NationalNumberHasType129) {
  IncomingSms sms = Sms("x");
  sms.sender = "0123456";
  const DecodedDeliver d = DecodeDeliver(DeliverPdus(sms).at(0));
  EXPECT_EQ(d.sender, "0123456");
  EXPECT_EQ(d.senderType, 0x81);
}

TEST(DeliverDecoded, AlphanumericSenderReadsBack) {
  IncomingSms sms = Sms("x");
  sms.sender = "Bank-Info";
  const DecodedDeliver d = DecodeDeliver(DeliverPdus(sms).at(0));
  EXPECT_EQ(d.senderType, 0xD0);
  EXPECT_EQ(d.sender, "Bank-Info");
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::vector<DecodedDeliver> DecodeAll(const IncomingSms& sms) {
  std::vector<DecodedDeliver> out;
  for (const std::string& pdu : DeliverPdus(sms)) {
    out.push_back(DecodeDeliver(pdu));
    EXPECT_EQ(out.back().error, "") << pdu;
  }
  return out;
}

TEST(DeliverParts, ExactlyOneHundredSixtySeptetsIsOneMessage) {
  const auto parts = DecodeAll(Sms(Repeat("a", 160)));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_FALSE(parts[0].headerPresent);
  EXPECT_EQ(parts[0].udl, 160);
}

TEST(DeliverParts, EightBitReferenceWithFillBit) {
  IncomingSms sms = Sms("h" + Repeat("0123456789", 20));  // 201 characters
  sms.reference = 0xA5;
  const auto parts = DecodeAll(sms);
  ASSERT_EQ(parts.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(parts[i].headerPresent);
    EXPECT_FALSE(parts[i].concat16);
    EXPECT_EQ(parts[i].concatReference, 0xA5);
    EXPECT_EQ(parts[i].concatTotal, 2);
    EXPECT_EQ(parts[i].concatSequence, i + 1);
    EXPECT_EQ(parts[i].fillBits, 1);
    EXPECT_EQ(parts[i].firstOctet, 0x44);
  }
  EXPECT_EQ(parts[0].udl, 7 + 153);
  EXPECT_EQ(parts[1].udl, 7 + 48);
  EXPECT_EQ(parts[0].text + parts[1].text, sms.text);
  // The user data starts with the header, then 'h' after one fill bit.
  const std::string first = DeliverPdus(sms)[0];
  EXPECT_NE(first.find("A0" "050003A50201" "D0"), std::string::npos) << first;
}

TEST(DeliverParts, SixteenBitReferenceNeedsNoFillBits) {
  IncomingSms sms = Sms(Repeat("x", 200));
  sms.referenceSize = ConcatReference::SixteenBit;
  sms.reference = 0x1234;
  const auto parts = DecodeAll(sms);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_TRUE(parts[0].concat16);
  EXPECT_EQ(parts[0].concatReference, 0x1234);
  EXPECT_EQ(parts[0].fillBits, 0);
  EXPECT_EQ(parts[0].udl, 8 + 152);
  EXPECT_EQ(parts[1].udl, 8 + 48);
  EXPECT_EQ(parts[0].text + parts[1].text, sms.text);
  EXPECT_NE(DeliverPdus(sms)[0].find("060804123402" "01"), std::string::npos);
}

TEST(DeliverParts, ExtensionCharacterIsNotCutInTwo) {
  // 164 septets; the euro sign's two would straddle the 153-septet part.
  IncomingSms sms = Sms(Repeat("a", 152) + "\xE2\x82\xAC" + Repeat("b", 10));
  const auto parts = DecodeAll(sms);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].text, Repeat("a", 152));
  EXPECT_EQ(parts[0].udl, 7 + 152);
  EXPECT_EQ(parts[1].text, "\xE2\x82\xAC" + Repeat("b", 10));
}

TEST(DeliverParts, SurrogatePairIsNotCutInTwo) {
  // 73 UTF-16 units; U+1F600's pair would straddle the 67-unit part.
  IncomingSms sms = Sms(Repeat("a", 66) + "\xF0\x9F\x98\x80" + Repeat("b", 5));
  sms.encoding = SmsEncoding::Ucs2;
  const auto parts = DecodeAll(sms);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].text, Repeat("a", 66));
  EXPECT_EQ(parts[0].udl, 6 + 132);
  EXPECT_EQ(parts[1].text, "\xF0\x9F\x98\x80" + Repeat("b", 5));
}

TEST(DeliverParts, Ucs2PartsHoldSixtySevenCharacters) {
  IncomingSms sms = Sms(Repeat("\xD0\x96", 71));  // Ж
  sms.encoding = SmsEncoding::Ucs2;
  const auto parts = DecodeAll(sms);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].udl, 6 + 134);
  EXPECT_EQ(parts[1].udl, 6 + 8);
  EXPECT_EQ(parts[0].dcs, 0x08);
}

TEST(DeliverParts, EightBitPartsHoldOneHundredThirtyFourOctets) {
  IncomingSms sms = Sms(Repeat("z", 141));
  sms.encoding = SmsEncoding::EightBit;
  const auto parts = DecodeAll(sms);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].udl, 6 + 134);
  EXPECT_EQ(parts[1].udl, 6 + 7);
  EXPECT_EQ(parts[0].text + parts[1].text, sms.text);
}

// A sender that chooses an encoding per part: each part is cut at its own
// capacity and carries its own coding scheme.
TEST(DeliverParts, EachPartInItsOwnEncoding) {
  IncomingSms sms = Sms(Repeat("a", 153) + "\xD0\x96\xD0\x96" + Repeat("c", 66));
  sms.partEncodings = {SmsEncoding::Gsm7Bit, SmsEncoding::Ucs2};
  const auto parts = DecodeAll(sms);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].dcs, 0x00);
  EXPECT_EQ(parts[0].text, Repeat("a", 153));
  EXPECT_EQ(parts[1].dcs, 0x08);  // the last encoding goes on
  EXPECT_EQ(parts[1].udl, 6 + 134);
  EXPECT_EQ(parts[2].dcs, 0x08);
  EXPECT_EQ(parts[0].text + parts[1].text + parts[2].text, sms.text);
  // A short text still goes in parts, one per encoding at least.
  sms.text = "hi";
  EXPECT_EQ(DecodeAll(sms).size(), 2u);
}

TEST(DeliverParts, PartOrderDoesNotChangeThePdus) {
  IncomingSms sms = Sms(Repeat("q", 400));
  const std::vector<std::string> natural = DeliverPdus(sms);
  sms.partOrder = {3, 1, 2};
  EXPECT_EQ(DeliverPdus(sms), natural);  // order is the simulator's business, not the encoder's
  ASSERT_EQ(natural.size(), 3u);
}

// --- SMS-SUBMIT reading -------------------------------------------------------

TEST(SubmitDecoder, PublicTutorialExample) {
  // The widely published SMS-SUBMIT example: "hellohello" to 46708251358,
  // validity period AA (4 days).
  const auto octets = FromHex("00" "11" "00" "0B916407281553F8" "00" "00" "AA" "0A" "E8329BFD4697D9EC37");
  ASSERT_TRUE(octets);
  std::string error;
  const auto pdu = DecodeSubmit(*octets, &error);
  ASSERT_TRUE(pdu) << error;
  EXPECT_EQ(pdu->fields.address, "+46708251358");
  EXPECT_EQ(pdu->fields.addressType, 0x91);
  EXPECT_EQ(pdu->fields.validityPeriod, 0xAA);
  EXPECT_EQ(CodePointsToUtf8(pdu->fields.text), "hellohello");
  EXPECT_EQ(pdu->TpduLength(), 23u);
}

TEST(SubmitDecoder, ConcatenatedUcs2Part) {
  const auto octets =
      FromHex("00" "41" "00" "0B916407281553F8" "00" "08" "0A" "050003070201" "00480069");
  ASSERT_TRUE(octets);
  std::string error;
  const auto pdu = DecodeSubmit(*octets, &error);
  ASSERT_TRUE(pdu) << error;
  ASSERT_TRUE(pdu->fields.concat);
  EXPECT_EQ(pdu->fields.concat->reference, 7);
  EXPECT_EQ(pdu->fields.concat->total, 2);
  EXPECT_EQ(pdu->fields.concat->sequence, 1);
  EXPECT_EQ(CodePointsToUtf8(pdu->fields.text), "Hi");
}

// TS 23.040 9.2.3.24.15 and .16: the shift elements name the tables the
// 7-bit text is read with; the simulator records them.
struct ShiftedSubmit {
  const char* name;
  const char* hex;
  int locking, single;
  const char* text;
};

class SubmitDecoderShifts : public ::testing::TestWithParam<ShiftedSubmit> {};

TEST_P(SubmitDecoderShifts, ReadsWithTheNamedTables) {
  const auto octets = FromHex(GetParam().hex);
  ASSERT_TRUE(octets);
  std::string error;
  const auto pdu = DecodeSubmit(*octets, &error);
  ASSERT_TRUE(pdu) << error;
  EXPECT_EQ(pdu->fields.lockingShift, GetParam().locking);
  EXPECT_EQ(pdu->fields.singleShift, GetParam().single);
  EXPECT_EQ(CodePointsToUtf8(pdu->fields.text), GetParam().text);
}

// Built from the TS 23.040 layout and the TS 23.038 annex A tables.
INSTANTIATE_TEST_SUITE_P(
    AnnexA, SubmitDecoderShifts,
    ::testing::Values(
        ShiftedSubmit{"TurkishSingleShift", "00" "51" "00" "0891" "51551000" "00" "00" "AA" "0B" "03240101" "486EE69BF41A",
                      0, 1, "Işık"},
        ShiftedSubmit{"TurkishLockingShift", "00" "51" "00" "0891" "51551000" "00" "00" "AA" "09" "03250101" "0832E407",
                      1, 0, "Ağrı"},
        ShiftedSubmit{"HindiLockingAndSingleShift",
                      "00" "51" "00" "0891" "51551000" "00" "00" "AA" "13" "06250106240106" "2F21F37BCA826430190D",
                      6, 6, "नमस्ते 2024"},
        // After a concatenation element; the Spanish "locking" element names
        // a void table: the default alphabet stands.
        ShiftedSubmit{"SpanishAfterConcatenation",
                      "00" "51" "00" "0891" "51551000" "00" "00" "AA" "0E" "0800032A0101250102" "20E80E03",
                      2, 0, "Ana"}),
    [](const auto& p) { return std::string(p.param.name); });

struct BadSubmit {
  const char* name;
  const char* hex;
  const char* error;
};

class SubmitDecoderRefuses : public ::testing::TestWithParam<BadSubmit> {};

TEST_P(SubmitDecoderRefuses, NamesTheFault) {
  const auto octets = FromHex(GetParam().hex);
  ASSERT_TRUE(octets);
  std::string error;
  EXPECT_FALSE(DecodeSubmit(*octets, &error));
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SubmitDecoderRefuses,
    ::testing::Values(BadSubmit{"Deliver", "00" "04" "0B916407281553F8" "0000", "TP-MTI is not SMS-SUBMIT"},
                      BadSubmit{"ShortUserData", "00" "01" "00" "0B916407281553F8" "00" "00" "0A" "E8329B",
                                "user data shorter than TP-UDL"},
                      BadSubmit{"TrailingOctets", "00" "01" "00" "0B916407281553F8" "00" "04" "01" "4142",
                                "octets after the user data"},
                      BadSubmit{"TruncatedAddress", "00" "01" "00" "0B9164", "TP-DA runs past the end"},
                      BadSubmit{"TruncatedServiceCentre", "07" "9172", "service centre address runs past the end"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SubmitEncoder, RoundTripsThroughTheReader) {
  SubmitRequest request;
  request.destination = "+15550123";
  request.serviceCentre = "+15550100";
  request.text = U"Hi there";
  const SmsPdu built = EncodeSubmit(request);
  std::string error;
  const auto read = DecodeSubmit(built.octets, &error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->fields.address, "+15550123");
  EXPECT_EQ(read->fields.serviceCentre, "+15550100");
  EXPECT_EQ(read->fields.validityPeriod, 167);
  EXPECT_EQ(read->fields.firstOctet, 0x11);
  EXPECT_EQ(CodePointsToUtf8(read->fields.text), "Hi there");
}

}  // namespace
}  // namespace vesk::sim
