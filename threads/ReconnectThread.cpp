#include "threads/ReconnectThread.h"

#include "port/Connection.h"

namespace vesk {

TReconnectThread::TReconnectThread(std::shared_ptr<TConnection> link) : Link(std::move(link)) {
  FreeOnTerminate = true;
}

void TReconnectThread::Execute() { Link->RunReconnect(); }

}  // namespace vesk
