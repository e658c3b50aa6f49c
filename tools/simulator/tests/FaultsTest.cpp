// The faults of a modem that stops answering, as a client on the line sees
// them: a hang that ends when the line is opened again, a modem wedged
// until AT+CFUN=1,1, a body left open at the prompt, and a port that comes
// back under another path.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tools/simulator/tests/SimFixture.h"

namespace vesk::sim::test {
namespace {

using namespace std::chrono_literals;

class Faults : public SimTest {};

TEST_F(Faults, AHungModemAnswersAgainOnlyAfterTheLineIsOpenedAgain) {
  EchoOff();
  Sim().Hang();
  EXPECT_TRUE(Sim().IsHung());
  Client().Type("AT\r");
  EXPECT_EQ(Client().ReadFor(300ms), "");
  Client().Type("AT+CSQ\r");
  EXPECT_EQ(Client().ReadFor(200ms), "");
  // Closed and opened again.
  client_.reset();
  ASSERT_TRUE(Sim().WaitUntil([&] { return !Sim().IsHung(); }, 2000ms));
  client_ = std::make_unique<SimClient>(Sim().Path());
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");
}

TEST_F(Faults, AWedgedModemAnswersAtButNoMessageCommandUntilItRestarts) {
  EchoOff();
  Sim().Wedge(300ms);
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");
  EXPECT_NE(Client().Ask("AT+CSQ").find("OK"), std::string::npos);
  Client().Type("AT+CMGF?\r");
  EXPECT_EQ(Client().ReadFor(300ms), "");
  Client().Type("AT+CPMS?\r");
  EXPECT_EQ(Client().ReadFor(200ms), "");
  EXPECT_EQ(Client().Ask("AT+CFUN=1,1"), "\r\nOK\r\n");
  EXPECT_FALSE(Sim().IsWedged());
  // The port goes away, and comes back at the same path.
  ASSERT_TRUE(Sim().WaitUntil([&] { return !Sim().IsPlugged(); }, 2000ms));
  ASSERT_TRUE(Sim().WaitUntil([&] { return Sim().IsPlugged(); }, 2000ms));
  client_ = std::make_unique<SimClient>(Sim().Path());
  EXPECT_EQ(Client().Ask("AT+CMGF?"), "AT+CMGF?\r\r\n+CMGF: 0\r\n\r\nOK\r\n");  // restarted: echo on again
}

TEST_F(Faults, AModemStuckAtThePromptTakesCommandsAsABodyUntilEscape) {
  EchoOff();
  Sim().StickAtPrompt();
  EXPECT_EQ(Client().ReadAnswer(), "\r\n> ");
  Client().Type("AT\r");
  EXPECT_EQ(Client().ReadFor(300ms).find("OK"), std::string::npos);
  Client().Type("\x1B");
  Client().ReadFor(100ms);
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");
}

TEST_F(Faults, ReplugAsMovesThePortToAnotherPath) {
  const std::string before = Sim().Path();
  const std::string after = before + ".moved";
  client_.reset();
  Sim().ReplugAs(after, 100ms);
  EXPECT_FALSE(Sim().IsPlugged());
  EXPECT_NE(::access(before.c_str(), F_OK), 0);
  ASSERT_TRUE(Sim().WaitUntil([&] { return Sim().IsPlugged(); }, 2000ms));
  EXPECT_EQ(Sim().Path(), after);
  EXPECT_NE(::access(before.c_str(), F_OK), 0);
  client_ = std::make_unique<SimClient>(after);
  EXPECT_EQ(Client().Ask("ATE0"), "ATE0\r\r\nOK\r\n");
}

}  // namespace
}  // namespace vesk::sim::test
