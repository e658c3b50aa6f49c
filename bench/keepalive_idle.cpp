// The keep-alive's idle cost: components open on idle modems (the modem
// simulator, each on its pseudo-terminal), the default polling interval
// (Delay 600), KeepAliveInterval 60, the real clock. Processor time comes
// from each thread's scheduler counters (/proc/self/task/*/schedstat):
// the supervisor threads (started when the keep-alive is switched on) and
// the reader threads are told apart by when they appeared.
// Target: the keep-alive under 0.02% of a core per component.
//
//   bench_keepalive_idle [--components 4] [--window 180]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/ThreadCpu.h"
#include "component/VeskGSM.h"
#include "tools/simulator/ModemSimulator.h"

namespace {

using Steady = std::chrono::steady_clock;

std::set<int> Minus(const std::set<int>& a, const std::set<int>& b) {
  std::set<int> out;
  for (int x : a)
    if (!b.count(x)) out.insert(x);
  return out;
}

std::set<int> Threads() { return bench::ThreadIds(bench::ReadThreadTimes()); }

}  // namespace

int main(int argc, char** argv) {
  int components = 4;
  double window = 180;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--components") components = std::atoi(argv[i + 1]);
    if (flag == "--window") window = std::atof(argv[i + 1]);
  }
  std::vector<std::unique_ptr<vesk::sim::ModemSimulator>> modems;
  for (int i = 0; i < components; ++i) modems.push_back(std::make_unique<vesk::sim::ModemSimulator>());
  const std::set<int> before = Threads();

  std::vector<std::unique_ptr<vesk::TVeskGSM>> gsms;
  for (int i = 0; i < components; ++i) {
    auto gsm = std::make_unique<vesk::TVeskGSM>();
    gsm->SetCustomPortName(modems[i]->Path());
    gsm->SetCommPort(vesk::spCustom);
    gsm->SetBaudRate(vesk::br115200);
    if (!gsm->Open(false)) {
      std::fprintf(stderr, "cannot open %s\n", modems[i]->Path().c_str());
      return 1;
    }
    gsms.push_back(std::move(gsm));
  }
  std::this_thread::sleep_for(std::chrono::seconds(8));  // the set-ups end
  const std::set<int> readers = Minus(Threads(), before);
  for (auto& gsm : gsms) gsm->SetKeepAliveInterval(60);
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the IMEI read
  const std::set<int> supervisors = Minus(Minus(Threads(), before), readers);

  std::vector<std::size_t> commandsBefore;
  for (auto& m : modems) commandsBefore.push_back(m->Commands().size());
  const bench::ThreadTimes start = bench::ReadThreadTimes();
  const auto t0 = Steady::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(window));
  const double wall = std::chrono::duration<double>(Steady::now() - t0).count();
  const bench::ThreadTimes end = bench::ReadThreadTimes();
  const double supervisorCpu = bench::CpuSecondsBetween(start, end, &supervisors);
  const double readerCpu = bench::CpuSecondsBetween(start, end, &readers);
  const double allCpu = bench::CpuSecondsBetween(start, end);
  std::size_t keepAlives = 0;
  for (std::size_t i = 0; i < modems.size(); ++i) {
    const std::vector<std::string> commands = modems[i]->Commands();
    for (std::size_t k = commandsBefore[i]; k < commands.size(); ++k) keepAlives += commands[k] == "AT";
  }
  for (auto& gsm : gsms) gsm->Close();

  const double perComponent = 100.0 * supervisorCpu / wall / components;
  std::printf("components %d, window %.0f s, keep-alives answered %zu (%zu supervisor threads, %zu reader and "
              "line-watch threads)\n",
              components, wall, keepAlives, supervisors.size(), readers.size());
  std::printf("supervisor (keep-alive) %.6f s, %.5f%% of a core per component (target under 0.02%%)\n", supervisorCpu,
              perComponent);
  std::printf("readers and line watch %.6f s, %.5f%% of a core per component\n", readerCpu,
              100.0 * readerCpu / wall / components);
  std::printf("whole process %.6f s, %.5f%% of a core per component (simulators included)\n", allCpu,
              100.0 * allCpu / wall / components);
  return perComponent < 0.02 ? 0 : 2;
}
