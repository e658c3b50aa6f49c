// The status page in a real browser: Debian's Chromium, headless, loads it
// from a gateway on two simulated modems, and the test reads the page as
// the browser rendered it (its DOM after the script ran): the token asked
// for, then taken from the address and kept, the modems' names and states,
// the queue. A screenshot is kept in the build folder
// (status-page.png) for a person to look at.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "component/Framework.h"
#include "tools/gateway/Gateway.h"
#include "tools/gateway/tests/SimPool.h"
#include "tools/gateway/tests/TestSupport.h"

#ifndef VESK_TEST_OUTPUT_DIR
#define VESK_TEST_OUTPUT_DIR "."
#endif

namespace vesk::gateway {
namespace {

using namespace std::chrono_literals;
using testing::SimPool;
using testing::TempDir;

const char kToken[] = "page-token-0123456789";
const char kChromium[] = "/usr/bin/chromium";

// Runs Chromium headless on `url` with `extra` arguments; its standard
// output (the DOM for --dump-dom). Killed after 90 s.
std::string Chromium(const std::string& profile, const std::vector<std::string>& extra, const std::string& url,
                     const std::string& outputFile) {
  std::vector<std::string> args = {kChromium,
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--disable-quic",
                                   "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--disable-extensions",
                                   "--disable-dev-shm-usage",
                                   "--user-data-dir=" + profile};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(url);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open((outputFile + ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::setpgid(0, 0);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(kChromium, argv.data());
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + 90s;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  ::kill(-pid, SIGKILL);  // helpers it left behind
  std::ifstream in(outputFile);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class StatusPageBrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kChromium, X_OK) != 0)
      GTEST_SKIP() << kChromium << " is not installed (make test installs Debian's chromium package)";
    SetClock(std::make_shared<ScaledClock>(5));
    pool = std::make_unique<SimPool>(2, dir.Root().string());
    const std::string text = std::string("[gateway]\nname = \"page\"\n[http]\nlisten = \"127.0.0.1:0\"\ntoken = \"") +
                             kToken + "\"\n\n" + pool->ModemTables();
    GatewayOptions o;
    o.settings = ParseConfig(text, dir.Write("gateway.toml", text));
    o.logFile = dir.Path("gateway.log");
    o.idlePoll = 50;
    o.httpPort = 0;
    gateway = std::make_unique<Gateway>(std::move(o));
    gateway->Start();
    // Both modems up, a message sent and one waiting in the future.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    auto connected = [&] {
      int n = 0;
      for (const ModemStatus& m : gateway->GetStore().ListModems()) n += m.connected && !m.imei.empty();
      return n;
    };
    while (connected() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    ASSERT_EQ(connected(), 2) << dir.Read("gateway.log");
    NewMessage now, later;
    now.to = later.to = "+15550123";
    now.text = "sent at once";
    later.text = "sent tomorrow";
    later.notBefore = SystemMillis() + 86400000;
    const std::int64_t id = gateway->GetStore().Queue(now, SystemMillis());
    gateway->GetStore().Queue(later, SystemMillis());
    gateway->WakeWorkers();
    while (gateway->GetStore().GetMessage(id)->state != MessageState::Sent &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(20ms);
    base = "http://127.0.0.1:" + std::to_string(gateway->HttpPort()) + "/";
  }
  void TearDown() override {
    gateway.reset();
    pool.reset();
    SetClock(nullptr);
  }

  std::string Dom(const std::string& url) {
    return Chromium(dir.Path("profile-" + std::to_string(++runs)), {"--virtual-time-budget=8000", "--dump-dom"}, url,
                    dir.Path("dom.html"));
  }

  TempDir dir;
  std::unique_ptr<SimPool> pool;
  std::unique_ptr<Gateway> gateway;
  std::string base;
  int runs = 0;
};

TEST_F(StatusPageBrowser, AsksForTheTokenFirst) {
  const std::string dom = Dom(base);
  EXPECT_NE(dom.find("data-state=\"login\""), std::string::npos) << dom.substr(0, 3000);
  EXPECT_NE(dom.find("<form id=\"login\">"), std::string::npos) << "the form is shown";
  EXPECT_EQ(dom.find("data-modem="), std::string::npos) << "nothing of the gateway without the token";
}

TEST_F(StatusPageBrowser, AWrongTokenIsSaidToBeWrong) {
  const std::string dom = Dom(base + "#token=not-the-token-at-all");
  EXPECT_NE(dom.find("data-state=\"login\""), std::string::npos) << dom.substr(0, 3000);
  EXPECT_NE(dom.find("that token is not this gateway's"), std::string::npos);
}

TEST_F(StatusPageBrowser, ShowsTheModemsQueueAndChart) {
  const std::string dom = Dom(base + "#token=" + kToken);
  ASSERT_NE(dom.find("data-state=\"shown\""), std::string::npos) << dom.substr(0, 4000);
  EXPECT_NE(dom.find("<form id=\"login\" hidden=\"\">"), std::string::npos) << "the form is put away";
  for (const char* modem : {"m0", "m1"}) {
    const std::size_t row = dom.find(std::string("<tr data-modem=\"") + modem + "\">");
    ASSERT_NE(row, std::string::npos) << modem;
    const std::string cells = dom.substr(row, dom.find("</tr>", row) - row);
    EXPECT_NE(cells.find(">connected<"), std::string::npos) << cells;
    EXPECT_NE(cells.find(">home<"), std::string::npos) << "registration: " << cells;
    EXPECT_NE(cells.find("class=\"badge ok\""), std::string::npos) << "health: " << cells;
  }
  EXPECT_NE(dom.find("<li data-state=\"sent\">sent <b>1</b></li>"), std::string::npos) << "the queue by state";
  EXPECT_NE(dom.find("<li data-state=\"queued\">queued <b>1</b></li>"), std::string::npos);
  EXPECT_NE(dom.find("<rect"), std::string::npos) << "the last hour's chart has a bar";
  EXPECT_NE(dom.find("page</span>"), std::string::npos) << "the gateway's name";
  EXPECT_EQ(dom.find("#token="), std::string::npos) << "the token left the address";
  // A picture for a person, in the build folder.
  const std::string shot = std::string(VESK_TEST_OUTPUT_DIR) + "/status-page.png";
  std::filesystem::remove(shot);
  Chromium(dir.Path("profile-shot"),
           {"--virtual-time-budget=8000", "--window-size=1280,900", "--hide-scrollbars", "--screenshot=" + shot},
           base + "#token=" + kToken, dir.Path("shot.out"));
  std::ifstream png(shot, std::ios::binary);
  char signature[8] = {};
  png.read(signature, 8);
  EXPECT_EQ(std::string(signature, 8), "\x89PNG\r\n\x1a\n") << "no screenshot at " << shot;
  EXPECT_GT(std::filesystem::exists(shot) ? std::filesystem::file_size(shot) : 0, 10000u);
}

}  // namespace
}  // namespace vesk::gateway
