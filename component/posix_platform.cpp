// POSIX side of the framework layer: thread priorities, local time and
// error texts.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "component/Platform.h"
#include "component/Thread.h"

namespace vesk {

int CurrentNativeThreadId() { return static_cast<int>(::syscall(SYS_gettid)); }

void ApplyNativeThreadPriority(TThreadPriority priority, int nativeId) {
  // Linux schedules threads by their nice value. Raising a priority needs a
  // privilege that most programs lack; the refusal is ignored and the
  // thread keeps the priority it has.
  static const int kNice[] = {19, 10, 5, 0, -5, -10, -20};
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(nativeId), kNice[priority]);
}

bool LocalTimeOf(std::time_t t, std::tm& local) { return ::localtime_r(&t, &local) != nullptr; }

AnsiString SystemErrorText(int code) {
  char buf[256];
  // The GNU strerror_r returns its text, which may not be buf.
  const char* text = ::strerror_r(code, buf, sizeof buf);
  return text ? AnsiString(text) : AnsiString("Unknown error ") + IntToStr(code);
}

AnsiString RuntimeErrorText(int code) { return SystemErrorText(code); }

}  // namespace vesk
