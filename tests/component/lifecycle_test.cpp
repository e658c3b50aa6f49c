// The connection's life: opening, losing and closing a port, reconnecting,
// and destroying the component at awkward moments. Each case is a fault a
// user met once: a reconnection that gave up, a Close that hung, events
// twice or in the wrong order, a destroyed component still in use.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "port/Connection.h"
#include "support/Fixtures.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using testing::FakeModem;
using testing::Journal;
using testing::FakeSerialPlatform;
using testing::ModemTest;
using testing::TestGSM;
using testing::WaitUntil;
using Steady = std::chrono::steady_clock;

double SecondsSince(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

// One cycle's events, once its component is gone: as many disconnects as
// connects after a Close (no more than connects after destruction alone),
// never two connects or two disconnects in a row, never a fault outside a
// connection.
void ExpectEventsInOrder(Journal& events, bool closedFirst) {
  const std::string text = events.Text();
  if (closedFirst) {
    EXPECT_EQ(events.connects, events.disconnects) << text;
  } else {
    EXPECT_LE(events.disconnects, events.connects) << text;
  }
  char last = 'D';
  for (char c : text) {
    if (c == 'C') {
      EXPECT_EQ(last, 'D') << text;
    } else if (c == 'F') {
      EXPECT_EQ(last, 'C') << text;
    } else {
      EXPECT_NE(last, 'D') << text;
    }
    last = c;
  }
}

class Lifecycle : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    journal.Attach(*gsm);
    gsm->SetAutoReconnectCheckInterval(200);
  }
  // Runs the clock at its real speed, for cases that measure how long a
  // wait lasts against the modem dialogue's real time-outs.
  static void RealTime() { SetClock(nullptr); }

  Journal journal;
};

// ---------------------------------------------------------------- losing the port

TEST_F(Lifecycle, AReopenRefusedForAWhileIsRetriedUntilItSucceeds) {
  gsm->SetAutoReconnect(true);
  OpenQuiet();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  // Back in the list, but still busy while it settles (as a USB modem is).
  platform->SetOpenError("COM3", EBUSY);
  modem->Replug();
  std::this_thread::sleep_for(std::chrono::milliseconds(5 * 200 / static_cast<int>(testing::kClockSpeed)));
  EXPECT_EQ(journal.connects, 1);
  platform->SetOpenError("COM3", EACCES);
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * 200 / static_cast<int>(testing::kClockSpeed)));
  EXPECT_EQ(journal.connects, 1);
  platform->SetOpenError("COM3", 0);
  ASSERT_TRUE(WaitUntil([&] { return journal.connects == 2 && gsm->IsConnected() == spCOM3; }));
  EXPECT_EQ(journal.Text(), "CFDC");
}

TEST_F(Lifecycle, APortWithItsLinesUpIsLostOnceFaultThenDisconnect) {
  modem->SetLines(kModemCTS | kModemDSR | kModemRLSD);
  OpenQuiet();
  ASSERT_TRUE(WaitUntil([&] { return !gsm->LastLineStatus().Empty(); }));
  modem->Vanish();  // the lines fall and every call fails at once
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(journal.Text(), "CFD");
  EXPECT_TRUE(gsm->GetIsFaulted());
}

TEST_F(Lifecycle, AHungUpLineWhoseNodeStaysIsReportedLost) {
  OpenQuiet();
  modem->HangUp();  // still listed; the open device is dead
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(journal.Text(), "CFD");
  EXPECT_TRUE(gsm->GetIsFaulted());
  EXPECT_THROW(gsm->ExecuteATCommand("AT", '\r'), EVeskGSMException);
  // Nothing stands in the way of opening it again.
  EXPECT_TRUE(gsm->Open(true));
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
}

TEST_F(Lifecycle, AFailingCommandRevealsTheLossAtOnce) {
  gsm->SetDelay(100000);  // the reader would not look for a long time
  OpenQuiet();
  modem->HangUp();
  EXPECT_THROW(gsm->SendString("AT\r"), EVeskGSMException);
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }, 2000));
  EXPECT_EQ(journal.Text(), "CFD");
}

TEST_F(Lifecycle, AModemLostDuringItsSetUpIsAFaultAndReconnects) {
  modem->SetDefaultReply("");  // silent: the set-up waits for answers
  gsm->SetAutoReconnect(true);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(modem->WaitForLines(1, 2000));
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return journal.disconnects == 1; }));
  EXPECT_EQ(journal.Text(), "CFD");
  EXPECT_TRUE(gsm->GetIsFaulted());
  modem->SetDefaultReply("\r\nOK\r\n");
  modem->Replug();
  ASSERT_TRUE(WaitUntil([&] { return journal.connects == 2; }));
  EXPECT_FALSE(gsm->GetIsFaulted());
}

// ---------------------------------------------------------------- Close and waits

TEST_F(Lifecycle, CloseInterruptsTheSetUpOfASilentModem) {
  RealTime();  // the set-up would take over a minute
  modem->SetDefaultReply("");
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(modem->WaitForLines(1, 2000));
  auto start = Steady::now();
  gsm->Close();
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_EQ(gsm->IsConnected(), spNone);
  EXPECT_EQ(journal.Text(), "CD");
  // And a new Open is possible at once.
  modem->SetDefaultReply("\r\nOK\r\n");
  start = Steady::now();
  ASSERT_TRUE(gsm->Open(true));
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
  EXPECT_LT(SecondsSince(start), 2.0);
}

TEST_F(Lifecycle, DestroyingDuringTheSetUpOfASilentModemReturnsPromptly) {
  RealTime();
  modem->SetDefaultReply("");
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(modem->WaitForLines(1, 2000));
  auto start = Steady::now();
  gsm.reset();
  EXPECT_LT(SecondsSince(start), 2.5);
  EXPECT_TRUE(WaitUntil([&] { return !modem->IsOpen(); }, 2000));
  EXPECT_EQ(journal.Text(), "C");  // destruction raises no OnDisconnect
}

TEST_F(Lifecycle, ACommandWaitingForASilentModemEndsWhenThePortCloses) {
  RealTime();
  OpenQuiet();
  modem->SetDefaultReply("");
  std::atomic<bool> done{false};
  std::atomic<int> lines{-1};
  std::thread worker([&] {
    TStringList answer;
    try {
      lines = gsm->ExecuteATCommand("AT+CSQ", &answer, 15, '\r');
    } catch (const EVeskGSMException&) {
      lines = -2;
    }
    done = true;
  });
  ASSERT_TRUE(modem->WaitForLines(1, 2000));
  auto start = Steady::now();
  gsm->Close();
  ASSERT_TRUE(WaitUntil([&] { return done.load(); }, 2000));
  EXPECT_LT(SecondsSince(start), 2.0);
  worker.join();
  EXPECT_EQ(lines, 0);  // no answer: nothing came
}

TEST_F(Lifecycle, ATimeOutOfZeroReturnsAtOnceWithWhatHasArrived) {
  RealTime();
  OpenQuiet();
  PauseReader();
  modem->SetDefaultReply("");
  TStringList answer;
  auto start = Steady::now();
  EXPECT_EQ(gsm->ExecuteATCommand("AT", &answer, 0, '\r'), 0);
  EXPECT_LT(SecondsSince(start), 1.0);
  modem->Push("\r\nOK\r\n");
  EXPECT_EQ(gsm->ReadStringUpToEndChars("OK", "ERROR", -1), "\r\nOK");
}

// A calendar clock that jumps a day ahead at every reading, as when the
// system time is set; waits keep their length all the same.
class JumpingClock : public Clock {
 public:
  TDateTime Now() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return day_ += 1.0;
  }
  std::chrono::nanoseconds RealDuration(double ms) override {
    return std::chrono::nanoseconds(static_cast<long long>(ms * 1e6 / testing::kClockSpeed));
  }

 private:
  std::mutex mutex_;
  TDateTime day_ = 45000;
};

TEST_F(Lifecycle, WaitsAreMeasuredOnAMonotonicClock) {
  OpenQuiet();
  PauseReader();
  SetClock(std::make_shared<JumpingClock>());
  modem->SetDefaultReply("");
  auto start = Steady::now();
  EXPECT_EQ(gsm->ReadStringUpToEndChars("OK", "ERROR", 2), "");
  // 2 s of the test clock are 100 ms: the jumps of the calendar did not
  // end the wait early.
  EXPECT_GE(SecondsSince(start), 0.09);
  start = Steady::now();
  gsm->Close();
  EXPECT_LT(SecondsSince(start), 2.0);
}

// Counts the polls a reader makes.
class CountingPlatform : public SerialPlatform {
 public:
  explicit CountingPlatform(std::shared_ptr<FakeSerialPlatform> inner) : inner_(std::move(inner)) {}
  class Device : public SerialDevice {
   public:
    Device(std::unique_ptr<SerialDevice> d, std::atomic<int>& polls) : d_(std::move(d)), polls_(polls) {}
    bool SetLineSettings(const TLineSettings& s) noexcept override { return d_->SetLineSettings(s); }
    bool SetTimeOuts(const TTimeOuts& t) noexcept override { return d_->SetTimeOuts(t); }
    bool SetQueueSizes(std::uint32_t i, std::uint32_t o) noexcept override { return d_->SetQueueSizes(i, o); }
    bool QueuedInput(std::uint32_t& e, std::uint32_t& c) noexcept override {
      ++polls_;
      return d_->QueuedInput(e, c);
    }
    bool Read(void* b, std::uint32_t c, std::uint32_t& r) noexcept override { return d_->Read(b, c, r); }
    bool Write(const void* b, std::uint32_t c, std::uint32_t& w) noexcept override { return d_->Write(b, c, w); }
    bool Purge(std::uint32_t f) noexcept override { return d_->Purge(f); }
    bool ModemStatus(std::uint32_t& l) noexcept override { return d_->ModemStatus(l); }
    TDeviceEvent Wait(int ms) noexcept override { return d_->Wait(ms); }
    void Wake() noexcept override { d_->Wake(); }
    void Nudge() noexcept override { d_->Nudge(); }
    void Close() noexcept override { d_->Close(); }
    int LastError() const noexcept override { return d_->LastError(); }

   private:
    std::unique_ptr<SerialDevice> d_;
    std::atomic<int>& polls_;
  };
  std::unique_ptr<SerialDevice> Open(const AnsiString& name, int& error) noexcept override {
    auto d = inner_->Open(name, error);
    return d ? std::make_unique<Device>(std::move(d), polls) : nullptr;
  }
  std::vector<AnsiString> PortNames() noexcept override { return inner_->PortNames(); }
  bool IsPresentDevice(const AnsiString& n) noexcept override { return inner_->IsPresentDevice(n); }
  bool CaseSensitiveNames() const noexcept override { return inner_->CaseSensitiveNames(); }
  AnsiString ErrorText(int e) noexcept override { return inner_->ErrorText(e); }

  std::atomic<int> polls{0};

 private:
  std::shared_ptr<FakeSerialPlatform> inner_;
};

TEST_F(Lifecycle, WithNoIntervalTheReaderWaitsForInputInsteadOfSpinning) {
  auto counting = std::make_shared<CountingPlatform>(platform);
  gsm->SetSerialPlatform(counting);
  gsm->SetDelay(0);
  std::atomic<int> received{0};
  gsm->OnReceive = [&](TObject*, const AnsiString&) { ++received; };
  OpenQuiet();
  int before = counting->polls;
  std::this_thread::sleep_for(500ms);
  // A spinning reader polls many thousand times in half a second; one that
  // waits on the port wakes a few times to look at its state.
  EXPECT_LT(counting->polls - before, 40);
  modem->Push("\r\nRING\r\n");
  EXPECT_TRUE(WaitUntil([&] { return received > 0; }, 1000));
}

// ---------------------------------------------------------------- sharing the port

TEST_F(Lifecycle, WhileASynchronizedHandlerReadsThePortTheReaderStaysOff) {
  gsm->SetNeedSynchronization(true);
  AnsiString handlerGot;
  std::atomic<int> calls{0};
  gsm->OnReceive = [&](TObject*, const AnsiString&) {
    if (calls++ != 0) return;
    std::thread late([this] {
      std::this_thread::sleep_for(100ms);
      modem->Push("\r\n+CSQ: 23,0\r\n\r\nOK\r\n");
    });
    handlerGot = gsm->ReadStringUpToEndChars("OK", "ERROR", 30);
    late.join();
  };
  OpenQuiet();
  modem->Push("\r\nRING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return !handlerGot.empty(); }));
  EXPECT_EQ(handlerGot, "\r\n+CSQ: 23,0\r\n\r\nOK");
}

TEST_F(Lifecycle, OpenOnTheMainThreadNeverWaitsOnAReconnectWaitingForIt) {
  gsm->SetAutoReconnect(true);
  // A handler on the reconnect thread that needs the main thread, as a
  // window-based application's does.
  gsm->OnConnect = [this](TObject*, TCommPort) {
    if (!IsMainThread()) TThread::Synchronize([] {});
    journal.Note('C', journal.connects);
  };
  OpenQuiet();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  modem->Replug();
  auto start = Steady::now();
  while (journal.connects < 2 && SecondsSince(start) < 5) {
    try {
      gsm->Open(true);
    } catch (const EVeskGSMException&) {
      // the reconnect thread holds the device right now
    }
    CheckSynchronize(1);
  }
  // Either the reconnection is the connection that stays, or this thread's
  // Open looked at the port just before the reconnection took it, then
  // closed that connection and opened its own: both end with one
  // connection up.
  std::string events = journal.Text();
  EXPECT_TRUE(events == "CFDC" || events == "CFDCDC") << events;
  EXPECT_EQ(gsm->IsConnected(), spCOM3);
}

TEST_F(Lifecycle, NoLockIsHeldWhileOnConnectRuns) {
  std::atomic<bool> closedInside{false};
  gsm->OnConnect = [&](TObject*, TCommPort) {
    journal.Note('C', journal.connects);
    // Another thread closes the component while this handler runs.
    std::thread other([&] { gsm->Close(); });
    other.join();
    closedInside = true;
  };
  auto start = Steady::now();
  ASSERT_TRUE(gsm->Open(true));
  EXPECT_TRUE(closedInside);
  EXPECT_LT(SecondsSince(start), 3.0);
  ASSERT_TRUE(WaitUntil([&] { return journal.disconnects == 1; }));
  EXPECT_EQ(journal.Text(), "CD");
}

// ---------------------------------------------------------------- order of events

TEST_F(Lifecycle, AnEndedConnectionRaisesNothingAfterTheNextOnesConnect) {
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(gsm->Open(i % 2 == 0));
    gsm->Close();
  }
  ASSERT_TRUE(WaitUntil([&] { return journal.disconnects == 30; }));
  std::string expected;
  for (int i = 0; i < 30; ++i) expected += "CD";
  EXPECT_EQ(journal.Text(), expected);
}

TEST_F(Lifecycle, ADeviceThatCannotBeOpenedNamesItsOwnError) {
  platform->SetOpenError("COM3", EACCES);
  try {
    gsm->Open(true);
    FAIL() << "no exception";
  } catch (const EVeskGSMException& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot connect to COM3 . " + platform->ErrorText(EACCES));
  }
  EXPECT_EQ(gsm->IsConnected(), spNone);
  EXPECT_EQ(journal.Text(), "");
}

// ---------------------------------------------------------------- destruction

TEST_F(Lifecycle, DestroyingFromASynchronizedHandlerReturnsAtOnce) {
  gsm->SetNeedSynchronization(true);
  TestGSM* raw = gsm.release();
  std::atomic<bool> destroyed{false};
  raw->OnReceive = [&](TObject*, const AnsiString&) {
    if (destroyed.exchange(true)) return;
    delete raw;
  };
  ASSERT_TRUE(raw->Open(true));
  ASSERT_TRUE(WaitUntil([&] { return modem->SettingsApplied() > 0; }));
  modem->Push("\r\nRING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return destroyed.load(); }));
  EXPECT_TRUE(WaitUntil([&] { return !modem->IsOpen(); }, 2000));
}

TEST_F(Lifecycle, DestroyingFromAHandlerOnTheReaderThreadLetsTheReaderEnd) {
  TestGSM* raw = gsm.release();
  std::atomic<bool> destroyed{false};
  raw->OnReceive = [&](TObject*, const AnsiString&) {
    if (destroyed.exchange(true)) return;
    delete raw;
  };
  ASSERT_TRUE(raw->Open(true));
  ASSERT_TRUE(WaitUntil([&] { return modem->SettingsApplied() > 0; }));
  modem->Push("\r\nRING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return destroyed.load(); }));
  EXPECT_TRUE(WaitUntil([&] { return !modem->IsOpen(); }, 2000));
  EXPECT_EQ(journal.Text(), "C");
}

TEST_F(Lifecycle, DestroyingWhileTheReconnectThreadOpensIsSafe) {
  gsm->SetAutoReconnect(true);
  std::atomic<bool> inside{false};
  gsm->OnConnect = [&](TObject*, TCommPort) {
    if (IsMainThread()) return;
    inside = true;
    std::this_thread::sleep_for(50ms);  // the reconnect thread is inside Open
  };
  OpenQuiet();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  modem->Replug();
  ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
  auto start = Steady::now();
  gsm.reset();
  EXPECT_LT(SecondsSince(start), 2.5);
  EXPECT_TRUE(WaitUntil([&] { return !modem->IsOpen(); }, 2000));
}

// ---------------------------------------------------------------- stress

// Open, commands from two threads, unplug, replug, close and destruction
// at random moments. Every cycle ends within its bound, and every
// connection that was closed before the component went raised exactly
// one OnDisconnect after its OnConnect.
TEST_F(Lifecycle, TwoHundredCyclesOfEverythingAtOnce) {
  std::mt19937 random(20261209);
  for (int cycle = 0; cycle < 200; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    auto start = Steady::now();
    modem->Replug();
    auto component = std::make_unique<TestGSM>();
    component->SetSerialPlatform(platform);
    component->SetPort(spCOM3);
    component->SetDelay(20 + static_cast<int>(random() % 200));
    component->SetAutoReconnect(random() % 2 == 0);
    component->SetAutoReconnectCheckInterval(100);
    Journal events;
    events.Attach(*component);
    try {
      component->Open(random() % 4 != 0);
    } catch (const EVeskGSMException&) {
    }
    std::atomic<bool> stop{false};
    auto commands = [&] {
      while (!stop) {
        try {
          component->ExecuteATCommand("AT", '\r');
        } catch (const EVeskGSMException&) {
          std::this_thread::sleep_for(1ms);
        }
      }
    };
    std::thread a(commands), b(commands);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
    int plot = static_cast<int>(random() % 4);
    if (plot >= 1) modem->Vanish();
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
    if (plot >= 2) modem->Replug();
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
    stop = true;
    a.join();
    b.join();
    bool closeFirst = plot != 3;
    if (closeFirst) component->Close();
    component.reset();
    EXPECT_LT(SecondsSince(start), 5.0);
    ExpectEventsInOrder(events, closeFirst);
    ASSERT_TRUE(WaitUntil([&] { return !modem->IsOpen(); }, 3000));
  }
}

// The same with the keep-alive on and a modem that stops answering at a
// random moment (cured by the reopen, or never): the ladder's own closes
// and opens keep the order, and Close or destruction in the middle of a
// step ends within the bound.
TEST_F(Lifecycle, TwoHundredCyclesWithHangs) {
  std::mt19937 random(20261210);
  std::atomic<bool> hung{false};
  modem->SetHandler([&](FakeModem&, const std::string&) { return hung.load(); });
  int withSteps = 0;
  for (int cycle = 0; cycle < 200; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    auto start = Steady::now();
    hung = false;
    modem->Replug();
    auto component = std::make_unique<TestGSM>();
    component->SetSerialPlatform(platform);
    component->SetPort(spCOM3);
    component->SetDelay(20 + static_cast<int>(random() % 100));
    component->SetAutoReconnect(random() % 2 == 0);
    component->SetAutoReconnectCheckInterval(100);
    component->SetKeepAliveInterval(1);
    component->SetKeepAliveTimeout(1);
    component->SetResetWait(2);
    Journal events;
    events.Attach(*component);
    std::atomic<int> steps{0};
    component->OnHealth = [&](TObject*, THealthStep, const AnsiString&) { ++steps; };
    try {
      component->Open(random() % 4 != 0);
    } catch (const EVeskGSMException&) {
    }
    std::atomic<bool> stop{false};
    std::thread commands([&] {
      while (!stop) {
        try {
          component->ExecuteATCommand("AT", nullptr, 1, '\r');
        } catch (const EVeskGSMException&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
    int plot = static_cast<int>(random() % 4);
    if (plot >= 1) hung = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
    if (plot == 2) hung = false;
    if (plot == 3) modem->Vanish();
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
    stop = true;
    commands.join();
    bool closeFirst = random() % 4 != 0;
    if (closeFirst) component->Close();
    component.reset();
    withSteps += steps > 0;
    EXPECT_LT(SecondsSince(start), 5.0);
    ExpectEventsInOrder(events, closeFirst);
    ASSERT_TRUE(WaitUntil([&] { return !modem->IsOpen(); }, 3000));
  }
  // The hangs did set ladders off.
  EXPECT_GT(withSteps, 20);
  std::printf("cycles with recovery steps: %d of 200\n", withSteps);
}

}  // namespace
}  // namespace vesk
