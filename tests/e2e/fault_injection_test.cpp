// Faults injected end to end: a port that vanishes at the worst moments, a
// modem that floods, dribbles, babbles or falls silent. Each case states
// what must hold afterwards:
//   * it ends within its bound (a generous one: a deadlock, not a speed,
//     is what the bound catches; speeds are measured in bench/);
//   * no crash, and the sanitizers stay quiet;
//   * no message reported twice, none lost that the modem delivered whole;
//   * the connection's events come once each, in the order connect, fault,
//     disconnect;
//   * the component is usable afterwards: it opens again and a command gets
//     its answer.
// The fake port gives the exact moment of a fault; the modem simulator on a
// pseudo-terminal gives the real POSIX backend and a real modem's dialogue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "support/SimulatorFixture.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;
using testing::FakeModem;
using testing::Journal;
using testing::ModemTest;
using testing::WaitUntil;
using Steady = std::chrono::steady_clock;

constexpr char kCtrlZ = '\x1A';

double SecondsSince(Steady::time_point start) { return std::chrono::duration<double>(Steady::now() - start).count(); }

// ================================================================ the fake port

class FaultOnFakePort : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    journal.Attach(*gsm);
  }
  // After a loss: the modem comes back, the component opens again and a
  // command gets its answer.
  void ExpectUsableAfterReplug() {
    modem->Replug();
    ASSERT_TRUE(gsm->Open(true));
    EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
    EXPECT_EQ(gsm->IsConnected(), spCOM3);
  }

  Journal journal;
};

TEST_F(FaultOnFakePort, PortVanishesInTheMiddleOfACommand) {
  OpenQuiet();
  // The modem takes the command and is gone before it answers.
  modem->SetHandler([](FakeModem& m, const std::string& line) {
    if (line != "AT+CSQ") return false;
    m.Vanish();
    return true;
  });
  const auto start = Steady::now();
  int strength = -1;
  try {
    strength = gsm->GetSignalStrength();
  } catch (const EVeskGSMException&) {
    strength = 99;  // the loss noticed as the port failed under the command
  }
  EXPECT_EQ(strength, 99);
  // OnDisconnect comes while the device is still open; the port is
  // forgotten once it is closed, just after.
  ASSERT_TRUE(WaitUntil([&] { return journal.disconnects == 1 && gsm->IsConnected() == spNone; }, 5000));
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(journal.Text(), "CFD");
  EXPECT_TRUE(gsm->GetIsFaulted());
  modem->SetHandler(nullptr);
  ExpectUsableAfterReplug();
  EXPECT_EQ(journal.Text(), "CFDC");
}

// A modem that answers the prompt and the first parts' bodies, then does
// what `afterFirstPart` says with the rest.
class LongSend : public FaultOnFakePort {
 protected:
  void Script(std::function<bool(FakeModem&, const std::string&)> afterFirstPart) {
    modem->SetHandler([this, afterFirstPart](FakeModem& m, const std::string& line) {
      if (bodies >= 1 && afterFirstPart) return afterFirstPart(m, line);
      if (line.rfind("AT+CMGS=", 0) == 0) {
        m.Push("\r\n> ");
        return true;
      }
      if (!line.empty() && line.back() == kCtrlZ) {
        const int n = ++bodies;
        m.Push("\r\n+CMGS: " + std::to_string(n) + "\r\n\r\nOK\r\n");
        return true;
      }
      return false;
    });
  }
  int BodiesWritten() const {
    int n = 0;
    for (char c : modem->Written()) n += c == kCtrlZ;
    return n;
  }
  static WideString ThreeParts() { return Utf8ToWide(std::string(400, 'p')); }

  std::atomic<int> bodies{0};
};

TEST_F(LongSend, PortVanishesBetweenThePartsOfALongMessage) {
  for (bool prompt : {true, false}) {
    SCOPED_TRACE(prompt ? "prompt-driven" : "fixed pauses");
    gsm->SetWaitForPrompt(prompt);
    bodies = 0;
    OpenQuiet();
    // The second part's command finds the modem gone.
    Script([](FakeModem& m, const std::string& line) {
      if (line.rfind("AT+CMGS=", 0) != 0) return false;  // "OK" to the set-up
      m.Vanish();
      return true;
    });
    const int before = BodiesWritten();
    const auto start = Steady::now();
    bool sent = true;
    try {
      sent = gsm->SendSMSAsPDU("+15550123", "", ThreeParts());
    } catch (const EVeskGSMException&) {
      sent = false;  // the port failed under a write
    }
    EXPECT_FALSE(sent);
    EXPECT_LT(SecondsSince(start), 10.0);
    // The first part went once; nothing after the loss.
    EXPECT_EQ(BodiesWritten() - before, 1);
    ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }, 5000))
        << "pause flag " << gsm->PauseFlag() << " events " << journal.Text();
    // Usable again: the whole message goes, three parts.
    Script(nullptr);
    bodies = 0;
    ExpectUsableAfterReplug();
    EXPECT_TRUE(gsm->SendSMSAsPDU("+15550123", "", ThreeParts())) << gsm->GetLastSendError();
    EXPECT_EQ(gsm->GetLastMessageReferences(), (std::vector<int>{1, 2, 3}));
    gsm->Close();
  }
  EXPECT_EQ(journal.Text(), "CFDCDCFDCD");
}

TEST_F(LongSend, ModemStopsAnsweringHalfwayThroughASend) {
  gsm->SetWaitForPrompt(true);
  OpenQuiet();
  std::atomic<bool> silent{true};
  // After the first part: not a byte more, whatever is written.
  Script([&](FakeModem&, const std::string&) { return silent.load(); });
  const int before = BodiesWritten();
  const auto start = Steady::now();
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550123", "", ThreeParts()));
  // The send gives up after its 15 s (of the test's fast clock), not later.
  EXPECT_LT(SecondsSince(start), 15.0);
  EXPECT_FALSE(gsm->GetLastSendError().empty());
  EXPECT_EQ(BodiesWritten() - before, 1);
  // The modem speaks again: the component needs no reopening.
  silent = false;
  Script(nullptr);
  bodies = 0;
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
  EXPECT_TRUE(gsm->SendSMSAsPDU("+15550123", "", ThreeParts())) << gsm->GetLastSendError();
  EXPECT_EQ(bodies, 3);
  EXPECT_EQ(journal.Text(), "C");
}

TEST_F(FaultOnFakePort, PortVanishesWhileASynchronizedEventRuns) {
  gsm->SetNeedSynchronization(true);
  std::atomic<int> rings{0};
  std::atomic<bool> onMainThread{false};
  std::atomic<int> commandOutcome{-1};
  gsm->OnRing = [&](TObject*, const AnsiString&) {
    if (rings++ > 0) return;
    onMainThread = IsMainThread();
    // The port goes while the handler runs, and the handler then uses it.
    modem->Vanish();
    try {
      commandOutcome = gsm->ExecuteATCommand("AT", '\r') ? 1 : 0;
    } catch (const EVeskGSMException&) {
      commandOutcome = 2;
    }
  };
  OpenQuiet();
  modem->Push("\r\nRING\r\n");
  ASSERT_TRUE(WaitUntil([&] { return journal.disconnects == 1; }, 5000));
  EXPECT_TRUE(onMainThread);
  EXPECT_EQ(rings, 1);
  // Either the command found the port failing (raised) or got no answer.
  EXPECT_TRUE(commandOutcome == 0 || commandOutcome == 2) << commandOutcome;
  EXPECT_EQ(journal.Text(), "CFD");
  ExpectUsableAfterReplug();
}

TEST_F(FaultOnFakePort, PortVanishesDuringClose) {
  // Close on the main thread and the loss on another, at once, many times:
  // each connection ends once, whichever wins.
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    if (round > 0) modem->Replug();
    ASSERT_TRUE(gsm->Open(true));
    std::thread loss([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
      modem->Vanish();
    });
    const auto start = Steady::now();
    gsm->Close();
    EXPECT_LT(SecondsSince(start), 3.0);
    loss.join();
    ASSERT_TRUE(WaitUntil([&] { return journal.disconnects == round + 1; }, 5000));
    EXPECT_EQ(gsm->IsConnected(), spNone);
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(journal.connects, 20);
  EXPECT_EQ(journal.disconnects, 20);
  EXPECT_LE(journal.faults, 20);
  // Per connection: C, maybe F, then D.
  const std::string text = journal.Text();
  for (std::size_t i = 0; i < text.size();) {
    ASSERT_EQ(text[i], 'C') << text;
    ++i;
    if (i < text.size() && text[i] == 'F') ++i;
    ASSERT_LT(i, text.size()) << text;
    ASSERT_EQ(text[i], 'D') << text;
    ++i;
  }
  ExpectUsableAfterReplug();
}

TEST_F(FaultOnFakePort, PortVanishesDuringDestruction) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const AnsiString name = "/dev/fake" + std::to_string(round);
    auto modemHere = platform->Add(name);
    modemHere->SetDefaultReply("\r\nOK\r\n");
    auto doomed = std::make_unique<testing::TestGSM>();
    Journal events;
    events.Attach(*doomed);
    std::atomic<int> receives{0};
    doomed->OnReceive = [&](TObject*, const AnsiString&) { ++receives; };
    doomed->SetSerialPlatform(platform);
    doomed->SetCustomPortName(name);
    ASSERT_TRUE(doomed->Open(true));
    modemHere->Push("\r\nRING\r\n");
    std::thread loss([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
      modemHere->Vanish();
    });
    const auto start = Steady::now();
    doomed.reset();
    EXPECT_LT(SecondsSince(start), 3.0);
    loss.join();
    // Nothing comes after the destructor returned.
    const std::string atEnd = events.Text();
    const int receivesAtEnd = receives;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(events.Text(), atEnd);
    EXPECT_EQ(receives, receivesAtEnd);
    EXPECT_TRUE(atEnd == "C" || atEnd == "CF" || atEnd == "CFD" || atEnd == "CD") << atEnd;
  }
  // The machine's other component is untouched and usable.
  OpenQuiet();
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
}

// ================================================================ the simulator

struct Received {
  std::string text;
  AnsiString phone;
  bool listing;
  std::vector<int> indexes;
};

// The fixed pauses run this many times faster. Not more: the bound on how
// long the dispatcher waits for the rest of an answer (2 s of this clock)
// must stay well above the stalls of a loaded machine.
constexpr double kSimClockSpeed = 4;

class FaultOnSimulator : public testing::SimulatorTest {
 protected:
  FaultOnSimulator() : SimulatorTest(kSimClockSpeed) {}
  void TearDown() override {
    // The whole transcript to a file, when asked for.
    if (HasFailure() && simulator)
      if (const char* dump = std::getenv("VESK_TRANSCRIPT")) std::ofstream(dump) << simulator->TranscriptText();
    SimulatorTest::TearDown();
  }
  void Start(sim::ModemConfig config) {
    StartSimulator(std::move(config), br004800);
    journal.Attach(*gsm);
    gsm->OnReadMessage = [this](TObject*, const WideString& text, const AnsiString& phone, const AnsiString&,
                                TDateTime, int, int) {
      Received r{WideToUtf8(text), phone, gsm->GetIsListing(), gsm->GetMessageIndexes()};
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back(std::move(r));
    };
    gsm->OnError = [this](TObject*, const AnsiString& text) {
      std::lock_guard<std::mutex> lock(mutex);
      errors.push_back(text);
    };
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return received.size();
  }
  std::vector<Received> All() {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
  }
  std::size_t Errors() {
    std::lock_guard<std::mutex> lock(mutex);
    return errors.size();
  }
  // Delivers `count` messages and expects each reported once, whole.
  void ExpectDeliveredOnceEach(int count, const std::string& tag) {
    const std::size_t before = Count();
    std::map<std::string, int> expected;
    for (int i = 0; i < count; ++i) {
      sim::IncomingSms sms;
      sms.text = tag + " message " + std::to_string(i) + " with some words in it";
      ASSERT_EQ(simulator->DeliverSms(sms).size(), 1u);
      ++expected[sms.text];
    }
    ASSERT_TRUE(WaitUntil([&] { return Count() >= before + static_cast<std::size_t>(count); }, 15000))
        << Count() - before;
    WaitUntil([] { return false; }, 300);  // nothing more comes
    const auto all = All();
    ASSERT_EQ(all.size(), before + static_cast<std::size_t>(count));
    for (std::size_t i = before; i < all.size(); ++i) {
      EXPECT_EQ(all[i].phone, "+15550123");
      EXPECT_EQ(expected[all[i].text]--, 1) << "unexpected or repeated: " << all[i].text;
    }
  }
  // The component answers a command correctly.
  void ExpectUsable() {
    EXPECT_EQ(gsm->GetIMEI(), "490154203237518");
    EXPECT_EQ(gsm->GetSignalStrength(), 23);
  }

  Journal journal;
  std::mutex mutex;
  std::vector<Received> received;
  std::vector<AnsiString> errors;
};

TEST_F(FaultOnSimulator, TheModemFloodsTenThousandUnsolicitedLines) {
  Start({});
  std::atomic<int> rings{0};
  gsm->OnRing = [&](TObject*, const AnsiString&) { ++rings; };
  OpenAndSetUp();
  constexpr int kLines = 10000;
  const auto start = Steady::now();
  simulator->SendErrorBurst(kLines, "RING");
  ASSERT_TRUE(WaitUntil([&] { return rings >= kLines; }, 60000)) << rings;
  EXPECT_LT(SecondsSince(start), 60.0);
  WaitUntil([] { return false; }, 200);
  EXPECT_EQ(rings, kLines);  // none lost, none twice
  EXPECT_EQ(Errors(), 0u);
  ExpectUsable();
  ExpectDeliveredOnceEach(3, "after the flood");
  EXPECT_EQ(journal.Text(), "C");
}

TEST_F(FaultOnSimulator, AnswersComeByteByByteWithDelays) {
  sim::ModemConfig config;
  config.quirks.maxWriteChunk = 1;  // one byte a write, 2 ms apart
  config.quirks.answerDelay = 30ms;
  Start(config);
  OpenAndSetUp();
  ExpectUsable();
  ExpectDeliveredOnceEach(3, "dribbled");
  EXPECT_EQ(Errors(), 0u);
}

TEST_F(FaultOnSimulator, GarbageAndNulBytesAreSurvived) {
  Start({});
  OpenAndSetUp();
  for (unsigned seed = 1; seed <= 4; ++seed) {
    simulator->SendGarbage(1000, seed);
    simulator->SendRaw(std::string("\0\0\r\n\0AT\0\r\n\0", 11));
  }
  ASSERT_TRUE(simulator->WaitForOutputDrained(5000ms));
  // The garbage may raise OnReceive and, where it spells a marker by
  // chance, other events; what must hold is that the dialogue goes on.
  WaitUntil([] { return false; }, 300);
  ExpectUsable();
  ExpectDeliveredOnceEach(3, "after the garbage");
  // Control bytes between two deliveries: the next ones come whole.
  simulator->SendRaw(std::string("\x00\xff\x1a\x1b\r\x00", 6));
  ExpectDeliveredOnceEach(2, "after NULs");
  EXPECT_EQ(journal.Text(), "C");
}

TEST_F(FaultOnSimulator, AListingOf255MessagesCutByALostPortIsWholeTheNextTime) {
  sim::ModemConfig config;
  config.simCapacity = 255;
  config.quirks.pacingBitsPerSecond = 115200;  // the listing takes about 2 s
  // A slower clock still: the listing is long, and a stall of the loaded
  // machine must not reach the bound of a held answer.
  SetClock(std::make_shared<ScaledClock>(2));
  Start(config);
  gsm->SetAutoReconnect(true);
  gsm->SetAutoReconnectCheckInterval(200);
  OpenAndSetUp();
  constexpr int kMessages = 255;
  std::map<int, std::string> byIndex;
  for (int i = 0; i < kMessages; ++i) {
    sim::IncomingSms sms;
    sms.text = "Stored message " + std::to_string(i);
    sms.storage = "SM";
    sms.announce = false;
    auto parts = simulator->DeliverSms(sms);
    ASSERT_EQ(parts.size(), 1u);
    byIndex[parts[0].index] = sms.text;
  }
  gsm->GetAllSMS("SM", 4);
  ASSERT_TRUE(WaitUntil([&] { return Count() >= 20; }, 20000)) << Count();
  simulator->Unplug();
  ASSERT_TRUE(WaitUntil([&] { return journal.disconnects == 1; }, 10000));
  // What came before the loss came whole and once.
  const auto first = All();
  EXPECT_LT(first.size(), static_cast<std::size_t>(kMessages));
  std::set<int> seen;
  for (const Received& r : first) {
    ASSERT_EQ(r.indexes.size(), 1u);
    EXPECT_TRUE(seen.insert(r.indexes[0]).second) << "twice: " << r.indexes[0];
    EXPECT_EQ(r.text, byIndex[r.indexes[0]]);
  }
  simulator->Plug();
  ASSERT_TRUE(WaitUntil([&] { return journal.connects == 2; }, 10000));
  ASSERT_TRUE(simulator->WaitForCommand("ATE0", 10000ms, 2));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp() && !gsm->PauseFlag(); }, 10000));
  {
    std::lock_guard<std::mutex> lock(mutex);
    received.clear();
  }
  gsm->GetAllSMS("SM", 4);
  const bool whole = WaitUntil([&] { return Count() >= kMessages; }, 20000);
  WaitUntil([] { return false; }, 300);
  const auto all = All();
  if (!whole) {
    std::map<int, std::string> missing = byIndex;
    for (const Received& r : all)
      if (!r.indexes.empty()) missing.erase(r.indexes[0]);
    std::string text;
    for (const auto& m : missing) text += " " + std::to_string(m.first);
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& e : errors) text += "\nOnError: " + e;
    FAIL() << all.size() << " reported; missing:" << text;
  }
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kMessages));
  for (const Received& r : all) {
    EXPECT_TRUE(r.listing);
    ASSERT_EQ(r.indexes.size(), 1u);
    EXPECT_EQ(r.text, byIndex[r.indexes[0]]);
    byIndex.erase(r.indexes[0]);
  }
  EXPECT_TRUE(byIndex.empty());
  EXPECT_EQ(journal.Text(), "CFDC");
  ExpectUsable();
}

TEST_F(FaultOnSimulator, ThePortVanishesWhileAMessageIsRead) {
  sim::ModemConfig config;
  config.quirks.pacingBitsPerSecond = 4800;  // the read answer takes a while
  Start(config);
  gsm->SetAutoReconnect(true);
  gsm->SetAutoReconnectCheckInterval(200);
  OpenAndSetUp();
  sim::IncomingSms sms;
  sms.text = std::string(150, 'c');
  simulator->DeliverSms(sms);
  ASSERT_TRUE(simulator->WaitForCommand("AT+CMGR", 10000ms));
  simulator->Unplug();
  ASSERT_TRUE(WaitUntil([&] { return journal.disconnects == 1; }, 10000));
  // Cut before its end: not reported, and certainly not garbled.
  for (const Received& r : All()) EXPECT_EQ(r.text, sms.text);
  simulator->Plug();
  ASSERT_TRUE(WaitUntil([&] { return journal.connects == 2; }, 10000));
  ASSERT_TRUE(simulator->WaitForCommand("ATE0", 10000ms, 2));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp() && !gsm->PauseFlag(); }, 10000));
  ExpectUsable();
  ExpectDeliveredOnceEach(1, "after the replug");
}

}  // namespace
}  // namespace vesk
