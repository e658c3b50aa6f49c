// The answer rules of the modem's state, from raw wire strings: the forms
// TS 27.007 and TS 27.005 give, and the forms real modems send (the +CREG,
// +CSCA and +CSCS captures of gammu's test suite, tests/at-creg,
// tests/at-creg-corner, tests/at-smsc, tests/at-cscs-huawei: the lines as
// those modems wrote them). Malformed answers give the "unknown" value.
#include "commands/StateAnswers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk::at {
namespace {

TCommandAnswer Answer(const std::string& wire, const std::string& command = "") {
  return ReadCommandAnswer(wire, command);
}

// ---------------------------------------------------------------- SIM

struct SimCase {
  const char* name;
  const char* wire;
  TSIMState state;
};
void PrintTo(const SimCase& c, std::ostream* os) { *os << c.name; }
class SimStates : public ::testing::TestWithParam<SimCase> {};

TEST_P(SimStates, FromTheAnswerToCpin) {
  EXPECT_EQ(SIMState(Answer(GetParam().wire, "AT+CPIN?")), GetParam().state) << SIMStateName(GetParam().state);
}

INSTANTIATE_TEST_SUITE_P(
    Cpin, SimStates,
    ::testing::Values(SimCase{"Ready", "\r\n+CPIN: READY\r\n\r\nOK\r\n", ssReady},
                      SimCase{"Pin", "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n", ssPINNeeded},
                      SimCase{"Puk", "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n", ssPUKNeeded},
                      SimCase{"Pin2", "\r\n+CPIN: SIM PIN2\r\n\r\nOK\r\n", ssPIN2Needed},
                      SimCase{"Puk2", "\r\n+CPIN: SIM PUK2\r\n\r\nOK\r\n", ssPUK2Needed},
                      SimCase{"PhoneToSim", "\r\n+CPIN: PH-SIM PIN\r\n\r\nOK\r\n", ssPhoneToSIMPINNeeded},
                      SimCase{"Quoted", "\r\n+CPIN: \"READY\"\r\n\r\nOK\r\n", ssReady},
                      SimCase{"LowerCase", "\r\n+cpin: sim pin\r\n\r\nok\r\n", ssPINNeeded},
                      SimCase{"WithEcho", "AT+CPIN?\r\r\n+CPIN: READY\r\n\r\nOK\r\n", ssReady},
                      SimCase{"NotInserted", "\r\n+CME ERROR: 10\r\n", ssNotInserted},
                      SimCase{"NotInsertedVerbose", "\r\n+CME ERROR: SIM not inserted\r\n", ssNotInserted},
                      SimCase{"NotInsertedAsAnAnswer", "\r\n+CPIN: NOT INSERTED\r\n\r\nOK\r\n", ssNotInserted},
                      SimCase{"Failure", "\r\n+CME ERROR: 13\r\n", ssFailure},
                      SimCase{"Wrong", "\r\n+CME ERROR: 15\r\n", ssFailure},
                      SimCase{"Busy", "\r\n+CME ERROR: 14\r\n", ssBusy},
                      SimCase{"BusyAsMessageService", "\r\n+CMS ERROR: 314\r\n", ssBusy},
                      SimCase{"PinAsError", "\r\n+CME ERROR: 11\r\n", ssPINNeeded},
                      SimCase{"Personalisation", "\r\n+CPIN: PH-NET PIN\r\n\r\nOK\r\n", ssUnknown},
                      SimCase{"PlainError", "\r\nERROR\r\n", ssUnknown}, SimCase{"NoLine", "\r\nOK\r\n", ssUnknown},
                      SimCase{"Empty", "\r\n+CPIN: \r\n\r\nOK\r\n", ssUnknown},
                      SimCase{"Garbage", "\r\n+CPIN: \x01\xff,,\"\r\n\r\nOK\r\n", ssUnknown},
                      SimCase{"NoFinalResult", "\r\n+CPIN: READY\r\n", ssUnknown}));

TEST(PinRetries, TheTriesOfEachCode) {
  // TS 27.007 8.65; the unquoted form as modems write it.
  const TCommandAnswer all = Answer("\r\n+CPINR: SIM PIN,3,3\r\n+CPINR: SIM PUK,10,10\r\n+CPINR: SIM "
                                    "PIN2,3,3\r\n+CPINR: SIM PUK2,10,10\r\n\r\nOK\r\n");
  EXPECT_EQ(PINRetries(all, "SIM PIN"), 3);
  EXPECT_EQ(PINRetries(all, "SIM PUK"), 10);
  EXPECT_EQ(PINRetries(all, "SIM PIN2"), 3);
  EXPECT_EQ(PINRetries(all, "PH-SIM PIN"), -1);
  EXPECT_EQ(PINRetries(Answer("\r\n+CPINR: \"SIM PIN\",1,3\r\n\r\nOK\r\n"), "SIM PIN"), 1);
  EXPECT_EQ(PINRetries(Answer("\r\n+CPINR: SIM PIN,2\r\n\r\nOK\r\n"), "SIM PIN"), 2);  // no default
  EXPECT_EQ(PINRetries(Answer("\r\n+CPINR: SIM PIN,0,3\r\n\r\nOK\r\n"), "SIM PIN"), 0);
  for (const char* bad :
       {"\r\n+CPINR: SIM PIN,x,3\r\n\r\nOK\r\n", "\r\n+CPINR: SIM PIN\r\n\r\nOK\r\n", "\r\n+CPINR: 3\r\n\r\nOK\r\n",
        "\r\n+CME ERROR: 4\r\n", "\r\nERROR\r\n", "\r\n+CPINR: SIM PIN,3,3\r\n"}) {
    EXPECT_EQ(PINRetries(Answer(bad), "SIM PIN"), -1) << bad;
  }
}

// ---------------------------------------------------------------- registration

struct RegistrationCase {
  const char* name;
  const char* line;  // one result line, without its line end
  bool answer;       // the answer form (else the unsolicited form)
  TRegistrationStatus status;
  int stat;
  const char* area;
  const char* cell;
  int technology;
};
void PrintTo(const RegistrationCase& c, std::ostream* os) { *os << c.name; }
class Registrations : public ::testing::TestWithParam<RegistrationCase> {};

TResult OneResult(const std::string& line) {
  const TFraming f = Frame("\r\n" + line + "\r\n", true);
  EXPECT_EQ(f.Results.size(), 1u) << line;
  return f.Results.empty() ? TResult() : f.Results[0];
}

// Each line is read in its own form only: an answer is never news, and
// news never the answer a command waits for.
TEST_P(Registrations, ReadInTheirOwnFormOnly) {
  const RegistrationCase& c = GetParam();
  const TResult r = OneResult(c.line);
  TRegistration asAnswer, asNotice;
  const bool answer = RegistrationAnswer(r, asAnswer);
  const bool notice = RegistrationNotice(r, asNotice);
  ASSERT_EQ(answer, c.answer);
  ASSERT_EQ(notice, !c.answer);
  const TRegistration& got = c.answer ? asAnswer : asNotice;
  EXPECT_EQ(got.Status, c.status) << RegistrationStatusName(got.Status);
  EXPECT_EQ(got.Stat, c.stat);
  EXPECT_EQ(got.Area, c.area);
  EXPECT_EQ(got.Cell, c.cell);
  EXPECT_EQ(got.Technology, c.technology);
  EXPECT_EQ(got.Source, r.Name);
  EXPECT_EQ(got.IsRegistered(), c.status == rsHome || c.status == rsRoaming);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, Registrations,
    ::testing::Values(
        // Answers to AT+CREG? as real modems sent them (gammu tests/at-creg).
        RegistrationCase{"HuaweiUnquotedAreaAndCell", "+CREG: 2,1,4CA,81DE445", true, rsHome, 1, "4CA", "81DE445", -1},
        RegistrationCase{"SiemensAreaWithModeZero", "+CREG: 0,1,\"5E25\",\"605F\"", true, rsHome, 1, "5E25", "605F",
                         -1},
        RegistrationCase{"Sierra312uRoamingWithAct", "+CREG: 2,5,\"2AF5\",\"0B88E350\",2", true, rsRoaming, 5, "2AF5",
                         "0B88E350", 2},
        RegistrationCase{"TelitWithAct", "+CREG: 0,1,\"5E25\",\"605F\",2", true, rsHome, 1, "5E25", "605F", 2},
        RegistrationCase{"NotRegistered", "+CREG: 0,0", true, rsNotRegistered, 0, "", "", -1},
        // gammu tests/at-creg-corner.
        RegistrationCase{"EmptyArea", "+CREG: 2,1,\"\",\"605F\"", true, rsHome, 1, "", "605F", -1},
        RegistrationCase{"SingleQuote", "+CREG: 2,1,\"5E25", true, rsHome, 1, "5E25", "", -1},
        // TS 27.007 forms.
        RegistrationCase{"Searching", "+CREG: 1,2", true, rsSearching, 2, "", "", -1},
        RegistrationCase{"Denied", "+CREG: 2,3", true, rsDenied, 3, "", "", -1},
        RegistrationCase{"Unknown", "+CREG: 2,4", true, rsUnknown, 4, "", "", -1},
        RegistrationCase{"GprsWithRac", "+CGREG: 2,1,\"1A2B\",\"00C3F2A1\",7,\"01\"", true, rsHome, 1, "1A2B",
                         "00C3F2A1", 7},
        RegistrationCase{"EpsWithAct", "+CEREG: 2,1,\"1A2B\",\"0C3F2A1B\",7", true, rsHome, 1, "1A2B", "0C3F2A1B", 7},
        RegistrationCase{"EpsModeFour", "+CEREG: 4,5,\"1A2B\",\"0C3F2A1B\",7,,,\"00100100\",\"01000111\"", true,
                         rsRoaming, 5, "1A2B", "0C3F2A1B", 7},
        RegistrationCase{"SmsOnlyHome", "+CEREG: 0,6", true, rsHome, 6, "", "", -1},
        RegistrationCase{"SmsOnlyRoaming", "+CEREG: 0,7", true, rsRoaming, 7, "", "", -1},
        RegistrationCase{"EmergencyOnly", "+CEREG: 0,8", true, rsNotRegistered, 8, "", "", -1},
        RegistrationCase{"CsfbNotPreferredRoaming", "+CEREG: 0,10", true, rsRoaming, 10, "", "", -1},
        RegistrationCase{"LowerCase", "+creg: 0,1", true, rsHome, 1, "", "", -1},
        // Unsolicited results: <stat> first.
        RegistrationCase{"NoticeStatusOnly", "+CREG: 1", false, rsHome, 1, "", "", -1},
        RegistrationCase{"NoticeSearching", "+CGREG: 2", false, rsSearching, 2, "", "", -1},
        RegistrationCase{"NoticeWithAreaAndCell", "+CREG: 5,\"2AF5\",\"0B88E350\"", false, rsRoaming, 5, "2AF5",
                         "0B88E350", -1},
        RegistrationCase{"NoticeWithAct", "+CREG: 1,\"5E25\",\"605F\",2", false, rsHome, 1, "5E25", "605F", 2},
        RegistrationCase{"NoticeUnquoted", "+CREG: 1,4CA,81DE445", false, rsHome, 1, "4CA", "81DE445", -1},
        RegistrationCase{"NoticeUnquotedDigits", "+CREG: 1,0005,0000C3F2", false, rsHome, 1, "0005", "0000C3F2", -1},
        RegistrationCase{"NoticeEps", "+CEREG: 1,\"1A2B\",\"0C3F2A1B\",7", false, rsHome, 1, "1A2B", "0C3F2A1B", 7},
        RegistrationCase{"NoticeEmptyArea", "+CEREG: 4,,,", false, rsUnknown, 4, "", "", -1},
        RegistrationCase{"NoticeDenied", "+CEREG: 3", false, rsDenied, 3, "", "", -1}));

TEST(RegistrationLines, MalformedOnesAreNeitherForm) {
  for (const char* line : {"+CREG: x", "+CREG:", "+CREG: 12,1", "+CREG: 1,99", "+CREG: 123", "+CREG: -1",
                           "+CREG: (0-2)", "+CREG: ,1", "+CSQ: 1,1", "+CREG: \"1\",1"}) {
    const TResult r = OneResult(line);
    TRegistration unused;
    EXPECT_FALSE(RegistrationAnswer(r, unused)) << line;
    EXPECT_FALSE(RegistrationNotice(r, unused)) << line;
  }
}

TEST(RegistrationLines, ACommandTakesItsOwnAnswerAndLeavesTheNews) {
  // A registration change announced between the command and its answer.
  const std::string wire = "\r\n+CREG: 5,\"2AF5\",\"0B88E350\"\r\n\r\n+CREG: 2,1,\"2AF5\",\"0B88E350\"\r\n\r\nOK\r\n";
  const TRegistration r = RegistrationOf(Answer(wire, "AT+CREG?"), "+CREG");
  EXPECT_EQ(r.Status, rsHome);
  EXPECT_EQ(r.Stat, 1);
  // What the dispatcher gets: the news, not the answer.
  EXPECT_EQ(WithoutOwnAnswers(wire, "AT+CREG?"), "\r\n+CREG: 5,\"2AF5\",\"0B88E350\"\r\n\r\n\r\nOK\r\n");
  // Only news: the answer is unknown.
  EXPECT_EQ(RegistrationOf(Answer("\r\n+CREG: 5\r\n\r\nOK\r\n", "AT+CREG?"), "+CREG").Status, rsUnknown);
  // gammu tests/at-creg/empty: no line at all.
  EXPECT_EQ(RegistrationOf(Answer("AT+CREG?\nOK\n\n\n", "AT+CREG?"), "+CREG").Stat, -1);
  EXPECT_EQ(RegistrationOf(Answer("\r\nERROR\r\n", "AT+CREG?"), "+CREG").Stat, -1);
  // Another report's line is not this one's answer.
  EXPECT_EQ(RegistrationOf(Answer("\r\n+CGREG: 0,1\r\n\r\nOK\r\n", "AT+CREG?"), "+CREG").Stat, -1);
}

TEST(RegistrationLines, OnlyAReadCommandsOwnAnswerIsKeptFromTheDispatcher) {
  const std::string wire = "\r\n+CREG: 0,1\r\n\r\nOK\r\n";
  EXPECT_EQ(WithoutOwnAnswers(wire, "AT+CREG?"), "\r\n\r\nOK\r\n");
  EXPECT_EQ(WithoutOwnAnswers(wire, "at+creg?"), "\r\n\r\nOK\r\n");
  EXPECT_EQ(WithoutOwnAnswers(wire, "AT+CREG=2"), wire);
  EXPECT_EQ(WithoutOwnAnswers(wire, "AT+CGREG?"), wire);
  EXPECT_EQ(WithoutOwnAnswers(wire, "AT+CSQ"), wire);
  // After the final result, a line is the next thing's, not the answer.
  EXPECT_EQ(WithoutOwnAnswers("\r\nOK\r\n\r\n+CREG: 0,1\r\n", "AT+CREG?"), "\r\nOK\r\n\r\n+CREG: 0,1\r\n");
  // AT+CUSD? answers +CUSD: <n>; a USSD result keeps its place.
  EXPECT_EQ(WithoutOwnAnswers("\r\n+CUSD: 1\r\n\r\nOK\r\n", "AT+CUSD?"), "\r\n\r\nOK\r\n");
  EXPECT_EQ(WithoutOwnAnswers("\r\n+CUSD: 0,\"Hi\",15\r\n\r\nOK\r\n", "AT+CUSD?"),
            "\r\n+CUSD: 0,\"Hi\",15\r\n\r\nOK\r\n");
}

TEST(RegistrationLines, TheBestOfThree) {
  TRegistration home, searching, denied, none, unknown;
  home.Status = rsHome;
  home.Stat = 1;
  searching.Status = rsSearching;
  searching.Stat = 2;
  denied.Status = rsDenied;
  denied.Stat = 3;
  none.Status = rsNotRegistered;
  none.Stat = 0;
  const std::vector<TRegistration> ranked = {home, searching, denied, none, unknown};
  for (std::size_t i = 0; i < ranked.size(); ++i)
    for (std::size_t j = 0; j < ranked.size(); ++j)
      EXPECT_EQ(BetterRegistration(ranked[i], ranked[j]), i < j) << i << " " << j;
}

// ---------------------------------------------------------------- character set, operator, centre

TEST(CharacterSet, TheAnswerToCscs) {
  // gammu tests/at-cscs-huawei (Huawei E1752).
  EXPECT_EQ(CharacterSetOf(Answer("+CSCS: \"GSM\"\n\nOK\n")), "GSM");
  EXPECT_EQ(CharacterSetOf(Answer("\r\n+CSCS: \"ucs2\"\r\n\r\nOK\r\n")), "UCS2");
  EXPECT_EQ(CharacterSetOf(Answer("\r\nERROR\r\n")), "");
  EXPECT_EQ(CharacterSetOf(Answer("\r\nOK\r\n")), "");
}

struct OperatorCase {
  const char* name;
  const char* wire;
  const char* charset;
  int mode;
  int format;
  const char* utf8;
  int technology;
};
void PrintTo(const OperatorCase& c, std::ostream* os) { *os << c.name; }
class Operators : public ::testing::TestWithParam<OperatorCase> {};

TEST_P(Operators, FromTheAnswerToCops) {
  const OperatorCase& c = GetParam();
  const TOperator op = OperatorOf(Answer(c.wire, "AT+COPS?"), c.charset);
  EXPECT_EQ(op.Mode, c.mode);
  EXPECT_EQ(op.Format, c.format);
  EXPECT_EQ(WideToUtf8(op.Name), c.utf8);
  EXPECT_EQ(op.Technology, c.technology);
}

INSTANTIATE_TEST_SUITE_P(
    Cops, Operators,
    ::testing::Values(
        OperatorCase{"LongNameWithAct", "\r\n+COPS: 0,0,\"T-Mobile D\",2\r\n\r\nOK\r\n", "GSM", 0, 0, "T-Mobile D", 2},
        OperatorCase{"LongNameWithoutAct", "\r\n+COPS: 0,0,\"vodafone.de\"\r\n\r\nOK\r\n", "IRA", 0, 0, "vodafone.de",
                     -1},
        OperatorCase{"Lte", "\r\n+COPS: 0,0,\"VESK\",7\r\n\r\nOK\r\n", "GSM", 0, 0, "VESK", 7},
        OperatorCase{"Numeric", "\r\n+COPS: 1,2,\"26201\",7\r\n\r\nOK\r\n", "UCS2", 1, 2, "26201", 7},
        OperatorCase{"NoOperator", "\r\n+COPS: 0\r\n\r\nOK\r\n", "GSM", 0, -1, "", -1},
        OperatorCase{"Ucs2Name", "\r\n+COPS: 0,0,\"0054002D004D006F00620069006C0065\",2\r\n\r\nOK\r\n", "UCS2", 0, 0,
                     "T-Mobile", 2},
        // In the GSM character set '}' is the extension table's only after
        // an escape: on its own, code 0x7D is 'ñ'.
        OperatorCase{"GsmName", "\r\n+COPS: 0,0,\"Movistar Espa}a\"\r\n\r\nOK\r\n", "GSM", 0, 0, "Movistar España", -1},
        OperatorCase{"Malformed", "\r\n+COPS: x,0,\"A\"\r\n\r\nOK\r\n", "GSM", -1, -1, "", -1},
        OperatorCase{"BadFormat", "\r\n+COPS: 0,7,\"A\"\r\n\r\nOK\r\n", "GSM", 0, -1, "", -1},
        OperatorCase{"BadUcs2", "\r\n+COPS: 0,0,\"0054002\"\r\n\r\nOK\r\n", "UCS2", 0, -1, "", -1},
        OperatorCase{"Refused", "\r\n+CME ERROR: 30\r\n", "GSM", -1, -1, "", -1}));

struct CentreCase {
  const char* name;
  const char* wire;
  const char* charset;
  bool read;
  const char* number;
};
void PrintTo(const CentreCase& c, std::ostream* os) { *os << c.name; }
class Centres : public ::testing::TestWithParam<CentreCase> {};

TEST_P(Centres, FromTheAnswerToCsca) {
  const CentreCase& c = GetParam();
  AnsiString number = "untouched";
  EXPECT_EQ(ServiceCentreOf(Answer(c.wire, "AT+CSCA?"), c.charset, number), c.read);
  EXPECT_EQ(number, c.read ? c.number : "");
}

INSTANTIATE_TEST_SUITE_P(
    Csca, Centres,
    ::testing::Values(
        // gammu tests/at-smsc 01: UCS2 hexadecimal, unquoted.
        CentreCase{"Ucs2Unquoted", "AT+CSCA?\n+CSCA: 002B00390037003200350034003100320030003000330032,145\nOK\n",
                   "UCS2", true, "+97254120032"},
        // 02: IRA.
        CentreCase{"Ira", "AT+CSCA?\n+CSCA: \"+79168999100\",145\nOK\n", "IRA", true, "+79168999100"},
        // 03: type 145 without the '+'.
        CentreCase{"TypeWithoutPlus", "AT+CSCA?\n+CSCA: \"6281100000\",145\nOK\n", "GSM", true, "+6281100000"},
        // 05: UCS2, quoted, and read although the set is not known.
        CentreCase{"Ucs2Quoted", "AT+CSCA?\n+CSCA: \"002B003400340037003800300032003000390032003000330035\",145\nOK\n",
                   "", true, "+447802092035"},
        CentreCase{"Ucs2InGsmSet", "\r\n+CSCA: \"002B0031003500350035\",145\r\n\r\nOK\r\n", "GSM", true, "+1555"},
        CentreCase{"National", "\r\n+CSCA: \"5550100\",129\r\n\r\nOK\r\n", "GSM", true, "5550100"},
        CentreCase{"None", "\r\n+CSCA: \"\",129\r\n\r\nOK\r\n", "GSM", true, ""},
        CentreCase{"NotANumber", "\r\n+CSCA: \"+12AB\",145\r\n\r\nOK\r\n", "GSM", false, ""},
        CentreCase{"Ucs2OfNoNumber", "\r\n+CSCA: \"00410042\",145\r\n\r\nOK\r\n", "UCS2", false, ""},
        CentreCase{"NoLine", "\r\nOK\r\n", "GSM", false, ""},
        CentreCase{"Refused", "\r\n+CMS ERROR: 330\r\n", "GSM", false, ""}));

TEST(TECharacterSet, NumbersGoOutInTheModemsSet) {
  EXPECT_EQ(ToTECharacterSet("+1555", "GSM"), "+1555");
  EXPECT_EQ(ToTECharacterSet("+1555", "IRA"), "+1555");
  EXPECT_EQ(ToTECharacterSet("+1555", "UCS2"), "002B0031003500350035");
  EXPECT_EQ(ToTECharacterSet("*100#", "HEX"), "2A31303023");
  WideString text;
  EXPECT_TRUE(FromTECharacterSet("002B0031003500350035", "UCS2", text));
  EXPECT_EQ(WideToUtf8(text), "+1555");
  EXPECT_FALSE(FromTECharacterSet("002B00310", "UCS2", text));
  EXPECT_FALSE(FromTECharacterSet("00ZZ", "UCS2", text));
  EXPECT_TRUE(FromTECharacterSet("48692A", "HEX", text));
  EXPECT_EQ(WideToUtf8(text), "Hi*");
  EXPECT_TRUE(FromTECharacterSet("caf\xE9", "8859-1", text));
  EXPECT_EQ(WideToUtf8(text), "café");
  EXPECT_TRUE(FromTECharacterSet("caf\xC3\xA9", "UTF-8", text));
  EXPECT_EQ(WideToUtf8(text), "café");
  EXPECT_TRUE(FromTECharacterSet("\x7B\x04", "GSM", text));  // ä è
  EXPECT_EQ(WideToUtf8(text), "äè");
}

// ---------------------------------------------------------------- arguments

TEST(StateArguments, PinsPuksAndUssdCodes) {
  for (const char* ok : {"1234", "12345678", "0000"}) EXPECT_EQ(CheckPIN(ok), "") << ok;
  for (const char* bad : {"", "123", "123456789", "12a4", " 1234", "1234\r", "12\"4"})
    EXPECT_NE(CheckPIN(bad), "") << bad;
  EXPECT_EQ(CheckPUK("12345678"), "");
  for (const char* bad : {"1234567", "123456789", "1234567a", ""}) EXPECT_NE(CheckPUK(bad), "") << bad;
  for (const char* ok : {"*100#", "*#06#", "#123*1#", "+1", "*101*1*2#"}) EXPECT_EQ(CheckUSSDCode(ok), "") << ok;
  for (const std::string& bad :
       std::vector<std::string>{"", "*100#\r", "*100\"#", "AT", "*1 0#", std::string(161, '1')})
    EXPECT_NE(CheckUSSDCode(bad), "") << bad;
  for (const char* ok : {"1", "yes please", "2"}) EXPECT_EQ(CheckUSSDReply(ok), "") << ok;
  for (const char* bad : {"", "a\"b", "x\ry", "\x1A", "caf\xE9"}) EXPECT_NE(CheckUSSDReply(bad), "") << bad;
}

}  // namespace
}  // namespace vesk::at
