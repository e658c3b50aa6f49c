// The modem's health: the keep-alive, the ladder of recovery steps and the
// re-attachment of a modem by its IMEI.
//
// One supervisor per component, with a thread of its own that runs only
// while the keep-alive is on (or an IMEI is to be recorded for
// AutoReconnect). Everything it does to the modem goes through the
// component's own operations: port sessions and commands, Open, the
// connection's Close, the port scan's probe. It reaches the component only
// inside a visit of the connection (port/Connection.h), so destruction
// waits for it; every wait of its own is woken by Stop, which the
// application's Close and the destructor call.
//
//   idle ──(no command for KeepAliveInterval)──▶ "AT" ──answered──▶ idle
//     ▲                                              │ not answered, or a
//     │                                              ▼ trigger from a command
//     └──── hsAlive ◀── cured ── hsEscape, hsReopen, hsReset, (hsFound)
//                                  │ none cured
//                                  ▼
//                     hsGaveUp, wait AutoReconnectCheckInterval, hsReopen ...
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "commands/Answers.h"
#include "commands/StateAnswers.h"
#include "component/VeskGSM.h"
#include "port/Connection.h"
#include "threads/ComThread.h"

namespace vesk {

namespace {

using Steady = std::chrono::steady_clock;

constexpr char kEscape = '\x1B';
// The commands the ladder checks a cure with: "AT" always, and a message
// command when the trigger was a command or a send (a modem may answer
// "AT" and nothing else).
constexpr char kAliveCommand[] = "AT";
constexpr char kMessageCommand[] = "AT+CMGF?";
// How long DTR stays dropped, and the port closed, in step 2.
constexpr double kDtrDropMs = 500;
constexpr double kClosedMs = 1000;
// After a reset the modem's port usually leaves the system's list first;
// this long is allowed for that before the wait for its return begins.
constexpr double kResetLeaveMs = 5000;
constexpr double kResetPollMs = 1000;
// How long the IMEI record waits for the set-up of a new connection.
constexpr double kSetUpWaitMs = 120000;
constexpr double kSetUpPollMs = 50;

Steady::time_point After(double clockMs) {
  return Steady::now() +
         std::chrono::duration_cast<Steady::duration>(GetClock()->RealDuration(clockMs < 0 ? 0 : clockMs));
}

// The components alive in the process, so that step 4 leaves alone the
// ports other components have open. A component leaves the list first
// thing in its destructor, under the lock, so one found here is whole
// while the lock is held.
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::vector<TVeskGSM*>& Registry() {
  static std::vector<TVeskGSM*> components;
  return components;
}

class TBodyThread : public TThread {
 public:
  explicit TBodyThread(std::function<void()> body) : body_(std::move(body)) { FreeOnTerminate = true; }

 protected:
  void Execute() override { body_(); }

 private:
  std::function<void()> body_;
};

// Whether `text`, read after "AT", shows that the command interpreter
// answered: a final result (ERROR too), or a line that is neither the
// echo, nor the "> " prompt, nor an unsolicited result.
bool InterpreterAnswered(const AnsiString& text) {
  const at::TCommandAnswer answer = at::ReadCommandAnswer(text, kAliveCommand);
  if (answer.Complete) return true;
  for (const at::TResult& r : answer.Results) {
    if (r.Kind != at::TResultKind::Information) continue;  // RING, +CMTI ..., the prompt
    if (!r.Name.empty()) continue;                         // "+CREG: 1" and the like
    if (UpperCase(Trim(r.Line)) == kAliveCommand) continue;
    if (!Trim(r.Line).empty()) return true;
  }
  return false;
}

// A serial number as a modem gives it for AT+CGSN: an IMEI (15 digits),
// IMEISV (16) or another serial of hex digits; "" for anything else (a
// notice that came in between, a quoted field).
AnsiString SerialOf(const at::TCommandAnswer& answer) {
  if (!answer.Succeeded()) return "";
  const AnsiString serial = Trim(at::SerialNumber(answer));
  if (serial.size() < 8 || serial.size() > 20) return "";
  for (char c : serial)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
  return serial;
}

std::vector<AnsiString> SplitNames(const AnsiString& text) {
  std::vector<AnsiString> names;
  AnsiString name;
  for (char c : text + ",") {
    if (c == ',' || c == ';') {
      name = Trim(name);
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name += c;
    }
  }
  return names;
}

}  // namespace

// ---------------------------------------------------------------- names

AnsiString EnumName(THealthStep v) {
  switch (v) {
    case hsAlive: return "hsAlive";
    case hsProbeFailed: return "hsProbeFailed";
    case hsEscape: return "hsEscape";
    case hsReopen: return "hsReopen";
    case hsReset: return "hsReset";
    case hsFound: return "hsFound";
    case hsGaveUp: return "hsGaveUp";
  }
  return "hsAlive";
}

const char* HealthStepName(THealthStep v) {
  switch (v) {
    case hsAlive: return "alive";
    case hsProbeFailed: return "probe_failed";
    case hsEscape: return "escape";
    case hsReopen: return "reopen";
    case hsReset: return "reset";
    case hsFound: return "found";
    case hsGaveUp: return "gave_up";
  }
  return "alive";
}

bool EnumFromName(const AnsiString& name, THealthStep& v) {
  for (THealthStep each : {hsAlive, hsProbeFailed, hsEscape, hsReopen, hsReset, hsFound, hsGaveUp})
    if (EnumName(each) == name) {
      v = each;
      return true;
    }
  return false;
}

// ---------------------------------------------------------------- the supervisor

class TVeskGSM::TSupervisor : public std::enable_shared_from_this<TSupervisor> {
 public:
  TSupervisor(TVeskGSM& owner, std::shared_ptr<TConnection> link) : owner_(&owner), link_(std::move(link)) {}

  // Open has begun a connection; `byApplication` when the application
  // opened it (the IMEI is recorded anew then).
  void Watch(bool byApplication, bool needed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (byApplication) stopped_ = false;
    // Read anew after the application's Open (it may have chosen another
    // modem), and on any open while none was read.
    if (byApplication || imei_.empty()) {
      imeiDue_ = true;
      freshRecord_ = false;
    }
    ++wakes_;
    if (!needed || stopped_) return;
    if (!running_) {
      running_ = true;
      std::weak_ptr<TSupervisor> self = shared_from_this();
      thread_ = TThread::Create<TBodyThread>(false, [self] {
        if (auto s = self.lock()) s->Run();
      });
    }
    changed_.notify_all();
  }

  void Trigger(const AnsiString& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_ || !running_) return;
    trigger_ = reason;
    changed_.notify_all();
  }

  void Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++wakes_;
    changed_.notify_all();
  }

  // The application's Close or Open, or destruction: the ladder and the
  // keep-alive end at their next look (each wait of theirs is woken now).
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    ++epoch_;
    changed_.notify_all();
  }

  // After Stop: waits until the step under way has given up (its waits on
  // the connection end when the connection does). True when one was under
  // way: what it opened meanwhile is for the caller to close.
  bool WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (OnThreadLocked() || !working_) return false;
    changed_.wait_for(lock, std::chrono::seconds(5), [&] { return !working_; });
    return true;
  }

  bool OnThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return OnThreadLocked();
  }

  void NoteActivity() { lastActivity_ = Steady::now().time_since_epoch().count(); }

  AnsiString IMEI() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return imei_;
  }

  // Step 4: the candidate port whose modem answers with `imei`, "" when
  // none does. `epoch` (0: none) ends the search when it changes.
  AnsiString Find(TVeskGSM& g, const AnsiString& imei, unsigned epoch, const AnsiString& first = AnsiString()) {
    std::vector<AnsiString> candidates;
    if (!first.empty()) candidates.push_back(first);
    std::shared_ptr<SerialPlatform> platform = g.GetSerialPlatform();
    std::vector<AnsiString> named = SplitNames(g.GetReattachPorts());
    if (named.empty()) {
      // The listed ports, when the component's own port was one of them (a
      // USB modem that comes back as another ttyUSB). A port that is not
      // listed (a pseudo-terminal, a custom device name) has its
      // candidates named by the application: no other port is tried.
      TStringList listed;
      g.GetExistingCommPortNames(listed);
      for (int i = 0; i < listed.Count(); ++i) named.push_back(WideToAnsi(listed[i]));
      bool ownListed;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ownListed = listedAtRecord_;
      }
      if (!ownListed) named.assign(1, g.GetFPort());
    }
    for (const AnsiString& name : named) {
      bool again = false;
      for (const AnsiString& c : candidates) {
        try {
          again = again || platform->SameDevice(c, name);
        } catch (...) {
        }
      }
      if (!again) candidates.push_back(name);
    }
    const int timeout = g.GetKeepAliveTimeout();
    for (const AnsiString& name : candidates) {
      if (epoch != 0 && !Current(epoch)) return "";
      if (HeldByAnother(g, platform, name)) continue;
      auto pause = [&](double ms) {
        if (epoch == 0) {
          vesk::Sleep(ms);
          return !link_->OwnerGone();
        }
        return Wait(ms, epoch);
      };
      if (g.ProbeSerialNumber(name, timeout, pause) == imei) return name;
    }
    return "";
  }

 private:
  bool OnThreadLocked() const { return thread_ && thread_->IsCurrentThread(); }

  // The component, from the supervisor's thread: inside a visit of the
  // connection, so that destruction waits until the thread has left it.
  class Owner {
   public:
    explicit Owner(TSupervisor& s) : visit_(*s.link_), gsm_(visit_ ? s.owner_ : nullptr) {}
    explicit operator bool() const { return gsm_ != nullptr; }
    TVeskGSM* operator->() const { return gsm_; }

   private:
    TConnection::Visit visit_;
    TVeskGSM* gsm_;
  };

  bool Current(unsigned epoch) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !stopped_ && epoch_ == epoch;
  }

  // Work on the modem begins, unless Stop came first: Stop's caller then
  // waits for it to end (WaitIdle).
  class Work {
   public:
    Work(TSupervisor& s, unsigned epoch) : s_(s) {
      std::lock_guard<std::mutex> lock(s_.mutex_);
      began_ = !s_.stopped_ && s_.epoch_ == epoch;
      if (began_) s_.working_ = true;
    }
    ~Work() {
      if (!began_) return;
      std::lock_guard<std::mutex> lock(s_.mutex_);
      s_.working_ = false;
      s_.changed_.notify_all();
    }
    explicit operator bool() const { return began_; }

   private:
    TSupervisor& s_;
    bool began_;
  };

  // Waits `ms` of the clock; false when Stop came first.
  bool Wait(double ms, unsigned epoch) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_until(lock, After(ms), [&] { return stopped_ || epoch_ != epoch; });
  }

  static bool HeldByAnother(TVeskGSM& g, const std::shared_ptr<SerialPlatform>& platform, const AnsiString& name) {
    std::lock_guard<std::mutex> registry(RegistryLock());
    for (TVeskGSM* other : Registry()) {
      if (other == &g || other->FLink->State() == TLinkState::Closed) continue;
      AnsiString held;
      {
        std::lock_guard<std::mutex> fields(other->FFieldsLock);
        held = other->FOpenedPort;
      }
      try {
        if (platform->SameDevice(held, name)) return true;
      } catch (...) {
        return true;
      }
    }
    return false;
  }

  // ------------------------------------------------ the thread

  void Run() {
    for (;;) {
      unsigned epoch;
      bool recordIMEI;
      AnsiString trigger;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopped_) {
          running_ = false;
          return;
        }
        epoch = epoch_;
        recordIMEI = imeiDue_;
        imeiDue_ = false;
        trigger.swap(trigger_);
      }
      bool goOn = true;
      if (recordIMEI || !trigger.empty()) {
        Work work(*this, epoch);
        if (work) goOn = recordIMEI ? RecordIMEI(epoch) : Ladder(epoch, trigger, true);
      } else {
        goOn = KeepAlive(epoch);
      }
      if (!goOn) {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        return;
      }
    }
  }

  // The keep-alive's turn: waits until it is due (or something else is to
  // be done), then probes. False when the component is gone.
  bool KeepAlive(unsigned epoch) {
    int interval, timeout;
    {
      Owner owner(*this);
      if (!owner) return false;
      interval = owner->GetKeepAliveInterval();
      timeout = owner->GetKeepAliveTimeout();
    }
    const bool open = link_->State() == TLinkState::Open;
    std::unique_lock<std::mutex> lock(mutex_);
    const unsigned wakes = wakes_;
    auto interrupted = [&] { return stopped_ || epoch_ != epoch || imeiDue_ || !trigger_.empty() || wakes_ != wakes; };
    if (interval <= 0 || !open) {
      // Nothing to watch: until a property, an Open or Stop wakes it (and
      // now and then, for a connection that has finished its set-up).
      changed_.wait_for(lock, std::chrono::milliseconds(interval <= 0 ? 60000 : 1000), interrupted);
      return true;
    }
    const auto last = Steady::time_point(Steady::duration(lastActivity_.load()));
    const auto due = last + std::chrono::duration_cast<Steady::duration>(GetClock()->RealDuration(interval * 1000.0));
    if (Steady::now() < due) {
      changed_.wait_until(lock, due, interrupted);
      return true;
    }
    lock.unlock();
    Work work(*this, epoch);
    if (!work) return true;
    Owner owner(*this);
    if (!owner) return false;
    if (Answered(*owner.operator->(), timeout, false, false)) return true;
    if (!Current(epoch) || link_->State() != TLinkState::Open) return true;
    // The trigger: not answered while the connection stayed.
    return Ladder(epoch, "no answer to the keep-alive within " + IntToStr(timeout) + " seconds", false);
  }

  // ------------------------------------------------ from the set-up
 public:
  // The set-up has read the IMEI (and whether the port is listed).
  void Recorded(const AnsiString& imei, bool listed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (imei.empty()) return;
    imei_ = imei;
    listedAtRecord_ = listed;
    imeiDue_ = false;
    freshRecord_ = true;
  }

  // The IMEI (AT+CGSN, a few tries: a notice may come in between) and
  // whether the component's port is one the system lists.
  static AnsiString ReadIdentity(TVeskGSM& g, bool& listed) {
    AnsiString imei;
    for (int attempt = 0; attempt < 3 && imei.empty(); ++attempt) {
      try {
        at::TCommandAnswer answer;
        g.RunCommand("AT+CGSN", '\r', g.GetKeepAliveTimeout(), answer, true);
        imei = SerialOf(answer);
      } catch (...) {
        break;
      }
    }
    listed = false;
    try {
      TStringList names;
      g.GetExistingCommPortNames(names);
      std::shared_ptr<SerialPlatform> platform = g.GetSerialPlatform();
      const AnsiString own = g.GetFPort();
      for (int i = 0; i < names.Count() && !listed; ++i) listed = platform->SameDevice(own, WideToAnsi(names[i]));
    } catch (...) {
    }
    return imei;
  }

 private:
  // The IMEI of the modem the application opened, once its set-up is done
  // (unless the set-up read it).
  bool RecordIMEI(unsigned epoch) {
    auto deadline = After(kSetUpWaitMs);
    while (link_->State() == TLinkState::SettingUp && Steady::now() < deadline)
      if (!Wait(kSetUpPollMs, epoch)) return true;
    if (link_->State() != TLinkState::Open) return true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (freshRecord_) return true;
    }
    Owner owner(*this);
    if (!owner) return false;
    bool listed = false;
    const AnsiString imei = ReadIdentity(*owner.operator->(), listed);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!imei.empty() && epoch_ == epoch) {
      imei_ = imei;
      listedAtRecord_ = listed;
    }
    return true;
  }

  // Whether the modem answers "AT" (after an escape), and with `deep` a
  // message command too, within `timeout` seconds.
  static bool Answered(TVeskGSM& g, int timeout, bool escape, bool deep) {
    try {
      {
        TPortSession session(g);
        if (escape) {
          g.SendString(AnsiString(1, kEscape));
          if (!g.Pause(200)) return false;
        }
        g.SendString(AnsiString(kAliveCommand) + "\r");
        at::TFinalWatch watch;
        bool completed = false;
        const AnsiString text =
            g.ReadAnswer([&](const AnsiString& read) { return watch.Feed(read); }, timeout, completed, false,
                         [](const AnsiString& read) { return at::WithoutOwnAnswers(read, kAliveCommand); });
        session.End();
        if (!InterpreterAnswered(text)) return false;
      }
      if (!deep) return true;
      at::TCommandAnswer answer;
      g.RunCommand(kMessageCommand, '\r', timeout, answer, true);
      return answer.Complete;
    } catch (...) {
      return false;
    }
  }

  void Report(THealthStep step, const AnsiString& reason) {
    Owner owner(*this);
    if (!owner) return;
    owner->RaiseHealth(step, reason, [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      return stopped_;
    });
  }

  // The ladder. False when the component is gone.
  bool Ladder(unsigned epoch, const AnsiString& reason, bool deep) {
    {
      Owner owner(*this);
      if (!owner) return false;
      if (link_->State() != TLinkState::Open) return true;  // closed or lost meanwhile: not ours
      owner->FRecovering = true;
    }
    struct Done {
      TSupervisor& s;
      ~Done() {
        Owner owner(s);
        if (!owner) return;
        owner->FRecovering = false;
        owner->FUnansweredInARow = 0;
      }
    } done{*this};

    Report(hsProbeFailed, reason);
    if (!Current(epoch)) return true;
    Report(hsEscape, "an escape and AT");
    if (Probe(epoch, true, deep)) return Cured(epoch, "answered after the escape", false);

    for (;;) {
      if (!Current(epoch)) return true;
      Report(hsReopen, "the port closed with DTR dropped and opened again");
      if (Reopen(epoch) && Probe(epoch, false, deep)) return Cured(epoch, "answered after the port was reopened", true);
      if (!Current(epoch)) return true;

      AnsiString command;
      {
        Owner owner(*this);
        if (!owner) return false;
        command = owner->GetResetCommand();
      }
      if (!command.empty() && link_->State() == TLinkState::Open) {
        Report(hsReset, command);
        if (Reset(epoch, command, deep)) return Cured(epoch, "answered after " + command, true);
        if (!Current(epoch)) return true;
      }

      AnsiString imei = IMEI();
      if (!imei.empty()) {
        link_->Close();
        AnsiString found;
        {
          Owner owner(*this);
          if (!owner) return false;
          found = Find(*owner.operator->(), imei, epoch);
          if (!found.empty()) owner->UsePortName(found);
        }
        if (!found.empty() && OpenPort(epoch) && Probe(epoch, false, deep)) {
          Report(hsFound, "IMEI " + imei + " answered on " + found);
          return Cured(epoch, "answered on " + found, true);
        }
      }
      if (!Current(epoch)) return true;
      link_->Close();
      Report(hsGaveUp, "no step brought the modem back");
      int interval;
      {
        Owner owner(*this);
        if (!owner) return false;
        interval = owner->GetAutoReconnectCheckInterval();
      }
      if (!Wait(interval, epoch)) return true;
    }
  }

  bool Probe(unsigned epoch, bool escape, bool deep) {
    if (!Current(epoch) || link_->State() != TLinkState::Open) return false;
    Owner owner(*this);
    return owner && Answered(*owner.operator->(), owner->GetKeepAliveTimeout(), escape, deep);
  }

  // A cure: the set-up when the port was opened again, then hsAlive.
  bool Cured(unsigned epoch, const AnsiString& how, bool setUp) {
    if (setUp && Current(epoch)) {
      Owner owner(*this);
      if (!owner) return false;
      try {
        owner->InitGSMModem();
      } catch (...) {
      }
    }
    {
      // A trigger from commands that failed before the cure (raised while
      // this ladder began) is answered by it: no second ladder.
      std::lock_guard<std::mutex> lock(mutex_);
      trigger_.clear();
    }
    if (Current(epoch)) Report(hsAlive, how);
    NoteActivity();
    return true;
  }

  // Opens the component's port (without the set-up, which follows a cure).
  bool OpenPort(unsigned epoch) {
    // A connection still ending (lost meanwhile) ends first: Open would
    // otherwise close it as the application's Close does.
    if (link_->State() != TLinkState::Closed) link_->Close();
    if (!Current(epoch)) return false;
    bool opened = false;
    {
      Owner owner(*this);
      if (owner) {
        try {
          opened = owner->Open(true);
        } catch (...) {
          opened = false;
        }
      }
    }
    return opened || link_->State() == TLinkState::Open;
  }

  // Step 2: DTR dropped, the port closed, a moment, the port opened again.
  bool Reopen(unsigned epoch) {
    if (std::shared_ptr<SerialDevice> device = link_->Device()) {
      Owner owner(*this);
      if (!owner) return false;
      TLineSettings settings = owner->BuildLineSettings(owner->GetBaudRate());
      settings.Flags &= ~dcb::DtrControlMask;
      try {
        device->SetLineSettings(settings);
      } catch (...) {
      }
      owner->Pause(kDtrDropMs);
    }
    link_->Close();
    if (!Wait(kClosedMs, epoch)) return false;
    return OpenPort(epoch);
  }

  // Step 3: the reset command; when the modem takes it, the port is let
  // go, and the same modem is waited for under the same name.
  bool Reset(unsigned epoch, const AnsiString& command, bool deep) {
    AnsiString name;
    int wait;
    {
      Owner owner(*this);
      if (!owner) return false;
      name = owner->GetFPort();
      wait = owner->GetResetWait();
      at::TCommandAnswer answer;
      try {
        owner->RunCommand(command, '\r', owner->GetKeepAliveTimeout(), answer, true);
      } catch (...) {
      }
      // Refused, or not answered at all: the modem did not take it.
      if (!answer.Succeeded()) return false;
    }
    link_->Close();
    auto listed = [&] {
      Owner owner(*this);
      try {
        return owner && owner->IsExistingCommPort(name);
      } catch (...) {
        return false;
      }
    };
    // The port goes away (when it does), then comes back.
    for (double waited = 0; waited < kResetLeaveMs && listed(); waited += kResetPollMs / 4)
      if (!Wait(kResetPollMs / 4, epoch)) return false;
    const auto deadline = After(wait * 1000.0);
    const AnsiString imei = IMEI();
    while (Steady::now() < deadline) {
      if (link_->State() == TLinkState::Closed && listed()) OpenPort(epoch);
      if (Probe(epoch, false, deep)) {
        if (imei.empty()) return true;
        Owner owner(*this);
        if (!owner) return false;
        AnsiString now;
        try {
          at::TCommandAnswer answer;
          owner->RunCommand("AT+CGSN", '\r', owner->GetKeepAliveTimeout(), answer, true);
          now = SerialOf(answer);
        } catch (...) {
        }
        if (now == imei) return true;
        // Another modem under the name: not this component's.
        link_->Close();
        return false;
      }
      if (!Wait(kResetPollMs, epoch)) return false;
    }
    return false;
  }

  TVeskGSM* const owner_;
  std::shared_ptr<TConnection> link_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<TThread> thread_;
  bool running_ = false;
  bool stopped_ = false;
  bool working_ = false;
  bool imeiDue_ = false;
  unsigned epoch_ = 1;
  unsigned wakes_ = 0;
  AnsiString trigger_;
  AnsiString imei_;
  bool listedAtRecord_ = false;
  bool freshRecord_ = false;  // the set-up read the IMEI since the last Open
  std::atomic<Steady::rep> lastActivity_{Steady::now().time_since_epoch().count()};
};

// ---------------------------------------------------------------- the component's side

void TVeskGSM::InitHealth() {
  FSupervisor = std::make_shared<TSupervisor>(*this, FLink);
  std::lock_guard<std::mutex> lock(RegistryLock());
  Registry().push_back(this);
}

void TVeskGSM::EndHealth() {
  {
    std::lock_guard<std::mutex> lock(RegistryLock());
    auto& r = Registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
  }
  FSupervisor->Stop();
}

void TVeskGSM::RecordIdentity() {
  if (FKeepAliveInterval <= 0 && !(FAutoReconnect && FReattachByIMEI)) return;
  bool listed = false;
  const AnsiString imei = TSupervisor::ReadIdentity(*this, listed);
  FSupervisor->Recorded(imei, listed);
}

void TVeskGSM::SetKeepAliveInterval(int seconds) {
  FKeepAliveInterval = seconds < 0 ? 0 : seconds;
  // A connection already open is watched from now on.
  if (seconds > 0 && FLink->State() != TLinkState::Closed) FSupervisor->Watch(false, true);
  FSupervisor->Wake();
}

AnsiString TVeskGSM::GetResetCommand() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FResetCommand;
}

void TVeskGSM::SetResetCommand(const AnsiString& value) {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FResetCommand = Trim(value);
}

AnsiString TVeskGSM::GetReattachPorts() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FReattachPorts;
}

void TVeskGSM::SetReattachPorts(const AnsiString& value) {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FReattachPorts = value;
}

AnsiString TVeskGSM::GetRecordedIMEI() const { return FSupervisor->IMEI(); }

void TVeskGSM::UsePortName(const AnsiString& name) {
  TCommPort port = StringToCommPort(name);
  if (port != spCustom) {
    SetCommPort(port);
    return;
  }
  SetCustomPortName(name);
  SetCommPort(spCustom);
}

void TVeskGSM::NoteAnswerOutcome(bool answered, bool send) {
  if (FKeepAliveInterval <= 0 || FRecovering || FSupervisor->OnThread()) return;
  if (answered) {
    FUnansweredInARow = 0;
    return;
  }
  if (send) {
    FSupervisor->Trigger("a send got no final answer");
  } else if (++FUnansweredInARow >= 2) {
    FUnansweredInARow = 0;
    FSupervisor->Trigger("two commands in a row got no final answer");
  }
}

void TVeskGSM::NoteCommandBegins() {
  FSupervisor->NoteActivity();
  if (!FRecovering || FSupervisor->OnThread()) return;
  std::shared_ptr<TComThread> reader = FLink->Reader();
  if (reader && reader->IsCurrentThread()) return;
  throw EVeskGSMException(NotOpenMessage());
}

void TVeskGSM::NoteOpened(unsigned) {
  if (FSupervisor->OnThread()) return;
  const bool byApplication = !FLink->OnReconnectThread();
  const bool needed = FKeepAliveInterval > 0 || (FAutoReconnect && FReattachByIMEI);
  FSupervisor->NoteActivity();
  FSupervisor->Watch(byApplication, needed);
}

bool TVeskGSM::OnSupervisorThread() const { return FSupervisor->OnThread(); }

void TVeskGSM::StopSupervisor() {
  FSupervisor->Stop();
  // A step under way may be reading the connection: it ends with it.
  FLink->Close();
  // And what it opened before it noticed is closed too.
  if (FSupervisor->WaitIdle()) FLink->Close();
}

int TVeskGSM::ReattachByIdentity() {
  if (!FReattachByIMEI) return 0;
  const AnsiString imei = FSupervisor->IMEI();
  if (imei.empty()) return 0;
  const AnsiString own = GetFPort();
  const AnsiString found = FSupervisor->Find(*this, imei, 0, own);
  if (found.empty()) return -1;
  const bool moved = found != own;
  if (moved) UsePortName(found);
  if (!Open(false)) return -1;
  if (moved) RaiseHealth(hsFound, "IMEI " + imei + " answered on " + found, [] { return false; });
  return 1;
}

void TVeskGSM::RaiseHealth(THealthStep step, const AnsiString& reason, const std::function<bool()>& abandon) {
  std::shared_ptr<TConnection> link = FLink;
  auto raise = [this, link, step, &reason] {
    TConnection::Visit owner(*link);
    if (owner) OnHealth(this, step, reason);
  };
  try {
    if (FNeedSynchronization)
      TThread::Synchronize(raise, [&] { return abandon() || link->OwnerGone(); });
    else
      raise();
  } catch (...) {
    // A handler's failure does not stop the recovery.
  }
}

}  // namespace vesk
