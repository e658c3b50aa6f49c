// The modem's state as the simulator plays it: the SIM's tries, the
// registration reports and their unsolicited results, the operator, and the
// scripted USSD network.
#include <gtest/gtest.h>

#include "tools/simulator/GsmAlphabet.h"
#include "tools/simulator/SmsPdu.h"
#include "tools/simulator/tests/SimFixture.h"

namespace vesk::sim::test {
namespace {

using State = SimTest;

ModemConfig Quiet() {
  ModemConfig config;
  config.echo = false;
  config.ussdDelay = Milliseconds(50);
  config.ussdTimeout = Milliseconds(200);
  return config;
}

// --- SIM ---------------------------------------------------------------------

TEST_F(State, PinTriesThenPukTriesThenBlocked) {
  ModemConfig config = Quiet();
  config.pin = "1234";
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CPINR"), "\r\n+CPINR: SIM PIN,3,3\r\n+CPINR: SIM PUK,10,10\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"0000\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Client().Ask("AT+CPINR=\"SIM PIN\""), "\r\n+CPINR: SIM PIN,2,3\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"0000\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"0000\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN?"), "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPINR=\"SIM*\""), "\r\n+CPINR: SIM PIN,0,3\r\n+CPINR: SIM PUK,10,10\r\n\r\nOK\r\n");
  // A power-on does not give the tries back.
  Sim().Unplug();
  Sim().Plug();
  client_ = std::make_unique<SimClient>(Sim().Path());
  for (int left = 9; left >= 1; --left) {
    EXPECT_EQ(Client().Ask("AT+CPIN=\"00000000\",\"1111\""), "\r\n+CME ERROR: 16\r\n");
    EXPECT_EQ(Sim().State().pukAttempts, left);
  }
  EXPECT_EQ(Client().Ask("AT+CPIN?"), "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"00000000\",\"1111\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Sim().State().pin, PinState::Blocked);
  EXPECT_EQ(Client().Ask("AT+CPIN?"), "\r\n+CME ERROR: 13\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"12345678\",\"1111\""), "\r\n+CME ERROR: 13\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=4"), "\r\n+CMS ERROR: 313\r\n");
  EXPECT_EQ(Client().Ask("AT+CREG?"), "\r\n+CREG: 0,0\r\n\r\nOK\r\n");
}

TEST_F(State, ThePukGivesTheTriesBackAndSetsTheNewPin) {
  ModemConfig config = Quiet();
  config.pin = "1234";
  Start(config);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Client().Ask("AT+CPIN=\"0000\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"00000000\",\"4321\""), "\r\n+CME ERROR: 16\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"12345678\",\"4321\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPINR"), "\r\n+CPINR: SIM PIN,3,3\r\n+CPINR: SIM PUK,10,10\r\n\r\nOK\r\n");
  Sim().Unplug();
  Sim().Plug();
  client_ = std::make_unique<SimClient>(Sim().Path());
  EXPECT_EQ(Client().Ask("AT+CPIN=\"1234\""), "\r\n+CME ERROR: 16\r\n");  // the old PIN
  EXPECT_EQ(Client().Ask("AT+CPIN=\"4321\""), "\r\nOK\r\n");
}

TEST_F(State, NoSim) {
  ModemConfig config = Quiet();
  config.simInserted = false;
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CPIN?"), "\r\n+CME ERROR: 10\r\n");
  EXPECT_EQ(Client().Ask("AT+CPINR"), "\r\n+CME ERROR: 10\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGL=4"), "\r\n+CMS ERROR: 310\r\n");
  EXPECT_EQ(Client().Ask("AT+CMEE=2"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN?"), "\r\n+CME ERROR: SIM not inserted\r\n");
}

// --- registration ------------------------------------------------------------

TEST_F(State, RegistrationReportsReadAndUnsolicited) {
  ModemConfig config = Quiet();
  config.registration = 2;  // searching
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CREG=2"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CGREG=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CEREG=2"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CREG?"), "\r\n+CREG: 2,2\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+COPS?"), "\r\n+COPS: 0\r\n\r\nOK\r\n");
  Sim().SetRegistration(1);
  EXPECT_EQ(Client().ReadUntil("7\r\n"),
            "\r\n+CREG: 1,\"1A2B\",\"0000C3F2\"\r\n\r\n+CGREG: 1\r\n\r\n+CEREG: 1,\"1A2B\",\"0C3F2A1B\",7\r\n");
  Sim().SetRegistration(1);  // no change, no result
  EXPECT_EQ(Client().ReadFor(100ms), "");
  EXPECT_EQ(Client().Ask("AT+CREG?"), "\r\n+CREG: 2,1,\"1A2B\",\"0000C3F2\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CGREG?"), "\r\n+CGREG: 1,1\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CEREG?"), "\r\n+CEREG: 2,1,\"1A2B\",\"0C3F2A1B\",7\r\n\r\nOK\r\n");
  Sim().SetRegistration(5);
  EXPECT_EQ(Client().ReadUntil("7\r\n"),
            "\r\n+CREG: 5,\"1A2B\",\"0000C3F2\"\r\n\r\n+CGREG: 5\r\n\r\n+CEREG: 5,\"1A2B\",\"0C3F2A1B\",7\r\n");
  EXPECT_EQ(Client().Ask("AT+CREG=0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CGREG=0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CEREG=0"), "\r\nOK\r\n");
  Sim().SetRegistration(3);
  EXPECT_EQ(Client().ReadFor(100ms), "");
  EXPECT_EQ(Client().Ask("AT+CREG?"), "\r\n+CREG: 0,3\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CEREG=4"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CEREG=?"), "\r\n+CEREG: (0-2)\r\n\r\nOK\r\n");
}

TEST_F(State, OperatorInEachFormat) {
  Start(Quiet());
  EXPECT_EQ(Client().Ask("AT+COPS?"), "\r\n+COPS: 0,0,\"VESK\",7\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+COPS=3,2"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+COPS?"), "\r\n+COPS: 0,2,\"00101\",7\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+COPS=3,0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCS=\"UCS2\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+COPS?"), "\r\n+COPS: 0,0,\"005600450053004B\",7\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+COPS=3,9"), "\r\nERROR\r\n");
}

// --- USSD --------------------------------------------------------------------

TEST_F(State, BalanceInPackedSevenBitHex) {
  Start(Quiet());
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"*100#\",15"), "\r\nOK\r\n");
  const std::string line = Client().ReadUntil(",15\r\n");
  ASSERT_EQ(line.rfind("\r\n+CUSD: 0,\"", 0), 0u) << line;
  const std::string hex = line.substr(12, line.size() - 12 - 6);
  const auto octets = FromHex(hex);
  ASSERT_TRUE(octets);
  // Seven spare bits at the end hold a CR (TS 23.038 6.1.2.3.1).
  auto septets = UnpackSeptets(*octets, octets->size() * 8 / 7);
  ASSERT_TRUE(septets);
  if (octets->size() % 7 == 0 && septets->back() == 0x0D) septets->pop_back();
  EXPECT_EQ(CodePointsToUtf8(FromGsmCodes(*septets)), "Your balance is 12.34 EUR, valid until 31/12/2026.");
  EXPECT_EQ(Client().Ask("AT+CUSD?"), "\r\n+CUSD: 1\r\n\r\nOK\r\n");
}

TEST_F(State, ATwoLevelMenu) {
  Start(Quiet());
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"*101#\",15"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadUntil(",15\r\n"), "\r\n+CUSD: 1,\"Menu\n1 Balance\n2 Bundles\",15\r\n");
  EXPECT_EQ(Sim().State().ussdMenu, 1);
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"2\",15"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadUntil(",15\r\n"), "\r\n+CUSD: 1,\"Bundles\n1 Daily 1 GB\n2 Weekly 5 GB\",15\r\n");
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"1\",15"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadUntil(",15\r\n"), "\r\n+CUSD: 0,\"Daily 1 GB bundle activated\",15\r\n");
  EXPECT_EQ(Sim().State().ussdMenu, 0);
  // "1" outside a menu is a code the network does not know.
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"1\",15"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadUntil("\r\n+CUSD: 4\r\n"), "\r\n+CUSD: 4\r\n");
}

TEST_F(State, Ucs2AnswerAndNetworkTimeOut) {
  Start(Quiet());
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"*102#\",15"), "\r\nOK\r\n");
  const std::string line = Client().ReadUntil(",72\r\n");
  ASSERT_EQ(line.rfind("\r\n+CUSD: 0,\"", 0), 0u) << line;
  const auto octets = FromHex(line.substr(12, line.size() - 12 - 6));
  ASSERT_TRUE(octets);
  std::u16string units;
  for (std::size_t i = 0; i + 1 < octets->size(); i += 2)
    units.push_back(static_cast<char16_t>(((*octets)[i] << 8) | (*octets)[i + 1]));
  EXPECT_EQ(CodePointsToUtf8(FromUtf16(units)), "Баланс: 100 ₽");
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"*103#\",15"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadFor(100ms), "");  // the network takes its time
  EXPECT_EQ(Client().ReadUntil("\r\n+CUSD: 5\r\n", 2s), "\r\n+CUSD: 5\r\n");
}

TEST_F(State, CancelDropsTheAnswerOnItsWay) {
  Start(Quiet());
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"*103#\",15"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CUSD=2"), "\r\nOK\r\n");
  EXPECT_EQ(Client().ReadFor(400ms), "");
  // Presentation off: answers are not shown.
  EXPECT_EQ(Client().Ask("AT+CUSD=0"), "\r\nOK\r\n");
  Sim().SendUssd(0, "from the network");
  EXPECT_EQ(Client().ReadFor(100ms), "");
  EXPECT_EQ(Client().Ask("AT+CUSD=1"), "\r\nOK\r\n");
  Sim().SendUssd(1, "Reply 1 to accept");
  EXPECT_EQ(Client().ReadUntil(",15\r\n"), "\r\n+CUSD: 1,\"Reply 1 to accept\",15\r\n");
}

TEST_F(State, UssdNeedsTheSimAndTheNetwork) {
  ModemConfig config = Quiet();
  config.pin = "1234";
  config.registration = 0;
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"*100#\",15"), "\r\n+CME ERROR: 11\r\n");
  EXPECT_EQ(Client().Ask("AT+CPIN=\"1234\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CUSD=1,\"*100#\",15"), "\r\n+CME ERROR: 30\r\n");
  EXPECT_EQ(Client().Ask("AT+CUSD=3"), "\r\nERROR\r\n");
}

}  // namespace
}  // namespace vesk::sim::test
