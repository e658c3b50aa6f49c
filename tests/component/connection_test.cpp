// The connection's state machine alone (port/Connection.h), driven through a
// fake host instead of a component, on the fake serial device. Each test
// takes one or more transitions of the diagram at the head of
// Connection.h and checks the state, what the host was asked, in which
// order, and that the device is released. Nothing here sleeps: every step
// waits for what it expects (or for the connection's own waits, which the
// fast clock shortens).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "port/Connection.h"
#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::FakeModem;
using testing::FakeSerialPlatform;
using testing::WaitUntil;

// A host that notes what it is asked, in order, and does what the test
// sets up.
class FakeHost final : public TConnectionHost {
 public:
  TConnectionSettings ConnectionSettings() noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
  }
  bool ApplyLineSettings(SerialDevice& device) noexcept override {
    Note("apply");
    TLineSettings s;
    s.BaudRate = 115200;
    return device.SetLineSettings(s) && !refuseSettings;
  }
  void SetUpModem() override {
    Note("setup");
    if (setUp) setUp();
  }
  void LinesChanged(TLineStatusSet lines) noexcept override { Note("lines:" + std::to_string(lines.Bits())); }
  void Received(const AnsiString& text) override {
    if (failReceiving) throw std::runtime_error("the log cannot be written");
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ += text;
  }
  bool InputToDispatch() noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    return !pending_.empty();
  }
  void Dispatch() override {
    AnsiString text;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      text.swap(pending_);
    }
    if (text.empty()) return;
    Note("dispatch:" + text + (IsMainThread() ? "@main" : ""));
    if (onDispatch) onDispatch(text);
  }
  void Connected(TCommPort port) override {
    Note("connected:" + std::to_string(port));
    if (onConnected) onConnected();
  }
  void Faulted(TCommPort) override { Note(std::string("faulted") + (IsMainThread() ? "@main" : "")); }
  void Disconnected(TCommPort) override { Note("disconnected"); }
  void Released() noexcept override { Note("released"); }
  bool PortListed() noexcept override { return listed; }
  bool Reopen() override {
    Note("reopen");
    return reopen && reopen();
  }
  // Idle work due at a point of the real clock, or none.
  double IdleWorkDueIn() noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idleAt_) return -1;
    const auto left = *idleAt_ - std::chrono::steady_clock::now();
    return left.count() <= 0 ? 0 : std::chrono::duration<double, std::milli>(left).count();
  }
  void IdleDueAfter(double realMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    idleAt_ = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                     std::chrono::duration<double, std::milli>(realMs));
  }
  void DoIdleWork() override {
    {
      // Done: not due again until the test says so.
      std::lock_guard<std::mutex> lock(mutex_);
      idleAt_.reset();
    }
    Note(std::string("idle") + (IsMainThread() ? "@main" : ""));
  }

  void Set(const std::function<void(TConnectionSettings&)>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(settings_);
  }
  void Note(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    journal_.push_back(event);
  }
  std::vector<std::string> Journal() {
    std::lock_guard<std::mutex> lock(mutex_);
    return journal_;
  }
  // The journal without the entries that come at their own pace: the line
  // settings and lines, and the modem set-up, which runs on the reader
  // thread while OnConnect runs on the opener's.
  std::vector<std::string> Transitions() {
    std::vector<std::string> out;
    for (const std::string& e : Journal())
      if (e.rfind("lines:", 0) != 0 && e != "apply" && e != "setup") out.push_back(e);
    return out;
  }
  bool Has(const std::string& event) {
    for (const std::string& e : Journal())
      if (e == event) return true;
    return false;
  }

  std::atomic<bool> refuseSettings{false};
  std::atomic<bool> failReceiving{false};
  std::atomic<bool> listed{true};
  std::function<void()> setUp;
  std::function<void()> onConnected;
  std::function<void(const AnsiString&)> onDispatch;
  std::function<bool()> reopen;

 private:
  std::optional<std::chrono::steady_clock::time_point> idleAt_;
  std::mutex mutex_;
  TConnectionSettings settings_;
  AnsiString pending_;
  std::vector<std::string> journal_;
};

using Events = std::vector<std::string>;

class LinkStates : public testing::FastClockTest {
 protected:
  void SetUp() override {
    FastClockTest::SetUp();
    platform = std::make_shared<FakeSerialPlatform>();
    modem = platform->Add("COM3");
    link = std::make_shared<TConnection>(&host);
  }
  void TearDown() override {
    link->OwnerDestroyed();
    FastClockTest::TearDown();
  }
  std::shared_ptr<SerialDevice> OpenDevice() {
    int error = 0;
    return platform->Open("COM3", error);
  }
  // Open as the component does it: the device, the reader, OnConnect.
  unsigned Connect(bool skipInit = true) {
    unsigned generation = link->Begin(OpenDevice(), spCOM3, skipInit);
    if (generation != 0) link->Announce(generation);
    return generation;
  }
  bool Ended() {
    return WaitUntil([&] { return link->State() == TLinkState::Closed && !link->Reader(); });
  }
  // For a test that shows a long wait cut short: the clock at its own pace.
  static void RealTimeForThisTest() { SetClock(nullptr); }

  FakeHost host;
  std::shared_ptr<FakeSerialPlatform> platform;
  std::shared_ptr<FakeModem> modem;
  std::shared_ptr<TConnection> link;
};

// ---------------------------------------------------------------- Closed -> SettingUp -> Open

// Idle work: planned for later, the reader wakes for it by itself; falling
// due from another thread, WakeReader wakes the reader, which sleeps on the
// port with no time limit otherwise.
TEST_F(LinkStates, TheReaderWakesForIdleWork) {
  ASSERT_NE(Connect(), 0u);
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  host.IdleDueAfter(0);
  link->WakeReader();
  ASSERT_TRUE(WaitUntil([&] { return host.Has("idle"); }));
  host.IdleDueAfter(100);
  link->WakeReader();
  ASSERT_TRUE(WaitUntil([&] {
    int n = 0;
    for (const std::string& e : host.Journal()) n += e == "idle";
    return n == 2;
  }));
  // Text to dispatch goes first; idle work waits for a quiet port.
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "idle", "idle"}));
}

TEST_F(LinkStates, OpenGoesThroughSettingUpToOpen) {
  EXPECT_EQ(link->State(), TLinkState::Closed);
  EXPECT_EQ(link->Device(), nullptr);
  std::mutex gate;
  std::condition_variable opened;
  bool release = false;
  host.setUp = [&] {
    std::unique_lock<std::mutex> lock(gate);
    opened.wait(lock, [&] { return release; });
  };
  unsigned generation = Connect(false);
  ASSERT_NE(generation, 0u);
  // The line settings are applied before OnConnect; the modem set-up runs
  // on: the connection is still setting up.
  ASSERT_TRUE(WaitUntil([&] { return host.Has("setup"); }));
  EXPECT_EQ(link->State(), TLinkState::SettingUp);
  EXPECT_TRUE(link->Active(generation));
  EXPECT_NE(link->Device(), nullptr);
  EXPECT_EQ(modem->SettingsApplied(), 1);
  {
    std::lock_guard<std::mutex> lock(gate);
    release = true;
  }
  opened.notify_all();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  EXPECT_EQ(host.Transitions(), (Events{"connected:3"}));
  EXPECT_EQ(host.Journal().front(), "apply");
}

TEST_F(LinkStates, RefusedLineSettingsEndTheConnectionWithoutAFault) {
  host.refuseSettings = true;
  unsigned generation = Connect();
  ASSERT_TRUE(Ended());
  EXPECT_FALSE(link->Active(generation));
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "disconnected", "released"}));
  EXPECT_FALSE(modem->IsOpen());
}

TEST_F(LinkStates, SkipSetupFailedKeepsAConnectionWhoseSettingsWereRefused) {
  host.refuseSettings = true;
  host.Set([](TConnectionSettings& s) { s.SkipSetupFailed = true; });
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  EXPECT_TRUE(modem->IsOpen());
}

TEST_F(LinkStates, AFailingModemSetUpLeavesTheConnectionUp) {
  host.setUp = [] { throw std::runtime_error("the set-up failed"); };
  Connect(false);
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  EXPECT_TRUE(host.Has("setup"));
  EXPECT_EQ(host.Transitions(), (Events{"connected:3"}));
}

// ---------------------------------------------------------------- SettingUp -> Closing / Lost

TEST_F(LinkStates, CloseDuringTheSetUpEndsItsWaitsAtOnce) {
  RealTimeForThisTest();
  std::atomic<bool> pauseEnded{false};
  // A set-up waiting for a silent modem: a minute of pauses.
  host.setUp = [&] {
    EXPECT_FALSE(link->Pause(60000));
    pauseEnded = true;
  };
  Connect(false);
  ASSERT_TRUE(WaitUntil([&] { return host.Has("setup"); }));
  auto start = std::chrono::steady_clock::now();
  link->Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_TRUE(Ended());
  EXPECT_TRUE(pauseEnded);
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "disconnected", "released"}));
}

TEST_F(LinkStates, ALossDuringTheSetUpIsAFault) {
  host.setUp = [&] { link->Pause(60000); };
  Connect(false);
  ASSERT_TRUE(WaitUntil([&] { return host.Has("setup"); }));
  modem->Vanish();
  link->CheckDevice(link->Device());  // as a set-up command whose write failed does
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "faulted", "disconnected", "released"}));
}

// ---------------------------------------------------------------- Open -> Closing -> Closed

TEST_F(LinkStates, CloseEndsAnOpenConnectionWithoutAFault) {
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  link->Close();
  // Close waits for the reader: by its return the device is released.
  EXPECT_EQ(link->State(), TLinkState::Closed);
  EXPECT_EQ(link->Device(), nullptr);
  EXPECT_FALSE(modem->IsOpen());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "disconnected", "released"}));
  // And a new connection may begin.
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  EXPECT_EQ(link->Generation(), 2u);
}

TEST_F(LinkStates, AReadingThatFailsEndsTheConnectionWithoutAFault) {
  host.failReceiving = true;
  Connect();
  modem->Push("OK\r\n");
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "disconnected", "released"}));
}

TEST_F(LinkStates, AFailingDispatchEndsTheConnectionWithoutAFault) {
  host.onDispatch = [](const AnsiString&) { throw std::runtime_error("a handler failed"); };
  Connect();
  modem->Push("RING\r\n");
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "dispatch:RING\r\n", "disconnected", "released"}));
}

// ---------------------------------------------------------------- Open -> Lost -> Closed

TEST_F(LinkStates, LinesThatWereUpAndAllDropAreALoss) {
  modem->SetLines(kModemCTS | kModemDSR);
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return host.Has("lines:3"); }));
  modem->SetLines(0);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "faulted", "disconnected", "released"}));
}

TEST_F(LinkStates, LinesThatDropWithTheRuleOffAreNoLoss) {
  host.Set([](TConnectionSettings& s) { s.CloseWhenLineStatusIsZero = false; });
  modem->SetLines(kModemCTS);
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return host.Has("lines:1"); }));
  modem->SetLines(0);
  ASSERT_TRUE(WaitUntil([&] { return host.Has("lines:0"); }));
  EXPECT_EQ(link->State(), TLinkState::Open);
}

TEST_F(LinkStates, AFailingDeviceIsALoss) {
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  modem->HangUp();
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "faulted", "disconnected", "released"}));
}

TEST_F(LinkStates, APortThatLeftTheListIsALossWhenTheDelayAllowsTheCheck) {
  host.Set([](TConnectionSettings& s) { s.Delay = 100; });
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  host.listed = false;
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "faulted", "disconnected", "released"}));
}

TEST_F(LinkStates, ALossReportedByAnotherThreadEndsTheConnection) {
  unsigned generation = Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  std::thread([&] { link->ReportLost(generation); }).join();
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "faulted", "disconnected", "released"}));
  // A report about a connection that has ended changes nothing.
  link->ReportLost(generation);
  EXPECT_EQ(link->State(), TLinkState::Closed);
}

TEST_F(LinkStates, WithSynchronizationTheFaultAndTheDispatchRunOnTheMainThread) {
  host.Set([](TConnectionSettings& s) { s.NeedSynchronization = true; });
  modem->SetLines(kModemDSR);
  Connect();
  modem->Push("RING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return host.Has("dispatch:RING\r\n@main"); }));
  modem->SetLines(0);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(),
            (Events{"connected:3", "dispatch:RING\r\n@main", "faulted@main", "disconnected", "released"}));
}

// The connection's end waits for its OnConnect: a loss before Open has
// raised it is reported after it.
TEST_F(LinkStates, TheEndOfAConnectionIsReportedAfterItsConnect) {
  unsigned generation = link->Begin(OpenDevice(), spCOM3, true);
  link->ReportLost(generation);
  // The reader has ended its look at the port, but it waits.
  EXPECT_FALSE(WaitUntil([&] { return host.Has("faulted"); }, 100));
  link->Announce(generation);
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "faulted", "disconnected", "released"}));
}

TEST_F(LinkStates, AnOnConnectThatRaisesReachesTheOpenerAndTheEndIsStillReported) {
  host.onConnected = [] { throw std::runtime_error("OnConnect failed"); };
  unsigned generation = link->Begin(OpenDevice(), spCOM3, true);
  EXPECT_THROW(link->Announce(generation), std::runtime_error);
  link->Close();
  ASSERT_TRUE(Ended());
  EXPECT_EQ(host.Transitions(), (Events{"connected:3", "disconnected", "released"}));
}

// ---------------------------------------------------------------- Lost -> reconnecting -> Open

class Reconnecting : public LinkStates {
 protected:
  void SetUp() override {
    LinkStates::SetUp();
    host.Set([](TConnectionSettings& s) {
      s.AutoReconnect = true;
      s.AutoReconnectCheckInterval = 200;
    });
    host.reopen = [this] {
      if (modem->Vanished()) return false;
      return Connect(false) != 0;
    };
  }
};

TEST_F(Reconnecting, ALostPortIsReopenedOnceItIsBack) {
  Connect();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return host.Has("reopen"); }));
  EXPECT_EQ(link->State(), TLinkState::Closed);
  modem->Replug();
  ASSERT_TRUE(
      WaitUntil([&] { return link->State() == TLinkState::Open && host.Transitions().back() == "connected:3"; }));
  EXPECT_EQ(link->Generation(), 2u);
  std::vector<std::string> events = host.Transitions();
  // Attempts while the port was away, then the one that succeeded.
  while (events.size() > 5 && events[5] == "reopen" && events[4] == "reopen") events.erase(events.begin() + 4);
  EXPECT_EQ(events, (Events{"connected:3", "faulted", "disconnected", "released", "reopen", "connected:3"}));
}

TEST_F(Reconnecting, CloseStopsAReconnectionWaitingForItsNextAttempt) {
  RealTimeForThisTest();
  host.Set([](TConnectionSettings& s) { s.AutoReconnectCheckInterval = 600000; });
  Connect();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return host.Has("reopen"); }));
  auto start = std::chrono::steady_clock::now();
  link->Close();
  modem->Replug();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(link->OnReconnectThread());
  // No attempt follows.
  EXPECT_FALSE(WaitUntil([&] { return link->State() != TLinkState::Closed; }, 200));
}

TEST_F(Reconnecting, SwitchingAutoReconnectOffEndsTheAttempts) {
  Connect();
  modem->Vanish();
  ASSERT_TRUE(WaitUntil([&] { return host.Has("reopen"); }));
  host.Set([](TConnectionSettings& s) { s.AutoReconnect = false; });
  modem->Replug();
  EXPECT_FALSE(WaitUntil([&] { return link->State() != TLinkState::Closed; }, 400));
}

TEST_F(Reconnecting, AnAttemptThatRaisesIsFollowedByTheNext) {
  std::atomic<int> attempts{0};
  host.reopen = [&] {
    if (++attempts < 3) throw std::runtime_error("busy");
    return Connect(false) != 0;
  };
  Connect();
  modem->Vanish();
  modem->Replug();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open && link->Generation() == 2; }));
  EXPECT_EQ(attempts, 3);
}

TEST_F(Reconnecting, AReconnectionStoppedWhileItOpensDoesNotConnect) {
  host.reopen = [this] {
    link->Close();  // as the attempt opens the device
    return Connect(false) != 0;
  };
  Connect();
  modem->Vanish();
  modem->Replug();
  ASSERT_TRUE(WaitUntil([&] { return host.Has("reopen"); }));
  EXPECT_FALSE(WaitUntil([&] { return link->Generation() != 1; }, 200));
  EXPECT_FALSE(modem->IsOpen());  // the device the attempt opened was closed again
}

// ---------------------------------------------------------------- destruction

TEST_F(LinkStates, TheHostsDestructionEndsTheConnectionSilently) {
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  link->OwnerDestroyed();
  EXPECT_TRUE(link->OwnerGone());
  ASSERT_TRUE(WaitUntil([&] { return !modem->IsOpen(); }));
  // Nothing reaches a host that is gone: no OnDisconnect.
  EXPECT_EQ(host.Transitions(), (Events{"connected:3"}));
  EXPECT_EQ(link->Begin(OpenDevice(), spCOM3, true), 0u);  // nothing begins any more
}

TEST_F(LinkStates, TheHostDestroyedByItsOwnDispatchIsNoticed) {
  std::atomic<bool> goneSeen{false};
  host.onDispatch = [&](const AnsiString&) {
    link->OwnerDestroyed();  // from the reader thread, inside a visit
    goneSeen = TConnection::VisitedHostGone();
  };
  Connect();
  EXPECT_FALSE(TConnection::VisitedHostGone());  // outside any visit
  modem->Push("RING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return !modem->IsOpen(); }));
  EXPECT_TRUE(goneSeen);
}

// ---------------------------------------------------------------- the port's lock and the wait

TEST_F(LinkStates, TextIsDispatchedAsItComesNotAtTheNextCheck) {
  // A check of the lines once a day: only the wait on the port can bring
  // the text in.
  host.Set([](TConnectionSettings& s) { s.Delay = 86400000; });
  Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  modem->Push("+CMTI: \"SM\",3\r\n");
  EXPECT_TRUE(WaitUntil([&] { return host.Has("dispatch:+CMTI: \"SM\",3\r\n"); }));
  link->Close();
  EXPECT_EQ(link->State(), TLinkState::Closed);  // the day-long wait ended at once
}

TEST_F(LinkStates, WhileADialogueHoldsThePortTheReaderNeitherReadsNorDispatches) {
  host.Set([](TConnectionSettings& s) { s.Delay = 100; });
  unsigned generation = Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  ASSERT_EQ(link->AcquirePort(true), generation);
  EXPECT_TRUE(link->DialogueUnderWay());
  EXPECT_EQ(link->AcquirePort(true), generation);  // nests on one thread
  // Another thread cannot take it.
  unsigned other = 99;
  std::thread([&] { other = link->AcquirePort(false); }).join();
  EXPECT_EQ(other, 0u);
  modem->Push("RING\r\n");
  EXPECT_FALSE(WaitUntil([&] { return modem->Queued() == 0; }, 200));
  EXPECT_FALSE(link->ReleasePort(generation));  // not yet the outermost
  EXPECT_TRUE(link->ReleasePort(generation));
  EXPECT_FALSE(link->DialogueUnderWay());
  EXPECT_TRUE(WaitUntil([&] { return host.Has("dispatch:RING\r\n"); }));
}

TEST_F(LinkStates, AHoldOfAnEndedConnectionEndsWithIt) {
  unsigned first = Connect();
  ASSERT_EQ(link->AcquirePort(true), first);
  link->Close();
  EXPECT_EQ(link->AcquirePort(false), 0u);  // no connection: no port
  unsigned second = Connect();
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  // The new connection's reader and dialogues are not held up by it.
  unsigned taken = 0;
  std::thread([&] {
    taken = link->AcquirePort(false);
    link->ReleasePort(taken);
  }).join();
  EXPECT_EQ(taken, second);
  EXPECT_FALSE(link->ReleasePort(first));  // harmless
}

TEST_F(LinkStates, APauseEndsAtOnceWhenTheConnectionEnds) {
  RealTimeForThisTest();
  Connect();
  std::atomic<bool> result{true};
  std::thread pausing([&] { result = link->Pause(60000); });
  ASSERT_TRUE(WaitUntil([&] { return link->State() == TLinkState::Open; }));
  auto start = std::chrono::steady_clock::now();
  link->Close();
  pausing.join();
  EXPECT_FALSE(result);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(link->Pause(60000));  // none active: false at once
}

}  // namespace
}  // namespace vesk
