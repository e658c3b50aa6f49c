#include "threads/ComThread.h"

#include "component/VeskGSM.h"

namespace vesk {

TComThread::TComThread(TVeskGSM* AOwner, bool skipInit) : Owner(AOwner), FSkipInit(skipInit) {
  Owner->ConnectedTo = spNone;
  FreeOnTerminate = true;
  SetPriority(Owner->FPriority);
  std::shared_ptr<SerialDevice> device;
  try {
    int error = 0;
    device = Owner->GetSerialPlatform()->Open(Owner->GetFPort(), error);
    FOpenError = error;
  } catch (...) {
    device = nullptr;
  }
  if (!device) {
    // No thread is recorded yet, so this only clears ConnectedTo.
    Owner->Close();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(FDeviceLock);
    ComDevice = std::move(device);
  }
  Owner->ConnectedTo = Owner->StringToCommPort(Owner->GetFPort());
}

std::shared_ptr<SerialDevice> TComThread::GetPortHandle() const {
  std::lock_guard<std::mutex> lock(FDeviceLock);
  return ComDevice;
}

bool TComThread::StillCurrent() const { return Owner->GetComThread().get() == this; }

void TComThread::Execute() {
  std::shared_ptr<SerialDevice> device = GetPortHandle();
  try {
    if (!Owner->SetDCBState(device.get()) && !Owner->FSkipSetupFailed) {
      Owner->Close();
      return;
    }
    Owner->SetTimeOuts(device.get());
    Owner->SetBuffers(device.get());
  } catch (...) {
    Owner->Close();
    return;
  }
  if (!FSkipInit) Owner->InitGSMModem();

  while (!Terminated() && StillCurrent() && GetPortHandle()) {
    if (Owner->FPauseThread || !Owner->FPortGate.TryEnter()) {
      // A command is using the port: leave it alone this cycle.
      Sleep(Owner->FDelay);
      continue;
    }
    bool dispatched;
    {
      struct Release {
        TPortGate& gate;
        ~Release() { gate.Leave(); }
      } release{Owner->FPortGate};
      Poll();
      dispatched = !Owner->FPauseThread;
      if (dispatched) Dispatch();
    }
    if (!dispatched || (!Terminated() && GetPortHandle())) Sleep(Owner->FDelay);
  }
}

void TComThread::Poll() {
  std::shared_ptr<SerialDevice> device = GetPortHandle();
  if (Terminated() || !device) return;
  std::lock_guard<TCriticalSection> lock(Owner->FCriticalSection);

  try {
    CheckLineStatus(*device);
  } catch (...) {
    // A failure here (an OnFault handler's included) skips the rest of
    // the line watch; the read goes on.
  }

  std::uint32_t errors = 0, queued = 0;
  device->QueuedInput(errors, queued);
  if (Terminated() || !GetPortHandle() || queued == 0) {
    CheckPortGone();
    return;
  }
  AnsiString chunk(queued, '\0');
  std::uint32_t got = 0;
  device->Read(&chunk[0], queued, got);
  chunk.resize(got);
  Owner->FLastReceived = Now();
  if (got == 0) CheckPortGone();
  // The dispatcher matches its markers in capitals: a modem that answers
  // in lower case is still understood. The log shows the text as it came.
  Owner->SetReadBuffer(UpperCase(chunk));
  if (Owner->FLog) Owner->WriteLog(chunk, true);
}

void TComThread::Dispatch() {
  if (Owner->PeekReadBuffer().empty()) return;
  if (Owner->FNeedSynchronization) {
    // The main thread runs the dispatcher on our behalf, with our hold on
    // the port, so its event handlers may run commands.
    TPortGate::Lend lend(Owner->FPortGate, MainThreadId());
    Synchronize([this] { Owner->ProcessAT(); });
  } else {
    Owner->ProcessAT();
  }
}

void TComThread::CheckLineStatus(SerialDevice& device) {
  TLineStatusSet status = Owner->GetLineStatus(&device);
  if (status.Bits() == Owner->FLineStatus.load()) return;
  Owner->FLineStatus = static_cast<std::uint8_t>(status.Bits());
  // Lines that were up and have all dropped: the device is gone. Lines
  // that were never up (a pseudo-terminal, a cable without them) are no
  // change and no fault.
  if (Owner->FCloseWhenLineStatusIsZero && status.Empty()) FaultSequence();
}

void TComThread::CheckPortGone() {
  if (Owner->FDelay < Owner->FMinCheckDisconnectedInterval) return;
  if (!Owner->IsExistingCommPort(Owner->CommPortToString(Owner->GetCommPort()))) FaultSequence();
}

void TComThread::FaultSequence() {
  Owner->FIsFaulted = true;
  if (Owner->FNeedSynchronization) {
    TPortGate::Lend lend(Owner->FPortGate, MainThreadId());
    Synchronize([this] { DoFault(); });
  } else {
    DoFault();
  }
  Owner->Close();
}

void TComThread::DoFault() {
  Owner->OnFault(Owner, Owner->ConnectedTo.load());
  Owner->StartReconnectThread();
}

void TComThread::DoTerminate() {
  bool report = !Owner->IsDestroying();
  if (report && Owner->ConnectedTo != spNone) {
    try {
      Owner->OnDisconnect(Owner, Owner->ConnectedTo.load());
    } catch (...) {
    }
  }
  std::shared_ptr<SerialDevice> device;
  {
    std::lock_guard<std::mutex> lock(FDeviceLock);
    device = std::move(ComDevice);
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
  // When the body ended by itself (an exception from the dispatcher or an
  // event handler), the component still records this thread: it forgets
  // it here, so that it no longer counts as connected and can be opened
  // again.
  Owner->ForgetComThread(this);
  if (report) {
    // Unless a new connection has been made meanwhile: this is the signal
    // that Close waits for.
    std::lock_guard<std::mutex> lock(Owner->FConnectLock);
    if (!Owner->GetComThread()) Owner->ConnectedTo = spNone;
  }
}

}  // namespace vesk
