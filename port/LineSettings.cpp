// The line settings, time-outs, queue sizes and modem lines of the open port.
#include "component/VeskGSM.h"

namespace vesk {

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
  return handle && handle->SetLineSettings(BuildLineSettings(speed));
}

bool TVeskGSM::SetTimeOuts(SerialDevice* handle) {
  if (!handle) return false;
  TTimeOuts t;
  t.ReadIntervalTimeout = FReadIntervalTimeout;
  t.ReadTotalTimeoutMultiplier = FReadTotalTimeoutMultiplier;
  t.ReadTotalTimeoutConstant = FReadTotalTimeoutConstant;
  t.WriteTotalTimeoutMultiplier = FWriteTotalTimeoutMultiplier;
  t.WriteTotalTimeoutConstant = FWriteTotalTimeoutConstant;
  return handle->SetTimeOuts(t);
}

bool TVeskGSM::SetTimeOutsToDefault(SerialDevice* handle) { return handle && handle->SetTimeOuts(TTimeOuts{}); }

bool TVeskGSM::SetBuffers(SerialDevice* handle) { return handle && handle->SetQueueSizes(FInputBuffer, FOutputBuffer); }

TLineStatusSet TVeskGSM::GetLineStatus(SerialDevice* handle) {
  TLineStatusSet status;
  if (!handle) return status;
  std::uint32_t lines = 0;
  if (!handle->ModemStatus(lines)) return status;
  if (lines & kModemCTS) status.Include(lsCTS);
  if (lines & kModemDSR) status.Include(lsDSR);
  if (lines & kModemRING) status.Include(lsRING);
  if (lines & kModemRLSD) status.Include(lsDCD);
  return status;
}

}  // namespace vesk
