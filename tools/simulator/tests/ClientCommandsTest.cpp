// What widely used AT clients send when they connect, identify the modem,
// send and list: each must get the answer a real modem gives, or such a
// client stops at the first ERROR.
#include <gtest/gtest.h>

#include "tools/simulator/tests/SimFixture.h"

namespace vesk::sim::test {
namespace {

using ClientCommands = SimTest;

TEST_F(ClientCommands, FunctionalityLevel) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CFUN=?"), "\r\n+CFUN: (0,1,4),(0,1)\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN?"), "\r\n+CFUN: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN=4"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN?"), "\r\n+CFUN: 4\r\n\r\nOK\r\n");
  // Radio off: not registered, no operator.
  EXPECT_EQ(Client().Ask("AT+CREG?"), "\r\n+CREG: 0,0\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+COPS?"), "\r\n+COPS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN=1,0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CREG?"), "\r\n+CREG: 0,1\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+COPS?"), "\r\n+COPS: 0,0,\"VESK\",7\r\n\r\nOK\r\n");
}

TEST_F(ClientCommands, FunctionalityRejectsOtherLevels) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CFUN=2"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN=1,2"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN=x"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN?"), "\r\n+CFUN: 1\r\n\r\nOK\r\n");
}

TEST_F(ClientCommands, RestartWithTheResetArgument) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CFUN=1,1"), "\r\nOK\r\n");
  // The settings are the power-on ones again, echo included.
  EXPECT_EQ(Client().Ask("AT+CMGF?"), "AT+CMGF?\r\r\n+CMGF: 0\r\n\r\nOK\r\n");
}

TEST_F(ClientCommands, IdentificationWithAndWithoutTheCPrefix) {
  EchoOff();
  for (const char* c : {"AT+CGMI", "AT+GMI"}) EXPECT_EQ(Client().Ask(c), "\r\nVeskSoft\r\n\r\nOK\r\n") << c;
  for (const char* c : {"AT+CGMM", "AT+GMM"}) EXPECT_EQ(Client().Ask(c), "\r\nVSIM GSM\r\n\r\nOK\r\n") << c;
  for (const char* c : {"AT+CGMR", "AT+GMR"}) EXPECT_EQ(Client().Ask(c), "\r\n1.0\r\n\r\nOK\r\n") << c;
  for (const char* c : {"AT+CGSN", "AT+GSN"}) EXPECT_EQ(Client().Ask(c), "\r\n490154203237518\r\n\r\nOK\r\n") << c;
  EXPECT_EQ(Client().Ask("AT+CIMI"), "\r\n001010123456789\r\n\r\nOK\r\n");
  for (const char* c : {"AT+CGMI=?", "AT+GMI=?", "AT+CGMM=?", "AT+GMM=?", "AT+CGMR=?", "AT+GMR=?", "AT+CGSN=?",
                        "AT+GSN=?", "AT+CIMI=?"})
    EXPECT_EQ(Client().Ask(c), "\r\nOK\r\n") << c;
  EXPECT_EQ(Client().Ask("ATI"), "\r\nVeskSoft\r\nVSIM GSM\r\nRevision: 1.0\r\n\r\nOK\r\n");
}

TEST_F(ClientCommands, MessageStorageReadAndThreeStorageSet) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CPMS?"), "\r\n+CPMS: \"SM\",0,30,\"SM\",0,30,\"SM\",0,30\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPMS=\"ME\",\"SM\",\"ME\""), "\r\n+CPMS: 0,100,0,30,0,100\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPMS?"), "\r\n+CPMS: \"ME\",0,100,\"SM\",0,30,\"ME\",0,100\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPMS=\"SM\""), "\r\n+CPMS: 0,30,0,30,0,100\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPMS=\"SM\",\"SM\",\"XX\""), "\r\n+CMS ERROR: 302\r\n");
}

TEST_F(ClientCommands, NetworkAndCharacterSet) {
  EchoOff();
  EXPECT_EQ(Client().Ask("AT+CSCA?"), "\r\n+CSCA: \"+15550100\",145\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CREG?"), "\r\n+CREG: 0,1\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+COPS?"), "\r\n+COPS: 0,0,\"VESK\",7\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCS?"), "\r\n+CSCS: \"IRA\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCS=\"GSM\""), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CSCS?"), "\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CNMI=?"), "\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CMGF=?"), "\r\n+CMGF: (0,1)\r\n\r\nOK\r\n");
}

TEST_F(ClientCommands, ProbesOfOtherVendorsCommandsAreRefused) {
  EchoOff();
  // Under AT+CMEE=1 (the power-on value here) an unknown command is
  // "operation not supported"; with AT+CMEE=0 a plain ERROR.
  EXPECT_EQ(Client().Ask("AT+CPROT=?"), "\r\n+CME ERROR: 4\r\n");
  EXPECT_EQ(Client().Ask("AT+CMEE=0"), "\r\nOK\r\n");
  EXPECT_EQ(Client().Ask("AT+CPROT=?"), "\r\nERROR\r\n");
  EXPECT_EQ(Client().Ask("AT$TSSPCSW=?"), "\r\nERROR\r\n");
}

}  // namespace
}  // namespace vesk::sim::test
