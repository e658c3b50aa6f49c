// The framing of received text into results, from raw wire strings: each
// case lists the results it frames to, and every case must frame the same
// whichever way the text is cut into reads.
#include "incoming/Framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk::at {
namespace {

std::string FinalName(TFinalCode c) {
  switch (c) {
    case TFinalCode::Ok: return "OK";
    case TFinalCode::Error: return "ERROR";
    case TFinalCode::CmsError: return "CMS";
    case TFinalCode::CmeError: return "CME";
    case TFinalCode::NoCarrier: return "NO CARRIER";
    case TFinalCode::Busy: return "BUSY";
    case TFinalCode::NoAnswer: return "NO ANSWER";
    case TFinalCode::NoDialtone: return "NO DIALTONE";
    case TFinalCode::Connect: return "CONNECT";
  }
  return "?";
}

// One result as a line of text: its kind and what it holds.
std::string Describe(const TResult& r) {
  switch (r.Kind) {
    case TResultKind::Final:
      return "final " + FinalName(r.Final) + (r.ErrorNumber >= 0 ? " " + std::to_string(r.ErrorNumber) : "") +
             (r.Final == TFinalCode::Connect && !r.Fields.empty() ? " " + r.Fields : "");
    case TResultKind::Ring: return "ring";
    case TResultKind::CallerId: return "clip " + r.Fields;
    case TResultKind::NewMessage: return "cmti " + r.Fields;
    case TResultKind::Prompt: return "prompt";
    case TResultKind::Information: return "info " + r.Line;
    case TResultKind::ReadAnswer:
    case TResultKind::ListEntry:
    case TResultKind::DirectMessage:
    case TResultKind::StatusReport: {
      std::string s = r.Name.substr(1) + (r.TextMode ? " text " : " pdu ") + r.Fields;
      if (r.HasBody) s += " | " + r.Body;
      return s;
    }
  }
  return "?";
}

std::vector<std::string> Describe(const TFraming& f) {
  std::vector<std::string> out;
  for (const TResult& r : f.Results) out.push_back(Describe(r));
  return out;
}

// Frames `text` as it would arrive in the pieces that `cuts` mark: each
// time, what is not consumed waits for the next piece; the last framing
// is final.
std::vector<std::string> FrameInPieces(const std::string& text, const std::vector<std::size_t>& cuts) {
  std::vector<std::string> out;
  std::string held;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : text.size();
    held += text.substr(from, to - from);
    from = to;
    const bool final = i == cuts.size();
    const TFraming f = Frame(held, final);
    for (const TResult& r : f.Results) out.push_back(Describe(r) + " @" + ResultText(held, r));
    held.erase(0, f.Consumed);
  }
  return out;
}

std::vector<std::string> FrameWhole(const std::string& text) { return FrameInPieces(text, {}); }

struct FrameCase {
  const char* name;
  std::string wire;
  std::vector<std::string> results;
};
void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

class Framing : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Framing, FramesEveryResult) {
  const auto& p = GetParam();
  EXPECT_EQ(Describe(Frame(p.wire, true)), p.results);
}

// A property of the framing: cutting the text at any byte, or into single
// bytes, gives the results of the whole.
TEST_P(Framing, AnyCutGivesTheSameResults) {
  const auto& p = GetParam();
  const std::vector<std::string> whole = FrameWhole(p.wire);
  for (std::size_t cut = 1; cut < p.wire.size(); ++cut) {
    SCOPED_TRACE(cut);
    ASSERT_EQ(FrameInPieces(p.wire, {cut}), whole);
  }
  std::vector<std::size_t> bytes;
  for (std::size_t cut = 1; cut < p.wire.size(); ++cut) bytes.push_back(cut);
  EXPECT_EQ(FrameInPieces(p.wire, bytes), whole);
}

// Framing without the final flag keeps back only what may still grow.
TEST_P(Framing, AnUnfinishedTailIsKeptBack) {
  const auto& p = GetParam();
  const TFraming f = Frame(p.wire, false);
  const std::string rest = p.wire.substr(f.Consumed);
  // What is kept back frames, once final, to the results the first framing lacked.
  std::vector<std::string> all = Describe(f);
  for (const std::string& r : Describe(Frame(rest, true))) all.push_back(r);
  EXPECT_EQ(all, p.results);
}

const std::string kPdu = "07919761989901F0040B919761084218F20000402011901532400BC8329BFD065DDF72363904";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Wire, Framing,
    ::testing::Values(
        FrameCase{"FinalResults",
                  "\r\nOK\r\n\r\nERROR\r\n\r\n+CMS ERROR: 321\r\n\r\n+CME ERROR: 10\r\n\r\nNO CARRIER\r\n"
                  "\r\nBUSY\r\n\r\nNO ANSWER\r\n\r\nNO DIALTONE\r\n\r\nCONNECT 9600\r\n\r\nCONNECT\r\n",
                  {"final OK", "final ERROR", "final CMS 321", "final CME 10", "final NO CARRIER", "final BUSY",
                   "final NO ANSWER", "final NO DIALTONE", "final CONNECT 9600", "final CONNECT"}},
        FrameCase{"LowerCase", "\r\nok\r\n\r\n+cms error: 38\r\n\r\nring\r\n\r\n+cmti: \"sm\",3\r\n",
                  {"final OK", "final CMS 38", "ring", "cmti \"sm\",3"}},
        // Verbose errors (AT+CMEE=2) have no number.
        FrameCase{"VerboseError", "\r\n+CME ERROR: SIM PIN required\r\n", {"final CME"}},
        FrameCase{"ResultWordsInsideLinesAreNotResults",
                  "\r\n+CSQ: 20,99\r\nOK then\r\nERRORS\r\nBRING\r\n+COPS: 0,0,\"RING OK ERROR\"\r\n\r\nOK\r\n",
                  {"info +CSQ: 20,99", "info OK then", "info ERRORS", "info BRING",
                   "info +COPS: 0,0,\"RING OK ERROR\"", "final OK"}},
        FrameCase{"RingsAndCallerId", "\r\nRING\r\n\r\n+CRING: VOICE\r\n\r\n+CLIP: \"+15550123\",145,,,\"Ringo\",0\r\n",
                  {"ring", "ring", "clip \"+15550123\",145,,,\"Ringo\",0"}},
        FrameCase{"Echo", "AT+CSQ\r\r\n+CSQ: 14,0\r\n\r\nOK\r\n", {"info AT+CSQ", "info +CSQ: 14,0", "final OK"}},
        FrameCase{"BareLineFeeds", "AT+CMGR=1\n+CMGR: 1,,25\n" + kPdu + "\nOK\n",
                  {"info AT+CMGR=1", "CMGR pdu 1,,25 | " + kPdu, "final OK"}},
        FrameCase{"DoubledCarriageReturns", "\r\r\nOK\r\r\n", {"final OK"}},
        FrameCase{"Prompt", "AT+CMGS=23\r\r\n> ", {"info AT+CMGS=23", "prompt"}},
        // The sender's phonebook name holds the words: the header is one line.
        FrameCase{"PduReadAnswerWithAlpha",
                  "\r\n+CMGR: 0,\"Ringo, Spring Ltd ERROR\",26\r\n" + kPdu + "\r\n\r\nOK\r\n",
                  {"CMGR pdu 0,\"Ringo, Spring Ltd ERROR\",26 | " + kPdu, "final OK"}},
        FrameCase{"PduReadAnswerWithoutItsPdu", "\r\n+CMGR: 1,,23\r\n\r\nOK\r\n", {"CMGR pdu 1,,23", "final OK"}},
        // A stray character after the hex digits is not part of the PDU.
        FrameCase{"PduFollowedByAQuote", "\r\n+CMGR: 1,,25\r\n" + kPdu + "\"\r\nOK\r\n",
                  {"CMGR pdu 1,,25 | " + kPdu, "final OK"}},
        FrameCase{"PduListing",
                  "\r\n+CMGL: 1,0,\"Terror Inc\",25\r\n" + kPdu + "\r\n+CMGL: 2,1,,25\r\n" + kPdu + "\r\n\r\nOK\r\n",
                  {"CMGL pdu 1,0,\"Terror Inc\",25 | " + kPdu, "CMGL pdu 2,1,,25 | " + kPdu, "final OK"}},
        // Text mode without <length>: every line up to the final result.
        FrameCase{"TextBodyOverLines",
                  "\r\n+CMGR: \"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\nRING me at 5\r\nERROR in the plan\r\n"
                  "+CMTI: \"SM\",1\r\n\r\nOK\r\n",
                  {"CMGR text \"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\" | RING me at 5\r\nERROR in the plan\r\n"
                   "+CMTI: \"SM\",1",
                   "final OK"}},
        // With <length> (AT+CSDH=1): exactly that many characters, a line
        // "OK" among them included.
        FrameCase{"TextBodyByLength",
                  "\r\n+CMGR: \"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,8\r\n"
                  "a\r\nOK\r\nb\r\n\r\nOK\r\n",
                  {"CMGR text \"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\",145,4,0,0,\"+15550100\",145,8 | "
                   "a\r\nOK\r\nb",
                   "final OK"}},
        // A length counted in other units than the characters sent (UCS2
        // as hex): the lines decide.
        FrameCase{"TextBodyLengthThatDoesNotFit",
                  "\r\n+CMGR: \"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\",145,4,0,8,\"+2\",145,4\r\n"
                  "00480069\r\n\r\nOK\r\n",
                  {"CMGR text \"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\",145,4,0,8,\"+2\",145,4 | 00480069",
                   "final OK"}},
        FrameCase{"TextListing",
                  "\r\n+CMGL: 1,\"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\nHi\nthere\r\n"
                  "+CMGL: 2,\"REC READ\",\"+15550124\",,\"19/03/14,15:10:00+08\"\r\nRing me\r\n\r\nOK\r\n",
                  {"CMGL text 1,\"REC UNREAD\",\"+15550123\",,\"19/03/14,15:09:26+08\" | Hi\nthere",
                   "CMGL text 2,\"REC READ\",\"+15550124\",,\"19/03/14,15:10:00+08\" | Ring me", "final OK"}},
        FrameCase{"EmptyTextBody", "\r\n+CMGR: \"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\"\r\n\r\nOK\r\n",
                  {"CMGR text \"REC READ\",\"+1\",,\"19/03/14,15:09:26+08\" | ", "final OK"}},
        // A status report read in text mode has no body (TS 27.005 3.4.3).
        FrameCase{"TextStatusReport",
                  "\r\n+CMGR: \"REC READ\",6,233,\"+15550123\",145,\"19/03/14,15:09:26+08\",\"19/03/14,15:09:30+08\",0\r\n"
                  "\r\nOK\r\n",
                  {"CMGR text \"REC READ\",6,233,\"+15550123\",145,\"19/03/14,15:09:26+08\",\"19/03/14,15:09:30+08\",0",
                   "final OK"}},
        FrameCase{"DirectDeliveryAndReports",
                  "\r\n+CMT: ,25\r\n" + kPdu + "\r\n\r\n+CMT: \"+15550123\",,\"19/03/14,15:09:26+08\"\r\nline\r\nOK\r\n"
                  "\r\n+CDS: 25\r\n" + kPdu + "\r\n\r\n+CDS: 6,233,\"+15550123\",145,\"19/03/14,15:09:26+08\",\"19/03/14,15:09:30+08\",0\r\n",
                  {"CMT pdu ,25 | " + kPdu, "CMT text \"+15550123\",,\"19/03/14,15:09:26+08\" | line", "final OK",
                   "CDS pdu 25 | " + kPdu,
                   "CDS text 6,233,\"+15550123\",145,\"19/03/14,15:09:26+08\",\"19/03/14,15:09:30+08\",0"}},
        FrameCase{"NoticeBetweenAnswerLines", "\r\n+CSQ: 9,99\r\n\r\n+CMTI: \"ME\",12\r\n\r\nOK\r\n",
                  {"info +CSQ: 9,99", "cmti \"ME\",12", "final OK"}},
        // Captured from a phone that puts no space after the colon and
        // only line feeds, with a body of several lines and no length
        // (published with gammu's test suite, tests/at-sms-txt).
        FrameCase{"CapturedTextAnswerOverLines",
                  "AT+CMGR=3787\n+CMGR: \"REC READ\", \"+6667776667744\", \"2009/8/18,19:11:45\"\n"
                  "Hoewfliepl jookfotu.\nZxeuluhp isluqlinushceg.\n.ginyea jpae.\nNoytaj. \nOK\n\n",
                  {"info AT+CMGR=3787",
                   "CMGR text \"REC READ\", \"+6667776667744\", \"2009/8/18,19:11:45\" | "
                   "Hoewfliepl jookfotu.\nZxeuluhp isluqlinushceg.\n.ginyea jpae.\nNoytaj. ",
                   "final OK"}},
        FrameCase{"Garbage", std::string("\x00\xff\x1a\x1b>\r\n+:\r\n+ABC\r\n\"\r\n", 20),
                  {std::string("info \x00\xff\x1a\x1b>", 10), "info +:", "info +ABC", "info \""}}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

// ------------------------------------------------ answers captured from real phones
//
// Read answers as phones printed them, published with gammu's test suite
// (tests/at-sms): the header forms vary and one PDU line ends in a stray
// quote. Each frames to one read answer with its hex run, then OK.

struct Capture {
  const char* name;
  std::string wire;
  std::string header;
  std::string pdu;
};
void PrintTo(const Capture& c, std::ostream* os) { *os << c.name; }

class CapturedReadAnswers : public ::testing::TestWithParam<Capture> {};

TEST_P(CapturedReadAnswers, FrameToOneAnswerAndOk) {
  const auto& p = GetParam();
  const TFraming f = Frame(p.wire, false);
  ASSERT_EQ(f.Results.size(), 3u);
  EXPECT_EQ(f.Results[0].Kind, TResultKind::Information);  // the echo
  EXPECT_EQ(f.Results[1].Kind, TResultKind::ReadAnswer);
  EXPECT_FALSE(f.Results[1].TextMode);
  EXPECT_EQ(f.Results[1].Fields, p.header);
  EXPECT_EQ(f.Results[1].Body, p.pdu);
  EXPECT_EQ(f.Results[2].Kind, TResultKind::Final);
  EXPECT_EQ(f.Consumed, p.wire.size());
}

const std::string k04 =
    "07914487200030230406D04F59040000601191806243009F4F990E947DD741EEF71D840EDBCBA0FCBB2E0751CB783A28E8CED3D3ED32680683"
    "81AA4B10BD8CA7CF412650AC2904BDCD2072981E06D1DFA0FABC0CA2A3D373509B8E7681A4E576B92D2ECB41F43788FE86B7EA7010280603BD"
    "E5A0F65B5E0689CBE6B7BC0C8ADD6232980D447F83CE653A28FFAECB416679B90C0AB3D9EF7BD83D2E83DC653C1DD4A6A301";
const std::string k07 = "0791534850020200040C9153486507895500006090608164138004D4F29C0E";
const std::string k26 =
    "0791539111161616640C9153916161755000F54020310164450084831281000615FFFFE7F6E003E193CC0B0000E793D1460000E193D2A00000"
    "E793D1400000E1C7D0900000FFFFD2A00000F88FD1400000F047E8806003F007F700D3E6F82C79D06413FC5C7EE809C8FE3FFF7012E4FFFFFF"
    "A823E2E0867FB021C2F99E7FA8208289867FB42082899FFF9A2492F9867FDD13E4FFFFFFEE8808FFFFFFED4808";
const std::string k38 = "079124602009999006B4098106326906F2212041015554402120410155054000";
const std::string k39 =
    "07914336120011F10404A14949000021807001253040356C76B81D268741F0B29C9C268741E4B20EB49AD16CB19BAD368BD96EA0B71B04BBBD"
    "603810284C078162315D2CE70289EBFAE1AC0CB2BFF52C10FC2D0799C3F6B71CC46687DB6550980D8AC962";
const std::string k41 =
    "0041000b817777777777f700005d060504157800004de1135b851283d4e2afdd8bd576f3b2dc5e96f7dc617a788e2ebbd761173c2ca7e777f0"
    "b79cdecbe5663bf8bdc74e57cdcfbcf5b97387dbe59e1be00ed3c37374d9bd0ebbe06139";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Gammu, CapturedReadAnswers,
    ::testing::Values(
        Capture{"StrayQuoteAfterThePdu", "AT+CMGR=5\n+CMGR: 1,,156\n" + k04 + "\"\r\nOK\n", "1,,156", k04},
        Capture{"NoAlphaField", "AT+CMGR=0\n+CMGR: 0,23\n" + k07 + "\nOK\n", "0,23", k07},
        Capture{"StatusOutsideTheStandard", "AT+CMGR=4\n+CMGR: 4,1,,151\n" + k26 + "\nOK\n", "4,1,,151", k26},
        Capture{"LengthAlone", "AT+CMGR=1\n+CMGR: 24\n" + k38 + "\nOK\n", "24", k38},
        Capture{"EmptyStatus", "AT+CMGR=91\n+CMGR: ,,92\n" + k39 + "\nOK\n", ",,92", k39},
        Capture{"LowerCaseHex", "AT+CMGR=1\n+CMGR: 0,,93\n" + k41 + "\nOK\n", "0,,93", k41}),
    [](const auto& tc) { return std::string(tc.param.name); });
// clang-format on

TEST(FramingTails, AResultWithoutItsLineEndWaits) {
  for (const std::string tail : {"\r\nOK", "\r\nOK\r", "\r\n+CMTI: \"SM\",1", "\r\n+CMGR: 1,,25\r\n",
                                 "\r\n+CMGR: 1,,25\r\n07", "\r\n+CMGR: \"REC READ\",\"+1\",,\"x\"\r\nbody\r\n", ">"}) {
    SCOPED_TRACE(tail);
    const TFraming f = Frame(tail, false);
    EXPECT_TRUE(f.Results.empty());
    EXPECT_LT(f.Consumed, tail.size());
  }
}

TEST(FramingTails, FinalTextIsTakenAsItStands) {
  EXPECT_EQ(Describe(Frame("\r\n+CMTI: \"SM\",1", true)), std::vector<std::string>{"cmti \"SM\",1"});
  EXPECT_EQ(Describe(Frame("\r\n+CMGR: 1,,25\r\n07", true)), std::vector<std::string>{"CMGR pdu 1,,25 | 07"});
  EXPECT_EQ(Describe(Frame("\r\n+CMGR: \"REC READ\",\"+1\",,\"x\"\r\nbody\r\n", true)),
            std::vector<std::string>{"CMGR text \"REC READ\",\"+1\",,\"x\" | body"});
}

TEST(FramingTails, ResultTextLeavesOutTheLineEnds) {
  const std::string wire = "\r\n+CMGR: 1,,23\r\n0791ZZZZ\r\n\r\nOK\r\n";
  const TFraming f = Frame(wire, false);
  ASSERT_EQ(f.Results.size(), 2u);
  EXPECT_EQ(f.Results[0].Body, "0791");
  EXPECT_EQ(ResultText(wire, f.Results[0]), "+CMGR: 1,,23\r\n0791ZZZZ");
  EXPECT_EQ(ResultText(wire, f.Results[1]), "OK");
}

TEST(FramingTails, FramingFromAPositionLeavesWhatWentBefore) {
  const std::string wire = "\r\nRING\r\n\r\nOK\r\n";
  const TFraming f = Frame(wire, 8, false);
  ASSERT_EQ(f.Results.size(), 1u);
  EXPECT_EQ(f.Results[0].Kind, TResultKind::Final);
  EXPECT_EQ(f.Results[0].Begin, 10u);
}

}  // namespace
}  // namespace vesk::at
