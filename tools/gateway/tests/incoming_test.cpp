// Reading what the modem stored: the storages it offers, PDU-mode
// listings, the header of each PDU (which part of which long message), and
// the decoded message or part the store keeps.
#include <gtest/gtest.h>

#include "tools/gateway/Incoming.h"
#include "tools/gateway/ModemText.h"
#include "tools/simulator/ModemSimulator.h"

namespace vesk::gateway {
namespace {

// ------------------------------------------------------------------ AT+CPMS=?

struct StorageCase {
  const char* name;
  std::vector<std::string> lines;
  std::vector<std::string> expected;
};

class Storages : public ::testing::TestWithParam<StorageCase> {};

TEST_P(Storages, FirstListIsRead) { EXPECT_EQ(ReadableStorages(GetParam().lines), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Answers, Storages,
    ::testing::Values(
        // TS 27.005 3.2.2's form, as the simulator gives it.
        StorageCase{"Simulator", {"+CPMS: (\"SM\",\"ME\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")", "OK"}, {"SM", "ME"}},
        StorageCase{"WithMtAndSr",
                    {"AT+CPMS=?", "+CPMS: (\"SM\",\"ME\",\"MT\",\"SR\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")", "OK"},
                    {"SM", "ME", "MT", "SR"}},
        StorageCase{"NestedLists", {"+CPMS: ((\"SM\",\"BM\",\"SR\"),(\"SM\"))", "OK"}, {"SM", "BM", "SR"}},
        StorageCase{"UnderscoreNames",
                    {"+CPMS: (\"SM\",\"ME\",\"SM_P\",\"ME_P\",\"MT\"),(\"SM\",\"ME\"),(\"SM\")"},
                    {"SM", "ME", "SM_P", "ME_P", "MT"}},
        StorageCase{"LowerCaseAndSpaces", {"+cpms: ( \"sm\" , \"me\" ),(\"sm\")"}, {"SM", "ME"}},
        StorageCase{"NoBrackets", {"+CPMS: \"SM\",\"SM\",\"SM\""}, {"SM"}},
        StorageCase{"InjectionRefused", {"+CPMS: (\"SM\",\"ME\\r\\nAT+CMGD=1,4\",\"X;Y\"),(\"SM\")"}, {"SM"}},
        StorageCase{"Nothing", {"ERROR"}, {}}),
    [](const ::testing::TestParamInfo<StorageCase>& p) { return std::string(p.param.name); });

// ------------------------------------------------------------------ AT+CMGL

// The modem's state as the component reads it, named for the API.
TEST(ModemStateNames, SimAndRegistration) {
  const std::pair<TSIMState, const char*> sims[] = {
      {ssReady, "ready"},     {ssPINNeeded, "pin"},   {ssPUKNeeded, "puk"},
      {ssPIN2Needed, "pin2"}, {ssPUK2Needed, "puk2"}, {ssNotInserted, "absent"},
      {ssFailure, "other"},   {ssBusy, "other"},      {ssPhoneToSIMPINNeeded, "other"},
      {ssUnknown, ""}};
  for (const auto& [state, name] : sims) EXPECT_EQ(SimStateText(state), name) << name;
  const std::pair<int, const char*> stats[] = {{0, "unregistered"}, {1, "home"},    {2, "searching"},
                                               {3, "denied"},       {4, "unknown"}, {5, "roaming"}};
  for (const auto& [stat, name] : stats) {
    TRegistration r;
    r.Status = static_cast<TRegistrationStatus>(stat);
    r.Stat = stat;
    EXPECT_EQ(RegistrationText(r), name) << stat;
  }
  EXPECT_EQ(RegistrationText(TRegistration{}), "") << "nothing read";
}

TEST(ModemStateNames, OperatorNamesAreCleanAndShort) {
  TOperator op;
  EXPECT_EQ(OperatorText(op), "") << "no operator named";
  op.Format = 0;
  op.Name = Utf8ToWide("Acme, Inc");
  EXPECT_EQ(OperatorText(op), "Acme, Inc");
  op.Name = Utf8ToWide("Evil\r\n<b>\x1B[31m");
  EXPECT_EQ(OperatorText(op), "Evil<b>[31m") << "control characters out";
  op.Name = Utf8ToWide(std::string(63, 'a') + "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(OperatorText(op), std::string(63, 'a')) << "64 bytes at most, no character cut";
}

TEST(Listing, EntriesWithTheirPdus) {
  const std::vector<std::string> lines = {"AT+CMGL=4",
                                          "+CMGL: 1,0,,23",
                                          "0791515510000408915155103200009130415190628005E8329BFD06",
                                          "+CMGL: 3,1,\"Bob, Jr\",23",
                                          "0791515510000408915155103200009130415190628005e8329bfd06",
                                          "+CMTI: \"SM\",4",
                                          "+CMGL: 7,2,,5",
                                          "+CMGL: 9,3,,17",
                                          "0011000891515510000000AA0AE8329BFD4697D9EC37",
                                          "OK"};
  const Listing listing = ReadListing(lines);
  EXPECT_TRUE(listing.complete);
  const auto& listed = listing.entries;
  ASSERT_EQ(listed.size(), 4u);
  EXPECT_EQ(listed[0].index, 1);
  EXPECT_EQ(listed[0].status, 0);
  EXPECT_EQ(listed[1].index, 3);
  EXPECT_EQ(listed[1].status, 1);
  EXPECT_EQ(listed[1].pdu, "0791515510000408915155103200009130415190628005e8329bfd06");
  EXPECT_EQ(listed[2].index, 7);
  EXPECT_EQ(listed[2].pdu, "") << "a missing PDU line";
  EXPECT_EQ(listed[3].status, 3);
}

TEST(Listing, JunkIsPassedOver) {
  const Listing junk = ReadListing({"+CMGL:", "+CMGL: x,1", "garbage", "OK"});
  EXPECT_TRUE(junk.complete);
  EXPECT_TRUE(junk.entries.empty());
}

// Only a final OK makes a listing whole: an error, or an answer cut short
// by a time-out, leaves every message on the modem.
TEST(Listing, OnlyAnOkEndsAListing) {
  const std::string entry = "+CMGL: 1,0,,23";
  const std::string pdu = "0791515510000408915155103200009130415190628005E8329BFD06";
  EXPECT_TRUE(ReadListing({entry, pdu, "OK"}).complete);
  EXPECT_TRUE(ReadListing({"ok"}).complete) << "an empty storage";
  for (const char* last : {"ERROR", "+CMS ERROR: 321", "+CME ERROR: 3"})
    EXPECT_FALSE(ReadListing({entry, pdu, last}).complete) << last;
  EXPECT_FALSE(ReadListing({entry, pdu}).complete) << "cut short";
  EXPECT_FALSE(ReadListing({}).complete) << "no answer";
  // A result word inside a message's alpha field ends nothing.
  const Listing quoted = ReadListing({"+CMGL: 4,1,\"OK\",23", pdu, "+CMGL: 5,1,\"ERROR\",23", pdu, "OK"});
  EXPECT_TRUE(quoted.complete);
  ASSERT_EQ(quoted.entries.size(), 2u);
  EXPECT_EQ(quoted.entries[1].index, 5);
  EXPECT_EQ(quoted.entries[1].pdu, pdu);
}

// ------------------------------------------------------------------ PDU headers

// A DELIVER from the published examples of the PDU format: "hellohello"
// from +27838890001 (service centre +27831000015).
const char kPublishedDeliver[] = "07917283010010F5"  // SCA
                                 "04"                // first octet: DELIVER, no header
                                 "0BC87238880900F1"  // TP-OA (alphanumeric type C8 in the example)
                                 "00"
                                 "00"              // PID, DCS
                                 "99309251619580"  // SCTS
                                 "0A"
                                 "E8329BFD4697D9EC37";

TEST(PduHeaders, ASingleDeliverHasNoPart) {
  const PduHeader h = ReadPduHeader(kPublishedDeliver);
  EXPECT_EQ(h.error, "");
  EXPECT_EQ(h.type, PduType::Deliver);
  EXPECT_FALSE(h.part);
}

TEST(PduHeaders, TheTypeComesFromTheFirstOctet) {
  EXPECT_EQ(ReadPduHeader("00"
                          "11000891515510000000AA0AE8329BFD4697D9EC37")
                .type,
            PduType::Submit);
  // SMS-STATUS-REPORT (TS 23.040 9.2.2.3): MTI 10.
  EXPECT_EQ(ReadPduHeader("00"
                          "06"
                          "05"
                          "0B915155102300F0"
                          "91304151906280"
                          "91304151906280"
                          "00")
                .type,
            PduType::StatusReport);
}

TEST(PduHeaders, PartsOfTheSimulatorsLongMessages) {
  sim::IncomingSms sms;
  sms.text = std::string(400, 'x');
  sms.reference = 77;
  const auto pdus = sim::DeliverPdus(sms);
  ASSERT_EQ(pdus.size(), 3u);
  for (std::size_t i = 0; i < pdus.size(); ++i) {
    const PduHeader h = ReadPduHeader(pdus[i]);
    ASSERT_EQ(h.error, "") << pdus[i];
    ASSERT_TRUE(h.part);
    EXPECT_EQ(h.part->reference, 77);
    EXPECT_EQ(h.part->referenceBits, 8);
    EXPECT_EQ(h.part->total, 3);
    EXPECT_EQ(h.part->number, static_cast<int>(i + 1));
  }
  sms.referenceSize = sim::ConcatReference::SixteenBit;
  sms.reference = 0x1234;
  const PduHeader h16 = ReadPduHeader(sim::DeliverPdus(sms)[1]);
  ASSERT_TRUE(h16.part);
  EXPECT_EQ(h16.part->reference, 0x1234);
  EXPECT_EQ(h16.part->referenceBits, 16);
  EXPECT_EQ(h16.part->number, 2);
}

TEST(PduHeaders, HandWrittenHeaderElements) {
  // A DELIVER whose header holds another element before the
  // concatenation: a national single shift (IEI 24) then IEI 00.
  const std::string pdu = std::string("00") + "44" + "0B915155102300F0" +
                          "00"
                          "00" +
                          "91304151906280" + "0E" + "08" +
                          "2401"
                          "01" +
                          "0003"
                          "2A"
                          "02"
                          "01" +
                          "E8";
  const PduHeader h = ReadPduHeader(pdu);
  ASSERT_EQ(h.error, "");
  ASSERT_TRUE(h.part);
  EXPECT_EQ(h.part->reference, 0x2A);
  EXPECT_EQ(h.part->total, 2);
  EXPECT_EQ(h.part->number, 1);
  const std::string single = AsSinglePart(pdu, *h.part);
  EXPECT_EQ(single.size(), pdu.size());
  EXPECT_EQ(ReadPduHeader(single).part->total, 1);
  EXPECT_EQ(ReadPduHeader(single).part->reference, 0x2A);
}

TEST(PduHeaders, EachFailureHasAName) {
  const std::string head = std::string("00") + "44" + "0B915155102300F0" +
                           "00"
                           "00" +
                           "91304151906280" + "0E";
  EXPECT_EQ(ReadPduHeader("").error, header_error::kNotHex);
  EXPECT_EQ(ReadPduHeader("0G").error, header_error::kNotHex);
  EXPECT_EQ(ReadPduHeader("079144").error, header_error::kCentreTruncated);
  EXPECT_EQ(ReadPduHeader("00").error, header_error::kNoFirstOctet);
  EXPECT_EQ(ReadPduHeader("00040B9151").error, header_error::kAddressTruncated);
  EXPECT_EQ(ReadPduHeader("00040B915155102300F00000").error, header_error::kFieldsTruncated);
  EXPECT_EQ(ReadPduHeader(head + "09"
                                 "0003")
                .error,
            header_error::kHeaderTruncated);
  EXPECT_EQ(ReadPduHeader(head + "03"
                                 "0005"
                                 "2A")
                .error,
            header_error::kElementTruncated);
  EXPECT_EQ(ReadPduHeader(head + "05"
                                 "0003"
                                 "2A"
                                 "02"
                                 "03")
                .error,
            header_error::kBadPart);
  EXPECT_EQ(ReadPduHeader(head + "05"
                                 "0003"
                                 "2A"
                                 "00"
                                 "00")
                .error,
            header_error::kBadPart);
}

TEST(PduHeaders, EveryCutOfAValidPduFailsCleanly) {
  sim::IncomingSms sms;
  sms.text = std::string(200, 'y');
  const std::string pdu = sim::DeliverPdus(sms)[0];
  const std::size_t headerEnd = ReadPduHeader(pdu).part->numberAt + 2;
  for (std::size_t cut = 0; cut < pdu.size(); ++cut) {
    const PduHeader h = ReadPduHeader(pdu.substr(0, cut));
    if (cut < headerEnd || cut % 2 != 0) {
      EXPECT_FALSE(h.error.empty()) << "cut at " << cut;
    } else {
      ASSERT_TRUE(h.part) << "cut at " << cut << ": " << h.error;
      EXPECT_EQ(h.part->number, 1);
    }
  }
}

// ------------------------------------------------------------------ decoding

TEST(Decoder, ASingleMessage) {
  IncomingDecoder decoder;
  sim::IncomingSms sms;
  sms.text = "Grüße aus dem Simulator";
  sms.sender = "+15550123";
  const TakenMessage t = decoder.Take({4, 0, sim::DeliverPdus(sms)[0]}, "m1", "490154203237518", "SM", 1000);
  ASSERT_EQ(t.kind, TakenMessage::Kind::Message) << t.reason;
  EXPECT_EQ(t.message.text, "Grüße aus dem Simulator");
  EXPECT_EQ(t.message.sender, "+15550123");
  EXPECT_EQ(t.message.smsc, "+15550100");
  EXPECT_EQ(t.message.timestamp, "2019-03-14T15:09:26");
  EXPECT_EQ(t.message.timezone, 8);
  EXPECT_EQ(t.message.reference, -1);
  EXPECT_EQ(t.message.imei, "490154203237518");
  EXPECT_EQ(t.message.received, 1000);
}

TEST(Decoder, PartsDecodeByThemselvesAndTogether) {
  IncomingDecoder decoder;
  for (sim::SmsEncoding encoding : {sim::SmsEncoding::Gsm7Bit, sim::SmsEncoding::Ucs2}) {
    sim::IncomingSms sms;
    sms.encoding = encoding;
    std::string text;
    for (int i = 0; i < 40; ++i)
      text += encoding == sim::SmsEncoding::Ucs2 ? "Часть " : "part " + std::to_string(i) + " ";
    sms.text = text;
    sms.reference = 9;
    const auto pdus = sim::DeliverPdus(sms);
    ASSERT_GE(pdus.size(), 2u);
    std::vector<IncomingPart> parts;
    std::string joined;
    for (std::size_t i = 0; i < pdus.size(); ++i) {
      const TakenMessage t = decoder.Take({static_cast<int>(i + 1), 0, pdus[i]}, "m1", "1", "SM", 5);
      ASSERT_EQ(t.kind, TakenMessage::Kind::Part) << t.reason;
      EXPECT_EQ(t.part.number, static_cast<int>(i + 1));
      EXPECT_EQ(t.part.total, static_cast<int>(pdus.size()));
      EXPECT_EQ(t.part.pdu, pdus[i]) << "kept as the modem gave it";
      EXPECT_FALSE(t.part.text.empty());
      joined += t.part.text;
      parts.push_back(t.part);
    }
    EXPECT_EQ(joined, text);
    EXPECT_EQ(decoder.Assemble(parts, true), text);
    std::vector<IncomingPart> someMissing = {parts.front(), parts.back()};
    EXPECT_EQ(decoder.Assemble(someMissing, false), parts.front().text + parts.back().text);
  }
}

TEST(Decoder, WhatIsNotAReceivedMessage) {
  IncomingDecoder decoder;
  EXPECT_EQ(decoder.Take({1, 2, "0011000891515510000000AA0AE8329BFD4697D9EC37"}, "m", "1", "SM", 0).kind,
            TakenMessage::Kind::NotReceived);
  EXPECT_EQ(decoder
                .Take({1, -1,
                       "00"
                       "06"
                       "05"
                       "0B915155102300F0"
                       "91304151906280"
                       "91304151906280"
                       "00"},
                      "m", "1", "SR", 0)
                .kind,
            TakenMessage::Kind::NotReceived);
  const TakenMessage junk = decoder.Take({1, 0, "07913"}, "m", "1", "SM", 0);
  EXPECT_EQ(junk.kind, TakenMessage::Kind::Undecodable);
  EXPECT_FALSE(junk.reason.empty());
  const TakenMessage cut = decoder.Take({1, 0, std::string(kPublishedDeliver).substr(0, 40)}, "m", "1", "SM", 0);
  EXPECT_EQ(cut.kind, TakenMessage::Kind::Undecodable);
  EXPECT_EQ(decoder.Take({1, 0, ""}, "m", "1", "SM", 0).kind, TakenMessage::Kind::Undecodable);
}

}  // namespace
}  // namespace vesk::gateway
