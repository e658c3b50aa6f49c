#include "threads/ComThread.h"

#include "port/Connection.h"

namespace vesk {

TComThread::TComThread(std::shared_ptr<TConnection> link, unsigned generation, bool skipInit)
    : Link(std::move(link)), FGeneration(generation), FSkipInit(skipInit) {
  FreeOnTerminate = true;
}

void TComThread::Execute() { Link->RunReader(FGeneration, FSkipInit); }

}  // namespace vesk
