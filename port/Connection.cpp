// The connection's state machine (see Connection.h for the diagram), the
// reader and reconnect threads' bodies, and the component's Open and Close.
#include "port/Connection.h"

#include <algorithm>
#include <chrono>

#include "component/VeskGSM.h"
#include "threads/ComThread.h"
#include "threads/ReconnectThread.h"

namespace vesk {

namespace {

using Steady = std::chrono::steady_clock;

// How long Close and destruction wait for the reader thread to end.
constexpr auto kEndWait = std::chrono::seconds(2);
// The longest a wait on the device blocks before it looks at the state
// again (real time).
constexpr int kInputSliceMs = 100;

// The calling thread's innermost visit (each visit links to the one around
// it); and the connection whose reader thread the calling thread runs a
// synchronized call for. Plain pointers: nothing here needs a per-thread
// destructor, which MinGW's runtime registers and runs through its thread
// library at each thread's end.
thread_local const TConnection::Visit* tInnermostVisit = nullptr;
thread_local const TConnection* tSyncFor = nullptr;
// The connection whose OnConnect the calling thread raises.
thread_local const TConnection* tConnecting = nullptr;

Steady::time_point DeadlineAfter(double clockMs) {
  return Steady::now() + std::chrono::duration_cast<Steady::duration>(GetClock()->RealDuration(clockMs < 0 ? 0 : clockMs));
}

bool Live(TLinkState s) { return s == TLinkState::SettingUp || s == TLinkState::Open; }

}  // namespace

TConnection::TConnection(TVeskGSM* owner) : owner_(owner) {}

// ---------------------------------------------------------------- visits

TConnection::Visit::Visit(TConnection& link) : link_(link), owner_(nullptr) {
  std::lock_guard<std::mutex> lock(link_.mutex_);
  if (link_.ownerGone_) return;
  owner_ = link_.owner_;
  ++link_.visits_;
  outer_ = tInnermostVisit;
  tInnermostVisit = this;
}

TConnection::Visit::~Visit() {
  if (!owner_) return;
  std::lock_guard<std::mutex> lock(link_.mutex_);
  --link_.visits_;
  // Visits are scoped, so this one is the thread's innermost.
  tInnermostVisit = outer_;
  link_.changed_.notify_all();
}

int TConnection::OwnVisits() const {
  int n = 0;
  for (const Visit* v = tInnermostVisit; v; v = v->outer_) n += &v->link_ == this;
  return n;
}

bool TConnection::OwnerGone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ownerGone_;
}

TConnection::Connecting::Connecting(const TConnection& link) : outer_(tConnecting) { tConnecting = &link; }
TConnection::Connecting::~Connecting() { tConnecting = outer_; }

bool TConnection::ReaderWaitsForCaller() const {
  if (tSyncFor == this || tConnecting == this) return true;
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
    if (Live(state_)) state_ = TLinkState::Closing;
    reader = reader_;
    reconnect = reconnect_;
    changed_.notify_all();
  }
  if (reader) reader->Terminate();
  if (reconnect) reconnect->Terminate();
  bool readerWaitsForUs = ReaderWaitsForCaller() || (reconnect && reconnect->IsCurrentThread());
  // Other threads inside the component finish what they are doing (every
  // wait of theirs has just been woken). A synchronized call that a reader
  // thread queued runs here and finds the component gone.
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

unsigned TConnection::Begin(std::shared_ptr<SerialDevice> device, TCommPort port, bool skipInit) {
  std::shared_ptr<TComThread> reader;
  unsigned generation;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A reconnection stopped (by Close, Open or destruction) while its
    // attempt was opening the device does not go on to connect.
    bool stopped = ownerGone_ || (reconnectStopped_ && reconnect_ && reconnect_->IsCurrentThread());
    if (stopped) {
      device->Close();
      return 0;
    }
    generation = ++generation_;
    state_ = TLinkState::SettingUp;
    device_ = std::move(device);
    port_ = port;
    connectReported_ = false;
    settled_ = false;
    readerRunning_ = true;
    reader_ = reader = TThread::Create<TComThread>(true, shared_from_this(), generation, skipInit);
  }
  reader->Start();
  return generation;
}

void TConnection::WaitSettled(unsigned generation) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return generation_ != generation || settled_ || !Live(state_); });
}

void TConnection::ConnectReported(unsigned generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation_ == generation) connectReported_ = true;
  changed_.notify_all();
}

void TConnection::Close() {
  std::shared_ptr<TComThread> reader;
  std::shared_ptr<TReconnectThread> reconnect;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reconnectStopped_ = true;
    reconnect = reconnect_;
    if (Live(state_)) state_ = TLinkState::Closing;
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
  if (generation_ != generation || !Live(state_)) return;
  state_ = TLinkState::Lost;
  changed_.notify_all();
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

bool TConnection::WaitForInput(const std::shared_ptr<SerialDevice>& device, double ms) {
  auto deadline = DeadlineAfter(ms);
  unsigned generation = Generation();
  for (;;) {
    if (!Active(generation)) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
    if (left <= 0) return true;
    if (device->WaitForInput(static_cast<int>(std::min<long long>(left, kInputSliceMs)))) return true;
  }
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

// ---------------------------------------------------------------- the port's lock

bool TConnection::AcquirePort(bool wait) {
  auto self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mutex_);
  unsigned generation = generation_;
  for (;;) {
    if (generation_ != generation || !Live(state_)) return false;
    if (portDepth_ == 0 || portOwner_ == self) {
      portOwner_ = self;
      ++portDepth_;
      return true;
    }
    if (!wait) return false;
    changed_.wait(lock);
  }
}

bool TConnection::ReleasePort() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (portDepth_ == 0 || portOwner_ != std::this_thread::get_id()) return false;
  if (--portDepth_ > 0) return false;
  portOwner_ = std::thread::id();
  changed_.notify_all();
  return true;
}

// ---------------------------------------------------------------- the reader

void TConnection::RunReader(unsigned generation, bool skipInit) {
  std::shared_ptr<SerialDevice> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    device = device_;
  }
  // Line settings and the modem set-up.
  {
    Visit owner(*this);
    if (!owner || !device) {
      EndReader(generation);
      return;
    }
    bool settled = false;
    // The settings drop pending input: no command may be under way meanwhile.
    if (AcquirePort(true)) {
      try {
        settled = owner->SetDCBState(device.get()) || owner->FSkipSetupFailed;
        if (settled) {
          owner->SetTimeOuts(device.get());
          owner->SetBuffers(device.get());
        }
      } catch (...) {
        settled = false;
      }
      ReleasePort();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (generation_ == generation) settled_ = true;
      changed_.notify_all();
    }
    if (!settled) {
      EndActive(generation);
      EndReader(generation);
      return;
    }
    if (!skipInit) {
      try {
        owner->InitGSMModem();
      } catch (...) {
        // A set-up command that fails leaves the modem as it is; a port
        // lost meanwhile is found below.
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation_ == generation && state_ == TLinkState::SettingUp) state_ = TLinkState::Open;
  }

  double delay = 0;
  while (Active(generation)) {
    {
      Visit owner(*this);
      if (!owner) break;
      try {
        if (!Poll(generation, owner.operator->(), device)) ReportLost(generation);
      } catch (...) {
        EndActive(generation);
      }
      delay = owner->FDelay;
    }
    if (!Active(generation)) break;
    Dispatch(generation);
    IdleWork(generation);
    if (!WaitInterval(generation, delay, device)) break;
  }
  EndReader(generation);
}

bool TConnection::WaitInterval(unsigned generation, double ms, const std::shared_ptr<SerialDevice>& device) {
  if (ms > 0) {
    auto deadline = DeadlineAfter(ms);
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_until(lock, deadline, [&] { return generation_ != generation || !Live(state_); });
  }
  // No interval: wait on the port for input instead of spinning.
  return WaitForInput(device, 1000) && Active(generation);
}

bool TConnection::Poll(unsigned generation, TVeskGSM* owner, const std::shared_ptr<SerialDevice>& device) {
  // A command has the port: leave it alone this cycle.
  if (owner->FPauseThread || !AcquirePort(false)) return true;
  struct Release {
    TConnection& link;
    ~Release() { link.ReleasePort(); }
  } release{*this};

  TLineStatusSet status = owner->GetLineStatus(device.get());
  if (status.Bits() != owner->FLineStatus.load()) {
    owner->FLineStatus = static_cast<std::uint8_t>(status.Bits());
    // Lines that were up and have all dropped: the device is gone. Lines
    // that were never up (a pseudo-terminal, a cable without them) are no
    // change and no fault.
    if (owner->FCloseWhenLineStatusIsZero && status.Empty()) return false;
  }

  auto portListed = [&] {
    if (owner->FDelay < owner->FMinCheckDisconnectedInterval) return true;
    try {
      return owner->IsExistingCommPort(owner->CommPortToString(owner->GetCommPort()));
    } catch (...) {
      return true;
    }
  };

  std::uint32_t errors = 0, queued = 0;
  // A device that cannot even count its input has failed or hung up.
  if (!device->QueuedInput(errors, queued)) return !Active(generation);
  if (queued == 0) return portListed();
  AnsiString chunk(queued, '\0');
  std::uint32_t got = 0;
  bool ok = device->Read(&chunk[0], queued, got);
  chunk.resize(got);
  if (got == 0) return ok ? portListed() : !Active(generation);
  owner->FLastReceived = Now();
  owner->AppendReadBuffer(chunk);
  // A log that cannot be written ends the connection (the caller closes).
  owner->LogReceived(chunk);
  return true;
}

void TConnection::Dispatch(unsigned generation) {
  bool synchronized;
  {
    Visit owner(*this);
    if (!owner || owner->FPauseThread) return;
    if (owner->PeekReadBuffer().empty() && !owner->DispatcherHoldsInput()) return;
    synchronized = owner->FNeedSynchronization;
  }
  auto run = [this] {
    const TConnection* outer = tSyncFor;
    Visit owner(*this);
    if (!owner) return;
    owner->ProcessAT();
    tSyncFor = outer;
  };
  try {
    if (!synchronized) {
      run();
      return;
    }
    TThread::Synchronize(
        [this, &run] {
          const TConnection* outer = tSyncFor;
          tSyncFor = this;
          struct Restore {
            const TConnection* outer;
            ~Restore() { tSyncFor = outer; }
          } restore{outer};
          run();
        },
        [this, generation] { return !Active(generation) || OwnerGone(); });
  } catch (...) {
    // An event handler that fails ends the connection, which is then
    // reported like any other end (OnDisconnect).
    EndActive(generation);
  }
}

void TConnection::IdleWork(unsigned generation) {
  bool synchronized;
  {
    Visit owner(*this);
    if (!owner || !owner->IdleWorkDue()) return;
    synchronized = owner->FNeedSynchronization;
  }
  // The work runs commands and may raise events: on the main thread when
  // the application wants its events there.
  auto run = [this] {
    Visit owner(*this);
    if (owner) owner->DoIdleWork();
  };
  try {
    if (!synchronized) {
      run();
      return;
    }
    TThread::Synchronize(
        [this, &run] {
          const TConnection* outer = tSyncFor;
          tSyncFor = this;
          struct Restore {
            const TConnection* outer;
            ~Restore() { tSyncFor = outer; }
          } restore{outer};
          run();
        },
        [this, generation] { return !Active(generation) || OwnerGone(); });
  } catch (...) {
    // As in Dispatch: a handler that fails ends the connection.
    EndActive(generation);
  }
}

void TConnection::EndActive(unsigned generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation_ == generation && Live(state_)) state_ = TLinkState::Closing;
  changed_.notify_all();
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
    if (generation_ == generation && Live(state_)) state_ = TLinkState::Closing;
    port = port_;
    device = device_;
  }

  bool reconnect = false;
  {
    Visit owner(*this);
    if (owner) {
      if (lost) {
        owner->FIsFaulted = true;
        auto fault = [this, port] {
          Visit inner(*this);
          if (inner) inner->OnFault(inner.operator->(), port);
        };
        try {
          if (owner->FNeedSynchronization)
            TThread::Synchronize(
                [this, &fault] {
                  tSyncFor = this;
                  struct Restore {
                    ~Restore() { tSyncFor = nullptr; }
                  } restore;
                  fault();
                },
                [this] { return OwnerGone(); });
          else
            fault();
        } catch (...) {
        }
      }
    }
  }
  {
    Visit owner(*this);
    if (owner) {
      try {
        owner->OnDisconnect(owner.operator->(), port);
      } catch (...) {
      }
    }
  }
  if (device) {
    try {
      device->Purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
    } catch (...) {
    }
    try {
      device->Close();
    } catch (...) {
    }
  }
  {
    Visit owner(*this);
    if (owner) {
      owner->FLineStatus = 0;
      owner->FIsListing = false;
      owner->ConnectedTo = spNone;
      reconnect = lost && owner->FAutoReconnect;
    }
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (generation_ == generation) {
    state_ = TLinkState::Closed;
    device_.reset();
    port_ = spNone;
    if (reconnect && !ownerGone_) {
      reconnectStopped_ = false;
      StartReconnectLocked(lock);
    }
  }
  readerRunning_ = false;
  reader_.reset();
  changed_.notify_all();
}

// ---------------------------------------------------------------- reconnecting

void TConnection::StartReconnectLocked(std::unique_lock<std::mutex>&) {
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
      Visit owner(*this);
      if (!owner) break;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reconnectStopped_ || state_ != TLinkState::Closed) break;
      }
      if (!owner->FAutoReconnect) break;
      interval = owner->FAutoReconnectCheckInterval;
      try {
        // The modem of the recorded IMEI, under its name or another one;
        // without a record, the port once it is listed again.
        const int identified = owner->ReattachByIdentity();
        if (identified > 0) break;
        if (identified == 0 && owner->IsExistingCommPort(owner->CommPortToString(owner->GetCommPort())) &&
            owner->Open(false))
          break;
      } catch (...) {
        // Listed again but not ready yet (busy, not accessible): the next
        // attempt may succeed.
      }
    }
    auto deadline = DeadlineAfter(interval);
    std::unique_lock<std::mutex> lock(mutex_);
    if (changed_.wait_until(lock, deadline, [&] { return reconnectStopped_ || ownerGone_; })) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (reconnect_ && reconnect_->IsCurrentThread()) reconnect_.reset();
}

// ---------------------------------------------------------------- Open and Close

bool TVeskGSM::Open(bool skipInit) {
  if (IsDestroying()) return false;
  TCommPort wanted = StringToCommPort(GetFPort());
  // The selected port is the one already open.
  if (wanted == ConnectedTo) return false;
  if (!FLink->OnReconnectThread()) FLink->StopReconnect();
  if (FLink->State() != TLinkState::Closed) {
    Close();
    // The previous connection must have ended (its OnDisconnect raised)
    // before a new one begins.
    if (FLink->State() != TLinkState::Closed) return false;
  }
  // The recovery of an earlier connection ends here (not its own Opens).
  if (FLink->State() == TLinkState::Closed && !FLink->OnReconnectThread() && !OnSupervisorThread()) StopSupervisor();
  if (!FSkipSetupFailed && !IsExistingCommPort(CommPortToString(GetCommPort()))) return false;

  std::shared_ptr<TConnection> link = FLink;
  unsigned generation;
  {
    // One device open at a time: the application's Open and the reconnect
    // thread's never both hold the port.
    std::lock_guard<std::mutex> opening(FOpenLock);
    if (link->State() != TLinkState::Closed || wanted == ConnectedTo) return false;
    std::shared_ptr<SerialPlatform> platform = GetSerialPlatform();
    int error = 0;
    AnsiString name = GetFPort();
    std::unique_ptr<SerialDevice> device;
    try {
      device = platform->Open(name, error);
    } catch (...) {
      device = nullptr;
    }
    // The error text is taken from the code the open returned, never from a
    // later errno.
    if (!device) throw EVeskGSMException("Cannot connect to " + name + " . " + platform->ErrorText(error));
    FLastReceived = 0;
    FIsFaulted = false;
    {
      // A port scan leaves this device alone while the connection lasts.
      std::lock_guard<std::mutex> fields(FFieldsLock);
      FOpenedPort = name;
    }
    ConnectedTo = wanted;
    generation = link->Begin(std::move(device), wanted, skipInit);
    if (generation == 0) {
      ConnectedTo = spNone;
      return false;
    }
  }
  // From here on no lock is held: OnConnect is the application's, and it
  // may close or even destroy the component, so only `link` is used after it.
  struct Reported {
    std::shared_ptr<TConnection> link;
    unsigned generation;
    ~Reported() { link->ConnectReported(generation); }
  } reported{link, generation};
  // Gives the reader thread time to apply the line settings, and makes sure
  // it has: a command sent before would lose its answer to their purge.
  link->Pause(50);
  link->WaitSettled(generation);
  NoteOpened(generation);
  TConnection::Connecting connecting(*link);
  OnConnect(this, wanted);
  return true;
}

void TVeskGSM::Close() {
  StopSupervisor();
  if (FLink->State() == TLinkState::Closed && !FLink->Reader()) ConnectedTo = spNone;
}

}  // namespace vesk
