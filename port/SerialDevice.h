// The one interface through which the component reaches serial ports: an
// open device, and the platform that opens devices and lists the ports
// present. One backend per platform (posix_serial.cpp, win32_serial.cpp);
// tests put an in-process fake modem behind the same interface.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "component/Framework.h"

namespace vesk {

// Bits of the line-settings flags word. The component builds the word with
// these values and every backend translates it to its own terms.
namespace dcb {
constexpr std::uint32_t Binary = 0x00000001;
constexpr std::uint32_t OutxCtsFlow = 0x00000004;   // CTS output handshake
constexpr std::uint32_t OutxDsrFlow = 0x00000008;   // DSR output handshake
constexpr std::uint32_t DtrEnable = 0x00000010;     // DTR control field: 1 on
constexpr std::uint32_t DtrHandshake = 0x00000020;  // DTR control field: 2 handshake
constexpr std::uint32_t DtrControlMask = 0x00000030;
constexpr std::uint32_t OutX = 0x00000100;  // XON/XOFF on output
constexpr std::uint32_t InX = 0x00000200;   // XON/XOFF on input
constexpr std::uint32_t RtsEnable = 0x00001000;     // RTS control field: 1 on
constexpr std::uint32_t RtsHandshake = 0x00002000;  // RTS control field: 2 handshake
constexpr std::uint32_t RtsControlMask = 0x00003000;
}  // namespace dcb

// Line settings. Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space. Stop
// bits: 0 one, 1 one and a half, 2 two.
struct TLineSettings {
  std::uint32_t BaudRate = 0;
  std::uint8_t ByteSize = 8;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  std::uint32_t Flags = dcb::Binary;
};

// Read and write time-outs in milliseconds. With ReadIntervalTimeout
// 0xFFFFFFFF and both read totals 0 a read returns at once with what is
// queued; a write may take Multiplier * bytes + Constant.
struct TTimeOuts {
  std::uint32_t ReadIntervalTimeout = 0xFFFFFFFF;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 100;
  std::uint32_t WriteTotalTimeoutConstant = 1000;
};

// Purge flags.
constexpr std::uint32_t kPurgeTxAbort = 0x0001;
constexpr std::uint32_t kPurgeRxAbort = 0x0002;
constexpr std::uint32_t kPurgeTxClear = 0x0004;
constexpr std::uint32_t kPurgeRxClear = 0x0008;

// Modem line bits.
constexpr std::uint32_t kModemCTS = 0x0010;
constexpr std::uint32_t kModemDSR = 0x0020;
constexpr std::uint32_t kModemRING = 0x0040;
constexpr std::uint32_t kModemRLSD = 0x0080;  // carrier detect

// What ended a wait on a device (SerialDevice::Wait).
enum class TDeviceEvent {
  Input,     // input is waiting
  Lines,     // the modem lines changed (where the platform reports it)
  TimedOut,  // the time ran out first
  Woken,     // Wake was called
  Gone,      // the device failed or hung up: nothing more will come
};

// An open serial device. Every operation reports success by its result
// and leaves the operating system's error code in LastError(); none raises.
// All operations may be called from several threads; after Close (or after
// the object is destroyed) every operation fails.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  virtual bool SetLineSettings(const TLineSettings& settings) noexcept = 0;
  virtual bool SetTimeOuts(const TTimeOuts& timeouts) noexcept = 0;
  virtual bool SetQueueSizes(std::uint32_t input, std::uint32_t output) noexcept = 0;
  // The line error flags (non-zero after a line error, cleared by the call)
  // and the count of bytes waiting in the input queue.
  virtual bool QueuedInput(std::uint32_t& errors, std::uint32_t& count) noexcept = 0;
  // Reads up to `count` bytes as the time-outs allow.
  virtual bool Read(void* buffer, std::uint32_t count, std::uint32_t& read) noexcept = 0;
  // Writes synchronously, within the write time-outs.
  virtual bool Write(const void* data, std::uint32_t count, std::uint32_t& written) noexcept = 0;
  virtual bool Purge(std::uint32_t flags) noexcept = 0;
  // The modem lines as kModem* bits.
  virtual bool ModemStatus(std::uint32_t& lines) noexcept = 0;
  // Blocks up to `realMs` real milliseconds (0: only looks; less than 0: no
  // time limit) until input is waiting, the modem lines change, the device
  // fails or hangs up, or Wake is called; says which came first. Input already waiting ends it at once.
  // Where the platform cannot wait for the modem lines (POSIX), Lines never
  // comes: the caller looks at the lines when the time runs out.
  virtual TDeviceEvent Wait(int realMs) noexcept = 0;
  // Ends every Wait under way at once, and makes every later one return
  // Woken at once too: for the end of a connection (Close, destruction,
  // loss), after which nobody waits for input on this device any more.
  virtual void Wake() noexcept = 0;
  // Ends one Wait under way (or the next one) with Woken, and no more: for
  // a waiter that has more to do than read (work that fell due).
  virtual void Nudge() noexcept = 0;
  // Releases the device (waking every Wait first); later operations fail.
  // Safe to call twice.
  virtual void Close() noexcept = 0;
  virtual int LastError() const noexcept = 0;
};

// What a platform offers: opening devices by name and the list of ports
// present (on Windows the registry's list, on Linux the devices under
// /sys/class/tty). None of its operations raises.
class SerialPlatform {
 public:
  virtual ~SerialPlatform() = default;
  // Opens the named port exclusively for reading and writing. On failure
  // returns nullptr and sets `error` to the operating system's code.
  virtual std::unique_ptr<SerialDevice> Open(const AnsiString& name, int& error) noexcept = 0;
  // The names of the serial ports present, as Open takes them, in the
  // platform's order.
  virtual std::vector<AnsiString> PortNames() noexcept = 0;
  // Whether a name that the list does not hold still names a device that
  // is there (a path to a terminal device: a pseudo-terminal, a by-id
  // link). Such devices are never in PortNames, so a scan never writes
  // into them.
  virtual bool IsPresentDevice(const AnsiString& name) noexcept = 0;
  // Whether port names compare with regard to case.
  virtual bool CaseSensitiveNames() const noexcept = 0;
  // Whether two names, as Open takes them, stand for the same device. By
  // default the names are compared as the platform compares them; a backend
  // may also see through aliases (another spelling, a link to the device).
  virtual bool SameDevice(const AnsiString& a, const AnsiString& b) noexcept {
    AnsiString x = Trim(a), y = Trim(b);
    if (x.empty() || y.empty()) return false;
    return CaseSensitiveNames() ? x == y : UpperCase(x) == UpperCase(y);
  }
  virtual AnsiString ErrorText(int error) noexcept = 0;
};

// The platform of this machine.
std::shared_ptr<SerialPlatform> DefaultSerialPlatform();

}  // namespace vesk
