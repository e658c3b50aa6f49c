// The component's own reads and writes on the open port.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "component/VeskGSM.h"
#include "port/Connection.h"

namespace vesk {

AnsiString TVeskGSM::TakeReadBuffer() {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  AnsiString text;
  text.swap(FReadBuffer);
  return text;
}

void TVeskGSM::AppendReadBuffer(const AnsiString& text) {
  if (text.empty()) return;
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FReadBuffer += text;
  ++FReadsAppended;
}

void TVeskGSM::SetReadBuffer(const AnsiString& text) {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FReadBuffer = text;
}

AnsiString TVeskGSM::PeekReadBuffer() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FReadBuffer;
}

// ---------------------------------------------------------------- sessions and pauses

TVeskGSM::TPortSession::TPortSession(TVeskGSM& owner)
    : owner_(owner), link_(owner.FLink), raised_(false), exceptions_(std::uncaught_exceptions()) {
  owner_.NoteCommandBegins();
  if (!link_->AcquirePort(true)) throw EVeskGSMException(owner_.NotOpenMessage());
  raised_ = !owner_.FPauseThread.exchange(true);
  reads_ = owner_.FReadsAppended.load();
}

TVeskGSM::TPortSession::~TPortSession() noexcept(false) {
  if (raised_) owner_.FPauseThread = false;
  bool outermost = link_->ReleasePort();
  // What the dialogue read goes to the dispatcher now that the port is
  // free, so that event handlers may run commands of their own.
  if (outermost && std::uncaught_exceptions() == exceptions_ && owner_.FReadsAppended.load() != reads_)
    owner_.ProcessAT();
}

bool TVeskGSM::Pause(double ms) { return FLink->Pause(ms); }

// ---------------------------------------------------------------- reads and writes

unsigned TVeskGSM::SendString(const AnsiString& str) {
  std::shared_ptr<SerialDevice> device = PortDevice();
  if (!device) throw EVeskGSMException(NotOpenMessage());
  // Up to, not including, the first zero byte.
  std::size_t length = std::min(str.size(), std::strlen(str.c_str()));
  std::uint32_t written = 0;
  bool failed = false;
  try {
    if (length > 0 && !device->Write(str.data(), static_cast<std::uint32_t>(length), written) && written == 0)
      failed = true;
    if (written > 0) OnSend(this, str.substr(0, written));
  } catch (...) {
    failed = true;
  }
  if (failed) {
    // A port that refuses writes may be gone; the caller learns the one
    // error it knows: the port is not usable.
    FLink->CheckDevice(device);
    throw EVeskGSMException(NotOpenMessage());
  }
  return written;
}

AnsiString TVeskGSM::ReadQueued(const std::shared_ptr<SerialDevice>& device) {
  std::uint32_t errors = 0, queued = 0;
  if (!device->QueuedInput(errors, queued)) {
    FLink->CheckDevice(device);
    return "";
  }
  AnsiString result;
  if (queued > 0) {
    result.resize(queued);
    std::uint32_t got = 0;
    device->Read(&result[0], queued, got);
    result.resize(got);
  }
  return result;
}

void TVeskGSM::LogReceived(const AnsiString& text) {
  // A log that cannot be written raises "Invalid log file name or access
  // denied." to whoever read the text.
  if (FLog && !text.empty()) WriteLog(text, true);
}

AnsiString TVeskGSM::ReadBuffer() {
  if (!PortDevice()) throw EVeskGSMException(NotOpenMessage());
  TPortSession session(*this);
  Pause(50);
  std::shared_ptr<SerialDevice> device = PortDevice();
  if (!device) return "";
  AnsiString result = ReadQueued(device);
  LogReceived(result);
  return result;
}

AnsiString TVeskGSM::ReadString() {
  if (!PortDevice()) throw EVeskGSMException(NotOpenMessage());
  TPortSession session(*this);
  AnsiString result = ReadBuffer();
  AppendReadBuffer(result);
  return result;
}

AnsiString TVeskGSM::ReadChar() {
  try {
    std::shared_ptr<SerialDevice> device = PortDevice();
    if (!device) return "";
    std::uint32_t errors = 0, queued = 0;
    if (!device->QueuedInput(errors, queued)) {
      FLink->CheckDevice(device);
      return "";
    }
    if (queued == 0) return "";
    char c;
    std::uint32_t got = 0;
    if (!device->Read(&c, 1, got) || got != 1) return "";
    return AnsiString(1, c);
  } catch (...) {
    return "";
  }
}

namespace {

// Whether `text` ends with `marker`, letters compared without regard to
// case. Checking only the end is enough: the text grows one byte at a time
// and the read stops the moment a marker is complete.
bool EndsWithMarker(const AnsiString& text, const AnsiString& marker) {
  if (marker.size() > text.size()) return false;
  return UpperCase(text.substr(text.size() - marker.size())) == UpperCase(marker);
}

// The longest the read blocks on the port in one go (real milliseconds):
// input ends the wait at once, so this only bounds how late the time-out
// is noticed.
constexpr int kMaxWaitSliceMs = 50;

}  // namespace

AnsiString TVeskGSM::ReadStringUpToEndChars(const AnsiString& firstMarker, const AnsiString& secondMarker,
                                             int timeOutSeconds) {
  if (firstMarker.empty()) return "";
  const AnsiString second = secondMarker.empty() ? firstMarker : secondMarker;
  // One byte at a time: the read stops at the byte that completes a
  // marker, and what follows stays queued.
  bool completed = false;
  const AnsiString text = ReadAnswer(
      [&](const AnsiString& read) { return EndsWithMarker(read, firstMarker) || EndsWithMarker(read, second); },
      timeOutSeconds, completed, true);
  return completed ? text : AnsiString();
}

AnsiString TVeskGSM::ReadAnswer(const std::function<bool(const AnsiString&)>& complete, int timeOutSeconds,
                                bool& completed, bool byteByByte,
                                const std::function<AnsiString(const AnsiString&)>& forDispatcher) {
  completed = false;
  if (!PortDevice()) return "";
  // Measured on the monotonic clock, scaled like every other wait.
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      GetClock()->RealDuration(timeOutSeconds > 0 ? timeOutSeconds * 1000.0 : 0));
  std::unique_ptr<TPortSession> session;
  try {
    session = std::make_unique<TPortSession>(*this);
  } catch (const EVeskGSMException&) {
    return "";  // closed meanwhile
  }
  const unsigned generation = FLink->Generation();
  AnsiString accumulated;
  for (;;) {
    std::shared_ptr<SerialDevice> device = PortDevice();
    if (device) {
      AnsiString chunk;
      try {
        chunk = byteByByte ? ReadChar() : ReadQueued(device);
      } catch (...) {
        chunk.clear();  // a failing device is noticed below
      }
      if (!chunk.empty()) {
        accumulated += chunk;
        if (complete(accumulated)) {
          completed = true;
          break;
        }
        continue;
      }
    }
    // Nothing waiting: give up at the time-out (at once for a time-out of
    // zero or less) or when the connection ends; otherwise block on the
    // port until input comes.
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !device || !FLink->Active(generation)) break;
    device->WaitForInput(static_cast<int>(std::min<long long>(left.count(), kMaxWaitSliceMs)));
  }
  // The session is still held: logged in the order it came, and
  // dispatched as the outermost session ends.
  LogReceived(accumulated);
  AppendReadBuffer(forDispatcher ? forDispatcher(accumulated) : accumulated);
  return accumulated;
}

bool TVeskGSM::ClearInputBuffer() {
  try {
    std::shared_ptr<SerialDevice> device = PortDevice();
    return device && device->Purge(kPurgeRxClear);
  } catch (...) {
    return false;
  }
}

}  // namespace vesk
