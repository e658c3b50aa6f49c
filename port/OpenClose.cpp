// Open and Close, and the component's side of its connection: what the
// connection (port/Connection.h) asks of the component, answered from its
// fields and raised as its events.
#include "component/VeskGSM.h"
#include "port/Connection.h"

namespace vesk {

// ---------------------------------------------------------------- the host

class TVeskGSM::TLinkHost final : public TConnectionHost {
 public:
  explicit TLinkHost(TVeskGSM& gsm) : gsm_(gsm) {}

  TConnectionSettings ConnectionSettings() noexcept override {
    TConnectionSettings s;
    s.Delay = gsm_.FDelay;
    s.MinCheckDisconnectedInterval = gsm_.FMinCheckDisconnectedInterval;
    s.CloseWhenLineStatusIsZero = gsm_.FCloseWhenLineStatusIsZero;
    s.NeedSynchronization = gsm_.FNeedSynchronization;
    s.SkipSetupFailed = gsm_.FSkipSetupFailed;
    s.AutoReconnect = gsm_.FAutoReconnect;
    s.AutoReconnectCheckInterval = gsm_.FAutoReconnectCheckInterval;
    return s;
  }

  bool ApplyLineSettings(SerialDevice& device) noexcept override {
    const bool applied = gsm_.SetDCBState(&device);
    // Their results are not looked at: a driver that keeps its own is
    // still usable.
    gsm_.SetTimeOuts(&device);
    gsm_.SetBuffers(&device);
    return applied;
  }

  void SetUpModem() override { gsm_.InitGSMModem(); }

  void LinesChanged(TLineStatusSet lines) noexcept override {
    gsm_.FLineStatus = static_cast<std::uint8_t>(lines.Bits());
  }

  void Received(const AnsiString& text) override {
    gsm_.FLastReceived = Now();
    gsm_.AppendReadBuffer(text);
    // A log that cannot be written raises, which ends the connection.
    gsm_.LogReceived(text);
  }

  bool InputToDispatch() noexcept override {
    {
      std::lock_guard<std::mutex> lock(gsm_.FFieldsLock);
      if (!gsm_.FReadBuffer.empty()) return true;
    }
    return gsm_.DispatcherHoldsInput();
  }

  void Dispatch() override { gsm_.ProcessAT(); }

  void Connected(TCommPort port) override { gsm_.OnConnect(&gsm_, port); }

  void Faulted(TCommPort port) override {
    gsm_.FIsFaulted = true;
    gsm_.OnFault(&gsm_, port);
  }

  void Disconnected(TCommPort port) override { gsm_.OnDisconnect(&gsm_, port); }

  void Released() noexcept override {
    gsm_.FLineStatus = 0;
    gsm_.FIsListing = false;
    gsm_.ConnectedTo = spNone;
  }

  bool PortListed() noexcept override { return gsm_.IsExistingCommPort(gsm_.CommPortToString(gsm_.GetCommPort())); }

  // The modem of the recorded IMEI, under its name or another one
  // (component/Health.cpp); without a record, the port once it is listed
  // again.
  bool Reopen() override {
    const int identified = gsm_.ReattachByIdentity();
    if (identified != 0) return identified > 0;
    return PortListed() && gsm_.Open(false);
  }

  double IdleWorkDueIn() noexcept override {
    try {
      return gsm_.IdleWorkDueIn();
    } catch (...) {
      return -1;  // (a clock that cannot say: no idle work this time)
    }
  }

  void DoIdleWork() override { gsm_.DoIdleWork(); }

 private:
  TVeskGSM& gsm_;
};

void TVeskGSM::MakeLink() {
  FHost = std::make_shared<TLinkHost>(*this);
  FLink = std::make_shared<TConnection>(FHost.get());
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
  if (!FLink->OnReconnectThread() && !OnSupervisorThread()) StopSupervisor();
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
    std::unique_ptr<SerialDevice> device = platform->Open(name, error);
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
  // may close or even destroy the component, so only `link` is used.
  NoteOpened(generation);
  link->Announce(generation);
  return true;
}

void TVeskGSM::Close() {
  // The keep-alive and a recovery under way end with the connection.
  StopSupervisor();
  if (FLink->State() == TLinkState::Closed && !FLink->Reader()) ConnectedTo = spNone;
}

// ---------------------------------------------------------------- the pause flag

bool TVeskGSM::PauseThreadFlag() const { return FLink->DialogueUnderWay(); }

void TVeskGSM::SetPauseThreadFlag(bool paused) {
  if (paused) {
    if (FPauseHold.load() == 0) FPauseHold = FLink->AcquirePort(true, false);
  } else {
    FLink->ReleasePort(FPauseHold.exchange(0), false);
  }
}

}  // namespace vesk
