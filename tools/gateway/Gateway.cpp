#include "tools/gateway/Gateway.h"

#include <signal.h>
#include <unistd.h>

#include <ostream>

#include "tools/gateway/Incoming.h"

namespace vesk::gateway {

namespace {

bool ProcessAlive(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

Gateway::Gateway(GatewayOptions options) : options_(std::move(options)) {
  log_ = std::make_unique<Logger>(options_.logLevel, options_.logFile, options_.clock);
  StoreOptions so;
  so.path = options_.settings.store.path;
  so.synchronous = options_.settings.store.synchronous;
  so.check = true;
  store_ = OpenSqliteStore(so);
  store_->SetHookedEvents(HookRunner::HookedEvents(options_.settings.hooks));
  OutboxPolicy policy;
  policy.maxAttempts = options_.settings.retry.maxAttempts;
  policy.backoff = static_cast<Millis>(options_.settings.retry.backoffSeconds * 1000);
  policy.lease = options_.lease;
  outbox_ = std::make_unique<Outbox>(*store_, options_.settings.name, policy, options_.clock);
  hooks_ = std::make_unique<HookRunner>(*store_, options_.settings.hooks, *log_, options_.clock);
  decoder_ = std::make_unique<IncomingDecoder>();
}

Gateway::~Gateway() { Stop(); }

void Gateway::Start() {
  const std::string& name = options_.settings.name;
  const Millis now = options_.clock();
  for (const GatewayStatus& g : store_->ListGateways()) {
    if (g.name != name || g.stopped || g.pid == static_cast<int>(::getpid())) continue;
    if (now - g.heartbeat < 3 * options_.heartbeat && ProcessAlive(g.pid))
      throw StoreError("a gateway named " + name + " runs on this store already (process " + std::to_string(g.pid) +
                       "); give this one another [gateway] name");
  }
  started_ = now;
  store_->UpdateGateway({name, static_cast<int>(::getpid()), started_, now, std::nullopt});
  const Recovered recovered = store_->Recover(name, now);
  for (std::int64_t id : recovered.requeued)
    log_->Info("", MessageSubject(id), "back in the queue: the last run stopped before it reached the modem");
  for (std::int64_t id : recovered.uncertain)
    log_->Error("", MessageSubject(id), "uncertain: the last run stopped while the modem was sending it");

  WorkerContext ctx;
  ctx.store = store_.get();
  ctx.log = log_.get();
  ctx.outbox = outbox_.get();
  ctx.clock = options_.clock;
  ctx.gateway = name;
  ctx.platform = options_.platform;
  ctx.eventCommitted = [this] { hooks_->Wake(); };
  ctx.portsLock = &portsLock_;
  ctx.portsInUse = &portsInUse_;
  ctx.rescan = options_.rescan;
  ctx.idlePoll = options_.idlePoll;
  {
    std::lock_guard<std::mutex> lock(portsLock_);
    for (const ModemSettings& m : options_.settings.modems)
      if (!m.port.empty()) portsInUse_.insert(m.port);
  }
  for (const ModemSettings& m : options_.settings.modems) workers_.push_back(std::make_unique<ModemWorker>(m, ctx));
  log_->Info("", "",
             "gateway " + name + " started with " + std::to_string(workers_.size()) + " modem(s), store " +
                 options_.settings.store.path);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    running_ = true;
  }
  Housekeeping();
  for (auto& w : workers_) w->Start();
  hooks_->Start();
  housekeeping_ = std::thread([this] { HousekeepingLoop(); });
}

void Gateway::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    running_ = false;
    stopping_ = true;
  }
  wake_.notify_all();
  log_->Info("", "", "stopping: each modem finishes what it is doing");
  for (auto& w : workers_) w->RequestStop();
  for (auto& w : workers_) w->Join();
  if (housekeeping_.joinable()) housekeeping_.join();
  hooks_->Stop();
  try {
    const Millis now = options_.clock();
    store_->UpdateGateway({options_.settings.name, static_cast<int>(::getpid()), started_, now, now});
  } catch (const StoreError& e) {
    log_->Error("", "", std::string("cannot record the stop: ") + e.what());
  }
  workers_.clear();
  log_->Info("", "", "stopped");
}

void Gateway::ReopenLog() {
  if (log_->Reopen())
    log_->Info("", "", "log reopened");
  else
    log_->Error("", "", "cannot reopen the log file " + options_.logFile + "; still writing to the old one");
}

ModemWorker* Gateway::Worker(const std::string& name) {
  for (auto& w : workers_)
    if (w->Name() == name) return w.get();
  return nullptr;
}

void Gateway::WakeWorkers() {
  for (auto& w : workers_) w->Wake();
}

void Gateway::Housekeeping() {
  const Millis now = options_.clock();
  try {
    for (std::int64_t id : store_->ExpireDue(now)) {
      log_->Warn("", MessageSubject(id), "expired: not sent before its not_after time");
      hooks_->Wake();
    }
    if (now >= nextStaleCheck_) {
      const Millis olderThan = now - static_cast<Millis>(options_.settings.inbox.incompleteAfterSeconds * 1000);
      const auto ids =
          store_->FinishStaleParts(olderThan, now, [this](const std::vector<IncomingPart>& parts, bool complete) {
            return decoder_->Assemble(parts, complete);
          });
      for (std::int64_t id : ids) {
        log_->Warn("", InboxSubject(id), "stored incomplete: the rest of its parts never came");
        hooks_->Wake();
      }
      nextStaleCheck_ = now + options_.staleCheck;
    }
    if (now >= nextHeartbeat_) {
      store_->UpdateGateway({options_.settings.name, static_cast<int>(::getpid()), started_, now, std::nullopt});
      nextHeartbeat_ = now + options_.heartbeat;
    }
  } catch (const StoreError& e) {
    log_->Error("", "", std::string("housekeeping: the store failed: ") + e.what());
  }
}

void Gateway::HousekeepingLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stopping_; });
    if (stopping_) break;
    lock.unlock();
    Housekeeping();
    lock.lock();
  }
}

int Serve(const std::string& configPath, const std::string& logLevel, const std::string& logFile, std::ostream& err) {
  // The signals are taken by this thread alone, in sigtimedwait below; every
  // thread started from here on inherits the block. A SIGTERM during the
  // start waits for it to finish.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  GatewayOptions options;
  try {
    options.settings = LoadConfig(configPath);
  } catch (const ConfigError& e) {
    err << "veskgsm: " << e.what() << "\n";
    return 2;
  }
  if (options.settings.modems.empty()) {
    err << "veskgsm: " << configPath << ": modem: no [[modem]] table: the gateway has no modem to drive\n";
    return 2;
  }
  const std::optional<LogLevel> level = LogLevelFromName(logLevel);
  if (!level) {
    err << "veskgsm: --log-level must be error, warn, info or debug\n";
    return 2;
  }
  options.logLevel = *level;
  options.logFile = logFile;

  std::unique_ptr<Gateway> gateway;
  try {
    gateway = std::make_unique<Gateway>(std::move(options));
    gateway->Start();
  } catch (const std::exception& e) {
    err << "veskgsm: " << e.what() << "\n";
    return 1;
  }
  for (;;) {
    siginfo_t info;
    timespec wait{1, 0};
    const int s = sigtimedwait(&signals, &info, &wait);
    if (s == SIGTERM || s == SIGINT) break;
    if (s == SIGHUP) gateway->ReopenLog();
  }
  gateway->Stop();
  return 0;
}

}  // namespace vesk::gateway
