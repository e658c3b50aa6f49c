// The component's own reads and writes on the open port.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "component/VeskGSM.h"
#include "threads/ComThread.h"

namespace vesk {

AnsiString TVeskGSM::TakeReadBuffer() {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  AnsiString text;
  text.swap(FReadBuffer);
  return text;
}

void TVeskGSM::SetReadBuffer(const AnsiString& text) {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  FReadBuffer = text;
}

AnsiString TVeskGSM::PeekReadBuffer() const {
  std::lock_guard<std::mutex> lock(FFieldsLock);
  return FReadBuffer;
}

unsigned TVeskGSM::SendString(const AnsiString& str) {
  std::shared_ptr<SerialDevice> device = PortDevice();
  if (!device) throw EVeskGSMException(NotOpenMessage());
  // Up to, not including, the first zero byte.
  std::size_t length = std::min(str.size(), std::strlen(str.c_str()));
  std::uint32_t written = 0;
  try {
    if (length > 0 && !device->Write(str.data(), static_cast<std::uint32_t>(length), written) && written == 0)
      throw EVeskGSMException(NotOpenMessage());
    if (written > 0) OnSend(this, str.substr(0, written));
  } catch (...) {
    // A port that refuses writes, or an OnSend handler that fails, leaves
    // the caller with the one error it knows: the port is not usable.
    throw EVeskGSMException(NotOpenMessage());
  }
  return written;
}

AnsiString TVeskGSM::ReadBuffer() {
  std::shared_ptr<SerialDevice> device = PortDevice();
  if (!device) throw EVeskGSMException(NotOpenMessage());
  TPortGate::Hold hold(FPortGate);
  Sleep(50);
  std::uint32_t errors = 0, queued = 0;
  device->QueuedInput(errors, queued);
  AnsiString result;
  if (queued > 0 && PortDevice()) {
    result.resize(queued);
    std::uint32_t got = 0;
    device->Read(&result[0], queued, got);
    result.resize(got);
  }
  return result;
}

AnsiString TVeskGSM::ReadString() {
  TPortGate::Hold hold(FPortGate);
  AnsiString result = ReadBuffer();
  if (!result.empty()) {
    SetReadBuffer(result);
    ProcessAT();
  }
  return result;
}

AnsiString TVeskGSM::ReadChar() {
  try {
    std::shared_ptr<SerialDevice> device = PortDevice();
    if (!device) return "";
    std::uint32_t errors = 0, queued = 0;
    if (!device->QueuedInput(errors, queued) || queued == 0) return "";
    char c;
    std::uint32_t got = 0;
    if (!device->Read(&c, 1, got) || got != 1) return "";
    AnsiString result(1, c);
    SetReadBuffer(result);
    return result;
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
  TDateTime start = Now();
  if (firstMarker.empty()) return "";
  AnsiString second = secondMarker.empty() ? firstMarker : secondMarker;
  TPortGate::Hold hold(FPortGate);
  AnsiString accumulated;
  for (;;) {
    if (timeOutSeconds > 0 && (Now() - start) * 86400.0 > timeOutSeconds) {
      SetReadBuffer(accumulated);
      ProcessAT();
      return "";
    }
    bool found = false;
    try {
      AnsiString c = ReadChar();
      if (c.empty()) {
        // Block on the port rather than spin; the wait ends the moment a
        // byte arrives, or when the time-out is due.
        int slice = kMaxWaitSliceMs;
        if (timeOutSeconds > 0) {
          double leftMs = timeOutSeconds * 1000.0 - (Now() - start) * MSecsPerDay + 1;
          auto real = std::chrono::duration_cast<std::chrono::milliseconds>(GetClock()->RealDuration(leftMs));
          slice = static_cast<int>(std::clamp<long long>(real.count(), 1, kMaxWaitSliceMs));
        }
        if (std::shared_ptr<SerialDevice> device = PortDevice())
          device->WaitForInput(slice);
        else
          std::this_thread::sleep_for(std::chrono::milliseconds(slice));
        continue;
      }
      accumulated += c;
      found = EndsWithMarker(accumulated, firstMarker) || EndsWithMarker(accumulated, second);
      if (found) {
        SetReadBuffer(accumulated);
        ProcessAT();
        return accumulated;
      }
    } catch (...) {
      // Read errors are swallowed and the wait goes on; an error from the
      // dispatcher, once the marker is in, reaches the caller.
      if (found) throw;
    }
  }
}

TVeskGSM::TPortSession::TPortSession(TVeskGSM& owner) : owner_(owner) {
  if (!owner_.PortDevice()) throw EVeskGSMException(owner_.NotOpenMessage());
  owner_.FPortGate.Enter();
  raised_ = !owner_.FPauseThread.exchange(true);
}

TVeskGSM::TPortSession::~TPortSession() {
  if (raised_) owner_.FPauseThread = false;
  owner_.FPortGate.Leave();
}

bool TVeskGSM::Pause(double ms) {
  Sleep(ms);
  return PortDevice() != nullptr;
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
