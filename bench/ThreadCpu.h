// Processor time of this process's threads from the scheduler's own
// per-thread counters (/proc/self/task/<tid>/schedstat, first field:
// nanoseconds spent on a processor). They count every short wake-up, which
// the tick-sampled times of getrusage or /proc/<pid>/stat miss or lump
// together. Linux only, as the benchmarks that use it.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace bench {

// Nanoseconds on a processor, by thread id, for the threads alive now.
using ThreadTimes = std::map<int, std::uint64_t>;

inline ThreadTimes ReadThreadTimes() {
  ThreadTimes times;
  DIR* dir = ::opendir("/proc/self/task");
  if (!dir) return times;
  while (dirent* e = ::readdir(dir)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/schedstat");
    std::uint64_t ns = 0;
    if (in >> ns) times[std::atoi(e->d_name)] = ns;
  }
  ::closedir(dir);
  return times;
}

inline std::set<int> ThreadIds(const ThreadTimes& times) {
  std::set<int> ids;
  for (const auto& [id, ns] : times) ids.insert(id);
  return ids;
}

// Seconds on a processor between two readings, of the threads alive at the
// second: those in `only` when it is given, and never those in `except`. A
// thread that started between the readings counts from its start.
inline double CpuSecondsBetween(const ThreadTimes& before, const ThreadTimes& after,
                                const std::set<int>* only = nullptr, const std::set<int>* except = nullptr) {
  std::uint64_t ns = 0;
  for (const auto& [id, now] : after) {
    if (only && !only->count(id)) continue;
    if (except && except->count(id)) continue;
    auto was = before.find(id);
    ns += now - (was == before.end() ? 0 : was->second);
  }
  return ns / 1e9;
}

}  // namespace bench
