// POSIX side of the framework layer: thread priorities.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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

}  // namespace vesk
