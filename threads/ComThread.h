// The reader thread: owns the open port of a TVeskGSM, polls it every
// Delay milliseconds, hands what it reads to the dispatcher, notices a lost
// device, and releases the port when it ends.
#pragma once

#include <memory>
#include <mutex>

#include "component/Thread.h"
#include "port/SerialDevice.h"

namespace vesk {

class TVeskGSM;

class TComThread : public TThread {
 public:
  // Opens the component's port (on the caller's thread). Created suspended
  // by Open, which records it in the component before starting it.
  TComThread(TVeskGSM* AOwner, bool skipInit);

  // The open device; nullptr once the port is closed or when it never
  // opened.
  std::shared_ptr<SerialDevice> GetPortHandle() const;
  // The operating system's code for a port that could not be opened.
  int OpenError() const { return FOpenError; }

  // Raises OnFault and, with AutoReconnect, starts the reconnect thread.
  void DoFault();

 protected:
  void Execute() override;
  // Runs as the thread ends: OnDisconnect, then the port is purged and
  // closed and the component learns that it is no longer connected.
  void DoTerminate() override;

 private:
  void Poll();
  void Dispatch();
  void CheckLineStatus(SerialDevice& device);
  void CheckPortGone();
  void FaultSequence();
  bool StillCurrent() const;

  TVeskGSM* Owner;
  bool FSkipInit;
  int FOpenError = 0;
  mutable std::mutex FDeviceLock;
  std::shared_ptr<SerialDevice> ComDevice;
};

}  // namespace vesk
