// An in-process modem behind the serial interface, for scripted dialogues:
// canned replies to command lines, unsolicited text pushed by the test,
// settable modem lines, and a device that can vanish. Its device waits as a
// real one does: input, a change of the lines, a loss and Wake each end a
// wait at once.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "port/SerialDevice.h"

namespace vesk::testing {

class FakeModem {
 public:
  // Replies to a command line (the bytes written up to a CR, without it),
  // or to a message body (the bytes up to and with its Ctrl-Z). An escape
  // abandons what was written of a line so far.
  // Rules are matched exactly; the newest rule for a line wins. Each rule
  // answers every time unless `times` limits it.
  void On(const std::string& line, const std::string& reply, int times = -1);
  // The reply to lines without a rule; empty means silence.
  void SetDefaultReply(const std::string& reply);
  // Echo each command line (with its CR) before the reply.
  void SetEcho(bool echo);
  // Understands what is written only while the line is set to this speed
  // (bit/s); at any other speed the bytes are noise and nothing answers.
  // 0 (the default) understands every speed.
  void SetAnswerSpeed(std::uint32_t bitsPerSecond);
  // Custom handling of a command line; return true when it has answered.
  void SetHandler(std::function<bool(FakeModem&, const std::string& line)> handler);

  // Bytes for the component to read, now.
  void Push(const std::string& bytes);
  // Everything the component wrote, and the command lines in order.
  std::string Written() const;
  std::vector<std::string> Lines() const;
  // Waits up to `ms` real milliseconds for the number of command lines.
  bool WaitForLines(std::size_t count, int ms) const;

  void SetLines(std::uint32_t bits);
  void SetModemStatusFails(bool fails);
  void SetRefuseLineSettings(bool refuse);
  // Makes every operation of an open device fail (EIO) and, when the
  // platform lists the port, takes it off the list: a USB modem pulled out.
  void Vanish();
  bool Vanished() const;
  // The line hangs up while the port stays listed (a USB ACM reset): the
  // open device fails from now on, a new open succeeds.
  void HangUp();
  // Plugged in again: listed and openable once more (a device opened
  // before the loss stays dead).
  void Replug();

  TLineSettings LastSettings() const;
  int SettingsApplied() const;
  // How often DTR went from on to off in the settings applied.
  int DtrDrops() const;
  int RxPurges() const;
  bool IsOpen() const;
  std::size_t Queued() const;

 private:
  friend class FakeDevice;
  friend class FakeSerialPlatform;
  struct Rule {
    std::string reply;
    int times;
  };
  void Received(const char* data, std::size_t n);
  void Answer(const std::string& line);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<char> input_;  // what the component will read
  std::string written_;
  std::string pendingLine_;
  std::vector<std::string> lines_;
  std::multimap<std::string, Rule> rules_;
  std::string defaultReply_;
  bool echo_ = false;
  std::uint32_t answerSpeed_ = 0;
  std::function<bool(FakeModem&, const std::string&)> handler_;
  std::uint32_t lineBits_ = 0;
  bool statusFails_ = false;
  bool refuseSettings_ = false;
  bool vanished_ = false;
  bool open_ = false;
  int generation_ = 0;  // counts replugs; devices of an older one are dead
  TLineSettings settings_;
  int settingsApplied_ = 0;
  int dtrDrops_ = 0;
  int rxPurges_ = 0;
};

// A machine with fake ports: each name is listed (or not) and opens its
// FakeModem. Other names are neither listed nor openable.
class FakeSerialPlatform : public SerialPlatform {
 public:
  std::shared_ptr<FakeModem> Add(const AnsiString& name, bool listed = true);
  // Names to list although no modem stands behind them.
  void SetExtraNames(std::vector<AnsiString> names);
  void SetListed(const AnsiString& name, bool listed);
  // Refuse to open the name with this error code (0 to stop refusing).
  void SetOpenError(const AnsiString& name, int error);
  void SetCaseSensitive(bool sensitive);
  int Opens() const;
  // How often Open was asked for a name (matched as Open matches it),
  // whether or not it succeeded.
  int OpenAttempts(const AnsiString& name) const;

  std::unique_ptr<SerialDevice> Open(const AnsiString& name, int& error) noexcept override;
  std::vector<AnsiString> PortNames() noexcept override;
  bool IsPresentDevice(const AnsiString& name) noexcept override;
  bool CaseSensitiveNames() const noexcept override;
  AnsiString ErrorText(int error) noexcept override;

 private:
  struct Port {
    std::shared_ptr<FakeModem> modem;
    bool listed = true;
    int openError = 0;
  };
  mutable std::mutex mutex_;
  std::vector<std::pair<AnsiString, Port>> ports_;
  std::vector<AnsiString> extra_;
  bool caseSensitive_ = false;
  int opens_ = 0;
  std::vector<AnsiString> attempts_;
};

}  // namespace vesk::testing
