// The answer rules of indications and reports, from raw wire strings;
// most of them captured from real modems by public test suites.
#include "commands/Indications.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk::at {
namespace {

using Values = std::array<std::vector<int>, 5>;

TCommandAnswer Answer(const std::string& wire, const std::string& command) { return ReadCommandAnswer(wire, command); }

// ------------------------------------------------ AT+CNMI=?

struct CnmiCase {
  const char* name;
  std::string wire;
  bool read;
  Values values;
};
void PrintTo(const CnmiCase& c, std::ostream* os) { *os << c.name; }

class CnmiTest : public ::testing::TestWithParam<CnmiCase> {};

TEST_P(CnmiTest, OfferedValues) {
  const auto& p = GetParam();
  const TIndicationSupport s = IndicationSupport(Answer(p.wire, "AT+CNMI=?"));
  EXPECT_EQ(s.Read, p.read);
  EXPECT_EQ(s.Values, p.values);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Wire, CnmiTest,
    ::testing::Values(
        // gammu tests/at-cnmi/01.dump: no <mt> 2, <ds> 0 and 1 only.
        CnmiCase{"GammuCapture01", "AT+CNMI=?\r\n+CNMI: (2),(0-1,3),(0,2),(0-1),(0)\r\nOK\r\n", true,
                 {{{2}, {0, 1, 3}, {0, 2}, {0, 1}, {0}}}},
        // gammu tests/at-cnmi/02.dump: broadcast messages never routed.
        CnmiCase{"GammuCapture02", "AT+CNMI=?\r\n+CNMI: (0-2),(0,1,3),(0),(0,1),(0,1)\r\nOK\r\n", true,
                 {{{0, 1, 2}, {0, 1, 3}, {0}, {0, 1}, {0, 1}}}},
        // gammu tests/atgen/test-reply-get-cnmi.c.
        CnmiCase{"GammuReplyTest", "\r\n+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n", true,
                 {{{0, 1, 2}, {0, 1, 2, 3}, {0, 2}, {0, 1, 2}, {0, 1}}}},
        CnmiCase{"ListedOneByOne", "\r\n+CNMI: (0,1,2),(0,1,2,3),(0,2),(0,1,2),(0,1)\r\n\r\nOK\r\n", true,
                 {{{0, 1, 2}, {0, 1, 2, 3}, {0, 2}, {0, 1, 2}, {0, 1}}}},
        CnmiCase{"BlanksAndFourGroups", "\r\n+CNMI: ( 1, 2 ), (0-2) ,(0),(0,1)\r\n\r\nOK\r\n", true,
                 {{{1, 2}, {0, 1, 2}, {0}, {0, 1}, {}}}},
        CnmiCase{"Refused", "\r\nERROR\r\n", false, {}},
        CnmiCase{"OkWithoutALine", "\r\nOK\r\n", false, {}},
        // python-gsmmodem test/fakemodems.py (Nokia N79) answers +CPMS this way.
        CnmiCase{"EmptyGroups", "\r\n+CNMI: (),(),(),(),()\r\n\r\nOK\r\n", false, {}}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

// ------------------------------------------------ which AT+CNMI

struct ChoiceCase {
  const char* name;
  std::string wire;
  bool reportMemory;
  bool direct;
  bool reports;
  std::string command;
};
void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class Choice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(Choice, NearestOfferedValues) {
  const auto& p = GetParam();
  const TIndicationSupport s = IndicationSupport(Answer(p.wire, "AT+CNMI=?"));
  EXPECT_EQ(IndicationCommand(ChooseIndication(s, p.reportMemory, {p.direct, p.reports})), p.command);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Wire, Choice,
    ::testing::Values(
        ChoiceCase{"StoredAsEver", "\r\n+CNMI: (0-3),(0-3),(0,2),(0,1),(0,1)\r\n\r\nOK\r\n", true, false, false,
                   "AT+CNMI=2,1,0,0,0"},
        ChoiceCase{"StoredReportsGoToTheReportMemory", "\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n", true,
                   false, true, "AT+CNMI=2,1,0,2,0"},
        // No "SR" storage: the reports are routed as +CDS instead.
        ChoiceCase{"StoredReportsWithoutAReportMemory", "\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n", false,
                   false, true, "AT+CNMI=2,1,0,1,0"},
        ChoiceCase{"Direct", "\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n", true, true, true,
                   "AT+CNMI=2,2,0,1,0"},
        // gammu 01.dump: <mt> 2 is not offered; 3 routes class 3 and stores the rest.
        ChoiceCase{"DirectWhereOnlyClassThreeIsRouted", "\r\n+CNMI: (2),(0-1,3),(0,2),(0-1),(0)\r\n\r\nOK\r\n", false,
                   true, true, "AT+CNMI=2,3,0,1,0"},
        // A modem that refuses mode 2: mode 1.
        ChoiceCase{"NoModeTwo", "\r\n+CNMI: (0,1),(0-3),(0,2),(0,1),(0,1)\r\n\r\nOK\r\n", true, false, false,
                   "AT+CNMI=1,1,0,0,0"},
        // gammu 02.dump: <ds> 2 is not offered, so stored reports come as +CDS.
        ChoiceCase{"NoReportStorageRouting", "\r\n+CNMI: (0-2),(0,1,3),(0),(0,1),(0,1)\r\n\r\nOK\r\n", true, false,
                   true, "AT+CNMI=2,1,0,1,0"},
        // No <ds> but 0: reports cannot be routed at all.
        ChoiceCase{"NoReportsOffered", "\r\n+CNMI: (0-2),(0-3),(0,2),(0),(0,1)\r\n\r\nOK\r\n", true, false, true,
                   "AT+CNMI=2,1,0,0,0"},
        // Nothing read: the preferred values.
        ChoiceCase{"NothingKnown", "\r\nERROR\r\n", false, true, true, "AT+CNMI=2,2,0,1,0"},
        ChoiceCase{"NothingKnownStored", "\r\nERROR\r\n", false, false, false, "AT+CNMI=2,1,0,0,0"}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

TEST(Choice, TheStandardCommandIsTheStoredChoice) {
  TIndicationSupport none;
  EXPECT_EQ(IndicationCommand(ChooseIndication(none, false, {false, false})), StandardIndicationCommand());
}

// ------------------------------------------------ AT+CPMS=? and AT+CPMS?

struct CpmsCase {
  const char* name;
  std::string wire;
  bool read;
  std::vector<AnsiString> reading;
  bool reportMemory;
};
void PrintTo(const CpmsCase& c, std::ostream* os) { *os << c.name; }

class CpmsTest : public ::testing::TestWithParam<CpmsCase> {};

TEST_P(CpmsTest, Storages) {
  const auto& p = GetParam();
  const TStorageSupport s = StorageSupport(Answer(p.wire, "AT+CPMS=?"));
  EXPECT_EQ(s.Read, p.read);
  EXPECT_EQ(s.Names[0], p.reading);
  EXPECT_EQ(s.HasReportMemory(), p.reportMemory);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Wire, CpmsTest,
    ::testing::Values(
        // python-gsmmodem test/fakemodems.py, the generic modem.
        CpmsCase{"PythonGsmmodemGeneric",
                 "\r\n+CPMS: (\"ME\",\"MT\",\"SM\",\"SR\"),(\"ME\",\"MT\",\"SM\",\"SR\"),(\"ME\",\"MT\",\"SM\",\"SR\")\r\n\r\nOK\r\n",
                 true, {"ME", "MT", "SM", "SR"}, true},
        // python-gsmmodem, the Wavecom Multiband 900E 1800: nested parentheses.
        CpmsCase{"WavecomNested", "\r\n+CPMS: ((\"SM\",\"BM\",\"SR\"),(\"SM\"))\r\n\r\nOK\r\n", true,
                 {"SM", "BM", "SR"}, true},
        // python-gsmmodem, the Nokia N79: nothing offered.
        CpmsCase{"NokiaNothing", "\r\n+CPMS: (),(),()\r\n\r\nOK\r\n", false, {}, false},
        // gammu tests/at-cpms/alcatel-s320.dump, with blanks.
        CpmsCase{"GammuAlcatelS320",
                 "AT+CPMS=?\r\n\r\n+CPMS: (\"SM\", \"ME\", \"SM_P\", \"ME_P\", \"MT\"), (\"SM\", \"ME\", \"SM_P\", \"ME_P\", \"MT\"), "
                 "(\"SM\", \"ME\", \"SM_P\", \"ME_P\", \"MT\")\r\nOK\r\n",
                 true, {"SM", "ME", "SM_P", "ME_P", "MT"}, false},
        // gammu tests/at-cpms/brovi-e3372-325.dump.
        CpmsCase{"GammuBroviE3372", "AT+CPMS=?\r\n+CPMS: (\"SM\",\"ME\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\nOK\r\n", true,
                 {"SM", "ME"}, false},
        // gammu tests/at-cpms/samsung-j700.dump: an empty answer.
        CpmsCase{"GammuSamsungJ700", "AT+CPMS=?\r\n+CPMS: \r\nOK\r\n", false, {}, false},
        // gammu tests/at-cpms-sm/iwow.dump: no parentheses.
        CpmsCase{"GammuIwow", "AT+CPMS=?\r\n+CPMS: \"SM\",\"SM\",\"SM\"\r\nOK\r\n", true, {"SM"}, false},
        // gammu tests/at-cpms-sr/generic.dump: a quote missing.
        CpmsCase{"GammuMissingQuote", "AT+CPMS=?\r\n+CPMS: (ME\", \"SR\"), (\"ME\", \"SR\"), (\"ME\")\r\nOK\r\n", true,
                 {"ME", "SR"}, true},
        CpmsCase{"Refused", "\r\n+CMS ERROR: 302\r\n", false, {}, false}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

TEST(StorageUse, ReadFormWithNames) {
  const auto uses = StorageUse(Answer("\r\n+CPMS: \"SM\",30,30,\"ME\",3,100,\"SM\",30,30\r\n\r\nOK\r\n", "AT+CPMS?"));
  ASSERT_EQ(uses.size(), 3u);
  EXPECT_EQ(uses[0].Name, "SM");
  EXPECT_TRUE(uses[0].Full());
  EXPECT_EQ(uses[1].Name, "ME");
  EXPECT_EQ(uses[1].Used, 3);
  EXPECT_EQ(uses[1].Total, 100);
  EXPECT_FALSE(uses[1].Full());
  EXPECT_TRUE(uses[2].Full());
}

TEST(StorageUse, SetFormWithoutNames) {
  // python-gsmmodem test/fakemodems.py, the Wavecom's answer to AT+CPMS="SM","SM".
  const auto uses = StorageUse(Answer("\r\n+CPMS: 14,50,14,50\r\n\r\nOK\r\n", "AT+CPMS=\"SM\",\"SM\""));
  ASSERT_EQ(uses.size(), 2u);
  EXPECT_EQ(uses[0].Name, "");
  EXPECT_EQ(uses[0].Used, 14);
  EXPECT_EQ(uses[0].Total, 50);
  EXPECT_FALSE(uses[1].Full());
}

TEST(StorageUse, NothingReadsFromEmptyFields) {
  // python-gsmmodem, the Nokia N79.
  EXPECT_TRUE(StorageUse(Answer("\r\n+CPMS: ,,,,,,,,\r\n\r\nOK\r\n", "AT+CPMS?")).empty());
  const TStorageUse none;
  EXPECT_FALSE(none.Full());
}

// ------------------------------------------------ AT+CSMS=1

TEST(Acknowledgements, PhaseTwoPlusWithMobileTerminatedService) {
  // txgsm's README, a real session: AT+CSMS=1 answered "+CSMS: 1,1,1".
  EXPECT_TRUE(AcknowledgementsNeeded(Answer("\r\n+CSMS: 1,1,1\r\n\r\nOK\r\n", "AT+CSMS=1")));
  EXPECT_TRUE(AcknowledgementsNeeded(Answer("\r\nOK\r\n", "AT+CSMS=1")));
  EXPECT_FALSE(AcknowledgementsNeeded(Answer("\r\n+CSMS: 0,1,1\r\n\r\nOK\r\n", "AT+CSMS=1")));
  EXPECT_FALSE(AcknowledgementsNeeded(Answer("\r\n+CMS ERROR: 303\r\n", "AT+CSMS=1")));
  EXPECT_FALSE(AcknowledgementsNeeded(Answer("\r\nERROR\r\n", "AT+CSMS=1")));
}

// ------------------------------------------------ deliveries routed to the client

struct LengthCase {
  const char* name;
  std::string wire;
  int length;
  bool alone;
};
void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

class Lengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(Lengths, TheHeadersTpduLength) {
  const TFraming f = Frame(GetParam().wire, true);
  ASSERT_FALSE(f.Results.empty());
  EXPECT_EQ(TpduLength(f.Results.front()), GetParam().length);
  EXPECT_EQ(TpduAlone(f.Results.front()), GetParam().alone);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Wire, Lengths,
    ::testing::Values(
        LengthCase{"CmtWithCentre", "\r\n+CMT: ,22\r\n0591515510000408915155103200009130415190628005E8329BFD06\r\n", 22, false},
        LengthCase{"CmtWithAnAlpha", "\r\n+CMT: \"Ringo, Ltd\",22\r\n0591515510000408915155103200009130415190628005E8329BFD06\r\n",
                   22, false},
        LengthCase{"CmtTpduAlone", "\r\n+CMT: ,22\r\n0408915155103200009130415190628005E8329BFD06\r\n", 22, true},
        LengthCase{"CdsWithCentre", "\r\n+CDS: 25\r\n0791246030500200" "06E80C91666666666666909070618422809090706184628000\r\n", 25, false},
        LengthCase{"CdsTpduAlone", "\r\n+CDS: 25\r\n06E80C91666666666666909070618422809090706184628000\r\n", 25, true},
        // python-gsmmodem, the ZTE capture: a length that fits neither form.
        LengthCase{"ZteCmgr", "\r\n+CMGR: ,,27\r\n0297F1061C0F910B487228297020F5317062419272803170624192138000\r\n\r\nOK\r\n", 27, false},
        LengthCase{"CmglEntry", "\r\n+CMGL: 2,0,,25\r\n0791246030500200" "06E80C91666666666666909070618422809090706184628000\r\n", 25, false},
        LengthCase{"LengthNotANumber", "\r\n+CMT: ,x\r\n0408\r\n", -1, false},
        LengthCase{"TextMode", "\r\n+CDS: 6,46,\"+15550100\",145,\"19/03/14,15:09:26+08\",\"19/03/14,15:09:27+08\",0\r\n", -1,
                   false}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

TEST(DirectTextMode, ReadsLikeAReadAnswer) {
  const TFraming f =
      Frame("\r\n+CMT: \"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,6\r\nline 1\r\n", true);
  ASSERT_EQ(f.Results.size(), 1u);
  EXPECT_EQ(DirectTextModeMessage(f.Results[0]),
            "\"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,6\r\nline 1\r\n");
}

// ------------------------------------------------ status reports in text mode

struct TextReportCase {
  const char* name;
  std::string wire;
  TResultKind kind;
  int index;
  int stored;
  int reference;
  const char* recipient;
  int type;
  const char* received;
  int receivedZone;
  const char* discharged;
  int dischargedZone;
  int status;
};
void PrintTo(const TextReportCase& c, std::ostream* os) { *os << c.name; }

std::string Stamp(TDateTime t) { return t == 0 ? "0" : DateToStr(t) + " " + TimeToStr(t); }

class TextReports : public ::testing::TestWithParam<TextReportCase> {};

TEST_P(TextReports, EveryField) {
  const auto& p = GetParam();
  const TFraming framing = Frame(p.wire, true);
  ASSERT_FALSE(framing.Results.empty());
  const TResult& r = framing.Results.front();
  ASSERT_EQ(r.Kind, p.kind);
  EXPECT_FALSE(r.HasBody);
  EXPECT_TRUE(IsTextStatusReport(r));
  const TTextStatusReport t = TextStatusReport(r);
  EXPECT_EQ(t.Error, "");
  EXPECT_EQ(t.Index, p.index);
  EXPECT_EQ(t.Stored, p.stored);
  EXPECT_EQ(t.MessageReference, p.reference);
  EXPECT_EQ(t.Recipient, p.recipient);
  EXPECT_EQ(t.RecipientType, p.type);
  EXPECT_EQ(Stamp(t.ServiceCentreTimeStamp), p.received);
  EXPECT_EQ(t.ServiceCentreTimeZone, p.receivedZone);
  EXPECT_EQ(Stamp(t.DischargeTime), p.discharged);
  EXPECT_EQ(t.DischargeTimeZone, p.dischargedZone);
  EXPECT_EQ(t.Status, p.status);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Wire, TextReports,
    ::testing::Values(
        // Published with an AVR modem driver, from the Irancell network.
        TextReportCase{"Cds", "\r\n+CDS: 6,46,\"+989372391694\",145,\"11/10/13,11:22:45+14\",\"11/10/13,11:22:50+14\",0\r\n",
                       TResultKind::StatusReport, -1, -1, 46, "+989372391694", 145,
                       "2011-10-13 11:22:45", 14, "2011-10-13 11:22:50", 14, 0},
        // The same driver, MCI network: four-digit years, a blank between date and time.
        TextReportCase{"CdsWithBlankInTheStamps",
                       "\r\n+CDS: 6,26,\"+099372391694\",129,\"2011/10/13 13:08:35+14\",\"2011/10/13 13:08:39+14\",0\r\n",
                       TResultKind::StatusReport, -1, -1, 26, "+099372391694", 129,
                       "2011-10-13 13:08:35", 14, "2011-10-13 13:08:39", 14, 0},
        // python-gsmmodem test/test_modem.py test_receiveStatusReportTextMode:
        // a stored report read with <stat> left empty.
        TextReportCase{"CmgrWithEmptyStat",
                       "\r\n+CMGR: ,6,20,\"0870000000\",129,\"13/04/29,19:58:00+04\",\"13/04/29,19:59:00+04\",0\r\n\r\nOK\r\n",
                       TResultKind::ReadAnswer, -1, -1, 20, "0870000000", 129,
                       "2013-04-29 19:58:00", 4, "2013-04-29 19:59:00", 4, 0},
        TextReportCase{"CmgrWithStat",
                       "\r\n+CMGR: \"REC UNREAD\",6,200,\"+15550123\",145,\"19/03/14,15:09:26-08\",\"19/03/14,15:09:30-08\",70\r\n\r\nOK\r\n",
                       TResultKind::ReadAnswer, -1, 0, 200, "+15550123", 145,
                       "2019-03-14 15:09:26", -8, "2019-03-14 15:09:30", -8, 70},
        TextReportCase{"CmglEntry",
                       "\r\n+CMGL: 3,\"REC READ\",6,7,\"+15550123\",145,\"19/03/14,15:09:26+08\",\"19/03/14,00:00:00+08\",0\r\n\r\nOK\r\n",
                       TResultKind::ListEntry, 3, 1, 7, "+15550123", 145,
                       "2019-03-14 15:09:26", 8, "2019-03-14 00:00:00", 8, 0},
        // No recipient, no type; an unquoted pair of stamps from a modem
        // that leaves the quotes out.
        TextReportCase{"CdsWithoutRecipientOrQuotes", "\r\n+CDS: 6,9,,,19/03/14,15:09:26+08,19/03/14,15:09:30+08,32\r\n",
                       TResultKind::StatusReport, -1, -1, 9, "", -1,
                       "2019-03-14 15:09:26", 8, "2019-03-14 15:09:30", 8, 32}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

TEST(TextReports, FieldsThatDoNotReadAreNamed) {
  const TFraming f = Frame(
      "\r\n+CDS: 6,46\r\n\r\n+CDS: 6,x,\"+1\",145,\"a\",\"b\",0\r\n\r\n+CDS: 6,7,\"+1\",145,\"a\",\"b\",z\r\n", true);
  ASSERT_EQ(f.Results.size(), 3u);
  for (const TResult& r : f.Results) EXPECT_NE(TextStatusReport(r).Error, "") << r.Line;
  // Stamps that do not read are 0, and the report stands.
  const TFraming g = Frame("\r\n+CDS: 6,7,\"+1\",145,\"a\",\"b\",0\r\n", true);
  const TTextStatusReport t = TextStatusReport(g.Results.front());
  EXPECT_EQ(t.Error, "");
  EXPECT_EQ(t.ServiceCentreTimeStamp, 0);
  EXPECT_EQ(t.DischargeTime, 0);
}

TEST(TextReports, MessagesAreNotReports) {
  const TFraming f = Frame("\r\n+CMGR: \"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\nhello\r\n\r\n"
                           "+CMGL: 1,\"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\nhello\r\n\r\n"
                           "+CMGR: 1,,23\r\n0791\r\n\r\nOK\r\n",
                           true);
  ASSERT_GE(f.Results.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_FALSE(IsTextStatusReport(f.Results[i])) << f.Results[i].Line;
}

// A report notice reads like a new-message notice.
TEST(ReportNotice, StorageAndIndex) {
  const TFraming f = Frame("\r\n+CDSI: \"SR\",5\r\n", true);
  ASSERT_EQ(f.Results.size(), 1u);
  EXPECT_EQ(f.Results[0].Name, "+CDSI");
  const TNewMessageNotice n = NewMessageNotice(f.Results[0]);
  EXPECT_EQ(n.Storage, "SR");
  EXPECT_EQ(n.Index, 5);
  EXPECT_TRUE(n.IndexRead);
}

}  // namespace
}  // namespace vesk::at
