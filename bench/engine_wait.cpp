// What the component costs while it waits, and how soon it reacts: processor
// time during a 15-second wait for a silent modem (target: under 1% of the
// wall time); the delay between the final marker's arrival and the command's
// return (target: under 5 ms); the delay between the last byte of a
// new-message notice and OnNewMessage at the default Delay (target: under
// 5 ms); an idle open component's processor time at several Delays. Runs
// over a real pseudo-terminal and the real clock; processor time from the
// scheduler's per-thread counters (ThreadCpu.h).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "bench/ThreadCpu.h"
#include "component/VeskGSM.h"
#include "tests/support/Pty.h"

namespace {

using namespace vesk;
using SteadyClock = std::chrono::steady_clock;

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
    auto before = bench::ReadThreadTimes();
    auto t0 = SteadyClock::now();
    TStringList lines;
    benchmark::DoNotOptimize(gsm.ExecuteATCommand("AT", &lines, 15, '\r'));
    wall = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    cpu = bench::CpuSecondsBetween(before, bench::ReadThreadTimes());
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

// A new-message notice written while the component is idle, at a moment
// chosen at random within its Delay (600 ms, the default): the time from
// the notice's last byte to OnNewMessage. The automatic read is off, so
// the event follows the notice at once rather than after the read's own
// dialogue.
void BM_NoticeToOnNewMessage(benchmark::State& state) {
  testing::Pty pty;
  TVeskGSM gsm;
  gsm.SetAutoReadNewMessage(false);
  std::mutex mutex;
  std::condition_variable raised;
  long long eventAt = 0;
  gsm.OnNewMessage = [&](TObject*, const AnsiString&, int) {
    std::lock_guard<std::mutex> lock(mutex);
    eventAt = SteadyClock::now().time_since_epoch().count();
    raised.notify_all();
  };
  if (!OpenOn(pty, gsm, state)) return;
  std::mt19937 random(20261211);
  std::vector<double> times;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 600));
    {
      std::lock_guard<std::mutex> lock(mutex);
      eventAt = 0;
    }
    pty.Write("\r\n+CMTI: \"SM\",3\r");
    pty.Write("\n");
    const long long lastByteAt = SteadyClock::now().time_since_epoch().count();
    std::unique_lock<std::mutex> lock(mutex);
    if (!raised.wait_for(lock, std::chrono::seconds(3), [&] { return eventAt != 0; })) {
      state.SkipWithError("no OnNewMessage");
      break;
    }
    const double ms = (eventAt - lastByteAt) / 1e6;
    state.SetIterationTime(ms / 1000);
    times.push_back(ms);
  }
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  double total = 0;
  for (double t : times) total += t;
  state.counters["mean_ms"] = total / times.size();
  state.counters["median_ms"] = times[times.size() / 2];
  state.counters["worst_ms"] = times.back();
}
BENCHMARK(BM_NoticeToOnNewMessage)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

// An open component with nothing to do: processor time per second of wall
// time, at the default Delay (600 ms), at longer ones, and with none at all.
// The reader waits on the port either way; Delay is how often it looks at
// the modem lines and the port list. A pseudo-terminal, like a USB modem,
// reports its own hang-up, so a longer Delay loses nothing of the loss
// detection there. Target at the default: under 0.02% of a core.
void BM_IdleOpenComponent(benchmark::State& state) {
  testing::Pty pty;
  auto before = bench::ReadThreadTimes();
  TVeskGSM gsm;
  gsm.SetDelay(static_cast<int>(state.range(0)));
  if (!OpenOn(pty, gsm, state)) return;
  const std::set<int> others = bench::ThreadIds(before);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  double component = 0, process = 0, wall = 0;
  for (auto _ : state) {
    auto t0 = bench::ReadThreadTimes();
    auto w0 = SteadyClock::now();
    std::this_thread::sleep_for(std::chrono::seconds(20));
    wall = std::chrono::duration<double>(SteadyClock::now() - w0).count();
    auto t1 = bench::ReadThreadTimes();
    component = bench::CpuSecondsBetween(t0, t1, nullptr, &others);
    process = bench::CpuSecondsBetween(t0, t1);
    state.SetIterationTime(wall);
  }
  state.counters["component_cpu_s_per_minute"] = 60.0 * component / wall;
  state.counters["component_percent_of_core"] = 100.0 * component / wall;
  state.counters["process_percent_of_core"] = 100.0 * process / wall;
}
BENCHMARK(BM_IdleOpenComponent)
    ->Arg(600)
    ->Arg(5000)
    ->Arg(60000)
    ->Arg(0)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
