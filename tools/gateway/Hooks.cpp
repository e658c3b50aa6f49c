#include "tools/gateway/Hooks.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "tools/gateway/Json.h"

extern char** environ;

namespace vesk::gateway {

namespace {

Millis SteadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// SIGPIPE held back on this thread while it writes to a hook that may
// have closed its input: the write fails with EPIPE instead of killing the
// process. A SIGPIPE raised meanwhile is taken before the mask returns.
class NoSigpipe {
 public:
  NoSigpipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~NoSigpipe() {
    const timespec none{0, 0};
    while (sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t pipe_, old_;
};

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("killed by signal ") + std::to_string(WTERMSIG(status));
  return "ended oddly";
}

}  // namespace

HookRun RunProgram(const HookCommand& command, const std::string& input,
                   const std::map<std::string, std::string>& environment, Millis timeout, int output,
                   const std::atomic<bool>* stop, Millis grace) {
  HookRun run;
  if (command.Empty()) {
    run.error = "no program";
    return run;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    run.error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return run;
  }
  const int nullFd = output < 0 ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
  const int outFd = output < 0 ? nullFd : output;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&actions, outFd, 2);
  // Nothing else of the gateway's (the store, the modems' ports) reaches the hook.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);  // its own group, killed whole at the time-out
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::vector<std::string> envStrings;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("VESKGSM_", 0) != 0) envStrings.push_back(entry);
  }
  for (const auto& [key, value] : environment) {
    std::string v = value;
    for (char& c : v)
      if (c == '\0') c = ' ';
    envStrings.push_back(key + "=" + v);
  }
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = command.argv;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeFds[0]);
  if (nullFd >= 0) ::close(nullFd);
  if (spawned != 0) {
    ::close(pipeFds[1]);
    run.error = "cannot start " + command.argv[0] + ": " + std::strerror(spawned);
    return run;
  }

  // The input goes in as the program takes it; a program that does not
  // read it all is not waited for.
  NoSigpipe noSigpipe;
  const int in = pipeFds[1];
  ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) | O_NONBLOCK);
  std::size_t written = 0;
  bool inputOpen = true;
  const Millis start = SteadyMillis();
  Millis stopSeen = -1;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    const Millis now = SteadyMillis();
    if (stop && stop->load() && stopSeen < 0) stopSeen = now;
    const bool late = now - start >= timeout;
    const bool stopped = stopSeen >= 0 && now - stopSeen >= grace;
    if (late || stopped) {
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      if (inputOpen) ::close(in);
      run.timedOut = late;
      run.error = late ? "killed after its time-out of " + std::to_string(timeout / 1000.0).substr(0, 6) + " s"
                       : "killed as the gateway stopped";
      return run;
    }
    if (inputOpen && written < input.size()) {
      pollfd p{in, POLLOUT, 0};
      if (::poll(&p, 1, 10) > 0) {
        const ssize_t n = ::write(in, input.data() + written, input.size() - written);
        if (n > 0)
          written += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) {
          ::close(in);  // the program closed its input
          inputOpen = false;
        }
      }
    } else {
      if (inputOpen) {
        ::close(in);
        inputOpen = false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (inputOpen) ::close(in);
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!run.ok) run.error = ExitText(status);
  return run;
}

HookRunner::HookRunner(Store& store, HookSettings settings, Logger& log, ClockFn clock)
    : store_(store), settings_(std::move(settings)), log_(log), clock_(std::move(clock)) {}

HookRunner::~HookRunner() { Stop(); }

std::set<std::string> HookRunner::HookedEvents(const HookSettings& s) {
  std::set<std::string> kinds;
  if (!s.onReceived.Empty()) kinds.insert("received");
  if (!s.onSent.Empty()) kinds.insert("sent");
  if (!s.onDelivered.Empty()) kinds.insert("delivered");
  if (!s.onFailed.Empty()) kinds.insert({"failed", "expired"});
  return kinds;
}

const HookCommand* HookRunner::CommandFor(const std::string& kind) const {
  if (kind == "received") return &settings_.onReceived;
  if (kind == "sent") return &settings_.onSent;
  if (kind == "delivered") return &settings_.onDelivered;
  if (kind == "failed" || kind == "expired") return &settings_.onFailed;
  return nullptr;
}

void HookRunner::Start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void HookRunner::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    woken_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void HookRunner::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

int HookRunner::RunDue() {
  int count = 0;
  while (!stopping_) {
    std::optional<HookJob> job = store_.NextHookJob(clock_());
    if (!job) break;
    RunOne(*job);
    ++count;
  }
  return count;
}

void HookRunner::Loop() {
  while (!stopping_) {
    try {
      RunDue();
    } catch (const std::exception& e) {
      log_.Error("", "", std::string("hooks: ") + e.what());
    }
    // The next retry falls due by the store's clock; look again at least
    // every second.
    Millis wait = 1000;
    try {
      if (std::optional<Millis> due = store_.NextHookDue()) wait = std::clamp<Millis>(*due - clock_(), 0, 1000);
    } catch (const std::exception&) {
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(wait), [this] { return woken_ || stopping_.load(); });
    woken_ = false;
  }
}

bool HookRunner::RunOne(const HookJob& job) {
  const Event& e = job.event;
  const HookCommand* command = CommandFor(e.kind);
  if (!command || command->Empty()) {
    store_.HookFinished(e.id, true, "", std::nullopt, clock_());
    return true;
  }
  nlohmann::json body;
  std::map<std::string, std::string> env = {{"VESKGSM_EVENT", e.kind}, {"VESKGSM_MODEM", e.modem}};
  std::string subject;
  if (e.inboxId) {
    const std::optional<InboxEntry> entry = store_.GetInbox(*e.inboxId);
    if (entry) {
      body = InboxJson(*entry);
      env["VESKGSM_ID"] = std::to_string(entry->id);
      env["VESKGSM_FROM"] = entry->sender;
      env["VESKGSM_TEXT"] = entry->text;
      env["VESKGSM_MODEM"] = entry->modem;
    }
    subject = InboxSubject(*e.inboxId);
  } else if (e.messageId) {
    const std::optional<OutboxMessage> message = store_.GetMessage(*e.messageId);
    if (message) {
      body = MessageJson(*message);
      env["VESKGSM_ID"] = std::to_string(message->id);
      env["VESKGSM_TO"] = message->to;
      env["VESKGSM_STATE"] = StateName(message->state);
      env["VESKGSM_TEXT"] = message->text;
    }
    subject = MessageSubject(*e.messageId);
  }
  body["event"] = e.kind;
  const HookRun run = RunProgram(*command, Dump(body) + "\n", env, static_cast<Millis>(settings_.timeoutSeconds * 1000),
                                 log_.Descriptor(), &stopping_,
                                 std::min<Millis>(5000, static_cast<Millis>(settings_.timeoutSeconds * 1000)));
  const Millis now = clock_();
  if (run.ok) {
    store_.HookFinished(e.id, true, "", std::nullopt, now);
    log_.Debug(e.modem, subject, "hook for " + e.kind + " done");
    return true;
  }
  if (stopping_ && !run.timedOut) {
    // Left due: it runs again at the next start.
    log_.Warn(e.modem, subject, "hook for " + e.kind + " stopped with the gateway; it runs again at the next start");
    return false;
  }
  if (metrics_) metrics_->hookFailures++;
  const int attempt = job.attempts + 1;
  if (attempt <= settings_.retries) {
    const Millis retryAt = now + static_cast<Millis>(settings_.retryDelaySeconds * 1000);
    store_.HookFinished(e.id, false, run.error, retryAt, now);
    log_.Warn(e.modem, subject,
              "hook for " + e.kind + " failed (" + run.error + "); try " + std::to_string(attempt + 1) + " of " +
                  std::to_string(settings_.retries + 1) + " at " + IsoUtc(retryAt));
  } else {
    store_.HookFinished(e.id, false, run.error, std::nullopt, now);
    log_.Error(e.modem, subject,
               "hook for " + e.kind + " failed (" + run.error + ") " + std::to_string(attempt) + " times; given up");
  }
  return false;
}

}  // namespace vesk::gateway
