// The whole component over the real POSIX backend: a pseudo-terminal with a
// small scripted modem on its master side.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/Fixtures.h"
#include "support/Pty.h"

namespace vesk {
namespace {

using testing::Pty;
using testing::WaitUntil;

// Answers each command line it reads: "+CSQ: 21,99" and OK to AT+CSQ, OK
// to anything else. Stops when told, or when the line goes away.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(Pty& pty) : pty_(pty), thread_([this] { Run(); }) {}
  ~ScriptedPeer() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  void Run() {
    std::string pending;
    while (!stop_) {
      std::string got = pty_.Read(20);
      for (char c : got) {
        if (c != '\r') {
          pending += c;
          continue;
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          lines_.push_back(pending);
        }
        pty_.Write(pending == "AT+CSQ" ? "\r\n+CSQ: 21,99\r\n\r\nOK\r\n" : "\r\nOK\r\n");
        pending.clear();
      }
    }
  }
  Pty& pty_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::thread thread_;
};

class OverPty : public testing::FastClockTest {};

TEST_F(OverPty, CommandsRunAndAVanishingPortIsReported) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  ScriptedPeer peer(pty);
  testing::TestGSM gsm;
  gsm.SetCustomPortName(pty.Path());
  gsm.SetBaudRate(br115200);
  std::atomic<int> faults{0}, disconnects{0};
  gsm.OnFault = [&](TObject*, TCommPort port) { faults += port == spCustom; };
  gsm.OnDisconnect = [&](TObject*, TCommPort) { ++disconnects; };

  ASSERT_TRUE(gsm.Open(false));  // with the modem set-up
  EXPECT_EQ(gsm.IsConnected(), spCustom);
  ASSERT_TRUE(WaitUntil([&] { return gsm.IsSetUp(); }));
  TStringList answer;
  EXPECT_EQ(gsm.ExecuteATCommand("AT+CSQ", &answer, 15, '\r'), 2);
  EXPECT_EQ(answer[0], u"+CSQ: 21,99");
  EXPECT_TRUE(gsm.ExecuteATCommand("AT", '\r'));
  std::vector<std::string> lines = peer.Lines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "AT+CLIP=1;+CRC=1");
  EXPECT_EQ(lines[3], "ATE0");
  EXPECT_EQ(lines[lines.size() - 2], "AT+CSQ");

  // The modem side goes away, and with it the device path.
  peer.Stop();
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return gsm.IsConnected() == spNone; }));
  EXPECT_EQ(faults, 1);
  EXPECT_EQ(disconnects, 1);
  EXPECT_TRUE(gsm.GetIsFaulted());
  EXPECT_FALSE(gsm.Open(true));  // the port is no longer there
}

TEST_F(OverPty, AHangUpIsALossEvenWithoutLookingAtThePortList) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  testing::TestGSM gsm;
  gsm.SetCustomPortName(pty.Path());
  // Below MinCheckDisconnectedInterval: the reader never looks at the list
  // of ports, so only the hung-up device can tell it the line is gone.
  gsm.SetDelay(40);
  std::atomic<int> faults{0}, disconnects{0};
  gsm.OnFault = [&](TObject*, TCommPort) { ++faults; };
  gsm.OnDisconnect = [&](TObject*, TCommPort) { ++disconnects; };
  ASSERT_TRUE(gsm.Open(true));
  pty.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return gsm.IsConnected() == spNone; }, 3000));
  EXPECT_EQ(faults, 1);
  EXPECT_EQ(disconnects, 1);
}

TEST_F(OverPty, ASecondComponentCannotTakeAnOpenPort) {
  Pty pty;
  ASSERT_TRUE(pty.Ok());
  testing::TestGSM first, second;
  first.SetCustomPortName(pty.Path());
  second.SetCustomPortName(pty.Path());
  ASSERT_TRUE(first.Open(true));
  try {
    second.Open(true);
    FAIL() << "the second open succeeded";
  } catch (const EVeskGSMException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot connect to " + pty.Path() + " . ", 0), 0u) << e.what();
  }
  first.Close();
  EXPECT_TRUE(second.Open(true));
}

}  // namespace
}  // namespace vesk
