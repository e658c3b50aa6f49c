// What the command engine costs while it waits for a modem: processor time
// during a 15-second wait for a silent modem (target: under 1% of the wall
// time), and the delay between the final marker's arrival and the return
// (target: under 5 ms), and an idle open component's processor time. Runs
// over a real pseudo-terminal and the real clock.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "component/VeskGSM.h"
#include "tests/support/Pty.h"

namespace {

using namespace vesk;
using SteadyClock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The component on the slave side of `pty`, the benchmark playing the modem.
bool OpenOn(testing::Pty& pty, TVeskGSM& gsm, benchmark::State& state) {
  gsm.SetCustomPortName(pty.Path());
  if (pty.Ok() && gsm.Open(true)) return true;
  state.SkipWithError("no pseudo-terminal");
  return false;
}

void BM_SilentModemWait(benchmark::State& state) {
  testing::Pty pty;
  TVeskGSM gsm;
  if (!OpenOn(pty, gsm, state)) return;
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    double cpu0 = ProcessCpuSeconds();
    auto t0 = SteadyClock::now();
    TStringList lines;
    benchmark::DoNotOptimize(gsm.ExecuteATCommand("AT", &lines, 15, '\r'));
    wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    cpu = ProcessCpuSeconds() - cpu0;
    state.SetIterationTime(wall);
  }
  state.counters["wall_s"] = wall;
  state.counters["cpu_s"] = cpu;
  state.counters["cpu_percent_of_wall"] = 100.0 * cpu / wall;
}
BENCHMARK(BM_SilentModemWait)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_FinalMarkerToReturn(benchmark::State& state) {
  testing::Pty pty;
  TVeskGSM gsm;
  if (!OpenOn(pty, gsm, state)) return;
  double worst = 0, total = 0;
  int n = 0;
  for (auto _ : state) {
    std::atomic<long long> sentAt{0};
    // The modem answers a while after the command: the engine is waiting
    // on the port, not polling it, when the marker arrives.
    std::thread modem([&] {
      pty.Read(2000, "\r");
      std::this_thread::sleep_for(std::chrono::milliseconds(120));
      pty.Write("\r\nOK");
      sentAt = SteadyClock::now().time_since_epoch().count();
      pty.Write("\r\n");
    });
    bool ok = gsm.ExecuteATCommand("AT", '\r');
    auto returned = SteadyClock::now().time_since_epoch().count();
    modem.join();
    if (!ok) {
      state.SkipWithError("no OK");
      break;
    }
    double ms = (returned - sentAt.load()) / 1e6;
    state.SetIterationTime(ms / 1000);
    total += ms;
    worst = std::max(worst, ms);
    ++n;
  }
  state.counters["mean_ms"] = n ? total / n : 0;
  state.counters["worst_ms"] = worst;
}
BENCHMARK(BM_FinalMarkerToReturn)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);

// An open component with nothing to do: processor time per second of wall
// time, at the default polling interval (600 ms) and with none at all
// (the reader then waits on the port). Target: under 0.1% of a core.
void BM_IdleOpenComponent(benchmark::State& state) {
  testing::Pty pty;
  TVeskGSM gsm;
  gsm.SetDelay(static_cast<int>(state.range(0)));
  if (!OpenOn(pty, gsm, state)) return;
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    double cpu0 = ProcessCpuSeconds();
    auto t0 = SteadyClock::now();
    std::this_thread::sleep_for(std::chrono::seconds(20));
    wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    cpu = ProcessCpuSeconds() - cpu0;
    state.SetIterationTime(wall);
  }
  state.counters["cpu_s_per_minute"] = 60.0 * cpu / wall;
  state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
}
BENCHMARK(BM_IdleOpenComponent)->Arg(600)->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
