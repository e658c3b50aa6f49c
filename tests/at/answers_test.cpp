// The answer rules, from raw wire strings.
#include "commands/Answers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk::at {
namespace {

// ------------------------------------------------ a command's final result

struct CommandCase {
  const char* name;
  std::string command;
  std::string wire;
  bool complete;
  bool succeeded;
  std::string finalLine;
  std::vector<std::string> information;
};
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class CommandAnswers : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandAnswers, FinalResultAndLines) {
  const auto& p = GetParam();
  const TCommandAnswer a = ReadCommandAnswer(p.wire, p.command);
  EXPECT_EQ(a.Complete, p.complete);
  EXPECT_EQ(a.Succeeded(), p.succeeded);
  EXPECT_EQ(a.FinalLine, p.finalLine);
  EXPECT_EQ(InformationLines(a), p.information);
}

// The incremental watch agrees with reading the whole answer, whatever
// the pieces.
TEST_P(CommandAnswers, TheWatchSeesTheFinalResultWhenItComes) {
  const auto& p = GetParam();
  TFinalWatch watch;
  std::string read;
  bool seen = false;
  for (char c : p.wire) {
    read.push_back(c);
    seen = watch.Feed(read);
    EXPECT_EQ(seen, ReadCommandAnswer(read).Complete) << read.size();
  }
  EXPECT_EQ(seen, p.complete);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Wire, CommandAnswers,
    ::testing::Values(
        CommandCase{"Ok", "AT", "\r\nOK\r\n", true, true, "OK", {}},
        CommandCase{"OkInLowerCase", "AT", "\r\nok\r\n", true, true, "ok", {}},
        CommandCase{"Error", "AT+CSQ", "\r\nERROR\r\n", true, false, "ERROR", {}},
        CommandCase{"MessageServiceError", "AT+CMGS=1", "\r\n+CMS ERROR: 38\r\n", true, false, "+CMS ERROR: 38", {}},
        CommandCase{"EchoIsNotALine", "AT+CGSN", "AT+CGSN\r\r\n356938035643809\r\n\r\nOK\r\n", true, true, "OK",
                    {"356938035643809"}},
        // The modem's answer may hold the words inside its lines.
        CommandCase{"WordsInsideLines", "AT+COPS?", "\r\n+COPS: 0,0,\"OK ERROR\"\r\n\r\nOK\r\n", true, true, "OK",
                    {"+COPS: 0,0,\"OK ERROR\""}},
        CommandCase{"NoticeAmongTheLines", "AT+CSQ", "\r\n+CMTI: \"SM\",2\r\n\r\n+CSQ: 20,99\r\n\r\nOK\r\n", true, true,
                    "OK", {"+CSQ: 20,99"}},
        CommandCase{"NotYet", "AT", "\r\nO", false, false, "", {}},
        CommandCase{"LineEndNotYet", "AT", "\r\nOK", false, false, "", {}},
        // An earlier read's answer (a text body saying OK) does not end it early.
        CommandCase{"TextBodyLineOk", "AT+CMGR=1",
                    "\r\n+CMGR: \"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+2\",145,2\r\nOK\r\n\r\nERROR\r\n",
                    true, false, "ERROR", {}}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

TEST(CommandRules, SignalStrength) {
  EXPECT_EQ(SignalStrength(ReadCommandAnswer("\r\n+CSQ: 17,99\r\n\r\nOK\r\n")), 17);
  // Echo on: the +CSQ line is still the answer.
  EXPECT_EQ(SignalStrength(ReadCommandAnswer("AT+CSQ\r\r\n+CSQ: 5,0\r\n\r\nOK\r\n", "AT+CSQ")), 5);
  EXPECT_EQ(SignalStrength(ReadCommandAnswer("\r\n+csq: 31,2\r\n\r\nOK\r\n")), 31);
  EXPECT_EQ(SignalStrength(ReadCommandAnswer("\r\n+CSQ: x,99\r\n\r\nOK\r\n")), 99);
  EXPECT_EQ(SignalStrength(ReadCommandAnswer("\r\n+CSQ: 17\r\n\r\nOK\r\n")), 99);
  EXPECT_EQ(SignalStrength(ReadCommandAnswer("\r\nOK\r\n")), 99);
}

TEST(CommandRules, SerialNumber) {
  EXPECT_EQ(SerialNumber(ReadCommandAnswer("\r\n356938035643809\r\n\r\nOK\r\n")), "356938035643809");
  EXPECT_EQ(SerialNumber(ReadCommandAnswer("AT+CGSN\r\r\n356938035643809\r\n\r\nOK\r\n", "AT+CGSN")),
            "356938035643809");
  EXPECT_EQ(SerialNumber(ReadCommandAnswer("\r\n+CGSN: \"356938035643809\"\r\n\r\nOK\r\n")), "356938035643809");
  EXPECT_EQ(SerialNumber(ReadCommandAnswer("\r\nOK\r\n")), "");
}

// ------------------------------------------------ unsolicited results

TResult One(const std::string& wire) {
  const TFraming f = Frame(wire, true);
  EXPECT_EQ(f.Results.size(), 1u) << wire;
  return f.Results.empty() ? TResult{} : f.Results[0];
}

TEST(NoticeRules, NewMessage) {
  auto n = NewMessageNotice(One("\r\n+CMTI: \"ME\",12\r\n"));
  EXPECT_EQ(n.Storage, "ME");
  EXPECT_EQ(n.Index, 12);
  EXPECT_TRUE(n.IndexRead);
  n = NewMessageNotice(One("\r\n+CMTI: \"SM\",x\r\n"));
  EXPECT_EQ(n.Storage, "SM");
  EXPECT_EQ(n.Index, -1);
  EXPECT_FALSE(n.IndexRead);
  n = NewMessageNotice(One("\r\n+CMTI: \"SM\", 3 \r\n"));
  EXPECT_EQ(n.Index, 3);
  n = NewMessageNotice(One("\r\n+CMTI: SM,3\r\n"));  // no quotes: the storage is not read
  EXPECT_EQ(n.Storage, "SM");
  EXPECT_FALSE(n.IndexRead);
  n = NewMessageNotice(One("\r\n+CMTI: \"SM\"\r\n"));
  EXPECT_FALSE(n.IndexRead);
}

TEST(NoticeRules, CallerNumber) {
  AnsiString number;
  EXPECT_TRUE(CallerNumber(One("\r\n+CLIP: \"+15550123\",145,,,\"Ringo\",0\r\n"), number));
  EXPECT_EQ(number, "+15550123");
  EXPECT_TRUE(CallerNumber(One("\r\n+CLIP: \"\",128\r\n"), number));
  EXPECT_EQ(number, "");
  EXPECT_FALSE(CallerNumber(One("\r\n+CLIP: 15550123,145\r\n"), number));
}

TEST(NoticeRules, PduHeaders) {
  TPduHeader h = PduHeader(One("\r\n+CMGR: 1,\"Ringo, Ltd\",23\r\n07\r\n"));
  EXPECT_EQ(h.Status, 1);
  EXPECT_EQ(h.Alpha, "Ringo, Ltd");
  EXPECT_EQ(h.Length, 23);
  h = PduHeader(One("\r\n+CMGR: 0,23\r\n07\r\n"));
  EXPECT_EQ(h.Status, 0);
  EXPECT_EQ(h.Length, 23);
  // Captured from a phone: a status outside 0 to 3 is not reported as one.
  h = PduHeader(One("\r\n+CMGR: 4,1,,151\r\n07\r\n"));
  EXPECT_EQ(h.Status, -1);
  EXPECT_EQ(h.Length, 151);
  h = PduHeader(One("\r\n+CMGR: 24\r\n07\r\n"));
  EXPECT_EQ(h.Status, -1);
  h = PduHeader(One("\r\n+CMGL: 9,3,,23\r\n07\r\n"));
  EXPECT_EQ(h.Index, 9);
  EXPECT_EQ(h.Status, 3);
  EXPECT_EQ(ListIndex(One("\r\n+CMGL: 12,\"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\"\r\nx\r\n")), 12);
}

TEST(NoticeRules, TextModeMessageOfAListingEntryLeavesOutTheIndex) {
  const TResult r = One("\r\n+CMGL: 2,\"REC READ\", \"+1\",,\"19/03/14,15:09:26+08\"\r\nline 1\nline 2\r\n");
  EXPECT_EQ(TextModeMessage(r), "\"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\"\r\nline 1\nline 2\r\n");
}

// ------------------------------------------------ sending

struct SubmitCase {
  const char* name;
  std::string body;
  std::string wire;
  bool promptRead;
  TSubmitOutcome::TState state;
  int reference;
  std::string finalLine;
  std::string echo;  // the part of the wire taken for the echoed body
};
void PrintTo(const SubmitCase& c, std::ostream* os) { *os << c.name; }

class SubmitAnswers : public ::testing::TestWithParam<SubmitCase> {};

TEST_P(SubmitAnswers, OutcomeAndEcho) {
  const auto& p = GetParam();
  const TSubmitOutcome o = SubmitOutcome(p.body, p.wire, p.promptRead);
  EXPECT_EQ(o.State, p.state);
  EXPECT_EQ(o.Reference, p.reference);
  EXPECT_EQ(o.FinalLine, p.finalLine);
  EXPECT_EQ(p.wire.substr(o.EchoBegin, o.EchoEnd - o.EchoBegin), p.echo);
}

// Until the whole answer has come, the outcome is pending.
TEST_P(SubmitAnswers, EveryPrefixIsPendingOrTheSameOutcome) {
  const auto& p = GetParam();
  const TSubmitOutcome whole = SubmitOutcome(p.body, p.wire, p.promptRead);
  bool decided = false;
  for (std::size_t n = 0; n <= p.wire.size(); ++n) {
    const TSubmitOutcome o = SubmitOutcome(p.body, p.wire.substr(0, n), p.promptRead);
    if (o.State == TSubmitOutcome::Pending) {
      EXPECT_FALSE(decided) << n;
      continue;
    }
    decided = true;
    EXPECT_EQ(o.State, whole.State) << n;
    EXPECT_EQ(o.FinalLine, whole.FinalLine) << n;
  }
}

using S = TSubmitOutcome;
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Wire, SubmitAnswers,
    ::testing::Values(
        SubmitCase{"EchoOff", "hello", "\r\n+CMGS: 12\r\n\r\nOK\r\n", true, S::Sent, 12, "OK", ""},
        SubmitCase{"EchoOn", "hello", "hello\r\n+CMGS: 12\r\n\r\nOK\r\n", true, S::Sent, 12, "OK", "hello"},
        // The body's last line says OK: the network's refusal still counts.
        SubmitCase{"EchoedOkThenRefusal", "Meet at 5\r\nOK", "Meet at 5\r\nOK\r\n+CMS ERROR: 38\r\n", true, S::Failed, -1,
                   "+CMS ERROR: 38", "Meet at 5\r\nOK"},
        SubmitCase{"EchoedErrorThenSent", "ERROR", "ERROR\r\n+CMGS: 7\r\n\r\nOK\r\n", true, S::Sent, 7, "OK", "ERROR"},
        // A line break in the body comes back with the modem's own prompt.
        SubmitCase{"EchoWithFreshPrompts", "one\rOK\rtwo", "one\r\n> OK\r\n> two\r\n+CMGS: 3\r\n\r\nOK\r\n", true, S::Sent, 3,
                   "OK", "one\r\n> OK\r\n> two"},
        SubmitCase{"AcceptedWithoutReference", "x", "\r\nOK\r\n", true, S::Sent, -1, "OK", ""},
        SubmitCase{"LowerCase", "x", "x\r\n+cmgs: 200\r\n\r\nok\r\n", true, S::Sent, 200, "ok", "x"},
        // After fixed pauses nothing read the prompt: the text starts before it.
        SubmitCase{"LateOkBeforeThePrompt", "0011000B", "\r\nOK\r\n\r\n> 0011000B\r\n+CMGS: 1\r\n\r\nOK\r\n", false, S::Sent,
                   1, "OK", "0011000B"},
        SubmitCase{"RefusedInsteadOfAPrompt", "0011000B", "AT+CMGS=23\r\r\n+CMS ERROR: 304\r\n", false, S::Failed, -1,
                   "+CMS ERROR: 304", ""},
        SubmitCase{"NoPromptYet", "x", "\r\nOK\r\n", false, S::Pending, -1, "", ""},
        SubmitCase{"GenericError", "x", "x\r\nERROR\r\n", true, S::Failed, -1, "ERROR", "x"}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

TEST(PromptRules, PromptOrRefusal) {
  TCommandAnswer a;
  EXPECT_EQ(PromptState("AT+CMGS=23\r\r\n> ", a), TPromptState::Prompted);
  EXPECT_EQ(PromptState("AT+CMGS=23\r\r\n", a), TPromptState::Waiting);
  EXPECT_EQ(PromptState("\r\n+CMS ERROR: 305\r\n", a), TPromptState::Refused);
  EXPECT_TRUE(a.Failed());
  EXPECT_EQ(a.FinalLine, "+CMS ERROR: 305");
  a = TCommandAnswer();
  EXPECT_EQ(PromptState("\r\nOK\r\n", a), TPromptState::Refused);
  EXPECT_FALSE(a.Failed());
}

// ------------------------------------------------ arguments

TEST(ArgumentRules, CommandArgumentsHoldNoLineEndQuoteOrControl) {
  EXPECT_EQ(CheckArgument("SM", "the storage"), "");
  EXPECT_EQ(CheckArgument("1234", "the PIN"), "");
  for (const std::string& bad : std::vector<std::string>{"SM\r", "SM\"", "S\nM", std::string("S\0M", 3), "SM\x1A", "SM\x1B", "\x7F"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(CheckArgument(bad, "the storage"), "the storage holds a control character or a double quote");
  }
}

TEST(ArgumentRules, DialStringsHoldDialCharactersOnly) {
  for (const std::string good : {"+15550123", "*100#", "0049 (30) 123-45.67", "12,3W4P5", "ABCD", "+1555i", "123G"}) {
    SCOPED_TRACE(good);
    EXPECT_EQ(CheckDialString(good), "");
  }
  for (const std::string bad : {"+15550123\rAT+CMGD=1,4", "+1555;", "+1555\"", "1555x", "1555\n", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_NE(CheckDialString(bad), "");
  }
  EXPECT_EQ(CheckDialString("  "), "no number");
}

TEST(ArgumentRules, ListStatusInEachMode) {
  EXPECT_EQ(ListStatusArgument(4, false), "4");
  EXPECT_EQ(ListStatusArgument(0, true), "\"REC UNREAD\"");
  EXPECT_EQ(ListStatusArgument(1, true), "\"REC READ\"");
  EXPECT_EQ(ListStatusArgument(2, true), "\"STO UNSENT\"");
  EXPECT_EQ(ListStatusArgument(3, true), "\"STO SENT\"");
  EXPECT_EQ(ListStatusArgument(4, true), "\"ALL\"");
  EXPECT_EQ(ListStatusArgument(7, true), "7");
}

}  // namespace
}  // namespace vesk::at
