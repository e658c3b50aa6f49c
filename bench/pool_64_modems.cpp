// 64 components open at once on 64 simulated modems, as on a 64-port modem
// pool, at the default polling interval: processor time while all are idle
// (target: under 1% of a core together) and while each receives a message
// every few seconds (read automatically and reported).
//
// The simulators run in this process too. Their own cost is measured
// first, alone for the same time, and taken off: the figure that remains is
// the components'. Real clock, real pseudo-terminals.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "component/VeskGSM.h"
#include "tools/simulator/ModemSimulator.h"

namespace {

using namespace vesk;
using SteadyClock = std::chrono::steady_clock;

constexpr int kModems = 64;
constexpr int kSeconds = 20;

double ProcessCpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Pool {
  std::vector<std::unique_ptr<sim::ModemSimulator>> modems;
  std::vector<std::unique_ptr<TVeskGSM>> components;
  std::atomic<int> received{0};

  Pool() {
    for (int i = 0; i < kModems; ++i) modems.push_back(std::make_unique<sim::ModemSimulator>());
  }
  bool OpenAll() {
    for (auto& m : modems) {
      auto gsm = std::make_unique<TVeskGSM>();
      gsm->SetCustomPortName(m->Path());
      gsm->OnReadMessage = [this](TObject*, const WideString&, const AnsiString&, const AnsiString&, TDateTime, int,
                                  int) { ++received; };
      if (!gsm->Open(false)) return false;
      components.push_back(std::move(gsm));
    }
    // Wait until every set-up is over.
    for (auto& m : modems)
      if (!m->WaitForCommand("AT+CNMI", std::chrono::seconds(30))) return false;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return true;
  }
  // Processor time per second of wall time over kSeconds, with each modem
  // receiving a message every `every` seconds (0: none), staggered.
  double CpuShare(double every, int* messages = nullptr) {
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = SteadyClock::now();
    int sent = 0;
    if (every <= 0) {
      std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
    } else {
      const auto step = std::chrono::duration<double>(every / kModems);
      for (int tick = 0; std::chrono::duration<double>(SteadyClock::now() - t0).count() < kSeconds; ++tick) {
        sim::IncomingSms sms;
        sms.text = "Message " + std::to_string(tick) + " to the pool";
        modems[static_cast<std::size_t>(tick % kModems)]->DeliverSms(sms);
        ++sent;
        std::this_thread::sleep_until(t0 + std::chrono::duration_cast<SteadyClock::duration>(step * (tick + 1)));
      }
    }
    const double wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    if (messages) *messages = sent;
    return (ProcessCpuSeconds() - cpu0) / wall;
  }
};

void Report(benchmark::State& state, double total, double simulators) {
  state.counters["process_percent_of_core"] = 100.0 * total;
  state.counters["simulators_percent_of_core"] = 100.0 * simulators;
  state.counters["components_percent_of_core"] = 100.0 * (total - simulators);
  state.counters["per_component_percent"] = 100.0 * (total - simulators) / kModems;
}

void BM_Pool64IdleComponents(benchmark::State& state) {
  for (auto _ : state) {
    Pool pool;
    const double simulators = pool.CpuShare(0);
    if (!pool.OpenAll()) {
      state.SkipWithError("a component did not open");
      return;
    }
    const double total = pool.CpuShare(0);
    state.SetIterationTime(kSeconds);
    Report(state, total, simulators);
  }
}
BENCHMARK(BM_Pool64IdleComponents)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Each modem receives a message every 4 s: 16 messages a second in all.
void BM_Pool64ComponentsOneMessageEvery4s(benchmark::State& state) {
  for (auto _ : state) {
    Pool pool;
    if (!pool.OpenAll()) {
      state.SkipWithError("a component did not open");
      return;
    }
    int messages = 0;
    const double total = pool.CpuShare(4.0, &messages);
    // Let the last reads finish before counting.
    const auto deadline = SteadyClock::now() + std::chrono::seconds(15);
    while (pool.received < messages && SteadyClock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    state.SetIterationTime(kSeconds);
    state.counters["process_percent_of_core"] = 100.0 * total;
    state.counters["messages_delivered"] = messages;
    state.counters["messages_reported"] = pool.received.load();
    if (pool.received != messages) state.SkipWithError("a message was not reported");
  }
}
BENCHMARK(BM_Pool64ComponentsOneMessageEvery4s)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
