#include "support/FakeSerial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace vesk::testing {

// ---------------------------------------------------------------- the modem

void FakeModem::On(const std::string& line, const std::string& reply, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.erase(line);
  rules_.insert({line, Rule{reply, times}});
}

void FakeModem::SetDefaultReply(const std::string& reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaultReply_ = reply;
}

void FakeModem::SetEcho(bool echo) {
  std::lock_guard<std::mutex> lock(mutex_);
  echo_ = echo;
}

void FakeModem::SetAnswerSpeed(std::uint32_t bitsPerSecond) {
  std::lock_guard<std::mutex> lock(mutex_);
  answerSpeed_ = bitsPerSecond;
}

void FakeModem::SetHandler(std::function<bool(FakeModem&, const std::string&)> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = std::move(handler);
}

void FakeModem::Push(const std::string& bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
  }
  changed_.notify_all();
}

std::string FakeModem::Written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

std::vector<std::string> FakeModem::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool FakeModem::WaitForLines(std::size_t count, int ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return lines_.size() >= count; });
}

void FakeModem::SetLines(std::uint32_t bits) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lineBits_ = bits;
  }
  changed_.notify_all();
}

void FakeModem::SetModemStatusFails(bool fails) {
  std::lock_guard<std::mutex> lock(mutex_);
  statusFails_ = fails;
}

void FakeModem::SetRefuseLineSettings(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuseSettings_ = refuse;
}

void FakeModem::Vanish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    vanished_ = true;
  }
  changed_.notify_all();
}

void FakeModem::HangUp() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    ++generation_;
  }
  changed_.notify_all();
}

void FakeModem::Replug() {
  std::lock_guard<std::mutex> lock(mutex_);
  vanished_ = false;
  open_ = false;
  ++generation_;
  input_.clear();
}

bool FakeModem::Vanished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return vanished_;
}

TLineSettings FakeModem::LastSettings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

int FakeModem::SettingsApplied() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settingsApplied_;
}

int FakeModem::DtrDrops() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dtrDrops_;
}

int FakeModem::RxPurges() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rxPurges_;
}

bool FakeModem::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

std::size_t FakeModem::Queued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return input_.size();
}

// Called with mutex_ held.
void FakeModem::Received(const char* data, std::size_t n) {
  written_.append(data, n);
  if (answerSpeed_ != 0 && settings_.BaudRate != answerSpeed_) {
    // Garbled at this speed: nothing of it is understood.
    pendingLine_.clear();
    changed_.notify_all();
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    // As on a modem: an escape abandons the line (or message body) typed so
    // far; Ctrl-Z ends a message body, which is answered like a line and
    // recorded with its Ctrl-Z.
    if (data[i] == '\x1B') {
      pendingLine_.clear();
      continue;
    }
    if (data[i] != '\r' && data[i] != '\x1A') {
      pendingLine_ += data[i];
      continue;
    }
    if (data[i] == '\x1A') pendingLine_ += data[i];
    std::string line;
    line.swap(pendingLine_);
    lines_.push_back(line);
    Answer(line);
  }
  changed_.notify_all();
}

// Called with mutex_ held.
void FakeModem::Answer(const std::string& line) {
  if (echo_) input_.insert(input_.end(), line.begin(), line.end()), input_.push_back('\r');
  if (handler_) {
    auto handler = handler_;
    mutex_.unlock();
    bool answered = handler(*this, line);
    mutex_.lock();
    if (answered) return;
  }
  std::string reply = defaultReply_;
  auto it = rules_.find(line);
  if (it != rules_.end() && it->second.times != 0) {
    reply = it->second.reply;
    if (it->second.times > 0) --it->second.times;
  }
  input_.insert(input_.end(), reply.begin(), reply.end());
}

// ---------------------------------------------------------------- the device

class FakeDevice : public SerialDevice {
 public:
  // Made with the modem's lock held.
  explicit FakeDevice(std::shared_ptr<FakeModem> modem)
      : modem_(std::move(modem)), generation_(modem_->generation_), linesSeen_(modem_->lineBits_) {}
  ~FakeDevice() override { Close(); }

  bool SetLineSettings(const TLineSettings& settings) noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    if (!Usable() || modem_->refuseSettings_) return Fail(EINVAL);
    if ((modem_->settings_.Flags & dcb::DtrControlMask) != 0 && (settings.Flags & dcb::DtrControlMask) == 0)
      ++modem_->dtrDrops_;
    modem_->settings_ = settings;
    ++modem_->settingsApplied_;
    return true;
  }
  bool SetTimeOuts(const TTimeOuts&) noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    return Usable() ? true : Fail(EIO);
  }
  bool SetQueueSizes(std::uint32_t, std::uint32_t) noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    return Usable() ? true : Fail(EIO);
  }
  bool QueuedInput(std::uint32_t& errors, std::uint32_t& count) noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    errors = 0;
    count = 0;
    if (!Usable()) return Fail(EIO);
    count = static_cast<std::uint32_t>(modem_->input_.size());
    return true;
  }
  bool Read(void* buffer, std::uint32_t count, std::uint32_t& read) noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    read = 0;
    if (!Usable()) return Fail(EIO);
    auto* out = static_cast<char*>(buffer);
    while (read < count && !modem_->input_.empty()) {
      out[read++] = modem_->input_.front();
      modem_->input_.pop_front();
    }
    return true;
  }
  bool Write(const void* data, std::uint32_t count, std::uint32_t& written) noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    written = 0;
    if (!Usable()) return Fail(EIO);
    modem_->Received(static_cast<const char*>(data), count);
    written = count;
    return true;
  }
  bool Purge(std::uint32_t flags) noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    if (!Usable()) return Fail(EIO);
    if (flags & (kPurgeRxAbort | kPurgeRxClear)) {
      modem_->input_.clear();
      ++modem_->rxPurges_;
    }
    return true;
  }
  bool ModemStatus(std::uint32_t& lines) noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    lines = 0;
    if (!Usable() || modem_->statusFails_) return Fail(EIO);
    lines = modem_->lineBits_;
    linesSeen_ = lines;
    return true;
  }
  TDeviceEvent Wait(int realMs) noexcept override {
    std::unique_lock<std::mutex> lock(modem_->mutex_);
    TDeviceEvent event = TDeviceEvent::TimedOut;
    auto ready = [&] {
      if (woken_ || nudged_) {
        nudged_ = false;
        event = TDeviceEvent::Woken;
      } else if (!Usable()) {
        event = TDeviceEvent::Gone;
      } else if (!modem_->input_.empty()) {
        event = TDeviceEvent::Input;
      } else if (modem_->lineBits_ != linesSeen_) {
        // As a Windows driver does: a change of the modem lines ends the wait.
        linesSeen_ = modem_->lineBits_;
        event = TDeviceEvent::Lines;
      } else {
        return false;
      }
      return true;
    };
    if (realMs < 0)
      modem_->changed_.wait(lock, ready);
    else
      modem_->changed_.wait_for(lock, std::chrono::milliseconds(realMs), ready);
    return event;
  }
  void Wake() noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    woken_ = true;
    modem_->changed_.notify_all();
  }
  void Nudge() noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    nudged_ = true;
    modem_->changed_.notify_all();
  }
  void Close() noexcept override {
    std::lock_guard<std::mutex> lock(modem_->mutex_);
    woken_ = true;
    modem_->changed_.notify_all();
    if (closed_) return;
    closed_ = true;
    if (generation_ == modem_->generation_) modem_->open_ = false;
  }
  int LastError() const noexcept override { return error_; }

 private:
  bool Usable() const { return !closed_ && !modem_->vanished_ && generation_ == modem_->generation_; }
  bool Fail(int e) {
    error_ = e;
    return false;
  }
  std::shared_ptr<FakeModem> modem_;
  int generation_;
  std::uint32_t linesSeen_;  // the lines when last reported
  bool closed_ = false;
  bool woken_ = false;
  bool nudged_ = false;
  int error_ = 0;
};

// ---------------------------------------------------------------- the platform

std::shared_ptr<FakeModem> FakeSerialPlatform::Add(const AnsiString& name, bool listed) {
  auto modem = std::make_shared<FakeModem>();
  std::lock_guard<std::mutex> lock(mutex_);
  ports_.push_back({name, Port{modem, listed, 0}});
  return modem;
}

void FakeSerialPlatform::SetExtraNames(std::vector<AnsiString> names) {
  std::lock_guard<std::mutex> lock(mutex_);
  extra_ = std::move(names);
}

void FakeSerialPlatform::SetListed(const AnsiString& name, bool listed) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& p : ports_)
    if (p.first == name) p.second.listed = listed;
}

void FakeSerialPlatform::SetOpenError(const AnsiString& name, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& p : ports_)
    if (p.first == name) p.second.openError = error;
}

void FakeSerialPlatform::SetCaseSensitive(bool sensitive) {
  std::lock_guard<std::mutex> lock(mutex_);
  caseSensitive_ = sensitive;
}

int FakeSerialPlatform::Opens() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return opens_;
}

int FakeSerialPlatform::OpenAttempts(const AnsiString& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const AnsiString& a : attempts_)
    if (caseSensitive_ ? a == name : UpperCase(Trim(a)) == UpperCase(Trim(name))) ++n;
  return n;
}

std::unique_ptr<SerialDevice> FakeSerialPlatform::Open(const AnsiString& name, int& error) noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  attempts_.push_back(name);
  for (auto& p : ports_) {
    bool same = caseSensitive_ ? p.first == name : UpperCase(p.first) == UpperCase(Trim(name));
    if (!same) continue;
    if (p.second.openError) {
      error = p.second.openError;
      return nullptr;
    }
    std::lock_guard<std::mutex> modemLock(p.second.modem->mutex_);
    if (p.second.modem->vanished_) {
      error = ENOENT;
      return nullptr;
    }
    if (p.second.modem->open_) {
      error = EBUSY;
      return nullptr;
    }
    p.second.modem->open_ = true;
    ++opens_;
    return std::make_unique<FakeDevice>(p.second.modem);
  }
  error = ENOENT;
  return nullptr;
}

std::vector<AnsiString> FakeSerialPlatform::PortNames() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<AnsiString> names;
  for (auto& p : ports_)
    if (p.second.listed && !p.second.modem->Vanished()) names.push_back(p.first);
  names.insert(names.end(), extra_.begin(), extra_.end());
  return names;
}

bool FakeSerialPlatform::IsPresentDevice(const AnsiString&) noexcept { return false; }

bool FakeSerialPlatform::CaseSensitiveNames() const noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  return caseSensitive_;
}

AnsiString FakeSerialPlatform::ErrorText(int error) noexcept { return SysErrorMessage(error); }

}  // namespace vesk::testing
