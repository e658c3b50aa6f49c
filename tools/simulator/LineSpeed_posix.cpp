// Other POSIX systems: the standard speed_t constants only.
#include <termios.h>

#include <array>
#include <utility>

#include "tools/simulator/PseudoTerminal.h"

namespace vesk::sim {

unsigned ReadLineSpeed(int fd) {
  static const std::array<std::pair<speed_t, unsigned>, 16> kSpeeds = {{
      {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300},
      {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
      {B19200, 19200}, {B38400, 38400}, {B115200, 115200},
  }};
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return 0;
  const speed_t speed = ::cfgetospeed(&t);
  if (speed == B57600) return 57600;
  if (speed == B230400) return 230400;
  for (const auto& [constant, bps] : kSpeeds) {
    if (constant == speed) return bps;
  }
  return 0;
}

}  // namespace vesk::sim
