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
//   thread asks the host to reopen every AutoReconnectCheckInterval until
//   it succeeds, AutoReconnect is switched off, or the application calls
//   Open or Close or destroys the component.
//
// Who takes each transition: Open runs on the application's thread or the
// reconnect thread; Close and destruction on any thread; a lost port is
// noticed by the reader thread (modem lines, a failing or hung-up device, a
// port that left the system's list) or by a command whose device fails.
// Only the reader thread, as it ends, raises OnFault and OnDisconnect, and
// only Open raises OnConnect: each exactly once per connection, in the
// order OnConnect, OnFault, OnDisconnect.
//
// The reader sleeps on the port: a wait on the device that input, a change
// of the modem lines (where the platform reports one), a hang-up and the
// end of the connection end at once. Text is dispatched as soon as it has
// come. The modem lines and the port list are looked at at least every
// Delay by the line watch (threads/LineWatch.h), one thread for every
// connection of the process, so that an idle reader does not wake at all.
//
// Every wait here (pauses, answers, the port, the reconnect interval, Close
// waiting for the reader) is woken by Close, destruction and loss of the
// port, and runs on a monotonic clock. No lock of this object is held while
// the host's code runs, and the host's events are raised from the
// transitions above only.
//
// The connection asks the component it belongs to for everything through
// TConnectionHost. It outlives the component when one of its threads still
// runs: the threads reach the host only through a Visit, which fails once
// the host is being destroyed, and the destructor waits for the visits of
// other threads to end.
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

class TComThread;
class TReconnectThread;

enum class TLinkState { Closed, SettingUp, Open, Closing, Lost };

// What a connection works by: read from the host when it begins (Open),
// again at each wake of the reader, and by the reconnect thread before
// each attempt, so that a change reaches the next check.
struct TConnectionSettings {
  // The longest the reader waits (milliseconds of the component's clock)
  // before it looks at the modem lines and the port list; 0 or less: a
  // second.
  int Delay = 600;
  // The port list is looked at only when Delay is at least this.
  int MinCheckDisconnectedInterval = 50;
  // Lines that were up and have all dropped mean the port is lost.
  bool CloseWhenLineStatusIsZero = true;
  // Dispatch and OnFault run on the main thread (TThread::Synchronize).
  bool NeedSynchronization = false;
  // Refused line settings leave the port open as the driver has it.
  bool SkipSetupFailed = false;
  bool AutoReconnect = false;
  // Milliseconds of the component's clock between reconnection attempts.
  int AutoReconnectCheckInterval = 4000;
};

// What the connection asks of the component it belongs to. The component
// implements it (privately); tests put a fake one in its place. Called on
// the connection's threads and on the thread that opens, never with a lock
// of the connection held, and only inside a Visit. The bookkeeping calls
// never raise (noexcept); those that run the application's code or write
// the log may.
class TConnectionHost {
 public:
  virtual TConnectionSettings ConnectionSettings() noexcept = 0;
  // Applies the line settings, time-outs and queue sizes to a device just
  // opened (the reader holds the port meanwhile). False when the line
  // settings were refused.
  virtual bool ApplyLineSettings(SerialDevice& device) noexcept = 0;
  // The modem set-up, on the reader thread, through the port's lock like
  // any command.
  virtual void SetUpModem() = 0;
  // The modem lines the reader last saw.
  virtual void LinesChanged(TLineStatusSet lines) noexcept = 0;
  // Text the reader read: kept for the dispatcher, and logged. May raise
  // (a log that cannot be written), which ends the connection.
  virtual void Received(const AnsiString& text) = 0;
  // Whether the dispatcher has anything to do: text received, or a piece
  // held back that is due.
  virtual bool InputToDispatch() noexcept = 0;
  // Runs the dispatcher: application code, which may raise (that ends the
  // connection) and may destroy the component.
  virtual void Dispatch() = 0;
  // OnConnect, on the thread that opened.
  virtual void Connected(TCommPort port) = 0;
  // The port was lost: IsFaulted, then OnFault.
  virtual void Faulted(TCommPort port) = 0;
  // OnDisconnect, as the connection ends; the device is still open.
  virtual void Disconnected(TCommPort port) = 0;
  // The device is closed: the component forgets the port.
  virtual void Released() noexcept = 0;
  // Whether the system still lists the configured port.
  virtual bool PortListed() noexcept = 0;
  // Milliseconds (of the component's clock) until the host's idle work is
  // due: 0 when it is due now, less than 0 when none is planned (the host
  // calls WakeReader when some falls due later).
  virtual double IdleWorkDueIn() noexcept = 0;
  // The idle work, on the thread events go to, while the reader holds off
  // the port: commands, and application code in events.
  virtual void DoIdleWork() = 0;
  // One reconnection attempt (the reconnect thread): true when a new
  // connection is up.
  virtual bool Reopen() = 0;

 protected:
  ~TConnectionHost() = default;
};

class TConnection : public std::enable_shared_from_this<TConnection> {
 public:
  explicit TConnection(TConnectionHost* host);

  // ------------------------------------------------ the host's life
  // Why a thread is inside the host. The reader waits for a thread that
  // raises OnConnect or runs a synchronized call for it, so Close and
  // destruction from such a thread must not wait for the reader.
  enum class TVisitKind { Inside, ForReader, Connecting };
  // A thread inside the host on behalf of this connection. Fails (false)
  // once the host is being destroyed. Each thread keeps its visits in one
  // record: the innermost, each linked to the one around it.
  class Visit {
   public:
    explicit Visit(TConnection& link, TVisitKind kind = TVisitKind::Inside);
    ~Visit();
    Visit(const Visit&) = delete;
    Visit& operator=(const Visit&) = delete;
    explicit operator bool() const { return host_ != nullptr; }
    TConnectionHost* operator->() const { return host_; }

   private:
    friend class TConnection;
    std::shared_ptr<TConnection> link_;
    TConnectionHost* host_ = nullptr;
    TVisitKind kind_;
    const Visit* outer_ = nullptr;
  };
  // Whether the host the calling thread visits innermost has gone (a
  // handler destroyed it); false outside any visit. Touches nothing of the
  // host.
  static bool VisitedHostGone();
  // From the host's destructor: ends the connection and reconnection and
  // waits until no other thread is inside the host.
  void OwnerDestroyed();
  bool OwnerGone() const;

  // ------------------------------------------------ opening and closing
  // Records the newly opened device, starts the reader thread and returns
  // the new connection's number; 0 (and the device closed) when the
  // reconnect thread calls it after reconnection was stopped, or without a
  // device.
  unsigned Begin(std::shared_ptr<SerialDevice> device, TCommPort port, bool skipInit);
  // The rest of Open, without any lock: waits until the reader of
  // connection `generation` has applied the line settings (or the
  // connection ended), then raises OnConnect through the host on this
  // thread. From then on the connection's end may be reported.
  void Announce(unsigned generation);
  // Asks the connection to end and waits up to 2 s for the reader thread to
  // have ended (not when called from that thread or from one of its
  // synchronized calls). Stops reconnection too.
  void Close();
  // The port is gone (any thread); the reader thread reports it.
  void ReportLost(unsigned generation);
  // A device call failed: when the device no longer answers at all, the
  // port is gone and the connection ends as lost.
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

  // One look at the modem lines and the port list of connection
  // `generation` (the line watch's, and the reader's when its device says
  // the lines changed): lines that were up and have all dropped, or a port
  // that left the list, end the connection as lost. Left out while a dialogue holds the port. Returns the
  // milliseconds (of the component's clock) until the next look, or less
  // than 0 once the connection has ended.
  double CheckLines(unsigned generation);
  // Wakes the reader of the current connection once, so that it looks
  // again at what the host has to do (idle work that fell due).
  void WakeReader();

  // ------------------------------------------------ sharing the port
  // The port's one lock: held by a dialogue (a command, a send, the modem
  // set-up) for its whole length, nesting on one thread, and tried by the
  // reader before it reads and before it dispatches. Waits while another
  // thread holds it; returns the connection's number it holds the port
  // for, 0 when the connection ends meanwhile, or at once when `wait` is
  // false and the port is busy. A hold that is no `dialogue` (the pause
  // flag's) keeps the reader off as well, but the dialogues inside it are
  // still each the outermost.
  unsigned AcquirePort(bool wait, bool dialogue = true);
  // Releases a hold taken for connection `generation`; true when this was
  // the calling thread's outermost dialogue. A hold of a connection that
  // has ended ends with it.
  bool ReleasePort(unsigned generation, bool dialogue = true);
  // Whether anyone but the reader holds the port.
  bool DialogueUnderWay() const;

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
  enum class TPollOutcome { Quiet, Read, Lost };

  bool SetUp(unsigned generation, const std::shared_ptr<SerialDevice>& device, bool skipInit);
  // Takes the port for one look, unless a dialogue holds it.
  bool TakePortForReader(unsigned generation);
  // What is queued, read and handed to the host. After the device said it
  // is gone, what is still queued is read, and nothing queued is a loss.
  TPollOutcome Poll(TConnectionHost& host, SerialDevice& device, bool deviceGone);
  void Dispatch(unsigned generation, bool synchronized);
  // Waits until input, a line change, a loss, the connection's end or
  // `deadline`; while a dialogue holds the port, until it lets go.
  TDeviceEvent WaitForWork(unsigned generation, SerialDevice& device, std::chrono::steady_clock::time_point deadline);
  void EndReader(unsigned generation);
  // Connection `generation` ends without a loss (Closing).
  void EndActive(unsigned generation);
  // Sets the state (lock held) and wakes every wait on the device.
  void EndLocked(TLinkState state);
  void StartReconnectLocked();
  bool ReaderWaitsForCaller() const;
  // The host's work between reads while the port is idle (the stored
  // message check), on the thread events go to.
  void IdleWork(unsigned generation);
  // Runs the host's `work` for the reader, on the main thread when
  // `synchronized`; an exception from it ends the connection.
  void RunForReader(unsigned generation, bool synchronized, void (TConnectionHost::*work)());
  int OwnVisits() const;
  // Waits (lock held) until `done` or the deadline; on the main thread it
  // runs synchronized calls meanwhile.
  void WaitRunningMainThread(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done,
                             std::chrono::steady_clock::time_point deadline);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  TConnectionHost* host_;
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
  // The lines as last looked at, and the lock of a look.
  std::mutex linesLock_;
  TLineStatusSet lines_;

  std::shared_ptr<TReconnectThread> reconnect_;
  bool reconnectStopped_ = false;

  // The port's lock: who holds it, how deeply, for which connection, and
  // whether the hold is the reader's own.
  std::thread::id portOwner_;
  int portDepth_ = 0;
  int dialogueDepth_ = 0;
  unsigned portGeneration_ = 0;
  bool portHeldByReader_ = false;

  unsigned news_ = 0;
};

}  // namespace vesk
