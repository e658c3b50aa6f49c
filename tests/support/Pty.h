// A pseudo-terminal pair for tests of the real POSIX backend: the test
// holds the master side and plays the modem; the code under test opens the
// slave side by its path.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace vesk::testing {

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      char name[128];
      if (::ptsname_r(master_, name, sizeof name) == 0) path_ = name;
    }
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Ok() const { return master_ >= 0 && !path_.empty(); }
  const std::string& Path() const { return path_; }
  int Master() const { return master_; }

  void Write(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (w <= 0) return;
      done += static_cast<std::size_t>(w);
    }
  }

  // Reads what arrives within `ms` milliseconds, returning early once
  // `until` has been seen (when given).
  std::string Read(int ms, const std::string& until = "") const {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      struct pollfd p = {master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buf[256];
      ssize_t r = ::read(master_, buf, sizeof buf);
      if (r <= 0) break;
      got.append(buf, static_cast<std::size_t>(r));
      if (!until.empty() && got.find(until) != std::string::npos) break;
    }
    return got;
  }

  // The modem side goes away: the slave sees a hang-up and its path goes.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace vesk::testing
