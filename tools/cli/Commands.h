// The sub-commands of `veskgsm`, each a function of its parsed options that
// writes its results to `out`, its diagnostics to `err`, and returns the
// exit status.
#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

namespace vesk::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the modem said no, or nothing answered
constexpr int kExitUsage = 2;   // bad usage

// Bad usage found after parsing (a settings file that does not read, an
// empty text ...): exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CommonOptions {
  bool json = false;
  int baud = 0;     // 0: the settings' or the component's default
  int delay = 100;  // the reader thread's poll interval, ms
  std::string log;
  std::string settings;
  std::string port;
};

struct AtOptions {
  int timeout = 15;
  std::vector<std::string> commands;
};

struct SendOptions {
  std::string smsc;
  std::string encoding = "auto";
  // ISO 639-1 codes of the national language tables the text may go in.
  std::vector<std::string> languages;
  bool flash = false;
  bool textMode = false;
  bool waitForPrompt = false;
  bool report = false;         // ask for a status report and wait for the outcome
  double reportTimeout = 120;  // seconds
  std::string number;
  std::string text;
};

struct ListenOptions {
  double seconds = 0;  // 0: until interrupted
  bool direct = false;     // NewMessageIndication nmDirect
  int checkInterval = -1;  // StoredMessageCheckInterval; -1: as the settings have it
  int keepAlive = 0;       // KeepAliveInterval, seconds; 0: off
  std::vector<std::string> only;  // the ports to look for the modem on after it went (ReattachPorts)
};

struct StorageOptions {
  std::string storage = "SM";
  bool all = false;
  std::vector<int> indexes;
};

struct EncodeOptions {
  std::string smsc;
  std::string encoding = "auto";
  std::vector<std::string> languages;  // as for send
  bool info = false;                   // how the text goes, before the PDUs
  bool flash = false;
  int reference = -1;  // -1: random
  std::string number;
  std::string text;
};

struct DetectOptions {
  int from = 75;      // bit/s
  int to = 921600;
  std::vector<std::string> only;  // these ports instead of the machine's list
};

struct UssdOptions {
  int timeout = 30;                  // seconds for each answer
  std::string code;                  // empty: only replies (or --cancel)
  std::vector<std::string> replies;  // answered in order while the network asks
  bool cancel = false;
};

struct PinOptions {
  std::string pin;
  std::string puk;
  std::string newPin;
  bool lastTry = false;
};

struct SimulateOptions {
  std::string link;
  int baud = 0;
  std::vector<std::string> extra;  // passed to the simulator as they are
};

int RunPorts(const CommonOptions& common, std::ostream& out, std::ostream& err);
int RunAt(const CommonOptions& common, const AtOptions& options, std::ostream& out, std::ostream& err);
int RunInfo(const CommonOptions& common, std::ostream& out, std::ostream& err);
int RunSend(const CommonOptions& common, const SendOptions& options, std::ostream& out, std::ostream& err);
int RunListen(const CommonOptions& common, const ListenOptions& options, std::ostream& out, std::ostream& err);
int RunList(const CommonOptions& common, const StorageOptions& options, std::ostream& out, std::ostream& err);
int RunDelete(const CommonOptions& common, const StorageOptions& options, std::ostream& out, std::ostream& err);
int RunEncode(const CommonOptions& common, const EncodeOptions& options, std::ostream& out, std::ostream& err);
int RunDecode(const CommonOptions& common, const std::vector<std::string>& hex, std::ostream& out, std::ostream& err);
int RunDetect(const CommonOptions& common, const DetectOptions& options, std::ostream& out, std::ostream& err);
int RunUssd(const CommonOptions& common, const UssdOptions& options, std::ostream& out, std::ostream& err);
int RunPin(const CommonOptions& common, const PinOptions& options, std::ostream& out, std::ostream& err);
int RunSimulate(const SimulateOptions& options, std::ostream& out, std::ostream& err);
int RunDemoCommand();

}  // namespace vesk::cli
