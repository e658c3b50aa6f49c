// Delivery reports and direct delivery against a scripted modem: each way
// a report arrives, messages routed to the component with and without
// acknowledgement, the pairing of reports with sent messages, the
// capability probe of the set-up, and the stored message check.
#include <gtest/gtest.h>

#include <deque>
#include <mutex>

#include "support/Fixtures.h"
#include "support/Pdu.h"
#include "support/ReportPdu.h"

namespace vesk {
namespace {

using testing::DeliverPdu;
using testing::FakeModem;
using testing::StatusReportPdu;
using testing::TpduLength;
using testing::WaitUntil;
using Lines = std::vector<std::string>;

constexpr char kCtrlZ = '\x1A';

std::string Stamp(TDateTime t) { return t == 0 ? "0" : std::string(DateToStr(t) + " " + TimeToStr(t)); }

class Reports : public testing::ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    gsm->OnError = [this](TObject*, const AnsiString& text) { Note("error:" + text); };
    gsm->OnReadMessage = [this](TObject*, const WideString& text, const AnsiString& phone, const AnsiString&, TDateTime,
                                int, int status) {
      Note("read:" + WideToUtf8(text) + "|" + phone + "|" + std::to_string(status) +
           (gsm->GetIsListing() ? "|listing" : ""));
      linesInHandler = modem->Lines().size();
    };
    gsm->OnNewMessage = [this](TObject*, const AnsiString& location, int index) {
      Note("new:" + location + "," + IntToStr(index));
    };
    gsm->OnStatusReport = [this](TObject*, int reference, const AnsiString& recipient, int status, TDateTime received,
                                 TDateTime discharged) {
      std::string where;
      if (!gsm->GetMessageLocation().empty())
        where = "|" + gsm->GetMessageLocation() + "," + std::to_string(gsm->GetMessageIndexes().at(0)) +
                (gsm->GetIsListing() ? ",listing" : "");
      Note("report:" + std::to_string(reference) + "|" + recipient + "|" + std::to_string(status) + "|" +
           Stamp(received) + "|" + Stamp(discharged) + where);
      linesInHandler = modem->Lines().size();
    };
    gsm->OnMessageStatus = [this](TObject*, const AnsiString& recipient, const std::vector<int>& references,
                                  TMessageOutcome outcome) {
      std::string refs;
      for (int r : references) refs += (refs.empty() ? "" : ",") + std::to_string(r);
      Note("status:" + recipient + "|" + refs + "|" + OutcomeName(outcome));
    };
  }
  void OpenForFeeding() {
    OpenQuiet();
    PauseReader();
  }
  void Feed(const AnsiString& text) {
    gsm->SetReadBufferField(text);
    gsm->ProcessAT();
  }
  void Note(const std::string& e) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(e);
  }
  Lines Events() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }
  void Forget() {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
  }
  // The modem takes message bodies and answers each with the next
  // reference of `references`.
  void AnswerSends(std::deque<int> references) {
    gsm->SetWaitForPrompt(true);
    // The handler is copied for each line: the references are shared.
    auto left = std::make_shared<std::deque<int>>(std::move(references));
    modem->SetHandler([this, left](FakeModem& m, const std::string& line) {
      if (line.rfind("AT+CMGS=", 0) == 0) {
        m.Push("\r\n> ");
        return true;
      }
      if (!line.empty() && line.back() == kCtrlZ) {
        bodies.push_back(line.substr(0, line.size() - 1));
        const int reference = left->empty() ? 0 : left->front();
        if (!left->empty()) left->pop_front();
        m.Push("\r\n+CMGS: " + std::to_string(reference) + "\r\n\r\nOK\r\n");
        return true;
      }
      return false;
    });
  }
  static std::string Cds(const std::string& pdu) {
    return "\r\n+CDS: " + std::to_string(TpduLength(pdu)) + "\r\n" + pdu + "\r\n";
  }

  std::mutex mutex;
  Lines events;
  std::vector<std::string> bodies;
  std::size_t linesInHandler = 0;
};

const std::string kStamps = "2019-03-14 15:09:26|2019-03-14 15:09:27";

// ------------------------------------------------ how reports arrive

TEST_F(Reports, ACdsInPduMode) {
  OpenForFeeding();
  Feed(Cds(StatusReportPdu(42, 0x00)));
  EXPECT_EQ(Events(), (Lines{"report:42|+15550100|0|" + kStamps}));
}

TEST_F(Reports, ACdsWhosePduHasNoServiceCentre) {
  OpenForFeeding();
  const std::string tpdu = StatusReportPdu(43, 0x41, "+15550100", false);
  Feed("\r\n+CDS: " + std::to_string(tpdu.size() / 2) + "\r\n" + tpdu + "\r\n");
  EXPECT_EQ(Events(), (Lines{"report:43|+15550100|65|" + kStamps}));
}

TEST_F(Reports, ACdsInTextMode) {
  OpenForFeeding();
  Feed("\r\n+CDS: 6,44,\"+15550100\",145,\"19/03/14,15:09:26+08\",\"19/03/14,15:09:27+08\",70\r\n");
  EXPECT_EQ(Events(), (Lines{"report:44|+15550100|70|" + kStamps}));
}

TEST_F(Reports, ACdsiIsReadReportedAndDeleted) {
  const std::string pdu = StatusReportPdu(45, 0x00);
  modem->On("AT+CMGR=5", "\r\n+CMGR: 0,," + std::to_string(TpduLength(pdu)) + "\r\n" + pdu + "\r\n\r\nOK\r\n");
  OpenQuiet();
  modem->Push("\r\n+CDSI: \"SR\",5\r\n");
  ASSERT_TRUE(modem->WaitForLines(4, 5000));
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  EXPECT_EQ(Events(), (Lines{"report:45|+15550100|0|" + kStamps + "|SR,5"}));
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPMS=\"SR\"", "AT+CMGR=5", "AT+CPMS=\"SR\"", "AT+CMGD=5"}));
  // Deleted after the event had returned.
  EXPECT_EQ(linesInHandler, 2u);
}

TEST_F(Reports, ACdsiLeftStoredWithoutAutomaticReading) {
  gsm->SetAutoReadNewMessage(false);
  OpenForFeeding();
  Feed("\r\n+CDSI: \"SR\",7\r\n");
  EXPECT_EQ(Events(), (Lines{"new:SR,7"}));
  EXPECT_TRUE(modem->Lines().empty());
}

TEST_F(Reports, AStoredReportInAListing) {
  const std::string report = StatusReportPdu(46, 0x00);
  const std::string message = DeliverPdu("hello");
  modem->On("AT+CMGL=4", "\r\n+CMGL: 1,1,," + std::to_string(TpduLength(message)) + "\r\n" + message +
                             "\r\n+CMGL: 2,0,," + std::to_string(TpduLength(report)) + "\r\n" + report +
                             "\r\n\r\nOK\r\n");
  OpenQuiet();
  gsm->GetAllSMS("SM", 4);
  ASSERT_TRUE(WaitUntil([&] { return Events().size() >= 2; }));
  EXPECT_EQ(Events(), (Lines{"read:hello|+15550123|1|listing", "report:46|+15550100|0|" + kStamps + "|SM,2,listing"}));
  EXPECT_FALSE(gsm->GetIsListing());
  // A stored report is never deleted unasked.
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CPMS=\"SM\"", "AT+CMGL=4"}));
}

TEST_F(Reports, AStoredReportReadInTextMode) {
  // python-gsmmodem test/test_modem.py test_receiveStatusReportTextMode:
  // <stat> left empty.
  modem->On("AT+CMGR=57",
            "\r\n+CMGR: ,6,20,\"0870000000\",129,\"13/04/29,19:58:00+04\",\"13/04/29,19:59:00+04\",0\r\n\r\nOK\r\n");
  OpenQuiet();
  gsm->GetSMS("SR", 57);
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  EXPECT_EQ(Events(), (Lines{"report:20|0870000000|0|2013-04-29 19:58:00|2013-04-29 19:59:00|SR,57"}));
}

TEST_F(Reports, AReportThatDoesNotDecodeIsAnErrorWithItsReason) {
  OpenForFeeding();
  Feed("\r\n+CDS: 25\r\n0591515510000601089151551000913041\r\n");
  EXPECT_EQ(Events(), (Lines{"error:+CDS: 25\r\n0591515510000601089151551000913041"}));
  EXPECT_EQ(gsm->GetLastDecodeError(), "PDU ends inside the service centre time stamp");
  // And the dispatch goes on.
  Forget();
  Feed(Cds(StatusReportPdu(1, 0)));
  EXPECT_EQ(Events().size(), 1u);
}

// ------------------------------------------------ direct delivery

TEST_F(Reports, ACmtWithoutAcknowledgement) {
  OpenForFeeding();
  const std::string pdu = DeliverPdu("direct");
  Feed("\r\n+CMT: ," + std::to_string(TpduLength(pdu)) + "\r\n" + pdu + "\r\n");
  EXPECT_EQ(Events(), (Lines{"read:direct|+15550123|0"}));
  EXPECT_FALSE(gsm->GetAcknowledgesDeliveries());
  EXPECT_TRUE(modem->Lines().empty());
}

TEST_F(Reports, ACmtInTextMode) {
  OpenForFeeding();
  Feed("\r\n+CMT: \"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,6\r\nline 1\r\n");
  EXPECT_EQ(Events(), (Lines{"read:line 1|+15550123|0"}));
}

// nmDirect on a modem that takes AT+CSMS=1.
class Direct : public Reports {
 protected:
  void SetUp() override {
    Reports::SetUp();
    modem->On("AT+CNMI=?", "\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n");
    modem->On("AT+CPMS=?", "\r\n+CPMS: (\"SM\",\"ME\",\"SR\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n");
    modem->On("AT+CSMS=1", "\r\n+CSMS: 1,1,1\r\n\r\nOK\r\n");
    gsm->SetNewMessageIndication(nmDirect);
  }
  void OpenAndSetUp() {
    ASSERT_TRUE(gsm->Open(false));
    ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }));
    ASSERT_TRUE(WaitUntil([&] { return !gsm->PauseFlag(); }));
  }
  static std::string Cmt(const std::string& pdu) {
    return "\r\n+CMT: ," + std::to_string(TpduLength(pdu)) + "\r\n" + pdu + "\r\n";
  }
  std::size_t Count(const std::string& line) {
    std::size_t n = 0;
    for (const std::string& l : modem->Lines()) n += l == line;
    return n;
  }
};

TEST_F(Direct, TheSetUpAsksForAcknowledgedRouting) {
  OpenAndSetUp();
  EXPECT_EQ(modem->Lines(),
            (Lines{"AT+CLIP=1;+CRC=1", "AT+CSCS=\"GSM\"", "AT+CNMI=?", "AT+CPMS=?", "AT+CSMS=1", "AT+CNMI=2,2,0,1,0",
                   "ATE0", "AT+CMEE=1", "AT+CSCS?", "AT+CREG=2", "AT+CGREG=2", "AT+CEREG=2", "AT+CUSD=1"}));
  EXPECT_EQ(gsm->GetNewMessageIndicationCommand(), "AT+CNMI=2,2,0,1,0");
  EXPECT_TRUE(gsm->GetAcknowledgesDeliveries());
}

TEST_F(Direct, ACmtIsAcknowledgedOnceItsEventHasReturned) {
  OpenAndSetUp();
  const std::size_t before = modem->Lines().size();
  modem->Push(Cmt(DeliverPdu("hello")));
  ASSERT_TRUE(WaitUntil([&] { return Count("AT+CNMA") == 1; }));
  EXPECT_EQ(Events(), (Lines{"read:hello|+15550123|0"}));
  EXPECT_EQ(linesInHandler, before);  // nothing sent while the handler ran
  EXPECT_EQ(modem->Lines().back(), "AT+CNMA");
}

TEST_F(Direct, ACdsIsAcknowledgedToo) {
  OpenAndSetUp();
  modem->Push(Cds(StatusReportPdu(9, 0)));
  ASSERT_TRUE(WaitUntil([&] { return Count("AT+CNMA") == 1; }));
  EXPECT_EQ(Events(), (Lines{"report:9|+15550100|0|" + kStamps}));
}

TEST_F(Direct, EachPartOfALongMessageIsAcknowledged) {
  OpenAndSetUp();
  modem->Push(Cmt(DeliverPdu("second", 7, 2, 2)));
  modem->Push(Cmt(DeliverPdu("first ", 7, 2, 1)));
  ASSERT_TRUE(WaitUntil([&] { return Count("AT+CNMA") == 2; }));
  EXPECT_EQ(Events(), (Lines{"read:first second|+15550123|0"}));
}

TEST_F(Direct, ADuplicateAfterAMissingAcknowledgementIsReportedOnce) {
  // The first acknowledgement goes missing: the modem refuses it, and the
  // network delivers the message again.
  modem->On("AT+CNMA", "\r\n+CMS ERROR: 340\r\n", 1);
  OpenAndSetUp();
  const std::string cmt = Cmt(DeliverPdu("again"));
  modem->Push(cmt);
  ASSERT_TRUE(WaitUntil([&] { return Count("AT+CNMA") == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return Events().size() == 2; }));
  modem->Push(cmt);
  ASSERT_TRUE(WaitUntil([&] { return Count("AT+CNMA") == 2; }));
  // Reported once; the refusal told, and the connection goes on.
  EXPECT_EQ(Events(), (Lines{"read:again|+15550123|0", "error:+CMS ERROR: 340"}));
  EXPECT_NE(gsm->IsConnected(), spNone);
  modem->Push(Cmt(DeliverPdu("next")));
  ASSERT_TRUE(WaitUntil([&] { return Count("AT+CNMA") == 3; }));
  EXPECT_EQ(Events().back(), "read:next|+15550123|0");
}

TEST_F(Direct, AFlashMessageArrivesTheSameWay) {
  OpenAndSetUp();
  // DCS F0: class 0, GSM 7-bit.
  std::string pdu = DeliverPdu("flash");
  pdu.replace(pdu.find("0091304151906280"), 2, "F0");
  modem->Push(Cmt(pdu));
  ASSERT_TRUE(WaitUntil([&] { return Count("AT+CNMA") == 1; }));
  EXPECT_EQ(Events(), (Lines{"read:flash|+15550123|0"}));
}

TEST_F(Direct, TheCapabilityTestPutsTheIndicationBack) {
  OpenAndSetUp();
  const std::size_t before = modem->Lines().size();
  gsm->TestGSMModemCapabilities();
  const Lines lines = modem->Lines();
  // Its probes, with the standard AT+CNMI among them, then the chosen one.
  ASSERT_EQ(lines.size(), before + 8);
  EXPECT_EQ(lines[before + 4], "AT+CNMI=2,1,0,0,0");
  EXPECT_EQ(lines.back(), "AT+CNMI=2,2,0,1,0");
}

TEST_F(Direct, BackToStoredMessagesWhileOpen) {
  OpenAndSetUp();
  modem->On("AT+CNMI=2,1,0,0,0", "\r\nOK\r\n");
  const std::size_t before = modem->Lines().size();
  gsm->SetNewMessageIndication(nmStore);
  const Lines lines = modem->Lines();
  EXPECT_EQ(Lines(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
            (Lines{"AT+CSMS=0", "AT+CNMI=2,1,0,0,0"}));
  EXPECT_FALSE(gsm->GetAcknowledgesDeliveries());
}

// ------------------------------------------------ the capability probe

TEST_F(Reports, AModemThatRefusesModeTwo) {
  modem->On("AT+CNMI=2,1,0,0,0", "\r\nERROR\r\n");
  modem->On("AT+CNMI=?", "\r\n+CNMI: (0,1),(0-3),(0,2),(0,1),(0,1)\r\n\r\nOK\r\n");
  modem->On("AT+CPMS=?", "\r\n+CPMS: (\"SM\",\"ME\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n");
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }));
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CLIP=1;+CRC=1", "AT+CSCS=\"GSM\"", "AT+CNMI=2,1,0,0,0", "AT+CNMI=?", "AT+CPMS=?",
                                   "AT+CNMI=1,1,0,0,0", "ATE0", "AT+CMEE=1", "AT+CSCS?", "AT+CREG=2", "AT+CGREG=2",
                                   "AT+CEREG=2", "AT+CUSD=1"}));
  EXPECT_EQ(gsm->GetNewMessageIndicationCommand(), "AT+CNMI=1,1,0,0,0");
}

TEST_F(Reports, StoredReportsGoToTheReportStorage) {
  modem->On("AT+CNMI=?", "\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n");
  modem->On("AT+CPMS=?", "\r\n+CPMS: (\"SM\",\"ME\",\"SR\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n");
  gsm->SetStatusReportRequest(true);
  ASSERT_TRUE(gsm->Open(false));
  ASSERT_TRUE(WaitUntil([&] { return gsm->IsSetUp(); }));
  EXPECT_EQ(gsm->GetNewMessageIndicationCommand(), "AT+CNMI=2,1,0,2,0");
  EXPECT_FALSE(gsm->GetAcknowledgesDeliveries());
}

TEST_F(Reports, WithoutAReportStorageReportsComeAsCds) {
  modem->On("AT+CNMI=?", "\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n");
  modem->On("AT+CPMS=?", "\r\n+CPMS: (\"SM\",\"ME\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n");
  OpenQuiet();
  gsm->SetStatusReportRequest(true);  // while open: the indication is set up again
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CNMI=?", "AT+CPMS=?", "AT+CNMI=2,1,0,1,0"}));
  EXPECT_EQ(gsm->GetNewMessageIndicationCommand(), "AT+CNMI=2,1,0,1,0");
  // Already routed: nothing more.
  gsm->SetStatusReportRequest(false);
  gsm->SetStatusReportRequest(true);
  EXPECT_EQ(modem->Lines().size(), 3u);
}

// ------------------------------------------------ pairing

TEST_F(Reports, AThreePartMessageWithReportsOutOfOrder) {
  AnswerSends({254, 255, 0});
  gsm->SetStatusReportRequest(true);
  OpenQuiet();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", WideString(400, u'x')));
  EXPECT_EQ(gsm->GetLastMessageReferences(), (std::vector<int>{254, 255, 0}));
  EXPECT_EQ(gsm->GetPendingMessageCount(), 1);
  // Every part asked for a report (TP-SRR in a first octet of 0x71).
  ASSERT_EQ(bodies.size(), 3u);
  for (const std::string& body : bodies) EXPECT_EQ(body.substr(2, 2), "71") << body;
  PauseReader();
  Feed(Cds(StatusReportPdu(0, 0x00)));
  Feed(Cds(StatusReportPdu(254, 0x00)));
  EXPECT_EQ(Events().size(), 2u);  // no outcome yet
  Feed(Cds(StatusReportPdu(255, 0x00)));
  EXPECT_EQ(Events(), (Lines{"report:0|+15550100|0|" + kStamps, "report:254|+15550100|0|" + kStamps,
                             "report:255|+15550100|0|" + kStamps, "status:+15550100|254,255,0|delivered"}));
  EXPECT_EQ(gsm->GetPendingMessageCount(), 0);
}

TEST_F(Reports, OneFailedPartFailsTheMessage) {
  AnswerSends({10, 11});
  gsm->SetStatusReportRequest(true);
  OpenQuiet();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", WideString(200, u'y')));
  PauseReader();
  Feed(Cds(StatusReportPdu(11, 0x41)));  // incompatible destination
  Feed(Cds(StatusReportPdu(10, 0x00)));
  EXPECT_EQ(Events().back(), "status:+15550100|10,11|failed");
}

TEST_F(Reports, TemporaryErrorsWaitForTheFinalStatus) {
  AnswerSends({20});
  gsm->SetStatusReportRequest(true);
  OpenQuiet();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", u"hi"));
  PauseReader();
  Feed(Cds(StatusReportPdu(20, 0x21)));  // SME busy, still trying
  EXPECT_EQ(Events().size(), 1u);
  Feed(Cds(StatusReportPdu(20, 0x46)));  // validity period expired
  EXPECT_EQ(Events().back(), "status:+15550100|20|expired");
  EXPECT_EQ(Events().size(), 3u);
  // A repeat of the final report is raised but tells no outcome again.
  Feed(Cds(StatusReportPdu(20, 0x00)));
  EXPECT_EQ(Events().size(), 4u);
}

TEST_F(Reports, ReferenceWrapsFrom255To0) {
  // The modem's references: 0 for A, 255 for B, then 0 again for C.
  AnswerSends({0, 255, 0});
  gsm->SetStatusReportRequest(true);
  OpenQuiet();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", u"A"));
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", u"B"));
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", u"C"));
  EXPECT_EQ(gsm->GetPendingMessageCount(), 3);
  PauseReader();
  // The newest open part with reference 0 is C's, then A's.
  Feed(Cds(StatusReportPdu(0, 0x00)));
  Feed(Cds(StatusReportPdu(255, 0x00)));
  Feed(Cds(StatusReportPdu(0, 0x42)));
  Lines outcomes;
  for (const std::string& e : Events())
    if (e.rfind("status:", 0) == 0) outcomes.push_back(e);
  EXPECT_EQ(outcomes,
            (Lines{"status:+15550100|0|delivered", "status:+15550100|255|delivered", "status:+15550100|0|failed"}));
  EXPECT_EQ(gsm->GetPendingMessageCount(), 0);
}

TEST_F(Reports, TheRecipientIsComparedInNormalisedForm) {
  AnswerSends({30});
  gsm->SetStatusReportRequest(true);
  OpenQuiet();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+44 7700 900123", "", u"hi"));
  PauseReader();
  Feed(Cds(StatusReportPdu(30, 0x00, "+447700900124")));  // another recipient
  Feed(Cds(StatusReportPdu(30, 0x00, "07700900123")));    // the national form
  EXPECT_EQ(Events().back(), "status:+44 7700 900123|30|delivered");
  EXPECT_EQ(Events().size(), 3u);
}

TEST_F(Reports, AReportForNoKnownMessageIsStillRaised) {
  OpenForFeeding();
  Feed(Cds(StatusReportPdu(99, 0x00)));
  EXPECT_EQ(Events(), (Lines{"report:99|+15550100|0|" + kStamps}));
}

TEST_F(Reports, ThePendingSetIsBoundedOldestFirst) {
  AnswerSends({1, 2, 3});
  gsm->SetStatusReportRequest(true);
  gsm->SetMaxPendingMessages(2);
  OpenQuiet();
  for (const char16_t* text : {u"a", u"b", u"c"}) ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", text));
  EXPECT_EQ(gsm->GetPendingMessageCount(), 2);
  PauseReader();
  Feed(Cds(StatusReportPdu(1, 0x00)));  // the first one went
  Feed(Cds(StatusReportPdu(3, 0x00)));
  EXPECT_EQ(Events().back(), "status:+15550100|3|delivered");
  EXPECT_EQ(Events().size(), 3u);
}

TEST_F(Reports, WithoutAReportRequestNothingIsPending) {
  AnswerSends({5});
  OpenQuiet();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", u"hi"));
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(bodies[0].substr(2, 2), "11");
  EXPECT_EQ(gsm->GetPendingMessageCount(), 0);
}

TEST_F(Reports, TheValidityPeriodGoesIntoEachPdu) {
  AnswerSends({5});
  gsm->SetValidityPeriod(16 * 60);
  OpenQuiet();
  ASSERT_TRUE(gsm->SendSMSAsPDU("+15550100", "", u"hi"));
  ASSERT_EQ(bodies.size(), 1u);
  // 00 11 00 0891 51551000 00 00 <VP>: 16 hours is 151 (0x97).
  EXPECT_EQ(bodies[0].substr(22, 2), "97") << bodies[0];
}

TEST_F(Reports, TextModeAsksTheModemForTheReport) {
  gsm->SetWaitForPrompt(true);
  modem->SetHandler([](FakeModem& m, const std::string& line) {
    if (line.rfind("AT+CMGS=", 0) == 0) {
      m.Push("\r\n> ");
      return true;
    }
    if (!line.empty() && line.back() == kCtrlZ) {
      m.Push("\r\n+CMGS: 8\r\n\r\nOK\r\n");
      return true;
    }
    return false;
  });
  OpenQuiet();
  gsm->SetStatusReportRequest(true);
  const std::size_t before = modem->Lines().size();
  ASSERT_TRUE(gsm->SendSMSAsText("+15550100", "", "hi"));
  gsm->SetStatusReportRequest(false);
  ASSERT_TRUE(gsm->SendSMSAsText("+15550100", "", "hi"));
  ASSERT_TRUE(gsm->SendSMSAsText("+15550100", "", "hi"));
  Lines csmp;
  const Lines lines = modem->Lines();
  for (std::size_t i = before; i < lines.size(); ++i)
    if (lines[i].rfind("AT+CSMP", 0) == 0) csmp.push_back(lines[i]);
  // Asked for, then put back once.
  EXPECT_EQ(csmp, (Lines{"AT+CSMP=49,167", "AT+CSMP=17,167"}));
  EXPECT_EQ(gsm->GetPendingMessageCount(), 1);
}

// ------------------------------------------------ the stored message check and a full storage

TEST_F(Reports, TheCheckListsTheUnreadMessagesOfTheReceiveStorage) {
  modem->On("AT+CPMS?", "\r\n+CPMS: \"SM\",1,30,\"SM\",1,30,\"ME\",1,100\r\n\r\nOK\r\n");
  // Listed once: the modem marks the message read.
  modem->On("AT+CMGL=0", "\r\n+CMGL: 4,0,,23\r\n" + DeliverPdu("stranded") + "\r\n\r\nOK\r\n", 1);
  gsm->SetStoredMessageCheckInterval(1);
  OpenQuiet();
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  EXPECT_EQ(Events(), (Lines{"read:stranded|+15550123|0|listing"}));
  const Lines lines = modem->Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3), (Lines{"AT+CPMS?", "AT+CPMS=\"ME\"", "AT+CMGL=0"}));
  // And again after the interval (one second of the sped-up clock).
  ASSERT_TRUE(WaitUntil([&] { return modem->Lines().size() >= 6; }));
  EXPECT_EQ(modem->Lines()[3], "AT+CPMS?");
  EXPECT_EQ(Events().size(), 1u);
}

TEST_F(Reports, AMessageTheCheckReportedIsNotReportedAgainByItsNotice) {
  const std::string pdu = DeliverPdu("once");
  modem->On("AT+CPMS?", "\r\n+CPMS: \"SM\",1,30,\"SM\",1,30,\"SM\",1,30\r\n\r\nOK\r\n");
  modem->On("AT+CMGL=0", "\r\n+CMGL: 4,0,,23\r\n" + pdu + "\r\n\r\nOK\r\n", 1);
  modem->On("AT+CMGR=4", "\r\n+CMGR: 1,,23\r\n" + pdu + "\r\n\r\nOK\r\n");
  gsm->SetStoredMessageCheckInterval(3600);
  OpenQuiet();
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  // The notice that comes late: read automatically, and not told again.
  modem->Push("\r\n+CMTI: \"SM\",4\r\n");
  ASSERT_TRUE(WaitUntil([&] { return Events().size() >= 2; }));
  ASSERT_TRUE(WaitUntil([&] {
    for (const std::string& l : modem->Lines())
      if (l == "AT+CMGR=4") return true;
    return false;
  }));
  WaitUntil([] { return false; }, 300);
  EXPECT_EQ(Events(), (Lines{"read:once|+15550123|0|listing", "new:SM,4"}));
  // An application's own read still reports it.
  gsm->GetSMS("SM", 4);
  ASSERT_TRUE(WaitUntil([&] { return Events().size() == 3; }));
  EXPECT_EQ(Events().back(), "read:once|+15550123|1");
}

TEST_F(Reports, AFullStorageIsReported) {
  modem->On("AT+CPMS?", "\r\n+CPMS: \"SM\",30,30,\"SM\",30,30,\"SM\",30,30\r\n\r\nOK\r\n");
  gsm->SetStoredMessageCheckInterval(1);
  OpenQuiet();
  ASSERT_TRUE(WaitUntil([&] { return !Events().empty(); }));
  ASSERT_TRUE(WaitUntil([&] { return modem->Lines().size() >= 6; }));  // a second check
  EXPECT_EQ(Events(), (Lines{"error:SMS storage full"}));              // told once
}

TEST_F(Reports, ErrorThreeTwoTwoIsAFullStorageAndChecksAtOnce) {
  modem->On("AT+CPMS?", "\r\n+CPMS: \"SM\",29,30,\"SM\",29,30,\"SM\",29,30\r\n\r\nOK\r\n");
  OpenQuiet();
  modem->Push("\r\n+CMS ERROR: 322\r\n");
  ASSERT_TRUE(WaitUntil([&] { return modem->Lines().size() >= 3; }));
  EXPECT_EQ(Events(), (Lines{"error:+CMS ERROR: 322", "error:SMS storage full"}));
  const Lines lines = modem->Lines();
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3), (Lines{"AT+CPMS?", "AT+CPMS=\"SM\"", "AT+CMGL=0"}));
}

TEST_F(Reports, NoCheckWhenItIsOff) {
  modem->On("AT+CPMS?", "\r\n+CPMS: \"SM\",30,30,\"SM\",30,30,\"SM\",30,30\r\n\r\nOK\r\n");
  OpenQuiet();
  WaitUntil([] { return false; }, 300);
  EXPECT_TRUE(modem->Lines().empty());
}

}  // namespace
}  // namespace vesk
