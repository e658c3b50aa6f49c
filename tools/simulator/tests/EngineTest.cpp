// The dialogue engine on its own, without a line: input no client should
// send must not break it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tools/simulator/AtEngine.h"

namespace vesk::sim {
namespace {

std::string Answers(const Emissions& out) {
  std::string text;
  for (const Emission& e : out) {
    if (e.kind != Emission::Kind::Echo) text += e.bytes;
  }
  return text;
}

TEST(Engine, HugeNumbersAreErrorsNotCrashes) {
  ModemConfig config;
  config.echo = false;
  AtEngine engine(config);
  for (const char* line : {"ATS99999999999?\r", "ATS0=99999999999\r", "ATE99999999999\r",
                           "AT+CMGR=99999999999999\r", "AT+CNMI=99999999999999,1\r", "AT+CMGS=999999999999\r"}) {
    Emissions out;
    ASSERT_NO_THROW(engine.Receive(line, out)) << line;
    const std::string answer = Answers(out);
    EXPECT_NE(answer.find("ERROR"), std::string::npos) << line << " gave " << answer;
  }
}

TEST(Engine, RandomBytesInEveryStateNeverBreakIt) {
  std::mt19937 random(20240229);
  const std::vector<std::string> openers = {"", "AT+CMGS=20\r", "AT+CMGF=1;+CMGS=\"+1555\"\r", "ATD5550123\r",
                                            "AT+CMGW=10\r", "AT+CNMI=0,1\r"};
  for (int round = 0; round < 300; ++round) {
    ModemConfig config;
    config.pin = round % 3 == 0 ? "1234" : "";
    AtEngine engine(config);
    Emissions out;
    engine.Receive(openers[static_cast<std::size_t>(round) % openers.size()], out);
    std::string noise;
    const int length = static_cast<int>(random() % 400);
    for (int i = 0; i < length; ++i) {
      // Mostly command-like text, with control bytes and arbitrary octets.
      const unsigned pick = random() % 10;
      static const std::string kText = "AT+CMGSRLFDE0123456789=?;,\"\r";
      noise.push_back(pick < 7 ? kText[random() % kText.size()] : static_cast<char>(random() & 0xFF));
    }
    ASSERT_NO_THROW(engine.Receive(noise, out)) << "round " << round;
    IncomingSms sms;
    sms.text = noise;
    ASSERT_NO_THROW(engine.DeliverSms(sms, out));
    // Whatever happened, ESC and a fresh line bring back a working modem.
    out.clear();
    engine.Receive("\x1B+++", out);
    engine.Receive("\rATH\rATE0\rAT\r", out);
    EXPECT_NE(Answers(out).find("\r\nOK\r\n"), std::string::npos) << "round " << round;
  }
}

}  // namespace
}  // namespace vesk::sim
