// Finding a modem: the port and line-speed scan.
//
// For each candidate port: open it (a handle of the scan's own, never the
// component's connection), then from the highest speed down raise OnDetect,
// apply the line settings, write the probe and poll for an "OK" line up to three
// times; the first answer ends the scan. The candidate is closed on every way
// out, an exception from the application's handler included.
//
// The pauses run on the installed clock, so tests with a fast clock scan in
// a fraction of the real time. The scan runs wholly on the calling thread
// and takes no lock of the component's; it reads only line-setting fields,
// which are atomic, and the connection's state.
#include <string>

#include "commands/Answers.h"
#include "component/VeskGSM.h"
#include "port/Connection.h"

namespace vesk {

namespace {

// Harmless to any modem, and answered with a plain "OK".
constexpr char kProbe[] = "AT+CRC=1\r";
constexpr std::uint32_t kProbeLength = sizeof kProbe - 1;
constexpr std::uint32_t kQueueSize = 4096;
// The most read in one poll: a chatty device cannot make the scan allocate
// without bound.
constexpr std::uint32_t kMaxChunk = 65536;
constexpr double kStepPauseMs = 50;
constexpr double kPollPauseMs = 500;
constexpr int kPolls = 3;

bool ValidSpeed(TBaudRate speed) { return static_cast<unsigned>(speed) <= static_cast<unsigned>(brCustom); }

}  // namespace

class TVeskGSM::TDetector {
 public:
  struct Candidate {
    AnsiString name;  // as the platform's Open takes it
    TCommPort port;   // what OnDetect reports
  };
  enum class Outcome { Found, Cancelled, NotFound, OwnerGone };

  explicit TDetector(TVeskGSM& owner) : owner_(owner), link_(owner.FLink), platform_(owner.GetSerialPlatform()) {}

  // Scans the candidates in order. On Found, FoundName/FoundPort/FoundSpeed
  // tell where. After OwnerGone the component must not be touched again.
  Outcome Run(const std::vector<Candidate>& candidates, TBaudRate start, TBaudRate end) {
    owner_.FCancelDetect = false;
    for (const Candidate& c : candidates) {
      if (HeldByOwner(c.name)) continue;
      Outcome outcome = ScanPort(c, start, end);
      if (outcome != Outcome::NotFound) return outcome;
    }
    return Outcome::NotFound;
  }

  // Step 4 of the recovery: the serial number the modem on `name` gives at
  // the component's own line settings, "" when none.
  AnsiString SerialNumberOn(const AnsiString& name, int timeOutSeconds, const std::function<bool(double)>& pause) {
    if (HeldByOwner(name)) return "";
    std::unique_ptr<SerialDevice> device;
    try {
      int error = 0;
      device = platform_->Open(name, error);
    } catch (...) {
      device.reset();
    }
    if (!device) return "";
    auto closer = OnScopeExit([&device] { Close(device); });
    const AnsiString command = "AT+CGSN";
    AnsiString answer;
    try {
      device->SetQueueSizes(kQueueSize, kQueueSize);
      device->SetTimeOuts(TTimeOuts{});
      if (!device->SetLineSettings(owner_.BuildLineSettings(owner_.GetBaudRate()))) return "";
      if (!pause(kStepPauseMs)) return "";
      device->Purge(kPurgeRxClear);
      const AnsiString line = command + "\r";
      std::uint32_t written = 0;
      if (!device->Write(line.data(), static_cast<std::uint32_t>(line.size()), written) || written != line.size())
        return "";
      for (double waited = 0; waited <= timeOutSeconds * 1000.0; waited += kStepPauseMs) {
        if (!pause(kStepPauseMs)) return "";
        std::uint32_t errors = 0, queued = 0;
        if (!device->QueuedInput(errors, queued)) return "";
        if (queued == 0) continue;
        std::string chunk(queued < kMaxChunk ? queued : kMaxChunk, '\0');
        std::uint32_t read = 0;
        if (!device->Read(&chunk[0], static_cast<std::uint32_t>(chunk.size()), read)) return "";
        chunk.resize(read);
        if (answer.size() > kMaxChunk) return "";
        answer += chunk;
        const at::TCommandAnswer a = at::ReadCommandAnswer(answer, command);
        if (a.Complete) return a.Succeeded() ? at::SerialNumber(a) : AnsiString();
      }
    } catch (...) {
    }
    return "";
  }

  const AnsiString& FoundName() const { return foundName_; }
  TCommPort FoundPort() const { return foundPort_; }
  TBaudRate FoundSpeed() const { return foundSpeed_; }

 private:
  static void Close(std::unique_ptr<SerialDevice>& device) {
    if (!device) return;
    device->Close();
    device.reset();
  }

  // The port the component's own connection holds: opening it again would
  // fail at best, and on a platform without exclusive opens would disturb
  // the connection.
  bool HeldByOwner(const AnsiString& name) {
    if (link_->State() == TLinkState::Closed) return false;
    AnsiString held;
    {
      std::lock_guard<std::mutex> lock(owner_.FFieldsLock);
      held = owner_.FOpenedPort;
    }
    return platform_->SameDevice(held, name);
  }

  Outcome ScanPort(const Candidate& c, TBaudRate start, TBaudRate end) {
    int error = 0;
    std::unique_ptr<SerialDevice> device = platform_->Open(c.name, error);
    // A port that cannot be opened (absent, or held by another program) is
    // passed over without an event.
    if (!device) return Outcome::NotFound;
    // Closed on every way out, an exception from OnDetect included.
    auto closer = OnScopeExit([&device] { Close(device); });

    if (ValidSpeed(start) && ValidSpeed(end) && end >= start) {
      for (int s = end; s >= start; --s) {
        TBaudRate speed = static_cast<TBaudRate>(s);
        Outcome outcome = Probe(*device, c, speed);
        if (outcome == Outcome::Found) {
          Close(device);
          vesk::Sleep(kStepPauseMs);
          return outcome;
        }
        if (outcome != Outcome::NotFound) return outcome;  // closed, without a purge, by closer
      }
    }
    vesk::Sleep(kStepPauseMs);
    ProcessMessages();
    if (link_->OwnerGone()) return Outcome::OwnerGone;
    device->Purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
    return Outcome::NotFound;
  }

  // One speed on an open candidate.
  Outcome Probe(SerialDevice& device, const Candidate& c, TBaudRate speed) {
    bool cancel = owner_.FCancelDetect;
    if (owner_.OnDetect) {
      owner_.OnDetect(&owner_, c.port, speed, cancel);
      if (link_->OwnerGone()) return Outcome::OwnerGone;
      owner_.FCancelDetect = cancel;
    }
    if (cancel) return Outcome::Cancelled;

    device.SetQueueSizes(kQueueSize, kQueueSize);
    device.SetTimeOuts(TTimeOuts{});  // reads return at once with what is queued
    vesk::Sleep(kStepPauseMs);
    // The component's own settings, at this speed. Applied to the candidate
    // only: the component's open port keeps its input.
    if (!device.SetLineSettings(owner_.BuildLineSettings(speed))) return Outcome::NotFound;
    vesk::Sleep(kStepPauseMs);
    std::uint32_t lineErrors = 0, waiting = 0;
    if (!device.QueuedInput(lineErrors, waiting)) return Outcome::NotFound;
    std::uint32_t written = 0;
    if (!device.Write(kProbe, kProbeLength, written) || written != kProbeLength) return Outcome::NotFound;
    vesk::Sleep(kStepPauseMs);

    // What the candidate answered so far, at this speed (bounded: a chatty
    // device cannot make the scan keep more than a few chunks).
    AnsiString answer;
    for (int poll = 0; poll < kPolls; ++poll) {
      std::uint32_t errors = 0, queued = 0;
      // A line error (a framing error at the wrong speed, typically) ends
      // this poll at once.
      if (!device.QueuedInput(errors, queued) || errors != 0) continue;
      if (queued > 0) {
        std::string chunk(queued < kMaxChunk ? queued : kMaxChunk, '\0');
        std::uint32_t read = 0;
        if (device.Read(&chunk[0], static_cast<std::uint32_t>(chunk.size()), read) && read > 0) {
          chunk.resize(read);
          if (answer.size() > kMaxChunk) answer.clear();
          answer += chunk;
          // An "OK" on a line of its own answers the probe; noise at the
          // wrong speed that happens to hold the letters does not.
          if (at::ReadCommandAnswer(answer, AnsiString(kProbe, kProbeLength - 1)).Succeeded()) {
            foundName_ = c.name;
            foundPort_ = c.port;
            foundSpeed_ = speed;
            return Outcome::Found;
          }
        }
      }
      ProcessMessages();
      if (link_->OwnerGone()) return Outcome::OwnerGone;
      vesk::Sleep(kPollPauseMs);
    }
    return Outcome::NotFound;
  }

  TVeskGSM& owner_;
  // Held apart from the component so that a handler that destroys it is
  // noticed without touching it.
  std::shared_ptr<TConnection> link_;
  std::shared_ptr<SerialPlatform> platform_;
  AnsiString foundName_;
  TCommPort foundPort_ = spNone;
  TBaudRate foundSpeed_ = br000075;
};

// ---------------------------------------------------------------- the number scan

bool TVeskGSM::DetectGSM(TCommPort startPort, TBaudRate startBaudRate, TBaudRate endBaudRate, TCommPort& pPort,
                         TBaudRate& pBaudRate) {
  pPort = spNone;
  std::vector<TDetector::Candidate> candidates;
  if (startPort != spCustom) {
    // Each numbered port under the name the list gives it (the first, when
    // two names stand for one number).
    std::vector<AnsiString> byNumber(spCOM254 + 1);
    const std::vector<AnsiString> listed = GetSerialPlatform()->PortNames();
    for (const AnsiString& name : listed) {
      AnsiString n = Trim(name);
      TCommPort port = StringToCommPort(n);
      if (port != spNone && port != spCustom && byNumber[port].empty()) byNumber[port] = n;
    }
    for (int p = startPort; p <= spCOM254; ++p)
      if (!byNumber[p].empty()) candidates.push_back({byNumber[p], static_cast<TCommPort>(p)});
  }
  TDetector detector(*this);
  switch (detector.Run(candidates, startBaudRate, endBaudRate)) {
    case TDetector::Outcome::Found:
      pPort = detector.FoundPort();
      pBaudRate = detector.FoundSpeed();
      return true;
    case TDetector::Outcome::Cancelled:
    case TDetector::Outcome::NotFound:
    case TDetector::Outcome::OwnerGone:
      return false;
  }
  return false;
}

bool TVeskGSM::DetectGSM(TBaudRate startBaudRate, TBaudRate endBaudRate, TCommPort& pPort, TBaudRate& pBaudRate) {
  return DetectGSM(spCOM1, startBaudRate, endBaudRate, pPort, pBaudRate);
}

bool TVeskGSM::DetectGSM(TCommPort& pPort, TBaudRate& pBaudRate) {
  return DetectGSM(spCOM1, br000075, br921600, pPort, pBaudRate);
}

// ---------------------------------------------------------------- the name scan

bool TVeskGSM::DetectGSM(TBaudRate startBaudRate, TBaudRate endBaudRate, UnicodeString& pPort, TBaudRate& pBaudRate) {
  pPort.clear();
  std::vector<TDetector::Candidate> candidates;
  {
    TStringList names;
    GetExistingCommPortNames(names);
    for (int i = 0; i < names.Count(); ++i) {
      AnsiString name = WideToAnsi(names[i]);
      candidates.push_back({name, StringToCommPort(name)});
    }
  }
  TDetector detector(*this);
  switch (detector.Run(candidates, startBaudRate, endBaudRate)) {
    case TDetector::Outcome::Found:
      pPort = AnsiToWide(detector.FoundName());
      pBaudRate = detector.FoundSpeed();
      return true;
    case TDetector::Outcome::Cancelled:
    case TDetector::Outcome::NotFound:
    case TDetector::Outcome::OwnerGone:
      return false;
  }
  return false;
}

bool TVeskGSM::DetectGSM(UnicodeString& pPort, TBaudRate& pBaudRate) {
  return DetectGSM(br000075, br921600, pPort, pBaudRate);
}

AnsiString TVeskGSM::ProbeSerialNumber(const AnsiString& name, int timeOutSeconds,
                                       const std::function<bool(double)>& pause) {
  TDetector detector(*this);
  return detector.SerialNumberOn(name, timeOutSeconds, pause);
}

}  // namespace vesk
