// Sending in text and PDU mode, as wire dialogues with the fake modem: the
// exact bytes written, in order, and the PDUs read back by a decoder written
// from the SMS-SUBMIT layout.
#include <gtest/gtest.h>

#include <atomic>

#include "support/Fixtures.h"
#include "support/SubmitDecoder.h"

namespace vesk {
namespace {

using testing::DecodedSubmit;
using testing::DecodeSubmit;
using testing::FakeModem;
using testing::ModemTest;

constexpr char kEsc = '\x1B';
constexpr char kCtrlZ = '\x1A';

// What was written, cut into the dialogue's steps: "<ESC>", each command
// line without its CR, and each body as "<BODY>" (the bodies go to
// `bodies`). Bytes after the last step are a step of their own, "<REST>...".
std::vector<std::string> Steps(const std::string& written, std::vector<std::string>* bodies = nullptr) {
  std::vector<std::string> steps;
  std::string pending;
  for (char c : written) {
    if (c == kEsc && pending.empty()) {
      steps.push_back("<ESC>");
    } else if (c == '\r') {
      steps.push_back(pending);
      pending.clear();
    } else if (c == kCtrlZ) {
      steps.push_back("<BODY>");
      if (bodies) bodies->push_back(pending);
      pending.clear();
    } else {
      pending += c;
    }
  }
  if (!pending.empty()) steps.push_back("<REST>" + pending);
  return steps;
}

std::string Utf8(const std::u16string& s) { return WideToUtf8(s); }

class Sending : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    modem->SetHandler([this](FakeModem& m, const std::string& line) { return Answer(m, line); });
    OpenQuiet();
  }

  // "> " after AT+CMGS (unless prompt is off), "+CMGS: <n>" and OK after a
  // body (or what bodyReply says), OK to everything else.
  bool Answer(FakeModem& m, const std::string& line) {
    if (line.rfind("AT+CMGS=", 0) == 0) {
      if (prompt) m.Push("\r\n> ");
      return true;
    }
    if (!line.empty() && line.back() == kCtrlZ) {
      const int n = bodiesSeen++;
      m.Push(bodyReply ? bodyReply(n) : "\r\n+CMGS: " + std::to_string(40 + n) + "\r\n\r\nOK\r\n");
      return true;
    }
    return false;
  }

  // Sends, checks that the pause flag came down, and returns the bodies.
  std::vector<DecodedSubmit> Decoded(const std::vector<std::string>& bodies) {
    std::vector<DecodedSubmit> out;
    for (const auto& b : bodies) {
      try {
        out.push_back(DecodeSubmit(b));
      } catch (const std::exception& e) {
        ADD_FAILURE() << "undecodable PDU " << b << ": " << e.what();
      }
    }
    return out;
  }

  bool prompt = true;
  std::atomic<int> bodiesSeen{0};
  std::function<std::string(int)> bodyReply;
};

// ------------------------------------------------ text mode

TEST_F(Sending, TextModeWithoutCentre) {
  EXPECT_TRUE(gsm->SendSMSAsText("+15550100", "  ", "hello"));
  EXPECT_EQ(modem->Written(), std::string("\x1B" "AT\r" "AT+CMGF=1\r" "AT+CMGS=\"+15550100\"\r" "hello\x1A"));
  EXPECT_EQ(gsm->GetLastSendError(), "");
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{40});
  EXPECT_FALSE(gsm->PauseFlag());
}

TEST_F(Sending, TextModeWithCentre) {
  EXPECT_TRUE(gsm->SendSMSAsText("5550100", "+15550199", "hello"));
  EXPECT_EQ(modem->Written(), std::string("\x1B" "AT\r" "AT+CMGF=1\r" "AT+CSCA=\"+15550199\"\r"
                                          "AT+CMGS=\"5550100\"\r" "hello\x1A"));
}

// An echoing modem repeats the body: "ok" and "error" in it are text, not
// the final result.
TEST_F(Sending, TheEchoedBodyIsNotTheAnswer) {
  modem->SetEcho(true);
  EXPECT_TRUE(gsm->SendSMSAsText("+15550100", "", "ok, error free"));
  EXPECT_EQ(gsm->GetLastSendError(), "");
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{40});
}

TEST_F(Sending, TextModeRefusesABodyThatWouldEndEarly) {
  EXPECT_FALSE(gsm->SendSMSAsText("+15550100", "", "one\x1A" "ATD+1900"));
  EXPECT_FALSE(gsm->SendSMSAsText("+15550100", "", "one\x1B" "two"));
  EXPECT_NE(gsm->GetLastSendError().find("Ctrl-Z"), AnsiString::npos);
  EXPECT_EQ(modem->Written(), "");
}

TEST_F(Sending, ANumberThatWouldBreakTheCommandLineIsRefused) {
  EXPECT_FALSE(gsm->SendSMSAsText("+1555\"\rATD+1900", "", "hi"));
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "+1\r", u"hi", meAuto, false));
  EXPECT_NE(gsm->GetLastSendError().find("service centre"), AnsiString::npos);
  EXPECT_EQ(modem->Written(), "");
}

TEST_F(Sending, ABlankNumberTouchesNoPort) {
  EXPECT_FALSE(gsm->SendSMSAsText(" \t", "", "hi"));
  EXPECT_FALSE(gsm->SendSMSAsPDU("", "", u"hi", meAuto, false));
  EXPECT_EQ(gsm->GetLastSendError(), "no phone number");
  EXPECT_EQ(modem->Written(), "");
  gsm->Close();
  EXPECT_FALSE(gsm->SendSMSAsPDU(" ", "", u"hi", meAuto, false));  // no exception either
}

TEST_F(Sending, AClosedPortRaises) {
  gsm->Close();
  EXPECT_THROW(gsm->SendSMSAsPDU("+15550100", "", u"hi", meAuto, false), EVeskGSMException);
  EXPECT_THROW(gsm->SendSMSAsText("+15550100", "", "hi"), EVeskGSMException);
  EXPECT_NE(gsm->GetLastSendError().find("is not open"), AnsiString::npos);
  EXPECT_FALSE(gsm->PauseFlag());
}

// ------------------------------------------------ single PDU messages

TEST_F(Sending, OnePduMessageExactBytes) {
  EXPECT_TRUE(gsm->SendSMSAsPDU("+15550100", "", u"hellohello", meAuto, false));
  EXPECT_EQ(modem->Written(), std::string("\x1B" "AT\r" "AT+CMGF=0\r" "AT+CMGS=21\r"
                                          "0011000891515510000000AA0AE8329BFD4697D9EC37\x1A"));
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{40});
  EXPECT_FALSE(gsm->PauseFlag());
}

TEST_F(Sending, OnePduMessageWithCentre) {
  EXPECT_TRUE(gsm->SendSMSAsPDU("+15550100", "+15550199", u"hellohello", meAuto, false));
  EXPECT_EQ(modem->Written(), std::string("\x1B" "AT\r" "AT+CMGF=0\r" "AT+CSCA=\"+15550199\"\r" "AT+CMGS=21\r"
                                          "05915155109911000891515510000000AA0AE8329BFD4697D9EC37\x1A"));
}

struct SingleCase {
  const char* name;
  const char16_t* text;
  TMessageEncoding encoding;
  bool flash;
  int dcs;
  int alphabet;
  int messageClass;
};
void PrintTo(const SingleCase& c, std::ostream* os) { *os << c.name; }

class SinglePdu : public Sending, public ::testing::WithParamInterface<SingleCase> {};

TEST_P(SinglePdu, DecodesToTheSameTextAndValues) {
  const SingleCase& p = GetParam();
  EXPECT_TRUE(gsm->SendSMSAsPDU("+15550100", "+15550199", p.text, p.encoding, p.flash));
  std::vector<std::string> bodies;
  const auto steps = Steps(modem->Written(), &bodies);
  ASSERT_EQ(bodies.size(), 1u);
  const auto decoded = Decoded(bodies);
  ASSERT_EQ(decoded.size(), 1u);
  const DecodedSubmit& d = decoded[0];
  EXPECT_EQ(steps, (std::vector<std::string>{"<ESC>", "AT", "AT+CMGF=0", "AT+CSCA=\"+15550199\"",
                                             "AT+CMGS=" + std::to_string(d.tpduOctets), "<BODY>"}));
  EXPECT_EQ(Utf8(d.text), Utf8(p.text));
  EXPECT_EQ(d.destination, "+15550100");
  EXPECT_EQ(d.centre, "+15550199");
  EXPECT_EQ(d.dcs, p.dcs);
  EXPECT_EQ(d.alphabet, p.alphabet);
  EXPECT_EQ(d.messageClass, p.messageClass);
  EXPECT_FALSE(d.concatenated);
}

INSTANTIATE_TEST_SUITE_P(
    EveryEncoding, SinglePdu,
    ::testing::Values(SingleCase{"AutoSevenBit", u"Hello {world} \u20AC5", meAuto, false, 0x00, 0, -1},
                      SingleCase{"GreekCapitals", u"\u0394\u03A6\u0393\u039B\u03A9\u03A0\u03A8\u03A3\u0398\u039E",
                                 meAuto, false, 0x00, 0, -1},
                      SingleCase{"SevenBit160", u"0123456789012345678901234567890123456789"
                                                u"0123456789012345678901234567890123456789"
                                                u"0123456789012345678901234567890123456789"
                                                u"0123456789012345678901234567890123456789",
                                 me7bit, false, 0x00, 0, -1},
                      SingleCase{"EightBit", u"abc\u00E9", me8bit, false, 0x04, 1, -1},
                      SingleCase{"AutoUcs2", u"\u041F\u0440\u0438\u0432\u0435\u0442 \u00E7a", meAuto, false, 0x08, 2,
                                 -1},
                      SingleCase{"ForcedUcs2", u"hi", meUCS2, false, 0x08, 2, -1},
                      SingleCase{"FlashSevenBit", u"hi", meAuto, true, 0xF0, 0, 0},
                      SingleCase{"FlashEightBit", u"hi", me8bit, true, 0xF4, 1, 0},
                      SingleCase{"FlashUcs2IsClassZeroUcs2", u"\u4F60\u597D", meAuto, true, 0x18, 2, 0}),
    [](const auto& tc) { return std::string(tc.param.name); });

// ------------------------------------------------ long messages

// Checks the dialogue of an n-part message and returns its decoded parts.
class LongMessage : public Sending {
 protected:
  std::vector<DecodedSubmit> SendLong(const std::u16string& text, TMessageEncoding encoding, bool flash,
                                      std::size_t parts) {
    EXPECT_TRUE(gsm->SendSMSAsPDU("+15550100", "", text, encoding, flash)) << gsm->GetLastSendError();
    std::vector<std::string> bodies;
    const auto steps = Steps(modem->Written(), &bodies);
    auto decoded = Decoded(bodies);
    EXPECT_EQ(decoded.size(), parts);
    std::vector<std::string> expected = {"AT+CMGF=0"};
    for (const auto& d : decoded)
      for (const std::string& s : {std::string("<ESC>"), std::string("AT"), "AT+CMGS=" + std::to_string(d.tpduOctets),
                                   std::string("<BODY>")})
        expected.push_back(s);
    EXPECT_EQ(steps, expected);
    std::u16string joined;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      const DecodedSubmit& d = decoded[i];
      EXPECT_TRUE(d.concatenated);
      EXPECT_EQ(d.reference, decoded[0].reference);
      EXPECT_GE(d.reference, 0);
      EXPECT_LE(d.reference, 254);
      EXPECT_EQ(d.sequence, static_cast<int>(i + 1));
      EXPECT_EQ(d.total, static_cast<int>(parts));
      EXPECT_EQ(d.messageClass, -1);  // never flash
      EXPECT_EQ(d.destination, "+15550100");
      EXPECT_LE(d.userDataOctets, 140);
      joined += d.text;
    }
    EXPECT_EQ(Utf8(joined), Utf8(text));
    std::vector<int> refs;
    for (std::size_t i = 0; i < parts; ++i) refs.push_back(40 + static_cast<int>(i));
    EXPECT_EQ(gsm->GetLastMessageReferences(), refs);
    EXPECT_EQ(gsm->GetLastSendError(), "");
    EXPECT_FALSE(gsm->PauseFlag());
    return decoded;
  }
};

TEST_F(LongMessage, A161CharacterTextGoesAs153And8) {
  const auto parts = SendLong(std::u16string(161, u'x'), meAuto, false, 2);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].text.size(), 153u);
  EXPECT_EQ(parts[1].text.size(), 8u);
  EXPECT_EQ(parts[0].udl, 160);  // 153 septets behind seven for the header
}

TEST_F(LongMessage, A307CharacterTextGoesInThreePartsInOrder) {
  std::u16string text;
  for (int i = 0; i < 307; ++i) text += static_cast<char16_t>(u'a' + i % 26);
  const auto parts = SendLong(text, me7bit, false, 3);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[2].text, u"u");  // the 307th letter
}

TEST_F(LongMessage, A71CharacterUcs2TextGoesAs67And4) {
  std::u16string text;
  for (int i = 0; i < 71; ++i) text += static_cast<char16_t>(0x0410 + i % 32);  // Cyrillic, not in Windows-1252
  const auto parts = SendLong(text, meAuto, false, 2);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].text.size(), 67u);
  EXPECT_EQ(parts[1].text.size(), 4u);
  EXPECT_EQ(parts[0].alphabet, 2);
}

TEST_F(LongMessage, FlashIsIgnoredOnParts) {
  const auto parts = SendLong(std::u16string(200, u'f'), meAuto, true, 2);
  for (const auto& p : parts) EXPECT_EQ(p.dcs, 0x00);
}

// 150 characters with 20 euro signs need 170 septets: two parts, nothing lost.
TEST_F(LongMessage, ExtensionCharactersAreCountedAsTwoSeptets) {
  std::u16string text;
  for (int i = 0; i < 150; ++i) text += (i % 15 >= 13) ? u'\u20AC' : u'e';
  SendLong(text, meAuto, false, 2);
}

// meAuto: the whole text decides, and every part goes in its encoding. A
// UCS2 text whose first part is plain letters sends that part as UCS2 too.
TEST_F(LongMessage, EveryPartGoesInTheWholeTextsEncoding) {
  const auto parts = SendLong(std::u16string(67, u'A') + u"\u041F\u0440\u0438\u0432\u0435\u0442", meAuto, false, 2);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].alphabet, 2);
  EXPECT_EQ(parts[1].alphabet, 2);
  EXPECT_EQ(parts[0].text, std::u16string(67, u'A'));
}

TEST_F(LongMessage, ThePromptDrivenModeWritesTheSameBytes) {
  gsm->SetWaitForPrompt(true);
  EXPECT_TRUE(gsm->GetWaitForPrompt());
  SendLong(std::u16string(307, u'p'), meAuto, false, 3);
}

// ------------------------------------------------ failures

TEST_F(Sending, APartAnsweredCmsErrorStopsTheSending) {
  bodyReply = [](int n) { return n == 1 ? std::string("\r\n+CMS ERROR: 38\r\n") : "\r\n+CMGS: 7\r\n\r\nOK\r\n"; };
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "", std::u16string(307, u'x'), meAuto, false));
  std::vector<std::string> bodies;
  Steps(modem->Written(), &bodies);
  EXPECT_EQ(bodies.size(), 2u);
  EXPECT_EQ(gsm->GetLastSendError(), "+CMS ERROR: 38");
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{7});
  EXPECT_FALSE(gsm->PauseFlag());
}

// A slow modem answers "AT" only after the fixed pause has passed: its
// OK is still waiting when the body's answer is read, and must not pass for
// the body's.
TEST_F(Sending, ALateOkBeforeThePromptIsNotTheBodysAnswer) {
  modem->SetHandler([this](FakeModem& m, const std::string& line) {
    if (line == "AT") return true;  // answered late, below
    if (line.rfind("AT+CMGS=", 0) == 0) {
      m.Push("\r\nOK\r\n\r\n> ");
      return true;
    }
    if (!line.empty() && line.back() == kCtrlZ) {
      m.Push("\r\n+CMS ERROR: 38\r\n");
      return true;
    }
    return Answer(m, line);
  });
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "", u"hello", meAuto, false));
  EXPECT_EQ(gsm->GetLastSendError(), "+CMS ERROR: 38");
}

TEST_F(Sending, NoFinalAnswerIsNotSent) {
  bodyReply = [](int) { return std::string(); };
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "", u"hi", meAuto, false));
  EXPECT_NE(gsm->GetLastSendError().find("no final result"), AnsiString::npos) << gsm->GetLastSendError();
  EXPECT_TRUE(gsm->GetLastMessageReferences().empty());
  EXPECT_FALSE(gsm->PauseFlag());
}

TEST_F(Sending, NoFinalAnswerStopsALongMessage) {
  bodyReply = [](int n) { return n == 0 ? std::string("\r\n+CMGS: 1\r\n\r\nOK\r\n") : std::string(); };
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "", std::u16string(400, u'x'), meAuto, false));
  std::vector<std::string> bodies;
  Steps(modem->Written(), &bodies);
  EXPECT_EQ(bodies.size(), 2u);
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{1});
}

TEST_F(Sending, AnErrorInLowerCaseIsNotSent) {
  bodyReply = [](int) { return std::string("\r\nerror\r\n"); };
  EXPECT_FALSE(gsm->SendSMSAsText("+15550100", "", "hi"));
  EXPECT_EQ(gsm->GetLastSendError(), "error");
  bodyReply = [](int) { return std::string("\r\n+cme error: 100\r\n"); };
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "", u"hi", meAuto, false));
  EXPECT_EQ(gsm->GetLastSendError(), "+cme error: 100");
}

TEST_F(Sending, ALowerCaseOkIsSent) {
  bodyReply = [](int) { return std::string("\r\n+cmgs: 3\r\n\r\nok\r\n"); };
  EXPECT_TRUE(gsm->SendSMSAsPDU("+15550100", "", u"hi", meAuto, false));
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{3});
}

TEST_F(Sending, TooManyPartsAreRefusedBeforeWriting) {
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "", std::u16string(153 * 255 + 1, u'x'), me7bit, false));
  EXPECT_NE(gsm->GetLastSendError().find("256 parts"), AnsiString::npos);
  EXPECT_EQ(modem->Written(), "");
}

TEST_F(Sending, ASuccessClearsTheLastError) {
  bodyReply = [](int n) { return n == 0 ? std::string("\r\nERROR\r\n") : "\r\n+CMGS: 9\r\n\r\nOK\r\n"; };
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "", u"hi", meAuto, false));
  EXPECT_EQ(gsm->GetLastSendError(), "ERROR");
  EXPECT_TRUE(gsm->SendSMSAsPDU("+15550100", "", u"hi", meAuto, false));
  EXPECT_EQ(gsm->GetLastSendError(), "");
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{9});
}

// ------------------------------------------------ prompt-driven mode

TEST_F(Sending, PromptModeSendsTheSameBytesAsThePauses) {
  gsm->SetWaitForPrompt(true);
  EXPECT_TRUE(gsm->SendSMSAsPDU("+15550100", "+15550199", u"hellohello", meAuto, false));
  EXPECT_TRUE(gsm->SendSMSAsText("+15550100", "", "hello"));
  EXPECT_EQ(modem->Written(),
            std::string("\x1B" "AT\r" "AT+CMGF=0\r" "AT+CSCA=\"+15550199\"\r" "AT+CMGS=21\r"
                        "05915155109911000891515510000000AA0AE8329BFD4697D9EC37\x1A"
                        "\x1B" "AT\r" "AT+CMGF=1\r" "AT+CMGS=\"+15550100\"\r" "hello\x1A"));
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{41});
}

TEST_F(Sending, PromptModeWithoutAPromptWritesNoBody) {
  gsm->SetWaitForPrompt(true);
  prompt = false;
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "", u"hi", meAuto, false));
  EXPECT_EQ(Steps(modem->Written()), (std::vector<std::string>{"<ESC>", "AT", "AT+CMGF=0", "AT+CMGS=14", "<ESC>"}));
  EXPECT_NE(gsm->GetLastSendError().find("prompt"), AnsiString::npos) << gsm->GetLastSendError();
}

TEST_F(Sending, PromptModeStopsWhenTheFormatIsRefused) {
  gsm->SetWaitForPrompt(true);
  modem->On("AT+CMGF=0", "\r\n+CMS ERROR: 303\r\n");
  EXPECT_FALSE(gsm->SendSMSAsPDU("+15550100", "", u"hi", meAuto, false));
  EXPECT_EQ(Steps(modem->Written()), (std::vector<std::string>{"<ESC>", "AT", "AT+CMGF=0"}));
  EXPECT_EQ(gsm->GetLastSendError(), "+CMS ERROR: 303");
}

TEST_F(Sending, PromptModeJudgesTheFinalAnswerLikeThePauses) {
  gsm->SetWaitForPrompt(true);
  bodyReply = [](int) { return std::string("\r\n+CMS ERROR: 500\r\n"); };
  EXPECT_FALSE(gsm->SendSMSAsText("+15550100", "", "hi"));
  EXPECT_EQ(gsm->GetLastSendError(), "+CMS ERROR: 500");
  bodyReply = [](int) { return std::string(); };
  EXPECT_FALSE(gsm->SendSMSAsText("+15550100", "", "hi"));
  EXPECT_NE(gsm->GetLastSendError().find("no final result"), AnsiString::npos);
}

// The reference decoder against the standard's own worked layout.
TEST(SubmitDecoder, ReadsTheWorkedExample) {
  const DecodedSubmit d = DecodeSubmit("0051000891515510000000AA090500032A0201D069");
  EXPECT_EQ(d.destination, "+15550100");
  EXPECT_EQ(d.centre, "");
  EXPECT_TRUE(d.concatenated);
  EXPECT_EQ(d.reference, 0x2A);
  EXPECT_EQ(d.total, 2);
  EXPECT_EQ(d.sequence, 1);
  EXPECT_EQ(d.text, u"hi");
  EXPECT_EQ(d.tpduOctets, 20);
  EXPECT_EQ(testing::submit_detail::DefaultAlphabet().size(), 128u);
  EXPECT_THROW(DecodeSubmit("0011"), std::runtime_error);
}

}  // namespace
}  // namespace vesk
