#include "tools/simulator/ModemSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "tools/simulator/AtEngine.h"
#include "tools/simulator/PseudoTerminal.h"
#include "tools/simulator/SmsPdu.h"

namespace vesk::sim {

namespace {

// Quirks::maxWriteChunk: the gap between two cut writes.
constexpr Milliseconds kWriteChunkGap{2};
// Quirks::pacingBitsPerSecond: a paced write holds what the line carries
// in this slice; a thread that wakes late catches up at most this much.
constexpr std::chrono::microseconds kPacingSlice{5000};
constexpr Milliseconds kPacingCatchUp{50};

std::string GeneratedPath() {
  static std::atomic<unsigned> counter{0};
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  return dir + "/veskgsm-sim-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

}  // namespace

std::string Printable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

std::vector<std::string> DeliverPdus(const IncomingSms& sms) {
  std::vector<std::string> out;
  for (const SmsPdu& pdu : EncodeDeliver(sms)) out.push_back(pdu.Hex());
  return out;
}

struct ModemSimulator::Impl {
  explicit Impl(const ModemConfig& config)
      : path(config.path.empty() ? GeneratedPath() : config.path), resetOnPlug(config.resetOnPlug), engine(config) {}

  // --- I/O thread -------------------------------------------------------------

  void Loop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
      const Clock::time_point now = Clock::now();
      RunTasks();
      RunDueTimers(now);
      WriteDue(now);

      pollfd fds[2] = {{wakeRead, POLLIN, 0}, {pty.Master(), POLLIN, 0}};
      const bool writable = pty.IsOpen() && !output.empty() && NextWrite() <= now;
      if (writable) fds[1].events |= POLLOUT;
      const nfds_t count = pty.IsOpen() ? 2 : 1;
      const int timeout = NextTimeout(now, writable);

      lock.unlock();
      const int ready = ::poll(fds, count, timeout);
      lock.lock();
      if (ready <= 0) continue;
      if (fds[0].revents & POLLIN) DrainWakePipe();
      if (count == 2 && (fds[1].revents & POLLIN)) ReadFromLine();
      if (count == 2 && hung && (fds[1].revents & POLLHUP)) {
        // The client closed the line: the hang is over when it opens it again.
        hung = false;
        pty.HoldSlave();
        Touch();
      }
    }
  }

  int NextTimeout(Clock::time_point now, bool writable) const {
    if (writable) return 100;  // waiting for POLLOUT; look again now and then
    Clock::time_point next = Clock::time_point::max();
    if (!output.empty() && pty.IsOpen()) next = NextWrite();
    for (const Timer& t : timers) next = std::min(next, t.due);
    if (next == Clock::time_point::max()) return -1;
    if (next <= now) return 0;
    const auto ms = std::chrono::duration_cast<Milliseconds>(next - now).count() + 1;
    return static_cast<int>(std::min<long long>(ms, 60'000));
  }

  void ReadFromLine() {
    char buffer[4096];
    const ssize_t n = ::read(pty.Master(), buffer, sizeof buffer);
    if (n <= 0) return;  // EAGAIN; the slave is held open here, so no hang-up
    const std::string bytes(buffer, static_cast<std::size_t>(n));
    const Clock::time_point now = Clock::now();
    Record(Direction::Received, bytes, now);

    const Quirks quirks = engine.GetQuirks();
    if (quirks.neverAnswers || hung) return;
    if (quirks.lineSpeed != 0 && pty.LineSpeed() != quirks.lineSpeed) {
      // At the wrong speed the modem hears noise, not commands.
      if (quirks.wrongSpeedReply == WrongSpeedReply::Garbage) Enqueue(now, Noise(std::max<std::size_t>(1, bytes.size() / 2)));
      return;
    }
    Emissions out;
    engine.Receive(bytes, out);
    Schedule(out, now);
    if (engine.TakeRestartRequest()) ScheduleRestart(now);
  }

  // AT+CFUN=1,1 of a wedged modem: its OK goes out, then the port goes away
  // and comes back once the modem has restarted.
  void ScheduleRestart(Clock::time_point now) {
    timers.push_back({now + Milliseconds(300), [this](Clock::time_point at) {
                        DoUnplug();
                        Touch();
                        timers.push_back({at + restartGone, [this](Clock::time_point) { PlugAgain(); }});
                      }});
  }

  void PlugAgainKeepingState() {
    if (pty.IsOpen()) return;
    try {
      DoPlug();
    } catch (...) {
      pty.Close();
    }
    Touch();
  }

  void PlugAgain() {
    if (pty.IsOpen()) return;
    try {
      DoPlug();
      engine.PowerOn();
    } catch (...) {
      pty.Close();
    }
    Touch();
  }

  // When the next write may go: its due time, and not before the line is
  // free again when writes are paced or cut.
  Clock::time_point NextWrite() const { return std::max(output.front().due, lineFreeAt); }

  void WriteDue(Clock::time_point now) {
    const Quirks quirks = engine.GetQuirks();
    const unsigned bps = quirks.pacingBitsPerSecond;
    while (pty.IsOpen() && !output.empty() && NextWrite() <= now) {
      Pending& front = output.front();
      std::size_t size = front.bytes.size();
      Clock::time_point base = now;
      if (bps > 0) {
        // Keep the line's pace when the thread wakes late in the middle of
        // a stream: the bytes that would have gone meanwhile go now (up to
        // a bound). A line that had fallen idle starts afresh.
        if (streaming) base = std::max(lineFreeAt, now - kPacingCatchUp);
        const auto span = std::chrono::duration_cast<std::chrono::microseconds>(now - base + kPacingSlice);
        const auto budget = static_cast<std::size_t>(span.count() * static_cast<long long>(bps) / 10'000'000);
        size = std::min(size, std::max<std::size_t>(budget, 1));
      }
      if (quirks.maxWriteChunk > 0) size = std::min<std::size_t>(size, quirks.maxWriteChunk);
      const ssize_t n = ::write(pty.Master(), front.bytes.data(), size);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
        output.clear();  // the line is gone; nothing more can be said on it
        Touch();
        return;
      }
      const std::size_t written = static_cast<std::size_t>(n);
      Record(Direction::Sent, front.bytes.substr(0, written), Clock::now());
      front.bytes.erase(0, written);
      if (front.bytes.empty()) output.pop_front();
      streaming = !output.empty();
      if (bps > 0 || quirks.maxWriteChunk > 0) {
        Clock::duration busy{0};
        if (bps > 0) busy = std::chrono::microseconds(static_cast<long long>(written) * 10'000'000 / bps);
        if (quirks.maxWriteChunk > 0) busy = std::max<Clock::duration>(busy, kWriteChunkGap);
        lineFreeAt = base + busy;
        if (lineFreeAt > now) return;  // the loop looks again when it is due
      }
    }
  }

  void RunDueTimers(Clock::time_point now) {
    std::vector<Timer> due;
    for (auto it = timers.begin(); it != timers.end();) {
      if (it->due <= now) {
        due.push_back(std::move(*it));
        it = timers.erase(it);
      } else {
        ++it;
      }
    }
    for (Timer& t : due) t.action(now);
  }

  void RunTasks() {
    while (!tasks.empty()) {
      std::function<void()> task = std::move(tasks.front());
      tasks.pop_front();
      task();
      ++tasksDone;
      Touch();
    }
  }

  void DrainWakePipe() {
    char buffer[64];
    while (::read(wakeRead, buffer, sizeof buffer) > 0) {
    }
  }

  // --- Shared by both sides (mutex held) -----------------------------------

  void Wake() {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &c, 1);
  }

  void Touch() {
    ++version;
    changed.notify_all();
  }

  void Record(Direction direction, std::string bytes, Clock::time_point time) {
    (direction == Direction::Received ? received : sent) += bytes;
    transcript.push_back({direction, time, std::move(bytes)});
    if (trace) trace(transcript.back());
    Touch();
  }

  // Puts bytes on the output queue, never ahead of what is already there.
  void Enqueue(Clock::time_point due, std::string bytes) {
    if (!pty.IsOpen() || bytes.empty()) return;
    if (!output.empty()) due = std::max(due, output.back().due);
    output.push_back({due, std::move(bytes)});
  }

  void EnqueueInPieces(Clock::time_point due, const std::string& bytes, const Quirks& quirks) {
    const std::size_t pieces = std::min<std::size_t>(std::max(quirks.answerPieces, 1), bytes.size());
    if (pieces <= 1) {
      Enqueue(due, bytes);
      return;
    }
    std::size_t begin = 0;
    for (std::size_t k = 0; k < pieces; ++k) {
      const std::size_t end = bytes.size() * (k + 1) / pieces;
      Enqueue(due + quirks.pieceDelay * static_cast<int>(k), bytes.substr(begin, end - begin));
      begin = end;
    }
  }

  void Schedule(const Emissions& emissions, Clock::time_point now) {
    const Quirks quirks = engine.GetQuirks();
    for (const Emission& e : emissions) {
      if (e.delay.count() > 0) {
        // The network answers later; the engine decides then whether the
        // answer still stands.
        timers.push_back({now + e.delay, [this, e](Clock::time_point at) {
                            Emission due = e;
                            due.delay = Milliseconds(0);
                            Emissions out;
                            engine.DeliverLater(due, out);
                            Schedule(out, at);
                          }});
        continue;
      }
      switch (e.kind) {
        case Emission::Kind::Echo:
          Enqueue(now, e.bytes);
          break;
        case Emission::Kind::Answer:
          EnqueueInPieces(now + quirks.answerDelay, e.bytes, quirks);
          break;
        case Emission::Kind::Unsolicited:
          EnqueueInPieces(now, e.bytes, quirks);
          break;
      }
    }
    ScheduleEngineWork(now);
    Touch();
  }

  // What the engine owes later: status reports (each status the policy's
  // delay after the one before), and deliveries to make again when no
  // acknowledgement comes in time.
  void ScheduleEngineWork(Clock::time_point now) {
    const Milliseconds delay = engine.GetReportPolicy().delay;
    for (AtEngine::ReportJob& job : engine.TakeReportJobs()) {
      for (std::size_t i = 0; i < job.statuses.size(); ++i)
        ScheduleReport(job, job.statuses[i], now + delay * static_cast<int>(i + 1));
    }
    for (std::uint64_t id : engine.TakeAckWatches()) {
      timers.push_back({now + engine.AckTimeout(), [this, id](Clock::time_point at) {
                          Emissions out;
                          if (engine.AckTimedOut(id, out)) Schedule(out, at);
                        }});
    }
  }

  // A status report due at `at`; one the full report storage refuses is
  // tried again a second later, as a service centre does.
  void ScheduleReport(const AtEngine::ReportJob& job, int status, Clock::time_point at) {
    timers.push_back({at, [this, job, status](Clock::time_point now) {
                        Emissions out;
                        if (engine.DeliverStatusReport(job, status, out))
                          Schedule(out, now);
                        else
                          ScheduleReport(job, status, now + std::chrono::seconds(1));
                      }});
  }

  std::string Noise(std::size_t count) {
    std::minstd_rand random(noiseSeed++);
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) bytes.push_back(static_cast<char>(0x80 | (random() & 0x7F)));
    return bytes;
  }

  void RingStep(std::uint64_t call, const IncomingCall& details, int ring, Clock::time_point now) {
    if (call != callGeneration) return;
    Emissions out;
    if (ring >= details.rings) {
      engine.CallerGaveUp(details.hangUpAfterRings, out);
      Schedule(out, now);
      return;
    }
    if (!engine.Ring(out)) return;
    Schedule(out, now);
    timers.push_back({now + details.interval, [this, call, details, ring](Clock::time_point at) {
                        RingStep(call, details, ring + 1, at);
                      }});
  }

  // Runs `task` on the I/O thread, where the line's file descriptors are
  // opened and closed, and waits for it.
  void RunOnIoThread(std::unique_lock<std::mutex>& lock, std::function<void()> task) {
    tasks.push_back(std::move(task));
    const std::uint64_t ticket = tasksDone + tasks.size();
    Wake();
    changed.wait(lock, [&] { return tasksDone >= ticket; });
  }

  void DoPlug() {
    hung = false;
    pty = PseudoTerminal::Open();
    PublishPath(path, pty.DevicePath());
  }

  void DoUnplug() {
    RemovePath(path);  // first, so that a client seeing the hang-up finds the path gone
    pty.Close();
    output.clear();
    timers.clear();
    ++callGeneration;
  }

  struct Pending {
    Clock::time_point due;
    std::string bytes;
  };
  struct Timer {
    Clock::time_point due;
    std::function<void(Clock::time_point)> action;
  };

  std::string path;  // changed by ReplugAs only, on the I/O thread
  const bool resetOnPlug;
  bool hung = false;
  Milliseconds restartGone{3000};
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::uint64_t version = 0;

  AtEngine engine;
  PseudoTerminal pty;
  // With pacing or cut writes: when the line can take the next write.
  Clock::time_point lineFreeAt{};
  // Whether more output waited when the last write went.
  bool streaming = false;
  int wakeRead = -1;
  int wakeWrite = -1;
  std::thread thread;
  bool stopping = false;

  std::deque<Pending> output;
  std::vector<Timer> timers;
  std::deque<std::function<void()>> tasks;
  std::uint64_t tasksDone = 0;
  std::uint64_t callGeneration = 0;
  unsigned noiseSeed = 1;

  std::vector<TranscriptEntry> transcript;
  std::string received;
  std::string sent;
  std::function<void(const TranscriptEntry&)> trace;
};

ModemSimulator::ModemSimulator(ModemConfig config) : impl_(std::make_unique<Impl>(config)) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  impl_->wakeRead = fds[0];
  impl_->wakeWrite = fds[1];
  for (int fd : fds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  try {
    impl_->DoPlug();
  } catch (...) {
    ::close(impl_->wakeRead);
    ::close(impl_->wakeWrite);
    throw;
  }
  impl_->thread = std::thread([impl = impl_.get()] { impl->Loop(); });
}

ModemSimulator::~ModemSimulator() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->stopping = true;
    impl_->Wake();
  }
  impl_->thread.join();
  if (impl_->pty.IsOpen()) impl_->DoUnplug();
  ::close(impl_->wakeRead);
  ::close(impl_->wakeWrite);
}

std::string ModemSimulator::Path() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->path;
}

std::string ModemSimulator::DevicePath() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->pty.DevicePath();
}

std::vector<DeliveredPart> ModemSimulator::DeliverSms(const IncomingSms& sms) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Emissions out;
  std::vector<DeliveredPart> parts = impl_->engine.DeliverSms(sms, out);
  impl_->Schedule(out, Clock::now());
  impl_->Wake();
  return parts;
}

int ModemSimulator::StoreRawPdu(const std::string& storage, const std::string& hex, SmsStatus status, bool announce) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Emissions out;
  const int index = impl_->engine.StoreRawPdu(storage, hex, status, announce, out);
  impl_->Schedule(out, Clock::now());
  impl_->Wake();
  return index;
}

void ModemSimulator::Ring(const IncomingCall& call) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.StartIncomingCall(call);
  const std::uint64_t generation = ++impl_->callGeneration;
  Impl* impl = impl_.get();
  impl_->timers.push_back({Clock::now(), [impl, generation, call](Clock::time_point at) {
                             impl->RingStep(generation, call, 0, at);
                           }});
  impl_->Wake();
}

void ModemSimulator::RemoteHangUp() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  ++impl_->callGeneration;
  Emissions out;
  impl_->engine.RemoteHangUp(out);
  impl_->Schedule(out, Clock::now());
  impl_->Wake();
}

void ModemSimulator::SendErrorBurst(int count, const std::string& line) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  for (int i = 0; i < count; ++i) impl_->Enqueue(Clock::now(), "\r\n" + line + "\r\n");
  impl_->Wake();
}

void ModemSimulator::SendGarbage(std::size_t count, unsigned seed) {
  std::minstd_rand random(seed == 0 ? 1 : seed);
  std::string bytes;
  for (std::size_t i = 0; i < count; ++i) bytes.push_back(static_cast<char>(random() & 0xFF));
  SendRaw(bytes);
}

void ModemSimulator::SendRaw(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->Enqueue(Clock::now(), bytes);
  impl_->Wake();
}

void ModemSimulator::SendUnsolicited(const std::string& text) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Emissions out;
  impl_->engine.Unsolicited(text, out);
  impl_->Schedule(out, Clock::now());
  impl_->Wake();
}

void ModemSimulator::SetRegistration(int stat) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Emissions out;
  impl_->engine.SetRegistration(stat, out);
  impl_->Schedule(out, Clock::now());
  impl_->Wake();
}

void ModemSimulator::SendUssd(int m, const std::string& utf8) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Emissions out;
  impl_->engine.NetworkUssd(m, utf8, out);
  impl_->Schedule(out, Clock::now());
  impl_->Wake();
}

void ModemSimulator::Unplug() {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (!impl_->pty.IsOpen()) return;
  impl_->RunOnIoThread(lock, [impl = impl_.get()] { impl->DoUnplug(); });
}

void ModemSimulator::Plug() {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (impl_->pty.IsOpen()) return;
  std::exception_ptr failure;
  impl_->RunOnIoThread(lock, [impl = impl_.get(), &failure] {
    try {
      impl->DoPlug();
      if (impl->resetOnPlug) impl->engine.PowerOn();
    } catch (...) {
      impl->pty.Close();
      failure = std::current_exception();
    }
  });
  if (failure) std::rethrow_exception(failure);
}

void ModemSimulator::Hang() {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (!impl_->pty.IsOpen()) return;
  impl_->RunOnIoThread(lock, [impl = impl_.get()] {
    impl->hung = true;
    impl->output.clear();
    impl->pty.ReleaseSlave();
  });
}

bool ModemSimulator::IsHung() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->hung;
}

void ModemSimulator::Wedge(Milliseconds restartGone) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->restartGone = restartGone;
  impl_->engine.SetWedged(true);
}

bool ModemSimulator::IsWedged() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.Wedged();
}

void ModemSimulator::StickAtPrompt() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  Emissions out;
  impl_->engine.StickAtPrompt(out);
  impl_->Schedule(out, Clock::now());
  impl_->Wake();
}

void ModemSimulator::ReplugAs(const std::string& path, Milliseconds gone) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->RunOnIoThread(lock, [impl = impl_.get(), path, gone] {
    if (impl->pty.IsOpen()) impl->DoUnplug();
    impl->path = path;
    impl->timers.push_back({Clock::now() + gone, [impl](Clock::time_point) { impl->PlugAgainKeepingState(); }});
  });
}

bool ModemSimulator::IsPlugged() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->pty.IsOpen();
}

void ModemSimulator::SetQuirks(const Quirks& quirks) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.SetQuirks(quirks);
}

Quirks ModemSimulator::GetQuirks() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.GetQuirks();
}

void ModemSimulator::SetSupported(const std::string& command, bool supported) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.SetSupported(command, supported);
}

void ModemSimulator::FailNextSends(int count, const std::string& finalResult) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.FailNextSends(count, finalResult);
}

void ModemSimulator::SetReportPolicy(const ReportPolicy& policy) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.SetReportPolicy(policy);
}

void ModemSimulator::DropNextNotices(int count) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.DropNextNotices(count);
}

int ModemSimulator::Redeliveries() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.Redeliveries();
}

int ModemSimulator::Acknowledgements() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.Acknowledgements();
}

int ModemSimulator::StatusReportsSent() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.StatusReportsSent();
}

void ModemSimulator::SetSignal(int rssi, int ber) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.SetSignal(rssi, ber);
}

void ModemSimulator::SetDataCallOutcome(DataCallOutcome outcome) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->engine.SetDataCallOutcome(outcome);
}

std::vector<TranscriptEntry> ModemSimulator::Transcript() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->transcript;
}

std::string ModemSimulator::TranscriptText() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::string text;
  if (impl_->transcript.empty()) return text;
  const Clock::time_point start = impl_->transcript.front().time;
  for (const TranscriptEntry& e : impl_->transcript) {
    char stamp[32];
    const double seconds = std::chrono::duration<double>(e.time - start).count();
    std::snprintf(stamp, sizeof stamp, "+%.3f ", seconds);
    text += stamp;
    text += e.direction == Direction::Received ? "<- " : "-> ";
    text += Printable(e.bytes);
    text += '\n';
  }
  return text;
}

std::string ModemSimulator::ReceivedBytes() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->received;
}

std::string ModemSimulator::SentBytes() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->sent;
}

void ModemSimulator::ClearTranscript() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->transcript.clear();
  impl_->received.clear();
  impl_->sent.clear();
  impl_->Touch();
}

std::vector<std::string> ModemSimulator::Commands() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.CommandLines();
}

std::vector<SubmittedMessage> ModemSimulator::Submitted() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.Submitted();
}

std::vector<StoredSms> ModemSimulator::Stored() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->engine.Stored();
}

ModemState ModemSimulator::State() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  ModemState state = impl_->engine.State();
  state.plugged = impl_->pty.IsOpen();
  state.clientLineSpeed = impl_->pty.LineSpeed();
  return state;
}

void ModemSimulator::SetTraceSink(std::function<void(const TranscriptEntry&)> sink) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->trace = std::move(sink);
}

bool ModemSimulator::WaitUntil(const std::function<bool()>& condition, Milliseconds timeout) const {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    std::uint64_t seen = 0;
    {
      std::lock_guard<std::mutex> lock(impl_->mutex);
      seen = impl_->version;
    }
    if (condition()) return true;
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (!impl_->changed.wait_until(lock, deadline, [&] { return impl_->version != seen; })) {
      lock.unlock();
      return condition();
    }
  }
}

bool ModemSimulator::WaitForCommand(std::string_view prefix, Milliseconds timeout, std::size_t occurrences) const {
  return WaitUntil(
      [&] {
        std::size_t found = 0;
        for (const std::string& line : Commands()) found += StartsWithNoCase(line, prefix) ? 1 : 0;
        return found >= occurrences;
      },
      timeout);
}

bool ModemSimulator::WaitForReceived(std::string_view bytes, Milliseconds timeout) const {
  return WaitUntil([&] { return ReceivedBytes().find(bytes) != std::string::npos; }, timeout);
}

bool ModemSimulator::WaitForSent(std::string_view bytes, Milliseconds timeout) const {
  return WaitUntil([&] { return SentBytes().find(bytes) != std::string::npos; }, timeout);
}

bool ModemSimulator::WaitForSubmitted(std::size_t count, Milliseconds timeout) const {
  return WaitUntil([&] { return Submitted().size() >= count; }, timeout);
}

bool ModemSimulator::WaitForOutputDrained(Milliseconds timeout) const {
  return WaitUntil(
      [&] {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        return impl_->output.empty();
      },
      timeout);
}

}  // namespace vesk::sim
