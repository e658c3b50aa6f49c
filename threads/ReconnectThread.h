// Brings a component back onto its port after it was lost: every
// AutoReconnectCheckInterval milliseconds, while AutoReconnect is set, it
// opens the port again once the system lists it, until an open succeeds or
// the application calls Open or Close or destroys the component. OnConnect
// then comes from this thread. Its body is the connection's.
#pragma once

#include <memory>

#include "component/Thread.h"

namespace vesk {

class TConnection;

class TReconnectThread : public TThread {
 public:
  explicit TReconnectThread(std::shared_ptr<TConnection> link);

 protected:
  void Execute() override;

 private:
  std::shared_ptr<TConnection> Link;
};

}  // namespace vesk
