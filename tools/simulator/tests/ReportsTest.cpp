// Status reports for messages sent with TP-SRR, routed by AT+CNMI <ds>;
// acknowledgement of routed deliveries under AT+CSMS=1 and delivery again
// without it; notices that go missing.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tools/simulator/tests/SimFixture.h"

namespace vesk::sim::test {
namespace {

// PDUs split by field:
// clang-format off
// The widely published SMS-SUBMIT example ("hellohello" to +46708251358)
// with TP-SRR set: first octet 0x31.
constexpr const char* kSubmitWithReport = "00" "31" "00" "0B916407281553F8" "00" "00" "AA" "0A" "E8329BFD4697D9EC37";
constexpr const char* kSubmitWithoutReport = "00" "11" "00" "0B916407281553F8" "00" "00" "AA" "0A" "E8329BFD4697D9EC37";
constexpr int kSubmitLength = 23;
// Part `n` of 2 of "hi hi" to +15550100, reference 0x2A, TP-SRR set.
std::string Part(int n) { return "0071000891515510000000AA090500032A020" + std::to_string(n) + "D069"; }
constexpr int kPartLength = 20;

// The report laid out from TS 23.040 9.2.2.3: the SC +15550100, TP-MR,
// TP-RA +46708251358, received 2019-03-14 15:09:26 +08 and discharged a
// second later, TP-ST.
std::string ReportPdu(int reference, int status, const std::string& recipient = "0B916407281553F8") {
  char octets[8];
  std::snprintf(octets, sizeof octets, "%02X", reference);
  std::string pdu = std::string("0591" "51551000" "06") + octets + recipient + "91304151906280" "91304151907280";
  std::snprintf(octets, sizeof octets, "%02X", status);
  return pdu + octets;
}
// clang-format on

class Reports : public SimTest {
 protected:
  void SetUp() override {
    ModemConfig config;
    config.echo = false;
    config.reports.delay = std::chrono::milliseconds(50);
    config.ackTimeout = std::chrono::milliseconds(150);
    config.maxRedeliveries = 2;
    Start(config);
  }
  // Sends a PDU and returns the message reference answered.
  int Send(const std::string& pdu, int length) {
    EXPECT_EQ(Client().Ask("AT+CMGS=" + std::to_string(length)), "\r\n> ");
    Client().Type(pdu + "\x1A");
    const std::string answer = Client().ReadAnswer();
    EXPECT_EQ(answer.substr(0, 9), "\r\n+CMGS: ") << answer;
    return std::stoi(answer.substr(9));
  }
  // The (reference, status) of every +CDS in PDU mode within `window`.
  std::multiset<std::pair<int, int>> CdsFor(std::chrono::milliseconds window) {
    const std::string text = Client().ReadFor(window);
    std::multiset<std::pair<int, int>> out;
    std::size_t at = 0;
    while ((at = text.find("+CDS: ", at)) != std::string::npos) {
      const std::size_t body = text.find("\r\n", at) + 2;
      const std::string pdu = text.substr(body, text.find("\r\n", body) - body);
      // After the centre (12 digits) and the first octet: TP-MR; TP-ST last.
      out.insert({std::stoi(pdu.substr(14, 2), nullptr, 16), std::stoi(pdu.substr(pdu.size() - 2), nullptr, 16)});
      at = body;
    }
    return out;
  }
  DeliveredPart Deliver(const std::string& text) {
    IncomingSms sms;
    sms.text = text;
    return Sim().DeliverSms(sms).at(0);
  }
};

TEST_F(Reports, RoutedAsCdsInPduMode) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,1,0"), "\r\nOK\r\n");
  EXPECT_EQ(Send(kSubmitWithReport, kSubmitLength), 0);
  const std::string report = ReportPdu(0, 0x00);
  EXPECT_EQ(Client().ReadUntil(report + "\r\n"), "\r\n+CDS: 25\r\n" + report + "\r\n");
  EXPECT_TRUE(Sim().Submitted().at(0).reportRequested);
  EXPECT_EQ(Sim().StatusReportsSent(), 1);
  EXPECT_TRUE(Sim().Stored().empty());
}

TEST_F(Reports, RoutedAsCdsInTextMode) {
  ASSERT_EQ(Client().Ask("AT+CMGF=1;+CNMI=2,1,0,1,0;+CSMP=49,167"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGS=\"+46708251358\""), "\r\n> ");
  Client().Type("hellohello\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().ReadUntil(",0\r\n"),
            "\r\n+CDS: 6,0,\"+46708251358\",145,\"19/03/14,15:09:26+08\",\"19/03/14,15:09:27+08\",0\r\n");
}

TEST_F(Reports, StoredAndAnnouncedWithCdsi) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,2,0"), "\r\nOK\r\n");
  Send(kSubmitWithReport, kSubmitLength);
  EXPECT_EQ(Client().ReadUntil("+CDSI: \"SR\",1\r\n"), "\r\n+CDSI: \"SR\",1\r\n");
  EXPECT_EQ(Client().Ask("AT+CPMS=\"SR\""), "\r\n+CPMS: 1,50,0,30,0,30\r\n\r\nOK\r\n");
  const std::string report = ReportPdu(0, 0x00);
  EXPECT_EQ(Client().Ask("AT+CMGR=1"), "\r\n+CMGR: 0,,25\r\n" + report + "\r\n\r\nOK\r\n");
  // TS 27.005 4.1: in text mode a stored report reads as its fields.
  ASSERT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=1"),
            "\r\n+CMGR: \"REC READ\",6,0,\"+46708251358\",145,\"19/03/14,15:09:26+08\",\"19/03/14,15:09:27+08\",0\r\n"
            "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=\"ALL\""),
            "\r\n+CMGL: 1,\"REC READ\",6,0,\"+46708251358\",145,\"19/03/14,15:09:26+08\",\"19/03/14,15:09:27+08\",0\r\n"
            "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGD=1"), "\r\nOK\r\n");
  EXPECT_TRUE(Sim().Stored().empty());
}

// A report storage that is full refuses the report; the centre tries
// again, and the report comes once there is room.
TEST(FullReportStorage, AReportRefusedIsTriedAgain) {
  ModemConfig config;
  config.echo = false;
  config.reports.delay = std::chrono::milliseconds(50);
  config.reportCapacity = 1;
  ModemSimulator sim(config);
  SimClient client(sim.Path());
  ASSERT_EQ(client.Ask("AT+CNMI=2,1,0,2,0"), "\r\nOK\r\n");
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(client.Ask("AT+CMGS=" + std::to_string(kSubmitLength)), "\r\n> ");
    client.Type(std::string(kSubmitWithReport) + "\x1A");
    EXPECT_EQ(client.ReadAnswer(), "\r\n+CMGS: " + std::to_string(i) + "\r\n\r\nOK\r\n");
  }
  EXPECT_EQ(client.ReadUntil("+CDSI: \"SR\",1\r\n"), "\r\n+CDSI: \"SR\",1\r\n");
  // The second finds the storage full: nothing more comes meanwhile.
  EXPECT_EQ(client.ReadFor(std::chrono::milliseconds(300)), "");
  EXPECT_EQ(sim.StatusReportsSent(), 1);
  EXPECT_EQ(client.Ask("AT+CPMS=\"SR\""), "\r\n+CPMS: 1,1,0,30,0,30\r\n\r\nOK\r\n");
  EXPECT_EQ(client.Ask("AT+CMGD=1"), "\r\nOK\r\n");
  EXPECT_EQ(client.ReadUntil("+CDSI: \"SR\",1\r\n"), "\r\n+CDSI: \"SR\",1\r\n");
  EXPECT_EQ(client.Ask("AT+CMGR=1"), "\r\n+CMGR: 0,,25\r\n" + ReportPdu(1, 0x00) + "\r\n\r\nOK\r\n");
  EXPECT_EQ(sim.StatusReportsSent(), 2);
}

TEST_F(Reports, StoredSilentlyWithoutRouting) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  Send(kSubmitWithReport, kSubmitLength);
  EXPECT_EQ(Client().ReadFor(std::chrono::milliseconds(300)), "");
  const auto stored = Sim().Stored();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].storage, "SR");
  EXPECT_EQ(stored[0].pdu, ReportPdu(0, 0x00));
}

TEST_F(Reports, NoReportWithoutTheRequest) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,1,0"), "\r\nOK\r\n");
  Send(kSubmitWithoutReport, kSubmitLength);
  EXPECT_EQ(Client().ReadFor(std::chrono::milliseconds(300)), "");
  EXPECT_FALSE(Sim().Submitted().at(0).reportRequested);
  EXPECT_EQ(Sim().StatusReportsSent(), 0);
}

TEST_F(Reports, AnOutcomePerPartAfterInterimStatuses) {
  ReportPolicy policy;
  policy.delay = std::chrono::milliseconds(40);
  policy.byPart[2] = report_status::kIncompatibleDestination;
  policy.interim = {report_status::kStillTryingBusy};
  Sim().SetReportPolicy(policy);
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,1,0"), "\r\nOK\r\n");
  EXPECT_EQ(Send(Part(1), kPartLength), 0);
  EXPECT_EQ(Send(Part(2), kPartLength), 1);
  EXPECT_EQ(CdsFor(std::chrono::milliseconds(600)),
            (std::multiset<std::pair<int, int>>{{0, 0x21}, {0, 0x00}, {1, 0x21}, {1, 0x41}}));
}

TEST_F(Reports, AnOutcomePerDestination) {
  ReportPolicy policy;
  policy.delay = std::chrono::milliseconds(10);
  policy.byDestination["+15550100"] = report_status::kValidityExpired;
  Sim().SetReportPolicy(policy);
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,1,0"), "\r\nOK\r\n");
  Send(kSubmitWithReport, kSubmitLength);
  Send(Part(1), kPartLength);
  EXPECT_EQ(CdsFor(std::chrono::milliseconds(400)), (std::multiset<std::pair<int, int>>{{0, 0x00}, {1, 0x46}}));
}

// ------------------------------------------------ acknowledgement

TEST_F(Reports, AnUnacknowledgedDeliveryComesAgain) {
  EXPECT_EQ(Client().Ask("AT+CSMS=1"), "\r\n+CSMS: 1,1,1\r\n\r\nOK\r\n");
  ASSERT_EQ(Client().Ask("AT+CNMI=2,2,0,1,0"), "\r\nOK\r\n");
  const DeliveredPart part = Deliver("hello");
  const std::string cmt = "\r\n+CMT: ,22\r\n" + part.pdu + "\r\n";
  // Delivered, then twice more (maxRedeliveries), then given up.
  EXPECT_EQ(Client().ReadFor(std::chrono::milliseconds(800)), cmt + cmt + cmt);
  EXPECT_EQ(Sim().Redeliveries(), 2);
  EXPECT_EQ(Client().Ask("AT+CNMA"), "\r\n+CMS ERROR: 340\r\n");  // nothing waits any more
  EXPECT_TRUE(Sim().Stored().empty());
}

TEST_F(Reports, AnAcknowledgedDeliveryComesOnce) {
  EXPECT_EQ(Client().Ask("AT+CSMS=1"), "\r\n+CSMS: 1,1,1\r\n\r\nOK\r\n");
  ASSERT_EQ(Client().Ask("AT+CNMI=2,2,0,1,0"), "\r\nOK\r\n");
  const DeliveredPart part = Deliver("hello");
  EXPECT_EQ(Client().ReadUntil(part.pdu + "\r\n"), "\r\n+CMT: ,22\r\n" + part.pdu + "\r\n");
  EXPECT_EQ(Client().Ask("AT+CNMA"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadFor(std::chrono::milliseconds(400)), "");
  EXPECT_EQ(Sim().Acknowledgements(), 1);
  EXPECT_EQ(Sim().Redeliveries(), 0);
  EXPECT_EQ(Client().Ask("AT+CNMA=0"), "\r\n+CMS ERROR: 340\r\n");
}

TEST_F(Reports, ARoutedReportWaitsForItsAcknowledgementToo) {
  EXPECT_EQ(Client().Ask("AT+CSMS=1"), "\r\n+CSMS: 1,1,1\r\n\r\nOK\r\n");
  ASSERT_EQ(Client().Ask("AT+CNMI=2,2,0,1,0"), "\r\nOK\r\n");
  Send(kSubmitWithReport, kSubmitLength);
  const std::string report = ReportPdu(0, 0x00);
  EXPECT_EQ(Client().ReadUntil(report + "\r\n"), "\r\n+CDS: 25\r\n" + report + "\r\n");
  EXPECT_EQ(Client().ReadUntil(report + "\r\n"), "\r\n+CDS: 25\r\n" + report + "\r\n");  // again
  EXPECT_EQ(Client().Ask("AT+CNMA"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadFor(std::chrono::milliseconds(400)), "");
}

TEST_F(Reports, AcknowledgementsBelongToPhaseTwoPlus) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,2,0,1,0"), "\r\nOK\r\n");
  const DeliveredPart part = Deliver("hello");
  EXPECT_EQ(Client().ReadUntil(part.pdu + "\r\n"), "\r\n+CMT: ,22\r\n" + part.pdu + "\r\n");
  EXPECT_EQ(Client().Ask("AT+CNMA"), "\r\n+CMS ERROR: 340\r\n");
  EXPECT_EQ(Client().ReadFor(std::chrono::milliseconds(400)), "");  // never delivered again
  EXPECT_EQ(Sim().State().csms, 0);
}

// ------------------------------------------------ notices that go missing

TEST_F(Reports, ADroppedNoticeLeavesTheMessageStored) {
  ASSERT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  Sim().DropNextNotices(1);
  EXPECT_EQ(Deliver("lost").index, 1);
  EXPECT_EQ(Client().ReadFor(std::chrono::milliseconds(200)), "");
  EXPECT_EQ(Deliver("next").index, 2);
  EXPECT_EQ(Client().ReadUntil("+CMTI: \"SM\",2\r\n"), "\r\n+CMTI: \"SM\",2\r\n");
  EXPECT_EQ(Sim().Stored().size(), 2u);
}

}  // namespace
}  // namespace vesk::sim::test
