// The component's own reads and writes on the open port.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

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
    : owner_(owner),
      link_(owner.FLink),
      // A command while the modem is being brought back fails here, before
      // it waits for the port.
      generation_((owner.NoteCommandBegins(), link_->AcquirePort(true))),
      reads_(owner.FReadsAppended.load()) {
  if (generation_ == 0) throw EVeskGSMException(owner_.NotOpenMessage());
}

TVeskGSM::TPortSession::~TPortSession() {
  if (!ended_) link_->ReleasePort(generation_);
}

void TVeskGSM::TPortSession::End() {
  if (ended_) return;
  ended_ = true;
  const bool outermost = link_->ReleasePort(generation_);
  // What the dialogue read goes to the dispatcher now that the port is
  // free, so that event handlers may run commands of their own.
  if (outermost && owner_.FReadsAppended.load() != reads_) owner_.ProcessAT();
}

bool TVeskGSM::Pause(double ms) { return FLink->Pause(ms); }

// ---------------------------------------------------------------- reads and writes

unsigned TVeskGSM::SendString(const AnsiString& str) {
  std::shared_ptr<SerialDevice> device = PortDevice();
  if (!device) throw EVeskGSMException(NotOpenMessage());
  // Up to, not including, the first zero byte.
  std::size_t length = std::min(str.size(), std::strlen(str.c_str()));
  std::uint32_t written = 0;
  if (length > 0 && !device->Write(str.data(), static_cast<std::uint32_t>(length), written) && written == 0) {
    // A port that refuses writes may be gone; the caller learns the one
    // error it knows: the port is not usable.
    FLink->CheckDevice(device);
    throw EVeskGSMException(NotOpenMessage());
  }
  // The application's handler: what it raises reaches the caller as it is.
  if (written > 0) OnSend(this, str.substr(0, written));
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
  AnsiString result;
  if (std::shared_ptr<SerialDevice> device = PortDevice()) result = ReadQueued(device);
  LogReceived(result);
  session.End();
  return result;
}

AnsiString TVeskGSM::ReadString() {
  if (!PortDevice()) throw EVeskGSMException(NotOpenMessage());
  TPortSession session(*this);
  AnsiString result = ReadBuffer();
  AppendReadBuffer(result);
  session.End();
  return result;
}

AnsiString TVeskGSM::ReadChar() {
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
}

namespace {

// Whether `text` ends with `marker`, letters compared without regard to
// case. Checking only the end is enough: the text grows one byte at a time
// and the read stops the moment a marker is complete.
bool EndsWithMarker(const AnsiString& text, const AnsiString& marker) {
  if (marker.size() > text.size()) return false;
  return UpperCase(text.substr(text.size() - marker.size())) == UpperCase(marker);
}

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
    if (!device) break;
    AnsiString chunk = byteByByte ? ReadChar() : ReadQueued(device);
    if (!chunk.empty()) {
      accumulated += chunk;
      if (complete(accumulated)) {
        completed = true;
        break;
      }
      continue;
    }
    // Nothing waiting: give up at the time-out (at once for a time-out of
    // zero or less) or when the connection ends; otherwise wait on the port
    // until input comes. Close, destruction and loss end that wait at once.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !FLink->Active(generation)) break;
    if (device->Wait(static_cast<int>(std::min<long long>(left.count(), INT_MAX))) == TDeviceEvent::Gone) {
      // Nothing more will come: the port is lost, unless what is queued
      // says otherwise.
      FLink->CheckDevice(device);
      std::uint32_t errors = 0, queued = 0;
      if (!device->QueuedInput(errors, queued) || queued == 0) break;
    }
  }
  // The session is still held: logged in the order it came, and
  // dispatched as the outermost session ends.
  LogReceived(accumulated);
  AppendReadBuffer(forDispatcher ? forDispatcher(accumulated) : accumulated);
  session->End();
  return accumulated;
}

bool TVeskGSM::ClearInputBuffer() {
  std::shared_ptr<SerialDevice> device = PortDevice();
  return device && device->Purge(kPurgeRxClear);
}

}  // namespace vesk
