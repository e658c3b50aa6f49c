// The answer layer against the modem simulator: text-mode bodies over
// several lines, senders with phonebook names that hold result words, and
// sends with the modem's echo on, answers cut into small pieces.
#include <gtest/gtest.h>

#include <mutex>

#include "support/SimulatorFixture.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using testing::WaitUntil;
using namespace std::chrono_literals;

class AnswersOnSimulator : public testing::SimulatorTest {
 protected:
  AnswersOnSimulator() : SimulatorTest(4) {}

  void Start(sim::ModemConfig config) {
    config.quirks.maxWriteChunk = 7;  // every answer in small pieces
    StartSimulator(std::move(config));
    gsm->OnReadMessage = [this](TObject*, const WideString& text, const AnsiString& phone, const AnsiString&,
                                TDateTime, int, int) { Note("read:" + WideToUtf8(text) + "|" + phone); };
    gsm->OnRing = [this](TObject*, const AnsiString& number) { Note("ring:" + number); };
    gsm->OnError = [this](TObject*, const AnsiString& text) { Note("error:" + text); };
    gsm->OnNewMessage = [this](TObject*, const AnsiString&, int) { ++notices; };
  }
  void Note(const std::string& e) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(e);
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }

  std::mutex mutex;
  std::vector<std::string> events;
  std::atomic<int> notices{0};
};

TEST_F(AnswersOnSimulator, TextModeBodiesKeepEveryLine) {
  sim::ModemConfig config;
  Start(config);
  gsm->SetMessageFormat(mfText);
  OpenAndSetUp();
  const std::string texts[] = {"RING me at 5\nERROR in the plan", "+CMTI: \"SM\",1\nOK\nbye"};
  for (const std::string& text : texts) {
    sim::IncomingSms sms;
    sms.text = text;
    simulator->DeliverSms(sms);
  }
  ASSERT_TRUE(WaitUntil([&] { return Events().size() >= 2; }, 10000));
  WaitUntil([] { return false; }, 300);  // nothing more comes
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:" + texts[0] + "|+15550123", "read:" + texts[1] + "|+15550123"}));
  EXPECT_EQ(notices, 2);
  // Each message was read once: no read for the forwarded notice line.
  std::size_t reads = 0;
  for (const auto& entry : simulator->Transcript())
    if (entry.direction == sim::Direction::Received && entry.bytes.find("AT+CMGR=") != std::string::npos) ++reads;
  EXPECT_EQ(reads, 2u);
}

TEST_F(AnswersOnSimulator, ATextModeListingOfMessagesOverSeveralLines) {
  sim::ModemConfig config;
  Start(config);
  gsm->SetMessageFormat(mfText);
  gsm->SetAutoReadNewMessage(false);
  OpenAndSetUp();
  for (const std::string text : {"one\nRING", "two\r\nERROR\r\nOK"}) {
    sim::IncomingSms sms;
    sms.text = text;
    sms.announce = false;
    simulator->DeliverSms(sms);
  }
  gsm->GetAllSMS("SM", 4);
  ASSERT_TRUE(WaitUntil([&] { return Events().size() >= 2; }, 10000));
  WaitUntil([] { return false; }, 300);
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:one\nRING|+15550123", "read:two\r\nERROR\r\nOK|+15550123"}));
}

TEST_F(AnswersOnSimulator, PhonebookNamesHoldingResultWords) {
  sim::ModemConfig config;
  config.phonebook["+15550123"] = "Ringo, ERROR \"OK\" Ltd";
  config.phonebook["+15550124"] = "Engineering";
  Start(config);
  OpenAndSetUp();
  for (const char* sender : {"+15550123", "+15550124"}) {
    sim::IncomingSms sms;
    sms.text = "hello";
    sms.sender = sender;
    simulator->DeliverSms(sms);
  }
  ASSERT_TRUE(WaitUntil([&] { return Events().size() >= 2; }, 10000));
  WaitUntil([] { return false; }, 300);
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:hello|+15550123", "read:hello|+15550124"}));
  // And listed.
  {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
  }
  gsm->GetAllSMS("SM", 4);
  ASSERT_TRUE(WaitUntil([&] { return Events().size() >= 2; }, 10000));
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:hello|+15550123", "read:hello|+15550124"}));
}

TEST_F(AnswersOnSimulator, ACallerWithANameRingsOncePerNotice) {
  sim::ModemConfig config;
  config.phonebook["+15550123"] = "Ringo";
  Start(config);
  OpenAndSetUp();
  sim::IncomingCall call;
  call.rings = 1;
  simulator->Ring(call);
  ASSERT_TRUE(WaitUntil([&] { return Events().size() >= 2; }, 10000));
  WaitUntil([] { return false; }, 300);
  EXPECT_EQ(Events(), (std::vector<std::string>{"ring:", "ring:+15550123"}));
}

// The simulator echoes every byte, the message body too, before it answers.
TEST_F(AnswersOnSimulator, SendsWithTheEchoOn) {
  sim::ModemConfig config;
  Start(config);
  ASSERT_TRUE(gsm->Open(true));  // no set-up: the echo stays on
  for (bool prompt : {false, true}) {
    SCOPED_TRACE(prompt);
    gsm->SetWaitForPrompt(prompt);
    simulator->FailNextSends(1, "+CMS ERROR: 38");
    EXPECT_FALSE(gsm->SendSMSAsText("+15550199", "", "Meet at 5\nOK"));
    EXPECT_EQ(gsm->GetLastSendError(), "+CMS ERROR: 38");
    EXPECT_TRUE(gsm->SendSMSAsText("+15550199", "", "ERROR in the plan\nRING me"));
    EXPECT_EQ(gsm->GetLastSendError(), "");
    EXPECT_TRUE(gsm->SendSMSAsPDU("+15550199", "", u"OK then", meAuto, false));
  }
  const auto sent = simulator->Submitted();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].text, "ERROR in the plan\nRING me");
  EXPECT_EQ(sent[1].text, "OK then");
  // The echoed bodies raised nothing; the refusals raised their errors.
  EXPECT_EQ(Events(), (std::vector<std::string>{"error:+CMS ERROR: 38", "error:+CMS ERROR: 38"}));
}

}  // namespace
}  // namespace vesk
