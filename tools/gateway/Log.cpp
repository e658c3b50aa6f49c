#include "tools/gateway/Log.h"

#include <stdexcept>

namespace vesk::gateway {

namespace {

const char* Name(LogLevel level) {
  switch (level) {
    case LogLevel::Error: return "error";
    case LogLevel::Warn: return "warn";
    case LogLevel::Info: return "info";
    case LogLevel::Debug: return "debug";
  }
  return "info";
}

// One line: control characters shown, never a line break inside.
std::string OneLine(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\n')
      out += "\\n";
    else if (b == '\r')
      out += "\\r";
    else if (b < 0x20 || b == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::optional<LogLevel> LogLevelFromName(const std::string& name) {
  for (LogLevel l : {LogLevel::Error, LogLevel::Warn, LogLevel::Info, LogLevel::Debug})
    if (name == Name(l)) return l;
  return std::nullopt;
}

Logger::Logger(LogLevel level, std::string path, ClockFn clock)
    : level_(level), path_(std::move(path)), clock_(std::move(clock)) {
  if (!path_.empty()) {
    file_ = std::fopen(path_.c_str(), "a");
    if (!file_) throw std::runtime_error("cannot open the log file " + path_);
  }
}

Logger::~Logger() {
  if (file_) std::fclose(file_);
}

void Logger::Write(LogLevel level, const std::string& modem, const std::string& subject, const std::string& text) {
  if (!Enabled(level)) return;
  std::string line = IsoUtc(clock_()) + " " + Name(level);
  if (!modem.empty()) line += " modem=" + modem;
  if (!subject.empty()) line += " " + subject;
  line += " " + OneLine(text) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  std::FILE* out = file_ ? file_ : stderr;
  std::fwrite(line.data(), 1, line.size(), out);
  std::fflush(out);
}

bool Logger::Reopen() {
  if (path_.empty()) return true;
  std::FILE* fresh = std::fopen(path_.c_str(), "a");
  if (!fresh) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  std::fclose(file_);
  file_ = fresh;
  return true;
}

int Logger::Descriptor() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fileno(file_ ? file_ : stderr);
}

}  // namespace vesk::gateway
