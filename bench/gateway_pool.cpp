// Messages per minute a pool of modems sends through the gateway, against
// what the modems do by themselves. Eight simulated modems, each paced
// like a 115200 bit/s line, sends prompt-driven (wait_for_prompt).
//
//  1. Each modem's own limit: the component alone on that modem, sending
//     one message after another (SendSMSAsPDU, WaitForPrompt), no gateway.
//  2. The pool unlimited: `veskgsm serve` (a child process) on the eight,
//     the whole batch queued at once; messages per minute from the first
//     send to the last, against the sum of the eight limits of 1.
//  3. The pool at a set rate: every modem with send_rate R; messages sent
//     in a one-minute window against 8 R.
// Target: the pool at least 90% of the sum of the modems' own limits.
// The gateway's processor time comes from its threads' scheduler counters
// (/proc/<pid>/task/*/schedstat).
//
//   bench_gateway_pool [--modems 8] [--per-modem 40] [--rate 120] [--window 60]
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "component/VeskGSM.h"
#include "tools/gateway/Store.h"
#include "tools/gateway/tests/SimPool.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
using vesk::gateway::Millis;
using vesk::gateway::testing::SimPool;

constexpr unsigned kLine = 115200;

Millis Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Processor time of every thread of a process, in seconds.
double ProcessorSeconds(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  double total = 0;
  DIR* dir = ::opendir(tasks.c_str());
  if (!dir) return 0;
  while (dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream stat(tasks + "/" + e->d_name + "/schedstat");
    unsigned long long ns = 0;
    if (stat >> ns) total += static_cast<double>(ns) / 1e9;
  }
  ::closedir(dir);
  return total;
}

// 1: the component alone, `count` messages one after another.
double OwnLimit(vesk::sim::ModemSimulator& modem, int count) {
  vesk::TVeskGSM gsm;
  gsm.SetCustomPortName(modem.Path());
  gsm.SetCommPort(vesk::spCustom);
  gsm.SetBaudRate(vesk::br115200);
  gsm.SetDelay(100);
  gsm.SetWaitForPrompt(true);
  if (!gsm.Open(true)) return 0;
  gsm.ExecuteATCommand("ATE0", '\r');
  gsm.ExecuteATCommand("AT+CMGF=0", '\r');
  const auto start = Steady::now();
  int sent = 0;
  for (int i = 0; i < count; ++i)
    if (gsm.SendSMSAsPDU("+1555060" + std::to_string(1000 + i), "",
                         u"Alone on the modem, message " + vesk::AnsiToWide(std::to_string(i))))
      ++sent;
  const double minutes = std::chrono::duration<double>(Steady::now() - start).count() / 60;
  gsm.Close();
  return sent / minutes;
}

struct Serve {
  pid_t pid = -1;
  Serve(const std::string& config, const std::string& log) {
    std::vector<std::string> args = {VESKGSM_BINARY, "serve", "--config", config, "--log", log, "--log-level", "warn"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  }
  ~Serve() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
};

int Sent(vesk::gateway::Store& store) {
  const auto counts = store.CountByState();
  return counts.count("sent") ? counts.at("sent") : 0;
}

struct PoolRun {
  double perMinute = 0;
  double processorSeconds = 0;
  int sent = 0;
  double seconds = 0;
};

// 2 and 3: the gateway on the pool. `rate` 0: unlimited, all `total`
// messages timed; otherwise the messages sent in `window` seconds after
// the first.
PoolRun RunPool(const std::filesystem::path& dir, SimPool& pool, int rate, int total, int window) {
  std::filesystem::remove_all(dir / "store");
  std::filesystem::create_directories(dir / "store");
  const std::string config = (dir / "store" / "gateway.toml").string();
  std::ofstream(config) << "[gateway]\nname = \"bench\"\n"
                        << pool.ModemTables("send_rate = " + std::to_string(rate) + "\n");
  vesk::gateway::StoreOptions so;
  so.path = (dir / "store" / "veskgsm.db").string();
  auto store = vesk::gateway::OpenSqliteStore(so);
  Serve serve(config, (dir / "store" / "gateway.log").string());
  // Every modem connected before the clock starts.
  for (int i = 0; i < 300; ++i) {
    int connected = 0;
    for (const auto& m : store->ListModems()) connected += m.connected;
    if (connected == pool.Size()) break;
    std::this_thread::sleep_for(100ms);
  }
  vesk::gateway::NewMessage m;
  m.to = "+15550123";
  for (int i = 0; i < total; ++i) {
    m.text = "From the pool, message " + std::to_string(i);
    store->Queue(m, Now());
  }
  while (Sent(*store) == 0) std::this_thread::sleep_for(2ms);
  const auto start = Steady::now();
  const double cpuStart = ProcessorSeconds(serve.pid);
  PoolRun run;
  if (rate == 0) {
    while (Sent(*store) < total) std::this_thread::sleep_for(5ms);
  } else {
    std::this_thread::sleep_for(std::chrono::seconds(window));
  }
  run.sent = Sent(*store) - 1;  // the first one started the clock
  run.seconds = std::chrono::duration<double>(Steady::now() - start).count();
  run.processorSeconds = ProcessorSeconds(serve.pid) - cpuStart;
  run.perMinute = run.sent / (run.seconds / 60);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  int modems = 8, perModem = 40, rate = 120, window = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const int v = std::atoi(argv[i + 1]);
    if (a == "--modems") modems = v;
    if (a == "--per-modem") perModem = v;
    if (a == "--rate") rate = v;
    if (a == "--window") window = v;
  }
  std::signal(SIGPIPE, SIG_IGN);
  const std::filesystem::path dir = std::filesystem::current_path() / "bench-gateway-pool";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  SimPool pool(modems, dir.string(), kLine);

  std::printf("%d simulated modems paced at %u bit/s, prompt-driven sends\n", modems, kLine);
  double sum = 0;
  for (int i = 0; i < modems; ++i) {
    const double own = OwnLimit(pool[i], perModem);
    std::printf("  modem %d alone: %.0f messages/minute\n", i, own);
    sum += own;
  }
  std::printf("sum of the modems' own limits: %.0f messages/minute\n", sum);

  const PoolRun unlimited = RunPool(dir, pool, 0, modems * perModem, window);
  std::printf("pool, no send_rate: %d messages in %.1f s = %.0f messages/minute, %.0f%% of the sum; "
              "gateway processor time %.2f s (%.2f ms a message)\n",
              unlimited.sent, unlimited.seconds, unlimited.perMinute, 100 * unlimited.perMinute / sum,
              unlimited.processorSeconds, 1000 * unlimited.processorSeconds / unlimited.sent);

  if (rate > 0) {
    const PoolRun paced = RunPool(dir, pool, rate, modems * rate * (window + 30) / 60, window);
    const double limit = static_cast<double>(modems) * rate;
    std::printf("pool, send_rate %d each: %d messages in %.1f s = %.0f messages/minute, %.1f%% of %.0f; "
                "gateway processor time %.2f s\n",
                rate, paced.sent, paced.seconds, paced.perMinute, 100 * paced.perMinute / limit, limit,
                paced.processorSeconds);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
