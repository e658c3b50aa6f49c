#include "threads/ReconnectThread.h"

#include "component/VeskGSM.h"

namespace vesk {

TReconnectThread::TReconnectThread(TVeskGSM* AOwner) : Owner(AOwner) {
  FreeOnTerminate = true;
  SetPriority(Owner->GetPriority());
}

void TReconnectThread::Execute() {
  // Only the two flags end the loop: a successful Open clears IsFaulted,
  // and so does the component's destructor. Terminate merely cuts a wait
  // short.
  while (Owner->FAutoReconnect && Owner->FIsFaulted) {
    try {
      if (Owner->IsExistingCommPort(Owner->CommPortToString(Owner->GetCommPort())) && Owner->Open(false)) break;
    } catch (...) {
      // The port is back in the list but not ready yet: try again later.
    }
    Sleep(Owner->FAutoReconnectCheckInterval);
  }
}

void TReconnectThread::DoTerminate() { Owner->ForgetReconnectThread(this); }

}  // namespace vesk
