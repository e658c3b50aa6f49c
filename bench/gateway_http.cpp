// The gateway's HTTP API under load, and claims by several processes.
//
//  1. POST /v1/messages: the API and its server in this process (as
//     `veskgsm serve` runs them), a load generator in a child process with
//     C connections kept alive, each sending its next request when the
//     last is answered, for S seconds; requests a second and the latency
//     of each (p50, p99, max), with the store on SQLite (a file on disk,
//     synchronous = normal) and on PostgreSQL (a server of the benchmark's
//     own with its durable defaults: every commit waits for the disk).
//     The server's processor time comes from its threads' scheduler
//     counters (/proc/self/task/*/schedstat).
//  2. Claims: M queued messages, three processes each claiming and
//     recording as sent in a loop until the queue is empty; the latency of
//     each claim, and each message claimed once, on both back ends.
// Target (SQLite): 2,000 requests a second, p99 under 20 ms.
//
//   bench_gateway_http [--seconds 10] [--connections 8] [--claims 3000]
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tools/gateway/Api.h"
#include "tools/gateway/HttpServer.h"
#include "tools/gateway/tests/PgServer.h"

namespace {

using namespace vesk::gateway;
using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

const char kToken[] = "bench-token-0123456789";

double ThreadSeconds() {
  double total = 0;
  DIR* dir = ::opendir("/proc/self/task");
  if (!dir) return 0;
  while (dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream stat(std::string("/proc/self/task/") + e->d_name + "/schedstat");
    unsigned long long ns = 0;
    if (stat >> ns) total += static_cast<double>(ns) / 1e9;
  }
  ::closedir(dir);
  return total;
}

double Percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
  return v[i];
}

// The load, in a child: writes "count seconds" and then the latencies in
// microseconds to `out`, one a line.
void Load(int port, int connections, double seconds, const std::string& out) {
  std::vector<std::vector<double>> latencies(static_cast<std::size_t>(connections));
  std::vector<int> errors(static_cast<std::size_t>(connections));
  const auto start = Steady::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c)
    threads.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", port);
      client.set_keep_alive(true);
      // The request's header and body go in two writes: without this the
      // second waits for the first's (delayed) acknowledgement.
      client.set_tcp_nodelay(true);
      client.set_bearer_token_auth(kToken);
      int i = 0;
      while (Steady::now() < end) {
        const std::string body = "{\"to\": \"+1555060" + std::to_string(1000 + (c * 100000 + i) % 9000) +
                                 "\", \"text\": \"load " + std::to_string(c) + "/" + std::to_string(i) + "\"}";
        const auto t0 = Steady::now();
        auto r = client.Post("/v1/messages", body, "application/json");
        const auto t1 = Steady::now();
        if (!r || r->status != 202) ++errors[static_cast<std::size_t>(c)];
        latencies[static_cast<std::size_t>(c)].push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        ++i;
      }
    });
  for (auto& t : threads) t.join();
  const double took = std::chrono::duration<double>(Steady::now() - start).count();
  std::ofstream f(out);
  std::size_t n = 0;
  int failed = 0;
  for (std::size_t c = 0; c < latencies.size(); ++c) {
    n += latencies[c].size();
    failed += errors[c];
  }
  f << n << " " << took << " " << failed << "\n";
  for (const auto& v : latencies)
    for (double l : v) f << l << "\n";
}

void PostThroughput(const std::string& name, Store& store, int connections, double seconds, const fs::path& dir) {
  Metrics metrics;
  ApiContext c;
  c.store = &store;
  c.token = kToken;
  c.gateway = "bench";
  Api api(c);
  HttpServer server(api, connections + 4);
  const int port = server.Start("127.0.0.1", 0);
  const std::string out = (dir / ("load-" + name + ".txt")).string();
  const double cpuBefore = ThreadSeconds();
  const pid_t pid = ::fork();
  if (pid == 0) {
    Load(port, connections, seconds, out);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double cpu = ThreadSeconds() - cpuBefore;
  server.Stop();
  std::ifstream in(out);
  std::size_t n = 0;
  double took = 0;
  int failed = 0;
  in >> n >> took >> failed;
  std::vector<double> lat;
  for (double l; in >> l;) lat.push_back(l);
  const double p50 = Percentile(lat, 0.50), p99 = Percentile(lat, 0.99), max = lat.empty() ? 0 : lat.back();
  std::printf("%-11s POST /v1/messages, %d connections, %.0f s: %zu requests (%d not 202), %.0f/s; "
              "latency p50 %.2f ms, p99 %.2f ms, max %.1f ms; server processor %.0f µs a request\n",
              name.c_str(), connections, took, n, failed, static_cast<double>(n) / took, p50 / 1000, p99 / 1000,
              max / 1000, n ? cpu / static_cast<double>(n) * 1e6 : 0.0);
}

// Three processes claiming from one queue; each message claimed once.
void Claims(const std::string& name, const std::function<std::unique_ptr<Store>()>& open, int messages,
            const fs::path& dir) {
  {
    auto store = open();
    NewMessage m;
    m.to = "+15550123";
    m.text = "claim me";
    for (int i = 0; i < messages; ++i) store->Queue(m, 1000);
  }
  constexpr int kProcesses = 3;
  std::vector<pid_t> pids;
  const auto start = Steady::now();
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      auto store = open();
      std::ofstream out(dir / ("claims-" + name + "-" + std::to_string(p) + ".txt"));
      ClaimRequest r;
      r.modem = "m" + std::to_string(p);
      r.claimer = "host" + std::to_string(p);
      r.now = 2000;
      try {
        for (;;) {
          const auto t0 = Steady::now();
          std::optional<OutboxMessage> m = store->Claim(r);
          const auto t1 = Steady::now();
          if (!m) break;
          out << m->id << " " << std::chrono::duration<double, std::micro>(t1 - t0).count() << "\n";
          store->RecordSent(m->id, r.claimer, {static_cast<int>(m->id % 256)}, 2000);
        }
      } catch (const std::exception& e) {
        std::cerr << name << " claimer " << p << ": " << e.what() << std::endl;
        out.flush();
        ::_exit(1);
      }
      out.flush();
      ::_exit(0);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  const double took = std::chrono::duration<double>(Steady::now() - start).count();
  std::vector<double> lat;
  std::vector<std::int64_t> ids;
  std::vector<std::size_t> each;
  for (int p = 0; p < kProcesses; ++p) {
    std::ifstream in(dir / ("claims-" + name + "-" + std::to_string(p) + ".txt"));
    std::size_t n = 0;
    std::int64_t id;
    double l;
    while (in >> id >> l) {
      ids.push_back(id);
      lat.push_back(l);
      ++n;
    }
    each.push_back(n);
  }
  std::sort(ids.begin(), ids.end());
  const bool once =
      std::adjacent_find(ids.begin(), ids.end()) == ids.end() && ids.size() == static_cast<std::size_t>(messages);
  const double p50 = Percentile(lat, 0.50), p99 = Percentile(lat, 0.99);
  std::printf("%-11s claims by %d processes: %zu messages (%zu, %zu, %zu) in %.2f s, %.0f claims/s; claim latency "
              "p50 %.2f ms, p99 %.2f ms, max %.1f ms; each claimed once: %s\n",
              name.c_str(), kProcesses, ids.size(), each[0], each[1], each[2], took,
              static_cast<double>(ids.size()) / took, p50 / 1000, p99 / 1000, lat.empty() ? 0 : lat.back() / 1000,
              once ? "yes" : "NO");
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  int connections = 8, claims = 3000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--seconds") seconds = std::atof(argv[i + 1]);
    if (a == "--connections") connections = std::atoi(argv[i + 1]);
    if (a == "--claims") claims = std::atoi(argv[i + 1]);
  }
  const fs::path dir = fs::current_path() / ("bench-gateway-http-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);

  {
    StoreOptions o;
    o.path = (dir / "post.db").string();
    auto store = OpenSqliteStore(o);
    PostThroughput("SQLite", *store, connections, seconds, dir);
  }
  const std::string missing = testing::PgServer::Missing();
  std::string pgFolder, why;
  if (missing.empty()) {
    pgFolder = (fs::temp_directory_path() / ("veskgsm-bench-pg-" + std::to_string(::getpid()))).string();
    if (!testing::PgServer::Start(pgFolder, why, true)) {
      std::cout << "PostgreSQL: " << why << "\n";
      pgFolder.clear();
    }
  } else {
    std::cout << "PostgreSQL skipped: " << missing << "\n";
  }
  if (!pgFolder.empty()) {
    const std::string db = testing::PgServer::CreateDatabase(pgFolder, why);
    auto store = OpenPostgresStore(db, StoreOptions{}, connections);
    PostThroughput("PostgreSQL", *store, connections, seconds, dir);
  }

  Claims(
      "SQLite",
      [&] {
        StoreOptions o;
        o.path = (dir / "claims.db").string();
        return OpenSqliteStore(o);
      },
      claims, dir);
  if (!pgFolder.empty()) {
    const std::string db = testing::PgServer::CreateDatabase(pgFolder, why);
    Claims(
        "PostgreSQL", [&] { return OpenPostgresStore(db, StoreOptions{}, 1); }, claims, dir);
    testing::PgServer::Stop(pgFolder);
    fs::remove_all(pgFolder);
  }
  fs::remove_all(dir);
  return 0;
}
