// Sending, storing, reading, listing and deleting messages, in PDU and text
// mode, over the pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tools/simulator/tests/DeliverDecoder.h"
#include "tools/simulator/tests/SimFixture.h"

namespace vesk::sim::test {
namespace {

// The widely published SMS-SUBMIT example: "hellohello" to +46708251358,
// no service centre in the PDU; 23 octets after the service centre part.
constexpr const char* kSubmit = "00" "11" "00" "0B916407281553F8" "00" "00" "AA" "0A" "E8329BFD4697D9EC37";
constexpr int kSubmitLength = 23;

std::string Cmgs(int length) { return "AT+CMGS=" + std::to_string(length); }

class Messages : public SimTest {
 protected:
  void SetUp() override {
    ModemConfig config;
    config.echo = false;
    Start(config);
  }
  // Stores (and maybe announces) an incoming message, the defaults of
  // IncomingSms otherwise.
  DeliveredPart Deliver(const std::string& text) {
    IncomingSms sms;
    sms.text = text;
    const auto parts = Sim().DeliverSms(sms);
    EXPECT_EQ(parts.size(), 1u);
    return parts.at(0);
  }
  // Answer lines of a read: header and body.
  static std::map<int, std::string> ListedPdus(const std::string& answer) {
    std::map<int, std::string> out;
    std::size_t at = 0;
    while ((at = answer.find("+CMGL: ", at)) != std::string::npos) {
      const int index = std::stoi(answer.substr(at + 7));
      const std::size_t body = answer.find("\r\n", at) + 2;
      out[index] = answer.substr(body, answer.find("\r\n", body) - body);
      at = body;
    }
    return out;
  }
};

// --- Sending in PDU mode ---------------------------------------------------------

TEST_F(Messages, PduSendWithPromptAndCtrlZ) {
  EXPECT_EQ(Client().Ask(Cmgs(kSubmitLength)), "\r\n> ");
  Client().Type(std::string(kSubmit) + "\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  const auto sent = Sim().Submitted();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(sent[0].pduMode);
  EXPECT_EQ(sent[0].pdu, kSubmit);
  EXPECT_EQ(sent[0].tpduLength, kSubmitLength);
  EXPECT_EQ(sent[0].destination, "+46708251358");
  EXPECT_EQ(sent[0].text, "hellohello");
  EXPECT_EQ(sent[0].serviceCentre, "+15550100");  // none in the PDU: AT+CSCA's
  EXPECT_EQ(sent[0].messageReference, 0);
  EXPECT_TRUE(sent[0].answered);
}

TEST_F(Messages, PduBodyIsEchoedWhenEchoIsOn) {
  ASSERT_EQ(Client().Ask("ATE1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask(Cmgs(kSubmitLength)), Cmgs(kSubmitLength) + "\r\r\n> ");
  Client().Type(std::string(kSubmit) + "\x1A");
  EXPECT_EQ(Client().ReadAnswer(), std::string(kSubmit) + "\r\n+CMGS: 0\r\n\r\nOK\r\n");
}

TEST_F(Messages, PduWithServiceCentrePartCountsOnlyTheTpdu) {
  const std::string pdu = std::string("07917283010010F5") + (kSubmit + 2);
  EXPECT_EQ(Client().Ask(Cmgs(kSubmitLength)), "\r\n> ");
  Client().Type(pdu + "\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().Submitted().at(0).serviceCentre, "+27381000015");
}

TEST_F(Messages, PduLengthMismatchIsRefused) {
  EXPECT_EQ(Client().Ask(Cmgs(kSubmitLength + 1)), "\r\n> ");
  Client().Type(std::string(kSubmit) + "\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMS ERROR: 304\r\n");
  EXPECT_TRUE(Sim().Submitted().empty());
}

TEST_F(Messages, PduThatIsNotHexIsRefused) {
  EXPECT_EQ(Client().Ask(Cmgs(2)), "\r\n> ");
  Client().Type("000G1\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMS ERROR: 304\r\n");
}

TEST_F(Messages, PduThatIsNoSubmitIsRefused) {
  const std::string deliver = "00" "04" "0B916407281553F8" "00" "00" "99309251619580" "00";
  EXPECT_EQ(Client().Ask(Cmgs(static_cast<int>(deliver.size() / 2 - 1))), "\r\n> ");
  Client().Type(deliver + "\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMS ERROR: 304\r\n");
}

TEST_F(Messages, PduLengthMustBeANumber) {
  EXPECT_EQ(Client().Ask("AT+CMGS=\"+15550123\""), "\r\n+CMS ERROR: 304\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGS=0"), "\r\n+CMS ERROR: 304\r\n");
}

TEST_F(Messages, EscapeCancelsTheBody) {
  EXPECT_EQ(Client().Ask(Cmgs(kSubmitLength)), "\r\n> ");
  Client().Type(std::string(kSubmit).substr(0, 10) + "\x1B");
  EXPECT_EQ(Client().ReadAnswer(), "\r\nOK\r\n");
  EXPECT_TRUE(Sim().Submitted().empty());
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");  // back in command state
}

TEST_F(Messages, MessageReferenceCountsUp) {
  for (int mr = 0; mr < 3; ++mr) {
    EXPECT_EQ(Client().Ask(Cmgs(kSubmitLength)), "\r\n> ");
    Client().Type(std::string(kSubmit) + "\x1A");
    EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: " + std::to_string(mr) + "\r\n\r\nOK\r\n");
  }
  EXPECT_TRUE(Sim().WaitForSubmitted(3, 1s));
}

TEST_F(Messages, ConcatenatedPartsAreRecordedWithTheirHeader) {
  const std::string part = "00" "41" "00" "0B916407281553F8" "00" "08" "0A" "050003070201" "00480069";
  EXPECT_EQ(Client().Ask(Cmgs(static_cast<int>(part.size() / 2 - 1))), "\r\n> ");
  Client().Type(part + "\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  const SubmittedMessage m = Sim().Submitted().at(0);
  ASSERT_TRUE(m.concat);
  EXPECT_EQ(m.concat->reference, 7);
  EXPECT_EQ(m.concat->sequence, 1);
  EXPECT_EQ(m.encoding, SmsEncoding::Ucs2);
  EXPECT_EQ(m.text, "Hi");
}

// --- Sending in text mode ------------------------------------------------------

TEST_F(Messages, TextSend) {
  ASSERT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGS=\"+15550123\""), "\r\n> ");
  Client().Type("Hello there\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  const SubmittedMessage m = Sim().Submitted().at(0);
  EXPECT_FALSE(m.pduMode);
  EXPECT_EQ(m.destination, "+15550123");
  EXPECT_EQ(m.destinationType, 145);
  EXPECT_EQ(m.text, "Hello there");
  EXPECT_EQ(m.encoding, SmsEncoding::Gsm7Bit);
}

TEST_F(Messages, TextBodyPromptsAgainAfterEachCarriageReturn) {
  ASSERT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGS=\"5550123\",129"), "\r\n> ");
  Client().Type("line one\r");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n> ");
  Client().Type("line two\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().Submitted().at(0).text, "line one\rline two");
  EXPECT_EQ(Sim().Submitted().at(0).destinationType, 129);
}

TEST_F(Messages, TextBodyInTheGsmCharacterSet) {
  ASSERT_EQ(Client().Ask("AT+CMGF=1;+CSCS=\"GSM\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGS=\"+15550123\""), "\r\n> ");
  Client().Type(std::string("a\x00" "b\x05\x1A", 5));  // @ is code 0, é code 5
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().Submitted().at(0).text, "a@b\xC3\xA9");
}

TEST_F(Messages, TextBodyInUcs2WithUcs2DataCoding) {
  ASSERT_EQ(Client().Ask("AT+CMGF=1;+CSCS=\"UCS2\";+CSMP=17,167,0,8"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGS=\"002B0031003500350035\""), "\r\n> ");
  Client().Type("041F04400438\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  const SubmittedMessage m = Sim().Submitted().at(0);
  EXPECT_EQ(m.destination, "+1555");
  EXPECT_EQ(m.text, "\xD0\x9F\xD1\x80\xD0\xB8");  // При
  EXPECT_EQ(m.encoding, SmsEncoding::Ucs2);
}

TEST_F(Messages, TextTooLongForOneMessageIsRefused) {
  ASSERT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGS=\"+15550123\""), "\r\n> ");
  Client().Write(std::string(161, 'x') + "\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMS ERROR: 305\r\n");
  EXPECT_TRUE(Sim().Submitted().empty());
}

TEST_F(Messages, TextSendNeedsADestination) {
  ASSERT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGS"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGS=\"\""), "\r\n+CMS ERROR: 305\r\n");
}

// --- Incoming messages -----------------------------------------------------------

TEST_F(Messages, IncomingIsAnnouncedWithTheUsualSetUp) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  const DeliveredPart part = Deliver("hello");
  EXPECT_EQ(part.storage, "SM");
  EXPECT_EQ(part.index, 1);
  EXPECT_EQ(Client().ReadUntil("\r\n+CMTI: \"SM\",1\r\n"), "\r\n+CMTI: \"SM\",1\r\n");
  Deliver("again");
  EXPECT_EQ(Client().ReadUntil("\r\n+CMTI: \"SM\",2\r\n"), "\r\n+CMTI: \"SM\",2\r\n");
}

TEST_F(Messages, IncomingIsNotAnnouncedAtPowerOn) {
  // AT+CNMI starts at 0,0: nothing is routed to the client, not even later.
  Deliver("hello");
  EXPECT_EQ(Client().ReadFor(200ms), "");
  EXPECT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadFor(200ms), "");
  EXPECT_EQ(Sim().Stored().size(), 1u);
}

TEST_F(Messages, IndicationsKeptInModeZeroAreFlushedLater) {
  ASSERT_EQ(Client().Ask("AT+CNMI=0,1"), "\r\nOK\r\n");
  Deliver("hello");
  EXPECT_EQ(Client().ReadFor(200ms), "");
  // Entering mode 2 with <bfr> 0 flushes what mode 0 kept, after the OK.
  EXPECT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadUntil("+CMTI: \"SM\",1\r\n"), "\r\n+CMTI: \"SM\",1\r\n");
}

TEST_F(Messages, IndicationsKeptInModeZeroAreDroppedWithBfr1) {
  ASSERT_EQ(Client().Ask("AT+CNMI=0,1"), "\r\nOK\r\n");
  Deliver("hello");
  EXPECT_EQ(Client().Ask("AT+CNMI=2,1,0,0,1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadFor(200ms), "");
}

TEST_F(Messages, IncomingNotAnnouncedWithMessageIndicationOff) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,0,0,0,0"), "\r\nOK\r\n");
  Deliver("hello");
  EXPECT_EQ(Client().ReadFor(200ms), "");
  EXPECT_EQ(Sim().Stored().size(), 1u);
}

TEST_F(Messages, IncomingRoutedDirectlyWithMt2) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,2,0,0,0"), "\r\nOK\r\n");
  const DeliveredPart part = Deliver("hello");
  EXPECT_EQ(part.index, -1);
  EXPECT_EQ(Client().ReadUntil(part.pdu + "\r\n"), "\r\n+CMT: ,22\r\n" + part.pdu + "\r\n");
  EXPECT_TRUE(Sim().Stored().empty());
}

TEST_F(Messages, IncomingRoutedDirectlyInTextMode) {
  ASSERT_EQ(Client().Ask("AT+CMGF=1;+CSDH=1;+CNMI=2,2,0,0,0"), "\r\nOK\r\n");
  Deliver("hello");
  EXPECT_EQ(Client().ReadUntil("hello\r\n"),
            "\r\n+CMT: \"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,5\r\nhello\r\n");
}

TEST_F(Messages, IncomingWhileTypingABodyWaitsForItsEnd) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask(Cmgs(kSubmitLength)), "\r\n> ");
  Deliver("hello");
  EXPECT_EQ(Client().ReadFor(200ms), "");
  Client().Type("\x1B");
  EXPECT_EQ(Client().ReadUntil("+CMTI: \"SM\",1\r\n"), "\r\nOK\r\n\r\n+CMTI: \"SM\",1\r\n");
}

TEST_F(Messages, IncomingIntoTheReceiveStorage) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  ASSERT_EQ(Client().Ask("AT+CPMS=\"SM\",\"SM\",\"ME\""), "\r\n+CPMS: 0,30,0,30,0,100\r\n\r\nOK\r\n");
  EXPECT_EQ(Deliver("hello").storage, "ME");
  EXPECT_EQ(Client().ReadUntil("+CMTI: \"ME\",1\r\n"), "\r\n+CMTI: \"ME\",1\r\n");
}

TEST_F(Messages, FullStorageTakesNoMore) {
  ModemConfig config;
  config.echo = false;
  config.simCapacity = 2;
  Start(config);
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  EXPECT_EQ(Deliver("one").index, 1);
  EXPECT_EQ(Deliver("two").index, 2);
  EXPECT_EQ(Deliver("three").index, -1);
  EXPECT_EQ(Client().ReadFor(300ms), "\r\n+CMTI: \"SM\",1\r\n\r\n+CMTI: \"SM\",2\r\n");
}

TEST_F(Messages, RawPduIsStoredAndListedAsGiven) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  // Not a message at all: the service centre part, then two octets.
  EXPECT_EQ(Sim().StoreRawPdu("SM", "079151551000040404"), 1);
  EXPECT_EQ(Client().ReadUntil("+CMTI: \"SM\",1\r\n"), "\r\n+CMTI: \"SM\",1\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=4"), "\r\n+CMGL: 1,0,,1\r\n079151551000040404\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().StoreRawPdu("XX", "00"), -1) << "no such storage";
  EXPECT_EQ(Sim().StoreRawPdu("ME", "0004", SmsStatus::StoredSent, false), 1);
  EXPECT_EQ(Client().ReadFor(200ms), "") << "not announced";
}

TEST_F(Messages, PreloadedSilently) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  IncomingSms sms;
  sms.text = "quiet";
  sms.announce = false;
  sms.storage = "ME";
  const auto parts = Sim().DeliverSms(sms);
  EXPECT_EQ(parts.at(0).storage, "ME");
  EXPECT_EQ(Client().ReadFor(200ms), "");
}

TEST_F(Messages, MultipartDeliveredInAnyOrder) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  IncomingSms sms;
  std::string text;
  for (int i = 0; i < 30; ++i) text += "part text " + std::to_string(i) + " ";  // 380 septets: 3 parts
  sms.text = text;
  sms.reference = 42;
  sms.partOrder = {3, 1, 2};
  const auto parts = Sim().DeliverSms(sms);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].partNumber, 3);
  EXPECT_EQ(Client().ReadFor(300ms),
            "\r\n+CMTI: \"SM\",1\r\n\r\n+CMTI: \"SM\",2\r\n\r\n+CMTI: \"SM\",3\r\n");

  std::map<int, std::string> bySequence;
  for (int index = 1; index <= 3; ++index) {
    const std::string answer = Client().Ask("AT+CMGR=" + std::to_string(index));
    const std::size_t body = answer.find("\r\n", 2) + 2;
    const DecodedDeliver d = DecodeDeliver(answer.substr(body, answer.find("\r\n", body) - body));
    ASSERT_EQ(d.error, "") << answer;
    EXPECT_EQ(d.concatReference, 42);
    EXPECT_EQ(d.concatTotal, 3);
    bySequence[d.concatSequence] = d.text;
  }
  EXPECT_EQ(bySequence[1] + bySequence[2] + bySequence[3], text);
  // Storage index 1 holds the part that came first: part 3.
  EXPECT_EQ(DecodeDeliver(Sim().Stored().at(0).pdu).concatSequence, 3);
}

TEST_F(Messages, MultipartWithAPartMissing) {
  IncomingSms sms;
  sms.text = std::string(300, 'm');
  sms.partOrder = {2};
  const auto parts = Sim().DeliverSms(sms);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(DecodeDeliver(parts[0].pdu).concatSequence, 2);
  EXPECT_EQ(Sim().Stored().size(), 1u);
}

// --- Reading -----------------------------------------------------------------------

TEST_F(Messages, ReadInPduModeMarksTheMessageRead) {
  const DeliveredPart part = Deliver("hello");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"), "\r\n+CMGR: 0,,22\r\n" + part.pdu + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"), "\r\n+CMGR: 1,,22\r\n" + part.pdu + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().Stored().at(0).status, SmsStatus::ReceivedRead);
}

TEST_F(Messages, ReadInTextModeWithDetailedHeader) {
  Deliver("hello");
  ASSERT_EQ(Client().Ask("AT+CMGF=1;+CSDH=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"),
            "\r\n+CMGR: \"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,5"
            "\r\nhello\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"),
            "\r\n+CMGR: \"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,5"
            "\r\nhello\r\n\r\nOK\r\n");
}

TEST_F(Messages, ReadInTextModeWithShortHeader) {
  Deliver("hello");
  ASSERT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"),
            "\r\n+CMGR: \"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\nhello\r\n\r\nOK\r\n");
}

TEST_F(Messages, TextModeBodyFollowsTheCharacterSet) {
  Deliver("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC");  // "été €"
  ASSERT_EQ(Client().Ask("AT+CMGF=1;+CSCS=\"GSM\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"), "\r\n+CMGR: \"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\n"
                                       "\x05t\x05 \x1B\x65\r\n\r\nOK\r\n");
  ASSERT_EQ(Client().Ask("AT+CSCS=\"UCS2\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"),
            "\r\n+CMGR: \"REC READ\",\"002B00310035003500350030003100320033\",,\"19/03/14,15:09:26+08\"\r\n"
            "00E9007400E9002020AC\r\n\r\nOK\r\n");
}

TEST_F(Messages, TextModeShowsUcs2AndPartsAsHex) {
  IncomingSms sms;
  sms.text = "Hi";
  sms.encoding = SmsEncoding::Ucs2;
  Sim().DeliverSms(sms);
  ASSERT_EQ(Client().Ask("AT+CMGF=1;+CSDH=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"),
            "\r\n+CMGR: \"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,8,\"+15550100\",145,4"
            "\r\n00480069\r\n\r\nOK\r\n");
}

TEST_F(Messages, ReadEmptyAndOutOfRangePositions) {
  EXPECT_EQ(Client().Ask("AT+CMGR=5"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=0"), "\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=31"), "\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR"), "\r\nERROR\r\n");
}

// --- Listing -------------------------------------------------------------------------

TEST_F(Messages, ListInPduMode) {
  const DeliveredPart one = Deliver("one");
  const DeliveredPart two = Deliver("two");
  ASSERT_EQ(Client().Ask("AT+CMGR=1").find("+CMGR: 0"), 2u);  // one is read now
  const std::string all = Client().Ask("AT+CMGL=4");
  EXPECT_EQ(all, "\r\n+CMGL: 1,1,,20\r\n" + one.pdu + "\r\n+CMGL: 2,0,,20\r\n" + two.pdu + "\r\n\r\nOK\r\n");
  EXPECT_EQ(ListedPdus(all).size(), 2u);
  // Listing read message two, so no unread ones remain.
  EXPECT_EQ(Client().Ask("AT+CMGL=0"), "\r\nOK\r\n");
  EXPECT_EQ(ListedPdus(Client().Ask("AT+CMGL=1")).size(), 2u);
}

TEST_F(Messages, ListUnreadByDefault) {
  const DeliveredPart one = Deliver("one");
  EXPECT_EQ(Client().Ask("AT+CMGL"), "\r\n+CMGL: 1,0,,20\r\n" + one.pdu + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL"), "\r\nOK\r\n");
}

TEST_F(Messages, ListInTextMode) {
  Deliver("one");
  Deliver("two");
  ASSERT_EQ(Client().Ask("AT+CMGF=1;+CSDH=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=\"ALL\""),
            "\r\n+CMGL: 1,\"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,3\r\none"
            "\r\n+CMGL: 2,\"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,3\r\ntwo\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=\"REC UNREAD\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=\"REC READ\"").substr(0, 12), "\r\n+CMGL: 1,\"");
  EXPECT_EQ(Client().Ask("AT+CMGL=4"), "\r\n+CMS ERROR: 305\r\n");  // text mode wants a word
  EXPECT_EQ(Client().Ask("AT+CMGL=\"OLD\""), "\r\n+CMS ERROR: 305\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=?"),
            "\r\n+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")\r\n\r\nOK\r\n");
}

TEST_F(Messages, ListInPduModeWantsANumber) {
  EXPECT_EQ(Client().Ask("AT+CMGL=\"ALL\""), "\r\n+CMS ERROR: 304\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=5"), "\r\n+CMS ERROR: 304\r\n");
}

// --- Writing and deleting --------------------------------------------------------------

TEST_F(Messages, WriteInPduModeStoresUnsent) {
  EXPECT_EQ(Client().Ask("AT+CMGW=" + std::to_string(kSubmitLength)), "\r\n> ");
  Client().Type(std::string(kSubmit) + "\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGW: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=2"), "\r\n+CMGL: 1,2,,23\r\n" + std::string(kSubmit) + "\r\n\r\nOK\r\n");
  EXPECT_TRUE(Sim().Submitted().empty());
}

TEST_F(Messages, WriteInTextModeShowsTheOutgoingHeader) {
  ASSERT_EQ(Client().Ask("AT+CMGF=1;+CSDH=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGW=\"+15550123\",145,\"STO SENT\""), "\r\n> ");
  Client().Type("draft\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGW: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"),
            "\r\n+CMGR: \"STO SENT\",\"+15550123\",,145,17,0,0,167,\"+15550100\",145,5\r\ndraft\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=\"STO SENT\""),
            "\r\n+CMGL: 1,\"STO SENT\",\"+15550123\",,,145,5\r\ndraft\r\n\r\nOK\r\n");
  // The same message in PDU mode reads as the SMS-SUBMIT the modem built.
  ASSERT_EQ(Client().Ask("AT+CMGF=0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"),
            "\r\n+CMGR: 3,,17\r\n"
            "0591" "51551000" "11" "00" "0891" "51551032" "00" "00" "A7" "05" "6479D84C07"
            "\r\n\r\nOK\r\n");
}

TEST_F(Messages, DeleteOneMessage) {
  Deliver("one");
  Deliver("two");
  EXPECT_EQ(Client().Ask("AT+CMGD=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"), "\r\nOK\r\n");
  ASSERT_EQ(Sim().Stored().size(), 1u);
  EXPECT_EQ(Sim().Stored().at(0).index, 2);
  EXPECT_EQ(Client().Ask("AT+CMGD=1"), "\r\nOK\r\n");  // already empty
  EXPECT_EQ(Client().Ask("AT+CMGD=99"), "\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGD=?"), "\r\n+CMGD: (2),(0-4)\r\n\r\nOK\r\n");
  // The freed position is the next one used.
  EXPECT_EQ(Deliver("three").index, 1);
}

TEST_F(Messages, DeleteFlags) {
  // Positions: 1 read, 2 unread, 3 unsent, 4 sent.
  auto fill = [&] {
    EXPECT_EQ(Client().Ask("AT+CMGD=1,4"), "\r\nOK\r\n");
    Deliver("read");
    Deliver("unread");
    EXPECT_EQ(Client().Ask("AT+CMGR=1").find("+CMGR: 0"), 2u);
    EXPECT_EQ(Client().Ask("AT+CMGW=" + std::to_string(kSubmitLength) + ",2"), "\r\n> ");
    Client().Type(std::string(kSubmit) + "\x1A");
    EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGW: 3\r\n\r\nOK\r\n");
    EXPECT_EQ(Client().Ask("AT+CMGW=" + std::to_string(kSubmitLength) + ",3"), "\r\n> ");
    Client().Type(std::string(kSubmit) + "\x1A");
    EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGW: 4\r\n\r\nOK\r\n");
  };
  auto left = [&] {
    std::vector<int> indexes;
    for (const StoredSms& s : Sim().Stored()) indexes.push_back(s.index);
    return indexes;
  };
  fill();
  EXPECT_EQ(Client().Ask("AT+CMGD=0,1"), "\r\nOK\r\n");
  EXPECT_EQ(left(), (std::vector<int>{2, 3, 4}));
  fill();
  EXPECT_EQ(Client().Ask("AT+CMGD=0,2"), "\r\nOK\r\n");
  EXPECT_EQ(left(), (std::vector<int>{2, 3}));
  fill();
  EXPECT_EQ(Client().Ask("AT+CMGD=0,3"), "\r\nOK\r\n");
  EXPECT_EQ(left(), (std::vector<int>{2}));
  fill();
  EXPECT_EQ(Client().Ask("AT+CMGD=0,4"), "\r\nOK\r\n");
  EXPECT_TRUE(left().empty());
  EXPECT_EQ(Client().Ask("AT+CMGD=1,5"), "\r\n+CMS ERROR: 302\r\n");
}

// --- Storages ------------------------------------------------------------------------

TEST_F(Messages, SelectStorages) {
  Deliver("on the SIM");
  EXPECT_EQ(Client().Ask("AT+CPMS?"), "\r\n+CPMS: \"SM\",1,30,\"SM\",1,30,\"SM\",1,30\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPMS=\"ME\""), "\r\n+CPMS: 0,100,1,30,1,30\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().State().readStorage, "ME");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"), "\r\nOK\r\n");  // ME is empty
  EXPECT_EQ(Client().Ask("AT+CPMS=\"sm\""), "\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1").substr(0, 10), "\r\n+CMGR: 0");
}

TEST_F(Messages, UnknownStorageIsRefused) {
  EXPECT_EQ(Client().Ask("AT+CPMS=\"XX\""), "\r\n+CMS ERROR: 302\r\n");
  EXPECT_EQ(Client().Ask("AT+CPMS=\"ME\",\"BM\""), "\r\n+CMS ERROR: 302\r\n");
  EXPECT_EQ(Sim().State().readStorage, "SM");
}

}  // namespace
}  // namespace vesk::sim::test
