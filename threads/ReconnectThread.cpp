#include "threads/ReconnectThread.h"

#include "component/VeskGSM.h"

namespace vesk {

TReconnectThread::TReconnectThread(TVeskGSM* AOwner) : Owner(AOwner) {
  FreeOnTerminate = true;
  SetPriority(Owner->GetPriority());
}

void TReconnectThread::Execute() {
  // A successful Open clears IsFaulted, and so does the component's
  // destructor; switching AutoReconnect off ends the loop too. Open asks
  // this thread to stop when the application reopens the port itself: that
  // cuts the wait short, and no further attempt follows.
  while (Owner->FAutoReconnect && Owner->FIsFaulted) {
    try {
      if (Owner->IsExistingCommPort(Owner->CommPortToString(Owner->GetCommPort())) && Owner->Open(false)) break;
    } catch (...) {
      // The port is back in the list but not ready yet: try again later.
    }
    if (!Sleep(Owner->FAutoReconnectCheckInterval)) break;
  }
}

void TReconnectThread::DoTerminate() { Owner->ForgetReconnectThread(this); }

}  // namespace vesk
