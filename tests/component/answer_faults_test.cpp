// Messages that answers from real phones and modems used to lose or garble,
// each as a scripted dialogue: text-mode bodies over several lines,
// phonebook names that hold result words, a send whose echoed body ends in
// "OK", a command racing a notice, strings that would inject commands.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "support/Fixtures.h"
#include "support/Pdu.h"

namespace vesk {
namespace {

using testing::DeliverPdu;
using testing::FakeModem;
using testing::WaitUntil;

constexpr char kCtrlZ = '\x1A';

class AnswerFaults : public testing::ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    gsm->OnRing = [this](TObject*, const AnsiString& number) { Note("ring:" + number); };
    gsm->OnError = [this](TObject*, const AnsiString& text) { Note("error:" + text); };
    gsm->OnNewMessage = [this](TObject*, const AnsiString& location, int index) {
      Note("new:" + location + "," + IntToStr(index));
    };
    gsm->OnReadMessage = [this](TObject*, const WideString& text, const AnsiString& phone, const AnsiString&,
                                TDateTime, int, int status) {
      Note("read:" + WideToUtf8(text) + "|" + phone + "|" + std::to_string(status));
    };
  }
  void Feed(const AnsiString& text) {
    gsm->SetReadBufferField(text);
    gsm->ProcessAT();
  }
  void OpenForFeeding() {
    OpenQuiet();
    PauseReader();
  }
  void Note(const std::string& e) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(e);
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
  }

  std::mutex mutex;
  std::vector<std::string> events;
};

const std::string kHeader = "\"REC READ\",\"+15550123\",,\"19/03/14,15:09:26+08\"";

// ------------------------------------------------ text-mode bodies over several lines

TEST_F(AnswerFaults, ATextModeBodyIsEveryLineOfIt) {
  OpenForFeeding();
  const std::string body = "RING me at 5\r\nERROR in the plan\r\n+CMTI: \"SM\",1";
  Feed("\r\n+CMGR: " + kHeader + "\r\n" + body + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:" + body + "|+15550123|1"}));
  EXPECT_TRUE(modem->Lines().empty());  // no read of another message
}

TEST_F(AnswerFaults, ATextModeBodyWithItsLengthMayHoldAnOkLine) {
  OpenForFeeding();
  const std::string body = "See you\nOK\nBye";
  Feed("\r\n+CMGR: " + kHeader + ",145,4,0,0,\"+15550100\",145," + std::to_string(body.size()) + "\r\n" + body +
       "\r\n\r\nOK\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:" + body + "|+15550123|1"}));
}

TEST_F(AnswerFaults, ATextModeListingKeepsEachBodyWhole) {
  OpenForFeeding();
  Feed("\r\n+CMGL: 1," + kHeader + "\r\nRing me\nat 5\r\n+CMGL: 2," + kHeader + "\r\nERROR in the plan\r\n\r\nOK\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:Ring me\nat 5|+15550123|1", "read:ERROR in the plan|+15550123|1"}));
}

// ------------------------------------------------ phonebook names holding result words

TEST_F(AnswerFaults, APhonebookNameNeverCutsTheAnswer) {
  OpenForFeeding();
  for (const std::string name : {"Ringo", "Spring Ltd", "Engineering", "Terror Inc", "RING, ERROR \"OK\""}) {
    SCOPED_TRACE(name);
    events.clear();
    Feed("\r\n+CMGR: 1,\"" + name + "\",23\r\n" + DeliverPdu("hello") + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Events(), (std::vector<std::string>{"read:hello|+15550123|1"}));
    events.clear();
    Feed("\r\n+CMGL: 4,1,\"" + name + "\",23\r\n" + DeliverPdu("hello") + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Events(), (std::vector<std::string>{"read:hello|+15550123|1"}));
  }
}

TEST_F(AnswerFaults, ACallerNamedRingoRingsOnce) {
  OpenForFeeding();
  Feed("\r\n+CLIP: \"+15550123\",145,,,\"Ringo\",0\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"ring:+15550123"}));
}

TEST_F(AnswerFaults, AReadAnswerWithoutItsPduIsAnError) {
  OpenForFeeding();
  Feed("\r\n+CMGR: 1,\"Ringo\",23\r\n\r\nOK\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"error:+CMGR: 1,\"Ringo\",23"}));
  EXPECT_NE(gsm->GetLastDecodeError(), "");
}

// ------------------------------------------------ a command racing a notice

// The notice waits unread when the command starts: the command reads and
// dispatches it first, the automatic read goes out, and its answer must
// not be taken for the command's.
class CommandAndNotice : public AnswerFaults {
 protected:
  void SetUp() override {
    AnswerFaults::SetUp();
    modem->On("AT+CMGR=3", "\r\n+CMGR: 0,,23\r\n" + DeliverPdu("queued") + "\r\n\r\nOK\r\n");
    modem->On("AT+CGSN", "\r\n356938035643809\r\n\r\nOK\r\n");
    modem->On("AT+CSQ", "\r\n+CSQ: 21,99\r\n\r\nOK\r\n");
    OpenQuiet();
    PauseReader();
    modem->Push("\r\n+CMTI: \"SM\",3\r\n");
  }
};

TEST_F(CommandAndNotice, GetIMEIGetsItsOwnAnswer) {
  EXPECT_EQ(gsm->GetIMEI(), "356938035643809");
  EXPECT_TRUE(WaitUntil([&] { return Events().size() == 2; }));
  EXPECT_EQ(Events(), (std::vector<std::string>{"new:SM,3", "read:queued|+15550123|0"}));
}

TEST_F(CommandAndNotice, GetSignalStrengthGetsItsOwnAnswer) {
  EXPECT_EQ(gsm->GetSignalStrength(), 21);
  EXPECT_TRUE(WaitUntil([&] { return Events().size() == 2; }));
  EXPECT_EQ(Events()[1], "read:queued|+15550123|0");
}

// ------------------------------------------------ strings that would inject commands

TEST_F(AnswerFaults, StringsThatWouldEndTheCommandLineAreRefused) {
  OpenQuiet();
  EXPECT_FALSE(gsm->DialVoice("+15550123\rAT+CMGD=1,4"));
  EXPECT_FALSE(gsm->DialData("+15550123;\rATH"));
  EXPECT_FALSE(gsm->DialVoice("+1555\"0123"));
  EXPECT_FALSE(gsm->EnterPIN("1234\"\rAT+CMGD=1,4\r"));
  EXPECT_FALSE(gsm->SetDefaultStorage("SM\"\rAT+CMGD=1,4\r"));
  gsm->GetSMS("SM\"\rAT+CMGD=1,4\r", 1);
  gsm->GetAllSMS("SM\n", 4);
  EXPECT_FALSE(gsm->DeleteSMS("SM\x1A", 1));
  EXPECT_EQ(modem->Written(), "");
  // What people write numbers with still dials.
  EXPECT_TRUE(gsm->DialVoice("+1 (555) 012-3456"));
  EXPECT_EQ(modem->Lines().back(), "ATD+1 (555) 012-3456;");
}

// ------------------------------------------------ text-mode listings

TEST_F(AnswerFaults, ATextModeListingAsksWithTheQuotedStatus) {
  gsm->SetMessageFormat(mfText);  // recorded only: the port is not open yet
  OpenQuiet();
  gsm->GetAllSMS("SM", 4);
  gsm->GetAllSMS("SM", 0);
  const auto lines = modem->Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[1], "AT+CMGL=\"ALL\"");
  EXPECT_EQ(lines[3], "AT+CMGL=\"REC UNREAD\"");
}

// ------------------------------------------------ answers captured from real phones

TEST_F(AnswerFaults, AStatusOutsideTheStandardIsUnknown) {
  OpenForFeeding();
  Feed("\r\n+CMGR: 4,1,,151\r\n" + DeliverPdu("hello") + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:hello|+15550123|-1"}));
}

TEST_F(AnswerFaults, AStrayQuoteAfterThePduLosesNothing) {
  OpenForFeeding();
  Feed("\r\n+CMGR: 1,,23\r\n" + DeliverPdu("hello") + "\"\r\nOK\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:hello|+15550123|1"}));
}

TEST_F(AnswerFaults, BlanksAfterTheCommasOfATextHeader) {
  OpenForFeeding();
  Feed("\r\n+CMGR: \"REC READ\", \"+4123456789132\", \"2009/8/18,19:11:45\"\r\nHi\r\n\r\nOK\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"read:Hi|+4123456789132|1"}));
}

// ------------------------------------------------ errors

TEST_F(AnswerFaults, OnErrorGetsTheModemsWholeLine) {
  OpenForFeeding();
  Feed("\r\n+CMS ERROR: 321\r\n\r\n+CME ERROR: 10\r\n\r\nERROR\r\n");
  EXPECT_EQ(Events(), (std::vector<std::string>{"error:+CMS ERROR: 321", "error:+CME ERROR: 10", "error:ERROR"}));
}

// ------------------------------------------------ the traffic log

class ReceivedTrafficLog : public AnswerFaults {
 protected:
  void SetUp() override {
    AnswerFaults::SetUp();
    path = ::testing::TempDir() + "answer_faults_log_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".txt";
    std::remove(path.c_str());
    gsm->SetLogFile(Utf8ToWide(path));
    gsm->SetLog(true);
  }
  void TearDown() override {
    AnswerFaults::TearDown();
    std::remove(path.c_str());
  }
  std::string Log() {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string path;
};

TEST_F(ReceivedTrafficLog, WhatCommandsReadIsLoggedOnceInOrder) {
  modem->On("AT+CGSN", "\r\n356938035643809\r\n\r\nOK\r\n");
  modem->On("AT+CSQ", "\r\n+CSQ: 21,99\r\n\r\nOK\r\n");
  OpenQuiet();
  PauseReader();
  modem->Push("\r\n+CMTI: \"SM\",9\r\n");
  EXPECT_EQ(gsm->GetIMEI(), "356938035643809");
  EXPECT_EQ(gsm->GetSignalStrength(), 21);
  const std::string log = Log();
  const auto notice = log.find("+CMTI: \"SM\",9");
  const auto imei = log.find("356938035643809");
  const auto csq = log.find("+CSQ: 21,99");
  ASSERT_NE(notice, std::string::npos) << log;
  ASSERT_NE(imei, std::string::npos) << log;
  ASSERT_NE(csq, std::string::npos) << log;
  EXPECT_LT(notice, imei);
  EXPECT_LT(imei, csq);
  EXPECT_EQ(log.find("356938035643809", imei + 1), std::string::npos);  // once
}

// ------------------------------------------------ sending with the echo on

// The modem echoes each body and then answers: `reply` after the echo.
class EchoedSend : public AnswerFaults {
 protected:
  void SetUp() override {
    AnswerFaults::SetUp();
    gsm->SetWaitForPrompt(true);
    modem->SetHandler([this](FakeModem& m, const std::string& line) {
      if (line.rfind("AT+CMGS=", 0) == 0) {
        m.Push(line + "\r\r\n> ");
        return true;
      }
      if (!line.empty() && line.back() == kCtrlZ) {
        m.Push(line.substr(0, line.size() - 1) + reply);
        return true;
      }
      m.Push(line + "\r\r\nOK\r\n");
      return true;
    });
    OpenQuiet();
  }
  std::string reply = "\r\n+CMGS: 7\r\n\r\nOK\r\n";
};

TEST_F(EchoedSend, ABodyEndingInOkIsNotTheModemsAnswer) {
  reply = "\r\n+CMS ERROR: 38\r\n";
  EXPECT_FALSE(gsm->SendSMSAsText("+15550100", "", "Meet at 5\nOK"));
  EXPECT_EQ(gsm->GetLastSendError(), "+CMS ERROR: 38");
  EXPECT_EQ(Events(), (std::vector<std::string>{"error:+CMS ERROR: 38"}));
}

TEST_F(EchoedSend, ABodyLineSayingErrorIsText) {
  EXPECT_TRUE(gsm->SendSMSAsText("+15550100", "", "ERROR in the plan\nRING me"));
  EXPECT_EQ(gsm->GetLastSendError(), "");
  EXPECT_EQ(gsm->GetLastMessageReferences(), std::vector<int>{7});
  EXPECT_TRUE(Events().empty());  // the echo raised nothing
}

TEST_F(EchoedSend, WithFixedPausesToo) {
  gsm->SetWaitForPrompt(false);
  reply = "\r\n+CMS ERROR: 42\r\n";
  EXPECT_FALSE(gsm->SendSMSAsText("+15550100", "", "fine\nOK"));
  EXPECT_EQ(gsm->GetLastSendError(), "+CMS ERROR: 42");
}

}  // namespace
}  // namespace vesk
