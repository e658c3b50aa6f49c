// `veskgsm serve`: one process, one store, one worker per modem of the
// configuration, one hook queue, the webhooks' sender and the HTTP API when
// configured, and a housekeeping round every half second (messages past
// their not_after, parts that never completed, the gateway's heartbeat and
// its claims' leases in the store, other gateways' expired claims).
//
//   Gateway(options): opens the log and the store (a store that is not
//     ours, damaged or newer is refused here, untouched)
//   Start: refuses when a gateway of the same name runs on this store;
//     recovers what the last run left `sending` (Store.h); starts the
//     workers, the hooks, the webhooks, the housekeeping and the API (an
//     address that cannot be bound fails the start)
//   Stop (SIGTERM): the API stops taking requests; each worker finishes
//     what it is doing (at most the one message it is sending), closes its
//     modem; the hooks, the webhooks and the housekeeping stop; the
//     gateway's row says it stopped
#pragma once

#include <atomic>
#include <condition_variable>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/gateway/Api.h"
#include "tools/gateway/Config.h"
#include "tools/gateway/Hooks.h"
#include "tools/gateway/HttpServer.h"
#include "tools/gateway/Log.h"
#include "tools/gateway/Metrics.h"
#include "tools/gateway/ModemWorker.h"
#include "tools/gateway/Outbox.h"
#include "tools/gateway/Store.h"
#include "tools/gateway/Webhooks.h"

namespace vesk {
class SerialPlatform;
}

namespace vesk::gateway {

struct GatewayOptions {
  GatewaySettings settings;
  LogLevel logLevel = LogLevel::Info;
  std::string logFile;  // empty: standard error
  ClockFn clock = SystemMillis;
  std::shared_ptr<SerialPlatform> platform;  // where ports are opened; the machine's when null
  Millis heartbeat = 5000;
  Millis rescan = 60000;      // every storage read again while idle
  Millis idlePoll = 250;      // an idle modem looks at the queue
  Millis lease = 0;           // 0: [store] lease
  Millis staleCheck = 60000;  // how often parts that never completed are looked for
  int httpPort = -1;          // -1: as [http] listen says; 0: any free port (tests)
};

class Gateway {
 public:
  explicit Gateway(GatewayOptions options);
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  void Start();
  void Stop();

  // SIGHUP.
  void ReopenLog();
  // One housekeeping round (the housekeeping thread runs one every half
  // second).
  void Housekeeping();

  Store& GetStore() { return *store_; }
  Logger& Log() { return *log_; }
  HookRunner& Hooks() { return *hooks_; }
  Metrics& GetMetrics() { return metrics_; }
  // The port the API listens on; 0 when it does not run.
  int HttpPort() const { return http_ ? http_->Port() : 0; }
  ModemWorker* Worker(const std::string& name);
  // The queue changed (a message was queued in this process).
  void WakeWorkers();

 private:
  void HousekeepingLoop();

  void EventCommitted();
  std::vector<LiveModem> LiveModems();

  GatewayOptions options_;
  Metrics metrics_;
  std::unique_ptr<Logger> log_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<Outbox> outbox_;
  std::unique_ptr<HookRunner> hooks_;
  std::unique_ptr<WebhookSender> webhooks_;
  std::unique_ptr<Api> api_;
  std::unique_ptr<HttpServer> http_;
  std::mutex portsLock_;
  std::set<std::string> portsInUse_;
  std::vector<std::unique_ptr<ModemWorker>> workers_;
  Millis started_ = 0;
  Millis nextHeartbeat_ = 0, nextStaleCheck_ = 0, nextRenew_ = 0, nextPrune_ = 0;
  std::unique_ptr<class IncomingDecoder> decoder_;  // housekeeping thread only

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool running_ = false;
  std::thread housekeeping_;
};

// The whole `serve` command: reads the configuration (an error: exit 2,
// before anything is opened), runs the gateway until SIGTERM or SIGINT
// (exit 0), reopens the log on SIGHUP. Exit 1 when the store or the log
// cannot be opened.
int Serve(const std::string& configPath, const std::string& logLevel, const std::string& logFile, std::ostream& err);

}  // namespace vesk::gateway
