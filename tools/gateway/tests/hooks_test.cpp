// Hooks: the program run with the event's JSON and fields, its time-out
// (with its children), retries, and the queue they run from.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "tools/gateway/Hooks.h"
#include "tools/gateway/tests/TestSupport.h"

namespace vesk::gateway {
namespace {

using testing::TempDir;
using testing::TestClock;

HookCommand Sh(const std::string& line) { return {{"/bin/sh", "-c", line}}; }

TEST(RunProgram, TakesItsInputAndEnvironment) {
  TempDir dir;
  const HookRun run = RunProgram(
      Sh("cat > '" + dir.Path("in") + "'; printf %s \"$VESKGSM_EVENT/$VESKGSM_ID\" > '" + dir.Path("env") + "'"),
      "{\"id\":7}\n", {{"VESKGSM_EVENT", "sent"}, {"VESKGSM_ID", "7"}}, 5000, -1);
  EXPECT_TRUE(run.ok) << run.error;
  EXPECT_EQ(dir.Read("in"), "{\"id\":7}\n");
  EXPECT_EQ(dir.Read("env"), "sent/7");
}

TEST(RunProgram, AFailureSaysHow) {
  HookRun run = RunProgram(Sh("exit 3"), "", {}, 5000, -1);
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.error, "exit status 3");
  run = RunProgram({{"/nonexistent/hook"}}, "", {}, 5000, -1);
  EXPECT_FALSE(run.ok);
  EXPECT_NE(run.error.find("cannot start /nonexistent/hook"), std::string::npos) << run.error;
  run = RunProgram(Sh("kill -9 $$"), "", {}, 5000, -1);
  EXPECT_EQ(run.error, "killed by signal 9");
}

TEST(RunProgram, AHangingHookIsKilledWithItsChildren) {
  TempDir dir;
  const auto start = std::chrono::steady_clock::now();
  // The shell starts a child of its own and waits: both must go.
  const HookRun run = RunProgram(Sh("sleep 30 & echo $! > '" + dir.Path("child") + "'; wait"), "", {}, 300, -1);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(run.ok);
  EXPECT_TRUE(run.timedOut);
  EXPECT_NE(run.error.find("time-out"), std::string::npos) << run.error;
  EXPECT_LT(took, std::chrono::seconds(5));
  const int child = std::atoi(dir.Read("child").c_str());
  ASSERT_GT(child, 0);
  // Gone, or a zombie waiting for init to reap it.
  auto state = [&] {
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    std::string pid, name, st;
    stat >> pid >> name >> st;
    return st;
  };
  bool gone = false;
  for (int i = 0; i < 100 && !gone; ++i) {
    const std::string st = state();
    gone = st.empty() || st == "Z" || st == "X";
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(gone) << "the hook's child survived";
}

TEST(RunProgram, AHookThatIgnoresItsInputIsNotWaitedFor) {
  const HookRun run = RunProgram(Sh("exit 0"), std::string(1 << 20, 'x'), {}, 5000, -1);
  EXPECT_TRUE(run.ok) << run.error;
}

TEST(RunProgram, StopKillsItAfterTheGrace) {
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
  });
  const HookRun run = RunProgram(Sh("sleep 30"), "", {}, 60000, -1, &stop, 100);
  stopper.join();
  EXPECT_FALSE(run.ok);
  EXPECT_FALSE(run.timedOut);
  EXPECT_NE(run.error.find("gateway stopped"), std::string::npos);
}

TEST(RunProgram, TheGatewaysDescriptorsAreNotInherited) {
  TempDir dir;
  std::ofstream keep(dir.Path("open.txt"));  // one more descriptor of ours
  const HookRun run = RunProgram(Sh("ls /proc/self/fd > '" + dir.Path("fds") + "'"), "", {}, 5000, -1);
  ASSERT_TRUE(run.ok);
  // 0, 1, 2 and the one ls reads its listing through.
  std::istringstream fds(dir.Read("fds"));
  int count = 0;
  for (std::string line; std::getline(fds, line);) ++count;
  EXPECT_LE(count, 4) << dir.Read("fds");
}

class HookQueue : public ::testing::Test {
 protected:
  HookQueue() {
    StoreOptions o;
    o.path = dir.Path("store.db");
    store = OpenSqliteStore(o);
  }
  HookRunner Runner(const HookSettings& settings) {
    store->SetHookedEvents(HookRunner::HookedEvents(settings));
    return HookRunner(*store, settings, log, clock.Fn());
  }
  std::int64_t Receive(const std::string& text) {
    IncomingMessage m;
    m.modem = "m1";
    m.imei = "1";
    m.sender = "+15550123";
    m.text = text;
    m.received = clock();
    return store->AddMessage(m).id;
  }

  TempDir dir;
  TestClock clock;
  Logger log{LogLevel::Error, dir.Path("log")};
  std::unique_ptr<Store> store;
};

TEST_F(HookQueue, EachEventRunsItsHookWithTheRecordAsJson) {
  HookSettings s;
  s.onReceived = Sh("cat >> '" + dir.Path("received") + "'");
  s.onSent = Sh("cat >> '" + dir.Path("sent") + "'");
  HookRunner runner = Runner(s);
  const std::int64_t inbox = Receive("hello");
  NewMessage m;
  m.to = "+15550199";
  m.text = "out";
  const std::int64_t out = store->Queue(m, clock());
  ClaimRequest r;
  r.modem = "m1";
  r.claimer = "gw";
  r.now = clock();
  store->Claim(r);
  store->RecordSent(out, "gw", {12}, clock());
  EXPECT_EQ(runner.RunDue(), 2);
  const nlohmann::json received = nlohmann::json::parse(dir.Read("received"));
  EXPECT_EQ(received["id"], inbox);
  EXPECT_EQ(received["from"], "+15550123");
  EXPECT_EQ(received["text"], "hello");
  EXPECT_EQ(received["event"], "received");
  const nlohmann::json sent = nlohmann::json::parse(dir.Read("sent"));
  EXPECT_EQ(sent["id"], out);
  EXPECT_EQ(sent["state"], "sent");
  EXPECT_EQ(sent["parts"][0]["reference"], 12);
  EXPECT_EQ(runner.RunDue(), 0) << "each once";
}

TEST_F(HookQueue, AFailingHookIsRetriedThenGivenUp) {
  HookSettings s;
  s.onReceived = Sh("echo x >> '" + dir.Path("tries") + "'; exit 1");
  s.retries = 2;
  s.retryDelaySeconds = 10;
  HookRunner runner = Runner(s);
  Receive("hello");
  EXPECT_EQ(runner.RunDue(), 1);
  EXPECT_EQ(runner.RunDue(), 0) << "not before its retry";
  clock.Advance(10000);
  EXPECT_EQ(runner.RunDue(), 1);
  clock.Advance(10000);
  EXPECT_EQ(runner.RunDue(), 1);
  clock.Advance(100000);
  EXPECT_EQ(runner.RunDue(), 0) << "given up after 1 + 2 tries";
  EXPECT_EQ(dir.Read("tries"), "x\nx\nx\n");
  EXPECT_NE(dir.Read("log").find("given up"), std::string::npos);
}

TEST_F(HookQueue, EventsWithoutAHookWaitForNothing) {
  HookSettings s;
  s.onSent = Sh("true");
  HookRunner runner = Runner(s);
  Receive("nobody listens");
  EXPECT_FALSE(store->NextHookDue());
  EXPECT_EQ(runner.RunDue(), 0);
}

TEST_F(HookQueue, TheRunnerThreadRunsJobsAsTheyCome) {
  HookSettings s;
  s.onReceived = Sh("cat >> '" + dir.Path("received") + "'");
  HookRunner runner = Runner(s);
  runner.Start();
  Receive("one");
  runner.Wake();
  Receive("two");
  runner.Wake();
  for (int i = 0; i < 250 && dir.Read("received").find("two") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  runner.Stop();
  EXPECT_NE(dir.Read("received").find("one"), std::string::npos);
  EXPECT_NE(dir.Read("received").find("two"), std::string::npos);
}

}  // namespace
}  // namespace vesk::gateway
