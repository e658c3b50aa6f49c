// Long messages and their coding schemes, end to end against the modem
// simulator: what the component sends goes in one encoding for every part,
// and what a sender wrote with a coding scheme per part reads whole.
#include <gtest/gtest.h>

#include <mutex>

#include "support/SimulatorFixture.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using testing::WaitUntil;

class CodingSchemes : public testing::SimulatorTest {
 protected:
  CodingSchemes() : SimulatorTest(4) {}

  void Start() {
    StartSimulator();
    gsm->SetWaitForPrompt(true);
    gsm->OnReadMessage = [this](TObject*, const WideString& text, const AnsiString& phone, const AnsiString&,
                                TDateTime, int, int) {
      std::lock_guard<std::mutex> lock(mutex_);
      texts_.push_back(WideToUtf8(text));
      phones_.push_back(phone);
    };
    gsm->OnError = [this](TObject*, const AnsiString& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      errors_.push_back(text);
    };
    OpenAndSetUp();
  }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  std::vector<AnsiString> Phones() {
    std::lock_guard<std::mutex> lock(mutex_);
    return phones_;
  }
  std::vector<AnsiString> Errors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::vector<AnsiString> phones_;
  std::vector<AnsiString> errors_;
};

// 67 plain letters and then Cyrillic: the whole text needs UCS2, and both
// parts go as UCS2 (they used to go as a 7-bit part and a UCS2 part).
TEST_F(CodingSchemes, EveryPartOfASentMessageGoesInTheWholeTextsEncoding) {
  Start();
  const std::string text = std::string(67, 'A') + "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550123", "", Utf8ToWide(text), meAuto, false)) << gsm->GetLastSendError();
  const auto submitted = simulator->Submitted();
  ASSERT_EQ(submitted.size(), 2u);
  std::string joined;
  for (const auto& m : submitted) {
    EXPECT_EQ(m.encoding, sim::SmsEncoding::Ucs2);
    EXPECT_EQ(m.dcs, 0x08);
    ASSERT_TRUE(m.concat.has_value());
    EXPECT_EQ(m.concat->reference, submitted[0].concat->reference);
    joined += m.text;
  }
  EXPECT_EQ(joined, text);
}

// A sender that chose 7-bit for one part and UCS2 for the next, the parts
// arriving in either order: one message, each part read in its own
// alphabet.
TEST_F(CodingSchemes, AMessageWhosePartsCarryDifferentSchemesReadsWhole) {
  Start();
  const std::string cyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет
  const std::string texts[] = {std::string(153, 'a') + cyrillic, cyrillic + std::string(67, 'b') + "!"};
  const std::vector<sim::SmsEncoding> encodings[] = {{sim::SmsEncoding::Gsm7Bit, sim::SmsEncoding::Ucs2},
                                                     {sim::SmsEncoding::Ucs2, sim::SmsEncoding::Gsm7Bit}};
  for (int i = 0; i < 2; ++i) {
    sim::IncomingSms sms;
    sms.text = texts[i];
    sms.partEncodings = encodings[i];
    sms.reference = 40 + i;
    sms.partOrder = i == 0 ? std::vector<int>{2, 1} : std::vector<int>{1, 2};
    ASSERT_EQ(simulator->DeliverSms(sms).size(), 2u);
    ASSERT_TRUE(WaitUntil([&] { return Texts().size() == static_cast<std::size_t>(i + 1); }, 10000)) << i;
  }
  EXPECT_EQ(Texts(), (std::vector<std::string>{texts[0], texts[1]}));
  EXPECT_EQ(Phones(), (std::vector<AnsiString>{"+15550123", "+15550123"}));
  EXPECT_TRUE(Errors().empty());
}

}  // namespace
}  // namespace vesk
