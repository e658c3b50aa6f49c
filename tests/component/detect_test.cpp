// The port and line-speed scan on a fake machine: which ports and speeds are
// tried, in which order, what is written, and how the scan ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::FakeModem;
using testing::FakeSerialPlatform;
using testing::TestGSM;
using testing::WaitUntil;

constexpr char kOK[] = "\r\nOK\r\n";

class Scan : public testing::FastClockTest {
 protected:
  void SetUp() override {
    FastClockTest::SetUp();
    platform = std::make_shared<FakeSerialPlatform>();
    gsm = std::make_unique<TestGSM>();
    gsm->SetSerialPlatform(platform);
    gsm->OnDetect = [this](TObject* sender, TCommPort port, TBaudRate speed, bool&) {
      EXPECT_EQ(sender, gsm.get());
      events.push_back({port, speed});
    };
  }
  void TearDown() override {
    gsm.reset();
    FastClockTest::TearDown();
  }

  std::shared_ptr<FakeSerialPlatform> platform;
  std::unique_ptr<TestGSM> gsm;
  std::vector<std::pair<TCommPort, TBaudRate>> events;
};

TEST_F(Scan, StartingAtTheCustomPortTriesNothing) {
  platform->Add("COM3")->SetDefaultReply(kOK);
  TCommPort port = spCOM7;
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(spCustom, br009600, br115200, port, speed));
  EXPECT_EQ(port, spNone);
  EXPECT_EQ(speed, br000300);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(platform->OpenAttempts("COM3"), 0);
}

TEST_F(Scan, AModemAnsweringAtEverySpeedIsFoundAtTheFirstSpeedTried) {
  auto modem = platform->Add("COM3");
  modem->SetDefaultReply(kOK);
  gsm->SetPort(spCOM5);
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(port, spCOM3);
  EXPECT_EQ(speed, br115200);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], std::make_pair(spCOM3, br115200));
  // One probe, in one piece, at 115200 bit/s; the candidate is closed again.
  EXPECT_EQ(modem->Written(), "AT+CRC=1\r");
  EXPECT_EQ(modem->LastSettings().BaudRate, 115200u);
  EXPECT_FALSE(modem->IsOpen());
  // The scan neither opened the component's port nor changed its settings.
  EXPECT_FALSE(gsm->IsConnected());
  EXPECT_EQ(gsm->GetBaudRate(), br004800);
  EXPECT_EQ(gsm->GetPort(), spCOM5);
}

TEST_F(Scan, AModemAnsweringOnlyAt9600IsFoundAfterTheFasterSpeeds) {
  auto modem = platform->Add("COM3");
  modem->SetDefaultReply(kOK);
  modem->SetAnswerSpeed(9600);
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(port, spCOM3);
  EXPECT_EQ(speed, br009600);
  std::vector<std::pair<TCommPort, TBaudRate>> expected = {
      {spCOM3, br115200}, {spCOM3, br057600}, {spCOM3, br038400},
      {spCOM3, br019200}, {spCOM3, br014400}, {spCOM3, br009600},
  };
  EXPECT_EQ(events, expected);
  // A probe at each speed, and the settings of each speed applied before it.
  std::string probes;
  for (int i = 0; i < 6; ++i) probes += "AT+CRC=1\r";
  EXPECT_EQ(modem->Written(), probes);
  EXPECT_EQ(modem->SettingsApplied(), 6);
  EXPECT_EQ(modem->LastSettings().BaudRate, 9600u);
  // The port was opened once for all its speeds.
  EXPECT_EQ(platform->OpenAttempts("COM3"), 1);
}

TEST_F(Scan, TheComponentsOtherLineSettingsApplyAtEachSpeed) {
  auto modem = platform->Add("COM3");
  modem->SetDefaultReply(kOK);
  modem->SetAnswerSpeed(19200);
  gsm->SetDataWidth(dw7Bits);
  gsm->SetParity(pbEven);
  gsm->SetStopBits(sb2Bits);
  gsm->SetHwFlowControl(hfRTSCTS);
  gsm->SetEnableDTROnOpen(false);
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(speed, br019200);
  TLineSettings s = modem->LastSettings();
  EXPECT_EQ(s.BaudRate, 19200u);
  EXPECT_EQ(s.ByteSize, 7);
  EXPECT_EQ(s.Parity, 2);
  EXPECT_EQ(s.StopBits, 2);
  EXPECT_EQ(s.Flags, gsm->LineSettingsFlags());
  EXPECT_TRUE(s.Flags & dcb::RtsHandshake);
  EXPECT_FALSE(s.Flags & dcb::DtrEnable);
}

TEST_F(Scan, AnErrorAnswerIsNotADetection) {
  auto modem = platform->Add("COM3");
  modem->SetDefaultReply("\r\nERROR\r\n");
  TCommPort port = spCOM1;
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(port, spNone);
  EXPECT_EQ(speed, br000300);
  EXPECT_EQ(events.size(), 6u);  // every speed was tried
  EXPECT_FALSE(modem->IsOpen());
}

TEST_F(Scan, AnEchoFollowedByOkIsADetection) {
  auto modem = platform->Add("COM3");
  modem->SetEcho(true);
  modem->SetDefaultReply(kOK);
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(port, spCOM3);
  EXPECT_EQ(speed, br115200);
}

TEST_F(Scan, AnAnswerArrivingAfterTheFirstPollStillCounts) {
  // A slower clock here: the answer must fall between the first poll (50 ms
  // after the probe) and the second (550 ms), whatever the machine's load.
  SetClock(std::make_shared<ScaledClock>(2));
  auto modem = platform->Add("COM3");
  std::atomic<bool> probed{false};
  modem->SetHandler([&](FakeModem&, const std::string& line) {
    if (line == "AT+CRC=1") probed = true;
    return true;  // says nothing now
  });
  std::thread late([&] {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!probed && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(GetClock()->RealDuration(300));
    modem->Push(kOK);
  });
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  bool found = gsm->DetectGSM(br115200, br115200, port, speed);
  late.join();
  EXPECT_TRUE(found);
  EXPECT_EQ(speed, br115200);
}

TEST_F(Scan, CancellingInTheFirstEventWritesNoProbe) {
  auto modem = platform->Add("COM3");
  modem->SetDefaultReply(kOK);
  auto other = platform->Add("COM4");
  other->SetDefaultReply(kOK);
  gsm->OnDetect = [this](TObject*, TCommPort port, TBaudRate speed, bool& cancel) {
    events.push_back({port, speed});
    cancel = true;
  };
  TCommPort port = spCOM9;
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(port, spNone);
  EXPECT_EQ(speed, br000300);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(modem->Written(), "");
  EXPECT_EQ(modem->SettingsApplied(), 0);
  EXPECT_FALSE(modem->IsOpen());
  EXPECT_EQ(platform->OpenAttempts("COM4"), 0);

  // The next scan starts uncancelled.
  gsm->OnDetect = nullptr;
  EXPECT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(port, spCOM3);
}

TEST_F(Scan, APortMissingFromTheListIsNeitherOpenedNorReported) {
  auto hidden = platform->Add("COM2", /*listed=*/false);
  hidden->SetDefaultReply(kOK);
  auto silent = platform->Add("COM5");
  TCommPort port = spCOM1;
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(spCOM1, br057600, br115200, port, speed));
  EXPECT_EQ(port, spNone);
  EXPECT_EQ(platform->OpenAttempts("COM2"), 0);
  EXPECT_EQ(hidden->Written(), "");
  std::vector<std::pair<TCommPort, TBaudRate>> expected = {{spCOM5, br115200}, {spCOM5, br057600}};
  EXPECT_EQ(events, expected);
  EXPECT_FALSE(silent->IsOpen());
}

TEST_F(Scan, PortsBelowTheStartPortAreNotTried) {
  platform->Add("COM2")->SetDefaultReply(kOK);
  platform->Add("COM6")->SetDefaultReply(kOK);
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(spCOM3, br115200, br115200, port, speed));
  EXPECT_EQ(port, spCOM6);
  EXPECT_EQ(platform->OpenAttempts("COM2"), 0);
}

TEST_F(Scan, APortThatCannotBeOpenedIsSkippedWithoutAnEvent) {
  auto busy = platform->Add("COM2");
  busy->SetDefaultReply(kOK);
  platform->SetOpenError("COM2", 16);  // EBUSY: another program has it
  platform->Add("COM4")->SetDefaultReply(kOK);
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(port, spCOM4);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, spCOM4);
}

TEST_F(Scan, TheNameScanReportsACustomNamedPortAsCustom) {
  auto modem = platform->Add("CNCA0");
  modem->SetDefaultReply(kOK);
  UnicodeString port = u"stale";
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(port, u"CNCA0");
  EXPECT_EQ(speed, br115200);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], std::make_pair(spCustom, br115200));
  // The number scan leaves a named port alone.
  TCommPort number = spCOM1;
  events.clear();
  EXPECT_FALSE(gsm->DetectGSM(br009600, br115200, number, speed));
  EXPECT_TRUE(events.empty());
}

TEST_F(Scan, TheNameScanKeepsDevicePathsAsListed) {
  // Device paths are case-sensitive: the scan opens and returns the name
  // exactly as the list gives it.
  platform->SetCaseSensitive(true);
  auto silent = platform->Add("/dev/ttyACM0");
  auto modem = platform->Add("/dev/ttyUSB0");
  modem->SetDefaultReply(kOK);
  UnicodeString port;
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(br115200, br115200, port, speed));
  EXPECT_EQ(port, u"/dev/ttyUSB0");
  EXPECT_EQ(platform->OpenAttempts("/dev/ttyACM0"), 1);
  EXPECT_EQ(platform->OpenAttempts("/dev/ttyUSB0"), 1);
  std::vector<std::pair<TCommPort, TBaudRate>> expected = {{spCustom, br115200}, {spCustom, br115200}};
  EXPECT_EQ(events, expected);
}

TEST_F(Scan, NothingAnsweringGivesFalseWithEmptyName) {
  platform->Add("COM1");
  UnicodeString port = u"stale";
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(br057600, br115200, port, speed));
  EXPECT_EQ(port, u"");
  EXPECT_EQ(speed, br000300);
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(Scan, AnEmptySpeedRangeTriesNoSpeed) {
  auto modem = platform->Add("COM3");
  modem->SetDefaultReply(kOK);
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(br115200, br009600, port, speed));
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(modem->Written(), "");
  EXPECT_FALSE(modem->IsOpen());
}

TEST_F(Scan, SpeedsOutsideTheEnumerationAreRefusedQuietly) {
  auto modem = platform->Add("COM3");
  modem->SetDefaultReply(kOK);
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(br009600, static_cast<TBaudRate>(200), port, speed));
  EXPECT_FALSE(gsm->DetectGSM(static_cast<TBaudRate>(99), static_cast<TBaudRate>(200), port, speed));
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(modem->Written(), "");
}

TEST_F(Scan, AnExceptionFromTheHandlerReachesTheCallerAndClosesThePort) {
  auto modem = platform->Add("COM3");
  modem->SetDefaultReply(kOK);
  gsm->OnDetect = [](TObject*, TCommPort, TBaudRate, bool&) { throw std::runtime_error("progress bar gone"); };
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  EXPECT_THROW(gsm->DetectGSM(br009600, br115200, port, speed), std::runtime_error);
  EXPECT_FALSE(modem->IsOpen());
  EXPECT_EQ(modem->Written(), "");
  // The port can be opened again at once.
  gsm->OnDetect = nullptr;
  EXPECT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
}

TEST_F(Scan, ALineErrorOrAFailingPortIsNotADetection) {
  auto modem = platform->Add("COM3");
  modem->SetDefaultReply(kOK);
  modem->SetRefuseLineSettings(true);  // no speed can be set: nothing is written
  auto gone = platform->Add("COM4");
  gone->SetDefaultReply(kOK);
  gsm->OnDetect = [&](TObject*, TCommPort p, TBaudRate s, bool&) {
    events.push_back({p, s});
    if (p == spCOM4) gone->HangUp();  // the device fails under the scan
  };
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(br057600, br115200, port, speed));
  EXPECT_EQ(modem->Written(), "");
  EXPECT_EQ(gone->Written(), "");
  EXPECT_EQ(events.size(), 4u);
}

TEST_F(Scan, TheComponentsOwnPortIsSkippedAndUndisturbed) {
  auto own = platform->Add("COM3");
  own->SetDefaultReply(kOK);
  auto other = platform->Add("COM4");
  other->SetDefaultReply(kOK);
  gsm->SetPort(spCOM3);
  ASSERT_TRUE(gsm->Open(true));
  ASSERT_TRUE(WaitUntil([&] { return own->SettingsApplied() > 0; }));
  int settings = own->SettingsApplied();
  int purges = own->RxPurges();
  std::size_t lines = own->Lines().size();

  TCommPort port = spNone;
  TBaudRate speed = br000300;
  ASSERT_TRUE(gsm->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(port, spCOM4);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, spCOM4);
  // Not even an attempt to open it, and its line untouched.
  EXPECT_EQ(platform->OpenAttempts("COM3"), 1);
  EXPECT_EQ(own->SettingsApplied(), settings);
  EXPECT_EQ(own->RxPurges(), purges);
  EXPECT_EQ(own->Lines().size(), lines);
  EXPECT_TRUE(gsm->IsConnected());
  EXPECT_TRUE(gsm->ExecuteATCommand("AT"));

  // The same port under the name scan.
  UnicodeString name;
  events.clear();
  ASSERT_TRUE(gsm->DetectGSM(br115200, br115200, name, speed));
  EXPECT_EQ(name, u"COM4");
  EXPECT_EQ(platform->OpenAttempts("COM3"), 1);
  gsm->Close();
  // Once closed, it is a candidate like any other.
  events.clear();
  ASSERT_TRUE(gsm->DetectGSM(br115200, br115200, port, speed));
  EXPECT_EQ(port, spCOM3);
}

TEST_F(Scan, PendingMainThreadWorkRunsDuringTheScan) {
  // The component's own port delivers its events on the main thread; a scan
  // on another port lets them through while it waits.
  auto own = platform->Add("COM3");
  own->SetDefaultReply(kOK);
  platform->Add("COM4");  // silent
  gsm->SetPort(spCOM3);
  gsm->SetNeedSynchronization(true);
  std::atomic<bool> scanning{false};
  std::atomic<bool> receivedWhileScanning{false};
  gsm->OnReceive = [&](TObject*, const AnsiString& text) {
    if (scanning && text.find("RING") != AnsiString::npos) receivedWhileScanning = true;
  };
  ASSERT_TRUE(gsm->Open(true));
  ASSERT_TRUE(WaitUntil([&] { return own->SettingsApplied() > 0; }));
  gsm->OnDetect = [&](TObject*, TCommPort, TBaudRate, bool&) {
    if (!scanning.exchange(true)) own->Push("\r\nRING\r\n");
  };
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  EXPECT_FALSE(gsm->DetectGSM(spCOM4, br057600, br115200, port, speed));
  EXPECT_TRUE(receivedWhileScanning);
}

TEST_F(Scan, AHandlerThatDestroysTheComponentEndsTheScan) {
  platform->Add("COM3")->SetDefaultReply(kOK);
  auto* raw = gsm.get();
  gsm->OnDetect = [&](TObject*, TCommPort, TBaudRate, bool&) {
    events.push_back({spCOM3, br115200});
    gsm.reset();
  };
  TCommPort port = spNone;
  TBaudRate speed = br000300;
  EXPECT_FALSE(raw->DetectGSM(br009600, br115200, port, speed));
  EXPECT_EQ(events.size(), 1u);
  EXPECT_EQ(gsm, nullptr);
}

}  // namespace
}  // namespace vesk
