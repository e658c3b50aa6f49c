// Hooks: programs the gateway runs after an event is committed, each with
// the message (or inbox entry) as JSON on standard input and its main
// fields in environment variables. They run from a queue of their own, the
// events waiting for a hook in the store, so a restart loses none (and a
// hook that was running when the gateway stopped runs again: hooks are
// called at least once). A hook that fails (exit status not 0, killed,
// cannot be started) is logged and tried again `retries` times,
// `retry_delay` apart; one that runs past its time-out is killed, with its
// process group. The gateway never waits for a hook to go on reading or
// sending messages.
//
// Environment: VESKGSM_EVENT (received, sent, delivered, failed, expired),
// VESKGSM_ID (the message's or inbox entry's id), VESKGSM_MODEM, and
// VESKGSM_FROM for a received message, VESKGSM_TO and VESKGSM_STATE for an
// outgoing one, VESKGSM_TEXT.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "tools/gateway/Config.h"
#include "tools/gateway/Log.h"
#include "tools/gateway/Metrics.h"
#include "tools/gateway/Store.h"

namespace vesk::gateway {

struct HookRun {
  bool ok = false;
  bool timedOut = false;
  std::string error;  // why not ok
};

// Runs one program to its end or its time-out. `stop`, when it becomes
// true, kills the program after `grace`. `output` receives the program's
// standard output and error (a descriptor; -1: /dev/null).
HookRun RunProgram(const HookCommand& command, const std::string& input,
                   const std::map<std::string, std::string>& environment, Millis timeout, int output,
                   const std::atomic<bool>* stop = nullptr, Millis grace = 0);

class HookRunner {
 public:
  HookRunner(Store& store, HookSettings settings, Logger& log, ClockFn clock);
  ~HookRunner();
  HookRunner(const HookRunner&) = delete;
  HookRunner& operator=(const HookRunner&) = delete;

  // The event kinds that have a hook: "received", "sent", "delivered",
  // "failed" and "expired" (both by on_failed).
  static std::set<std::string> HookedEvents(const HookSettings& settings);

  void Start();
  // Stops taking jobs; a hook that runs gets a few seconds more, then is
  // killed (its event stays due and runs again at the next start).
  void Stop();
  // An event was committed: look for jobs now.
  void Wake();

  // Runs the due jobs now, on the calling thread (tests).
  int RunDue();
  // Where failures are counted (/metrics); none when null.
  void SetMetrics(Metrics* metrics) { metrics_ = metrics; }

 private:
  void Loop();
  bool RunOne(const HookJob& job);
  const HookCommand* CommandFor(const std::string& kind) const;

  Store& store_;
  HookSettings settings_;
  Logger& log_;
  ClockFn clock_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  Metrics* metrics_ = nullptr;
};

}  // namespace vesk::gateway
