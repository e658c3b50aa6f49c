// Serial ports on Windows: the communications functions of kernel32 on a
// handle opened for overlapped I/O, and the registry's list of the ports
// present (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM).
//
// Reads never wait: the component sets the time-outs that make ReadFile
// return at once with what is queued, and asks ClearCommError for the queue
// count first. Reads and writes are overlapped calls waited for at once, so
// they behave as synchronous ones; what the overlapped handle buys is
// WaitCommEvent: a wait for a character or a change of the modem lines that
// an event (Wake, Close) ends at once, without holding up the other calls.
// Not every driver implements the event wait faithfully (some return at
// once with an empty mask); a wait that meets one looks at the input queue
// every few milliseconds for the rest of its time instead of spinning, as
// does a second thread that wants to wait while one already does (a handle
// has one event wait at a time).
//
// A device that goes away (a USB adapter pulled out) makes the next calls
// fail; QueuedInput reports that, which is how the component learns of it
// even when the registry's list is slow to change or never does.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "component/Platform.h"
#include "port/Win32Serial.h"

namespace vesk {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often a wait that cannot use the event wait looks at the input queue.
constexpr DWORD kInputPollMs = 5;
// The events a wait ends on: a character received, a modem line changed.
constexpr DWORD kLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr DWORD kWaitMask = EV_RXCHAR | kLineEvents;

// An event of the kernel's, closed with its owner.
class Event {
 public:
  explicit Event(bool manualReset) : handle_(::CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr)) {}
  ~Event() {
    if (handle_) ::CloseHandle(handle_);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

class Win32SerialDevice : public SerialDevice {
 public:
  explicit Win32SerialDevice(HANDLE handle) : handle_(handle) { ::SetCommMask(handle_, kWaitMask); }
  ~Win32SerialDevice() override { Close(); }

  bool SetLineSettings(const TLineSettings& s) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    if (s.BaudRate == 0) return Fail(ERROR_INVALID_PARAMETER);
    DCB dcb = {};
    DCB current = {};
    current.DCBlength = sizeof current;
    bool haveCurrent = ::GetCommState(handle_, &current) != 0;
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = s.BaudRate;
    dcb.ByteSize = s.ByteSize;
    dcb.Parity = s.Parity;
    dcb.StopBits = s.StopBits;
    dcb.fBinary = (s.Flags & dcb::Binary) ? 1 : 0;
    dcb.fParity = 0;  // no parity check: a bad byte is passed on as it came
    dcb.fOutxCtsFlow = (s.Flags & dcb::OutxCtsFlow) ? 1 : 0;
    dcb.fOutxDsrFlow = (s.Flags & dcb::OutxDsrFlow) ? 1 : 0;
    dcb.fDtrControl = (s.Flags & dcb::DtrControlMask) >> 4;
    dcb.fOutX = (s.Flags & dcb::OutX) ? 1 : 0;
    dcb.fInX = (s.Flags & dcb::InX) ? 1 : 0;
    dcb.fRtsControl = (s.Flags & dcb::RtsControlMask) >> 12;
    // The handshake characters are the usual DC1 and DC3. Drivers refuse a
    // record whose XON and XOFF characters are equal, so they are never
    // left at zero; the limits stay those the driver chose.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (haveCurrent) {
      dcb.XonLim = current.XonLim;
      dcb.XoffLim = current.XoffLim;
    }
    if (!::SetCommState(handle_, &dcb)) return Fail(::GetLastError());
    return true;
  }

  bool SetTimeOuts(const TTimeOuts& t) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    COMMTIMEOUTS c = {};
    c.ReadIntervalTimeout = t.ReadIntervalTimeout;
    c.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    c.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    c.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    c.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    if (!::SetCommTimeouts(handle_, &c)) return Fail(::GetLastError());
    return true;
  }

  bool SetQueueSizes(std::uint32_t input, std::uint32_t output) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    if (!::SetupComm(handle_, input, output)) return Fail(::GetLastError());
    return true;
  }

  bool QueuedInput(std::uint32_t& errors, std::uint32_t& count) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    errors = 0;
    count = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    DWORD e = 0;
    COMSTAT stat = {};
    if (!::ClearCommError(handle_, &e, &stat)) return Fail(::GetLastError());
    errors = e;
    count = stat.cbInQue;
    return true;
  }

  bool Read(void* buffer, std::uint32_t count, std::uint32_t& read) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    read = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    if (count == 0) return true;
    // What is queued, and no more: an overlapped read does not keep to the
    // "return at once" time-outs everywhere (under Wine it waits for data).
    DWORD errors = 0;
    COMSTAT stat = {};
    if (!::ClearCommError(handle_, &errors, &stat)) return Fail(::GetLastError());
    if (stat.cbInQue == 0) return true;
    count = std::min<std::uint32_t>(count, stat.cbInQue);
    std::lock_guard<std::mutex> reading(readLock_);
    DWORD n = 0;
    if (!Complete(::ReadFile(handle_, buffer, count, nullptr, Prepare(readOverlapped_, readEvent_)), readOverlapped_,
                  n)) {
      read = n;
      return Fail(::GetLastError());
    }
    read = n;
    return true;
  }

  bool Write(const void* data, std::uint32_t count, std::uint32_t& written) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    written = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    if (count == 0) return true;
    std::lock_guard<std::mutex> writing(writeLock_);
    DWORD n = 0;
    bool ok = Complete(::WriteFile(handle_, data, count, nullptr, Prepare(writeOverlapped_, writeEvent_)),
                       writeOverlapped_, n);
    written = n;
    if (!ok) return Fail(::GetLastError());
    // The write time-outs ran out before everything went.
    if (n < count) return Fail(ERROR_TIMEOUT);
    return true;
  }

  bool Purge(std::uint32_t flags) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    if (!::PurgeComm(handle_, flags)) return Fail(::GetLastError());
    return true;
  }

  bool ModemStatus(std::uint32_t& lines) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    lines = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
    DWORD status = 0;
    if (!::GetCommModemStatus(handle_, &status)) return Fail(::GetLastError());
    lines = status & (kModemCTS | kModemDSR | kModemRING | kModemRLSD);
    return true;
  }

  TDeviceEvent Wait(int realMs) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    if (Woken()) return TDeviceEvent::Woken;
    if (handle_ == INVALID_HANDLE_VALUE) return TDeviceEvent::Gone;
    // No time limit: a deadline that never comes.
    auto deadline =
        realMs < 0 ? SteadyClock::time_point::max() : SteadyClock::now() + std::chrono::milliseconds(realMs);
    // The event wait reports characters that arrive after it begins; those
    // already queued end the wait at once.
    TDeviceEvent queued = QueuedNow();
    if (queued != TDeviceEvent::TimedOut) return queued;
    std::unique_lock<std::mutex> waiting(waitLock_, std::try_to_lock);
    if (!waiting.owns_lock()) return PollQueue(deadline);

    DWORD mask = 0;
    OVERLAPPED* ov = Prepare(waitOverlapped_, waitEvent_);
    if (!::WaitCommEvent(handle_, &mask, ov)) {
      DWORD error = ::GetLastError();
      // A driver that cannot wait for events (Wine's, at times): the queue
      // is looked at instead; a device that has failed fails there.
      if (error != ERROR_IO_PENDING) return PollQueue(deadline);
      // The device's event and the wake-up only: a third handle made the
      // wait fail under Wine, which read as the device gone. A nudge is
      // seen at the next wait (PollQueue) instead of ending this one.
      HANDLE events[2] = {waitEvent_.Get(), wake_.Get()};
      DWORD r = ::WaitForMultipleObjects(2, events, FALSE, RemainingMs(deadline));
      if (r != WAIT_OBJECT_0) ::CancelIoEx(handle_, ov);
      DWORD ignored = 0;
      BOOL done = ::GetOverlappedResult(handle_, ov, &ignored, TRUE);
      if (r == WAIT_OBJECT_0 + 1 || r == WAIT_OBJECT_0 + 2) return TDeviceEvent::Woken;
      if (r != WAIT_OBJECT_0) {
        // The time ran out (or the wait failed); an event that completed
        // meanwhile still counts.
        if (!done || mask == 0) return r == WAIT_TIMEOUT ? QueuedOr(TDeviceEvent::TimedOut) : PollQueue(deadline);
      } else if (!done) {
        return PollQueue(deadline);
      }
    }
    if (mask & EV_RXCHAR) return TDeviceEvent::Input;
    if (mask & kLineEvents) return TDeviceEvent::Lines;
    // An empty mask: a driver that does not wait. Look at the queue instead.
    return PollQueue(deadline);
  }

  void Wake() noexcept override { ::SetEvent(wake_.Get()); }
  // The nudge event resets itself as the one wait it ends returns.
  void Nudge() noexcept override { ::SetEvent(nudge_.Get()); }

  void Close() noexcept override {
    Wake();
    std::unique_lock<std::shared_mutex> lock(closeLock_);
    if (handle_ == INVALID_HANDLE_VALUE) return;
    ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  int LastError() const noexcept override { return lastError_.load(); }

 private:
  bool Fail(DWORD error) {
    lastError_ = static_cast<int>(error);
    return false;
  }

  bool Woken() const { return ::WaitForSingleObject(wake_.Get(), 0) == WAIT_OBJECT_0; }

  static DWORD RemainingMs(SteadyClock::time_point deadline) {
    if (deadline == SteadyClock::time_point::max()) return INFINITE;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) return 0;
    return left >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(left);
  }

  static OVERLAPPED* Prepare(OVERLAPPED& ov, const Event& event) {
    ov = OVERLAPPED{};
    ov.hEvent = event.Get();
    return &ov;
  }

  // Waits for an overlapped read or write to finish; with the time-outs
  // set, it finishes within them.
  bool Complete(BOOL started, OVERLAPPED& ov, DWORD& n) {
    if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
    return ::GetOverlappedResult(handle_, &ov, &n, TRUE) != 0;
  }

  // Input waiting (Input), a device that fails (Gone), or neither (TimedOut).
  TDeviceEvent QueuedNow() {
    DWORD e = 0;
    COMSTAT stat = {};
    if (!::ClearCommError(handle_, &e, &stat)) {
      Fail(::GetLastError());
      return TDeviceEvent::Gone;
    }
    return stat.cbInQue > 0 ? TDeviceEvent::Input : TDeviceEvent::TimedOut;
  }
  TDeviceEvent QueuedOr(TDeviceEvent otherwise) {
    TDeviceEvent now = QueuedNow();
    return now == TDeviceEvent::TimedOut ? otherwise : now;
  }

  // The wait without the event wait: the queue every few milliseconds, and
  // the wake-up event in between.
  TDeviceEvent PollQueue(SteadyClock::time_point deadline) {
    for (;;) {
      TDeviceEvent now = QueuedNow();
      if (now != TDeviceEvent::TimedOut) return now;
      DWORD left = RemainingMs(deadline);
      if (left == 0) return TDeviceEvent::TimedOut;
      HANDLE events[2] = {wake_.Get(), nudge_.Get()};
      const DWORD r = ::WaitForMultipleObjects(2, events, FALSE, std::min(left, kInputPollMs));
      if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1) return TDeviceEvent::Woken;
    }
  }

  // Operations share the lock; Close takes it alone, so no operation can
  // run on a handle value that has been closed and given out again.
  mutable std::shared_mutex closeLock_;
  HANDLE handle_;
  std::atomic<int> lastError_{0};
  // One overlapped call of each kind at a time, each with its own event.
  std::mutex readLock_, writeLock_, waitLock_;
  Event readEvent_{true}, writeEvent_{true}, waitEvent_{true};
  OVERLAPPED readOverlapped_ = {}, writeOverlapped_ = {}, waitOverlapped_ = {};
  // Set by Wake and Close, never reset: every wait ends at once from then on.
  Event wake_{true};
  // Set by Nudge; reset (automatically) by the one wait it ends.
  Event nudge_{false};
};

// Closes a registry key on every path out.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_) ::RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  bool OpenReadOnly(HKEY root, const AnsiString& path) {
    return ::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key_) == ERROR_SUCCESS;
  }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Whether `name` is one of COM1 to COM254, in any case.
bool IsNumberedComName(const AnsiString& name) {
  AnsiString upper = UpperCase(name);
  int n = 0;
  return upper.size() > 3 && upper.compare(0, 3, "COM") == 0 && upper[3] != '0' && TryStrToInt(upper.substr(3), n) &&
         n >= 1 && n <= 254 && upper.substr(3) == IntToStr(n);
}

class Win32SerialPlatform : public SerialPlatform {
 public:
  explicit Win32SerialPlatform(const AnsiString& portListKey) {
    AnsiString upper = UpperCase(portListKey);
    if (upper.rfind("HKCU\\", 0) == 0) {
      root_ = HKEY_CURRENT_USER;
      key_ = portListKey.substr(5);
    } else if (upper.rfind("HKLM\\", 0) == 0) {
      key_ = portListKey.substr(5);
    } else {
      key_ = portListKey;
    }
  }

  std::unique_ptr<SerialDevice> Open(const AnsiString& name, int& error) noexcept override {
    error = 0;
    if (Trim(name).empty()) {
      error = ERROR_FILE_NOT_FOUND;
      return nullptr;
    }
    HANDLE h = ::CreateFileA(Win32DeviceName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      error = static_cast<int>(::GetLastError());
      return nullptr;
    }
    // Only a communications device: a disk or a pipe of the same name
    // would take the modem's commands as data.
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb)) {
      error = static_cast<int>(::GetLastError());
      if (error == 0) error = ERROR_INVALID_HANDLE;
      ::CloseHandle(h);
      return nullptr;
    }
    return std::make_unique<Win32SerialDevice>(h);
  }

  std::vector<AnsiString> PortNames() noexcept override {
    std::vector<AnsiString> names;
    RegistryKey key;
    if (!key.OpenReadOnly(root_, key_)) return names;
    DWORD values = 0, maxName = 0, maxData = 0;
    if (::RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &maxName,
                           &maxData, nullptr, nullptr) != ERROR_SUCCESS)
      return names;
    // Each value is one port: its name is the driver's label, its data the
    // device name that CreateFile opens.
    std::vector<char> valueName(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0;; ++i) {
      DWORD nameLen = static_cast<DWORD>(valueName.size());
      DWORD dataLen = static_cast<DWORD>(data.size() - 1);
      DWORD type = 0;
      LONG r = ::RegEnumValueA(key.Get(), i, valueName.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
      if (r == ERROR_NO_MORE_ITEMS) break;
      if (r == ERROR_MORE_DATA) {
        // A value grew since the key was measured: measure again.
        valueName.resize(valueName.size() * 2 + 256);
        data.resize(data.size() * 2 + 256);
        --i;
        continue;
      }
      if (r != ERROR_SUCCESS) break;
      if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
      AnsiString device(reinterpret_cast<const char*>(data.data()), dataLen);
      std::size_t end = device.find('\0');
      if (end != AnsiString::npos) device.resize(end);
      names.push_back(device);
    }
    return names;
  }

  bool IsPresentDevice(const AnsiString& name) noexcept override {
    // A device the registry's list leaves out, such as some virtual ports,
    // is present when the system knows a device of that name. COM1 to
    // COM254 are the list's alone: the system may keep a name for a port
    // whose device has gone.
    AnsiString device = Trim(name);
    if (device.rfind("\\\\.\\", 0) == 0) device = device.substr(4);
    if (device.empty() || device.find('\\') != AnsiString::npos) return false;
    if (IsNumberedComName(device)) return false;
    char target[1024];
    return ::QueryDosDeviceA(device.c_str(), target, sizeof target) != 0;
  }

  bool CaseSensitiveNames() const noexcept override { return false; }

  // "COM3", "com3" and "\\.\COM3" name one device.
  bool SameDevice(const AnsiString& a, const AnsiString& b) noexcept override {
    AnsiString x = UpperCase(Trim(a)), y = UpperCase(Trim(b));
    if (x.rfind("\\\\.\\", 0) == 0) x = x.substr(4);
    if (y.rfind("\\\\.\\", 0) == 0) y = y.substr(4);
    return !x.empty() && x == y;
  }

  AnsiString ErrorText(int error) noexcept override { return SystemErrorText(error); }

 private:
  HKEY root_ = HKEY_LOCAL_MACHINE;
  AnsiString key_;
};

}  // namespace

AnsiString Win32DeviceName(const AnsiString& name) {
  if (name.rfind("\\\\", 0) == 0) return name;
  return "\\\\.\\" + name;
}

std::shared_ptr<SerialPlatform> MakeWin32SerialPlatform(const AnsiString& portListKey) {
  return std::make_shared<Win32SerialPlatform>(portListKey);
}

std::shared_ptr<SerialPlatform> DefaultSerialPlatform() {
  static std::shared_ptr<SerialPlatform> platform = MakeWin32SerialPlatform();
  return platform;
}

}  // namespace vesk
