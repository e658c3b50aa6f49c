// The veskgsm-sim command: its options, and the real binary serving a path.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tools/simulator/SimulatorCommand.h"
#include "tools/simulator/tests/SimClient.h"

namespace vesk::sim::test {
namespace {

SimulatorOptions Parse(const std::vector<std::string>& args) {
  SimulatorOptions options;
  std::string error;
  EXPECT_TRUE(ParseSimulatorOptions(args, options, &error)) << error;
  return options;
}

std::string ParseError(const std::vector<std::string>& args) {
  SimulatorOptions options;
  std::string error;
  EXPECT_FALSE(ParseSimulatorOptions(args, options, &error));
  return error;
}

TEST(CommandOptions, Defaults) {
  const SimulatorOptions o = Parse({});
  EXPECT_EQ(o.config.path, "");
  EXPECT_TRUE(o.config.echo);
  EXPECT_EQ(o.config.quirks.lineSpeed, 0u);
  EXPECT_FALSE(o.trace);
  EXPECT_FALSE(o.console);
}

TEST(CommandOptions, EveryOptionReachesTheConfiguration) {
  const SimulatorOptions o =
      Parse({"--path", "/tmp/m0", "--speed", "115200", "--wrong-speed-garbage", "--pin", "1234", "--puk", "87654321",
             "--no-echo", "--text-mode", "--imei", "356938035643809", "--signal", "17,3", "--smsc", "+4917",
             "--sim-capacity", "5", "--me-capacity", "7", "--data-call", "busy", "--unsupported", "+CMGS,+crc",
             "--lower-case", "--split", "3:15", "--delay", "250", "--never-answer", "--send-never-answered",
             "--fail-sends", "2:+CMS ERROR: 500", "--trace", "--console"});
  const ModemConfig& c = o.config;
  EXPECT_EQ(c.path, "/tmp/m0");
  EXPECT_EQ(c.quirks.lineSpeed, 115200u);
  EXPECT_EQ(c.quirks.wrongSpeedReply, WrongSpeedReply::Garbage);
  EXPECT_EQ(c.pin, "1234");
  EXPECT_EQ(c.puk, "87654321");
  EXPECT_FALSE(c.echo);
  EXPECT_EQ(c.messageFormat, 1);
  EXPECT_EQ(c.imei, "356938035643809");
  EXPECT_EQ(c.rssi, 17);
  EXPECT_EQ(c.ber, 3);
  EXPECT_EQ(c.serviceCentre, "+4917");
  EXPECT_EQ(c.simCapacity, 5u);
  EXPECT_EQ(c.phoneCapacity, 7u);
  EXPECT_EQ(c.dataCall, DataCallOutcome::Busy);
  EXPECT_EQ(c.unsupported, (std::set<std::string>{"+CMGS", "+crc"}));
  EXPECT_TRUE(c.quirks.lowerCase);
  EXPECT_EQ(c.quirks.answerPieces, 3);
  EXPECT_EQ(c.quirks.pieceDelay, Milliseconds(15));
  EXPECT_EQ(c.quirks.answerDelay, Milliseconds(250));
  EXPECT_TRUE(c.quirks.neverAnswers);
  EXPECT_TRUE(c.quirks.sendNeverAnswered);
  EXPECT_EQ(o.failSends, 2);
  EXPECT_EQ(o.failResult, "+CMS ERROR: 500");
  EXPECT_TRUE(o.trace);
  EXPECT_TRUE(o.console);
}

TEST(CommandOptions, StatusReportsAndAcknowledgements) {
  const SimulatorOptions o = Parse({"--report-delay", "250", "--report-status", "0x46", "--ack-timeout", "900"});
  EXPECT_EQ(o.config.reports.delay, Milliseconds(250));
  EXPECT_EQ(o.config.reports.status, 0x46);
  EXPECT_EQ(o.config.ackTimeout, Milliseconds(900));
  EXPECT_EQ(Parse({"--report-status", "65"}).config.reports.status, 65);
  EXPECT_EQ(ParseError({"--report-status", "0x100"}), "--report-status needs a status from 0 to 255");
  EXPECT_EQ(ParseError({"--report-delay", "soon"}), "--report-delay needs milliseconds");
  EXPECT_EQ(ParseError({"--ack-timeout", "0"}), "--ack-timeout needs milliseconds");
}

TEST(CommandOptions, MistakesAreNamed) {
  EXPECT_EQ(ParseError({"--speed"}), "--speed needs a speed in bits per second");
  EXPECT_EQ(ParseError({"--speed", "fast"}), "--speed needs a speed in bits per second");
  EXPECT_EQ(ParseError({"--data-call", "maybe"}), "--data-call needs connect, busy or no-carrier");
  EXPECT_EQ(ParseError({"--signal", "x"}), "--signal needs RSSI[,BER]");
  EXPECT_EQ(ParseError({"--split", "0"}), "--split needs N[:MS]");
  EXPECT_EQ(ParseError({"--frobnicate"}), "unknown option --frobnicate");
}

TEST(CommandOptions, TheSimAndTheNetwork) {
  const SimulatorOptions o = Parse({"--no-sim", "--registration", "5"});
  EXPECT_FALSE(o.config.simInserted);
  EXPECT_EQ(o.config.registration, 5);
  EXPECT_EQ(ParseError({"--registration", "4"}), "--registration needs 0, 1, 2, 3 or 5");
  EXPECT_EQ(ParseError({"--registration"}), "--registration needs 0, 1, 2, 3 or 5");
}

TEST(CommandOptions, HelpListsTheOptions) {
  const std::string usage = SimulatorUsage("veskgsm-sim");
  for (const char* option : {"--path", "--speed", "--pin", "--no-echo", "--lower-case", "--split", "--delay",
                             "--never-answer", "--send-never-answered", "--fail-sends", "--console"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

// --- The binary -----------------------------------------------------------------

class Binary : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/veskgsm-sim-cmd-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/modem0";
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdin_ >= 0) ::close(stdin_);
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }

  // Starts the binary with its standard input on a pipe and its output
  // discarded, and waits for the path to appear.
  void Run(std::vector<std::string> args) {
    int in[2];
    ASSERT_EQ(::pipe(in), 0);
    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::close(in[0]);
      ::close(in[1]);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      std::vector<char*> argv;
      std::string program = VESKGSM_SIM_BINARY;
      argv.push_back(program.data());
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    stdin_ = in[1];
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    struct stat st {};
    while (::lstat(path_.c_str(), &st) != 0) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the path never appeared";
      std::this_thread::sleep_for(10ms);
    }
  }

  void Console(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  int Stop(int signal) {
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  std::string dir_;
  std::string path_;
  pid_t pid_ = -1;
  int stdin_ = -1;
};

TEST_F(Binary, ServesThePathUntilInterrupted) {
  Run({"--path", path_, "--speed", "115200"});
  {
    SimClient client(path_, 115200);
    EXPECT_EQ(client.Ask("AT+CRC=1"), "AT+CRC=1\r\r\nOK\r\n");
    client.SetSpeed(9600);
    client.Write("AT\r");
    EXPECT_EQ(client.ReadFor(300ms), "");
  }
  const int status = Stop(SIGINT);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  struct stat st {};
  EXPECT_NE(::lstat(path_.c_str(), &st), 0);  // removed on the way out
}

TEST_F(Binary, ConsoleInjectsEvents) {
  Run({"--path", path_, "--no-echo", "--console"});
  SimClient client(path_);
  EXPECT_EQ(client.Ask("AT+CNMI=2,1,0,0,0"), "\r\nOK\r\n");
  Console("sms +15550123 hello from the console");
  EXPECT_EQ(client.ReadUntil("+CMTI: \"SM\",1\r\n"), "\r\n+CMTI: \"SM\",1\r\n");
  Console("raw \\r\\nHELLO\\r\\n");
  EXPECT_EQ(client.ReadUntil("HELLO\r\n"), "\r\nHELLO\r\n");
  Console("unplug");
  EXPECT_EQ(client.ReadFor(300ms), "");
  EXPECT_TRUE(client.SawHangUp());
  Console("plug");
  struct stat st {};
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (::lstat(path_.c_str(), &st) != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  SimClient again(path_);
  EXPECT_EQ(again.Ask("AT"), "\r\nOK\r\n");
  Console("quit");
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Binary, ConsoleRegistersTheModemAndSendsUssd) {
  Run({"--path", path_, "--no-echo", "--console", "--registration", "2"});
  SimClient client(path_);
  EXPECT_EQ(client.Ask("AT+CREG=1"), "\r\nOK\r\n");
  EXPECT_EQ(client.Ask("AT+CUSD=1"), "\r\nOK\r\n");
  Console("register home");
  EXPECT_EQ(client.ReadUntil("+CREG: 1\r\n"), "\r\n+CREG: 1\r\n");
  Console("register roaming");
  EXPECT_EQ(client.ReadUntil("+CREG: 5\r\n"), "\r\n+CREG: 5\r\n");
  Console("register nowhere");  // not a status: nothing changes
  Console("ussd 1 Top up now? 1 yes");
  EXPECT_EQ(client.ReadUntil(",15\r\n"), "\r\n+CUSD: 1,\"Top up now? 1 yes\",15\r\n");
  Console("ussd Your bonus has arrived");
  EXPECT_EQ(client.ReadUntil(",15\r\n"), "\r\n+CUSD: 0,\"Your bonus has arrived\",15\r\n");
  EXPECT_EQ(client.Ask("AT+CREG?"), "\r\n+CREG: 1,5\r\n\r\nOK\r\n");
}

TEST_F(Binary, ConsoleDropsANoticeAndSetsTheReports) {
  Run({"--path", path_, "--no-echo", "--console"});
  SimClient client(path_);
  EXPECT_EQ(client.Ask("AT+CNMI=2,1,0,1,0"), "\r\nOK\r\n");
  Console("drop-notice");
  Console("sms +15550123 lost on its way");
  Console("sms +15550123 announced");
  EXPECT_EQ(client.ReadUntil("+CMTI: \"SM\",2\r\n"), "\r\n+CMTI: \"SM\",2\r\n");
  // Reports at once, with TP-ST 0x46 (validity period expired).
  Console("reports 0 0x46");
  std::this_thread::sleep_for(100ms);  // the console line is taken in before the send
  EXPECT_EQ(client.Ask("AT+CMGS=23"), "\r\n> ");
  client.Type("0031000B916407281553F80000AA0AE8329BFD4697D9EC37\x1A");
  EXPECT_EQ(client.ReadAnswer(), "\r\n+CMGS: 0\r\n\r\nOK\r\n");
  const std::string report = client.ReadUntil("46\r\n");
  EXPECT_EQ(report.substr(0, 12), "\r\n+CDS: 25\r\n") << report;
  Console("quit");
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  EXPECT_TRUE(WIFEXITED(status));
}

TEST_F(Binary, BadOptionExitsWithTwo) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    ::execl(VESKGSM_SIM_BINARY, VESKGSM_SIM_BINARY, "--frobnicate", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace vesk::sim::test
