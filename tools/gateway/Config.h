// The gateway's configuration: one TOML file, every key documented in the
// README with its default. Reading it opens nothing but the file itself:
// a mistake is a ConfigError naming the file, the line and the key, and the
// commands exit 2 on it before they touch a store or a port.
#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace vesk::gateway {

class ConfigError : public std::runtime_error {
 public:
  // what(): "FILE:LINE: KEY: MESSAGE" (line and key left out when unknown).
  ConfigError(std::string file, int line, std::string key, const std::string& message);
  const std::string& File() const { return file_; }
  int Line() const { return line_; }
  const std::string& Key() const { return key_; }

 private:
  std::string file_;
  int line_;
  std::string key_;
};

// A program the gateway runs: argv as given (an array in the file), or
// "/bin/sh -c <text>" for a string.
struct HookCommand {
  std::vector<std::string> argv;
  bool Empty() const { return argv.empty(); }
};

struct ModemSettings {
  std::string name;
  std::string port;  // a device path or COMn; empty when found by imei
  std::string imei;  // the modem to find among the machine's ports
  int baud = 115200;
  std::string pin;
  std::string smsc;
  bool report = false;
  int sendRate = 0;  // messages per minute, 0 unlimited
  bool waitForPrompt = true;
  double reopenSeconds = 10;  // how often a modem that cannot be opened is tried again
  int line = 0;               // where its table starts in the file
};

struct StoreSettings {
  std::string url = "sqlite://veskgsm.db";
  // For sqlite://: the file, resolved against the configuration's folder.
  std::string path;
  // postgresql:// (or postgres://): a PostgreSQL database, `url` as libpq
  // takes it.
  bool postgres = false;
  // How long a claim holds without being renewed: another gateway sharing
  // the store takes a dead one's claims after this.
  double leaseSeconds = 60;
  // "normal": every commit survives a crash of the process; "full": also a
  // loss of power (a disk flush per commit).
  std::string synchronous = "normal";
};

struct HookSettings {
  HookCommand onReceived, onSent, onDelivered, onFailed;
  double timeoutSeconds = 30;
  int retries = 3;
  double retryDelaySeconds = 10;
};

struct RetrySettings {
  int maxAttempts = 5;
  double backoffSeconds = 30;  // before the second attempt; doubling after each
};

struct InboxSettings {
  double incompleteAfterSeconds = 86400;
};

// The HTTP API, on when the file has an [http] table.
struct HttpSettings {
  bool enabled = false;
  std::string listen = "127.0.0.1:8080";
  std::string host = "127.0.0.1";  // from `listen`
  int port = 8080;
  std::string token;  // empty: no token (allowed on a loopback address only)
  int line = 0;
};

struct WebhookSettings {
  std::string url;     // http:// or https://
  std::string secret;  // the HMAC-SHA256 key of the signature
  std::set<std::string> events;
  double timeoutSeconds = 10;
  int line = 0;
};

struct GatewaySettings {
  std::string file;  // the configuration file as given
  std::string name;  // this gateway's name in the store (host name by default)
  StoreSettings store;
  std::vector<ModemSettings> modems;
  HookSettings hooks;
  RetrySettings retry;
  InboxSettings inbox;
  HttpSettings http;
  std::vector<WebhookSettings> webhooks;
};

// Whether a host (a name or an address, as `listen` gives it) is this
// machine's loopback: "localhost", 127.0.0.0/8, "::1".
bool IsLoopbackHost(const std::string& host);

// Reads and checks the file; throws ConfigError.
GatewaySettings LoadConfig(const std::string& path);
// The same from text, `path` naming it in errors and anchoring relative paths.
GatewaySettings ParseConfig(const std::string& text, const std::string& path);

}  // namespace vesk::gateway
