// The keep-alive and the recovery ladder against the modem simulator's
// faults: a modem that hangs, one wedged until it is reset, one stuck at
// the prompt, and a stick that comes back under another path; each is
// cured by itself, and a message sent afterwards reaches the network.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "support/SimulatorFixture.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using testing::WaitUntil;

char Letter(THealthStep step) { return "APEORFG"[step]; }

// Slower than the other end-to-end tests: the simulator's restart and
// replug take real time, which the ladder's clock waits must cover.
constexpr double kHealthClockSpeed = 5;

class HealthOnSimulator : public testing::SimulatorTest {
 protected:
  HealthOnSimulator() : SimulatorTest(kHealthClockSpeed) {}

  void Watch(TVeskGSM& g) {
    g.SetKeepAliveInterval(2);
    g.SetKeepAliveTimeout(2);
    g.OnHealth = [this](TObject*, THealthStep step, const AnsiString& reason) {
      std::lock_guard<std::mutex> lock(mutex_);
      steps_ += Letter(step);
      reasons_.push_back(reason);
    };
  }
  void StartWatched(sim::ModemConfig config = {}) {
    StartSimulator(std::move(config));
    journal.Attach(*gsm);
    Watch(*gsm);
    OpenAndSetUp();
    ASSERT_TRUE(WaitUntil([&] { return !gsm->GetRecordedIMEI().empty(); }, 10000));
  }
  std::string Steps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return steps_;
  }
  bool StepsEndIn(char last, int ms = 30000) {
    return WaitUntil([&] { return !Steps().empty() && Steps().back() == last; }, ms);
  }
  // A message after the cure goes through.
  void SendsAgain(std::size_t already = 0) {
    ASSERT_TRUE(WaitUntil([&] { return !gsm->GetRecovering() && gsm->IsSetUp(); }, 10000));
    ASSERT_TRUE(gsm->SendSMSAsPDU("+15550123", "", u"back again", meAuto, false)) << gsm->GetLastSendError();
    ASSERT_TRUE(simulator->WaitForSubmitted(already + 1, 5000ms));
  }

  testing::Journal journal;
  std::mutex mutex_;
  std::string steps_;
  std::vector<AnsiString> reasons_;
};

TEST_F(HealthOnSimulator, AHangIsCuredByReopeningThePort) {
  StartWatched();
  simulator->Hang();
  ASSERT_TRUE(StepsEndIn('A')) << Steps();
  EXPECT_EQ(Steps(), "PEOA");
  EXPECT_FALSE(simulator->IsHung());
  EXPECT_EQ(journal.Text(), "CDC");
  SendsAgain();
}

TEST_F(HealthOnSimulator, AWedgedModemIsResetAfterASendGetsNoAnswer) {
  StartWatched();
  simulator->Wedge(1500ms);
  // "AT" still answers: only the send finds out.
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550123", "", u"lost", meAuto, false));
  ASSERT_TRUE(StepsEndIn('A', 60000)) << Steps();
  EXPECT_EQ(Steps(), "PEORA");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_EQ(reasons_[0], "a send got no final answer");
  }
  EXPECT_FALSE(simulator->IsWedged());
  SendsAgain();
}

TEST_F(HealthOnSimulator, ABodyLeftOpenAtThePromptIsEndedByTheEscape) {
  StartWatched();
  simulator->StickAtPrompt();
  ASSERT_TRUE(StepsEndIn('A')) << Steps();
  EXPECT_EQ(Steps(), "PEA");
  EXPECT_EQ(journal.Text(), "C");
  SendsAgain();
}

// The modem sticks while the set-up still runs: its commands and the
// keep-alive both find no answer, and one escape cures both.
TEST_F(HealthOnSimulator, APromptLeftOpenDuringTheSetUpIsCuredOnce) {
  StartSimulator();
  journal.Attach(*gsm);
  Watch(*gsm);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(simulator->WaitForCommand("AT+CUSD=1", 10000ms));
  simulator->StickAtPrompt();
  ASSERT_TRUE(StepsEndIn('A')) << Steps();
  // Whatever was still to come is given its time, then the steps are read.
  std::this_thread::sleep_for(3000ms);
  EXPECT_EQ(Steps(), "PEA") << simulator->TranscriptText();
  SendsAgain();
}

TEST_F(HealthOnSimulator, AStickReplugedUnderAnotherPathIsFoundByItsIMEI) {
  StartWatched();
  gsm->SetAutoReconnect(true);
  gsm->SetAutoReconnectCheckInterval(1000);
  const std::string moved = simulator->Path() + ".moved";
  // Pseudo-terminals are never listed: the application names the candidates.
  gsm->SetReattachPorts(AnsiString(simulator->Path()) + "," + moved);
  simulator->ReplugAs(moved, 500ms);
  ASSERT_TRUE(StepsEndIn('F')) << Steps();
  EXPECT_EQ(gsm->GetCustomPortName(), moved);
  EXPECT_EQ(gsm->IsConnected(), spCustom);
  SendsAgain();
  ::unlink(moved.c_str());
}

// Two modems swap paths (unplugged and plugged back the other way round):
// each component finds its own modem again, by its IMEI.
TEST_F(HealthOnSimulator, TwoModemsSwappedAreEachFoundByTheirOwnComponent) {
  sim::ModemConfig a, b;
  a.imei = "490154203237518";
  b.imei = "356938035643809";
  StartSimulator(a);
  auto other = std::make_unique<sim::ModemSimulator>(b);
  const std::string pathA = simulator->Path(), pathB = other->Path();
  auto second = std::make_unique<testing::TestGSM>();
  second->SetCustomPortName(pathB);
  second->SetBaudRate(br115200);
  for (TVeskGSM* g : {static_cast<TVeskGSM*>(gsm.get()), static_cast<TVeskGSM*>(second.get())}) {
    g->SetAutoReconnect(true);
    g->SetAutoReconnectCheckInterval(1000);
    g->SetReattachPorts(AnsiString(pathA) + "," + pathB);
  }
  std::atomic<int> foundA{0}, foundB{0};
  gsm->OnHealth = [&](TObject*, THealthStep s, const AnsiString&) { foundA += s == hsFound; };
  second->OnHealth = [&](TObject*, THealthStep s, const AnsiString&) { foundB += s == hsFound; };
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(second->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->GetRecordedIMEI() == a.imei.c_str(); }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return second->GetRecordedIMEI() == b.imei.c_str(); }, 10000));

  simulator->ReplugAs(pathB, 800ms);
  other->ReplugAs(pathA, 800ms);
  ASSERT_TRUE(WaitUntil([&] { return foundA == 1 && foundB == 1; }, 30000));
  EXPECT_EQ(gsm->GetCustomPortName(), pathB);
  EXPECT_EQ(second->GetCustomPortName(), pathA);
  // Each talks to its own modem: the message goes to the right one.
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp() && second->IsSetUp(); }, 10000));
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550123", "", u"from A", meAuto, false)) << gsm->GetLastSendError();
  EXPECT_TRUE(simulator->WaitForSubmitted(1, 5000ms));
  EXPECT_TRUE(other->Submitted().empty());
  second.reset();
  other.reset();
}

}  // namespace
}  // namespace vesk
