// Sending to the modem simulator on a pseudo-terminal: what the simulator
// records as submitted is what the application sent.
#include <gtest/gtest.h>

#include "support/SimulatorFixture.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;

class SendingToSimulator : public testing::SimulatorTest, public ::testing::WithParamInterface<bool> {
 protected:
  void Start(sim::ModemConfig config = {}) {
    StartSimulator(std::move(config));
    gsm->SetWaitForPrompt(GetParam());
    OpenAndSetUp();
  }
};

// 400 characters with extension characters and a Greek capital: three parts.
std::string LongText() {
  std::string text;
  for (int i = 0; text.size() < 380; ++i) text += "Part of a long text #" + std::to_string(i) + " [ok] ";
  return text + " \xE2\x82\xAC and \xCE\xA9.";  // euro sign, capital omega
}

TEST_P(SendingToSimulator, AThreePartMessageArrivesWhole) {
  Start();
  const std::string text = LongText();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550123", "", Utf8ToWide(text), meAuto, false)) << gsm->GetLastSendError();
  const auto submitted = simulator->Submitted();
  ASSERT_EQ(submitted.size(), 3u);
  std::string joined;
  for (std::size_t i = 0; i < submitted.size(); ++i) {
    const auto& m = submitted[i];
    EXPECT_TRUE(m.pduMode);
    EXPECT_EQ(m.destination, "+15550123");
    EXPECT_EQ(m.encoding, sim::SmsEncoding::Gsm7Bit);
    ASSERT_TRUE(m.concat.has_value());
    EXPECT_EQ(m.concat->reference, submitted[0].concat->reference);
    EXPECT_EQ(m.concat->total, 3);
    EXPECT_EQ(m.concat->sequence, static_cast<int>(i + 1));
    joined += m.text;
  }
  EXPECT_EQ(joined, text);
  const auto refs = gsm->GetLastMessageReferences();
  ASSERT_EQ(refs.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(refs[i], submitted[i].messageReference);
  EXPECT_EQ(gsm->GetLastSendError(), "");
}

TEST_P(SendingToSimulator, AUcs2FlashMessageAndATextModeMessage) {
  Start();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550123", "+15550100", u"\u4F60\u597D", meAuto, true)) << gsm->GetLastSendError();
  ASSERT_TRUE(gsm->SendSMSAsText("+15550124", "", "plain text, ok?")) << gsm->GetLastSendError();
  const auto submitted = simulator->Submitted();
  ASSERT_EQ(submitted.size(), 2u);
  EXPECT_EQ(submitted[0].dcs, 0x18);
  EXPECT_EQ(submitted[0].encoding, sim::SmsEncoding::Ucs2);
  EXPECT_EQ(submitted[0].text, "\xE4\xBD\xA0\xE5\xA5\xBD");
  EXPECT_FALSE(submitted[1].pduMode);
  EXPECT_EQ(submitted[1].destination, "+15550124");
  EXPECT_EQ(submitted[1].text, "plain text, ok?");
}

TEST_P(SendingToSimulator, ARefusedPartStopsTheMessage) {
  Start();
  simulator->FailNextSends(1, "+CMS ERROR: 321");
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550123", "", Utf8ToWide(LongText()), meAuto, false));
  EXPECT_EQ(gsm->GetLastSendError(), "+CMS ERROR: 321");
  EXPECT_TRUE(gsm->GetLastMessageReferences().empty());
  EXPECT_TRUE(simulator->Submitted().empty());
  EXPECT_EQ(simulator->WaitForCommand("AT+CMGS", 200ms, 2), false);  // the second part never went
}

TEST_P(SendingToSimulator, AnswersInLowerCaseAndInPieces) {
  sim::ModemConfig config;
  config.quirks.lowerCase = true;
  config.quirks.answerPieces = 3;
  config.quirks.pieceDelay = 2ms;
  Start(config);
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550123", "", u"hello", meAuto, false)) << gsm->GetLastSendError();
  ASSERT_EQ(simulator->Submitted().size(), 1u);
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{simulator->Submitted()[0].messageReference});
}

INSTANTIATE_TEST_SUITE_P(BothModes, SendingToSimulator, ::testing::Values(false, true),
                         [](const auto& tc) { return tc.param ? "WaitingForPrompt" : "FixedPauses"; });

}  // namespace
}  // namespace vesk
