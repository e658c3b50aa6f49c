// The client's end of the line in the simulator's tests: a plain file
// descriptor on the pseudo-terminal's path, in raw mode, read and written as
// an application would.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace vesk::sim::test {

using namespace std::chrono_literals;

inline speed_t SpeedConstant(unsigned bps) {
  switch (bps) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
  }
}

class SimClient {
 public:
  explicit SimClient(const std::string& path, unsigned speed = 0) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open " + path);
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) throw std::system_error(errno, std::generic_category(), "tcgetattr");
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) throw std::system_error(errno, std::generic_category(), "tcsetattr");
    if (speed != 0) SetSpeed(speed);
  }
  ~SimClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  SimClient(const SimClient&) = delete;
  SimClient& operator=(const SimClient&) = delete;

  int Fd() const { return fd_; }

  void SetSpeed(unsigned bps) {
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfsetispeed(&t, SpeedConstant(bps));
    ::cfsetospeed(&t, SpeedConstant(bps));
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) throw std::system_error(errno, std::generic_category(), "speed");
  }

  // One write per byte, as a terminal user types.
  void Type(std::string_view bytes) {
    for (char c : bytes) WriteAll(std::string_view(&c, 1));
  }
  // All bytes in one write.
  void Write(std::string_view bytes) { WriteAll(bytes); }

  // Everything up to and including `marker`; "" when it does not come in time
  // (what did come stays for the next read).
  std::string ReadUntil(std::string_view marker, std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const std::size_t at = buffer_.find(marker);
      if (at != std::string::npos) {
        std::string out = buffer_.substr(0, at + marker.size());
        buffer_.erase(0, at + marker.size());
        return out;
      }
      if (!Fill(deadline)) return {};
    }
  }

  // Up to and including the first final result line (OK, ERROR, +CME ERROR,
  // +CMS ERROR, CONNECT, BUSY, NO CARRIER) or the "> " prompt.
  std::string ReadAnswer(std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const std::size_t end = FinalEnd(buffer_);
      if (end != std::string::npos) {
        std::string out = buffer_.substr(0, end);
        buffer_.erase(0, end);
        return out;
      }
      if (!Fill(deadline)) return {};
    }
  }

  // Types a command line with its CR and returns the answer (echo included).
  std::string Ask(std::string_view line, std::chrono::milliseconds timeout = 3s) {
    Type(line);
    Type("\r");
    return ReadAnswer(timeout);
  }

  // Whatever arrives during `duration`, and what was already waiting.
  std::string ReadFor(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (Fill(deadline)) {
    }
    return std::exchange(buffer_, std::string());
  }

  // Number of read() calls that returned data so far.
  int Reads() const { return reads_; }
  // errno of the last failed read, 0 at end of file.
  int LastReadError() const { return lastError_; }
  bool SawHangUp() const { return hangUp_; }

 private:
  static std::size_t FinalEnd(const std::string& s) {
    static constexpr std::string_view kFinals[] = {"OK", "ERROR", "CONNECT", "BUSY", "NO CARRIER"};
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s.compare(i, 4, "\r\n> ") == 0) return i + 4;
      if (s[i] != '\n') continue;
      std::string_view line(s.data() + lineStart, i + 1 - lineStart);
      lineStart = i + 1;
      if (line.size() < 2 || line[line.size() - 2] != '\r') continue;
      line.remove_suffix(2);
      for (std::string_view f : kFinals) {
        if (line == f) return i + 1;
      }
      if (line.rfind("+CME ERROR:", 0) == 0 || line.rfind("+CMS ERROR:", 0) == 0) return i + 1;
    }
    return std::string::npos;
  }

  void WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) {
          pollfd p{fd_, POLLOUT, 0};
          ::poll(&p, 1, 100);
          continue;
        }
        throw std::system_error(errno, std::generic_category(), "write");
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  // One read, waiting until the deadline; false when nothing came.
  bool Fill(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    if (p.revents & POLLHUP) hangUp_ = true;
    char chunk[4096];
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n <= 0) {
      lastError_ = n == 0 ? 0 : errno;
      if (n == 0 || errno != EAGAIN) hangUp_ = true;
      return false;
    }
    ++reads_;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  int fd_ = -1;
  std::string buffer_;
  int reads_ = 0;
  int lastError_ = 0;
  bool hangUp_ = false;
};

}  // namespace vesk::sim::test
