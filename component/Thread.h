// Worker threads and the main thread's queue of synchronized calls.
//
// A TThread runs Execute() on a thread of its own. The object is held by a
// shared_ptr; the running thread keeps its own reference until the thread
// has ended, so a thread object is never freed under its own feet and
// whoever still holds a reference may ask it to stop or wait for it.
//
// Synchronize(method) runs `method` on the application's main thread and
// waits for it. The main thread runs such calls only when it asks for them:
//
//   * an application with a message loop calls CheckSynchronize() from it
//     (SetWakeMainThread lets the loop be woken when a call is queued);
//   * an application without one calls ProcessMessages() or
//     CheckSynchronize() regularly, or leaves TVeskGSM::NeedSynchronization
//     false so that nothing is ever handed to the main thread.
//
// The component's own waits on the main thread (Close, the port scan,
// destruction) run pending synchronized calls while they wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk {

class TThread : public TObject, public std::enable_shared_from_this<TThread> {
 public:
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts a thread that was created suspended. Does nothing when it has
  // started already.
  void Start();
  // Asks the body to stop: sets the flag that Execute tests and wakes an
  // interruptible Sleep. Any thread may call it.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // True once Execute and the end-of-thread work have both returned.
  bool Finished() const { return finished_.load(); }
  // Waits up to `ms` clock milliseconds (forever when negative) for the
  // thread to finish; true when it has. On the main thread, synchronized
  // calls keep running while it waits. A thread waiting for itself returns
  // false at once.
  bool WaitFor(double ms = -1);
  bool IsCurrentThread() const;

  // Best effort: where the platform refuses a priority the thread runs on
  // at the one it has; it never fails.
  void SetPriority(TThreadPriority priority);
  TThreadPriority GetPriority() const { return priority_.load(); }

  // Kept for the framework's interface. The object is freed when its last
  // reference goes, which for a running thread is never before its end.
  bool FreeOnTerminate = true;

  // The text of an exception that ended Execute, empty when none did.
  AnsiString FatalException() const;

  // Runs `method` on the main thread and waits for it to return; on the
  // main thread itself it simply calls it. An exception thrown by the
  // method is raised again in the caller.
  static void Synchronize(const std::function<void()>& method);
  // The same, but gives up when `abandon` turns true before the main
  // thread has begun the call (it is checked every few milliseconds):
  // false then, and the call never runs. Once begun, the call is waited for.
  static bool Synchronize(const std::function<void()>& method, const std::function<bool()>& abandon);

  // Creates a thread of class T; starts it unless `suspended`.
  template <class T, class... Args>
  static std::shared_ptr<T> Create(bool suspended, Args&&... args) {
    std::shared_ptr<T> t(new T(std::forward<Args>(args)...));
    if (!suspended) t->Start();
    return t;
  }

 protected:
  TThread() = default;
  // The thread body.
  virtual void Execute() = 0;
  // Runs on the thread after Execute has returned (or thrown); the place
  // for work that releases what the thread held.
  virtual void DoTerminate() {}
  // Sleeps `ms` clock milliseconds, or less when Terminate is called;
  // returns false when the thread was terminated.
  bool Sleep(double ms);

 private:
  void Run();

  std::atomic<bool> started_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<TThreadPriority> priority_{tpNormal};
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::thread::id id_;
  bool detached_ = false;  // Start has let go of the thread; guarded by mutex_
  AnsiString fatal_;
  int nativeId_ = 0;
};

// The thread that runs synchronized calls: the thread that started the
// program, unless an application names another one.
void SetMainThread(std::thread::id id = std::this_thread::get_id());
std::thread::id MainThreadId();
bool IsMainThread();

// Runs the synchronized calls waiting for the main thread, waiting up to
// `timeoutMs` real milliseconds for one to arrive when none is waiting.
// Returns true when at least one ran. Call it on the main thread only.
bool CheckSynchronize(int timeoutMs = 0);

// The "process pending messages" call: on the main thread, runs what
// CheckSynchronize runs; elsewhere it does nothing.
void ProcessMessages();

// Called (from the queuing thread) whenever a synchronized call is queued,
// so that an application's event loop can wake up and call
// CheckSynchronize. nullptr removes it.
void SetWakeMainThread(std::function<void()> wake);

// Applies a priority to the calling thread; platform specific, best effort.
void ApplyNativeThreadPriority(TThreadPriority priority, int nativeId);
int CurrentNativeThreadId();

}  // namespace vesk
