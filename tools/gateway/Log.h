// The gateway's log: one line per event on standard error (or a file),
//   2024-05-01T12:00:00.123Z info modem=left message=17 sent (reference 4)
// time in UTC, level, the modem and the message or inbox entry when the
// event has them, and what happened. Lines from several threads never mix.
// Reopen (SIGHUP) reopens a log file after it was rotated.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "tools/gateway/Time.h"

namespace vesk::gateway {

enum class LogLevel { Error, Warn, Info, Debug };

// "error", "warn", "info", "debug"; empty when none of them.
std::optional<LogLevel> LogLevelFromName(const std::string& name);

class Logger {
 public:
  // `path` empty: standard error. Throws std::runtime_error when the file
  // cannot be opened.
  Logger(LogLevel level, std::string path, ClockFn clock = SystemMillis);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  bool Enabled(LogLevel level) const { return level <= level_; }
  // `subject`: "message=17", "inbox=5" or empty.
  void Write(LogLevel level, const std::string& modem, const std::string& subject, const std::string& text);
  void Error(const std::string& modem, const std::string& subject, const std::string& text) {
    Write(LogLevel::Error, modem, subject, text);
  }
  void Warn(const std::string& modem, const std::string& subject, const std::string& text) {
    Write(LogLevel::Warn, modem, subject, text);
  }
  void Info(const std::string& modem, const std::string& subject, const std::string& text) {
    Write(LogLevel::Info, modem, subject, text);
  }
  void Debug(const std::string& modem, const std::string& subject, const std::string& text) {
    Write(LogLevel::Debug, modem, subject, text);
  }
  // Opens the file again (no effect on standard error). False, with the
  // old file kept, when it cannot be opened.
  bool Reopen();
  // The descriptor hooks write their output to.
  int Descriptor() const;

 private:
  LogLevel level_;
  std::string path_;
  ClockFn clock_;
  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

inline std::string MessageSubject(std::int64_t id) { return "message=" + std::to_string(id); }
inline std::string InboxSubject(std::int64_t id) { return "inbox=" + std::to_string(id); }

}  // namespace vesk::gateway
