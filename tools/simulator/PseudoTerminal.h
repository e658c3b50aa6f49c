// The simulator's end of a POSIX pseudo-terminal, and the stable path that
// points clients at it.
//
// A pseudo-terminal carries bytes and the termios settings, nothing more: it
// has no modem control lines (DTR, RTS, CTS, DSR, DCD, RI). TIOCMGET and
// TIOCMSET fail on it with ENOTTY, so the simulator offers no modem lines.
#pragma once

#include <string>

namespace vesk::sim {

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal();
  PseudoTerminal(PseudoTerminal&& other) noexcept;
  PseudoTerminal& operator=(PseudoTerminal&& other) noexcept;
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // A fresh pair. The master is non-blocking; the slave is put in raw mode
  // (no echo, no canonical input, no signals, no output processing) before
  // any client can open it, and stays open here so that the master never
  // sees a hang-up when a client closes its side. Throws std::system_error.
  static PseudoTerminal Open();

  bool IsOpen() const { return master_ >= 0; }
  int Master() const { return master_; }
  int Slave() const { return slave_; }
  const std::string& DevicePath() const { return device_; }

  // The output speed the client last set on the line, in bits per second;
  // 0 when it cannot be read.
  unsigned LineSpeed() const;

  // Closes both ends: a client sees end of file or EIO, and POLLHUP.
  void Close();

  // Lets go of the slave side: once no client holds it either, the master
  // sees a hang-up (POLLHUP), which is how a client's close is noticed.
  void ReleaseSlave();
  // Holds the slave side open again; false when it cannot be opened.
  bool HoldSlave();
  bool HoldsSlave() const { return slave_ >= 0; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string device_;
};

// Points `path` at `target` through a symbolic link, replacing whatever was
// there atomically (symlink to a temporary name, then rename). Throws
// std::system_error.
void PublishPath(const std::string& path, const std::string& target);
// Removes the link at `path` if there is one.
void RemovePath(const std::string& path);

// The line speed of a terminal, in bits per second (LineSpeed_*.cpp).
unsigned ReadLineSpeed(int fd);

}  // namespace vesk::sim
