// The keep-alive's idle cost: components open on idle modems (the modem
// simulator, each on its pseudo-terminal), the default polling interval
// (Delay 600), KeepAliveInterval 60, the real clock. Processor time comes
// from each thread's scheduler counters (/proc/self/task/*/schedstat):
// the supervisor threads (started when the keep-alive is switched on) and
// the reader threads are told apart by when they appeared.
// Target: the keep-alive under 0.02% of a core per component.
//
//   bench_keepalive_idle [--components 4] [--window 180]
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "component/VeskGSM.h"
#include "tools/simulator/ModemSimulator.h"

namespace {

using Steady = std::chrono::steady_clock;

std::set<std::string> Tasks() {
  std::set<std::string> ids;
  DIR* dir = ::opendir("/proc/self/task");
  if (!dir) return ids;
  while (dirent* e = ::readdir(dir))
    if (e->d_name[0] != '.') ids.insert(e->d_name);
  ::closedir(dir);
  return ids;
}

// Processor time of the threads `ids`, in seconds (the first schedstat field:
// time spent on the processor, in nanoseconds).
double CpuSeconds(const std::set<std::string>& ids) {
  double total = 0;
  for (const std::string& id : ids) {
    std::ifstream stat("/proc/self/task/" + id + "/schedstat");
    unsigned long long ns = 0;
    if (stat >> ns) total += static_cast<double>(ns) / 1e9;
  }
  return total;
}

std::set<std::string> Minus(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::set<std::string> out;
  for (const std::string& x : a)
    if (!b.count(x)) out.insert(x);
  return out;
}

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
  const std::set<std::string> before = Tasks();

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
  const std::set<std::string> readers = Minus(Tasks(), before);
  for (auto& gsm : gsms) gsm->SetKeepAliveInterval(60);
  std::this_thread::sleep_for(std::chrono::seconds(2));  // the IMEI read
  std::set<std::string> supervisors = Minus(Minus(Tasks(), before), readers);

  std::vector<std::size_t> commandsBefore;
  for (auto& m : modems) commandsBefore.push_back(m->Commands().size());
  const double supervisors0 = CpuSeconds(supervisors), readers0 = CpuSeconds(readers), all0 = CpuSeconds(Tasks());
  const auto t0 = Steady::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(window));
  const double wall = std::chrono::duration<double>(Steady::now() - t0).count();
  const double supervisorCpu = CpuSeconds(supervisors) - supervisors0;
  const double readerCpu = CpuSeconds(readers) - readers0;
  const double allCpu = CpuSeconds(Tasks()) - all0;
  std::size_t keepAlives = 0;
  for (std::size_t i = 0; i < modems.size(); ++i) {
    const std::vector<std::string> commands = modems[i]->Commands();
    for (std::size_t k = commandsBefore[i]; k < commands.size(); ++k) keepAlives += commands[k] == "AT";
  }
  for (auto& gsm : gsms) gsm->Close();

  const double perComponent = 100.0 * supervisorCpu / wall / components;
  std::printf("components %d, window %.0f s, keep-alives answered %zu (%zu supervisor threads, %zu reader threads)\n",
              components, wall, keepAlives, supervisors.size(), readers.size());
  std::printf("supervisor (keep-alive) %.6f s, %.5f%% of a core per component (target under 0.02%%)\n", supervisorCpu,
              perComponent);
  std::printf("reader %.6f s, %.5f%% of a core per component\n", readerCpu, 100.0 * readerCpu / wall / components);
  std::printf("whole process %.6f s, %.5f%% of a core per component (simulators included)\n", allCpu,
              100.0 * allCpu / wall / components);
  return perComponent < 0.02 ? 0 : 2;
}
