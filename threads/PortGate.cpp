#include "threads/PortGate.h"

#include "component/Thread.h"

namespace vesk {

void TPortGate::Enter() {
  std::thread::id self = std::this_thread::get_id();
  bool onMain = IsMainThread();
  std::unique_lock<std::mutex> lock(mutex_);
  while (!MayEnter(self)) {
    if (onMain) {
      // The holder may be waiting for us to run its synchronized call.
      lock.unlock();
      ProcessMessages();
      lock.lock();
      if (MayEnter(self)) break;
      freed_.wait_for(lock, std::chrono::milliseconds(2));
    } else {
      freed_.wait(lock);
    }
  }
  if (depth_ == 0) owner_ = self;
  ++depth_;
}

bool TPortGate::TryEnter() {
  std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!MayEnter(self)) return false;
  if (depth_ == 0) owner_ = self;
  ++depth_;
  return true;
}

void TPortGate::Leave() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (depth_ > 0 && --depth_ == 0) owner_ = std::thread::id();
  }
  freed_.notify_all();
}

TPortGate::Lend::Lend(TPortGate& gate, std::thread::id guest) : gate_(gate) {
  std::lock_guard<std::mutex> lock(gate_.mutex_);
  previous_ = gate_.guest_;
  gate_.guest_ = guest;
}

TPortGate::Lend::~Lend() {
  {
    std::lock_guard<std::mutex> lock(gate_.mutex_);
    gate_.guest_ = previous_;
  }
  gate_.freed_.notify_all();
}

}  // namespace vesk
