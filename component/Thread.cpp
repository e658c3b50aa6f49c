#include "component/Thread.h"

#include <algorithm>
#include <deque>
#include <exception>

namespace vesk {

// ---------------------------------------------------------------- main-thread queue

namespace {

struct SyncCall {
  std::function<void()> method;
  bool started = false;
  bool done = false;
  std::exception_ptr error;
};

struct SyncQueue {
  std::mutex mutex;
  std::condition_variable queued;  // a call arrived
  std::condition_variable ran;     // a call finished
  std::deque<SyncCall*> calls;
  std::function<void()> wake;
  std::thread::id mainThread = std::this_thread::get_id();
};

SyncQueue& Queue() {
  // Constructed during static initialisation, on the thread that starts
  // the program, which therefore becomes the main thread.
  static SyncQueue queue;
  return queue;
}

[[maybe_unused]] const bool kQueueReady = (Queue(), true);

}  // namespace

void SetMainThread(std::thread::id id) {
  std::lock_guard<std::mutex> lock(Queue().mutex);
  Queue().mainThread = id;
}

std::thread::id MainThreadId() {
  std::lock_guard<std::mutex> lock(Queue().mutex);
  return Queue().mainThread;
}

bool IsMainThread() {
  std::lock_guard<std::mutex> lock(Queue().mutex);
  return Queue().mainThread == std::this_thread::get_id();
}

void SetWakeMainThread(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(Queue().mutex);
  Queue().wake = std::move(wake);
}

bool CheckSynchronize(int timeoutMs) {
  SyncQueue& q = Queue();
  std::unique_lock<std::mutex> lock(q.mutex);
  if (q.mainThread != std::this_thread::get_id()) return false;
  if (q.calls.empty() && timeoutMs > 0)
    q.queued.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !q.calls.empty(); });
  bool ranAny = false;
  while (!q.calls.empty()) {
    SyncCall* call = q.calls.front();
    q.calls.pop_front();
    call->started = true;
    lock.unlock();
    try {
      call->method();
    } catch (...) {
      call->error = std::current_exception();
    }
    lock.lock();
    call->done = true;
    ranAny = true;
    q.ran.notify_all();
  }
  return ranAny;
}

void ProcessMessages() { CheckSynchronize(0); }

void TThread::Synchronize(const std::function<void()>& method) { Synchronize(method, nullptr); }

bool TThread::Synchronize(const std::function<void()>& method, const std::function<bool()>& abandon) {
  SyncQueue& q = Queue();
  SyncCall call;
  call.method = method;
  std::function<void()> wake;
  {
    std::unique_lock<std::mutex> lock(q.mutex);
    if (q.mainThread == std::this_thread::get_id()) {
      lock.unlock();
      method();
      return true;
    }
    q.calls.push_back(&call);
    wake = q.wake;
  }
  q.queued.notify_all();
  if (wake) wake();
  {
    std::unique_lock<std::mutex> lock(q.mutex);
    if (!abandon) {
      q.ran.wait(lock, [&] { return call.done; });
    } else {
      while (!call.done) {
        if (!call.started) {
          lock.unlock();
          bool giveUp = abandon();
          lock.lock();
          if (giveUp && !call.started) {
            q.calls.erase(std::find(q.calls.begin(), q.calls.end(), &call));
            return false;
          }
        }
        q.ran.wait_for(lock, std::chrono::milliseconds(5), [&] { return call.done; });
      }
    }
  }
  if (call.error) std::rethrow_exception(call.error);
  return true;
}

// ---------------------------------------------------------------- TThread

TThread::~TThread() = default;

void TThread::Start() {
  if (started_.exchange(true)) return;
  std::shared_ptr<TThread> self = shared_from_this();
  std::thread worker([self] { self->Run(); });
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id_ = worker.get_id();
  }
  worker.detach();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    detached_ = true;
  }
  wake_.notify_all();
}

void TThread::Run() {
  {
    // The body waits until Start has detached the thread. A thread whose
    // body is short could otherwise end before it is detached; MinGW's
    // thread library then hands the ended thread's record to the next new
    // thread while the ending one's exit still writes to it, and that new
    // thread can start without its body or not at all.
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [&] { return detached_; });
    id_ = std::this_thread::get_id();
    nativeId_ = CurrentNativeThreadId();
  }
  ApplyNativeThreadPriority(priority_.load(), CurrentNativeThreadId());
  try {
    Execute();
  } catch (const std::exception& e) {
    std::lock_guard<std::mutex> lock(mutex_);
    fatal_ = e.what();
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    fatal_ = "unknown exception";
  }
  try {
    DoTerminate();
  } catch (...) {
    // The end-of-thread work swallows its own errors; nothing may escape a
    // thread function.
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  wake_.notify_all();
}

void TThread::Terminate() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    terminated_ = true;
  }
  wake_.notify_all();
}

bool TThread::Sleep(double ms) {
  auto duration = GetClock()->RealDuration(ms);
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, duration, [&] { return terminated_.load(); });
  return !terminated_.load();
}

bool TThread::IsCurrentThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return id_ == std::this_thread::get_id();
}

bool TThread::WaitFor(double ms) {
  if (IsCurrentThread()) return finished_.load();
  if (!started_.load()) return false;
  bool onMain = IsMainThread();
  auto clock = GetClock();
  auto deadline = std::chrono::steady_clock::now() + clock->RealDuration(ms < 0 ? 0 : ms);
  for (;;) {
    if (onMain) ProcessMessages();
    {
      std::unique_lock<std::mutex> lock(mutex_);
      auto slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(onMain ? 2 : 50);
      if (ms >= 0 && slice > deadline) slice = deadline;
      wake_.wait_until(lock, slice, [&] { return finished_.load(); });
      if (finished_.load()) return true;
    }
    if (ms >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
  }
}

void TThread::SetPriority(TThreadPriority priority) {
  priority_ = priority;
  int native = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    native = nativeId_;
  }
  if (native != 0 && !finished_.load()) ApplyNativeThreadPriority(priority, native);
}

AnsiString TThread::FatalException() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fatal_;
}

}  // namespace vesk
