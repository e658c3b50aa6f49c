// The connection's state machine (see Connection.h for the diagram) and the
// reader and reconnect threads' bodies.
//
// Errors. Serial device and platform calls never raise: their results say
// what went wrong. The host's bookkeeping calls (settings, line settings,
// lines, the port list, what there is to dispatch, forgetting the port)
// never raise either. What may raise is the host's code that runs the
// application's or writes the log, and it is caught in three places only:
//   1. the reader thread's body: a modem set-up that fails leaves the modem
//      as it is; reading that fails (a traffic log that cannot be written)
//      ends the connection, which is then reported like any other end;
//   2. raising events from the reader thread: a dispatcher whose handler
//      fails ends the connection the same way; a failing OnFault or
//      OnDisconnect is forgotten, the connection ends all the same;
//   3. a reconnection attempt: the next attempt may succeed.
// OnConnect raises to the caller of Open (on the reconnect thread, into the
// third). Nothing else here catches.
#include "port/Connection.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "threads/ComThread.h"
#include "threads/LineWatch.h"
#include "threads/ReconnectThread.h"

namespace vesk {

namespace {

using Steady = std::chrono::steady_clock;

// How long Close and destruction wait for the reader thread to end.
constexpr auto kEndWait = std::chrono::seconds(2);
// With no Delay (0 or less) the modem lines are still looked at this often
// (milliseconds of the component's clock).
constexpr double kNoDelayCheckMs = 1000;
// While the dispatcher holds back an incomplete piece, the reader looks
// again at least this often, so that the piece goes out on time.
constexpr double kHeldInputCheckMs = 250;

// The calling thread's record of its visits: the innermost, each linked to
// the one around it. The library's one thread-local, a plain pointer:
// nothing here needs a per-thread destructor, which MinGW's runtime
// registers and runs through its thread library at each thread's end.
thread_local const TConnection::Visit* tInnermostVisit = nullptr;

Steady::time_point DeadlineAfter(double clockMs) {
  return Steady::now() + std::chrono::duration_cast<Steady::duration>(GetClock()->RealDuration(clockMs < 0 ? 0 : clockMs));
}

// Real milliseconds left until `deadline`, rounded up.
int MillisecondsUntil(Steady::time_point deadline) {
  auto left = deadline - Steady::now();
  if (left <= Steady::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

bool Live(TLinkState s) { return s == TLinkState::SettingUp || s == TLinkState::Open; }

TLineStatusSet LinesOf(std::uint32_t bits) {
  TLineStatusSet lines;
  if (bits & kModemCTS) lines.Include(lsCTS);
  if (bits & kModemDSR) lines.Include(lsDSR);
  if (bits & kModemRING) lines.Include(lsRING);
  if (bits & kModemRLSD) lines.Include(lsDCD);
  return lines;
}

}  // namespace

TConnection::TConnection(TConnectionHost* host) : host_(host) {}

// ---------------------------------------------------------------- visits

TConnection::Visit::Visit(TConnection& link, TVisitKind kind) : link_(link.shared_from_this()), kind_(kind) {
  std::lock_guard<std::mutex> lock(link.mutex_);
  if (link.ownerGone_) return;
  host_ = link.host_;
  ++link.visits_;
  outer_ = tInnermostVisit;
  tInnermostVisit = this;
}

TConnection::Visit::~Visit() {
  if (!host_) return;
  std::lock_guard<std::mutex> lock(link_->mutex_);
  --link_->visits_;
  // Visits are scoped, so this one is the thread's innermost.
  tInnermostVisit = outer_;
  link_->changed_.notify_all();
}

bool TConnection::VisitedHostGone() {
  const Visit* innermost = tInnermostVisit;
  return innermost && innermost->link_->OwnerGone();
}

int TConnection::OwnVisits() const {
  int n = 0;
  for (const Visit* v = tInnermostVisit; v; v = v->outer_) n += v->link_.get() == this;
  return n;
}

bool TConnection::OwnerGone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ownerGone_;
}

bool TConnection::ReaderWaitsForCaller() const {
  for (const Visit* v = tInnermostVisit; v; v = v->outer_)
    if (v->link_.get() == this && v->kind_ != TVisitKind::Inside) return true;
  std::shared_ptr<TComThread> reader = Reader();
  return reader && reader->IsCurrentThread();
}

void TConnection::OwnerDestroyed() {
  std::shared_ptr<TComThread> reader;
  std::shared_ptr<TReconnectThread> reconnect;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ownerGone_ = true;
    reconnectStopped_ = true;
    if (Live(state_)) EndLocked(TLinkState::Closing);
    reader = reader_;
    reconnect = reconnect_;
    changed_.notify_all();
  }
  if (reader) reader->Terminate();
  if (reconnect) reconnect->Terminate();
  bool readerWaitsForUs = ReaderWaitsForCaller() || (reconnect && reconnect->IsCurrentThread());
  // Other threads inside the host finish what they are doing (every wait
  // of theirs has just been woken). A synchronized call that a reader
  // thread queued runs here and finds the host gone.
  std::unique_lock<std::mutex> lock(mutex_);
  int own = OwnVisits();
  WaitRunningMainThread(lock, [&] { return visits_ <= own; }, Steady::time_point::max());
  // The reader thread closes the device as it ends; unless it waits for
  // this very thread, wait for that (bounded) so that no thread of a
  // destroyed component outlives it by long.
  if (reader && !readerWaitsForUs)
    WaitRunningMainThread(lock, [&] { return !readerRunning_; }, Steady::now() + kEndWait);
}

void TConnection::WaitRunningMainThread(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done,
                                        std::chrono::steady_clock::time_point deadline) {
  bool onMain = IsMainThread();
  while (!done() && Steady::now() < deadline) {
    if (onMain) {
      // A synchronized call that a reader thread waits for runs here, so
      // that the reader can go on and end.
      lock.unlock();
      ProcessMessages();
      lock.lock();
    }
    changed_.wait_for(lock, std::chrono::milliseconds(onMain ? 2 : 20));
  }
}

// ---------------------------------------------------------------- state

std::shared_ptr<SerialDevice> TConnection::Device() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Live(state_) ? device_ : nullptr;
}

unsigned TConnection::Generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

TLinkState TConnection::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

bool TConnection::Active(unsigned generation) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_ == generation && Live(state_);
}

std::shared_ptr<TComThread> TConnection::Reader() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reader_;
}

void TConnection::EndLocked(TLinkState state) {
  state_ = state;
  // Whoever waits on the device (the reader, a command's answer) wakes now.
  if (device_) device_->Wake();
  changed_.notify_all();
}

unsigned TConnection::Begin(std::shared_ptr<SerialDevice> device, TCommPort port, bool skipInit) {
  std::shared_ptr<TComThread> reader;
  unsigned generation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A reconnection stopped (by Close, Open or destruction) while its
    // attempt was opening the device does not go on to connect.
    bool stopped = ownerGone_ || (reconnectStopped_ && reconnect_ && reconnect_->IsCurrentThread());
    if (stopped || !device) {
      if (device) device->Close();
      return 0;
    }
    generation = ++generation_;
    state_ = TLinkState::SettingUp;
    device_ = std::move(device);
    port_ = port;
    {
      std::lock_guard<std::mutex> lines(linesLock_);
      lines_ = TLineStatusSet();
    }
    connectReported_ = false;
    settled_ = false;
    readerRunning_ = true;
    reader_ = reader = TThread::Create<TComThread>(true, shared_from_this(), generation, skipInit);
  }
  reader->Start();
  return generation;
}

void TConnection::Announce(unsigned generation) {
  TCommPort port;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    port = port_;
  }
  // However this ends (OnConnect may raise), the connection's end may be
  // reported from now on.
  auto reported = OnScopeExit([this, generation] {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation_ == generation) connectReported_ = true;
    changed_.notify_all();
  });
  // Gives the reader thread time to apply the line settings, and makes sure
  // it has: a command sent before would lose its answer to their purge.
  Pause(50);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return generation_ != generation || settled_ || !Live(state_); });
  }
  Visit connecting(*this, TVisitKind::Connecting);
  if (connecting) connecting->Connected(port);
}

void TConnection::Close() {
  std::shared_ptr<TComThread> reader;
  std::shared_ptr<TReconnectThread> reconnect;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reconnectStopped_ = true;
    reconnect = reconnect_;
    if (Live(state_)) EndLocked(TLinkState::Closing);
    reader = readerRunning_ ? reader_ : nullptr;
    changed_.notify_all();
  }
  if (reconnect && !reconnect->IsCurrentThread()) reconnect->Terminate();
  if (!reader) return;
  reader->Terminate();
  if (ReaderWaitsForCaller()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  WaitRunningMainThread(lock, [&] { return !readerRunning_ || reader_ != reader; }, Steady::now() + kEndWait);
}

void TConnection::ReportLost(unsigned generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation_ == generation && Live(state_)) EndLocked(TLinkState::Lost);
}

void TConnection::EndActive(unsigned generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation_ == generation && Live(state_)) EndLocked(TLinkState::Closing);
}

void TConnection::CheckDevice(const std::shared_ptr<SerialDevice>& device) {
  if (!device) return;
  unsigned generation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (device_ != device || !Live(state_)) return;
    generation = generation_;
  }
  std::uint32_t errors = 0, queued = 0;
  if (!device->QueuedInput(errors, queued)) ReportLost(generation);
}

bool TConnection::Pause(double ms) {
  auto deadline = DeadlineAfter(ms);
  std::unique_lock<std::mutex> lock(mutex_);
  unsigned generation = generation_;
  auto ended = [&] { return generation_ != generation || !Live(state_); };
  if (ended()) return false;
  return !changed_.wait_until(lock, deadline, ended);
}

// ---------------------------------------------------------------- news

unsigned TConnection::NewsCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return news_;
}

void TConnection::ReportNews() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++news_;
  changed_.notify_all();
}

bool TConnection::WaitForNews(unsigned seen, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  const unsigned generation = generation_;
  auto ended = [&] { return generation_ != generation || !Live(state_) || ownerGone_; };
  auto done = [&] { return news_ != seen || ended(); };
  if (IsMainThread())
    WaitRunningMainThread(lock, done, deadline);
  else
    changed_.wait_until(lock, deadline, done);
  return !ended();
}

void TConnection::WakeReader() {
  std::shared_ptr<SerialDevice> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Live(state_)) return;
    device = device_;
  }
  if (device) device->Nudge();
}

// ---------------------------------------------------------------- the port's lock

unsigned TConnection::AcquirePort(bool wait, bool dialogue) {
  auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mutex_);
  unsigned generation = generation_;
  for (;;) {
    if (generation_ != generation || !Live(state_)) return 0;
    // A hold of a connection that has ended ended with it.
    if (portDepth_ > 0 && portGeneration_ != generation_) portDepth_ = dialogueDepth_ = 0;
    if (portDepth_ == 0 || portOwner_ == self) {
      if (portDepth_ == 0) {
        portOwner_ = self;
        portGeneration_ = generation;
        portHeldByReader_ = false;
      }
      ++portDepth_;
      dialogueDepth_ += dialogue;
      return generation;
    }
    if (!wait) return 0;
    changed_.wait(lock);
  }
}

bool TConnection::ReleasePort(unsigned generation, bool dialogue) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation == 0 || portGeneration_ != generation || portDepth_ == 0 || portOwner_ != std::this_thread::get_id())
    return false;
  const bool outermostDialogue = dialogue && dialogueDepth_ > 0 && --dialogueDepth_ == 0;
  if (--portDepth_ == 0) {
    portOwner_ = std::thread::id();
    portHeldByReader_ = false;
    changed_.notify_all();
  }
  return outermostDialogue;
}

bool TConnection::TakePortForReader(unsigned generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation_ != generation || !Live(state_)) return false;
  if (portDepth_ > 0 && portGeneration_ == generation_) return false;
  portOwner_ = std::this_thread::get_id();
  portGeneration_ = generation;
  portDepth_ = 1;
  dialogueDepth_ = 0;
  portHeldByReader_ = true;
  return true;
}

bool TConnection::DialogueUnderWay() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return portDepth_ > 0 && portGeneration_ == generation_ && !portHeldByReader_;
}

// ---------------------------------------------------------------- the reader

void TConnection::RunReader(unsigned generation, bool skipInit) {
  std::shared_ptr<SerialDevice> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    device = device_;
  }
  if (!device || !SetUp(generation, device, skipInit)) {
    EndReader(generation);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation_ == generation && state_ == TLinkState::SettingUp) state_ = TLinkState::Open;
  }

  // The lines and the port list are the line watch's from now on.
  WatchLines(shared_from_this(), generation);
  bool deviceGone = false;
  while (Active(generation)) {
    bool synchronized = false;
    {
      Visit host(*this);
      if (!host) break;
      synchronized = host->ConnectionSettings().NeedSynchronization;
      // The port, unless a dialogue has it: that reads what comes itself.
      if (TakePortForReader(generation)) {
        auto release = OnScopeExit([&] { ReleasePort(generation, false); });
        try {
          if (Poll(*host.operator->(), *device, deviceGone) == TPollOutcome::Lost) ReportLost(generation);
        } catch (...) {
          // (1) A log that cannot be written ends the connection.
          EndActive(generation);
        }
      }
    }
    if (!Active(generation)) break;
    Dispatch(generation, synchronized);
    IdleWork(generation);
    if (!Active(generation)) break;
    bool holdsInput = false;
    double idleIn = -1;
    {
      Visit host(*this);
      if (host) {
        holdsInput = host->InputToDispatch();
        idleIn = host->IdleWorkDueIn();
      }
    }
    // Input, a loss, the end and WakeReader wake the reader; by itself it
    // looks again only for a piece the dispatcher holds back (in time to
    // send it on once its bound has passed) and for idle work planned.
    double waitMs = holdsInput ? kHeldInputCheckMs : -1;
    if (idleIn >= 0) waitMs = waitMs < 0 ? idleIn : std::min(waitMs, idleIn);
    const TDeviceEvent event =
        WaitForWork(generation, *device, waitMs < 0 ? Steady::time_point::max() : DeadlineAfter(waitMs));
    deviceGone = event == TDeviceEvent::Gone;
    if (event == TDeviceEvent::Lines) CheckLines(generation);
  }
  EndReader(generation);
}

double TConnection::CheckLines(unsigned generation) {
  std::shared_ptr<SerialDevice> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation_ != generation || !Live(state_)) return -1;
    device = device_;
  }
  Visit host(*this);
  if (!host || !device) return -1;
  const TConnectionSettings settings = host->ConnectionSettings();
  const double interval = settings.Delay > 0 ? settings.Delay : kNoDelayCheckMs;
  // A dialogue has the port: it is left alone this time.
  if (DialogueUnderWay()) return interval;
  bool lost = false;
  {
    std::lock_guard<std::mutex> lock(linesLock_);
    // A failing status query counts as all lines low.
    std::uint32_t bits = 0;
    if (!device->ModemStatus(bits)) bits = 0;
    const TLineStatusSet lines = LinesOf(bits);
    if (lines != lines_) {
      lines_ = lines;
      host->LinesChanged(lines);
      // Lines that were up and have all dropped: the device is gone. Lines
      // that were never up (a pseudo-terminal, a cable without them) are no
      // change and no fault.
      lost = settings.CloseWhenLineStatusIsZero && lines.Empty();
    }
  }
  // (A device that fails or hangs up ends the reader's wait on it: the
  // reader finds that loss at once.) The port list, only with a Delay long
  // enough to pay for it.
  if (!lost && settings.Delay >= settings.MinCheckDisconnectedInterval && !host->PortListed()) lost = true;
  if (lost) ReportLost(generation);
  return interval;
}

bool TConnection::SetUp(unsigned generation, const std::shared_ptr<SerialDevice>& device, bool skipInit) {
  Visit host(*this);
  if (!host) return false;
  bool settled = false;
  // The settings drop pending input: no command may be under way meanwhile.
  if (unsigned held = AcquirePort(true)) {
    auto release = OnScopeExit([&] { ReleasePort(held); });
    settled = host->ApplyLineSettings(*device) || host->ConnectionSettings().SkipSetupFailed;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation_ == generation) settled_ = true;
    changed_.notify_all();
  }
  if (!settled) {
    EndActive(generation);
    return false;
  }
  if (!skipInit) {
    try {
      host->SetUpModem();
    } catch (...) {
      // (1) A set-up command that fails leaves the modem as it is; a port
      // lost meanwhile is found by the first look at the port.
    }
  }
  return true;
}

TConnection::TPollOutcome TConnection::Poll(TConnectionHost& host, SerialDevice& device, bool deviceGone) {
  std::uint32_t errors = 0, queued = 0;
  // A device that cannot even count its input has failed or hung up.
  if (!device.QueuedInput(errors, queued)) return TPollOutcome::Lost;
  if (queued == 0) return deviceGone ? TPollOutcome::Lost : TPollOutcome::Quiet;
  AnsiString chunk(queued, '\0');
  std::uint32_t got = 0;
  bool ok = device.Read(&chunk[0], queued, got);
  chunk.resize(got);
  if (got == 0) return !ok || deviceGone ? TPollOutcome::Lost : TPollOutcome::Quiet;
  host.Received(chunk);
  return TPollOutcome::Read;
}

void TConnection::Dispatch(unsigned generation, bool synchronized) {
  {
    Visit host(*this);
    // A dialogue under way dispatches what it read itself, as it ends.
    if (!host || DialogueUnderWay() || !host->InputToDispatch()) return;
  }
  RunForReader(generation, synchronized, &TConnectionHost::Dispatch);
}

void TConnection::RunForReader(unsigned generation, bool synchronized, void (TConnectionHost::*work)()) {
  auto run = [this, work](TVisitKind kind) {
    Visit host(*this, kind);
    if (host) (host.operator->()->*work)();
  };
  try {
    if (!synchronized)
      run(TVisitKind::Inside);
    else
      TThread::Synchronize([&run] { run(TVisitKind::ForReader); },
                           [this, generation] { return !Active(generation) || OwnerGone(); });
  } catch (...) {
    // (2) An event handler that fails ends the connection, which is then
    // reported like any other end (OnDisconnect).
    EndActive(generation);
  }
}

TDeviceEvent TConnection::WaitForWork(unsigned generation, SerialDevice& device, Steady::time_point deadline) {
  {
    // While a dialogue holds the port it reads what comes: the reader waits
    // for it to let go instead.
    std::unique_lock<std::mutex> lock(mutex_);
    auto portBusy = [&] { return portDepth_ > 0 && portGeneration_ == generation_; };
    if (portBusy()) {
      auto free = [&] { return !portBusy() || generation_ != generation || !Live(state_); };
      if (deadline == Steady::time_point::max())
        changed_.wait(lock, free);
      else
        changed_.wait_until(lock, deadline, free);
      return TDeviceEvent::TimedOut;
    }
  }
  return device.Wait(deadline == Steady::time_point::max() ? -1 : MillisecondsUntil(deadline));
}

void TConnection::IdleWork(unsigned generation) {
  bool synchronized = false;
  {
    Visit host(*this);
    // Only while the port is idle: no dialogue, nothing left to dispatch.
    if (!host || DialogueUnderWay() || host->InputToDispatch() || host->IdleWorkDueIn() != 0) return;
    synchronized = host->ConnectionSettings().NeedSynchronization;
  }
  // The work runs commands and may raise events: on the main thread when
  // the application wants its events there.
  RunForReader(generation, synchronized, &TConnectionHost::DoIdleWork);
}

void TConnection::EndReader(unsigned generation) {
  bool lost;
  TCommPort port;
  std::shared_ptr<SerialDevice> device;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // The connection's OnConnect comes first.
    changed_.wait(lock, [&] { return connectReported_ || generation_ != generation || ownerGone_; });
    lost = state_ == TLinkState::Lost;
    if (generation_ == generation && Live(state_)) EndLocked(TLinkState::Closing);
    port = port_;
    device = device_;
  }

  if (lost) {
    bool synchronized = false;
    {
      Visit host(*this);
      synchronized = host && host->ConnectionSettings().NeedSynchronization;
    }
    auto fault = [this, port](TVisitKind kind) {
      Visit host(*this, kind);
      if (host) host->Faulted(port);
    };
    try {
      if (synchronized)
        TThread::Synchronize([&fault] { fault(TVisitKind::ForReader); }, [this] { return OwnerGone(); });
      else
        fault(TVisitKind::Inside);
    } catch (...) {
      // (2) The connection ends all the same.
    }
  }
  {
    Visit host(*this);
    if (host) {
      try {
        host->Disconnected(port);
      } catch (...) {
        // (2) The device is released all the same.
      }
    }
  }
  if (device) {
    device->Purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
    device->Close();
  }
  bool reconnect = false;
  {
    Visit host(*this);
    if (host) {
      host->Released();
      // Read now: OnFault may have switched it.
      reconnect = lost && host->ConnectionSettings().AutoReconnect;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation_ == generation) {
    state_ = TLinkState::Closed;
    device_.reset();
    port_ = spNone;
    if (reconnect && !ownerGone_) {
      reconnectStopped_ = false;
      StartReconnectLocked();
    }
  }
  readerRunning_ = false;
  reader_.reset();
  changed_.notify_all();
}

// ---------------------------------------------------------------- reconnecting

void TConnection::StartReconnectLocked() {
  if (reconnect_ && !reconnect_->Finished()) return;
  reconnect_ = TThread::Create<TReconnectThread>(true, shared_from_this());
  reconnect_->Start();
}

void TConnection::StopReconnect() {
  std::shared_ptr<TReconnectThread> reconnect;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reconnectStopped_ = true;
    reconnect = reconnect_;
    changed_.notify_all();
  }
  if (reconnect && !reconnect->IsCurrentThread()) reconnect->Terminate();
}

bool TConnection::OnReconnectThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reconnect_ && reconnect_->IsCurrentThread();
}

void TConnection::RunReconnect() {
  for (;;) {
    double interval;
    {
      Visit host(*this);
      if (!host) break;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reconnectStopped_ || state_ != TLinkState::Closed) break;
      }
      const TConnectionSettings settings = host->ConnectionSettings();
      if (!settings.AutoReconnect) break;
      interval = settings.AutoReconnectCheckInterval;
      try {
        if (host->Reopen()) break;
      } catch (...) {
        // (3) Listed again but not ready yet (busy, not accessible): the
        // next attempt may succeed.
      }
    }
    auto deadline = DeadlineAfter(interval);
    std::unique_lock<std::mutex> lock(mutex_);
    if (changed_.wait_until(lock, deadline, [&] { return reconnectStopped_ || ownerGone_; })) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (reconnect_ && reconnect_->IsCurrentThread()) reconnect_.reset();
}

}  // namespace vesk
