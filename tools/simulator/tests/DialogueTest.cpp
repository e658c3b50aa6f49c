// The command dialogue, typed byte by byte on the pseudo-terminal.
#include <gtest/gtest.h>

#include <thread>

#include "tools/simulator/tests/SimFixture.h"

namespace vesk::sim::test {
namespace {

using Dialogue = SimTest;

TEST_F(Dialogue, AtAnswersOkAfterTheEcho) { EXPECT_EQ(Client().Ask("AT"), "AT\r\r\nOK\r\n"); }

TEST_F(Dialogue, PrefixInAnyCase) {
  EXPECT_EQ(Client().Ask("at"), "at\r\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("aT+csq"), "aT+csq\r\r\n+CSQ: 23,99\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, EachByteIsEchoedAsItArrives) {
  Client().Type("AT+CS");
  EXPECT_EQ(Client().ReadUntil("AT+CS", 1s), "AT+CS");  // before any CR
  Client().Type("Q\r");
  EXPECT_EQ(Client().ReadAnswer(), "Q\r\r\n+CSQ: 23,99\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, EchoOffAndOnAgain) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("ATE1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT"), "AT\r\r\nOK\r\n");
  EXPECT_FALSE(Sim().State().echo == false);
}

TEST_F(Dialogue, EchoOffAtPowerOn) {
  ModemConfig config;
  config.echo = false;
  Start(config);
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");
}

TEST_F(Dialogue, LineFeedAfterCarriageReturnIsNoCommand) {
  EchoOff();
  Client().Type("AT\r\n");
  EXPECT_EQ(Client().ReadFor(300ms), "\r\nOK\r\n");
}

TEST_F(Dialogue, BackspaceEditsTheLine) {
  EchoOff();
  Client().Type("AT+CSX\bQ\r");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CSQ: 23,99\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, NoiseBeforeAtIsIgnored) {
  EchoOff();
  Client().Type("\x1bxyzAT\r");
  EXPECT_EQ(Client().ReadAnswer(), "\r\nOK\r\n");
  EXPECT_EQ(Sim().Commands().back(), "AT");
}

TEST_F(Dialogue, LineWithoutAtGetsNoAnswer) {
  EchoOff();
  Client().Type("hello\r");
  EXPECT_EQ(Client().ReadFor(250ms), "");
  EXPECT_EQ(Sim().Commands(), std::vector<std::string>{"ATE0"});
}

TEST_F(Dialogue, UnknownCommandIsAnError) {
  EchoOff();
  // The modem starts with AT+CMEE=1: an unknown command is "operation not
  // supported".
  EXPECT_EQ(Client().Ask("AT+VESK"), "\r\n+CME ERROR: 4\r\n");
  EXPECT_EQ(Client().Ask("ATY"), "\r\n+CME ERROR: 4\r\n");
  EXPECT_EQ(Client().Ask("AT+CSQ?"), "\r\nERROR\r\n");  // no read form
  EXPECT_EQ(Client().Ask("AT+CMEE=2"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+VESK"), "\r\n+CME ERROR: operation not supported\r\n");
  EXPECT_EQ(Client().Ask("AT+CMEE=0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+VESK"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("ATY"), "\r\nERROR\r\n");
}

TEST_F(Dialogue, SeveralCommandsOnOneLine) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CLIP=1;+CRC=1"), "\r\nOK\r\n");
  EXPECT_TRUE(Sim().State().clip);
  EXPECT_TRUE(Sim().State().crc);
  EXPECT_EQ(Client().Ask("AT+CLIP?;+CRC?"), "\r\n+CLIP: 1,1\r\n\r\n+CRC: 1\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, ErrorStopsTheRestOfTheLine) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CLIP=1;+VESK;+CRC=1"), "\r\n+CME ERROR: 4\r\n");
  EXPECT_TRUE(Sim().State().clip);
  EXPECT_FALSE(Sim().State().crc);
}

TEST_F(Dialogue, BasicCommandsChained) {
  EXPECT_EQ(Client().Ask("ATE0V1"), "ATE0V1\r\r\nOK\r\n");
  EXPECT_FALSE(Sim().State().echo);
}

TEST_F(Dialogue, RepeatLastLineWithASlash) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CGSN"), "\r\n490154203237518\r\n\r\nOK\r\n");
  Client().Type("A/");  // no CR
  EXPECT_EQ(Client().ReadAnswer(), "\r\n490154203237518\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, NumericResultCodes) {
  EchoOff();
  Client().Type("ATV0\r");
  EXPECT_EQ(Client().ReadUntil("0\r"), "0\r");  // numeric results carry no line feed
  EXPECT_EQ(Client().ReadFor(100ms), "");
  Client().Type("AT+CSQ?\r");
  EXPECT_EQ(Client().ReadUntil("4\r"), "4\r");
  Client().Type("AT+CSQ\r");
  EXPECT_EQ(Client().ReadUntil("0\r"), "+CSQ: 23,99\r\n0\r");
}

TEST_F(Dialogue, AutoAnswerRegister) {
  EchoOff();
  EXPECT_EQ(Client().Ask("ATS0=3"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("ATS0?"), "\r\n003\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().State().autoAnswerRings, 3);
  EXPECT_EQ(Client().Ask("ATS0=0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("ATS0=256"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("ATS99?"), "\r\nERROR\r\n");
}

TEST_F(Dialogue, ResetRestoresPowerOnSettings) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CMGF=1;+CLIP=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("ATZ"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadFor(50ms), "");
  const ModemState s = Sim().State();
  EXPECT_TRUE(s.echo);
  EXPECT_EQ(s.messageFormat, 0);
  EXPECT_FALSE(s.clip);
}

TEST_F(Dialogue, Identification) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CGSN"), "\r\n490154203237518\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CGMI"), "\r\nVeskSoft\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("ATI"), "\r\nVeskSoft\r\nVSIM GSM\r\nRevision: 1.0\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CGSN=?"), "\r\nOK\r\n");
}

TEST_F(Dialogue, ConfiguredImei) {
  ModemConfig config;
  config.imei = "356938035643809";
  config.echo = false;
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CGSN"), "\r\n356938035643809\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, SignalQuality) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CSQ"), "\r\n+CSQ: 23,99\r\n\r\nOK\r\n");
  Sim().SetSignal(5, 0);
  EXPECT_EQ(Client().Ask("AT+CSQ"), "\r\n+CSQ: 5,0\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, CallerIdentificationSettings) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CLIR=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CLIR?"), "\r\n+CLIR: 1,4\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CLIR=2"), "\r\nOK\r\n");
  EXPECT_EQ(Sim().State().clir, 2);
  EXPECT_EQ(Client().Ask("AT+CLIR=3"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CLIP=2"), "\r\nERROR\r\n");
}

TEST_F(Dialogue, CharacterSet) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CSCS?"), "\r\n+CSCS: \"IRA\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCS=\"GSM\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCS?"), "\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCS=\"KLINGON\""), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCS=GSM"), "\r\nERROR\r\n");  // must be quoted
}

TEST_F(Dialogue, MessageFormatAndHeaderDisplay) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CMGF?"), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGF?"), "\r\n+CMGF: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGF=2"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CSDH=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSDH?"), "\r\n+CSDH: 1\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, NewMessageIndicationSettings) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CNMI?"), "\r\n+CNMI: 0,0,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CNMI?"), "\r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CNMI=9,1"), "\r\n+CMS ERROR: 303\r\n");
}

TEST_F(Dialogue, ServiceCentreAddress) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CSCA?"), "\r\n+CSCA: \"+15550100\",145\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCA=\"+15550999\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCA?"), "\r\n+CSCA: \"+15550999\",145\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCA=\"5550999\",129"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCA?"), "\r\n+CSCA: \"5550999\",129\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCA=?"), "\r\nOK\r\n");
}

TEST_F(Dialogue, ServiceCentreInUcs2CharacterSet) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CSCS=\"UCS2\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCA=\"002B0031003200330034\""), "\r\nOK\r\n");
  EXPECT_EQ(Sim().State().serviceCentre, "+1234");
  EXPECT_EQ(Client().Ask("AT+CSCA?"), "\r\n+CSCA: \"002B0031003200330034\",145\r\n\r\nOK\r\n");
}

// --- SIM PIN ---------------------------------------------------------------

TEST_F(Dialogue, SimReadyWithoutPin) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CPIN?"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"1234\""), "\r\n+CME ERROR: 3\r\n");
}

TEST_F(Dialogue, PinEntry) {
  ModemConfig config;
  config.pin = "1234";
  config.echo = false;
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CPIN?"), "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=4"), "\r\n+CMS ERROR: 311\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"0000\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"1234\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN?"), "\r\n+CPIN: READY\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=4"), "\r\nOK\r\n");
}

TEST_F(Dialogue, ThreeWrongPinsAskForThePuk) {
  ModemConfig config;
  config.pin = "1234";
  config.echo = false;
  Start(config);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Client().Ask("AT+CPIN=\"9999\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN?"), "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"1234\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"12345678\",\"4321\""), "\r\nOK\r\n");
  EXPECT_EQ(Sim().State().pin, PinState::Ready);
}

TEST_F(Dialogue, ErrorReportingModes) {
  ModemConfig config;
  config.pin = "1234";
  config.echo = false;
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CMEE=0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"0000\""), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CMEE=2"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"0000\""), "\r\n+CME ERROR: incorrect password\r\n");
  EXPECT_EQ(Client().Ask("AT+CMEE?"), "\r\n+CMEE: 2\r\n\r\nOK\r\n");
}

// --- Calls ---------------------------------------------------------------------

TEST_F(Dialogue, VoiceCallAndHangUp) {
  EchoOff();
  EXPECT_EQ(Client().Ask("ATD+15550123;"), "\r\nOK\r\n");
  EXPECT_EQ(Sim().State().call, CallState::Voice);
  EXPECT_EQ(Sim().State().lastDialled, "+15550123");
  EXPECT_EQ(Client().Ask("AT+CHUP"), "\r\nOK\r\n");
  EXPECT_EQ(Sim().State().call, CallState::Idle);
}

TEST_F(Dialogue, VoiceDialThenMoreCommands) {
  EchoOff();
  EXPECT_EQ(Client().Ask("ATD5550123;+CSQ"), "\r\n+CSQ: 23,99\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().State().call, CallState::Voice);
}

TEST_F(Dialogue, DataCallConnectsAndEscapes) {
  EchoOff();
  EXPECT_EQ(Client().Ask("ATD5550123"), "\r\nCONNECT\r\n");
  EXPECT_EQ(Sim().State().call, CallState::DataOnline);
  Client().Write("AT\r");  // data now, not a command
  EXPECT_EQ(Client().ReadFor(200ms), "");
  Client().Write("+++");
  EXPECT_EQ(Client().ReadAnswer(), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("ATO"), "\r\nCONNECT\r\n");
  Client().Write("+++");
  EXPECT_EQ(Client().ReadAnswer(), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("ATH"), "\r\nOK\r\n");
  EXPECT_EQ(Sim().State().call, CallState::Idle);
}

TEST_F(Dialogue, DataCallBusyOrNoCarrier) {
  EchoOff();
  Sim().SetDataCallOutcome(DataCallOutcome::Busy);
  EXPECT_EQ(Client().Ask("ATD5550123"), "\r\nBUSY\r\n");
  Sim().SetDataCallOutcome(DataCallOutcome::NoCarrier);
  EXPECT_EQ(Client().Ask("ATD5550123"), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(Sim().State().call, CallState::Idle);
}

TEST_F(Dialogue, DialWithoutNumberIsAnError) {
  EchoOff();
  EXPECT_EQ(Client().Ask("ATD;"), "\r\nERROR\r\n");
}

TEST_F(Dialogue, AnswerWithoutRingingFindsNoCarrier) {
  EchoOff();
  EXPECT_EQ(Client().Ask("ATA"), "\r\nNO CARRIER\r\n");
}

// --- Test forms and missing commands -------------------------------------------

struct TestFormCase {
  const char* name;
  const char* command;
  const char* answer;
};

class TestForms : public SimTest, public ::testing::WithParamInterface<TestFormCase> {};

TEST_P(TestForms, Answer) {
  EchoOff();
  EXPECT_EQ(Client().Ask(GetParam().command), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    All, TestForms,
    ::testing::Values(TestFormCase{"Cmgr", "AT+CMGR=?", "\r\nOK\r\n"}, TestFormCase{"Cmgs", "AT+CMGS=?", "\r\nOK\r\n"},
                      TestFormCase{"Cmgf", "AT+CMGF=?", "\r\n+CMGF: (0,1)\r\n\r\nOK\r\n"},
                      TestFormCase{"Cmgl", "AT+CMGL=?", "\r\n+CMGL: (0-4)\r\n\r\nOK\r\n"},
                      TestFormCase{"Cmgd", "AT+CMGD=?", "\r\n+CMGD: (),(0-4)\r\n\r\nOK\r\n"},
                      TestFormCase{"Cpms", "AT+CPMS=?",
                                   "\r\n+CPMS: (\"SM\",\"ME\",\"SR\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n"},
                      TestFormCase{"Cnmi", "AT+CNMI=?", "\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n"},
                      TestFormCase{"Cnma", "AT+CNMA=?", "\r\n+CNMA: (0-2)\r\n\r\nOK\r\n"},
                      TestFormCase{"Csdh", "AT+CSDH=?", "\r\n+CSDH: (0,1)\r\n\r\nOK\r\n"},
                      TestFormCase{"Cscs", "AT+CSCS=?",
                                   "\r\n+CSCS: (\"GSM\",\"IRA\",\"UCS2\",\"8859-1\")\r\n\r\nOK\r\n"},
                      TestFormCase{"Clip", "AT+CLIP=?", "\r\n+CLIP: (0,1)\r\n\r\nOK\r\n"},
                      TestFormCase{"Clir", "AT+CLIR=?", "\r\n+CLIR: (0-2)\r\n\r\nOK\r\n"},
                      TestFormCase{"Crc", "AT+CRC=?", "\r\n+CRC: (0,1)\r\n\r\nOK\r\n"},
                      TestFormCase{"Csq", "AT+CSQ=?", "\r\n+CSQ: (0-31,99),(0-7,99)\r\n\r\nOK\r\n"},
                      TestFormCase{"Cpin", "AT+CPIN=?", "\r\nOK\r\n"}, TestFormCase{"Chup", "AT+CHUP=?", "\r\nOK\r\n"},
                      TestFormCase{"Cmee", "AT+CMEE=?", "\r\n+CMEE: (0-2)\r\n\r\nOK\r\n"},
                      TestFormCase{"Creg", "AT+CREG?", "\r\n+CREG: 0,1\r\n\r\nOK\r\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Dialogue, CommandsConfiguredMissingAnswerError) {
  ModemConfig config;
  config.unsupported = {"+cmgs", "D"};
  config.echo = false;
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CMGS=?"), "\r\n+CME ERROR: 4\r\n");
  EXPECT_EQ(Client().Ask("ATD5550123;"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGR=?"), "\r\nOK\r\n");
}

TEST_F(Dialogue, CommandsSwitchedOffAndOnWhileRunning) {
  EchoOff();
  Sim().SetSupported("+CRC", false);
  EXPECT_EQ(Client().Ask("AT+CLIP=1;+CRC=1"), "\r\n+CME ERROR: 4\r\n");
  Sim().SetSupported("S0", false);
  EXPECT_EQ(Client().Ask("ATS0=2"), "\r\nERROR\r\n");
  Sim().SetSupported("+CRC", true);
  EXPECT_EQ(Client().Ask("AT+CLIP=1;+CRC=1"), "\r\nOK\r\n");
}

// --- Waiting ---------------------------------------------------------------------

TEST_F(Dialogue, WaitForCommandSeesALineTypedLater) {
  EchoOff();
  std::thread typist([this] {
    std::this_thread::sleep_for(100ms);
    Client().Type("AT+CMGF=1\r");
  });
  EXPECT_TRUE(Sim().WaitForCommand("at+cmgf", 3s));
  typist.join();
  EXPECT_FALSE(Sim().WaitForCommand("AT+CMGF", 100ms, 2));
  EXPECT_FALSE(Sim().WaitForCommand("AT+CMGS", 50ms));
}

}  // namespace
}  // namespace vesk::sim::test
