// What the framework layer needs from the operating system beyond the
// standard library. One implementation per platform, chosen by the build:
// posix_platform.cpp or win32_platform.cpp.
#pragma once

#include <ctime>

#include "component/Framework.h"

namespace vesk {

// The local calendar time of `t`; false when the system cannot convert it.
bool LocalTimeOf(std::time_t t, std::tm& local);

// The operating system's text for one of its own error codes (errno on
// POSIX, GetLastError on Windows).
AnsiString SystemErrorText(int code);

// The C runtime's text for an errno value. On POSIX the same as above; on
// Windows errno and the system's codes are two different sets.
AnsiString RuntimeErrorText(int code);

}  // namespace vesk
