#include "tools/simulator/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <utility>

namespace vesk::sim {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Raw mode as cfmakeraw sets it, spelled out since cfmakeraw is not POSIX.
void MakeRaw(termios& t) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  t.c_cflag |= CS8;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

}  // namespace

PseudoTerminal::~PseudoTerminal() { Close(); }

PseudoTerminal::PseudoTerminal(PseudoTerminal&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slave_(std::exchange(other.slave_, -1)),
      device_(std::move(other.device_)) {}

PseudoTerminal& PseudoTerminal::operator=(PseudoTerminal&& other) noexcept {
  if (this != &other) {
    Close();
    master_ = std::exchange(other.master_, -1);
    slave_ = std::exchange(other.slave_, -1);
    device_ = std::move(other.device_);
  }
  return *this;
}

PseudoTerminal PseudoTerminal::Open() {
  PseudoTerminal pty;
  pty.master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (pty.master_ < 0) ThrowErrno("posix_openpt");
  if (::fcntl(pty.master_, F_SETFD, FD_CLOEXEC) != 0) ThrowErrno("fcntl(FD_CLOEXEC)");
  if (::grantpt(pty.master_) != 0) ThrowErrno("grantpt");
  if (::unlockpt(pty.master_) != 0) ThrowErrno("unlockpt");
  char name[128];
  if (const int rc = ::ptsname_r(pty.master_, name, sizeof name); rc != 0) {
    errno = rc;
    ThrowErrno("ptsname_r");
  }
  pty.device_ = name;
  pty.slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.slave_ < 0) ThrowErrno("open " + pty.device_);
  termios t{};
  if (::tcgetattr(pty.slave_, &t) != 0) ThrowErrno("tcgetattr");
  MakeRaw(t);
  if (::tcsetattr(pty.slave_, TCSANOW, &t) != 0) ThrowErrno("tcsetattr");
  const int flags = ::fcntl(pty.master_, F_GETFL);
  if (flags < 0 || ::fcntl(pty.master_, F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno("fcntl(O_NONBLOCK)");
  return pty;
}

unsigned PseudoTerminal::LineSpeed() const { return slave_ >= 0 ? ReadLineSpeed(slave_) : 0; }

void PseudoTerminal::ReleaseSlave() { CloseFd(slave_); }

bool PseudoTerminal::HoldSlave() {
  if (slave_ >= 0) return true;
  if (master_ < 0) return false;
  slave_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  return slave_ >= 0;
}

void PseudoTerminal::Close() {
  CloseFd(master_);
  CloseFd(slave_);
  device_.clear();
}

void PublishPath(const std::string& path, const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const std::string temporary =
      path + ".new." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0) ThrowErrno("symlink " + temporary);
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    ThrowErrno("rename to " + path);
  }
}

void RemovePath(const std::string& path) { ::unlink(path.c_str()); }

}  // namespace vesk::sim
