// The gateway's commands run as a user runs them: `veskgsm queue`,
// `messages`, `inbox`, `status` on a store, and `veskgsm serve` as a
// process of its own on simulated modems, stopped with SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tools/gateway/tests/SimPool.h"
#include "tools/simulator/ModemSimulator.h"

extern char** environ;

namespace vesk::gateway {
namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<json> Json() const {
    std::vector<json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) lines.push_back(json::parse(line));
    return lines;
  }
};

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class GatewayCommands : public ::testing::Test {
 protected:
  GatewayCommands() {
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("veskgsm-gateway-cli-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~GatewayCommands() override {
    StopServe(SIGKILL);
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string WriteConfig(const std::string& text) {
    std::ofstream(Path("gateway.toml")) << text;
    return Path("gateway.toml");
  }

  // Runs veskgsm with `args`; waits for it.
  Outcome Tool(std::vector<std::string> args, const std::string& input = "") {
    std::ofstream(Path("stdin")) << input;
    const pid_t pid = Spawn(args, Path("stdout"), Path("stderr"));
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(Path("stdout")), Slurp(Path("stderr"))};
  }

  pid_t Spawn(std::vector<std::string> args, const std::string& out, const std::string& err) {
    args.insert(args.begin(), VESKGSM_BINARY);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, Path("stdin").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  void StartServe(const std::string& config, std::vector<std::string> extra = {}) {
    std::ofstream(Path("stdin")) << "";
    std::vector<std::string> args = {"serve", "--config", config, "--log-level", "debug"};
    args.insert(args.end(), extra.begin(), extra.end());
    serve_ = Spawn(args, Path("serve.out"), Path("serve.err"));
  }
  // Sends `signal` and waits for the gateway; its exit status.
  int StopServe(int signal = SIGTERM, std::chrono::seconds limit = 20s) {
    if (serve_ <= 0) return -1;
    ::kill(serve_, signal);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int raw = 0;
    while (::waitpid(serve_, &raw, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(serve_, SIGKILL);
        ::waitpid(serve_, &raw, 0);
        serve_ = -1;
        return -2;
      }
      std::this_thread::sleep_for(20ms);
    }
    serve_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }

  static bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(100ms);
    }
    return done();
  }

  std::filesystem::path dir_;
  pid_t serve_ = -1;
};

TEST_F(GatewayCommands, QueueThenListAsJson) {
  const std::string config = WriteConfig("[[modem]]\nname = \"left\"\nport = \"/dev/null\"\n");
  Outcome r = Tool({"queue", "--config", config, "--json", "--priority", "3", "+1 555 0123", "hello"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.Json().size(), 1u);
  EXPECT_EQ(r.Json()[0], json::parse(R"({"id":1,"state":"queued","parts":1})"));
  r = Tool({"queue", "--config", config, "--modem", "left", "--not-after", "+1h", "+15550124", "-"},
           std::string(200, 'x') + "\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
  EXPECT_TRUE(std::filesystem::exists(Path("veskgsm.db"))) << "beside the configuration";

  r = Tool({"messages", "--config", config, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = r.Json();
  ASSERT_EQ(lines.size(), 2u);
  for (const char* field : {"id", "to", "text", "state", "attempts", "modem", "parts", "error", "created", "updated"})
    EXPECT_TRUE(lines[0].contains(field)) << field;
  EXPECT_EQ(lines[0]["to"], "+15550123");
  EXPECT_EQ(lines[0]["state"], "queued");
  EXPECT_EQ(lines[0]["priority"], 3);
  EXPECT_TRUE(lines[0]["modem"].is_null());
  EXPECT_EQ(lines[1]["modem"], "left");
  EXPECT_EQ(lines[1]["text"], std::string(200, 'x'));
  EXPECT_EQ(lines[1]["part_count"], 2);
  EXPECT_FALSE(lines[1]["not_after"].is_null());

  r = Tool({"messages", "--config", config, "--id", "2", "--json"});
  EXPECT_EQ(r.Json().size(), 1u);
  r = Tool({"messages", "--config", config, "--id", "9"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no message 9"), std::string::npos);
  r = Tool({"messages", "--config", config, "--state", "sent"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = Tool({"messages", "--config", config, "--state", "lost"});
  EXPECT_EQ(r.status, 2);
  r = Tool({"messages", "--config", config});
  EXPECT_EQ(r.out.substr(0, 32), "#1 queued to +15550123, 0 attemp") << r.out;
}

TEST_F(GatewayCommands, BadMessagesAreRefusedAndNeverStored) {
  const std::string config = WriteConfig("");
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"12ab", "hi"}, "invalid number"},
      {{"+15550123", ""}, "text is empty"},
      {{"+15550123", std::string(153 * 255 + 1, 'x')}, "256 parts"},
      {{"--modem", "nowhere", "+15550123", "hi"}, "no modem named"},
      {{"--not-before", "soon", "+15550123", "hi"}, "is not a time"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"queue", "--config", config};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome r = Tool(args);
    EXPECT_EQ(r.status, 2) << c.reason;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(Path("veskgsm.db"))) << "nothing was stored, not even a store made";
  const Outcome list = Tool({"messages", "--config", config});
  EXPECT_EQ(list.status, 1);
  EXPECT_NE(list.err.find("no store"), std::string::npos) << list.err;
}

TEST_F(GatewayCommands, AConfigurationErrorNamesFileLineAndKeyAndExits2) {
  const std::string config = WriteConfig("[retry]\nmax_attempts = 3\nbackof = 10\n");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"serve", "--config", config},
                                             {"queue", "--config", config, "+15550123", "hi"},
                                             {"messages", "--config", config},
                                             {"inbox", "--config", config},
                                             {"status", "--config", config}}) {
    const Outcome r = Tool(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_NE(r.err.find(config + ":3: retry.backof: unknown key"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(Path("veskgsm.db"))) << "nothing opened";
  WriteConfig("[store]\nurl = \"sqlite://x.db\"\n");
  const Outcome none = Tool({"serve", "--config", config});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("no [[modem]]"), std::string::npos) << none.err;
}

TEST_F(GatewayCommands, AForeignStoreIsRefusedAndLeftAlone) {
  const std::string config =
      WriteConfig("[store]\nurl = \"sqlite://notes.txt\"\n[[modem]]\nname = \"m\"\nport = \"/dev/null\"\n");
  const std::string notes = "my notes, which are not a database\n" + std::string(300, '.');
  std::ofstream(Path("notes.txt")) << notes;
  const Outcome r = Tool({"serve", "--config", config});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("not an SQLite database"), std::string::npos) << r.err;
  EXPECT_EQ(Slurp(Path("notes.txt")), notes);
  EXPECT_EQ(Tool({"queue", "--config", config, "+15550123", "hi"}).status, 1);
  EXPECT_EQ(Slurp(Path("notes.txt")), notes);
}

TEST_F(GatewayCommands, ServeSendsReceivesShowsStatusAndStopsOnSigterm) {
  testing::SimPool pool(2, dir_.string());
  const std::string config = WriteConfig("[gateway]\nname = \"cli\"\n[hooks]\non_received = \"cat >> '" +
                                         Path("hook.jsonl") + "'\"\n" + pool.ModemTables());
  for (int i = 0; i < 6; ++i)
    ASSERT_EQ(Tool({"queue", "--config", config, "+1555012" + std::to_string(i), "cli " + std::to_string(i)}).status,
              0);
  StartServe(config, {"--log", Path("gateway.log")});
  ASSERT_TRUE(WaitUntil(
      [&] {
        return Tool({"messages", "--config", config, "--state", "sent", "--json"}).Json().size() == 6;
      },
      30s))
      << Slurp(Path("gateway.log")) << Slurp(Path("serve.err"));

  sim::IncomingSms sms;
  sms.text = "to the gateway";
  sms.sender = "+15550777";
  pool[1].DeliverSms(sms);
  ASSERT_TRUE(WaitUntil([&] { return !Tool({"inbox", "--config", config, "--json"}).Json().empty(); }, 20s));
  const json entry = Tool({"inbox", "--config", config, "--json"}).Json().at(0);
  for (const char* field : {"id", "from", "text", "smsc", "timestamp", "timezone", "modem", "received", "incomplete"})
    EXPECT_TRUE(entry.contains(field)) << field;
  EXPECT_EQ(entry["from"], "+15550777");
  EXPECT_EQ(entry["text"], "to the gateway");
  EXPECT_EQ(entry["modem"], "m1");
  EXPECT_EQ(entry["timestamp"], "2019-03-14T15:09:26");
  EXPECT_EQ(entry["timezone"], 8);
  EXPECT_EQ(entry["incomplete"], false);
  EXPECT_TRUE(Tool({"inbox", "--config", config, "--after", std::to_string(entry["id"].get<int>())}).out.empty());
  ASSERT_TRUE(WaitUntil([&] { return !Slurp(Path("hook.jsonl")).empty(); }, 20s));
  EXPECT_EQ(json::parse(Slurp(Path("hook.jsonl")))["text"], "to the gateway");

  const Outcome status = Tool({"status", "--config", config, "--json"});
  ASSERT_EQ(status.status, 0) << status.err;
  const json s = status.Json().at(0);
  EXPECT_EQ(s["gateways"][0]["name"], "cli");
  EXPECT_EQ(s["gateways"][0]["running"], true);
  ASSERT_EQ(s["modems"].size(), 2u);
  EXPECT_EQ(s["modems"][0]["connected"], true);
  EXPECT_EQ(s["modems"][0]["imei"], testing::SimPool::Imei(0));
  EXPECT_EQ(s["queue"]["sent"], 6);
  EXPECT_EQ(s["queue"]["queued"], 0);

  // SIGHUP: a rotated log is opened afresh.
  std::filesystem::rename(Path("gateway.log"), Path("gateway.log.1"));
  ::kill(serve_, SIGHUP);
  ASSERT_TRUE(WaitUntil([&] { return Slurp(Path("gateway.log")).find("log reopened") != std::string::npos; }, 10s));

  EXPECT_EQ(StopServe(SIGTERM), 0);
  const std::string log = Slurp(Path("gateway.log"));
  EXPECT_NE(log.find("stopped"), std::string::npos) << log;
  const json after = Tool({"status", "--config", config, "--json"}).Json().at(0);
  EXPECT_EQ(after["gateways"][0]["running"], false);
  EXPECT_EQ(after["modems"][0]["connected"], false);
  EXPECT_NE(Tool({"status", "--config", config}).out.find("modem m0: not connected"), std::string::npos);
}

TEST_F(GatewayCommands, ASecondGatewayOfTheSameNameIsRefused) {
  testing::SimPool pool(1, dir_.string());
  const std::string config = WriteConfig("[gateway]\nname = \"one\"\n" + pool.ModemTables());
  StartServe(config);
  ASSERT_TRUE(WaitUntil([&] { return Slurp(Path("serve.err")).find("connected") != std::string::npos; }, 20s));
  const Outcome second = Tool({"serve", "--config", config});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("runs on this store already"), std::string::npos) << second.err;
  EXPECT_EQ(StopServe(SIGINT), 0);
}

}  // namespace
}  // namespace vesk::gateway
