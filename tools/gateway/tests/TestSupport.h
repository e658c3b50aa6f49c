// Shared pieces of the gateway's tests: a fresh folder per test, files in
// it, and a clock the test moves by hand.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/gateway/Time.h"

namespace vesk::gateway::testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("veskgsm-gateway-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ / name, std::ios::binary) << text;
    return Path(name);
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  const std::filesystem::path& Root() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A clock that stands still until moved.
class TestClock {
 public:
  explicit TestClock(Millis start = 1714564800000) : now_(start) {}
  Millis operator()() const { return now_.load(); }
  void Advance(Millis ms) { now_ += ms; }
  void Set(Millis t) { now_ = t; }
  ClockFn Fn() {
    return [this] { return now_.load(); };
  }

 private:
  std::atomic<Millis> now_;
};

}  // namespace vesk::gateway::testing
