// 64 components open at once on 64 simulated modems, as on a 64-port modem
// pool, at the default Delay: processor time while all are idle (target:
// under 0.1% of a core together) and while each receives a message every
// few seconds (read automatically and reported).
//
// The simulators run in this process too. Processor time comes from the
// scheduler's per-thread counters (ThreadCpu.h): the threads that the
// components started (their readers) are told apart from the simulators'
// and the benchmark's own. Real clock, real pseudo-terminals.

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "bench/ThreadCpu.h"
#include "component/VeskGSM.h"
#include "tools/simulator/ModemSimulator.h"

namespace {

using namespace vesk;
using SteadyClock = std::chrono::steady_clock;

constexpr int kModems = 64;
constexpr int kSeconds = 20;

// Processor time in one window, split by whose threads spent it.
struct Share {
  double components = 0;  // the threads the components started
  double others = 0;      // the simulators' and the benchmark's
  double wall = 0;
};

struct Pool {
  std::vector<std::unique_ptr<sim::ModemSimulator>> modems;
  std::vector<std::unique_ptr<TVeskGSM>> components;
  std::atomic<int> received{0};
  // Every thread there was before the first component opened.
  std::set<int> notComponents;

  Pool() {
    for (int i = 0; i < kModems; ++i) modems.push_back(std::make_unique<sim::ModemSimulator>());
    notComponents = bench::ThreadIds(bench::ReadThreadTimes());
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
  Share CpuShare(double every, int* messages = nullptr) {
    const bench::ThreadTimes before = bench::ReadThreadTimes();
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
    const bench::ThreadTimes after = bench::ReadThreadTimes();
    Share share;
    share.wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    share.components = bench::CpuSecondsBetween(before, after, nullptr, &notComponents) / share.wall;
    share.others = bench::CpuSecondsBetween(before, after, &notComponents) / share.wall;
    if (messages) *messages = sent;
    return share;
  }
};

void BM_Pool64IdleComponents(benchmark::State& state) {
  for (auto _ : state) {
    Pool pool;
    if (!pool.OpenAll()) {
      state.SkipWithError("a component did not open");
      return;
    }
    const Share share = pool.CpuShare(0);
    state.SetIterationTime(kSeconds);
    state.counters["components_percent_of_core"] = 100.0 * share.components;
    state.counters["per_component_percent"] = 100.0 * share.components / kModems;
    state.counters["simulators_and_rest_percent_of_core"] = 100.0 * share.others;
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
    const Share share = pool.CpuShare(4.0, &messages);
    // Let the last reads finish before counting.
    const auto deadline = SteadyClock::now() + std::chrono::seconds(15);
    while (pool.received < messages && SteadyClock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    state.SetIterationTime(kSeconds);
    state.counters["components_percent_of_core"] = 100.0 * share.components;
    state.counters["process_percent_of_core"] = 100.0 * (share.components + share.others);
    state.counters["messages_delivered"] = messages;
    state.counters["messages_reported"] = pool.received.load();
    if (pool.received != messages) state.SkipWithError("a message was not reported");
  }
}
BENCHMARK(BM_Pool64ComponentsOneMessageEvery4s)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
