// The Windows serial backend, for the tests that exercise it directly.
#pragma once

#include <memory>

#include "port/SerialDevice.h"

namespace vesk {

// The name CreateFile is given for a port name: "\\.\" and the name, so
// that COM10 and above and custom device names open too; a name that
// already starts with two backslashes is used as it stands.
AnsiString Win32DeviceName(const AnsiString& name);

// A platform that lists the ports recorded under the registry key
// `portListKey`, written with its root as "HKLM\..." or "HKCU\...". The
// machine's list is HKLM\HARDWARE\DEVICEMAP\SERIALCOMM; another key lets
// tests build a list of their own.
std::shared_ptr<SerialPlatform> MakeWin32SerialPlatform(
    const AnsiString& portListKey = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM");

}  // namespace vesk
