// Windows side of the framework layer: thread priorities, local time and
// error texts.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>

#include "component/Platform.h"
#include "component/Thread.h"

namespace vesk {

int CurrentNativeThreadId() { return static_cast<int>(::GetCurrentThreadId()); }

void ApplyNativeThreadPriority(TThreadPriority priority, int nativeId) {
  static const int kPriority[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL,
                                  THREAD_PRIORITY_NORMAL,       THREAD_PRIORITY_ABOVE_NORMAL,
                                  THREAD_PRIORITY_HIGHEST,      THREAD_PRIORITY_TIME_CRITICAL};
  HANDLE thread = ::OpenThread(THREAD_SET_INFORMATION, FALSE, static_cast<DWORD>(nativeId));
  if (!thread) return;  // gone already, or not ours to change: best effort
  ::SetThreadPriority(thread, kPriority[priority]);
  ::CloseHandle(thread);
}

bool LocalTimeOf(std::time_t t, std::tm& local) { return ::localtime_s(&local, &t) == 0; }

AnsiString SystemErrorText(int code) {
  char* text = nullptr;
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  AnsiString result;
  if (n != 0 && text) result.assign(text, n);
  if (text) ::LocalFree(text);
  // The system's texts end with a line break.
  while (!result.empty() && static_cast<unsigned char>(result.back()) <= 0x20) result.pop_back();
  if (result.empty()) result = "System error.  Code: " + IntToStr(code) + ".";
  return result;
}

AnsiString RuntimeErrorText(int code) {
  char buf[256];
  if (::strerror_s(buf, sizeof buf, code) != 0) return "Unknown error " + IntToStr(code);
  return buf;
}

}  // namespace vesk
