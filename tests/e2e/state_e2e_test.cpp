// The modem's state against the simulator: a SIM unlocked with its PIN, and
// with its PUK after wrong PINs; waiting for the network until it registers
// the modem; the operator and the service centre; USSD (a balance, a menu in
// two steps, a UCS2 answer, a network time-out during which the port stays
// free, a network-initiated message); typed errors of a send.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <sstream>
#include "support/SimulatorFixture.h"

#include "tools/simulator/ModemSimulator.h"
#include "tools/simulator/SimulatorCommand.h"

namespace vesk {
namespace {

using testing::WaitUntil;
using namespace std::chrono_literals;

class StateOnSimulator : public testing::SimulatorTest {
 protected:
  void Start(sim::ModemConfig config) {
    config.echo = false;
    config.ussdDelay = 200ms;
    config.ussdTimeout = 1500ms;
    StartSimulator(std::move(config));
    gsm->OnRegistrationChange = [this](TObject*, const TRegistration& r) {
      Note("registration:" + r.Source + "," + std::to_string(r.Stat));
    };
    gsm->OnUSSD = [this](TObject*, const TUSSDResult& u) {
      Note("ussd:" + std::to_string(static_cast<int>(u.Status)) + "," + WideToUtf8(u.Text));
    };
  }
  void Note(const std::string& e) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(e);
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }
  std::size_t Sent(const std::string& command) {
    std::size_t n = 0;
    for (const std::string& c : simulator->Commands()) n += c == command;
    return n;
  }

  std::mutex mutex;
  std::vector<std::string> events;
};

TEST_F(StateOnSimulator, ASimThatNeedsItsPinIsUnlocked) {
  sim::ModemConfig config;
  config.pin = "1234";
  Start(config);
  OpenAndSetUp();
  EXPECT_EQ(gsm->GetSIMState(), ssPINNeeded);
  EXPECT_EQ(gsm->GetPINRetries(), 3);
  EXPECT_TRUE(gsm->EnterPIN("1234"));
  EXPECT_EQ(gsm->GetSIMState(), ssReady);
  EXPECT_EQ(simulator->State().pin, sim::PinState::Ready);
}

TEST_F(StateOnSimulator, ThreeWrongPinsThenThePuk) {
  sim::ModemConfig config;
  config.pin = "1234";
  Start(config);
  OpenAndSetUp();
  EXPECT_FALSE(gsm->EnterPIN("0000"));
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekCME);
  EXPECT_EQ(gsm->GetLastModemError().Number, 16);
  EXPECT_EQ(gsm->GetPINRetries(), 2);
  EXPECT_FALSE(gsm->EnterPIN("1111"));
  EXPECT_EQ(gsm->GetPINRetries(), 1);
  // One try left: a guess is not sent unless it is meant to be the last.
  EXPECT_FALSE(gsm->EnterPIN("2222"));
  EXPECT_EQ(Sent("AT+CPIN=\"2222\""), 0u);
  EXPECT_EQ(simulator->State().pinAttempts, 1);
  EXPECT_FALSE(gsm->EnterPIN("2222", true));
  EXPECT_EQ(Sent("AT+CPIN=\"2222\""), 1u);
  EXPECT_EQ(gsm->GetSIMState(), ssPUKNeeded);
  // The right PIN is no use now, and is not sent.
  EXPECT_FALSE(gsm->EnterPIN("1234", true));
  EXPECT_EQ(Sent("AT+CPIN=\"1234\""), 0u);
  EXPECT_FALSE(gsm->EnterPUK("87654321", "4321"));
  EXPECT_EQ(simulator->State().pukAttempts, 9);
  EXPECT_TRUE(gsm->EnterPUK("12345678", "4321"));
  EXPECT_EQ(gsm->GetSIMState(), ssReady);
  EXPECT_EQ(gsm->GetPINRetries(), 3);
}

TEST_F(StateOnSimulator, WaitForNetworkReturnsWhenTheConsoleRegistersTheModem) {
  sim::ModemConfig config;
  config.registration = 2;  // searching
  Start(config);
  OpenAndSetUp();
  EXPECT_EQ(gsm->GetRegistration().Status, rsSearching);
  const std::size_t asked = Sent("AT+CREG?");
  std::ostringstream console;
  std::thread network([&] {
    std::this_thread::sleep_for(300ms);
    bool quit = false;
    sim::RunConsoleLine(*simulator, "register home", console, quit);
  });
  EXPECT_TRUE(gsm->WaitForNetwork(600));
  network.join();
  EXPECT_EQ(console.str(), "registration home\n");
  // Asked once on entry, then woken by the unsolicited result.
  EXPECT_EQ(Sent("AT+CREG?"), asked + 1);
  EXPECT_TRUE(WaitUntil([&] { return Events().size() >= 3; }));
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"registration:+CREG,1", "registration:+CGREG,1", "registration:+CEREG,1"}));
  const TRegistration r = gsm->GetRegistration();
  EXPECT_EQ(r.Status, rsHome);
  EXPECT_EQ(r.Area, "1A2B");
  bool quit = false;
  sim::RunConsoleLine(*simulator, "register roaming", console, quit);
  EXPECT_TRUE(gsm->WaitForNetwork(1));
  EXPECT_EQ(gsm->GetRegistration().Status, rsRoaming);
}

TEST_F(StateOnSimulator, OperatorAndServiceCentre) {
  Start({});
  OpenAndSetUp();
  const TOperator op = gsm->GetOperator();
  EXPECT_EQ(WideToUtf8(op.Name), "VESK");
  EXPECT_EQ(op.Format, 0);
  EXPECT_EQ(op.Technology, 7);
  EXPECT_EQ(gsm->GetServiceCenter(), "+15550100");
  EXPECT_TRUE(gsm->SetServiceCenter("+15550999"));
  EXPECT_EQ(simulator->State().serviceCentre, "+15550999");
  EXPECT_EQ(gsm->GetServiceCenter(), "+15550999");
  // The modem switched to the UCS2 character set behind the component's
  // back: the number comes as UCS2 hexadecimal and still reads.
  EXPECT_TRUE(gsm->ExecuteATCommand("AT+CSCS=\"UCS2\""));
  EXPECT_EQ(gsm->GetServiceCenter(), "+15550999");
}

TEST_F(StateOnSimulator, ABalanceAMenuAndAUcs2Answer) {
  Start({});
  OpenAndSetUp();
  TUSSDResult balance = gsm->SendUSSD("*100#", 30);
  EXPECT_EQ(balance.Status, usNoFurtherAction);
  EXPECT_EQ(WideToUtf8(balance.Text), "Your balance is 12.34 EUR, valid until 31/12/2026.");
  EXPECT_EQ(balance.DCS, 15);
  EXPECT_TRUE(balance.Decoded);

  TUSSDResult menu = gsm->SendUSSD("*101#", 30);
  EXPECT_EQ(menu.Status, usFurtherAction);
  EXPECT_EQ(WideToUtf8(menu.Text), "Menu\n1 Balance\n2 Bundles");
  TUSSDResult bundles = gsm->ReplyUSSD("2", 30);
  EXPECT_EQ(bundles.Status, usFurtherAction);
  EXPECT_EQ(WideToUtf8(bundles.Text), "Bundles\n1 Daily 1 GB\n2 Weekly 5 GB");
  TUSSDResult done = gsm->ReplyUSSD("1", 30);
  EXPECT_EQ(done.Status, usNoFurtherAction);
  EXPECT_EQ(WideToUtf8(done.Text), "Daily 1 GB bundle activated");

  TUSSDResult ucs2 = gsm->SendUSSD("*102#", 30);
  EXPECT_EQ(ucs2.Status, usNoFurtherAction);
  EXPECT_EQ(ucs2.DCS, 72);
  EXPECT_EQ(WideToUtf8(ucs2.Text), "Баланс: 100 ₽");

  EXPECT_EQ(gsm->SendUSSD("*999#", 30).Status, usNotSupported);
  EXPECT_EQ(Events(), std::vector<std::string>{});  // every answer was its call's
}

TEST_F(StateOnSimulator, ANetworkTimeOutWhileTheModemGoesOnWorking) {
  Start({});
  OpenAndSetUp();
  gsm->SetWaitForPrompt(true);
  std::atomic<bool> done{false};
  TUSSDResult result;
  std::thread caller([&] {
    result = gsm->SendUSSD("*103#", 600);
    done = true;
  });
  ASSERT_TRUE(simulator->WaitForCommand("AT+CUSD=1,\"*103#\"", 5000ms));
  // The port is free while the call waits for the network.
  EXPECT_TRUE(gsm->SendSMSAsPDU("+15550123", "", u"sent meanwhile"));
  EXPECT_EQ(gsm->GetIMEI(), "490154203237518");
  EXPECT_FALSE(done);
  caller.join();
  EXPECT_EQ(result.Status, usNetworkTimeOut);
  ASSERT_EQ(simulator->Submitted().size(), 1u);
  EXPECT_EQ(simulator->Submitted()[0].text, "sent meanwhile");
}

TEST_F(StateOnSimulator, ANetworkInitiatedUssd) {
  Start({});
  OpenAndSetUp();
  simulator->SendUssd(1, "Top up 5 EUR? 1 yes");
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }, 5000));
  EXPECT_EQ(Events(), (std::vector<std::string>{"ussd:1,Top up 5 EUR? 1 yes"}));
  // The session it opened is ended.
  EXPECT_TRUE(gsm->CancelUSSD());
  EXPECT_EQ(simulator->Commands().back(), "AT+CUSD=2");
}

TEST_F(StateOnSimulator, ASendsErrorIsTypedAndClassed) {
  Start({});
  OpenAndSetUp();
  gsm->SetWaitForPrompt(true);
  simulator->FailNextSends(1, "+CMS ERROR: 38");
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550123", "", u"try later"));
  TModemError e = gsm->GetLastModemError();
  EXPECT_EQ(e.Kind, mekCMS);
  EXPECT_EQ(e.Number, 38);
  EXPECT_EQ(e.Text, "Network out of order");
  EXPECT_EQ(e.Line, "+CMS ERROR: 38");
  EXPECT_TRUE(e.IsTemporary());
  simulator->FailNextSends(1, "+CMS ERROR: 21");
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550123", "", u"refused"));
  EXPECT_FALSE(gsm->GetLastModemError().IsTemporary());
  EXPECT_TRUE(gsm->SendSMSAsPDU("+15550123", "", u"fine"));
  EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
}

}  // namespace
}  // namespace vesk
