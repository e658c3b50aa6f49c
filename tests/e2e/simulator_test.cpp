// The library against the modem simulator: a realistic modem on a
// pseudo-terminal, reached through the real POSIX backend.
#include <gtest/gtest.h>

#include <atomic>

#include "support/SimulatorFixture.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk {
namespace {

using testing::WaitUntil;
using namespace std::chrono_literals;

class OnSimulator : public testing::SimulatorTest {
 protected:
  void Start(sim::ModemConfig config = {}) {
    StartSimulator(std::move(config));
    RecordReceived();
  }
  // Reads a stored message in PDU mode and decodes it.
  WideString ReadAndDecode(int index, bool& skip) {
    TStringList lines;
    gsm->ExecuteATCommand("AT+CMGR=" + IntToStr(index), &lines, 15, '\r');
    // "+CMGR: <stat>,,<length>", the PDU, "OK"
    EXPECT_EQ(lines.Count(), 3) << WideToAnsi(lines.Count() ? lines[0] : u"");
    if (lines.Count() < 2) return u"?";
    AnsiString phone, centre;
    TDateTime stamp = 0;
    int zone = 0;
    return gsm->PDUSMSToString(WideToAnsi(lines[1]), phone, centre, stamp, zone, skip);
  }

  std::mutex mutex;
};

TEST_F(OnSimulator, OpeningSetsTheModemUp) {
  Start();
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return !gsm->PauseFlag(); }));
  sim::ModemState state = simulator->State();
  EXPECT_TRUE(state.clip);
  EXPECT_TRUE(state.crc);
  EXPECT_EQ(state.characterSet, "GSM");
  EXPECT_EQ(state.cnmi[0], 2);
  EXPECT_EQ(state.cnmi[1], 1);
  EXPECT_FALSE(state.echo);
  EXPECT_EQ(state.clientLineSpeed, 115200u);
  EXPECT_EQ(gsm->TestGSMModemCapabilities(), 254);
  EXPECT_EQ(simulator->State().messageFormat, 0);  // the probes leave PDU mode on
}

TEST_F(OnSimulator, ANewMessageIsAnnouncedAndDecodes) {
  Start();
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  sim::IncomingSms sms;
  sms.text = "Vesk: 42 @ home";  // ends in neither padding nor "@"; "@" is code 0
  auto parts = simulator->DeliverSms(sms);
  ASSERT_EQ(parts.size(), 1u);
  // The reader thread hands the notice over in capitals.
  ASSERT_TRUE(WaitUntil([&] { return ReceivedText().find("+CMTI: \"SM\"," + std::to_string(parts[0].index)) !=
                                      AnsiString::npos; }));
  bool skip = true;
  EXPECT_EQ(ReadAndDecode(parts[0].index, skip), u"Vesk: 42 @ home");
  EXPECT_FALSE(skip);
}

TEST_F(OnSimulator, ALongMessageArrivingOutOfOrderIsJoinedOnce) {
  Start();
  std::vector<WideString> texts;
  std::vector<std::vector<int>> indexes;
  gsm->OnReadMessage = [&](TObject*, const WideString& text, const AnsiString&, const AnsiString&, TDateTime, int,
                           int) {
    std::lock_guard<std::mutex> lock(mutex);
    texts.push_back(text);
    indexes.push_back(gsm->GetMessageIndexes());
  };
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  sim::IncomingSms sms;
  std::string text;
  for (int i = 0; i < 30; ++i) text += "part" + std::to_string(i) + " {x} ";  // 380 septets: three parts
  sms.text = text;
  sms.partOrder = {3, 1, 2};
  sms.reference = 77;
  auto parts = simulator->DeliverSms(sms);
  ASSERT_EQ(parts.size(), 3u);
  // The notices are read by themselves; the last part completes the text.
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return !texts.empty();
  }));
  ASSERT_TRUE(simulator->WaitForCommand("AT+CMGR=" + std::to_string(parts[2].index), 5000ms));
  std::this_thread::sleep_for(200ms);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], Utf8ToWide(text));
  // Parts 1, 2, 3 are stored where they arrived: parts[1], parts[2], parts[0].
  EXPECT_EQ(indexes[0], (std::vector<int>{parts[1].index, parts[2].index, parts[0].index}));
}

TEST_F(OnSimulator, TextModeAnswersParse) {
  Start();
  gsm->SetMessageFormat(mfText);
  // The test reads the message itself: an automatic read first would mark
  // it read.
  gsm->SetAutoReadNewMessage(false);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  sim::IncomingSms sms;
  sms.text = "hello";
  auto parts = simulator->DeliverSms(sms);
  TStringList lines;
  ASSERT_EQ(gsm->ExecuteATCommand("AT+CMGR=" + IntToStr(parts[0].index), &lines, 15, '\r'), 3);
  AnsiString header = WideToAnsi(lines[0]);
  ASSERT_EQ(header.rfind("+CMGR: ", 0), 0u) << header;
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0, status = -2;
  WideString text =
      gsm->TextSMSToString(header.substr(7) + "\r\n" + WideToAnsi(lines[1]) + "\r\n", phone, centre, stamp, zone, status);
  EXPECT_EQ(text, u"hello");
  EXPECT_EQ(phone, "+15550123");
  EXPECT_EQ(centre, "+15550100");
  EXPECT_EQ(status, 0);  // REC UNREAD
  EXPECT_DOUBLE_EQ(stamp, EncodeDateTime(2019, 3, 14, 15, 9, 26, 0));
  EXPECT_EQ(zone, 8);
}

TEST_F(OnSimulator, AnswersInPiecesAndLowerCase) {
  sim::ModemConfig config;
  config.quirks.answerPieces = 4;
  config.quirks.pieceDelay = 5ms;
  Start(config);
  ASSERT_TRUE(gsm->Open(true));
  TStringList lines;
  ASSERT_EQ(gsm->ExecuteATCommand("AT+CSQ", &lines, 15, '\r'), 3);  // echo, answer, OK
  EXPECT_EQ(lines[1], u"+CSQ: 23,99");
  sim::Quirks quirks = simulator->GetQuirks();
  quirks.lowerCase = true;
  simulator->SetQuirks(quirks);
  EXPECT_TRUE(gsm->ExecuteATCommand("ATE0", '\r'));  // "ok" in lower case is OK
  EXPECT_EQ(gsm->ExecuteATCommand("AT+CGSN", &lines, 15, '\r'), 2);
  EXPECT_EQ(lines[0], u"490154203237518");
}

TEST_F(OnSimulator, ASilentModemAndNoiseLeaveTheComponentWorking) {
  Start();
  ASSERT_TRUE(gsm->Open(true));
  sim::Quirks quirks;
  quirks.neverAnswers = true;
  simulator->SetQuirks(quirks);
  EXPECT_FALSE(gsm->ExecuteATCommand("AT", '\r'));  // after its time-out
  simulator->SetQuirks(sim::Quirks{});
  simulator->SendGarbage(500, 7);
  simulator->SendErrorBurst(5, "+CME ERROR: 100");
  ASSERT_TRUE(simulator->WaitForOutputDrained(2000ms));
  ASSERT_TRUE(WaitUntil([&] { return ReceivedText().find("+CME ERROR: 100") != AnsiString::npos; }));
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
  EXPECT_EQ(gsm->IsConnected(), spCustom);
}

TEST_F(OnSimulator, ACallRings) {
  Start();
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  sim::IncomingCall call;
  call.rings = 1;
  simulator->Ring(call);
  ASSERT_TRUE(WaitUntil([&] { return ReceivedText().find("+CLIP: \"+15550123\",145") != AnsiString::npos; }));
  EXPECT_NE(ReceivedText().find("+CRING: VOICE"), AnsiString::npos);
}

TEST_F(OnSimulator, UnpluggedAndPluggedBackItIsReopenedAndSetUpAgain) {
  Start();
  std::atomic<int> connects{0}, faults{0}, disconnects{0};
  gsm->OnConnect = [&](TObject*, TCommPort) { ++connects; };
  gsm->OnFault = [&](TObject*, TCommPort) { ++faults; };
  gsm->OnDisconnect = [&](TObject*, TCommPort) { ++disconnects; };
  gsm->SetAutoReconnect(true);
  gsm->SetAutoReconnectCheckInterval(500);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  simulator->Unplug();
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsConnected() == spNone; }));
  EXPECT_EQ(faults, 1);
  EXPECT_EQ(disconnects, 1);
  simulator->Plug();
  ASSERT_TRUE(WaitUntil([&] { return connects == 2; }, 10000));
  ASSERT_TRUE(simulator->WaitForCommand("ATE0", 5000ms, 2));  // set up again
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }, 5000));
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
  EXPECT_FALSE(gsm->GetIsFaulted());
}

}  // namespace
}  // namespace vesk
