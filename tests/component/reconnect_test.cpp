// Reopening a port that went away, by itself, once the system lists it again.
#include <gtest/gtest.h>

#include <atomic>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::ModemTest;
using testing::WaitUntil;

class Reconnect : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    gsm->SetAutoReconnectCheckInterval(400);
    gsm->OnConnect = [this](TObject*, TCommPort) {
      ++connects;
      connectOnMain = IsMainThread();
    };
    gsm->OnFault = [this](TObject*, TCommPort) { ++faults; };
  }
  std::atomic<int> connects{0}, faults{0};
  std::atomic<bool> connectOnMain{true};
};

TEST_F(Reconnect, APluggedBackModemIsReopenedAndSetUpAgain) {
  gsm->SetAutoReconnect(true);
  OpenQuiet();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_TRUE(gsm->GetIsFaulted());
  std::size_t before = modem->Lines().size();
  modem->Replug();
  ASSERT_TRUE(WaitUntil([&] { return connects == 2 && gsm->IsConnected() == spCOM3; }));
  EXPECT_FALSE(connectOnMain);  // raised on the reconnect thread
  EXPECT_FALSE(gsm->GetIsFaulted());
  // Reopened without skipInit: the modem is set up again.
  EXPECT_TRUE(modem->WaitForLines(before + 4, 5000));
  EXPECT_EQ(modem->Lines()[before], "AT+CLIP=1;+CRC=1");
  EXPECT_EQ(faults, 1);
}

TEST_F(Reconnect, WithoutAutoReconnectAFaultStaysClosed) {
  OpenQuiet();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  modem->Replug();
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * 400 / static_cast<int>(testing::kClockSpeed) + 50));
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(gsm->IsConnected(), spNone);
}

TEST_F(Reconnect, SwitchingAutoReconnectOffEndsTheWait) {
  gsm->SetAutoReconnect(true);
  OpenQuiet();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  gsm->SetAutoReconnect(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * 400 / static_cast<int>(testing::kClockSpeed) + 20));
  modem->Replug();
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * 400 / static_cast<int>(testing::kClockSpeed) + 50));
  EXPECT_EQ(connects, 1);
}

TEST_F(Reconnect, TheApplicationReopeningItselfEndsTheThread) {
  gsm->SetAutoReconnect(true);
  gsm->SetAutoReconnectCheckInterval(60000);  // it would wait a minute
  OpenQuiet();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  modem->Replug();
  ASSERT_TRUE(gsm->Open(true));
  EXPECT_FALSE(gsm->GetIsFaulted());
  // A second fault starts a new reconnect thread: the first one is gone.
  gsm->SetAutoReconnectCheckInterval(400);
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  modem->Replug();
  EXPECT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spCOM3; }));
}

TEST_F(Reconnect, DestroyingTheComponentStopsAWaitingReconnectThread) {
  gsm->SetAutoReconnect(true);
  gsm->SetAutoReconnectCheckInterval(600000);  // ten minutes
  OpenQuiet();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  auto start = std::chrono::steady_clock::now();
  gsm.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace vesk
