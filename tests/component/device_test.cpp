// The device and call commands against a scripted modem.
#include <gtest/gtest.h>

#include <chrono>

#include "support/Fixtures.h"

namespace vesk {
namespace {

using Device = testing::ModemTest;
using Lines = std::vector<std::string>;

TEST_F(Device, GetIMEIReturnsTheSerialNumber) {
  modem->On("AT+CGSN", "\r\n490154203237518\r\n\r\nOK\r\n");
  OpenQuiet();
  EXPECT_EQ(gsm->GetIMEI(), "490154203237518");
}

TEST_F(Device, GetIMEIPassesOverTheEcho) {
  modem->SetEcho(true);
  modem->On("AT+CGSN", "\r\n490154203237518\r\n\r\nOK\r\n");
  OpenQuiet();
  EXPECT_EQ(gsm->GetIMEI(), "490154203237518");
}

TEST_F(Device, GetIMEIOnAnErrorIsEmpty) {
  modem->On("AT+CGSN", "\r\nERROR\r\n");
  OpenQuiet();
  EXPECT_EQ(gsm->GetIMEI(), "");
  modem->SetEcho(true);
  EXPECT_EQ(gsm->GetIMEI(), "");
}

TEST_F(Device, GetIMEIWithEchoOnIsTheNumber) {
  modem->SetEcho(true);
  modem->On("AT+CGSN", "\r\n356938035643809\r\n\r\nOK\r\n");
  OpenQuiet();
  EXPECT_EQ(gsm->GetIMEI(), "356938035643809");
}

TEST_F(Device, GetIMEIWithoutAnAnswerIsEmptyAfterItsTimeOut) {
  modem->SetDefaultReply("");
  OpenQuiet();
  const TDateTime start = Now();
  EXPECT_EQ(gsm->GetIMEI(), "");
  EXPECT_GE((Now() - start) * 86400, 15.0);
}

TEST_F(Device, GetSignalStrengthReadsTheFirstValue) {
  OpenQuiet();
  modem->On("AT+CSQ", "\r\n+CSQ: 23,99\r\n\r\nOK\r\n", 1);
  EXPECT_EQ(gsm->GetSignalStrength(), 23);
  modem->On("AT+CSQ", "\r\n+CSQ: 99,99\r\n\r\nOK\r\n", 1);
  EXPECT_EQ(gsm->GetSignalStrength(), 99);
  modem->On("AT+CSQ", "\r\n+csq: 5,0\r\n\r\nok\r\n", 1);
  EXPECT_EQ(gsm->GetSignalStrength(), 5);
}

// The echoed command is not the answer: the +CSQ line is.
TEST_F(Device, GetSignalStrengthWithEchoOnReadsTheAnswer) {
  modem->SetEcho(true);
  modem->On("AT+CSQ", "\r\n+CSQ: 23,99\r\n\r\nOK\r\n");
  OpenQuiet();
  EXPECT_EQ(gsm->GetSignalStrength(), 23);
}

// a line that does not read is "not known", not an exception.
TEST_F(Device, AMalformedSignalLineGives99) {
  OpenQuiet();
  for (const char* line : {"+CSQ: x,99", "+CSQ: 23", "+CSQ:", "+CSQ: ,"}) {
    SCOPED_TRACE(line);
    modem->On("AT+CSQ", std::string("\r\n") + line + "\r\n\r\nOK\r\n", 1);
    int value = 0;
    EXPECT_NO_THROW(value = gsm->GetSignalStrength());
    EXPECT_EQ(value, 99);
  }
}

// The SIM's state and the tries left are asked first (commands/State.cpp
// guards the PIN); the PIN goes quoted.
TEST_F(Device, EnterPINSendsThePinQuoted) {
  OpenQuiet();
  EXPECT_TRUE(gsm->EnterPIN("1234"));
  gsm->SetPIN("00000000");
  EXPECT_TRUE(gsm->EnterPIN());
  EXPECT_EQ(modem->Lines(),
            (Lines{"AT+CPIN?", "AT+CPINR", "AT+CPIN=\"1234\"", "AT+CPIN?", "AT+CPINR", "AT+CPIN=\"00000000\""}));
}

TEST_F(Device, APinOfOtherThanFourToEightDigitsSendsNothing) {
  OpenQuiet();
  for (const char* pin : {"", "  \t", " 0000", "123", "123456789", "12a4", "1234 "}) {
    SCOPED_TRACE(pin);
    EXPECT_FALSE(gsm->EnterPIN(pin));
    EXPECT_EQ(gsm->GetLastModemError().Kind, mekNone);
    EXPECT_NE(gsm->GetLastModemError().Text, "");
  }
  EXPECT_FALSE(gsm->EnterPIN());  // PIN property unset
  EXPECT_TRUE(modem->Lines().empty());
}

TEST_F(Device, ARejectedPinIsFalse) {
  modem->On("AT+CPIN=\"9999\"", "\r\n+CME ERROR: 16\r\n");
  OpenQuiet();
  EXPECT_FALSE(gsm->EnterPIN("9999"));
}

TEST_F(Device, TheSettingCommands) {
  OpenQuiet();
  EXPECT_TRUE(gsm->HideMyPhoneNumber(true));
  EXPECT_TRUE(gsm->HideMyPhoneNumber(false));
  EXPECT_TRUE(gsm->SetAutoAnswer(3));
  EXPECT_TRUE(gsm->SetAutoAnswer(0));
  EXPECT_TRUE(gsm->SetEcho(true));
  EXPECT_TRUE(gsm->SetEcho(false));
  EXPECT_EQ(modem->Lines(), (Lines{"AT+CLIR=1", "AT+CLIR=2", "ATS0=3", "ATS0=0", "ATE1", "ATE0"}));
}

TEST_F(Device, TheCallCommands) {
  OpenQuiet();
  EXPECT_TRUE(gsm->DialVoice("+15550123"));
  EXPECT_TRUE(gsm->DialData(" 15550123"));
  EXPECT_TRUE(gsm->AnswerCall());
  EXPECT_TRUE(gsm->TerminateCall());
  EXPECT_EQ(modem->Lines(), (Lines{"ATD+15550123;", "ATD 15550123", "ATA", "AT+CHUP"}));
}

TEST_F(Device, DiallingAnEmptyNumberSendsNothing) {
  OpenQuiet();
  EXPECT_FALSE(gsm->DialVoice(""));
  EXPECT_FALSE(gsm->DialData(" \r\n"));
  EXPECT_TRUE(modem->Lines().empty());
}

// CONNECT, BUSY, NO CARRIER hold neither OK nor ERROR: false after the wait.
// CONNECT, BUSY, NO ANSWER, NO CARRIER and NO DIALTONE end the command
// (they are final results) but are not OK.
TEST_F(Device, DiallingAnswersOtherThanOkAreFalseAtOnce) {
  modem->On("ATD15550123", "\r\nCONNECT 9600\r\n");
  modem->On("ATD15550124;", "\r\nBUSY\r\n");
  modem->On("ATD15550125;", "\r\nNO DIALTONE\r\n");
  OpenQuiet();
  TDateTime start = Now();
  EXPECT_FALSE(gsm->DialData("15550123"));
  EXPECT_FALSE(gsm->DialVoice("15550124"));
  EXPECT_FALSE(gsm->DialVoice("15550125"));
  EXPECT_LT((Now() - start) * 86400, 15.0);
}

TEST_F(Device, ARefusedCommandIsFalse) {
  modem->On("ATA", "\r\nNO CARRIER\r\n\r\nERROR\r\n");
  OpenQuiet();
  EXPECT_FALSE(gsm->AnswerCall());
}

TEST_F(Device, WithoutAnOpenPortTheyRaise) {
  EXPECT_THROW(gsm->GetIMEI(), EVeskGSMException);
  EXPECT_THROW(gsm->GetSignalStrength(), EVeskGSMException);
  EXPECT_THROW(gsm->EnterPIN("1234"), EVeskGSMException);
  EXPECT_THROW(gsm->TerminateCall(), EVeskGSMException);
}

}  // namespace
}  // namespace vesk
