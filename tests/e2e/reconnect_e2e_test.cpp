// Reconnection against the modem simulator: the modem is unplugged while the
// component has it open, plugged back under the same path a while later,
// and the component comes back by itself and hears it again.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "support/SimulatorFixture.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using testing::WaitUntil;

class ReconnectOnSimulator : public testing::SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    StartSimulator();
    journal.Attach(*gsm);
    RecordReceived();
  }

  testing::Journal journal;
};

TEST_F(ReconnectOnSimulator, AModemPluggedBackIsReopenedAndHeardAgain) {
  gsm->SetAutoReconnect(true);
  gsm->SetAutoReconnectCheckInterval(4000);
  // The test reads the announced message itself, so that no automatic read
  // competes with its command for the answer.
  gsm->SetAutoReadNewMessage(false);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  ASSERT_EQ(journal.connects, 1);

  simulator->Unplug();
  ASSERT_TRUE(WaitUntil([&] { return journal.faults == 1 && journal.disconnects == 1 && gsm->IsConnected() == spNone; }));
  EXPECT_TRUE(gsm->GetIsFaulted());
  // Gone for a while: several reconnection intervals pass without a connection.
  std::this_thread::sleep_for(GetClock()->RealDuration(3 * 4000));
  EXPECT_EQ(journal.connects, 1);
  EXPECT_EQ(gsm->IsConnected(), spNone);

  ForgetReceivedText();
  simulator->Plug();
  ASSERT_TRUE(WaitUntil([&] { return journal.connects == 2 && gsm->IsConnected() != spNone; }, 10000));
  EXPECT_FALSE(gsm->GetIsFaulted());
  EXPECT_EQ(journal.faults, 1);
  // Reopened with the modem set-up, which the fresh modem needs to announce
  // new messages at all.
  ASSERT_TRUE(simulator->WaitForCommand("AT+CNMI=2,1,0,0,0", 5000ms, 2));
  ASSERT_TRUE(simulator->WaitForCommand("ATE0", 5000ms, 2));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp() && !gsm->PauseFlag(); }));

  // A message sent after the return is announced to the component...
  sim::IncomingSms sms;
  sms.text = "back on the line";
  auto parts = simulator->DeliverSms(sms);
  ASSERT_EQ(parts.size(), 1u);
  ASSERT_TRUE(WaitUntil([&] {
    return ReceivedText().find("+CMTI: \"SM\"," + std::to_string(parts[0].index)) != AnsiString::npos;
  }));
  // ...and reads back whole over the new connection.
  TStringList lines;
  ASSERT_EQ(gsm->ExecuteATCommand("AT+CMGR=" + IntToStr(parts[0].index), &lines, 15, '\r'), 3);
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0;
  bool skip = true;
  EXPECT_EQ(gsm->PDUSMSToString(WideToAnsi(lines[1]), phone, centre, stamp, zone, skip), u"back on the line");
  EXPECT_FALSE(skip);
}

TEST_F(ReconnectOnSimulator, WithoutAutoReconnectTheModemStaysClosed) {
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  simulator->Unplug();
  ASSERT_TRUE(WaitUntil([&] { return journal.faults == 1 && gsm->IsConnected() == spNone; }));
  simulator->Plug();
  std::this_thread::sleep_for(GetClock()->RealDuration(3 * 4000));
  EXPECT_EQ(journal.connects, 1);
  EXPECT_EQ(gsm->IsConnected(), spNone);
  // The application opens it again itself.
  ASSERT_TRUE(gsm->Open(true));
  EXPECT_TRUE(gsm->ExecuteATCommand("AT"));
}

}  // namespace
}  // namespace vesk
