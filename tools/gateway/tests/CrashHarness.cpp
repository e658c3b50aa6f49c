// The gateway killed with SIGKILL at random moments while simulated modems
// receive messages and the outbox sends, then checked against what the
// simulators recorded:
//   - every message a modem received is in the inbox exactly once;
//   - every queued message is in a known state (none lost, none left
//     `sending`);
//   - every message, `uncertain` ones included, was written to a modem at
//     most once, and every `sent` one exactly once;
//   - `uncertain` messages number at most one per modem per kill.
// The simulators run in this process; the gateway (`veskgsm serve`) is a
// child process, started again after each kill.
//
//   gateway_crash_harness --binary build/tools/cli/veskgsm [--kills 20]
//       [--modems 4] [--incoming 200] [--outgoing 200] [--seed N] [--keep DIR]
//
// Exit status 0 when every check holds; 1 with the failures listed.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/gateway/Store.h"
#include "tools/gateway/tests/SimPool.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;
using vesk::gateway::Millis;
using vesk::gateway::testing::SimPool;

struct Options {
  std::string binary;
  int kills = 20;
  int modems = 4;
  int incoming = 200;
  int outgoing = 200;
  unsigned seed = 0;
  std::string keep;  // keep the folder (store, log) here
};

std::string OutText(int i) {
  std::string text = "crash out " + std::to_string(i) + ":";
  if (i % 9 == 4) text += std::string(190, static_cast<char>('a' + i % 26));  // two parts
  if (i % 17 == 8) text += " Приём";                                          // UCS2
  return text;
}

std::string InText(int i) {
  std::string text = "crash in " + std::to_string(i) + ":";
  if (i % 8 == 3) text += std::string(200, static_cast<char>('A' + i % 26));  // two parts
  return text;
}

class Child {
 public:
  Child(std::string binary, std::string config, std::string log)
      : binary_(std::move(binary)), config_(std::move(config)), log_(std::move(log)) {}
  ~Child() { Kill(); }

  void Start() {
    std::vector<std::string> args = {binary_, "serve", "--config", config_, "--log", log_, "--log-level", "info"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, (log_ + ".stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ++starts_;
  }
  void Kill() {
    if (pid_ <= 0) return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      NoteExit(status);
    } else {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  // SIGTERM and its exit status; -1 when it had to be killed.
  int Terminate(std::chrono::seconds limit) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    const auto deadline = Steady::now() + limit;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (Steady::now() > deadline) {
        Kill();
        return -1;
      }
      std::this_thread::sleep_for(20ms);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      NoteExit(status);
      pid_ = -1;
      return false;
    }
    return true;
  }
  int Starts() const { return starts_; }
  // How the runs that ended by themselves (not by our signal) ended.
  const std::vector<std::string>& OwnExits() const { return ownExits_; }

 private:
  void NoteExit(int status) {
    ownExits_.push_back(WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                          : "signal " + std::to_string(WTERMSIG(status)));
  }

  std::string binary_, config_, log_;
  pid_t pid_ = -1;
  int starts_ = 0;
  std::vector<std::string> ownExits_;
};

int Usage(const char* why) {
  std::cerr << "gateway_crash_harness: " << why
            << "\nusage: gateway_crash_harness --binary VESKGSM [--kills N] [--modems N] [--incoming N] "
               "[--outgoing N] [--seed N] [--keep DIR]\n";
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
    else if (a == "--kills")
      o.kills = std::atoi(v.c_str());
    else if (a == "--modems")
      o.modems = std::atoi(v.c_str());
    else if (a == "--incoming")
      o.incoming = std::atoi(v.c_str());
    else if (a == "--outgoing")
      o.outgoing = std::atoi(v.c_str());
    else if (a == "--seed")
      o.seed = static_cast<unsigned>(std::strtoul(v.c_str(), nullptr, 10));
    else if (a == "--keep")
      o.keep = v;
    else
      return Usage(("unknown option " + a).c_str());
  }
  if (o.binary.empty()) return Usage("--binary is required");
  if (o.modems < 1 || o.kills < 0 || o.incoming < 0 || o.outgoing < 0) return Usage("bad numbers");
  std::signal(SIGPIPE, SIG_IGN);

  const auto begun = Steady::now();
  std::mt19937 random(o.seed);
  const std::filesystem::path dir =
      o.keep.empty() ? std::filesystem::temp_directory_path() / ("veskgsm-crash-" + std::to_string(::getpid()))
                     : std::filesystem::path(o.keep);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::cout << "crash harness: " << o.kills << " kills, " << o.modems << " modems, " << o.incoming << " in, "
            << o.outgoing << " out, seed " << o.seed << ", folder " << dir.string() << std::endl;

  SimPool pool(o.modems, dir.string());
  const std::string config = (dir / "gateway.toml").string();
  std::ofstream(config) << "[gateway]\nname = \"crash\"\n[retry]\nbackoff = 0.5\nmax_attempts = 50\n\n"
                        << pool.ModemTables();
  const std::string log = (dir / "gateway.log").string();

  // Half the outbox is queued before the first start, the rest while the
  // gateway runs and dies, from this process's own connection.
  vesk::gateway::StoreOptions so;
  so.path = (dir / "veskgsm.db").string();
  std::unique_ptr<vesk::gateway::Store> store = vesk::gateway::OpenSqliteStore(so);
  std::map<std::int64_t, std::string> queued;
  auto queue = [&](int i) {
    vesk::gateway::NewMessage m;
    m.to = "+1555040" + std::to_string(1000 + i);
    m.text = OutText(i);
    m.parts = m.text.size() > 160 ? 2 : 1;
    queued[store->Queue(
        m, std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
               .count())] = m.text;
  };
  for (int i = 0; i < o.outgoing / 2; ++i) queue(i);

  Child gateway(o.binary, config, log);
  gateway.Start();

  // The network: messages arrive on the modems in turn, some long, some
  // with their parts the wrong way round; the rest of the outbox is queued
  // on the way.
  std::atomic<bool> networkDone{false};
  std::vector<std::string> failures;
  std::mutex failuresLock;
  std::thread network([&] {
    std::mt19937 r(o.seed + 1);
    for (int i = 0; i < o.incoming || static_cast<int>(queued.size()) < o.outgoing; ++i) {
      if (i < o.incoming) {
        vesk::sim::IncomingSms sms;
        sms.text = InText(i);
        sms.sender = "+1555050" + std::to_string(1000 + i);
        sms.reference = i % 256;
        sms.timestamp.minute = i % 60;
        if (i % 16 == 3) sms.partOrder = {2, 1};
        for (const vesk::sim::DeliveredPart& p : pool[i % o.modems].DeliverSms(sms))
          if (p.index < 1) {
            std::lock_guard<std::mutex> lock(failuresLock);
            failures.push_back("the simulator could not store incoming message " + std::to_string(i));
          }
      }
      const int next = static_cast<int>(queued.size());
      if (next < o.outgoing && i % 2 == 1) queue(next);
      std::this_thread::sleep_for(std::chrono::milliseconds(20 + r() % 100));
    }
    networkDone = true;
  });

  // The kills, at random moments: a third at any time, a third a few
  // milliseconds after a modem was asked for a message body's prompt (the
  // send under way), a third just after a modem was asked to list or
  // delete its messages (a receipt under way).
  auto commands = [&](const char* prefix) {
    std::size_t n = 0;
    for (int m = 0; m < pool.Size(); ++m)
      for (const std::string& c : pool[m].Commands())
        if (c.rfind(prefix, 0) == 0) ++n;
    return n;
  };
  std::uniform_int_distribution<int> alive(300, 2500), dead(0, 400), soon(0, 60);
  std::map<std::string, int> when;
  for (int k = 0; k < o.kills; ++k) {
    const int kind = static_cast<int>(random() % 3);
    if (kind == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(alive(random)));
      ++when["at any time"];
    } else {
      const char* prefix = kind == 1 ? "AT+CMGS" : (random() % 2 ? "AT+CMGD" : "AT+CMGL");
      const std::size_t before = commands(prefix);
      const auto limit = Steady::now() + 5s;
      while (commands(prefix) == before && Steady::now() < limit) std::this_thread::sleep_for(2ms);
      std::this_thread::sleep_for(std::chrono::milliseconds(soon(random)));
      ++when[std::string("after ") + prefix];
    }
    gateway.Kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(dead(random)));
    gateway.Start();
  }
  network.join();
  const int kills = o.kills;

  // The last run takes everything in and sends what is left.
  auto settled = [&] {
    const auto counts = store->CountByState();
    auto count = [&](const char* s) { return counts.count(s) ? counts.at(s) : 0; };
    if (count("queued") + count("sending") > 0) return false;
    if (static_cast<int>(store->ListInbox(0, 1000000).size()) < o.incoming) return false;
    for (int m = 0; m < pool.Size(); ++m)
      if (!pool[m].Stored().empty()) return false;
    return true;
  };
  // Settled, and still so a second later (a status report that comes late
  // is stored by its modem for a moment before the gateway takes it).
  const auto drainLimit = Steady::now() + 180s;
  for (bool stable = false; !stable && Steady::now() < drainLimit;) {
    if (!gateway.Running()) gateway.Start();
    if (!settled()) {
      std::this_thread::sleep_for(200ms);
      continue;
    }
    std::this_thread::sleep_for(1s);
    stable = settled();
  }
  // SIGTERM once the last run is up (a signal before the process has set
  // itself up at all ends it as any process ends).
  auto starts = [&] {
    std::ifstream in(log);
    int n = 0;
    for (std::string line; std::getline(in, line);)
      if (line.find("gateway crash started") != std::string::npos) ++n;
    return n;
  };
  const auto upLimit = Steady::now() + 30s;
  while (starts() < gateway.Starts() && Steady::now() < upLimit) std::this_thread::sleep_for(20ms);
  const int exitStatus = gateway.Terminate(30s);

  // ---------------------------------------------------------------- checks
  auto fail = [&](const std::string& what) { failures.push_back(what); };
  if (exitStatus != 0) fail("the gateway's exit status after SIGTERM was " + std::to_string(exitStatus));
  for (const std::string& how : gateway.OwnExits()) fail("a run of the gateway ended by itself: " + how);
  if (!settled()) fail("the gateway did not settle within 180 s after the last kill");

  // Inbox: each message once, from the modem it came to.
  std::map<std::string, int> inbox;
  for (const vesk::gateway::InboxEntry& e : store->ListInbox(0, 1000000)) {
    ++inbox[e.text];
    if (e.incomplete) fail("inbox " + std::to_string(e.id) + " is incomplete: " + e.text.substr(0, 40));
  }
  for (int i = 0; i < o.incoming; ++i) {
    const int n = inbox.count(InText(i)) ? inbox.at(InText(i)) : 0;
    if (n != 1) fail("incoming message " + std::to_string(i) + " is in the inbox " + std::to_string(n) + " times");
  }
  if (static_cast<int>(inbox.size()) != o.incoming)
    fail("the inbox holds " + std::to_string(inbox.size()) + " different texts for " + std::to_string(o.incoming) +
         " messages");
  for (int m = 0; m < pool.Size(); ++m)
    if (!pool[m].Stored().empty()) fail("modem " + std::to_string(m) + " still stores messages");

  // Outbox against what the modems were given.
  const std::map<std::string, int> written = pool.AllSentTexts();
  std::map<std::string, int> states;
  int uncertain = 0;
  std::set<std::string> known;
  for (const auto& [id, text] : queued) {
    const std::optional<vesk::gateway::OutboxMessage> m = store->GetMessage(id);
    if (!m) {
      fail("message " + std::to_string(id) + " is lost");
      continue;
    }
    const std::string state = vesk::gateway::StateName(m->state);
    ++states[state];
    known.insert(text);
    const int times = written.count(text) ? written.at(text) : 0;
    if (times > 1) fail("message " + std::to_string(id) + " was written " + std::to_string(times) + " times");
    switch (m->state) {
      case vesk::gateway::MessageState::Sent:
      case vesk::gateway::MessageState::Delivered:
        if (times != 1)
          fail("message " + std::to_string(id) + " is " + state + " but a modem sent it " + std::to_string(times) +
               " times");
        break;
      case vesk::gateway::MessageState::Uncertain: ++uncertain; break;
      case vesk::gateway::MessageState::Queued:
      case vesk::gateway::MessageState::Sending:
        fail("message " + std::to_string(id) + " is still " + state);
        [[fallthrough]];
      case vesk::gateway::MessageState::Failed:
      case vesk::gateway::MessageState::Expired:
        if (times != 0) fail("message " + std::to_string(id) + " is " + state + " but a modem sent it");
        break;
    }
  }
  for (const auto& [text, times] : written) {
    if (known.count(text)) continue;
    // A long message cut short by a kill: only an uncertain one may be.
    const std::string prefix = "(incomplete) ";
    bool explained = false;
    if (text.rfind(prefix, 0) == 0) {
      const std::string start = text.substr(prefix.size());
      for (const auto& [id, queuedText] : queued)
        if (queuedText.rfind(start.substr(0, 20), 0) == 0 &&
            store->GetMessage(id)->state == vesk::gateway::MessageState::Uncertain)
          explained = true;
    }
    if (!explained) fail("a modem sent \"" + text.substr(0, 50) + "\", which no message of the outbox explains");
  }
  if (uncertain > o.modems * kills)
    fail(std::to_string(uncertain) + " uncertain messages: more than one per modem per kill (" +
         std::to_string(o.modems * kills) + ")");

  const double seconds = std::chrono::duration<double>(Steady::now() - begun).count();
  std::cout << "gateway started " << gateway.Starts() << " times, killed " << kills << " times (";
  for (auto it = when.begin(); it != when.end(); ++it)
    std::cout << (it == when.begin() ? "" : ", ") << it->second << " " << it->first;
  std::cout << ")\n";
  std::cout << "inbox: " << inbox.size() << " of " << o.incoming << " messages\n";
  std::cout << "outbox:";
  for (const auto& [state, n] : states) std::cout << " " << state << " " << n;
  std::cout << " (of " << queued.size() << ")\n";
  std::cout << "written to the modems: " << written.size() << " texts\n";
  char took[64];
  std::snprintf(took, sizeof took, "%.1f", seconds);
  if (!failures.empty()) {
    std::cout << "FAILED (" << failures.size() << " problems, " << took << " s, seed " << o.seed
              << "; store and log in " << dir.string() << "):\n";
    for (std::size_t i = 0; i < failures.size() && i < 40; ++i) std::cout << "  " << failures[i] << "\n";
    return 1;
  }
  std::cout << "passed in " << took << " s" << std::endl;
  store.reset();
  if (o.keep.empty()) std::filesystem::remove_all(dir);
  return 0;
}
