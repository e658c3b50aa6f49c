// Brings a component back onto its port after a fault: every
// AutoReconnectCheckInterval milliseconds, while AutoReconnect is set and
// the component is faulted, it opens the port again once the system lists
// it. OnConnect then comes from this thread.
#pragma once

#include "component/Thread.h"

namespace vesk {

class TVeskGSM;

class TReconnectThread : public TThread {
 public:
  explicit TReconnectThread(TVeskGSM* AOwner);

 protected:
  void Execute() override;
  void DoTerminate() override;

 private:
  TVeskGSM* Owner;
};

}  // namespace vesk
