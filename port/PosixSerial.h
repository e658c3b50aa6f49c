// The POSIX serial backend, for the tests that exercise it directly.
#pragma once

#include <memory>

#include "port/SerialDevice.h"

namespace vesk {

// Port names on POSIX: "COMn" (any case) stands for /dev/ttyS(n-1); a name
// without a slash is a device under /dev ("ttyUSB0"); anything else is a
// path, used as it stands. Names are case-sensitive.
AnsiString PosixDevicePath(const AnsiString& name, const AnsiString& devRoot = "/dev");

// A platform that lists the ports found under `sysClassTty` (normally
// /sys/class/tty) and opens devices under `devRoot` (normally /dev). Other
// roots let tests build a machine of their own in a temporary folder.
std::shared_ptr<SerialPlatform> MakePosixSerialPlatform(const AnsiString& sysClassTty = "/sys/class/tty",
                                                        const AnsiString& devRoot = "/dev");

}  // namespace vesk
