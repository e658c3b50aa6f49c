// Shared set-up for the component tests: a fast clock, a fake machine with
// one modem, and helpers that wait for conditions without blind sleeps.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <functional>
#include <thread>

#include "component/VeskGSM.h"
#include "support/FakeSerial.h"

namespace vesk::testing {

// Every fixed pause of the modem dialogue runs this many times faster.
constexpr double kClockSpeed = 20;

// Waits up to `ms` real milliseconds for `condition`, running synchronized
// calls meanwhile (the test body is the main thread).
inline bool WaitUntil(const std::function<bool()>& condition, int ms = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    CheckSynchronize(1);
  }
  return true;
}

// The component with its protected operations opened up for tests.
class TestGSM : public TVeskGSM {
 public:
  using TVeskGSM::ClearInputBuffer;
  using TVeskGSM::DispatcherHoldsInput;
  using TVeskGSM::ExtractStrings;
  using TVeskGSM::GetLineStatus;
  using TVeskGSM::GetTokens;
  using TVeskGSM::IsSetUp;
  using TVeskGSM::LineSettingsFlags;
  using TVeskGSM::ParseAT;
  using TVeskGSM::ProcessAT;
  using TVeskGSM::ReadChar;
  using TVeskGSM::ReadStringUpToEndChars;
  using TVeskGSM::SetBuffers;
  using TVeskGSM::SetDCBState;
  using TVeskGSM::SetTimeOuts;
  using TVeskGSM::SetTimeOutsToDefault;
  using TVeskGSM::TVeskGSM;
  using TVeskGSM::WriteLog;
  AnsiString ReadBufferField() const { return PeekReadBuffer(); }
  void SetReadBufferField(const AnsiString& s) { SetReadBuffer(s); }
  bool PauseFlag() const { return PauseThreadFlag(); }
  void SetPause(bool paused) { SetPauseThreadFlag(paused); }
  using TVeskGSM::LastLineStatus;
  std::shared_ptr<SerialDevice> Device() const { return PortDevice(); }
};

// The connection's events in the order they came: "C" connect, "F" fault,
// "D" disconnect.
struct Journal {
  std::mutex mutex;
  std::string events;
  std::atomic<int> connects{0}, faults{0}, disconnects{0};

  void Attach(TVeskGSM& gsm) {
    gsm.OnConnect = [this](TObject*, TCommPort) { Note('C', connects); };
    gsm.OnFault = [this](TObject*, TCommPort) { Note('F', faults); };
    gsm.OnDisconnect = [this](TObject*, TCommPort) { Note('D', disconnects); };
  }
  void Note(char c, std::atomic<int>& count) {
    std::lock_guard<std::mutex> lock(mutex);
    events += c;
    ++count;
  }
  std::string Text() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }
};

class FastClockTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClock(std::make_shared<ScaledClock>(kClockSpeed)); }
  void TearDown() override { SetClock(nullptr); }
};

// A component on a fake machine with one modem on COM3 that answers "OK"
// to every command line.
class ModemTest : public FastClockTest {
 protected:
  void SetUp() override {
    FastClockTest::SetUp();
    platform = std::make_shared<FakeSerialPlatform>();
    modem = platform->Add("COM3");
    modem->SetDefaultReply("\r\nOK\r\n");
    gsm = std::make_unique<TestGSM>();
    gsm->SetSerialPlatform(platform);
    gsm->SetPort(spCOM3);
  }
  void TearDown() override {
    gsm.reset();
    FastClockTest::TearDown();
  }
  // Opens without the modem set-up and waits until the reader thread has
  // applied the line settings.
  void OpenQuiet() {
    ASSERT_TRUE(gsm->Open(true));
    ASSERT_TRUE(WaitUntil([&] { return modem->SettingsApplied() > 0; }));
  }

  // Raises the pause flag and lets a polling cycle already under way end:
  // the flag keeps the next cycles off the port, not the current one.
  void PauseReader() {
    gsm->SetPause(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(3 * gsm->GetDelay() / kClockSpeed) + 10));
  }

  std::shared_ptr<FakeSerialPlatform> platform;
  std::shared_ptr<FakeModem> modem;
  std::unique_ptr<TestGSM> gsm;
};

}  // namespace vesk::testing
