// One modem of the gateway: a thread that owns its component (TVeskGSM),
// opens the port, reads what the modem stored, and sends messages from the
// outbox one at a time.
//
//                 open fails: status row says why, tried again every `reopen` s
//            ┌───────────────┐
//            ▼               │
//   ──▶ Closed ──── Open ────┴──▶ Connected ──── set-up, IMEI, every storage read
//            ▲                     │   │   ▲
//            │   port lost         │   │   └── +CMTI: the storage named is read;
//            └── (OnDisconnect) ───┘   │       idle: the next due message is sent,
//            └── Stop: after the  ─────┘       every storage read once a minute
//                current send or message
//
// Everything the modem is asked runs on the worker's thread; the
// component's events (raised on its reader thread) only note what is to do
// and wake the worker. A received message is committed to the store before
// it is deleted from the modem; a send's outcome is committed before the
// next message is taken; the store learns that a body may go out before it
// is written (Outbox).
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/gateway/Config.h"
#include "tools/gateway/Log.h"
#include "tools/gateway/Metrics.h"
#include "tools/gateway/Outbox.h"
#include "tools/gateway/Store.h"

namespace vesk {
class TVeskGSM;
class SerialPlatform;
}  // namespace vesk

namespace vesk::gateway {

class IncomingDecoder;

// What the workers share.
struct WorkerContext {
  Store* store = nullptr;
  Logger* log = nullptr;
  Outbox* outbox = nullptr;
  ClockFn clock;
  std::string gateway;  // this gateway's name
  // Where ports are opened and listed; the machine's when null.
  std::shared_ptr<SerialPlatform> platform;
  // Called after a commit that has an event for hooks.
  std::function<void()> eventCommitted;
  // Ports that workers have open, so that a scan by IMEI leaves them be.
  std::mutex* portsLock = nullptr;
  std::set<std::string>* portsInUse = nullptr;
  // How often every storage is read again while idle.
  Millis rescan = 60000;
  // How long an idle worker waits before it looks at the queue again.
  Millis idlePoll = 250;
  // Where sends are timed (/metrics); none when null.
  Metrics* metrics = nullptr;
};

class ModemWorker {
 public:
  ModemWorker(ModemSettings settings, WorkerContext context);
  ~ModemWorker();
  ModemWorker(const ModemWorker&) = delete;
  ModemWorker& operator=(const ModemWorker&) = delete;

  const std::string& Name() const { return settings_.name; }

  void Start();
  // Finishes what the modem is doing (at most the one message it is
  // sending), then closes the port.
  void RequestStop();
  void Join();
  // The queue changed: look at it now.
  void Wake();

  // A delivery report from this modem (the component's OnStatusReport):
  // paired with its part and committed.
  void OnStatusReport(const StatusReport& report);

  bool Connected() const { return connected_; }

 private:
  class Sender;

  void Run();
  bool Connect();
  bool SetUp(std::string& why);
  std::string FindPortByImei(std::string& why);
  void Disconnect(const std::string& why);
  void ReadStorage(const std::string& storage);
  void SendOne();
  void WriteStatus();
  // The network registration and the operator, asked of the modem.
  void ReadNetwork();
  void NoteError(const std::string& text);
  // A report the component raised: taken now, or after the send under way
  // is recorded.
  void ReportArrived(const StatusReport& report);
  void TakeReportNow(const StatusReport& report);
  void SendingEnded();
  bool WaitFor(Millis ms);
  bool LostOrStopping() const;
  // An AT command's answer lines; empty after a time-out.
  std::vector<std::string> Command(const std::string& command, int seconds = 15);
  // Whether the modem answered the command with OK (the component's rule).
  bool Succeeds(const std::string& command);

  ModemSettings settings_;
  WorkerContext ctx_;
  std::unique_ptr<TVeskGSM> gsm_;
  std::unique_ptr<IncomingDecoder> decoder_;
  std::unique_ptr<Sender> sender_;
  Pacer pacer_;
  std::thread thread_;
  std::thread::id threadId_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  std::set<std::string> toRead_;  // storages a +CMTI named
  std::atomic<bool> stopping_{false};
  std::atomic<bool> lost_{false};
  std::atomic<bool> connected_{false};
  // A status report the component raised could not be committed: stored
  // reports stay on the modem, to be read again.
  std::atomic<bool> reportNotStored_{false};
  std::mutex reportsMutex_;
  bool sending_ = false;
  std::vector<StatusReport> deferredReports_;

  // Worker thread only.
  std::string port_;  // the port in use (found by IMEI or configured)
  std::string imei_;
  std::vector<std::string> storages_;
  std::optional<int> signal_;
  std::string sim_, registration_, operator_;
  std::string lastError_;
  std::optional<Millis> lastErrorAt_;
  Millis nextOpen_ = 0;
  Millis nextScan_ = 0;
  Millis nextStatus_ = 0;
};

}  // namespace vesk::gateway
