#include "threads/LineWatch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "component/Thread.h"
#include "port/Connection.h"

namespace vesk {

namespace {

using Steady = std::chrono::steady_clock;

struct TWatchEntry {
  std::weak_ptr<TConnection> link;
  unsigned generation;
  Steady::time_point due;
  unsigned long long id;
};

struct TWatch {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<TWatchEntry> entries;
  unsigned long long lastId = 0;
  bool running = false;
};

TWatch& Watch() {
  // Never destroyed: its thread may still wait on it while the program
  // ends with a connection open.
  static TWatch* watch = new TWatch;
  return *watch;
}

// The first point after `now` of the grid of `interval`: connections with
// the same interval fall due together.
Steady::time_point NextOnGrid(Steady::time_point now, Steady::duration interval) {
  const auto step = interval.count();
  if (step <= 0) return now;
  const auto t = now.time_since_epoch().count();
  return Steady::time_point(Steady::duration((t / step + 1) * step));
}

class TWatchThread : public TThread {
 protected:
  void Execute() override {
    TWatch& w = Watch();
    std::unique_lock<std::mutex> lock(w.mutex);
    for (;;) {
      if (w.entries.empty()) {
        w.running = false;
        return;
      }
      auto earliest =
          std::min_element(w.entries.begin(), w.entries.end(), [](const TWatchEntry& a, const TWatchEntry& b) {
            return a.due < b.due;
          })->due;
      if (Steady::now() < earliest) {
        w.changed.wait_until(lock, earliest);
        continue;
      }
      std::vector<TWatchEntry> due;
      const auto now = Steady::now();
      for (const TWatchEntry& e : w.entries)
        if (e.due <= now) due.push_back(e);
      lock.unlock();
      // Each look, outside the lock: a negative interval says the
      // connection has ended.
      std::vector<double> next;
      next.reserve(due.size());
      for (const TWatchEntry& e : due) {
        std::shared_ptr<TConnection> link = e.link.lock();
        next.push_back(link ? link->CheckLines(e.generation) : -1);
      }
      lock.lock();
      const auto after = Steady::now();
      for (std::size_t i = 0; i < due.size(); ++i) {
        auto it =
            std::find_if(w.entries.begin(), w.entries.end(), [&](const TWatchEntry& e) { return e.id == due[i].id; });
        if (it == w.entries.end()) continue;
        if (next[i] < 0) {
          w.entries.erase(it);
        } else {
          it->due = NextOnGrid(after, std::chrono::duration_cast<Steady::duration>(GetClock()->RealDuration(next[i])));
        }
      }
    }
  }
};

}  // namespace

void WatchLines(const std::shared_ptr<TConnection>& link, unsigned generation) {
  TWatch& w = Watch();
  bool start = false;
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    w.entries.push_back({link, generation, Steady::now(), ++w.lastId});
    start = !w.running;
    w.running = true;
  }
  w.changed.notify_all();
  if (start) TThread::Create<TWatchThread>(false);
}

}  // namespace vesk
