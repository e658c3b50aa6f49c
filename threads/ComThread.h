// The reader thread: owns the open port of a TVeskGSM, waits on it, hands
// what it reads to the dispatcher as it comes, notices a lost port (the line
// watch, threads/LineWatch.h, looks at the modem lines and the port list for
// it), and releases the port when it ends. Its body is the connection's
// (port/Connection.h), where the whole life of a connection is written.
#pragma once

#include <memory>

#include "component/Thread.h"

namespace vesk {

class TConnection;

class TComThread : public TThread {
 public:
  TComThread(std::shared_ptr<TConnection> link, unsigned generation, bool skipInit);

 protected:
  void Execute() override;

 private:
  std::shared_ptr<TConnection> Link;
  unsigned FGeneration;
  bool FSkipInit;
};

}  // namespace vesk
