// Who may use the open port. The reader thread holds the gate for one
// polling cycle (reading and dispatching what it read); a command holds it
// from its first read to its last, so that no cycle reads in between and
// no answer is split between the two.
//
// The gate is re-entrant for its owner, and for a guest: the thread that
// runs a synchronized call on the owner's behalf (the main thread, while
// the reader thread dispatches through Synchronize), so that an event
// handler can run a command without deadlocking the two threads.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vesk {

class TPortGate {
 public:
  // Blocks until the gate is free, ours, or lent to us. On the main thread
  // it runs synchronized calls while it waits.
  void Enter();
  // Takes the gate only when no other thread holds it.
  bool TryEnter();
  void Leave();

  // Lends the gate, held by the calling thread, to `guest` for the life of
  // this object.
  class Lend {
   public:
    Lend(TPortGate& gate, std::thread::id guest);
    ~Lend();
    Lend(const Lend&) = delete;
    Lend& operator=(const Lend&) = delete;

   private:
    TPortGate& gate_;
    std::thread::id previous_;
  };

  // Enter/Leave for a scope.
  class Hold {
   public:
    explicit Hold(TPortGate& gate) : gate_(gate) { gate_.Enter(); }
    ~Hold() { gate_.Leave(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    TPortGate& gate_;
  };

 private:
  bool MayEnter(std::thread::id self) const { return depth_ == 0 || owner_ == self || guest_ == self; }

  std::mutex mutex_;
  std::condition_variable freed_;
  std::thread::id owner_;
  std::thread::id guest_;
  int depth_ = 0;
};

}  // namespace vesk
