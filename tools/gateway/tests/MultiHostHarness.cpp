// Several gateways, one queue: three `veskgsm serve` processes with two
// simulated modems each share one PostgreSQL database (a throw-away server
// of the harness's own), send the messages queued in it and take in what
// their modems receive. Mid-run one of them is killed with SIGKILL while
// it holds a claim; after its lease the others settle its claims. Checked
// against the simulators' records:
//   - every queued message was written to a modem at most once, and every
//     one `sent` exactly once;
//   - the dead gateway's claims that had not reached its modem were sent
//     by the others; one whose body may have gone out is `uncertain`;
//   - every message the modems received is in the inbox exactly once;
//   - any gateway's API shows every gateway's modems, the dead one's as
//     not connected.
//
//   gateway_multihost_harness --binary build/tools/cli/veskgsm [--messages 600]
//       [--incoming 60] [--lease 3] [--seed N] [--keep DIR]
//
// Exit status 0 when every check holds, 1 with the failures listed, 77
// when no PostgreSQL server is installed here (ctest counts it skipped).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/gateway/Store.h"
#include "tools/gateway/tests/PgServer.h"
#include "tools/gateway/tests/SimPool.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
using vesk::gateway::testing::PgServer;
using vesk::gateway::testing::SimPool;

constexpr int kHosts = 3, kModemsPerHost = 2;
const char* const kNames[kHosts] = {"host-a", "host-b", "host-c"};
constexpr int kVictim = 1;

struct Options {
  std::string binary;
  int messages = 600;
  int incoming = 60;
  double lease = 3;
  unsigned seed = 0;
  std::string keep;
};

std::string OutText(int i) {
  std::string text = "multihost out " + std::to_string(i) + ":";
  if (i % 10 == 7) text += std::string(170, static_cast<char>('a' + i % 26));  // two parts
  return text;
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& errFile) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int Usage(const char* why) {
  std::cerr << "gateway_multihost_harness: " << why
            << "\nusage: gateway_multihost_harness --binary VESKGSM [--messages N] [--incoming N] [--lease S] "
               "[--seed N] [--keep DIR]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  o.seed = static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return Usage(("a value is missing after " + a).c_str());
    const std::string v = argv[++i];
    if (a == "--binary")
      o.binary = v;
    else if (a == "--messages")
      o.messages = std::atoi(v.c_str());
    else if (a == "--incoming")
      o.incoming = std::atoi(v.c_str());
    else if (a == "--lease")
      o.lease = std::atof(v.c_str());
    else if (a == "--seed")
      o.seed = static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 10));
    else if (a == "--keep")
      o.keep = v;
    else
      return Usage(("unknown option " + a).c_str());
  }
  if (o.binary.empty()) return Usage("--binary is required");
  if (o.messages < 10 || o.incoming < 0 || o.lease <= 0) return Usage("bad numbers");
  std::signal(SIGPIPE, SIG_IGN);
  const std::string missing = PgServer::Missing();
  if (!missing.empty()) {
    std::cout << "skipped: " << missing << std::endl;
    return 77;
  }

  const auto begun = Steady::now();
  std::mt19937 random(o.seed);
  namespace fs = std::filesystem;
  const fs::path dir = o.keep.empty() ? fs::temp_directory_path() / ("veskgsm-multihost-" + std::to_string(::getpid()))
                                      : fs::path(o.keep);
  fs::remove_all(dir);
  fs::create_directories(dir);
  // The database server's socket lives in a short folder of its own.
  const std::string pgFolder = (fs::temp_directory_path() / ("veskgsm-mh-pg-" + std::to_string(::getpid()))).string();
  std::string why;
  if (!PgServer::Start(pgFolder, why)) {
    std::cout << "FAILED: cannot start PostgreSQL: " << why << std::endl;
    return 1;
  }
  struct StopServer {
    std::string folder;
    ~StopServer() {
      PgServer::Stop(folder);
      std::error_code ec;
      fs::remove_all(folder, ec);
    }
  } stopServer{pgFolder};
  PgServer::Query(
      "host=" + pgFolder + " port=" +
          [&] {
            std::ifstream in(pgFolder + "/port");
            std::string p;
            in >> p;
            return p;
          }() +
          " user=veskgsm dbname=postgres",
      "CREATE DATABASE multihost");
  const std::string conninfo = [&] {
    std::ifstream in(pgFolder + "/port");
    std::string p;
    in >> p;
    return "host=" + pgFolder + " port=" + p + " user=veskgsm dbname=multihost";
  }();
  const std::string url = PgServer::Url(pgFolder, "multihost");
  std::cout << "multihost harness: " << kHosts << " gateways x " << kModemsPerHost << " modems, " << o.messages
            << " messages out, " << o.incoming << " in, lease " << o.lease << " s, seed " << o.seed << ", folder "
            << dir.string() << std::endl;

  // The queue, before any gateway starts.
  std::unique_ptr<vesk::gateway::Store> store = vesk::gateway::OpenPostgresStore(conninfo, {}, 2);
  std::map<std::int64_t, std::string> queued;
  const auto nowMs = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  for (int i = 0; i < o.messages; ++i) {
    vesk::gateway::NewMessage m;
    m.to = "+1555060" + std::to_string(1000 + i);
    m.text = OutText(i);
    m.parts = m.text.size() > 160 ? 2 : 1;
    queued[store->Queue(m, nowMs())] = m.text;
  }

  SimPool pool(kHosts * kModemsPerHost, dir.string());
  std::vector<int> ports;
  std::vector<pid_t> pids(kHosts, -1);
  for (int h = 0; h < kHosts; ++h) {
    ports.push_back(FreePort());
    std::string modems;
    for (int m = 0; m < kModemsPerHost; ++m) {
      const int i = h * kModemsPerHost + m;
      modems += "[[modem]]\nname = \"" + SimPool::Name(i) + "\"\nport = \"" + pool[i].Path() + "\"\nreopen = 0.2\n\n";
    }
    char lease[32];
    std::snprintf(lease, sizeof lease, "%.3f", o.lease);
    std::ofstream(dir / (std::string(kNames[h]) + ".toml"))
        << "[gateway]\nname = \"" << kNames[h] << "\"\n[store]\nurl = \"" << url << "\"\nlease = " << lease
        << "\n[retry]\nbackoff = 0.5\nmax_attempts = 50\n[http]\nlisten = \"127.0.0.1:" << ports.back()
        << "\"\ntoken = \"multihost-token-0123456789\"\n\n"
        << modems;
  }
  auto start = [&](int h) {
    pids[static_cast<std::size_t>(h)] =
        Spawn({o.binary, "serve", "--config", (dir / (std::string(kNames[h]) + ".toml")).string(), "--log",
               (dir / (std::string(kNames[h]) + ".log")).string()},
              (dir / (std::string(kNames[h]) + ".stderr")).string());
  };
  for (int h = 0; h < kHosts; ++h) start(h);

  // The network: messages arrive on every modem while the queue drains.
  std::thread network([&] {
    for (int i = 0; i < o.incoming; ++i) {
      vesk::sim::IncomingSms sms;
      sms.text = "multihost in " + std::to_string(i);
      sms.sender = "+1555070" + std::to_string(1000 + i);
      pool[i % pool.Size()].DeliverSms(sms);
      std::this_thread::sleep_for(30ms);
    }
  });

  std::vector<std::string> failures;
  auto fail = [&](const std::string& what) { failures.push_back(what); };
  auto count = [&](const char* state) {
    const auto c = store->CountByState();
    auto it = c.find(state);
    return it == c.end() ? 0 : it->second;
  };

  // The kill: once a fifth of the queue went out, catch the victim holding a
  // claim not yet at its modem (stopped with SIGSTOP to look, let go if the
  // moment passed), then SIGKILL it.
  const auto limit = Steady::now() + 120s;
  while (count("sent") < o.messages / 5 && Steady::now() < limit) std::this_thread::sleep_for(20ms);
  const std::string victim = kNames[kVictim];
  const pid_t victimPid = pids[kVictim];
  std::map<std::int64_t, int> held;  // id -> phase at the kill
  int tries = 0;
  bool killed = false;
  while (!killed && Steady::now() < limit) {
    const std::string idle = PgServer::Query(
        conninfo, "SELECT id FROM outbox WHERE state = 'sending' AND phase = 0 AND claimed_by = '" + victim + "'");
    if (idle.empty() || idle.rfind("error", 0) == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200 + random() % 800));
      continue;
    }
    ++tries;
    ::kill(victimPid, SIGSTOP);
    std::this_thread::sleep_for(30ms);  // a commit in flight lands
    held.clear();
    std::istringstream rows(PgServer::Query(
        conninfo, "SELECT id, phase FROM outbox WHERE state = 'sending' AND claimed_by = '" + victim + "'"));
    bool idleHeld = false;
    for (std::string row; std::getline(rows, row);) {
      const std::size_t bar = row.find('|');
      if (bar == std::string::npos) continue;
      const int phase = std::atoi(row.c_str() + bar + 1);
      held[std::stoll(row.substr(0, bar))] = phase;
      idleHeld = idleHeld || phase == 0;
    }
    if (idleHeld || tries >= 200) {
      ::kill(victimPid, SIGKILL);
      int status = 0;
      ::waitpid(victimPid, &status, 0);
      pids[kVictim] = -1;
      killed = true;
    } else {
      ::kill(victimPid, SIGCONT);
    }
  }
  const auto killedAt = Steady::now();
  int idleAtKill = 0;
  for (const auto& [id, phase] : held) idleAtKill += phase == 0;
  std::cout << "killed " << victim << " after " << tries << " look(s), holding " << held.size() << " claim(s), "
            << idleAtKill << " not yet at its modem" << std::endl;
  if (!killed) fail("the victim was never caught holding a claim");
  if (idleAtKill == 0) fail("the victim held no claim that had not reached its modem: nothing to take over");

  // The others settle everything.
  network.join();
  auto settled = [&] {
    if (count("queued") + count("sending") > 0) return false;
    if (static_cast<int>(store->ListInbox(0, 1000000).size()) < o.incoming) return false;
    for (int m = 0; m < pool.Size(); ++m)
      if (m / kModemsPerHost != kVictim && !pool[m].Stored().empty()) return false;
    return true;
  };
  const auto drainLimit = Steady::now() + 240s;
  while (!settled() && Steady::now() < drainLimit) std::this_thread::sleep_for(100ms);
  const double takeover = std::chrono::duration<double>(Steady::now() - killedAt).count();
  if (!settled()) fail("the queue did not settle within 240 s of the kill");

  // Any gateway's API shows every gateway's modems; the dead one's go down
  // once it has missed its heartbeats.
  {
    httplib::Client api("127.0.0.1", ports[2]);
    api.set_bearer_token_auth("multihost-token-0123456789");
    const auto deadline = Steady::now() + 30s;
    std::map<std::string, bool> connected;
    std::string answer;
    for (;;) {
      connected.clear();
      auto r = api.Get("/v1/modems");
      answer = r ? std::to_string(r->status) + " " + r->body.substr(0, 200) : httplib::to_string(r.error());
      if (r && r->status == 200) {
        const nlohmann::json body = nlohmann::json::parse(r->body);
        for (const auto& m : body["items"]) connected[m["name"].get<std::string>()] = m["connected"].get<bool>();
      }
      bool victimDown = true;
      for (int m = 0; m < kModemsPerHost; ++m)
        victimDown = victimDown && connected.count(SimPool::Name(kVictim * kModemsPerHost + m)) &&
                     !connected[SimPool::Name(kVictim * kModemsPerHost + m)];
      if ((victimDown && connected.size() == static_cast<std::size_t>(pool.Size())) || Steady::now() > deadline) break;
      std::this_thread::sleep_for(250ms);
    }
    if (connected.size() != static_cast<std::size_t>(pool.Size()))
      fail("host-c's API shows " + std::to_string(connected.size()) + " modems, not " + std::to_string(pool.Size()) +
           " (" + answer + ")");
    for (int i = 0; i < pool.Size(); ++i) {
      const bool expected = i / kModemsPerHost != kVictim;
      if (!connected.count(SimPool::Name(i)) || connected[SimPool::Name(i)] != expected)
        fail("host-c's API shows " + SimPool::Name(i) + (expected ? " not connected" : " connected"));
    }
  }

  for (int h = 0; h < kHosts; ++h) {
    const pid_t pid = pids[static_cast<std::size_t>(h)];
    if (pid <= 0) continue;
    ::kill(pid, SIGTERM);
    int status = 0;
    const auto deadline = Steady::now() + 30s;
    while (::waitpid(pid, &status, WNOHANG) == 0 && Steady::now() < deadline) std::this_thread::sleep_for(20ms);
    if (Steady::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      fail(std::string(kNames[h]) + " did not stop on SIGTERM");
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      fail(std::string(kNames[h]) + " ended with status " + std::to_string(status));
    }
  }

  // ---------------------------------------------------------------- checks
  const std::map<std::string, int> written = pool.AllSentTexts();
  std::map<std::string, int> states, byHost;
  std::map<std::string, std::string> hostOfModem;
  for (int i = 0; i < pool.Size(); ++i) hostOfModem[SimPool::Name(i)] = kNames[i / kModemsPerHost];
  int uncertain = 0, takenOver = 0;
  for (const auto& [id, text] : queued) {
    const std::optional<vesk::gateway::OutboxMessage> m = store->GetMessage(id);
    if (!m) {
      fail("message " + std::to_string(id) + " is lost");
      continue;
    }
    const std::string state = vesk::gateway::StateName(m->state);
    ++states[state];
    const int times = written.count(text) ? written.at(text) : 0;
    if (times > 1) fail("message " + std::to_string(id) + " was written " + std::to_string(times) + " times");
    if (m->state == vesk::gateway::MessageState::Sent) {
      ++byHost[hostOfModem[m->sentBy]];
      if (times != 1) fail("message " + std::to_string(id) + " is sent but went " + std::to_string(times) + " times");
    } else if (m->state == vesk::gateway::MessageState::Uncertain) {
      ++uncertain;
    } else {
      fail("message " + std::to_string(id) + " ended " + state);
    }
    auto at = held.find(id);
    if (at == held.end()) continue;
    if (at->second == 0) {
      if (m->state != vesk::gateway::MessageState::Sent || hostOfModem[m->sentBy] == victim)
        fail("message " + std::to_string(id) + ", claimed by the dead gateway before its modem saw it, is " + state +
             " via " + m->sentBy);
      else
        ++takenOver;
    } else if (m->state != vesk::gateway::MessageState::Uncertain && times != 1) {
      fail("message " + std::to_string(id) + ", at the dead gateway's modem when it died, is " + state);
    }
  }
  if (uncertain > kModemsPerHost)
    fail(std::to_string(uncertain) + " uncertain messages: more than the dead gateway's modems");
  for (const auto& [text, n] : written) {
    bool known = false;
    for (const auto& [id, t] : queued) known = known || t == text;
    if (!known && text.rfind("(incomplete) ", 0) != 0)
      fail("a modem sent \"" + text.substr(0, 40) + "\", never queued");
  }
  // The inbox: each received message once (the dead gateway's modems' too,
  // as far as they were read before it died).
  std::map<std::string, int> inbox;
  for (const auto& e : store->ListInbox(0, 1000000)) ++inbox[e.text];
  for (int i = 0; i < o.incoming; ++i) {
    const std::string text = "multihost in " + std::to_string(i);
    const bool victimModem = (i % pool.Size()) / kModemsPerHost == kVictim;
    const int n = inbox.count(text) ? inbox.at(text) : 0;
    if (n > 1 || (n == 0 && !victimModem)) fail("\"" + text + "\" is in the inbox " + std::to_string(n) + " times");
  }

  const double seconds = std::chrono::duration<double>(Steady::now() - begun).count();
  std::cout << "outbox:";
  for (const auto& [state, n] : states) std::cout << " " << state << " " << n;
  std::cout << " (of " << queued.size() << "); sent by";
  for (const auto& [host, n] : byHost) std::cout << " " << host << " " << n;
  std::cout << "\n"
            << takenOver << " claim(s) of the dead gateway sent by the others; settled " << takeover
            << " s after the kill\ninbox: " << inbox.size() << " of " << o.incoming << " messages\n";
  char took[32];
  std::snprintf(took, sizeof took, "%.1f", seconds);
  if (!failures.empty()) {
    std::cout << "FAILED (" << failures.size() << " problems, " << took << " s, seed " << o.seed << "; logs in "
              << dir.string() << "):\n";
    for (std::size_t i = 0; i < failures.size() && i < 40; ++i) std::cout << "  " << failures[i] << "\n";
    return 1;
  }
  std::cout << "passed in " << took << " s" << std::endl;
  store.reset();
  if (o.keep.empty()) fs::remove_all(dir);
  return 0;
}
