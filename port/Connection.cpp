// Opening and closing the port, and the line settings, time-outs, queue
// sizes and modem lines of the open port.
#include "component/VeskGSM.h"
#include "threads/ComThread.h"
#include "threads/ReconnectThread.h"

namespace vesk {

bool TVeskGSM::Open(bool skipInit) {
  std::lock_guard<std::recursive_mutex> opening(FOpenLock);
  if (IsDestroying()) return false;
  // The selected port is the one already open.
  if (StringToCommPort(GetFPort()) == ConnectedTo) return false;
  if (GetComThread()) Close();
  if (!FSkipSetupFailed && !IsExistingCommPort(CommPortToString(GetCommPort()))) return false;

  // When the reconnect thread itself calls Open, this is where it is told
  // to stop.
  std::shared_ptr<TReconnectThread> reconnect;
  {
    std::lock_guard<std::mutex> lock(FFieldsLock);
    reconnect = std::move(ReconnectThread);
  }
  if (reconnect) reconnect->Terminate();

  // The thread opens the port in its constructor and starts only once it
  // is recorded, since its body stops as soon as it is not.
  std::shared_ptr<TComThread> thread;
  {
    std::lock_guard<std::mutex> connecting(FConnectLock);
    thread = TThread::Create<TComThread>(true, this, skipInit);
    if (ConnectedTo == spNone) {
      throw EVeskGSMException("Cannot connect to " + GetFPort() + " . " +
                              GetSerialPlatform()->ErrorText(thread->OpenError()));
    }
    std::lock_guard<std::mutex> lock(FFieldsLock);
    ComThread = thread;
  }
  thread->Start();

  FLastReceived = 0;
  FIsFaulted = false;
  // Gives the reader thread time to apply the line settings.
  Sleep(50);
  OnConnect(this, ConnectedTo.load());
  return true;
}

void TVeskGSM::Close() {
  std::shared_ptr<TComThread> thread = GetComThread();
  if (!thread) {
    ConnectedTo = spNone;
    return;
  }
  thread->Terminate();
  // The thread clears ConnectedTo as it ends. Waiting for that from the
  // thread itself (the fault sequence closes from there) would be waiting
  // for nothing. WaitFor lets synchronized calls run on the main thread,
  // so a dispatch handed to it can finish and the thread can end.
  if (!thread->IsCurrentThread()) {
    for (int turn = 0; turn < 20 && ConnectedTo != spNone; ++turn) {
      if (thread->WaitFor(turn == 0 ? FDelay / 2 : 5)) break;
    }
  }
  ForgetComThread(thread.get());
}

void TVeskGSM::ForgetComThread(const TComThread* thread) {
  {
    std::lock_guard<std::mutex> lock(FFieldsLock);
    if (ComThread.get() != thread) return;
    ComThread.reset();
  }
  FLineStatus = 0;
  FIsListing = false;
}

void TVeskGSM::ForgetReconnectThread(const TReconnectThread* thread) {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  if (ReconnectThread.get() == thread) ReconnectThread.reset();
}

void TVeskGSM::StartReconnectThread() {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  if (!FAutoReconnect || !FIsFaulted || ReconnectThread || IsDestroying()) return;
  ReconnectThread = TThread::Create<TReconnectThread>(true, this);
  ReconnectThread->Start();
}

// ---------------------------------------------------------------- line settings

std::uint32_t TVeskGSM::LineSettingsFlags() const {
  std::uint32_t flags = dcb::Binary;
  if (FEnableDTROnOpen) flags |= dcb::DtrEnable;
  if (FEnableRTSOnOpen) flags |= dcb::RtsEnable;
  switch (FHwFlowControl.load()) {
    case hfNONE: break;
    case hfDTRDSR: flags |= dcb::DtrHandshake | dcb::OutxDsrFlow; break;
    case hfRTSCTS: flags |= dcb::RtsHandshake | dcb::OutxCtsFlow; break;
  }
  switch (FSwFlowControl.load()) {
    case sfNONE: break;
    case sfXONXOFF: flags |= dcb::OutX | dcb::InX; break;
  }
  return flags;
}

TLineSettings TVeskGSM::BuildLineSettings(TBaudRate speed) const {
  TLineSettings s;
  s.BaudRate = static_cast<std::uint32_t>(BaudRateToInt(speed));
  s.ByteSize = FDataWidth;
  s.Parity = FParity;
  s.StopBits = FStopBits;
  s.Flags = LineSettingsFlags();
  return s;
}

bool TVeskGSM::SetDCBState(SerialDevice* handle) { return SetDCBState(handle, IntToBaudRate(FBaudRate)); }

bool TVeskGSM::SetDCBState(SerialDevice* handle, TBaudRate speed) {
  // Settings that change mid-stream garble what is queued: drop it.
  ClearInputBuffer();
  if (!handle) return false;
  try {
    return handle->SetLineSettings(BuildLineSettings(speed));
  } catch (...) {
    return false;
  }
}

bool TVeskGSM::SetTimeOuts(SerialDevice* handle) {
  if (!handle) return false;
  TTimeOuts t;
  t.ReadIntervalTimeout = FReadIntervalTimeout;
  t.ReadTotalTimeoutMultiplier = FReadTotalTimeoutMultiplier;
  t.ReadTotalTimeoutConstant = FReadTotalTimeoutConstant;
  t.WriteTotalTimeoutMultiplier = FWriteTotalTimeoutMultiplier;
  t.WriteTotalTimeoutConstant = FWriteTotalTimeoutConstant;
  try {
    return handle->SetTimeOuts(t);
  } catch (...) {
    return false;
  }
}

bool TVeskGSM::SetTimeOutsToDefault(SerialDevice* handle) {
  if (!handle) return false;
  try {
    return handle->SetTimeOuts(TTimeOuts{});
  } catch (...) {
    return false;
  }
}

bool TVeskGSM::SetBuffers(SerialDevice* handle) {
  if (!handle) return false;
  try {
    return handle->SetQueueSizes(FInputBuffer, FOutputBuffer);
  } catch (...) {
    return false;
  }
}

TLineStatusSet TVeskGSM::GetLineStatus(SerialDevice* handle) {
  TLineStatusSet status;
  if (!handle) return status;
  std::uint32_t lines = 0;
  try {
    if (!handle->ModemStatus(lines)) return status;
  } catch (...) {
    return status;
  }
  if (lines & kModemCTS) status.Include(lsCTS);
  if (lines & kModemDSR) status.Include(lsDSR);
  if (lines & kModemRING) status.Include(lsRING);
  if (lines & kModemRLSD) status.Include(lsDCD);
  return status;
}

}  // namespace vesk
