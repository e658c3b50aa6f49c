// The life of a component's connection to its port, in one place.
//
//              Open: device opened, reader started
//   Closed ─────────────────────────────────────▶ SettingUp
//     ▲                                              │ line settings and
//     │                                              │ modem set-up done
//     │      reader ends: OnFault (Lost only),       ▼
//     └──── then OnDisconnect, device closed ◀──── Open
//                      ▲                             │
//                      └──── Closing ◀── Close ──────┤ (also from SettingUp)
//                      └──── Lost    ◀── port lost ──┘ (also from SettingUp)
//
//   Lost, with AutoReconnect: once the reader has ended, the reconnect
//   thread calls Open every AutoReconnectCheckInterval until one succeeds,
//   AutoReconnect is switched off, or the application calls Open or Close
//   or destroys the component.
//
// Who takes each transition: Open runs on the application's thread or the
// reconnect thread; Close and destruction on any thread; a lost port is
// noticed by the reader thread (modem lines, a failing or hung-up device, a
// port that left the system's list) or by a command whose device fails.
// Only the reader thread, as it ends, raises OnFault and OnDisconnect, and
// only Open raises OnConnect: each exactly once per connection, in the
// order OnConnect, OnFault, OnDisconnect.
//
// Every wait here (pauses, answers, the polling interval, the reconnect
// interval, Close waiting for the reader) is woken by Close, destruction
// and loss of the port, and runs on a monotonic clock. No lock of this
// object is held while application code runs.
//
// The connection object outlives the component when one of its threads
// still runs: the threads reach the component only through a Visit, which
// fails once the component is being destroyed, and the destructor waits for
// the visits of other threads to end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "component/Enums.h"
#include "port/SerialDevice.h"

namespace vesk {

class TVeskGSM;
class TComThread;
class TReconnectThread;

enum class TLinkState { Closed, SettingUp, Open, Closing, Lost };

class TConnection : public std::enable_shared_from_this<TConnection> {
 public:
  explicit TConnection(TVeskGSM* owner);

  // ------------------------------------------------ the component's life
  // Access to the component from one of the connection's threads. Fails
  // (false) once the component is being destroyed.
  class Visit {
   public:
    explicit Visit(TConnection& link);
    ~Visit();
    Visit(const Visit&) = delete;
    Visit& operator=(const Visit&) = delete;
    explicit operator bool() const { return owner_ != nullptr; }
    TVeskGSM* operator->() const { return owner_; }

   private:
    friend class TConnection;
    TConnection& link_;
    TVeskGSM* owner_;
    const Visit* outer_ = nullptr;  // the thread's visit around this one
  };
  // From the component's destructor: ends the connection and reconnection
  // and waits until no other thread is inside the component.
  void OwnerDestroyed();
  bool OwnerGone() const;

  // ------------------------------------------------ opening and closing
  // Records the newly opened device, starts the reader thread and returns
  // the new connection's number; 0 (and the device closed) when the
  // reconnect thread calls it after reconnection was stopped.
  unsigned Begin(std::shared_ptr<SerialDevice> device, TCommPort port, bool skipInit);
  // Marks the calling thread as raising OnConnect for the life of this
  // object: the reader thread waits for that to end before it reports the
  // connection's end, so Close and destruction from inside must not wait
  // for the reader.
  class Connecting {
   public:
    explicit Connecting(const TConnection& link);
    ~Connecting();
    Connecting(const Connecting&) = delete;
    Connecting& operator=(const Connecting&) = delete;

   private:
    const TConnection* outer_;
  };
  // Waits until the reader thread of connection `generation` has applied
  // the line settings (or the connection ended).
  void WaitSettled(unsigned generation);
  // Open has raised OnConnect for connection `generation` (or decided not
  // to): from now on its end may be reported.
  void ConnectReported(unsigned generation);
  // Asks the connection to end and waits up to 2 s for the reader thread to
  // have ended (not when called from that thread or from one of its
  // synchronized calls). Stops reconnection too.
  void Close();
  // The port is gone (any thread); the reader thread reports it.
  void ReportLost(unsigned generation);
  // Starts a device error check: a device that failed because the port is
  // gone ends the connection as lost.
  void CheckDevice(const std::shared_ptr<SerialDevice>& device);

  // The open device, nullptr unless setting up or open.
  std::shared_ptr<SerialDevice> Device() const;
  unsigned Generation() const;
  TLinkState State() const;
  // Whether connection `generation` is still setting up or open.
  bool Active(unsigned generation) const;

  // Waits `ms` milliseconds of the component's clock; false, at once, when
  // the current connection ends (or none is active).
  bool Pause(double ms);
  // Waits up to `ms` for input on the device; false when the connection
  // ended.
  bool WaitForInput(const std::shared_ptr<SerialDevice>& device, double ms);

  // ------------------------------------------------ sharing the port
  // The port's one lock: held by a command for its whole dialogue (nesting
  // on one thread) and by the reader thread for each read. Waits while
  // another thread holds it; false when the connection ends meanwhile, or
  // at once when `wait` is false and the port is busy.
  bool AcquirePort(bool wait);
  // True when this released the outermost hold of the calling thread.
  bool ReleasePort();

  // ------------------------------------------------ waiting for news
  // A thread that waits for something the dispatcher reports (an
  // unsolicited result: a registration, a USSD answer) reads the count,
  // looks at what it waits for, and waits for the count to move.
  unsigned NewsCount() const;
  void ReportNews();
  // Waits until the count is no longer `seen`, or the deadline; on the main
  // thread it runs synchronized calls meanwhile (the news may come through
  // one). False when the current connection ended (Close, loss,
  // destruction) before or during the wait.
  bool WaitForNews(unsigned seen, std::chrono::steady_clock::time_point deadline);

  // ------------------------------------------------ reconnecting
  void StopReconnect();
  // Whether Open is being called from the reconnect thread.
  bool OnReconnectThread() const;

  // ------------------------------------------------ the threads' bodies
  void RunReader(unsigned generation, bool skipInit);
  void RunReconnect();
  std::shared_ptr<TComThread> Reader() const;

 private:
  void EndReader(unsigned generation);
  // Connection `generation` ends without a loss (Closing).
  void EndActive(unsigned generation);
  void StartReconnectLocked(std::unique_lock<std::mutex>& lock);
  bool ReaderWaitsForCaller() const;
  bool Poll(unsigned generation, TVeskGSM* owner, const std::shared_ptr<SerialDevice>& device);
  void Dispatch(unsigned generation);
  // The component's work between polls while the port is idle (the
  // stored message check), on the thread events go to.
  void IdleWork(unsigned generation);
  bool WaitInterval(unsigned generation, double ms, const std::shared_ptr<SerialDevice>& device);
  int OwnVisits() const;
  // Waits (lock held) until `done` or the deadline; on the main thread it
  // runs synchronized calls meanwhile.
  void WaitRunningMainThread(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done,
                             std::chrono::steady_clock::time_point deadline);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  TVeskGSM* owner_;
  bool ownerGone_ = false;
  int visits_ = 0;

  TLinkState state_ = TLinkState::Closed;
  unsigned generation_ = 0;
  bool connectReported_ = true;
  bool settled_ = false;
  bool readerRunning_ = false;
  std::shared_ptr<SerialDevice> device_;
  std::shared_ptr<TComThread> reader_;
  TCommPort port_ = spNone;

  std::shared_ptr<TReconnectThread> reconnect_;
  bool reconnectStopped_ = false;

  std::thread::id portOwner_;
  int portDepth_ = 0;

  unsigned news_ = 0;
};

}  // namespace vesk
