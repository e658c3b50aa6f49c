#include "tools/gateway/Gateway.h"

#include <signal.h>
#include <unistd.h>

#include <ostream>

#include "tools/gateway/Incoming.h"
#include "tools/gateway/MeteredStore.h"

namespace vesk::gateway {

namespace {

bool ProcessAlive(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

Gateway::Gateway(GatewayOptions options) : options_(std::move(options)) {
  if (options_.lease <= 0) options_.lease = static_cast<Millis>(options_.settings.store.leaseSeconds * 1000);
  log_ = std::make_unique<Logger>(options_.logLevel, options_.logFile, options_.clock);
  StoreOptions so;
  so.owner = options_.settings.name;
  so.check = true;
  store_ = std::make_unique<MeteredStore>(OpenStore(options_.settings.store, so), metrics_);
  store_->SetHookedEvents(HookRunner::HookedEvents(options_.settings.hooks));
  store_->SetWebhooks(WebhookSender::Targets(options_.settings.webhooks));
  OutboxPolicy policy;
  policy.maxAttempts = options_.settings.retry.maxAttempts;
  policy.backoff = static_cast<Millis>(options_.settings.retry.backoffSeconds * 1000);
  policy.lease = options_.lease;
  outbox_ = std::make_unique<Outbox>(*store_, options_.settings.name, policy, options_.clock);
  hooks_ = std::make_unique<HookRunner>(*store_, options_.settings.hooks, *log_, options_.clock);
  hooks_->SetMetrics(&metrics_);
  webhooks_ = std::make_unique<WebhookSender>(*store_, options_.settings.webhooks, options_.settings.name, *log_,
                                              options_.clock, &metrics_, options_.heartbeat);
  decoder_ = std::make_unique<IncomingDecoder>();
  if (options_.settings.http.enabled) {
    ApiContext api;
    api.store = store_.get();
    api.token = options_.settings.http.token;
    api.gateway = options_.settings.name;
    api.clock = options_.clock;
    for (const ModemSettings& m : options_.settings.modems) api.modems.insert(m.name);
    api.live = [this] { return LiveModems(); };
    api.queued = [this] { WakeWorkers(); };
    api.metrics = &metrics_;
    api.heartbeat = options_.heartbeat;
    api_ = std::make_unique<Api>(std::move(api));
  }
}

std::vector<LiveModem> Gateway::LiveModems() {
  std::vector<LiveModem> out;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& w : workers_) out.push_back({w->Name(), w->Connected()});
  return out;
}

void Gateway::EventCommitted() {
  hooks_->Wake();
  webhooks_->Wake();
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
  ctx.eventCommitted = [this] { EventCommitted(); };
  ctx.metrics = &metrics_;
  ctx.portsLock = &portsLock_;
  ctx.portsInUse = &portsInUse_;
  ctx.rescan = options_.rescan;
  ctx.idlePoll = options_.idlePoll;
  {
    std::lock_guard<std::mutex> lock(portsLock_);
    for (const ModemSettings& m : options_.settings.modems)
      if (!m.port.empty()) portsInUse_.insert(m.port);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ModemSettings& m : options_.settings.modems) workers_.push_back(std::make_unique<ModemWorker>(m, ctx));
  }
  if (api_) {
    const HttpSettings& h = options_.settings.http;
    http_ = std::make_unique<HttpServer>(*api_);
    http_->Start(h.host, options_.httpPort >= 0 ? options_.httpPort : h.port);
  }
  const std::string where = options_.settings.store.postgres ? "PostgreSQL" : options_.settings.store.path;
  log_->Info("", "",
             "gateway " + name + " started with " + std::to_string(workers_.size()) + " modem(s), store " + where +
                 (http_ ? ", API on " + options_.settings.http.host + ":" + std::to_string(http_->Port()) : ""));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    running_ = true;
  }
  Housekeeping();
  for (auto& w : workers_) w->Start();
  hooks_->Start();
  webhooks_->Start();
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
  if (http_) http_->Stop();
  for (auto& w : workers_) w->RequestStop();
  for (auto& w : workers_) w->Join();
  if (housekeeping_.joinable()) housekeeping_.join();
  hooks_->Stop();
  webhooks_->Stop();
  try {
    const Millis now = options_.clock();
    store_->UpdateGateway({options_.settings.name, static_cast<int>(::getpid()), started_, now, now});
  } catch (const StoreError& e) {
    log_->Error("", "", std::string("cannot record the stop: ") + e.what());
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.clear();
  }
  http_.reset();
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
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& w : workers_) w->Wake();
}

void Gateway::Housekeeping() {
  const Millis now = options_.clock();
  try {
    for (std::int64_t id : store_->ExpireDue(now)) {
      log_->Warn("", MessageSubject(id), "expired: not sent before its not_after time");
      EventCommitted();
    }
    // This gateway's claims hold while it runs; another's that died are
    // settled once their lease ran out.
    if (now >= nextRenew_) {
      store_->RenewLeases(options_.settings.name, now, options_.lease);
      nextRenew_ = now + std::max<Millis>(options_.lease / 4, 100);
    }
    const Recovered reclaimed = store_->ReclaimExpired(now);
    for (std::int64_t id : reclaimed.requeued)
      log_->Warn("", MessageSubject(id), "back in the queue: the gateway that claimed it stopped renewing its lease");
    for (std::int64_t id : reclaimed.uncertain)
      log_->Error("", MessageSubject(id), "uncertain: the gateway that was sending it stopped renewing its lease");
    if (!reclaimed.requeued.empty()) WakeWorkers();
    if (!reclaimed.uncertain.empty()) EventCommitted();
    if (now >= nextPrune_) {
      store_->PruneIdempotencyKeys(now - 86400000);
      nextPrune_ = now + 3600000;
    }
    if (now >= nextStaleCheck_) {
      const Millis olderThan = now - static_cast<Millis>(options_.settings.inbox.incompleteAfterSeconds * 1000);
      const auto ids =
          store_->FinishStaleParts(olderThan, now, [this](const std::vector<IncomingPart>& parts, bool complete) {
            return decoder_->Assemble(parts, complete);
          });
      for (std::int64_t id : ids) {
        log_->Warn("", InboxSubject(id), "stored incomplete: the rest of its parts never came");
        EventCommitted();
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
