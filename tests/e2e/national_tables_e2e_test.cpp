// Sending in the national language tables against the modem simulator,
// whose SMS-SUBMIT reader and tables are its own: what it records as sent,
// and the text it reads, are what the application sent.
#include <gtest/gtest.h>

#include <random>

#include "codec/Alphabet.h"
#include "codec/MessagePlan.h"
#include "codec/Submit.h"
#include "support/SimulatorFixture.h"
#include "tools/simulator/GsmAlphabet.h"
#include "tools/simulator/ModemSimulator.h"
#include "tools/simulator/NationalTables.h"
#include "tools/simulator/SmsPdu.h"

namespace vesk {
namespace {

// 280 characters, every one in the Turkish locking shift table.
std::string TurkishText() {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "Ağaçlı şehirde büyük ışığı; ";
  return text;
}

class NationalTablesToSimulator : public testing::SimulatorTest {
 protected:
  NationalTablesToSimulator() : SimulatorTest(4) {}
  void SetUp() override {
    SimulatorTest::SetUp();
    StartSimulator();
    gsm->SetWaitForPrompt(true);
    OpenAndSetUp();
  }
  // The texts of the messages submitted since `from`, joined.
  std::string Joined(std::size_t from) {
    std::string text;
    const auto submitted = simulator->Submitted();
    for (std::size_t i = from; i < submitted.size(); ++i) text += submitted[i].text;
    return text;
  }
};

// Two parts with Turkish allowed (149 septets each behind the
// concatenation and locking shift elements), five UCS2 parts without; the
// simulator reads the same text both times.
TEST_F(NationalTablesToSimulator, A280CharacterTurkishTextGoesInTwoParts) {
  const std::string text = TurkishText();
  ASSERT_EQ(Utf8ToWide(text).size(), 280u);
  gsm->SetNationalLanguageTables({stTurkish});
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550123", "", Utf8ToWide(text), meAuto, false)) << gsm->GetLastSendError();
  auto submitted = simulator->Submitted();
  ASSERT_EQ(submitted.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(submitted[i].encoding, sim::SmsEncoding::Gsm7Bit);
    EXPECT_EQ(submitted[i].lockingShift, 1);  // TS 23.038 6.2.1.2.4: Turkish
    EXPECT_EQ(submitted[i].singleShift, 0);
    ASSERT_TRUE(submitted[i].concat.has_value());
    EXPECT_EQ(submitted[i].concat->total, 2);
    EXPECT_EQ(submitted[i].concat->sequence, static_cast<int>(i + 1));
  }
  EXPECT_EQ(Joined(0), text);

  gsm->SetNationalLanguageTables({});
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550123", "", Utf8ToWide(text), meAuto, false)) << gsm->GetLastSendError();
  submitted = simulator->Submitted();
  ASSERT_EQ(submitted.size(), 7u);
  for (std::size_t i = 2; i < 7; ++i) EXPECT_EQ(submitted[i].encoding, sim::SmsEncoding::Ucs2);
  EXPECT_EQ(Joined(2), text);
}

// A Hindi text with ASCII capitals, which only the Hindi single shift
// table holds: one message in both Hindi tables.
TEST_F(NationalTablesToSimulator, AHindiTextInBothTables) {
  const std::string text = "नमस्ते OK 2024";
  gsm->SetNationalLanguageTables({stHindi});
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550123", "", Utf8ToWide(text), meAuto, false)) << gsm->GetLastSendError();
  const auto submitted = simulator->Submitted();
  ASSERT_EQ(submitted.size(), 1u);
  EXPECT_EQ(submitted[0].lockingShift, 6);
  EXPECT_EQ(submitted[0].singleShift, 6);
  EXPECT_FALSE(submitted[0].concat.has_value());
  EXPECT_EQ(submitted[0].text, text);
}

// Differential: random texts drawn from each language's tables, planned and
// encoded by the library, read by the simulator's own SMS-SUBMIT reader.
// Characters come from the simulator's tables, so they are what the other
// side of the line knows.
TEST(NationalTablesDifferential, TheSimulatorReadsWhatTheLibraryWrites) {
  std::mt19937 random(9232415);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  for (int language = 1; language <= sim::kNationalLanguages; ++language) {
    SCOPED_TRACE(language);
    std::u32string pool;
    for (int code = 0; code < 128; ++code) {
      for (auto c : {sim::NationalLockingCharacter(language, static_cast<std::uint8_t>(code)),
                     sim::NationalSingleShiftCharacter(language, static_cast<std::uint8_t>(code))})
        if (c && *c != U'\r' && *c != U'\f' && pool.find(*c) == std::u32string::npos) pool.push_back(*c);
      const char16_t d = sim::kGsmDefaultAlphabet[static_cast<std::size_t>(code)];
      if (code != 0x1B && d != u'\r' && pool.find(d) == std::u32string::npos) pool.push_back(d);
    }
    TNationalLanguageShiftTablesSet allowed;
    for (int t = 1; t <= stUrdu; ++t)
      if (codec::NationalLanguageIdentifier(static_cast<TNationalLanguageShiftTables>(t)) == language)
        allowed.Include(static_cast<TNationalLanguageShiftTables>(t));
    for (int round = 0; round < 30; ++round) {
      std::u32string points;
      const std::size_t length = 1 + pick(300);
      for (std::size_t i = 0; i < length; ++i) points.push_back(pool[pick(pool.size())]);
      const std::string utf8 = sim::CodePointsToUtf8(points);
      const codec::MessagePlan plan = codec::PlanMessage(Utf8ToWide(utf8), meAuto, allowed);
      std::string read;
      for (std::size_t i = 0; i < plan.Parts.size(); ++i) {
        const TUDH udh(0x42, static_cast<std::uint8_t>(i + 1), static_cast<std::uint8_t>(plan.Parts.size()));
        const TPDUSMS pdu = codec::StringToPDUSMS(u"+15550123", u"", plan.Parts[i], plan.Info.Encoding, false,
                                                  plan.Parts.size() > 1 ? &udh : nullptr, plan.Info.LockingShift,
                                                  plan.Info.SingleShift);
        std::string error;
        const auto octets = sim::FromHex(pdu.Data);
        ASSERT_TRUE(octets);
        const auto decoded = sim::DecodeSubmit(*octets, &error);
        ASSERT_TRUE(decoded) << error << " " << pdu.Data;
        read += sim::CodePointsToUtf8(decoded->fields.text);
      }
      EXPECT_EQ(read, utf8) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace vesk
