// Linux: termios2 gives the speed in bits per second, arbitrary speeds
// (BOTHER) included. This file must not see <termios.h>, whose struct
// termios clashes with the kernel's.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "tools/simulator/PseudoTerminal.h"

namespace vesk::sim {

unsigned ReadLineSpeed(int fd) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return 0;
  return t.c_ospeed;
}

}  // namespace vesk::sim
