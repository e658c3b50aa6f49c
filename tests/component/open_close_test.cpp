// The component's Open and Close, the line settings, and the reader thread's
// watch over the device: scripted against the in-process fake modem. The
// connection's state machine alone, without a component, is in
// connection_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::FakeModem;
using testing::ModemTest;
using testing::WaitUntil;

// Counts events and remembers the threads they came from.
struct Events {
  std::atomic<int> connects{0}, disconnects{0}, faults{0}, receives{0};
  std::mutex mutex;
  std::vector<AnsiString> received;
  std::thread::id disconnectThread;

  void Attach(TVeskGSM& gsm) {
    gsm.OnConnect = [this](TObject*, TCommPort) { ++connects; };
    gsm.OnDisconnect = [this](TObject*, TCommPort) {
      std::lock_guard<std::mutex> lock(mutex);
      disconnectThread = std::this_thread::get_id();
      ++disconnects;
    };
    gsm.OnFault = [this](TObject*, TCommPort) { ++faults; };
    gsm.OnReceive = [this](TObject*, const AnsiString& text) {
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back(text);
      ++receives;
    };
  }
  AnsiString AllReceived() {
    std::lock_guard<std::mutex> lock(mutex);
    AnsiString all;
    for (auto& r : received) all += r;
    return all;
  }
};

using Connection = ModemTest;

TEST_F(Connection, OpenBringsThePortUpAndAppliesTheLineSettings) {
  Events ev;
  ev.Attach(*gsm);
  gsm->SetBaudRate(br115200);
  OpenQuiet();
  EXPECT_EQ(gsm->IsConnected(), spCOM3);
  EXPECT_EQ(ev.connects, 1);
  TLineSettings s = modem->LastSettings();
  EXPECT_EQ(s.BaudRate, 115200u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_EQ(s.Flags, 0x00001011u);
  EXPECT_TRUE(modem->Lines().empty());  // skipInit: no AT command at all
}

TEST_F(Connection, OpeningThePortThatIsOpenChangesNothing) {
  Events ev;
  ev.Attach(*gsm);
  OpenQuiet();
  EXPECT_FALSE(gsm->Open(true));
  EXPECT_EQ(ev.connects, 1);
  EXPECT_EQ(platform->Opens(), 1);
  EXPECT_EQ(gsm->IsConnected(), spCOM3);
}

TEST_F(Connection, TwoCustomNamesCountAsTheSamePort) {
  platform->Add("/dev/a");
  platform->Add("/dev/b");
  gsm->SetCustomPortName("/dev/a");
  gsm->SetPort(spCustom);
  ASSERT_TRUE(gsm->Open(true));
  gsm->SetCustomPortName("/dev/b");
  EXPECT_FALSE(gsm->Open(true));  // both read spCustom: Close must come first
  EXPECT_EQ(gsm->IsConnected(), spCustom);
}

TEST_F(Connection, AnAbsentPortIsRefusedQuietlyAndThePreviousOneClosed) {
  Events ev;
  ev.Attach(*gsm);
  OpenQuiet();
  gsm->SetPort(spCOM4);  // not on this machine
  EXPECT_FALSE(gsm->Open(true));
  EXPECT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(ev.disconnects, 1);
  EXPECT_FALSE(modem->IsOpen());
}

TEST_F(Connection, ADeviceThatCannotBeOpenedRaisesWithTheSystemsText) {
  platform->SetOpenError("COM3", EBUSY);
  try {
    gsm->Open(true);
    FAIL() << "no exception";
  } catch (const EVeskGSMException& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot connect to COM3 . " + SysErrorMessage(EBUSY));
  }
  EXPECT_EQ(gsm->IsConnected(), spNone);
}

TEST_F(Connection, SkipSetupFailedTriesEvenAnUnlistedDevice) {
  gsm->SetSkipSetupFailed(true);
  gsm->SetPort(spCOM8);
  EXPECT_THROW(gsm->Open(true), EVeskGSMException);
  gsm->SetSkipSetupFailed(false);
  EXPECT_FALSE(gsm->Open(true));
}

TEST_F(Connection, RefusedLineSettingsGiveThePortUpAgain) {
  Events ev;
  ev.Attach(*gsm);
  modem->SetRefuseLineSettings(true);
  EXPECT_TRUE(gsm->Open(true));
  EXPECT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(ev.disconnects, 1);
  EXPECT_FALSE(modem->IsOpen());
}

TEST_F(Connection, SkipSetupFailedKeepsThePortWhenSettingsAreRefused) {
  modem->SetRefuseLineSettings(true);
  gsm->SetSkipSetupFailed(true);
  EXPECT_TRUE(gsm->Open(true));
  modem->Push("hello");
  EXPECT_TRUE(WaitUntil([&] { return modem->Queued() == 0; }));
  EXPECT_EQ(gsm->IsConnected(), spCOM3);
}

TEST_F(Connection, CloseStopsTheThreadWhichReportsAndReleasesThePort) {
  Events ev;
  ev.Attach(*gsm);
  OpenQuiet();
  gsm->Close();
  EXPECT_EQ(gsm->IsConnected(), spNone);
  EXPECT_EQ(ev.disconnects, 1);
  EXPECT_FALSE(modem->IsOpen());
  EXPECT_NE(ev.disconnectThread, std::this_thread::get_id());  // from the reader thread
  // And the port can be opened again.
  EXPECT_TRUE(gsm->Open(true));
  EXPECT_EQ(gsm->IsConnected(), spCOM3);
}

TEST_F(Connection, CloseOnAClosedComponentOnlyClearsTheConnection) {
  gsm->Close();
  EXPECT_EQ(gsm->IsConnected(), spNone);
  EXPECT_THROW(gsm->SendString("AT\r"), EVeskGSMException);
}

TEST_F(Connection, CloseGivesUpAfterItsTurnsWhenTheThreadIsBusy) {
  Events ev;
  ev.Attach(*gsm);
  std::atomic<bool> release{false};
  std::atomic<bool> inHandler{false};
  gsm->OnReceive = [&](TObject*, const AnsiString&) {
    inHandler = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  OpenQuiet();
  modem->Push("\r\nRING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return inHandler.load(); }));
  auto start = std::chrono::steady_clock::now();
  gsm->Close();
  auto took = std::chrono::steady_clock::now() - start;
  // Close waits up to 2 s for the reader; a handler that takes longer does
  // not hold it.
  EXPECT_LT(took, std::chrono::milliseconds(2500));
  EXPECT_EQ(gsm->IsConnected(), spCOM3);  // the thread has not ended yet
  release = true;
  EXPECT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(ev.disconnects, 1);
}

TEST_F(Connection, DestroyingWhileConnectedRaisesNoDisconnect) {
  Events ev;
  ev.Attach(*gsm);
  OpenQuiet();
  gsm.reset();
  EXPECT_EQ(ev.disconnects, 0);
  EXPECT_FALSE(modem->IsOpen());
}

TEST_F(Connection, TheFlagsWordFollowsTheHandshakeSettings) {
  EXPECT_EQ(gsm->LineSettingsFlags(), 0x00001011u);
  gsm->SetHwFlowControl(hfDTRDSR);
  EXPECT_EQ(gsm->LineSettingsFlags(), 0x00001039u);  // DTR field 3, DSR output flow
  gsm->SetHwFlowControl(hfRTSCTS);
  EXPECT_EQ(gsm->LineSettingsFlags(), 0x00003015u);  // RTS field 3, CTS output flow
  gsm->SetEnableDTROnOpen(false);
  gsm->SetEnableRTSOnOpen(false);
  gsm->SetSwFlowControl(sfXONXOFF);
  EXPECT_EQ(gsm->LineSettingsFlags(), 0x00002305u);
}

TEST_F(Connection, LineSettersApplyAtOnceWhileOpen) {
  OpenQuiet();
  int applied = modem->SettingsApplied();
  gsm->SetBaudRate(br009600);
  EXPECT_EQ(modem->SettingsApplied(), applied + 1);
  EXPECT_EQ(modem->LastSettings().BaudRate, 9600u);
  gsm->SetParity(pbNone);  // unchanged, applied all the same
  EXPECT_EQ(modem->SettingsApplied(), applied + 2);
  gsm->SetEnableDTROnOpen(true);  // unchanged: nothing to do
  EXPECT_EQ(modem->SettingsApplied(), applied + 2);
  gsm->SetEnableDTROnOpen(false);
  EXPECT_EQ(modem->SettingsApplied(), applied + 3);
  EXPECT_EQ(modem->LastSettings().Flags & 0x30u, 0u);
  gsm->SetCustomBaudRate(250000);  // the speed is not custom: nothing applied
  EXPECT_EQ(modem->SettingsApplied(), applied + 3);
  gsm->SetBaudRate(brCustom);
  EXPECT_EQ(modem->LastSettings().BaudRate, 250000u);
  gsm->SetStopBits(sb2Bits);
  int before = modem->SettingsApplied();
  EXPECT_THROW(gsm->SetDataWidth(dw5Bits), EVeskGSMException);
  EXPECT_EQ(modem->SettingsApplied(), before);  // a refusal applies nothing
  // Applying discards what was waiting: it was read with the old settings.
  EXPECT_GT(modem->RxPurges(), 0);
}

TEST_F(Connection, LineStatusMapsTheFourModemLines) {
  OpenQuiet();
  modem->SetLines(kModemCTS | kModemRLSD);
  EXPECT_EQ(gsm->GetLineStatus(gsm->Device().get()), TLineStatusSet({lsCTS, lsDCD}));
  modem->SetLines(kModemDSR | kModemRING);
  EXPECT_EQ(gsm->GetLineStatus(gsm->Device().get()), TLineStatusSet({lsDSR, lsRING}));
  modem->SetModemStatusFails(true);
  EXPECT_TRUE(gsm->GetLineStatus(gsm->Device().get()).Empty());
  EXPECT_TRUE(gsm->GetLineStatus(nullptr).Empty());
  EXPECT_FALSE(gsm->SetTimeOuts(nullptr));
  EXPECT_FALSE(gsm->SetBuffers(nullptr));
  EXPECT_FALSE(gsm->SetDCBState(nullptr));
  EXPECT_TRUE(gsm->SetTimeOutsToDefault(gsm->Device().get()));
}

// ---------------------------------------------------------------- the reader thread

using ReaderThread = ModemTest;

TEST_F(ReaderThread, LinesLowFromTheStartAreNoFault) {
  Events ev;
  ev.Attach(*gsm);
  modem->SetLines(0);
  OpenQuiet();
  modem->Push("OK\r\n");
  ASSERT_TRUE(WaitUntil([&] { return ev.receives > 0; }));
  EXPECT_EQ(ev.faults, 0);
  EXPECT_EQ(gsm->IsConnected(), spCOM3);
}

TEST_F(ReaderThread, AllLinesFallingIsAFaultReportedOnce) {
  Events ev;
  ev.Attach(*gsm);
  modem->SetLines(kModemCTS | kModemDSR | kModemRLSD);
  OpenQuiet();
  ASSERT_TRUE(WaitUntil([&] { return gsm->LastLineStatus() == TLineStatusSet({lsCTS, lsDSR, lsDCD}); }));
  modem->SetLines(0);
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(ev.faults, 1);
  EXPECT_EQ(ev.disconnects, 1);
  EXPECT_TRUE(gsm->GetIsFaulted());
  EXPECT_FALSE(modem->IsOpen());
  // A new Open clears the fault.
  modem->SetLines(kModemCTS);
  EXPECT_TRUE(gsm->Open(true));
  EXPECT_FALSE(gsm->GetIsFaulted());
}

TEST_F(ReaderThread, AFailingStatusQueryAfterLinesWereUpIsAFault) {
  Events ev;
  ev.Attach(*gsm);
  modem->SetLines(kModemDSR);
  OpenQuiet();
  ASSERT_TRUE(WaitUntil([&] { return gsm->LastLineStatus() == TLineStatusSet({lsDSR}); }));
  modem->SetModemStatusFails(true);
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(ev.faults, 1);
}

TEST_F(ReaderThread, WithoutCloseWhenLineStatusIsZeroAFallOnlyUpdatesTheStatus) {
  Events ev;
  ev.Attach(*gsm);
  gsm->SetCloseWhenLineStatusIsZero(false);
  modem->SetLines(kModemCTS);
  OpenQuiet();
  ASSERT_TRUE(WaitUntil([&] { return gsm->LastLineStatus() == TLineStatusSet({lsCTS}); }));
  modem->SetLines(0);
  ASSERT_TRUE(WaitUntil([&] { return gsm->LastLineStatus().Empty(); }));
  modem->Push("OK\r\n");
  ASSERT_TRUE(WaitUntil([&] { return ev.receives > 0; }));
  EXPECT_EQ(ev.faults, 0);
  EXPECT_EQ(gsm->IsConnected(), spCOM3);
}

TEST_F(ReaderThread, APulledOutPortIsNoticedInTheFirstQuietCycle) {
  Events ev;
  ev.Attach(*gsm);
  OpenQuiet();
  modem->Vanish();  // gone from the list, every call fails
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(ev.faults, 1);
  EXPECT_EQ(ev.disconnects, 1);
  EXPECT_TRUE(gsm->GetIsFaulted());
}

TEST_F(ReaderThread, AFailingDeviceIsNoticedEvenWithAShortInterval) {
  Events ev;
  ev.Attach(*gsm);
  gsm->SetDelay(40);  // below MinCheckDisconnectedInterval (50): no port-list check
  OpenQuiet();
  modem->Vanish();
  // The device itself fails: that is enough to know the port is lost.
  EXPECT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(ev.faults, 1);
  EXPECT_EQ(ev.disconnects, 1);
}

TEST_F(ReaderThread, LowerCaseInputReachesTheDispatcherInCapitalsAndTheLogAsItCame) {
  Events ev;
  ev.Attach(*gsm);
  std::string path = ::testing::TempDir() + "vesk_reader.log";
  std::remove(path.c_str());
  gsm->SetLogFile(Utf8ToWide(path));
  gsm->SetLog(true);
  OpenQuiet();
  modem->Push("\r\n+cmti: \"sm\",3\r\n");
  ASSERT_TRUE(WaitUntil([&] { return ev.receives > 0; }));
  EXPECT_EQ(ev.AllReceived(), "\r\n+CMTI: \"SM\",3\r\n");
  EXPECT_GT(gsm->GetLastReceived(), 0);
  gsm->Close();
  std::ifstream in(path, std::ios::binary);
  std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(log.find("Received: \r\n+cmti: \"sm\",3\r\n"), std::string::npos) << log;
  std::remove(path.c_str());
}

TEST_F(ReaderThread, ALogThatCannotBeWrittenEndsTheThreadAndReleasesThePort) {
  Events ev;
  ev.Attach(*gsm);
  gsm->SetLog(true);  // with no file name
  OpenQuiet();
  modem->Push("OK\r\n");
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(ev.disconnects, 1);
  EXPECT_FALSE(modem->IsOpen());
}

TEST_F(ReaderThread, WhilePausedInputStaysQueuedAndIsNotDispatched) {
  Events ev;
  ev.Attach(*gsm);
  OpenQuiet();
  PauseReader();
  modem->Push("\r\nRING\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(5 * 600 / static_cast<int>(testing::kClockSpeed)));
  EXPECT_EQ(ev.receives, 0);
  EXPECT_EQ(modem->Queued(), 8u);
  gsm->SetPause(false);
  ASSERT_TRUE(WaitUntil([&] { return ev.receives > 0; }));
  EXPECT_EQ(ev.AllReceived(), "\r\nRING\r\n");
}

TEST_F(ReaderThread, AnExceptionFromAHandlerEndsTheThreadAndTheComponentKnows) {
  Events ev;
  ev.Attach(*gsm);
  gsm->OnReceive = [](TObject*, const AnsiString&) { throw std::runtime_error("handler failed"); };
  OpenQuiet();
  modem->Push("\r\nRING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(ev.disconnects, 1);
  EXPECT_FALSE(modem->IsOpen());
  EXPECT_THROW(gsm->ExecuteATCommand("AT", '\r'), EVeskGSMException);
  gsm->Close();  // harmless
  gsm->OnReceive = nullptr;
  EXPECT_TRUE(gsm->Open(true));
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
}

TEST_F(ReaderThread, WithSynchronizationEventsRunOnTheMainThread) {
  gsm->SetNeedSynchronization(true);
  std::atomic<bool> onMain{false};
  std::atomic<int> faults{0};
  std::thread::id disconnectThread;
  gsm->OnReceive = [&](TObject*, const AnsiString&) { onMain = IsMainThread(); };
  gsm->OnFault = [&](TObject*, TCommPort) { faults += IsMainThread() ? 1 : 100; };
  gsm->OnDisconnect = [&](TObject*, TCommPort) { disconnectThread = std::this_thread::get_id(); };
  modem->SetLines(kModemCTS);
  OpenQuiet();
  modem->Push("OK\r\n");
  ASSERT_TRUE(WaitUntil([&] { return onMain.load(); }));
  modem->SetLines(0);
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(faults, 1);
  EXPECT_NE(disconnectThread, std::this_thread::get_id());
}

TEST_F(ReaderThread, AHandlerOnTheMainThreadMayRunACommand) {
  gsm->SetNeedSynchronization(true);
  modem->On("AT+CSQ", "\r\n+CSQ: 17,99\r\n\r\nOK\r\n");
  std::atomic<int> lines{-1};
  gsm->OnReceive = [&](TObject*, const AnsiString& text) {
    if (text.find("RING") == AnsiString::npos) return;
    TStringList answer;
    lines = gsm->ExecuteATCommand("AT+CSQ", &answer, 15, '\r');
  };
  OpenQuiet();
  modem->Push("\r\nRING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return lines >= 0; }));
  EXPECT_EQ(lines, 2);
}

TEST_F(ReaderThread, CloseFromTheMainThreadDoesNotDeadlockWithSynchronization) {
  gsm->SetNeedSynchronization(true);
  std::atomic<int> calls{0};
  gsm->OnReceive = [&](TObject*, const AnsiString&) { ++calls; };
  OpenQuiet();
  for (int i = 0; i < 5; ++i) modem->Push("OK\r\n");
  gsm->Close();  // runs the pending synchronized dispatch while it waits
  EXPECT_EQ(gsm->IsConnected(), spNone);
}

}  // namespace
}  // namespace vesk
