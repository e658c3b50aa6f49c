// The component's own reads and writes, and the AT command engine with the
// modem set-up built on it, as wire dialogues with the fake modem.
#include <gtest/gtest.h>

#include <atomic>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::FakeModem;
using testing::ModemTest;
using testing::WaitUntil;

std::vector<std::string> Texts(const TStrings& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(WideToAnsi(list[i]));
  return out;
}

using PortIO = ModemTest;

TEST_F(PortIO, SendStringWritesUpToTheFirstZeroByte) {
  OpenQuiet();
  std::vector<AnsiString> sent;
  gsm->OnSend = [&](TObject*, const AnsiString& text) { sent.push_back(text); };
  EXPECT_EQ(gsm->SendString(AnsiString("AT\0+CSQ\r", 8)), 2u);
  EXPECT_EQ(modem->Written(), "AT");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], "AT");
  EXPECT_EQ(gsm->SendString(""), 0u);
  EXPECT_EQ(sent.size(), 1u);  // nothing written, no event
}

TEST_F(PortIO, AFailingOnSendHandlerReachesTheCallerAsItself) {
  OpenQuiet();
  gsm->OnSend = [](TObject*, const AnsiString&) { throw std::runtime_error("handler failed"); };
  try {
    gsm->SendString("AT\r");
    FAIL();
  } catch (const EVeskGSMException& e) {
    FAIL() << "turned into " << e.what();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "handler failed");
  }
  // The bytes went; the connection is as it was.
  EXPECT_EQ(modem->Written(), "AT\r");
  gsm->OnSend = nullptr;
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
}

TEST_F(PortIO, AWriteThatFailsIsTheNotOpenError) {
  OpenQuiet();
  PauseReader();  // the loss is found by the write, not by the reader
  modem->HangUp();
  try {
    gsm->SendString("AT\r");
    FAIL();
  } catch (const EVeskGSMException& e) {
    EXPECT_STREQ(e.what(), "COM3 is not open. GSM Modem is not connected.");
  }
}

TEST_F(PortIO, ReadsNeedAnOpenPort) {
  EXPECT_THROW(gsm->SendString("AT"), EVeskGSMException);
  EXPECT_THROW(gsm->ReadString(), EVeskGSMException);
  EXPECT_THROW(gsm->ReadBuffer(), EVeskGSMException);
  EXPECT_THROW(gsm->ExecuteATCommand("AT", '\r'), EVeskGSMException);
  EXPECT_FALSE(gsm->ClearInputBuffer());
  EXPECT_EQ(gsm->ReadChar(), "");
  EXPECT_EQ(gsm->ReadStringUpToEndChars("OK", "ERROR", 1), "");
  EXPECT_FALSE(gsm->PauseFlag());
}

TEST_F(PortIO, ReadStringTakesWhatIsQueuedAndDispatchesIt) {
  OpenQuiet();
  PauseReader();  // keep the reader thread away for this test
  std::vector<AnsiString> received;
  gsm->OnReceive = [&](TObject*, const AnsiString& text) { received.push_back(text); };
  EXPECT_EQ(gsm->ReadString(), "");
  gsm->SetReadBufferField("left");
  EXPECT_EQ(gsm->ReadString(), "");
  EXPECT_EQ(gsm->ReadBufferField(), "left");  // nothing read, nothing replaced
  modem->Push("\r\nring\r\n");
  EXPECT_EQ(gsm->ReadString(), "\r\nring\r\n");  // returned as it came
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], "LEFT\r\nRING\r\n");  // with the text that waited, in capitals
  modem->Push("raw");
  EXPECT_EQ(gsm->ReadBuffer(), "raw");
  EXPECT_EQ(received.size(), 1u);  // ReadBuffer does not dispatch
}

TEST_F(PortIO, ClearInputBufferDropsWhatIsWaiting) {
  OpenQuiet();
  PauseReader();
  modem->Push("stale");
  EXPECT_TRUE(gsm->ClearInputBuffer());
  EXPECT_EQ(modem->Queued(), 0u);
}

TEST_F(PortIO, TheEndMarkerReadStopsAtTheLastByteOfTheMarker) {
  OpenQuiet();
  PauseReader();
  modem->Push("\r\n+CME ERROR: 10\r\n");
  EXPECT_EQ(gsm->ReadStringUpToEndChars("OK", "ERROR", 15), "\r\n+CME ERROR");
  EXPECT_EQ(gsm->ReadBuffer(), ": 10\r\n");  // the rest stays queued
  modem->Push("\r\nok\r\n");
  EXPECT_EQ(gsm->ReadStringUpToEndChars("OK", "ERROR", 15), "\r\nok");
  modem->Push("xx>yy");
  EXPECT_EQ(gsm->ReadStringUpToEndChars(">", "", 15), "\r\nxx>");  // an empty second marker means the first
  EXPECT_EQ(gsm->ReadStringUpToEndChars("", "OK", 15), "");   // no first marker: nothing to wait for
}

TEST_F(PortIO, TheEndMarkerReadTimesOutAndDispatchesWhatCame) {
  OpenQuiet();
  PauseReader();
  std::vector<AnsiString> received;
  gsm->OnReceive = [&](TObject*, const AnsiString& text) { received.push_back(text); };
  modem->Push("\r\n+CMGS: 12");
  TDateTime start = Now();
  EXPECT_EQ(gsm->ReadStringUpToEndChars("OK", "ERROR", 2), "");
  double seconds = (Now() - start) * 86400;
  EXPECT_GE(seconds, 1.9);  // measured on the monotonic clock, read here on the calendar one
  EXPECT_LT(seconds, 8.0);  // generous: the clock runs fast, so scheduling delays count many times
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], "\r\n+CMGS: 12");
}

TEST_F(PortIO, TheEndMarkerReadReturnsAsSoonAsTheMarkerArrives) {
  OpenQuiet();
  PauseReader();
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    modem->Push("\r\nO");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    modem->Push("K\r\n");
  });
  EXPECT_EQ(gsm->ReadStringUpToEndChars("OK", "ERROR", 15), "\r\nOK");
  late.join();
}

// ---------------------------------------------------------------- the command engine

using Engine = ModemTest;

TEST_F(Engine, EchoAndOkGiveTwoLinesAndTrue) {
  modem->SetEcho(true);
  OpenQuiet();
  TStringList lines;
  EXPECT_EQ(gsm->ExecuteATCommand("AT", &lines, 15, '\r'), 2);
  EXPECT_EQ(Texts(lines), (std::vector<std::string>{"AT", "OK"}));
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
  EXPECT_EQ(modem->Lines(), (std::vector<std::string>{"AT", "AT"}));
  EXPECT_FALSE(gsm->PauseFlag());
}

TEST_F(Engine, AnErrorAnswerIsFalseAndListsTheLinesUpToTheMarker) {
  modem->On("AT+CPIN=\"0000\"", "\r\n+CME ERROR: 16\r\n");
  OpenQuiet();
  TStringList lines;
  EXPECT_EQ(gsm->ExecuteATCommand("AT+CPIN=\"0000\"", &lines, 15, '\r'), 1);
  EXPECT_EQ(Texts(lines), (std::vector<std::string>{"+CME ERROR: 16"}));
  EXPECT_FALSE(gsm->ExecuteATCommand("AT+CPIN=\"0000\"", '\r'));
}

// Final results are read in any case of letters, like every other result.
TEST_F(Engine, LowerCaseOkIsOk) {
  modem->SetDefaultReply("\r\nok\r\n");
  OpenQuiet();
  TDateTime start = Now();
  EXPECT_TRUE(gsm->ExecuteATCommand("AT", '\r'));
  EXPECT_LT((Now() - start) * 86400, 10.0);  // not the 15 s time-out
  modem->SetDefaultReply("\r\nerror\r\n");
  EXPECT_FALSE(gsm->ExecuteATCommand("AT", '\r'));
}

TEST_F(Engine, ASilentModemGivesFalseAfterFifteenSeconds) {
  modem->SetDefaultReply("");
  OpenQuiet();
  TDateTime start = Now();
  EXPECT_FALSE(gsm->ExecuteATCommand("AT", '\r'));
  double seconds = (Now() - start) * 86400;
  EXPECT_GE(seconds, 15.0);
  EXPECT_LT(seconds, 25.0);
  EXPECT_FALSE(gsm->PauseFlag());
}

TEST_F(Engine, AnUnpairedQuoteJoinsTheFollowingLine) {
  modem->On("AT+CSCA?", "\r\n+CSCA: \"+4477\r\n012\",145\r\nOK\r\n");
  OpenQuiet();
  TStringList lines;
  EXPECT_EQ(gsm->ExecuteATCommand("AT+CSCA?", &lines, 15, '\r'), 2);
  EXPECT_EQ(Texts(lines), (std::vector<std::string>{"+CSCA: \"+4477\r\n012\",145", "OK"}));
}

TEST_F(Engine, UnsolicitedTextBeforeTheCommandStaysOutOfTheAnswer) {
  OpenQuiet();
  PauseReader();  // the RING waits in the queue, as if it had just come
  std::vector<AnsiString> received;
  gsm->OnReceive = [&](TObject*, const AnsiString& text) { received.push_back(text); };
  modem->Push("\r\nRING\r\n");
  TStringList lines;
  EXPECT_EQ(gsm->ExecuteATCommand("AT", &lines, 15, '\r'), 1);
  EXPECT_EQ(Texts(lines), (std::vector<std::string>{"OK"}));
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0], "\r\nRING\r\n");
  EXPECT_EQ(received[1], "\r\nOK\r\n");
}

TEST_F(Engine, WithoutAListTheAnswerIsStillDispatched) {
  OpenQuiet();
  std::vector<AnsiString> received;
  gsm->OnReceive = [&](TObject*, const AnsiString& text) { received.push_back(text); };
  EXPECT_EQ(gsm->ExecuteATCommand("AT", nullptr, 15, '\r'), 0);
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), "\r\nOK\r\n");
}

TEST_F(Engine, CommandsFromTwoThreadsDoNotInterleave) {
  // The modem answers each line only after a while; a second command
  // written before that answer would be an interleaving.
  std::atomic<int> unanswered{0};
  std::atomic<bool> overlapped{false};
  std::mutex repliesLock;
  std::vector<std::thread> replies;
  modem->SetDefaultReply("");
  modem->SetHandler([&](FakeModem& m, const std::string& line) {
    if (unanswered.fetch_add(1) != 0) overlapped = true;
    std::lock_guard<std::mutex> lock(repliesLock);
    replies.emplace_back([&m, &unanswered, line] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      --unanswered;
      m.Push("\r\n" + line + "\r\n\r\nOK\r\n");
    });
    return true;
  });
  OpenQuiet();
  std::atomic<int> okA{0}, okB{0};
  std::thread a([&] {
    for (int i = 0; i < 5; ++i) okA += gsm->ExecuteATCommand("AT+A", '\r');
  });
  std::thread b([&] {
    for (int i = 0; i < 5; ++i) okB += gsm->ExecuteATCommand("AT+B", '\r');
  });
  a.join();
  b.join();
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(okA, 5);
  EXPECT_EQ(okB, 5);
  std::lock_guard<std::mutex> lock(repliesLock);
  for (auto& t : replies) t.join();
}

TEST_F(Engine, ExtractStringsSplitsAtLineEndsAndKeepsQuotedOnesTogether) {
  TStringList list;
  EXPECT_EQ(gsm->ExtractStrings("", "", "\r\n\r\nA\r\n\r\nB 'x\ry' C\n", &list), 2);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"A", "B 'x\ry' C"}));
  list.Clear();
  EXPECT_EQ(gsm->ExtractStrings("", "", "say \"it's\"\r\nnext", &list), 2);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"say \"it's\"", "next"}));
  list.Clear();
  EXPECT_EQ(gsm->ExtractStrings(",", " ", "a, b,,c", &list), 3);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(gsm->ExtractStrings("", "", "", &list), 0);
  EXPECT_EQ(gsm->ExtractStrings("", "", nullptr, &list), 0);
  EXPECT_EQ(gsm->ExtractStrings("", "", "x", nullptr), 0);
}

// ---------------------------------------------------------------- modem set-up

using ModemSetup = ModemTest;

const std::vector<std::string> kDefaultInit = {"AT+CLIP=1;+CRC=1", "AT+CSCS=\"GSM\"", "AT+CNMI=2,1,0,0,0", "ATE0"};
// After them: numeric errors, the character set, the registration reports,
// USSD results.
const std::vector<std::string> kStateInit = {"AT+CMEE=1",  "AT+CSCS?",   "AT+CREG=2",
                                             "AT+CGREG=2", "AT+CEREG=2", "AT+CUSD=1"};

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(ModemSetup, OpenWithoutSkipInitSetsTheModemUp) {
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }));
  EXPECT_EQ(modem->Lines(), Joined(kDefaultInit, kStateInit));
}

TEST_F(ModemSetup, TheFirstCommandIsTriedTwice) {
  modem->On("AT+CLIP=1;+CRC=1", "\r\nERROR\r\n", 1);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }));
  std::vector<std::string> expected = Joined(kDefaultInit, kStateInit);
  expected.insert(expected.begin(), "AT+CLIP=1;+CRC=1");
  EXPECT_EQ(modem->Lines(), expected);
}

TEST_F(ModemSetup, TextFormatIsSwitchedOnBetweenCharacterSetAndIndication) {
  gsm->SetMessageFormat(mfText);  // closed: nothing sent yet
  EXPECT_EQ(platform->Opens(), 0);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }));
  EXPECT_EQ(modem->Lines(),
            Joined({"AT+CLIP=1;+CRC=1", "AT+CSCS=\"GSM\"", "AT+CMGF=1", "AT+CSDH=1", "AT+CNMI=2,1,0,0,0", "ATE0"},
                   kStateInit));
}

TEST_F(ModemSetup, SettingTheFormatWhileOpenSendsIt) {
  OpenQuiet();
  gsm->SetMessageFormat(mfPDU);
  gsm->SetMessageFormat(mfDefault);  // sends nothing
  EXPECT_EQ(modem->Lines(), (std::vector<std::string>{"AT+CMGF=0"}));
  EXPECT_EQ(gsm->GetMessageFormat(), mfDefault);
}

TEST_F(ModemSetup, CapabilitiesOfAModemLackingMessageSending) {
  modem->On("AT+CMGS=?", "\r\nERROR\r\n");
  OpenQuiet();
  EXPECT_EQ(gsm->TestGSMModemCapabilities(), 126);
  // It leaves PDU mode on for mfDefault: no format command after the probes.
  EXPECT_EQ(modem->Lines().size(), 7u);
}

TEST_F(ModemSetup, CapabilitiesOfAModemAcceptingEverything) {
  gsm->SetMessageFormat(mfText);
  OpenQuiet();
  EXPECT_EQ(gsm->TestGSMModemCapabilities(), 254);
  std::vector<std::string> lines = modem->Lines();
  ASSERT_EQ(lines.size(), 9u);  // the probes, then text mode again
  EXPECT_EQ(lines[7], "AT+CMGF=1");
  EXPECT_EQ(lines[8], "AT+CSDH=1");
}

TEST_F(ModemSetup, CapabilitiesNeedAnOpenPort) {
  try {
    gsm->TestGSMModemCapabilities();
    FAIL();
  } catch (const EVeskGSMException& e) {
    EXPECT_STREQ(e.what(), "COM3 is not open. GSM Modem is not connected.");
  }
}

TEST_F(ModemSetup, StorageSelection) {
  modem->On("AT+CPMS=\"ME\"", "\r\nERROR\r\n");
  modem->On("AT+CPMS=\"SM\"", "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n");
  OpenQuiet();
  EXPECT_FALSE(gsm->SetDefaultStorage("ME"));
  EXPECT_TRUE(gsm->SetDefaultStorage("SM"));
  EXPECT_EQ(modem->Lines(), (std::vector<std::string>{"AT+CPMS=\"ME\"", "AT+CPMS=\"SM\""}));
}

}  // namespace
}  // namespace vesk
