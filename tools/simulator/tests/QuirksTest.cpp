// The misbehaviour the simulator can be told to show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>

#include "tools/simulator/tests/SimFixture.h"

namespace vesk::sim::test {
namespace {

using Clock = std::chrono::steady_clock;
using Quirk = SimTest;

constexpr const char* kSubmit = "00" "11" "00" "0B916407281553F8" "00" "00" "AA" "0A" "E8329BFD4697D9EC37";

ModemConfig Quiet() {
  ModemConfig config;
  config.echo = false;
  return config;
}

TEST_F(Quirk, LowerCaseAnswersKeepTheEchoAsTyped) {
  ModemConfig config;
  config.quirks.lowerCase = true;
  Start(config);
  Client().Type("AT+CSQ\r");
  EXPECT_EQ(Client().ReadUntil("ok\r\n"), "AT+CSQ\r\r\n+csq: 23,99\r\n\r\nok\r\n");
  Client().Type("AT+VESK\r");
  EXPECT_EQ(Client().ReadUntil("error: 4\r\n"), "AT+VESK\r\r\n+cme error: 4\r\n");
}

TEST_F(Quirk, LowerCaseKeepsTextBodiesButNotPdus) {
  ModemConfig config = Quiet();
  config.quirks.lowerCase = true;
  Start(config);
  IncomingSms sms;
  sms.text = "Hello";
  const std::string pdu = Sim().DeliverSms(sms).at(0).pdu;
  std::string lowerPdu = pdu;
  for (char& c : lowerPdu) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Client().ReadFor(100ms), "");  // nothing announced with AT+CNMI at 0
  Client().Type("AT+CMGR=1\r");
  EXPECT_EQ(Client().ReadUntil("ok\r\n"), "\r\n+cmgr: 0,,22\r\n" + lowerPdu + "\r\n\r\nok\r\n");
  Client().Type("AT+CMGF=1\r");
  EXPECT_EQ(Client().ReadUntil("ok\r\n"), "\r\nok\r\n");
  Client().Type("AT+CMGR=1\r");
  EXPECT_EQ(Client().ReadUntil("ok\r\n"),
            "\r\n+cmgr: \"rec read\",\"+15550123\",,\"19/03/14,15:09:26+08\"\r\nHello\r\n\r\nok\r\n");
}

TEST_F(Quirk, AnswersSplitIntoSeveralWrites) {
  ModemConfig config = Quiet();
  config.quirks.answerPieces = 4;
  config.quirks.pieceDelay = 60ms;
  Start(config);
  const int before = Client().Reads();
  const auto start = Clock::now();
  EXPECT_EQ(Client().Ask("AT+CGSN"), "\r\n490154203237518\r\n\r\nOK\r\n");
  EXPECT_GE(Clock::now() - start, 150ms);      // three pauses between four pieces
  EXPECT_GE(Client().Reads() - before, 4);     // the client saw them come apart
  // The transcript shows the four writes.
  int writes = 0;
  for (const TranscriptEntry& e : Sim().Transcript()) writes += e.direction == Direction::Sent ? 1 : 0;
  EXPECT_EQ(writes, 4);
}

int SentWrites(ModemSimulator& sim, std::size_t* largest = nullptr) {
  int writes = 0;
  for (const TranscriptEntry& e : sim.Transcript()) {
    if (e.direction != Direction::Sent) continue;
    ++writes;
    if (largest) *largest = std::max(*largest, e.bytes.size());
  }
  return writes;
}

TEST_F(Quirk, PacingWritesAtTheSpeedOfTheLine) {
  ModemConfig config = Quiet();
  config.quirks.pacingBitsPerSecond = 4800;
  Start(config);
  IncomingSms sms;
  sms.text = std::string(160, 'x');
  sms.announce = false;
  Sim().DeliverSms(sms);
  Sim().ClearTranscript();
  const auto start = Clock::now();
  Client().Type("AT+CMGR=1\r");
  const std::string answer = Client().ReadUntil("OK\r\n");
  const auto took = Clock::now() - start;
  ASSERT_GT(answer.size(), 300u);
  EXPECT_EQ(answer.rfind("\r\n+CMGR: 0,,", 0), 0u);
  // 10 bits a byte at 4800 bits per second.
  const auto wire = std::chrono::microseconds(answer.size() * 10'000'000 / 4800);
  EXPECT_GE(took, wire - 20ms);
  EXPECT_LT(took, wire * 2 + 200ms);
  std::size_t largest = 0;
  EXPECT_GT(SentWrites(Sim(), &largest), 20);  // it trickled
  // One 5 ms slice is 3 bytes; a write thread that woke late (a loaded
  // machine) catches up at most 50 ms more: 27 bytes at 4800.
  EXPECT_LE(largest, 27u);
}

TEST_F(Quirk, PacingAlsoSlowsTheEcho) {
  ModemConfig config;
  config.quirks.pacingBitsPerSecond = 1200;  // 120 bytes a second
  Start(config);
  const auto start = Clock::now();
  EXPECT_EQ(Client().Ask("AT+CGSN"), "AT+CGSN\r\r\n490154203237518\r\n\r\nOK\r\n");
  EXPECT_GE(Clock::now() - start, 250ms);  // 35 bytes: 0.29 s
}

TEST_F(Quirk, WritesCutToAMaximumSize) {
  ModemConfig config = Quiet();
  config.quirks.maxWriteChunk = 3;
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CGSN"), "\r\n490154203237518\r\n\r\nOK\r\n");
  std::size_t largest = 0;
  EXPECT_EQ(SentWrites(Sim(), &largest), 9);  // 27 bytes
  EXPECT_EQ(largest, 3u);
  // Unsolicited results too.
  Sim().ClearTranscript();
  Sim().SendUnsolicited("RING");
  EXPECT_EQ(Client().ReadUntil("RING\r\n"), "\r\nRING\r\n");
  EXPECT_EQ(SentWrites(Sim()), 3);
}

TEST_F(Quirk, PacingAndCutWritesChangeWhileRunningAndSwitchOff) {
  Start(Quiet());
  Quirks quirks;
  quirks.maxWriteChunk = 2;
  quirks.pacingBitsPerSecond = 9600;
  Sim().SetQuirks(quirks);
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");
  std::size_t largest = 0;
  EXPECT_EQ(SentWrites(Sim(), &largest), 3);
  EXPECT_EQ(largest, 2u);
  Sim().SetQuirks(Quirks{});
  Sim().ClearTranscript();
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");
  EXPECT_EQ(SentWrites(Sim()), 1);
}

TEST_F(Quirk, SlowAnswersComeAfterTheEcho) {
  ModemConfig config;
  config.quirks.answerDelay = 300ms;
  Start(config);
  Client().Type("AT\r");
  const auto start = Clock::now();
  EXPECT_EQ(Client().ReadUntil("AT\r", 1s), "AT\r");
  EXPECT_LT(Clock::now() - start, 200ms);  // the echo is not held back
  EXPECT_EQ(Client().ReadAnswer(), "\r\nOK\r\n");
  EXPECT_GE(Clock::now() - start, 250ms);
}

TEST_F(Quirk, NeverAnswers) {
  ModemConfig config;
  config.quirks.neverAnswers = true;
  Start(config);
  Client().Type("AT\r");
  EXPECT_EQ(Client().ReadFor(300ms), "");
  EXPECT_EQ(Sim().ReceivedBytes(), "AT\r");  // heard on the line, but not understood
  EXPECT_TRUE(Sim().Commands().empty());
  Quirks normal;
  Sim().SetQuirks(normal);
  EXPECT_EQ(Client().Ask("AT"), "AT\r\r\nOK\r\n");
}

TEST_F(Quirk, SendWhoseAnswerNeverComes) {
  ModemConfig config = Quiet();
  config.quirks.sendNeverAnswered = true;
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CMGS=23"), "\r\n> ");
  Client().Type(std::string(kSubmit) + "\x1A");
  EXPECT_EQ(Client().ReadFor(400ms), "");
  const auto sent = Sim().Submitted();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(sent[0].answered);
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");  // the modem is not stuck otherwise
}

TEST_F(Quirk, SendsFailForAWhile) {
  Start(Quiet());
  Sim().FailNextSends(2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Client().Ask("AT+CMGS=23"), "\r\n> ");
    Client().Type(std::string(kSubmit) + "\x1A");
    EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMS ERROR: 321\r\n");
  }
  EXPECT_EQ(Client().Ask("AT+CMGS=23"), "\r\n> ");
  Client().Type(std::string(kSubmit) + "\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().Submitted().size(), 1u);
}

TEST_F(Quirk, SendFailsWithAChosenResult) {
  ModemConfig config = Quiet();
  config.messageFormat = 1;
  Start(config);
  Sim().FailNextSends(1, "+CMS ERROR: 500");
  EXPECT_EQ(Client().Ask("AT+CMGS=\"+15550123\""), "\r\n> ");
  Client().Type("hi\x1A");
  EXPECT_EQ(Client().ReadAnswer(), "\r\n+CMS ERROR: 500\r\n");
}

// --- Line speed -------------------------------------------------------------

TEST_F(Quirk, SilentAtAnyOtherSpeed) {
  ModemConfig config;
  config.quirks.lineSpeed = 115200;
  Start(config, 9600);
  EXPECT_EQ(Sim().State().clientLineSpeed, 9600u);
  Client().Write("AT+CRC=1\r");
  EXPECT_EQ(Client().ReadFor(300ms), "");
  EXPECT_EQ(Sim().ReceivedBytes(), "AT+CRC=1\r");
  EXPECT_FALSE(Sim().State().crc);

  Client().SetSpeed(115200);
  Client().Write("AT+CRC=1\r");
  EXPECT_EQ(Client().ReadAnswer(), "AT+CRC=1\r\r\nOK\r\n");
  EXPECT_TRUE(Sim().State().crc);
}

TEST_F(Quirk, NoiseAtOtherSpeedsNeverSaysOk) {
  ModemConfig config;
  config.quirks.lineSpeed = 57600;
  config.quirks.wrongSpeedReply = WrongSpeedReply::Garbage;
  Start(config, 19200);
  Client().Write("AT+CRC=1\r");
  const std::string noise = Client().ReadFor(300ms);
  EXPECT_FALSE(noise.empty());
  EXPECT_EQ(noise.find("OK"), std::string::npos);
  Client().SetSpeed(57600);
  EXPECT_EQ(Client().Ask("AT"), "AT\r\r\nOK\r\n");
}

TEST_F(Quirk, AnySpeedWhenNoneIsSet) {
  Start(ModemConfig{}, 2400);
  EXPECT_EQ(Client().Ask("AT"), "AT\r\r\nOK\r\n");
}

}  // namespace
}  // namespace vesk::sim::test
