// The unsolicited result dispatcher against
// scripted text: most tests hand text to ProcessAT directly, with the
// reader thread kept off the port; a few let the reader thread read it.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "support/Fixtures.h"
#include "support/Pdu.h"

namespace vesk {
namespace {

using testing::DeliverPdu;
using testing::WaitUntil;

struct ReadMessage {
  std::string text;  // UTF-8
  AnsiString phone, centre;
  TDateTime stamp;
  int zone, status;
  bool listing;
  AnsiString location;
  std::vector<int> indexes;
};

class Dispatch : public testing::ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    gsm->OnReceive = [this](TObject*, const AnsiString& text) { Note("receive:" + text); };
    gsm->OnRing = [this](TObject*, const AnsiString& number) { Note("ring:" + number); };
    gsm->OnError = [this](TObject*, const AnsiString& text) { Note("error:" + text); };
    gsm->OnNewMessage = [this](TObject*, const AnsiString& location, int index) {
      Note("new:" + location + "," + IntToStr(index));
    };
    gsm->OnReadMessage = [this](TObject*, const WideString& text, const AnsiString& phone, const AnsiString& centre,
                                TDateTime stamp, int zone, int status) {
      std::lock_guard<std::mutex> lock(mutex);
      messages.push_back({WideToUtf8(text), phone, centre, stamp, zone, status, gsm->GetIsListing(),
                          gsm->GetMessageLocation(), gsm->GetMessageIndexes()});
      events.push_back("read:" + WideToUtf8(text));
    };
  }
  // With the reader thread kept away: the test thread dispatches.
  void OpenForFeeding() {
    OpenQuiet();
    PauseReader();
  }
  void Feed(const AnsiString& text) {
    gsm->SetReadBufferField(text);
    gsm->ProcessAT();
  }
  void Note(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(event);
  }
  // The events other than OnReceive, in order.
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> out;
    for (auto& e : events)
      if (e.rfind("receive:", 0) != 0) out.push_back(e);
    return out;
  }
  std::vector<ReadMessage> Messages() {
    std::lock_guard<std::mutex> lock(mutex);
    return messages;
  }
  // Waits out the bound after which a held piece goes as it is.
  void PastTheHoldBound() {
    std::this_thread::sleep_for(GetClock()->RealDuration(2100) + std::chrono::milliseconds(5));
  }

  std::mutex mutex;
  std::vector<std::string> events;
  std::vector<ReadMessage> messages;
};

const std::string kHello = "Hello World";

std::string ReadAnswer(const std::string& pdu, const std::string& status = "1") {
  return "\r\n+CMGR: " + status + ",," + std::to_string(static_cast<int>(pdu.size() / 2) - 6) + "\r\n" + pdu + "\r\n\r\nOK\r\n";
}

// ------------------------------------------------ cutting and calls

TEST_F(Dispatch, TheTokensAreTheSixMarkersInOrder) {
  EXPECT_EQ(testing::TestGSM::GetTokens(),
            (std::vector<AnsiString>{"RING", "+CLIP:", "+CMTI:", "+CMGR:", "+CMGL:", "ERROR"}));
  // Whole lines: +CRING rings, +CMS ERROR is an error with its number.
  EXPECT_EQ(testing::TestGSM::ParseAT("xx\r\nRING\r\n+CRING: VOICE\r\n+CMS ERROR: 1\r\nOK\r\n"),
            (std::vector<AnsiString>{"RING\r\n", "+CRING: VOICE\r\n", "+CMS ERROR: 1\r\n"}));
}

TEST_F(Dispatch, ARingFollowedByTheCallersNumberRingsTwice) {
  OpenForFeeding();
  Feed("\r\nRING\r\n\r\n+CLIP: \"+15550123\",145,,,,0\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"ring:", "ring:+15550123"}));
}

TEST_F(Dispatch, AnExtendedRingRingsOnce) {
  OpenForFeeding();
  Feed("\r\n+CRING: VOICE\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"ring:"}));
}

TEST_F(Dispatch, ACallerIdentificationWithoutQuotesRaisesNothing) {
  OpenForFeeding();
  Feed("\r\n+CLIP: 15550123,145\r\n");
  EXPECT_TRUE(Events().empty());
}

TEST_F(Dispatch, OnReceiveComesFirstWithTheWholeTextInCapitals) {
  OpenForFeeding();
  Feed("\r\nring\r\n");
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(events, (std::vector<std::string>{"receive:\r\nRING\r\n", "ring:"}));
}

// ------------------------------------------------ new-message notices

TEST_F(Dispatch, ANewMessageNoticeReadsTheMessageAndIsTold) {
  OpenForFeeding();
  std::vector<std::string> linesWhenTold;
  gsm->OnNewMessage = [&](TObject*, const AnsiString& location, int index) {
    linesWhenTold = modem->Lines();
    Note("new:" + location + "," + IntToStr(index));
  };
  Feed("\r\n+CMTI: \"ME\",12\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"new:ME,12"}));
  // The read went out before the event.
  EXPECT_EQ(linesWhenTold, (std::vector<std::string>{"AT+CPMS=\"ME\"", "AT+CMGR=12"}));
}

TEST_F(Dispatch, WithoutAutomaticReadingTheNoticeIsOnlyTold) {
  gsm->SetAutoReadNewMessage(false);
  OpenForFeeding();
  Feed("\r\n+CMTI: \"SM\",3\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"new:SM,3"}));
  EXPECT_TRUE(modem->Lines().empty());
}

TEST_F(Dispatch, ANoticeWhoseIndexDoesNotReadIsToldWithoutARead) {
  OpenForFeeding();
  Feed("\r\n+CMTI: \"SM\",x\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"new:SM,-1"}));
  EXPECT_TRUE(modem->Lines().empty());
}

// a notice cut before its line end waits for it.
TEST_F(Dispatch, ANoticeCutBeforeItsLineEndWaitsForTheRest) {
  OpenForFeeding();
  Feed("\r\n+CMTI: \"SM\",1");
  EXPECT_TRUE(Events().empty());
  EXPECT_TRUE(gsm->DispatcherHoldsInput());
  Feed("4\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"new:SM,14"}));
  EXPECT_FALSE(gsm->DispatcherHoldsInput());
  EXPECT_EQ(modem->Lines().back(), "AT+CMGR=14");
}

TEST_F(Dispatch, AMarkerCutInTwoIsJoined) {
  gsm->SetAutoReadNewMessage(false);  // fed text is the wire: no read in between
  OpenForFeeding();
  Feed("\r\n+CM");
  Feed("TI: \"SM\",2\r\n\r\nRI");
  Feed("NG\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"new:SM,2", "ring:"}));
}

TEST_F(Dispatch, AHeldPieceGoesAloneAfterItsBound) {
  gsm->SetAutoReadNewMessage(false);
  OpenForFeeding();
  Feed("\r\n+CMTI: \"SM\",5");
  Feed("");  // within the bound: still held
  EXPECT_TRUE(Events().empty());
  PastTheHoldBound();
  Feed("");
  EXPECT_EQ(Events(), (std::vector<std::string>{"new:SM,5"}));
  EXPECT_FALSE(gsm->DispatcherHoldsInput());
}

// ------------------------------------------------ errors

TEST_F(Dispatch, AMessageServiceErrorIsAnError) {
  OpenForFeeding();
  Feed("\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"error:+CMS ERROR: 321"}));
}

TEST_F(Dispatch, AMessageServiceErrorCutInTwoKeepsItsNumber) {
  OpenForFeeding();
  Feed("\r\n+CMS ERR");
  Feed("OR: 321\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"error:+CMS ERROR: 321"}));
}

// "ERROR" may be the start of a longer line: it is a result once its line
// has ended.
TEST_F(Dispatch, APlainErrorIsToldWhenItsLineEnds) {
  OpenForFeeding();
  Feed("\r\nERROR");
  EXPECT_TRUE(Events().empty());
  EXPECT_TRUE(gsm->DispatcherHoldsInput());
  Feed("\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"error:ERROR"}));
  EXPECT_FALSE(gsm->DispatcherHoldsInput());
}

TEST_F(Dispatch, ACommandAnsweredWithErrorRaisesOnError) {
  OpenForFeeding();
  modem->On("AT+CSQ", "\r\nERROR\r\n");
  EXPECT_FALSE(gsm->ExecuteATCommand("AT+CSQ", '\r'));
  EXPECT_EQ(Events(), (std::vector<std::string>{"error:ERROR"}));
}

// ------------------------------------------------ read answers

TEST_F(Dispatch, APduReadAnswerIsReportedWithItsStatus) {
  OpenForFeeding();
  Feed(ReadAnswer(DeliverPdu(kHello)));
  auto m = Messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, kHello);
  EXPECT_EQ(m[0].phone, "+15550123");
  EXPECT_EQ(m[0].centre, "+15550100");
  EXPECT_DOUBLE_EQ(m[0].stamp, EncodeDateTime(2019, 3, 14, 15, 9, 26, 0));
  EXPECT_EQ(m[0].zone, 8);
  EXPECT_EQ(m[0].status, 1);
  EXPECT_FALSE(m[0].listing);
  EXPECT_EQ(m[0].location, "");  // no read was asked for
  EXPECT_TRUE(m[0].indexes.empty());
}

TEST_F(Dispatch, AReadAnswerWithoutACommaHasStatusMinusOne) {
  OpenForFeeding();
  Feed("\r\n+CMGR: 1\r\n" + DeliverPdu(kHello) + "\r\n\r\nOK\r\n");
  auto m = Messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].status, -1);
  EXPECT_EQ(m[0].text, kHello);
}

TEST_F(Dispatch, AReadAnswerWithoutItsPduRaisesNothing) {
  OpenForFeeding();
  Feed("\r\n+CMGR: 0,,0\r\n\r\nOK\r\n");
  EXPECT_TRUE(Events().empty());
}

TEST_F(Dispatch, GetSMSTellsWhereTheMessageIsStored) {
  modem->On("AT+CMGR=5", ReadAnswer(DeliverPdu(kHello)));
  OpenQuiet();
  gsm->GetSMS("SM", 5);
  ASSERT_TRUE(WaitUntil([&] { return Messages().size() == 1; }));
  auto m = Messages();
  EXPECT_EQ(m[0].text, kHello);
  EXPECT_EQ(m[0].location, "SM");
  EXPECT_EQ(m[0].indexes, std::vector<int>{5});
  // Outside the handler there is nothing to tell.
  EXPECT_EQ(gsm->GetMessageLocation(), "");
  EXPECT_TRUE(gsm->GetMessageIndexes().empty());
  // The read is answered once: an answer nobody asked for is not its.
  modem->Push(ReadAnswer(DeliverPdu(kHello)));
  ASSERT_TRUE(WaitUntil([&] { return Messages().size() == 2; }));
  EXPECT_TRUE(Messages()[1].indexes.empty());
}

TEST_F(Dispatch, AFailedReadIsNotTheNextAnswers) {
  modem->On("AT+CMGR=40", "\r\n+CMS ERROR: 321\r\n");
  OpenQuiet();
  gsm->GetSMS("SM", 40);
  ASSERT_TRUE(WaitUntil([&] { return Events() == std::vector<std::string>{"error:+CMS ERROR: 321"}; }));
  modem->Push(ReadAnswer(DeliverPdu(kHello)));
  ASSERT_TRUE(WaitUntil([&] { return Messages().size() == 1; }));
  EXPECT_TRUE(Messages()[0].indexes.empty());
}

TEST_F(Dispatch, AnEmptyPositionIsNotTheNextAnswers) {
  modem->On("AT+CMGR=8", "\r\nOK\r\n");
  OpenQuiet();
  gsm->GetSMS("SM", 8);
  std::this_thread::sleep_for(GetClock()->RealDuration(3 * gsm->GetDelay()));
  modem->Push(ReadAnswer(DeliverPdu(kHello)));
  ASSERT_TRUE(WaitUntil([&] { return Messages().size() == 1; }));
  EXPECT_TRUE(Messages()[0].indexes.empty());
}

TEST_F(Dispatch, ReadsSentOneAfterAnotherAreMatchedInOrder) {
  for (int i = 1; i <= 4; ++i) modem->On("AT+CMGR=" + std::to_string(i), ReadAnswer(DeliverPdu("text " + std::to_string(i))));
  OpenQuiet();
  for (int i = 1; i <= 4; ++i) gsm->GetSMS("SM", i);
  ASSERT_TRUE(WaitUntil([&] { return Messages().size() == 4; }));
  auto m = Messages();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m[i].text, "text " + std::to_string(i + 1));
    EXPECT_EQ(m[i].indexes, std::vector<int>{i + 1});
  }
}

TEST_F(Dispatch, NoticesArrivingTogetherAreReadOneAfterAnotherWithTheirIndexes) {
  for (int i = 1; i <= 3; ++i) modem->On("AT+CMGR=" + std::to_string(i), ReadAnswer(DeliverPdu("text " + std::to_string(i))));
  OpenQuiet();
  modem->Push("\r\n+CMTI: \"SM\",1\r\n\r\n+CMTI: \"SM\",2\r\n\r\n+CMTI: \"SM\",3\r\n");
  ASSERT_TRUE(WaitUntil([&] { return Messages().size() == 3; }));
  auto m = Messages();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m[i].text, "text " + std::to_string(i + 1));
    EXPECT_EQ(m[i].indexes, std::vector<int>{i + 1});
  }
}

TEST_F(Dispatch, TextModeReadAnswersGoToTheTextParser) {
  OpenForFeeding();
  Feed("\r\n+CMGR: \"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,5\r\n"
       "hello\r\n\r\nOK\r\n");
  Feed("\r\n+CMGR: \"STO UNSENT\",\"+15550124\",,129,17,0,0,167,\"+15550100\",145,3\r\nbye\r\n\r\nOK\r\n");
  auto m = Messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].text, "hello");
  EXPECT_EQ(m[0].phone, "+15550123");
  EXPECT_EQ(m[0].centre, "+15550100");
  EXPECT_EQ(m[0].status, 1);
  EXPECT_DOUBLE_EQ(m[0].stamp, EncodeDateTime(2019, 3, 14, 15, 9, 26, 0));
  EXPECT_EQ(m[0].zone, 8);
  EXPECT_EQ(m[1].text, "bye");
  EXPECT_EQ(m[1].phone, "+15550124");
  EXPECT_EQ(m[1].status, 2);
}

// the header and the PDU in different reads.
TEST_F(Dispatch, AReadAnswerSplitAcrossReadsIsReportedOnce) {
  OpenForFeeding();
  const std::string answer = ReadAnswer(DeliverPdu(kHello));
  for (std::size_t cut : {5u, 14u, 20u, 40u, static_cast<unsigned>(answer.size() - 3)}) {
    SCOPED_TRACE(cut);
    messages.clear();
    Feed(answer.substr(0, cut));
    Feed(answer.substr(cut));
    auto m = Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].text, kHello);
    EXPECT_FALSE(gsm->DispatcherHoldsInput());
  }
}

TEST_F(Dispatch, AReadAnswerCutInManyPiecesIsReportedOnce) {
  OpenForFeeding();
  const std::string answer = ReadAnswer(DeliverPdu(kHello)) + "\r\nRING\r\n";
  for (std::size_t at = 0; at < answer.size(); at += 3) Feed(answer.substr(at, 3));
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:" + kHello, "ring:"}));
}

// the body of a text-mode message is not searched for markers.
TEST_F(Dispatch, MarkersInATextModeBodyAreText) {
  OpenForFeeding();
  const std::string body = "bring the string, ERROR free, during RING";
  Feed("\r\n+CMGR: \"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\n" + body + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:" + body}));
}

// the text and numbers as the modem sent them; markers in any case.
TEST_F(Dispatch, LowerCaseMarkersAreRecognisedAndTextsKeepTheirCase) {
  gsm->SetAutoReadNewMessage(false);
  OpenForFeeding();
  Feed("\r\n+cmti: \"me\",4\r\n\r\n+clip: \"+1555abc\",145\r\n");
  Feed("\r\n+cmgr: \"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\nMixed Case text\r\n\r\nok\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"new:me,4", "ring:+1555abc", "read:Mixed Case text"}));
}

TEST_F(Dispatch, TheReaderThreadHandsTextsOverAsTheyCame) {
  OpenQuiet();
  modem->Push("\r\n+CMGR: \"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\nMixed Case\r\n\r\nOK\r\n");
  ASSERT_TRUE(WaitUntil([&] { return !Messages().empty(); }));
  EXPECT_EQ(Messages()[0].text, "Mixed Case");
}

// the PDU comes polls after the header.
TEST_F(Dispatch, TheReaderThreadJoinsAnAnswerSplitAcrossPolls) {
  OpenQuiet();
  const std::string answer = ReadAnswer(DeliverPdu(kHello));
  modem->Push(answer.substr(0, 20));
  std::this_thread::sleep_for(GetClock()->RealDuration(3 * gsm->GetDelay()));
  EXPECT_TRUE(Messages().empty());
  modem->Push(answer.substr(20));
  ASSERT_TRUE(WaitUntil([&] { return !Messages().empty(); }));
  std::this_thread::sleep_for(GetClock()->RealDuration(3 * gsm->GetDelay()));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0].text, kHello);
}

// a PDU that does not decode is an error, and the rest goes on.
TEST_F(Dispatch, AMalformedPduIsAnErrorAndTheDispatchGoesOn) {
  OpenForFeeding();
  const std::string bad = "\r\n+CMGR: 1,,23\r\n0791ZZZZ\r\n\r\nOK\r\n";
  Feed(bad + "\r\nRING\r\n");
  auto e = Events();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0], "error:+CMGR: 1,,23\r\n0791ZZZZ");
  EXPECT_EQ(e[1], "ring:");
  EXPECT_FALSE(gsm->GetLastDecodeError().empty());
}

// ------------------------------------------------ listings

std::string ListEntry(int index, const std::string& pdu, int status = 1) {
  return "\r\n+CMGL: " + std::to_string(index) + "," + std::to_string(status) + ",," +
         std::to_string(static_cast<int>(pdu.size() / 2) - 6) + "\r\n" + pdu;
}

TEST_F(Dispatch, AListingRaisesOneEventPerEntryWhileListing) {
  OpenForFeeding();
  gsm->GetAllSMS("SM", 4);
  EXPECT_EQ(modem->Lines(), (std::vector<std::string>{"AT+CPMS=\"SM\"", "AT+CMGL=4"}));
  Feed(ListEntry(9, DeliverPdu("one")) + ListEntry(10, DeliverPdu("two")) + ListEntry(11, DeliverPdu("three")) +
       "\r\n\r\nOK\r\n");
  auto m = Messages();
  ASSERT_EQ(m.size(), 3u);
  const std::vector<std::string> texts{"one", "two", "three"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m[i].text, texts[i]);
    EXPECT_TRUE(m[i].listing);
    EXPECT_EQ(m[i].status, 1);
    EXPECT_EQ(m[i].location, "SM");
    EXPECT_EQ(m[i].indexes, std::vector<int>{9 + i});
  }
  EXPECT_FALSE(gsm->GetIsListing());
}

TEST_F(Dispatch, AMalformedListingEntryIsAnErrorAndTheNextIsReported) {
  OpenForFeeding();
  Feed(ListEntry(1, "07") + ListEntry(2, DeliverPdu("fine")) + "\r\n\r\nOK\r\n");
  auto e = Events();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].rfind("error:+CMGL: 1,1,,", 0), 0u) << e[0];
  EXPECT_EQ(e[1], "read:fine");
}

// text-mode listings go to the text-mode parser.
TEST_F(Dispatch, ATextModeListingIsParsedAsText) {
  OpenForFeeding();
  Feed("\r\n+CMGL: 1,\"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\nHi there\r\n"
       "+CMGL: 2,\"REC READ\",\"+15550124\",,\"19/03/14,15:10:00+08\"\r\nRing me\r\n\r\nOK\r\n");
  auto m = Messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].text, "Hi there");
  EXPECT_EQ(m[0].phone, "+15550123");
  EXPECT_EQ(m[0].status, 0);
  EXPECT_EQ(m[0].indexes, std::vector<int>{1});
  EXPECT_TRUE(m[0].listing);
  EXPECT_EQ(m[1].text, "Ring me");
  EXPECT_EQ(m[1].status, 1);
  EXPECT_EQ(m[1].indexes, std::vector<int>{2});
  EXPECT_EQ(Events().size(), 2u);  // no ring
}

// ------------------------------------------------ long messages

TEST_F(Dispatch, AThreePartMessageOutOfOrderIsReportedOnceWithEveryIndex) {
  const std::string parts[3] = {"first part ", "second part ", "third"};
  // Part 3 stored at 7, part 1 at 5, part 2 at 6.
  const std::pair<int, int> order[3] = {{3, 7}, {1, 5}, {2, 6}};
  for (auto [part, index] : order)
    modem->On("AT+CMGR=" + std::to_string(index), ReadAnswer(DeliverPdu(parts[part - 1], 42, 3, part), "0"));
  OpenQuiet();
  for (auto [part, index] : order) gsm->GetSMS("ME", index);
  ASSERT_TRUE(WaitUntil([&] { return !Messages().empty(); }));
  std::this_thread::sleep_for(GetClock()->RealDuration(3 * gsm->GetDelay()));
  auto m = Messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, "first part second part third");
  EXPECT_EQ(m[0].location, "ME");
  EXPECT_EQ(m[0].indexes, (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(m[0].status, 0);
}

TEST_F(Dispatch, AListedLongMessageTellsTheIndexOfEveryPart) {
  OpenForFeeding();
  gsm->GetAllSMS("SM", 4);
  Feed(ListEntry(3, DeliverPdu("b", 9, 2, 2)) + ListEntry(4, DeliverPdu("a", 9, 2, 1)) + "\r\n\r\nOK\r\n");
  auto m = Messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, "ab");
  EXPECT_EQ(m[0].indexes, (std::vector<int>{4, 3}));
  EXPECT_TRUE(m[0].listing);
}

// Two long messages from one sender, the same reference in an 8-bit and in
// a 16-bit element: two messages, each with its own stored positions.
TEST_F(Dispatch, ReferencesOfTheTwoSizesAreTwoMessages) {
  OpenForFeeding();
  gsm->GetAllSMS("SM", 4);
  Feed(ListEntry(1, DeliverPdu("a1", 5, 2, 1, 8)) + ListEntry(3, DeliverPdu("b1", 5, 2, 1, 16)) +
       ListEntry(2, DeliverPdu("a2", 5, 2, 2, 8)) + ListEntry(4, DeliverPdu("b2", 5, 2, 2, 16)) + "\r\n\r\nOK\r\n");
  auto m = Messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].text, "a1a2");
  EXPECT_EQ(m[0].indexes, (std::vector<int>{1, 2}));
  EXPECT_EQ(m[1].text, "b1b2");
  EXPECT_EQ(m[1].indexes, (std::vector<int>{3, 4}));
}

// ------------------------------------------------ re-entry

TEST_F(Dispatch, AReportInsideAReportLeavesTheOuterOnesValues) {
  modem->On("AT+CMGR=1", ReadAnswer(DeliverPdu("outer")));
  modem->On("AT+CMGR=2", ReadAnswer(DeliverPdu("inner")));
  OpenQuiet();
  std::mutex seenLock;
  std::vector<std::pair<AnsiString, std::vector<int>>> seen;
  std::atomic<bool> nested{false};
  gsm->OnReadMessage = [&](TObject*, const WideString&, const AnsiString&, const AnsiString&, TDateTime, int, int) {
    // A command inside the handler whose answer is a report of its own.
    if (!nested.exchange(true)) gsm->ExecuteATCommand("AT+CMGR=2", nullptr, 15, '\r');
    std::lock_guard<std::mutex> lock(seenLock);
    seen.push_back({gsm->GetMessageLocation(), gsm->GetMessageIndexes()});
  };
  gsm->GetSMS("ME", 1);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(seenLock);
    return seen.size() == 2;
  }));
  std::lock_guard<std::mutex> lock(seenLock);
  EXPECT_EQ(seen[0].first, "");  // nobody asked for that read through GetSMS
  EXPECT_EQ(seen[1].first, "ME");
  EXPECT_EQ(seen[1].second, std::vector<int>{1});
}

// ------------------------------------------------ the reader thread and the component's life

TEST_F(Dispatch, TheReaderThreadReleasesAHeldPieceAfterItsBound) {
  gsm->SetAutoReadNewMessage(false);
  OpenQuiet();
  modem->Push("\r\n+CMTI: \"SM\",5");
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }, 3000));
  EXPECT_EQ(Events(), (std::vector<std::string>{"new:SM,5"}));
  EXPECT_FALSE(gsm->DispatcherHoldsInput());
}

TEST_F(Dispatch, AHandlerMayDestroyTheComponent) {
  OpenForFeeding();
  int rings = 0;
  gsm->OnRing = [&](TObject*, const AnsiString&) {
    if (++rings == 1) gsm.reset();
  };
  testing::TestGSM* raw = gsm.get();
  raw->SetReadBufferField("\r\nRING\r\n\r\nRING\r\n");
  raw->ProcessAT();  // returns after the first event without touching it
  EXPECT_EQ(rings, 1);
  EXPECT_FALSE(gsm);
}

class DestroyedByAHandler : public Dispatch, public ::testing::WithParamInterface<bool> {};

// The reader thread (or the main thread for it) raises the event whose
// handler destroys the component; nothing more of the text is handled.
TEST_P(DestroyedByAHandler, NothingMoreIsHandled) {
  gsm->SetNeedSynchronization(GetParam());
  OpenQuiet();
  std::atomic<int> rings{0};
  std::atomic<bool> gone{false};
  testing::TestGSM* raw = gsm.release();
  raw->OnRing = [raw, &rings, &gone](TObject*, const AnsiString&) {
    if (++rings == 1) {
      delete raw;
      gone = true;
    }
  };
  modem->Push("\r\nRING\r\n\r\nRING\r\n\r\n+CLIP: \"+1555\",145\r\n");
  ASSERT_TRUE(WaitUntil([&] { return gone.load(); }));
  WaitUntil([] { return false; }, 100);
  EXPECT_EQ(rings, 1);
}

INSTANTIATE_TEST_SUITE_P(Synchronized, DestroyedByAHandler, ::testing::Bool());

}  // namespace
}  // namespace vesk
