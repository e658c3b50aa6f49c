// Serial ports on Linux: termios2 for the line settings (so that any speed
// can be set, not only the B* constants), TIOCEXCL plus flock for an
// exclusive open, /sys/class/tty for the list of ports.
//
// <sys/ioctl.h> and <termios.h> cannot be included together with the
// kernel's <asm/termbits.h>, which alone has struct termios2, so this file
// declares ioctl itself.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <asm/termios.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <shared_mutex>

#include "port/PosixSerial.h"

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace vesk {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Windows line error bits, which the component reads from QueuedInput.
constexpr std::uint32_t kLineOverrun = 0x0002;
constexpr std::uint32_t kLineParity = 0x0004;
constexpr std::uint32_t kLineFrame = 0x0008;
constexpr std::uint32_t kLineBreak = 0x0010;

int RemainingMs(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

class PosixSerialDevice : public SerialDevice {
 public:
  explicit PosixSerialDevice(int fd) : fd_(fd), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    struct serial_icounter_struct counts;
    if (::ioctl(fd_, TIOCGICOUNT, &counts) == 0) {
      haveCounts_ = true;
      counts_ = counts;
    }
  }
  ~PosixSerialDevice() override {
    Close();
    if (wake_ >= 0) ::close(wake_);
  }

  bool SetLineSettings(const TLineSettings& s) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    if (fd_ < 0) return Fail(EBADF);
    struct termios2 tio;
    if (::ioctl(fd_, TCGETS2, &tio) != 0) return Fail(errno);

    if (s.BaudRate == 0) return Fail(EINVAL);
    tcflag_t size;
    switch (s.ByteSize) {
      case 5: size = CS5; break;
      case 6: size = CS6; break;
      case 7: size = CS7; break;
      case 8: size = CS8; break;
      default: return Fail(EINVAL);
    }
    // One and a half stop bits exist only with five data bits, two only
    // with six or more: the UART sends 1.5 when asked for two at CS5.
    if (s.StopBits > 2 || (s.StopBits == 1 && s.ByteSize != 5) || (s.StopBits == 2 && s.ByteSize == 5))
      return Fail(EINVAL);
    if (s.Parity > 4) return Fail(EINVAL);

    // Raw bytes in both directions, reads never wait (VMIN = VTIME = 0).
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= size | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = s.BaudRate;
    tio.c_ospeed = s.BaudRate;
    switch (s.Parity) {
      case 1: tio.c_cflag |= PARENB | PARODD; break;           // odd
      case 2: tio.c_cflag |= PARENB; break;                    // even
      case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;  // mark
      case 4: tio.c_cflag |= PARENB | CMSPAR; break;           // space
      default: break;
    }
    if (s.StopBits != 0) tio.c_cflag |= CSTOPB;
    if ((s.Flags & dcb::OutxCtsFlow) || (s.Flags & dcb::RtsControlMask) == dcb::RtsHandshake) tio.c_cflag |= CRTSCTS;
    if (s.Flags & dcb::OutX) tio.c_iflag |= IXON;
    if (s.Flags & dcb::InX) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::ioctl(fd_, TCSETS2, &tio) != 0) return Fail(errno);

    // DTR and RTS. Linux has no DTR/DSR handshake: DTR simply stays up,
    // which keeps the port usable. A pseudo-terminal has no modem lines at
    // all and refuses these calls; that is not an error of the settings.
    int dtr = TIOCM_DTR, rts = TIOCM_RTS;
    std::uint32_t dtrField = s.Flags & dcb::DtrControlMask;
    std::uint32_t rtsField = s.Flags & dcb::RtsControlMask;
    ::ioctl(fd_, dtrField ? TIOCMBIS : TIOCMBIC, &dtr);
    if (rtsField != dcb::RtsHandshake) ::ioctl(fd_, rtsField ? TIOCMBIS : TIOCMBIC, &rts);
    return true;
  }

  bool SetTimeOuts(const TTimeOuts& t) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    if (fd_ < 0) return Fail(EBADF);
    std::lock_guard<std::mutex> guard(stateLock_);
    timeouts_ = t;
    return true;
  }

  bool SetQueueSizes(std::uint32_t, std::uint32_t) noexcept override {
    // The tty layer sizes its own buffers; the request is accepted.
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    return fd_ >= 0 ? true : Fail(EBADF);
  }

  bool QueuedInput(std::uint32_t& errors, std::uint32_t& count) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    errors = 0;
    count = 0;
    if (fd_ < 0) return Fail(EBADF);
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) != 0) return Fail(errno);
    count = n > 0 ? static_cast<std::uint32_t>(n) : 0;
    if (count == 0 && HungUp()) return Fail(EIO);
    errors = LineErrors();
    return true;
  }

  bool Read(void* buffer, std::uint32_t count, std::uint32_t& read) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    read = 0;
    if (fd_ < 0) return Fail(EBADF);
    TTimeOuts t;
    {
      std::lock_guard<std::mutex> guard(stateLock_);
      t = timeouts_;
    }
    bool immediate = t.ReadIntervalTimeout == 0xFFFFFFFF && t.ReadTotalTimeoutMultiplier == 0 &&
                     t.ReadTotalTimeoutConstant == 0;
    std::uint64_t total = std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(total);
    auto* out = static_cast<unsigned char*>(buffer);
    while (read < count) {
      ssize_t r = ::read(fd_, out + read, count - read);
      if (r > 0) {
        read += static_cast<std::uint32_t>(r);
        continue;
      }
      if (r == 0) {
        // With VMIN and VTIME 0 a terminal reads 0 bytes when nothing is
        // waiting; only a hang-up makes it the end of the stream.
        if (HungUp()) return read > 0 ? true : Fail(EIO);
      } else if (errno == EINTR) {
        continue;
      } else if (errno != EAGAIN) {
        return read > 0 ? true : Fail(errno);
      }
      if (immediate) break;
      int wait = total == 0 ? 100 : RemainingMs(deadline);
      if (total != 0 && wait == 0) break;
      struct pollfd p = {fd_, POLLIN, 0};
      ::poll(&p, 1, wait);
    }
    return true;
  }

  bool Write(const void* data, std::uint32_t count, std::uint32_t& written) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    written = 0;
    if (fd_ < 0) return Fail(EBADF);
    TTimeOuts t;
    {
      std::lock_guard<std::mutex> guard(stateLock_);
      t = timeouts_;
    }
    std::uint64_t total = std::uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant;
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(total);
    const auto* in = static_cast<const unsigned char*>(data);
    while (written < count) {
      ssize_t w = ::write(fd_, in + written, count - written);
      if (w > 0) {
        written += static_cast<std::uint32_t>(w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno != EAGAIN) return Fail(errno);
      int wait = total == 0 ? 100 : RemainingMs(deadline);
      if (total != 0 && wait == 0) return Fail(ETIMEDOUT);
      struct pollfd p = {fd_, POLLOUT, 0};
      ::poll(&p, 1, wait);
    }
    return true;
  }

  bool Purge(std::uint32_t flags) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    if (fd_ < 0) return Fail(EBADF);
    bool rx = flags & (kPurgeRxAbort | kPurgeRxClear);
    bool tx = flags & (kPurgeTxAbort | kPurgeTxClear);
    if (!rx && !tx) return true;
    int which = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
    if (::ioctl(fd_, TCFLSH, which) != 0) return Fail(errno);
    return true;
  }

  bool ModemStatus(std::uint32_t& lines) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    lines = 0;
    if (fd_ < 0) return Fail(EBADF);
    int bits = 0;
    if (::ioctl(fd_, TIOCMGET, &bits) != 0) return Fail(errno);
    if (bits & TIOCM_CTS) lines |= kModemCTS;
    if (bits & TIOCM_DSR) lines |= kModemDSR;
    if (bits & TIOCM_RI) lines |= kModemRING;
    if (bits & TIOCM_CD) lines |= kModemRLSD;
    return true;
  }

  TDeviceEvent Wait(int realMs) noexcept override {
    std::shared_lock<std::shared_mutex> lock(closeLock_);
    if (woken_.load()) return TDeviceEvent::Woken;
    if (fd_ < 0) return TDeviceEvent::Gone;
    const bool forever = realMs < 0;
    auto deadline = SteadyClock::now() + std::chrono::milliseconds(forever ? 0 : realMs);
    for (;;) {
      // The device and the wake-up descriptor: Wake (Close, destruction,
      // loss) ends the wait at once.
      struct pollfd p[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
      int r = ::poll(p, wake_ >= 0 ? 2 : 1, forever ? -1 : RemainingMs(deadline));
      if (r < 0) {
        if (errno == EINTR) continue;
        Fail(errno);
        return TDeviceEvent::Gone;
      }
      if (r == 0) return TDeviceEvent::TimedOut;
      if (p[1].revents != 0 || woken_.load()) {
        // A nudge is taken off the counter; a wake stays.
        std::uint64_t count = 0;
        if (!woken_.load()) [[maybe_unused]]
          ssize_t taken = ::read(wake_, &count, sizeof count);
        return TDeviceEvent::Woken;
      }
      if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // Hung up (the USB adapter pulled out, the other end of a
        // pseudo-terminal closed): what is still queued comes first.
        int n = 0;
        return ::ioctl(fd_, FIONREAD, &n) == 0 && n > 0 ? TDeviceEvent::Input : TDeviceEvent::Gone;
      }
      if (p[0].revents & POLLIN) return TDeviceEvent::Input;
    }
  }

  void Wake() noexcept override {
    woken_ = true;
    if (wake_ < 0) return;
    std::uint64_t one = 1;
    // A full counter (never, in practice) still leaves the descriptor
    // readable, which is all a waiter looks at.
    [[maybe_unused]] ssize_t w = ::write(wake_, &one, sizeof one);
  }

  void Nudge() noexcept override {
    if (wake_ < 0 || woken_.load()) return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(wake_, &one, sizeof one);
  }

  void Close() noexcept override {
    Wake();
    std::unique_lock<std::shared_mutex> lock(closeLock_);
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // releases the flock as well
    fd_ = -1;
  }

  int LastError() const noexcept override { return lastError_.load(); }

 private:
  bool Fail(int error) {
    lastError_ = error;
    return false;
  }

  bool HungUp() const {
    struct pollfd p = {fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
  }

  // Line errors since the last call, from the driver's counters where it
  // keeps them (real UARTs; not pseudo-terminals).
  std::uint32_t LineErrors() {
    if (!haveCounts_) return 0;
    struct serial_icounter_struct now;
    if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) return 0;
    std::lock_guard<std::mutex> guard(stateLock_);
    std::uint32_t e = 0;
    if (now.overrun != counts_.overrun || now.buf_overrun != counts_.buf_overrun) e |= kLineOverrun;
    if (now.parity != counts_.parity) e |= kLineParity;
    if (now.frame != counts_.frame) e |= kLineFrame;
    if (now.brk != counts_.brk) e |= kLineBreak;
    counts_ = now;
    return e;
  }

  // Operations share the lock; Close takes it alone, so no operation can
  // run on a descriptor number that has been closed and reused.
  mutable std::shared_mutex closeLock_;
  int fd_;
  // Readable once Wake has been called: waits poll it beside the device.
  // Without one (the system refused it), a wait still ends at its time.
  const int wake_;
  std::atomic<bool> woken_{false};
  std::atomic<int> lastError_{0};
  std::mutex stateLock_;
  TTimeOuts timeouts_;
  bool haveCounts_ = false;
  struct serial_icounter_struct counts_ = {};
};

bool ReadFileLine(const std::string& path, std::string& line) {
  std::ifstream in(path);
  if (!in) return false;
  std::getline(in, line);
  return true;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Orders ttyS2 before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t i2 = i, j2 = j;
      while (i2 < a.size() && std::isdigit(static_cast<unsigned char>(a[i2]))) ++i2;
      while (j2 < b.size() && std::isdigit(static_cast<unsigned char>(b[j2]))) ++j2;
      long x = std::stol(a.substr(i, i2 - i)), y = std::stol(b.substr(j, j2 - j));
      if (x != y) return x < y;
      i = i2;
      j = j2;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

class PosixSerialPlatform : public SerialPlatform {
 public:
  PosixSerialPlatform(AnsiString sysClassTty, AnsiString devRoot)
      : sys_(std::move(sysClassTty)), dev_(std::move(devRoot)) {}

  std::unique_ptr<SerialDevice> Open(const AnsiString& name, int& error) noexcept override {
    error = 0;
    AnsiString path = PosixDevicePath(name, dev_);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      return nullptr;
    }
    struct termios2 tio;
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
      error = ENOTTY;
      ::close(fd);
      return nullptr;
    }
    // TIOCEXCL keeps other programs out, but not root; the advisory lock
    // keeps out every program that asks for it, this library included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      error = errno == EWOULDBLOCK ? EBUSY : errno;
      ::close(fd);
      return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);
    // Raw at once, whatever the line settings will be: a terminal in its
    // default mode would echo the modem's output straight back to it.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::ioctl(fd, TCSETS2, &tio);
    return std::make_unique<PosixSerialDevice>(fd);
  }

  std::vector<AnsiString> PortNames() noexcept override {
    std::vector<std::string> found;
    DIR* dir = ::opendir(sys_.c_str());
    if (!dir) return {};
    std::string consoles;
    ReadFileLine(sys_ + "/console/active", consoles);
    while (dirent* e = ::readdir(dir)) {
      std::string n = e->d_name;
      if (n == "." || n == ".." || IsConsole(n, consoles)) continue;
      std::string base = sys_ + "/" + n;
      struct stat st;
      // Only ttys backed by a device: virtual consoles and pseudo-terminals
      // have no device link and are never listed.
      if (::lstat((base + "/device").c_str(), &st) != 0) continue;
      std::string type;
      // A legacy UART slot with no UART behind it reports type 0.
      if (ReadFileLine(base + "/type", type) && type == "0") continue;
      found.push_back(n);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), NaturalLess);
    std::vector<AnsiString> names;
    for (const std::string& n : found) {
      int index = -1;
      if (StartsWith(n, "ttyS") && TryStrToInt(n.substr(4), index) && index >= 0 && index <= 253 &&
          n.substr(4) == IntToStr(index))
        names.push_back("COM" + IntToStr(index + 1));
      else
        names.push_back(dev_ + "/" + n);
    }
    return names;
  }

  bool IsPresentDevice(const AnsiString& name) noexcept override {
    if (Trim(name).empty()) return false;
    // A bare name ("ttyUSB0", "com3") counts when the list holds the device
    // it stands for; only a path may name a device outside the list.
    if (name.find('/') == AnsiString::npos) {
      AnsiString path = PosixDevicePath(name, dev_);
      for (const AnsiString& listed : PortNames())
        if (PosixDevicePath(listed, dev_) == path) return true;
      return false;
    }
    struct stat st;
    if (::stat(PosixDevicePath(name, dev_).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    unsigned maj = major(st.st_rdev), min = minor(st.st_rdev);
    if (maj >= 136 && maj <= 143) return true;  // pseudo-terminal slaves
    char link[256];
    std::string sysDev = "/sys/dev/char/" + std::to_string(maj) + ":" + std::to_string(min) + "/subsystem";
    ssize_t len = ::readlink(sysDev.c_str(), link, sizeof link - 1);
    if (len <= 0) return false;
    link[len] = 0;
    const char* slash = std::strrchr(link, '/');
    return std::strcmp(slash ? slash + 1 : link, "tty") == 0;
  }

  bool CaseSensitiveNames() const noexcept override { return true; }

  // "COM3" and "/dev/ttyS2", or a link and the terminal it points to, name
  // one device: compared by device number, without opening anything.
  bool SameDevice(const AnsiString& a, const AnsiString& b) noexcept override {
    if (Trim(a).empty() || Trim(b).empty()) return false;
    AnsiString pa = PosixDevicePath(a, dev_), pb = PosixDevicePath(b, dev_);
    if (pa == pb) return true;
    struct stat sa, sb;
    return ::stat(pa.c_str(), &sa) == 0 && ::stat(pb.c_str(), &sb) == 0 && S_ISCHR(sa.st_mode) &&
           S_ISCHR(sb.st_mode) && sa.st_rdev == sb.st_rdev;
  }

  AnsiString ErrorText(int error) noexcept override { return SysErrorMessage(error); }

 private:
  static bool IsConsole(const std::string& n, const std::string& consoles) {
    std::size_t start = 0;
    while (start < consoles.size()) {
      std::size_t end = consoles.find(' ', start);
      if (consoles.substr(start, end == std::string::npos ? std::string::npos : end - start) == n) return true;
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return false;
  }

  AnsiString sys_;
  AnsiString dev_;
};

}  // namespace

AnsiString PosixDevicePath(const AnsiString& name, const AnsiString& devRoot) {
  AnsiString t = Trim(name);
  AnsiString upper = UpperCase(t);
  int n = 0;
  if (upper.size() > 3 && upper.compare(0, 3, "COM") == 0 && upper[3] != '0' && TryStrToInt(upper.substr(3), n) &&
      n >= 1 && n <= 254 && upper.substr(3) == IntToStr(n))
    return devRoot + "/ttyS" + IntToStr(n - 1);
  if (name.find('/') == AnsiString::npos) return devRoot + "/" + name;
  return name;
}

std::shared_ptr<SerialPlatform> MakePosixSerialPlatform(const AnsiString& sysClassTty, const AnsiString& devRoot) {
  return std::make_shared<PosixSerialPlatform>(sysClassTty, devRoot);
}

std::shared_ptr<SerialPlatform> DefaultSerialPlatform() {
  static std::shared_ptr<SerialPlatform> platform = MakePosixSerialPlatform();
  return platform;
}

}  // namespace vesk
