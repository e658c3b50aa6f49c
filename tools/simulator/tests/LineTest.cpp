// Events on the line: calls, unsolicited text, noise, unplugging; and what
// the simulator records of it all.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <thread>

#include "tools/simulator/tests/SimFixture.h"

namespace vesk::sim::test {
namespace {

using Line = SimTest;

ModemConfig Quiet() {
  ModemConfig config;
  config.echo = false;
  return config;
}

IncomingCall Call(int rings, std::chrono::milliseconds interval) {
  IncomingCall call;
  call.rings = rings;
  call.interval = interval;
  return call;
}

// --- Calls ------------------------------------------------------------------------

TEST_F(Line, RingsThenTheCallerGivesUp) {
  Start(Quiet());
  Sim().Ring(Call(2, 80ms));
  EXPECT_EQ(Client().ReadUntil("NO CARRIER\r\n"), "\r\nRING\r\n\r\nRING\r\n\r\nNO CARRIER\r\n");
  EXPECT_EQ(Sim().State().call, CallState::Idle);
}

TEST_F(Line, ExtendedRingAndCallerIdentification) {
  Start(Quiet());
  ASSERT_EQ(Client().Ask("AT+CLIP=1;+CRC=1"), "\r\nOK\r\n");
  IncomingCall call = Call(1, 50ms);
  call.hangUpAfterRings = false;
  Sim().Ring(call);
  EXPECT_EQ(Client().ReadFor(300ms), "\r\n+CRING: VOICE\r\n\r\n+CLIP: \"+15550123\",145,,,,0\r\n");
}

TEST_F(Line, CallerIdentificationOfANationalNumber) {
  Start(Quiet());
  ASSERT_EQ(Client().Ask("AT+CLIP=1"), "\r\nOK\r\n");
  IncomingCall call = Call(1, 50ms);
  call.number = "5550123";
  call.hangUpAfterRings = false;
  Sim().Ring(call);
  EXPECT_EQ(Client().ReadFor(300ms), "\r\nRING\r\n\r\n+CLIP: \"5550123\",129,,,,0\r\n");
}

TEST_F(Line, AnsweringStopsTheRinging) {
  Start(Quiet());
  Sim().Ring(Call(10, 100ms));
  EXPECT_EQ(Client().ReadUntil("RING\r\n"), "\r\nRING\r\n");
  EXPECT_EQ(Client().Ask("ATA"), "\r\nOK\r\n");
  EXPECT_EQ(Sim().State().call, CallState::Voice);
  EXPECT_EQ(Client().ReadFor(350ms), "");
  Sim().RemoteHangUp();
  EXPECT_EQ(Client().ReadUntil("NO CARRIER\r\n"), "\r\nNO CARRIER\r\n");
  EXPECT_EQ(Sim().State().call, CallState::Idle);
}

TEST_F(Line, AutomaticAnswerAfterTheRingsOfS0) {
  Start(Quiet());
  ASSERT_EQ(Client().Ask("ATS0=2"), "\r\nOK\r\n");
  Sim().Ring(Call(5, 60ms));
  EXPECT_EQ(Client().ReadFor(500ms), "\r\nRING\r\n\r\nRING\r\n");
  EXPECT_EQ(Sim().State().call, CallState::Voice);
}

// --- Unsolicited text and noise ------------------------------------------------------

TEST_F(Line, ErrorBurst) {
  Start(Quiet());
  Sim().SendErrorBurst(2, "+CME ERROR: 100");
  Sim().SendErrorBurst(1);
  EXPECT_EQ(Client().ReadFor(200ms), "\r\n+CME ERROR: 100\r\n\r\n+CME ERROR: 100\r\n\r\nERROR\r\n");
}

TEST_F(Line, GarbageIsArbitraryAndRepeatable) {
  Start(Quiet());
  Sim().SendGarbage(256, 7);
  const std::string first = Client().ReadFor(200ms);
  ASSERT_EQ(first.size(), 256u);
  EXPECT_EQ(Sim().SentBytes(), first);
  bool high = false;
  bool control = false;
  for (char c : first) {
    high |= static_cast<unsigned char>(c) >= 0x80;
    control |= static_cast<unsigned char>(c) < 0x20;
  }
  EXPECT_TRUE(high);
  EXPECT_TRUE(control);
  Sim().SendGarbage(256, 7);
  EXPECT_EQ(Client().ReadFor(200ms), first);
  Sim().SendGarbage(256, 8);
  EXPECT_NE(Client().ReadFor(200ms), first);
}

TEST_F(Line, RawBytesGoOutAsGiven) {
  Start(Quiet());
  Sim().SendRaw(std::string("OK\0\r", 4));
  EXPECT_EQ(Client().ReadFor(150ms), std::string("OK\0\r", 4));
}

TEST_F(Line, UnsolicitedTextWaitsWhileABodyIsTyped) {
  Start(Quiet());
  ASSERT_EQ(Client().Ask("AT+CMGS=20"), "\r\n> ");
  Sim().SendUnsolicited("+CIEV: 2,5");
  EXPECT_EQ(Client().ReadFor(200ms), "");
  Client().Type("\x1B");
  EXPECT_EQ(Client().ReadFor(200ms), "\r\nOK\r\n\r\n+CIEV: 2,5\r\n");
}

// --- Unplug and plug ------------------------------------------------------------------

TEST_F(Line, UnplugHangsUpTheClientAndRemovesThePath) {
  Start(Quiet());
  const std::string device = Sim().DevicePath();
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");
  Sim().Unplug();
  EXPECT_FALSE(Sim().IsPlugged());
  EXPECT_EQ(Client().ReadFor(200ms), "");
  EXPECT_TRUE(Client().SawHangUp());
  struct stat st {};
  EXPECT_NE(::lstat(Sim().Path().c_str(), &st), 0);
  EXPECT_EQ(Sim().DevicePath(), "");
  EXPECT_FALSE(Sim().State().plugged);
  (void)device;
}

TEST_F(Line, PlugAgainUnderTheSamePath) {
  Start(Quiet());
  IncomingSms sms;
  sms.text = "kept";
  Sim().DeliverSms(sms);
  EXPECT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  Sim().Unplug();
  Sim().Plug();
  EXPECT_TRUE(Sim().IsPlugged());
  char target[PATH_MAX] = {};
  ASSERT_GT(::readlink(Sim().Path().c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), Sim().DevicePath());
  EXPECT_EQ(std::string(target).rfind("/dev/pts/", 0), 0u);

  SimClient again(Sim().Path());
  // A fresh start: power-on settings again, the stored message still there.
  EXPECT_EQ(again.Ask("AT+CMGF?"), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Sim().Stored().size(), 1u);
}

TEST_F(Line, PlugKeepsSettingsWhenToldTo) {
  ModemConfig config = Quiet();
  config.resetOnPlug = false;
  Start(config);
  EXPECT_EQ(Client().Ask("AT+CMGF=1"), "\r\nOK\r\n");
  Sim().Unplug();
  Sim().Plug();
  SimClient again(Sim().Path());
  EXPECT_EQ(again.Ask("AT+CMGF?"), "\r\n+CMGF: 1\r\n\r\nOK\r\n");
}

TEST_F(Line, EventsWhileUnpluggedAreLost) {
  Start(Quiet());
  Sim().Unplug();
  Sim().SendRaw("lost");
  Sim().Ring(Call(1, 10ms));
  Sim().Plug();
  SimClient again(Sim().Path());
  EXPECT_EQ(again.ReadFor(200ms), "");
}

TEST_F(Line, ClientMayCloseAndOpenAgain) {
  Start(Quiet());
  client_.reset();
  SimClient second(Sim().Path());
  EXPECT_EQ(second.Ask("AT"), "\r\nOK\r\n");
}

TEST_F(Line, PseudoTerminalHasNoModemLines) {
  Start(Quiet());
  int lines = 0;
  EXPECT_EQ(::ioctl(Client().Fd(), TIOCMGET, &lines), -1);
  EXPECT_EQ(errno, ENOTTY);
}

TEST_F(Line, ChosenPathIsUsedAndRemovedAtTheEnd) {
  char dir[] = "/tmp/veskgsm-sim-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/modem0";
  {
    ModemConfig config = Quiet();
    config.path = path;
    ModemSimulator sim(config);
    EXPECT_EQ(sim.Path(), path);
    SimClient client(path);
    EXPECT_EQ(client.Ask("AT"), "\r\nOK\r\n");
  }
  struct stat st {};
  EXPECT_NE(::lstat(path.c_str(), &st), 0);
  ::rmdir(dir);
}

TEST_F(Line, PathInAMissingDirectoryThrows) {
  ModemConfig config;
  config.path = "/nonexistent-veskgsm-dir/modem0";
  EXPECT_THROW(ModemSimulator sim(config), std::system_error);
}

// --- Transcript --------------------------------------------------------------------------

TEST_F(Line, TranscriptRecordsBothDirectionsInOrder) {
  Start();
  EXPECT_EQ(Client().Ask("AT"), "AT\r\r\nOK\r\n");
  ASSERT_TRUE(Sim().WaitForOutputDrained(1s));
  EXPECT_EQ(Sim().ReceivedBytes(), "AT\r");
  EXPECT_EQ(Sim().SentBytes(), "AT\r\r\nOK\r\n");
  // One entry per read or write; typed bytes may arrive together.
  const auto transcript = Sim().Transcript();
  ASSERT_GE(transcript.size(), 3u);
  EXPECT_EQ(transcript.front().direction, Direction::Received);
  EXPECT_EQ(transcript.front().bytes.substr(0, 1), "A");
  EXPECT_EQ(transcript.back().direction, Direction::Sent);
  EXPECT_EQ(transcript.back().bytes, "\r\nOK\r\n");  // the answer is written apart from the echo
  for (std::size_t i = 1; i < transcript.size(); ++i) EXPECT_LE(transcript[i - 1].time, transcript[i].time);

  const std::string text = Sim().TranscriptText();
  EXPECT_NE(text.find("-> \\r\\nOK\\r\\n\n"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("+0.000 <- A", 0), 0u) << text;

  Sim().ClearTranscript();
  EXPECT_TRUE(Sim().Transcript().empty());
  EXPECT_EQ(Sim().ReceivedBytes(), "");
  EXPECT_EQ(Sim().Commands().size(), 1u);  // commands are kept
}

TEST(Printable, EscapesControlAndNonAsciiBytes) {
  EXPECT_EQ(Printable("AT\r\n\x1A\\\xE9 ok"), "AT\\r\\n\\x1A\\\\\\xE9 ok");
  EXPECT_EQ(Printable(std::string(1, '\0')), "\\x00");
}

TEST_F(Line, TraceSinkSeesEachEntry) {
  Start(Quiet());
  std::mutex mutex;
  std::string received;
  std::string sent;
  Sim().SetTraceSink([&](const TranscriptEntry& e) {
    std::lock_guard<std::mutex> lock(mutex);
    (e.direction == Direction::Received ? received : sent) += e.bytes;
  });
  EXPECT_EQ(Client().Ask("AT"), "\r\nOK\r\n");
  ASSERT_TRUE(Sim().WaitForOutputDrained(1s));
  Sim().SetTraceSink(nullptr);
  Sim().SendRaw("unseen");
  ASSERT_TRUE(Sim().WaitForOutputDrained(1s));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(received, "AT\r");
  EXPECT_EQ(sent, "\r\nOK\r\n");
}

TEST_F(Line, WaitForSentAndReceived) {
  Start(Quiet());
  std::thread typist([this] {
    std::this_thread::sleep_for(50ms);
    Client().Type("AT+CSQ\r");
  });
  EXPECT_TRUE(Sim().WaitForReceived("AT+CSQ\r", 2s));
  EXPECT_TRUE(Sim().WaitForSent("+CSQ: 23,99", 2s));
  typist.join();
  EXPECT_FALSE(Sim().WaitForSent("+CSQ: 5", 100ms));
}

}  // namespace
}  // namespace vesk::sim::test
