// The keep-alive and the recovery ladder against scripted modems that stop
// answering in the ways real ones do: a body left open at the prompt, a
// firmware that hangs until DTR drops, one that answers AT but nothing else
// until it is reset, a stick that comes back under another name, and one
// that never comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::FakeModem;
using testing::Journal;
using testing::ModemTest;
using testing::WaitUntil;

constexpr char kIMEI[] = "490154203237518";
constexpr char kOtherIMEI[] = "356938035643809";

std::string StepLetter(THealthStep step) {
  switch (step) {
    case hsAlive: return "A";
    case hsProbeFailed: return "P";
    case hsEscape: return "E";
    case hsReopen: return "O";
    case hsReset: return "R";
    case hsFound: return "F";
    case hsGaveUp: return "G";
  }
  return "?";
}

class Health : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    modem->On("AT+CGSN", std::string("\r\n") + kIMEI + "\r\n\r\nOK\r\n");
    modem->SetHandler([this](FakeModem& m, const std::string& line) { return Fault(m, line); });
    gsm->SetKeepAliveInterval(1);
    gsm->SetKeepAliveTimeout(1);
    gsm->SetResetWait(5);
    gsm->SetAutoReconnectCheckInterval(400);
    gsm->OnHealth = [this](TObject*, THealthStep step, const AnsiString& reason) {
      std::lock_guard<std::mutex> lock(mutex);
      steps += StepLetter(step);
      reasons.push_back(reason);
    };
    journal.Attach(*gsm);
  }

  // What the scripted modem does with a line while a fault is on; true
  // when it has answered (silence included).
  enum class Fault { None, Prompt, Hang, Wedged, Dead };
  bool Fault(FakeModem& m, const std::string& line) {
    switch (fault.load()) {
      case Fault::None: return false;
      case Fault::Prompt:
        // Waits for a body: every line is text until an escape ends it.
        if (m.Written().find('\x1B', mark) == std::string::npos) return true;
        fault = Fault::None;
        return false;
      case Fault::Hang:
        // Silent until the port was opened again after DTR dropped.
        if (m.DtrDrops() > dropsAtFault && platform->Opens() > opensAtFault) {
          fault = Fault::None;
          return false;
        }
        return true;
      case Fault::Wedged:
        // "AT" works; message commands never end, until a reset.
        if (line == "AT+CFUN=1,1") {
          fault = Fault::None;
          return false;
        }
        return line.rfind("AT+CM", 0) == 0 || line.rfind("AT+CPMS", 0) == 0;
      case Fault::Dead: return true;
    }
    return false;
  }
  void Inject(enum Fault f) {
    mark = modem->Written().size();
    dropsAtFault = modem->DtrDrops();
    opensAtFault = platform->Opens();
    fault = f;
  }

  void OpenAndRecord() {
    OpenQuiet();
    ASSERT_TRUE(WaitUntil([&] { return gsm->GetRecordedIMEI() == kIMEI; }));
  }
  std::string Steps() {
    std::lock_guard<std::mutex> lock(mutex);
    return steps;
  }
  bool WaitForSteps(const std::string& s, int ms = 10000) {
    return WaitUntil([&] { return Steps() == s; }, ms);
  }

  std::atomic<enum Fault> fault{Fault::None};
  std::size_t mark = 0;
  int dropsAtFault = 0, opensAtFault = 0;
  std::mutex mutex;
  std::string steps;
  std::vector<AnsiString> reasons;
  Journal journal;
};

// ---------------------------------------------------------------- the keep-alive

TEST_F(Health, AnIdleModemIsAskedAtTheIntervalAndAnsweringIsNoNews) {
  OpenAndRecord();
  std::size_t before = modem->Lines().size();
  ASSERT_TRUE(modem->WaitForLines(before + 3, 5000));
  for (std::size_t i = before; i < before + 3; ++i) EXPECT_EQ(modem->Lines()[i], "AT");
  EXPECT_EQ(Steps(), "");
  EXPECT_EQ(journal.Text(), "C");
}

TEST_F(Health, WithoutAnIntervalNothingIsWrittenWhileIdle) {
  gsm->SetKeepAliveInterval(0);
  OpenQuiet();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // six intervals of 1 s on the fast clock
  EXPECT_TRUE(modem->Lines().empty());
  EXPECT_EQ(gsm->GetRecordedIMEI(), "");
}

TEST_F(Health, CommandsPutTheKeepAliveOff) {
  OpenAndRecord();
  std::size_t before = modem->Lines().size();
  // A command every half interval: the port is never idle for a whole one.
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(gsm->ExecuteATCommand("AT+CSQ", '\r'));
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::vector<std::string> lines = modem->Lines();
  for (std::size_t i = before; i < lines.size(); ++i) EXPECT_EQ(lines[i], "AT+CSQ");
}

// Garbage or ERROR: the interpreter answered. Unsolicited lines alone do
// not prove it works.
TEST_F(Health, ErrorOrGarbageIsLifeUnsolicitedLinesAreNot) {
  modem->On("AT", "\r\nERROR\r\n");
  OpenAndRecord();
  std::size_t before = modem->Lines().size();
  ASSERT_TRUE(modem->WaitForLines(before + 2, 5000));
  modem->On("AT", "\r\n\x7f#?bx\r\n");
  before = modem->Lines().size();
  ASSERT_TRUE(modem->WaitForLines(before + 2, 5000));
  EXPECT_EQ(Steps(), "");

  modem->On("AT", "\r\n+CREG: 1\r\n\r\nRING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return Steps().size() >= 1; }));
  EXPECT_EQ(Steps()[0], 'P');
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(reasons[0], "no answer to the keep-alive within 1 seconds");
}

// ---------------------------------------------------------------- each step cures

TEST_F(Health, ABodyLeftOpenAtThePromptIsEndedByTheEscape) {
  OpenAndRecord();
  Inject(Fault::Prompt);
  ASSERT_TRUE(WaitForSteps("PEA"));
  EXPECT_EQ(fault.load(), Fault::None);
  EXPECT_EQ(journal.Text(), "C");  // the port stayed open
  EXPECT_TRUE(gsm->ExecuteATCommand("AT+CSQ", '\r'));
}

TEST_F(Health, AHangIsCuredByReopeningWithDtrDropped) {
  OpenAndRecord();
  Inject(Fault::Hang);
  ASSERT_TRUE(WaitForSteps("PEOA"));
  EXPECT_GT(modem->DtrDrops(), dropsAtFault);
  EXPECT_EQ(gsm->IsConnected(), spCOM3);
  // Closed once and opened again, then set up.
  EXPECT_EQ(journal.Text(), "CDC");
  std::vector<std::string> lines = modem->Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "AT+CLIP=1;+CRC=1"), lines.end());
  EXPECT_TRUE(gsm->ExecuteATCommand("AT+CSQ", '\r'));
}

TEST_F(Health, AModemThatAnswersOnlyAtIsResetAfterTwoCommandsTimeOut) {
  OpenAndRecord();
  Inject(Fault::Wedged);
  // "AT" still answers: the keep-alive is content. Two commands that get
  // nothing are the trigger.
  EXPECT_EQ(gsm->ExecuteATCommand("AT+CPMS?", nullptr, 1, '\r'), 0);
  EXPECT_EQ(gsm->ExecuteATCommand("AT+CMGL=4", nullptr, 1, '\r'), 0);
  ASSERT_TRUE(WaitForSteps("PEORA"));
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(reasons[0], "two commands in a row got no final answer");
    EXPECT_EQ(reasons[3], "AT+CFUN=1,1");
  }
  EXPECT_EQ(fault.load(), Fault::None);
  EXPECT_EQ(gsm->IsConnected(), spCOM3);
  EXPECT_TRUE(gsm->ExecuteATCommand("AT+CMGF?", '\r'));
}

TEST_F(Health, OneTimeOutAloneIsNoTrigger) {
  OpenAndRecord();
  Inject(Fault::Wedged);
  EXPECT_EQ(gsm->ExecuteATCommand("AT+CPMS?", nullptr, 1, '\r'), 0);
  fault = Fault::None;
  EXPECT_TRUE(gsm->ExecuteATCommand("AT+CPMS?", '\r'));
  Inject(Fault::Wedged);
  EXPECT_EQ(gsm->ExecuteATCommand("AT+CPMS?", nullptr, 1, '\r'), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Steps(), "");
}

TEST_F(Health, AStickThatComesBackUnderAnotherNameIsFoundByItsIMEI) {
  gsm->SetResetCommand("");  // step 3 skipped
  // Another modem, another IMEI: never opened. And a third port that a
  // second component holds: never probed.
  std::shared_ptr<FakeModem> stranger = platform->Add("COM5");
  stranger->SetDefaultReply("\r\nOK\r\n");
  stranger->On("AT+CGSN", std::string("\r\n") + kOtherIMEI + "\r\n\r\nOK\r\n");
  std::shared_ptr<FakeModem> held = platform->Add("COM6");
  held->SetDefaultReply("\r\nOK\r\n");
  held->On("AT+CGSN", std::string("\r\n") + kIMEI + "\r\n\r\nOK\r\n");
  TVeskGSM other;
  other.SetSerialPlatform(platform);
  other.SetPort(spCOM6);
  ASSERT_TRUE(other.Open(true));

  OpenAndRecord();
  Inject(Fault::Dead);
  std::shared_ptr<FakeModem> again = platform->Add("COM9");
  again->SetDefaultReply("\r\nOK\r\n");
  again->On("AT+CGSN", std::string("\r\n") + kIMEI + "\r\n\r\nOK\r\n");

  ASSERT_TRUE(WaitForSteps("PEOFA"));
  EXPECT_EQ(gsm->IsConnected(), spCOM9);
  EXPECT_EQ(gsm->GetPort(), spCOM9);
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(reasons[3], AnsiString("IMEI ") + kIMEI + " answered on COM9");
  }
  EXPECT_EQ(platform->OpenAttempts("COM6"), 1);  // only the other component's own open
  EXPECT_FALSE(stranger->IsOpen());
  // The set-up ran on the new port.
  EXPECT_TRUE(again->WaitForLines(4, 5000));
  EXPECT_TRUE(gsm->ExecuteATCommand("AT+CSQ", '\r'));
  EXPECT_EQ(journal.Text(), "CDCDC");  // the reopen, then the new port
}

// ---------------------------------------------------------------- never cured

TEST_F(Health, AModemNeverCuredIsTriedAgainAtTheIntervalAndCloseEndsIt) {
  OpenAndRecord();
  Inject(Fault::Dead);
  // Steps 2 to 4 again and again (step 3 not taken: the reset is not answered).
  ASSERT_TRUE(WaitUntil([&] { return Steps().size() >= 9; }));
  EXPECT_EQ(Steps().substr(0, 9), "PEORGORGO");
  EXPECT_TRUE(gsm->GetRecovering());
  // Meanwhile commands fail at once.
  auto start = std::chrono::steady_clock::now();
  bool refused = false;
  try {
    gsm->ExecuteATCommand("AT+CSQ", '\r');
  } catch (const EVeskGSMException&) {
    refused = true;
  }
  EXPECT_TRUE(refused);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

  start = std::chrono::steady_clock::now();
  gsm->Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  const std::string after = Steps();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Steps(), after);
  EXPECT_EQ(gsm->IsConnected(), spNone);
  EXPECT_FALSE(gsm->GetRecovering());
  // Every connection the ladder made ended once.
  const std::string events = journal.Text();
  ASSERT_FALSE(events.empty());
  for (std::size_t i = 0; i < events.size(); ++i) EXPECT_EQ(events[i], i % 2 == 0 ? 'C' : 'D') << events;
  EXPECT_EQ(events.back(), 'D');
}

TEST_F(Health, DestroyingTheComponentEndsTheLadder) {
  OpenAndRecord();
  Inject(Fault::Dead);
  ASSERT_TRUE(WaitUntil([&] { return Steps().size() >= 4; }));
  auto start = std::chrono::steady_clock::now();
  gsm.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

TEST_F(Health, TheApplicationCanOpenAgainAfterClosingDuringTheLadder) {
  OpenAndRecord();
  Inject(Fault::Dead);
  ASSERT_TRUE(WaitUntil([&] { return Steps().size() >= 3; }));
  gsm->Close();
  fault = Fault::None;
  const std::size_t before = Steps().size();
  ASSERT_TRUE(gsm->Open(true));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Steps().size(), before);  // the old ladder does not come back
  EXPECT_TRUE(gsm->ExecuteATCommand("AT+CSQ", '\r'));
}

// ---------------------------------------------------------------- AutoReconnect

TEST_F(Health, AutoReconnectFindsAnUnpluggedStickUnderItsNewName) {
  gsm->SetKeepAliveInterval(0);
  gsm->SetAutoReconnect(true);
  OpenAndRecord();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  std::shared_ptr<FakeModem> again = platform->Add("COM8");
  again->SetDefaultReply("\r\nOK\r\n");
  again->On("AT+CGSN", std::string("\r\n") + kIMEI + "\r\n\r\nOK\r\n");
  ASSERT_TRUE(WaitForSteps("F"));
  EXPECT_EQ(gsm->IsConnected(), spCOM8);
  EXPECT_EQ(journal.Text(), "CFDC");
}

TEST_F(Health, AutoReconnectWithoutReattachWaitsForTheSameName) {
  gsm->SetKeepAliveInterval(0);
  gsm->SetAutoReconnect(true);
  gsm->SetReattachByIMEI(false);
  OpenQuiet();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  std::shared_ptr<FakeModem> again = platform->Add("COM8");
  again->SetDefaultReply("\r\nOK\r\n");
  again->On("AT+CGSN", std::string("\r\n") + kIMEI + "\r\n\r\nOK\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(gsm->IsConnected(), spNone);
  EXPECT_FALSE(again->IsOpen());
}

// ---------------------------------------------------------------- names

TEST(HealthStepNames, RoundTrip) {
  for (THealthStep s : {hsAlive, hsProbeFailed, hsEscape, hsReopen, hsReset, hsFound, hsGaveUp}) {
    THealthStep back = hsAlive;
    ASSERT_TRUE(EnumFromName(EnumName(s), back));
    EXPECT_EQ(back, s);
  }
  THealthStep v = hsReset;
  EXPECT_FALSE(EnumFromName("hsUnknown", v));
  EXPECT_EQ(v, hsReset);
}

}  // namespace
}  // namespace vesk
