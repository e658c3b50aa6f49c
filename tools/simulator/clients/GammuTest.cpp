// A widely used AT client, the Debian `gammu` command, against the
// simulator: it identifies the modem, sends through it and lists its
// messages. The client runs as a separate process on the pseudo-terminal.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/simulator/ModemSimulator.h"

namespace vesk::sim {
namespace {

namespace fs = std::filesystem;

class Gammu : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("veskgsm-gammu-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    std::ofstream(dir_ / "gammurc") << "[gammu]\n"
                                    << "device = " << modem_.Path() << "\n"
                                    << "connection = at115200\n"
                                    << "logformat = textall\n"
                                    << "logfile = " << (dir_ / "gammu.log").string() << "\n";
  }
  void TearDown() override {
    if (HasFailure()) {
      std::ifstream log(dir_ / "gammu.log");
      std::stringstream text;
      text << log.rdbuf();
      std::string tail = text.str();
      if (tail.size() > 6000) tail = tail.substr(tail.size() - 6000);
      std::cerr << "gammu's log, last part:\n" << tail << "\nsimulator transcript:\n" << modem_.TranscriptText();
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Runs gammu with `args`; its standard output and error together.
  int Run(const std::string& args, std::string& output) {
    const fs::path out = dir_ / "out";
    const std::string command = std::string("timeout 60 ") + GAMMU_BINARY + " -c '" + (dir_ / "gammurc").string() +
                                "' " + args + " </dev/null >'" + out.string() + "' 2>&1";
    const int raw = std::system(command.c_str());
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    output = text.str();
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  ModemSimulator modem_;
  fs::path dir_;
};

TEST_F(Gammu, IdentifiesTheModem) {
  std::string out;
  ASSERT_EQ(Run("identify", out), 0) << out;
  EXPECT_NE(out.find("VeskSoft"), std::string::npos) << out;
  EXPECT_NE(out.find("VSIM GSM"), std::string::npos) << out;
  EXPECT_NE(out.find("490154203237518"), std::string::npos) << out;
  EXPECT_NE(out.find("001010123456789"), std::string::npos) << out;
}

TEST_F(Gammu, SendsAMessage) {
  std::string out;
  ASSERT_EQ(Run("sendsms TEXT +15550100 -text 'hello from the client'", out), 0) << out;
  EXPECT_NE(out.find("OK, message reference=0"), std::string::npos) << out;
  const auto sent = modem_.Submitted();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].destination, "+15550100");
  EXPECT_EQ(sent[0].text, "hello from the client");
}

TEST_F(Gammu, ListsTheStoredMessages) {
  IncomingSms one;
  one.text = "first stored message";
  one.sender = "+15550123";
  one.announce = false;
  modem_.DeliverSms(one);
  IncomingSms two;
  two.text = "second one, from elsewhere";
  two.sender = "+15550777";
  two.announce = false;
  modem_.DeliverSms(two);
  std::string out;
  ASSERT_EQ(Run("getallsms", out), 0) << out;
  EXPECT_NE(out.find("first stored message"), std::string::npos) << out;
  EXPECT_NE(out.find("\"+15550123\""), std::string::npos) << out;
  EXPECT_NE(out.find("second one, from elsewhere"), std::string::npos) << out;
  EXPECT_NE(out.find("\"+15550777\""), std::string::npos) << out;
  EXPECT_NE(out.find("2 SMS parts in 2 SMS sequences"), std::string::npos) << out;
}

}  // namespace
}  // namespace vesk::sim
