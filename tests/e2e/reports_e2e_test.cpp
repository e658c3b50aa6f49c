// Delivery reports and direct delivery end to end: the component on the
// modem simulator's pseudo-terminal, the simulator unpaced and the
// component's clock sped up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>

#include "support/SimulatorFixture.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using testing::WaitUntil;
using namespace std::chrono_literals;

struct Outcome {
  AnsiString recipient;
  std::vector<int> references;
  TMessageOutcome outcome;
};

class ReportsOnSimulator : public testing::SimulatorTest {
 protected:
  explicit ReportsOnSimulator(double speed = testing::kClockSpeed) : SimulatorTest(speed) {}

  void Start(sim::ModemConfig config) {
    StartSimulator(std::move(config));
    gsm->SetWaitForPrompt(true);
    gsm->OnStatusReport = [this](TObject*, int, const AnsiString&, int, TDateTime, TDateTime) { ++reports; };
    gsm->OnMessageStatus = [this](TObject*, const AnsiString& recipient, const std::vector<int>& references,
                                  TMessageOutcome outcome) {
      std::lock_guard<std::mutex> lock(mutex);
      outcomes.push_back({recipient, references, outcome});
    };
    gsm->OnReadMessage = [this](TObject*, const WideString& text, const AnsiString&, const AnsiString&, TDateTime, int,
                                int) {
      std::lock_guard<std::mutex> lock(mutex);
      read.push_back(WideToUtf8(text));
      listed.push_back(gsm->GetIsListing());
    };
    gsm->OnError = [this](TObject*, const AnsiString& text) {
      std::lock_guard<std::mutex> lock(mutex);
      errors.push_back(text);
    };
  }
  std::size_t OutcomeCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return outcomes.size();
  }
  std::size_t ReadCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return read.size();
  }

  std::mutex mutex;
  std::vector<Outcome> outcomes;
  std::vector<std::string> read;
  std::vector<bool> listed;
  std::vector<AnsiString> errors;
  std::atomic<int> reports{0};
};

// The outcome the simulator is told to give each recipient: every third
// failed, every fifth (not third) expired, the rest delivered.
std::string Recipient(int i) { return "+1555020" + std::string(i < 10 ? "0" : "") + std::to_string(i); }
TMessageOutcome Expected(int i) { return i % 3 == 0 ? moFailed : i % 5 == 0 ? moExpired : moDelivered; }

TEST_F(ReportsOnSimulator, OneHundredMessagesWithReportsEachOutcomeOnce) {
  sim::ModemConfig config;
  config.firstMessageReference = 200;  // the references wrap from 255 to 0 on the way
  config.reports.delay = 30ms;
  for (int i = 0; i < 100; ++i) {
    if (Expected(i) == moFailed)
      config.reports.byDestination[Recipient(i)] = sim::report_status::kIncompatibleDestination;
    if (Expected(i) == moExpired) config.reports.byDestination[Recipient(i)] = sim::report_status::kValidityExpired;
  }
  Start(config);
  gsm->SetStatusReportRequest(true);
  OpenAndSetUp();
  // Stored in the report storage and announced (+CDSI): read, reported, deleted.
  EXPECT_EQ(gsm->GetNewMessageIndicationCommand(), "AT+CNMI=2,1,0,2,0");

  std::map<std::string, std::vector<int>> sent;
  std::size_t parts = 0;
  for (int i = 0; i < 100; ++i) {
    // Every tenth in two parts.
    const WideString text = i % 10 == 0 ? WideString(200, static_cast<char16_t>(u'a' + i % 26))
                                        : Utf8ToWide("message " + std::to_string(i));
    ASSERT_TRUE(gsm->SendSMSAsPDU(Recipient(i), "", text)) << i << ": " << gsm->GetLastSendError();
    sent[Recipient(i)] = gsm->GetLastMessageReferences();
    parts += sent[Recipient(i)].size();
  }
  ASSERT_EQ(parts, 110u);
  ASSERT_TRUE(WaitUntil([&] { return OutcomeCount() >= 100; }, 60000)) << OutcomeCount();
  WaitUntil([] { return false; }, 300);  // nothing more comes

  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(outcomes.size(), 100u);
  std::set<std::string> told;
  for (const Outcome& o : outcomes) {
    EXPECT_TRUE(told.insert(o.recipient).second) << o.recipient << " told twice";
    const int i = std::stoi(o.recipient.substr(8));
    EXPECT_EQ(o.outcome, Expected(i)) << o.recipient;
    EXPECT_EQ(o.references, sent[o.recipient]) << o.recipient;
  }
  EXPECT_EQ(reports.load(), 110);
  EXPECT_EQ(gsm->GetPendingMessageCount(), 0);
  EXPECT_TRUE(errors.empty()) << errors.front();
  // Every report was deleted once reported.
  EXPECT_TRUE(simulator->Stored().empty());
  EXPECT_EQ(simulator->StatusReportsSent(), 110);
}

TEST_F(ReportsOnSimulator, ReportsRoutedDirectlyAreAcknowledged) {
  sim::ModemConfig config;
  config.reports.delay = 20ms;
  config.reports.byPart[2] = sim::report_status::kGaveUpNoResponse;
  Start(config);
  gsm->SetStatusReportRequest(true);
  gsm->SetNewMessageIndication(nmDirect);
  OpenAndSetUp();
  EXPECT_EQ(gsm->GetNewMessageIndicationCommand(), "AT+CNMI=2,2,0,1,0");
  for (int i = 0; i < 20; ++i) {
    const WideString text = i % 4 == 0 ? WideString(170, u'z') : Utf8ToWide("direct " + std::to_string(i));
    ASSERT_TRUE(gsm->SendSMSAsPDU(Recipient(i), "", text)) << gsm->GetLastSendError();
  }
  ASSERT_TRUE(WaitUntil([&] { return OutcomeCount() >= 20; }, 30000)) << OutcomeCount();
  ASSERT_TRUE(simulator->WaitUntil([&] { return simulator->Acknowledgements() >= 25; }, 10000ms));
  std::lock_guard<std::mutex> lock(mutex);
  for (const Outcome& o : outcomes) {
    // A second part that the network gave up on fails its message.
    EXPECT_EQ(o.outcome, o.references.size() == 2 ? moFailed : moDelivered) << o.recipient;
  }
  EXPECT_EQ(reports.load(), 25);
  EXPECT_EQ(simulator->Redeliveries(), 0);
  EXPECT_TRUE(simulator->Stored().empty());
}

TEST_F(ReportsOnSimulator, OneHundredDirectDeliveriesEachReportedOnceNoneStored) {
  Start({});
  gsm->SetNewMessageIndication(nmDirect);
  OpenAndSetUp();
  ASSERT_TRUE(gsm->GetAcknowledgesDeliveries());
  std::multiset<std::string> expected;
  std::size_t parts = 0;
  for (int i = 0; i < 100; ++i) {
    sim::IncomingSms sms;
    sms.sender = Recipient(i);
    sms.reference = i;
    // Every tenth in two parts, the parts the wrong way round.
    sms.text = i % 10 == 0 ? std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i)
                           : "incoming " + std::to_string(i);
    if (i % 10 == 0) sms.partOrder = {2, 1};
    expected.insert(sms.text);
    parts += simulator->DeliverSms(sms).size();
  }
  ASSERT_TRUE(WaitUntil([&] { return ReadCount() >= 100; }, 60000)) << ReadCount();
  ASSERT_TRUE(simulator->WaitUntil([&] { return simulator->Acknowledgements() >= static_cast<int>(parts); }, 10000ms));
  WaitUntil([] { return false; }, 300);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(std::multiset<std::string>(read.begin(), read.end()), expected);
  EXPECT_EQ(simulator->Acknowledgements(), static_cast<int>(parts));
  EXPECT_EQ(simulator->Redeliveries(), 0);
  EXPECT_TRUE(simulator->Stored().empty());
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(ReportsOnSimulator, ADeliveryNotAcknowledgedInTimeIsReportedOnce) {
  sim::ModemConfig config;
  config.ackTimeout = 50ms;
  config.maxRedeliveries = 20;
  Start(config);
  gsm->SetNewMessageIndication(nmDirect);
  OpenAndSetUp();
  // The acknowledgements are refused for a while: the network delivers again.
  simulator->SetSupported("+CNMA", false);
  sim::IncomingSms sms;
  sms.text = "said twice";
  simulator->DeliverSms(sms);
  ASSERT_TRUE(simulator->WaitUntil([&] { return simulator->Redeliveries() >= 2; }, 5000ms));
  simulator->SetSupported("+CNMA", true);
  ASSERT_TRUE(simulator->WaitUntil([&] { return simulator->Acknowledgements() >= 1; }, 5000ms));
  WaitUntil([] { return false; }, 300);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(read, (std::vector<std::string>{"said twice"}));
  EXPECT_FALSE(errors.empty());  // the refusals were told
  EXPECT_NE(gsm->IsConnected(), spNone);
}

// Five seconds between checks, and a notice that never comes: the message
// is reported within ten seconds of the component's clock.
class CheckOnSimulator : public ReportsOnSimulator {
 protected:
  CheckOnSimulator() : ReportsOnSimulator(10) {}
};

TEST_F(CheckOnSimulator, ADroppedNoticeDoesNotStrandTheMessage) {
  Start({});
  gsm->SetStoredMessageCheckInterval(5);
  OpenAndSetUp();
  // The check on open has run.
  ASSERT_TRUE(simulator->WaitForCommand("AT+CMGL=0", 5000ms));
  simulator->DropNextNotices(1);
  sim::IncomingSms sms;
  sms.text = "never announced";
  const auto delivered = simulator->DeliverSms(sms);
  ASSERT_EQ(delivered.size(), 1u);
  ASSERT_GT(delivered[0].index, 0);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return ReadCount() >= 1; }, 20000));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, GetClock()->RealDuration(10000));
  WaitUntil([] { return false; }, 300);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(read, (std::vector<std::string>{"never announced"}));
  EXPECT_EQ(listed, (std::vector<bool>{true}));
}

}  // namespace
}  // namespace vesk
