#include "tools/gateway/Config.h"

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <toml++/toml.h>

namespace vesk::gateway {

namespace {

std::string Describe(const std::string& file, int line, const std::string& key, const std::string& message) {
  std::string text = file;
  if (line > 0) text += ":" + std::to_string(line);
  text += ": ";
  if (!key.empty()) text += key + ": ";
  return text + message;
}

int LineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

// One table of the file: every key it holds must be read through it, and
// what is left over at the end is unknown.
class Section {
 public:
  Section(const std::string& file, const toml::table& table, std::string path)
      : file_(file), table_(table), path_(std::move(path)) {}

  [[noreturn]] void Fail(const toml::node* node, const std::string& key, const std::string& message) const {
    throw ConfigError(file_, node ? LineOf(*node) : LineOf(table_), Name(key), message);
  }

  const toml::node* Take(const std::string& key) {
    taken_.insert(key);
    return table_.get(key);
  }

  bool String(const std::string& key, std::string& out) {
    const toml::node* node = Take(key);
    if (!node) return false;
    if (!node->is_string()) Fail(node, key, "must be a string in quotes");
    out = node->as_string()->get();
    if (out.find('\0') != std::string::npos) Fail(node, key, "must not hold a zero byte");
    return true;
  }

  bool Bool(const std::string& key, bool& out) {
    const toml::node* node = Take(key);
    if (!node) return false;
    if (!node->is_boolean()) Fail(node, key, "must be true or false");
    out = node->as_boolean()->get();
    return true;
  }

  bool Integer(const std::string& key, int& out, long long low, long long high) {
    const toml::node* node = Take(key);
    if (!node) return false;
    if (!node->is_integer()) Fail(node, key, "must be a whole number");
    const long long v = node->as_integer()->get();
    if (v < low || v > high) Fail(node, key, "must be between " + std::to_string(low) + " and " + std::to_string(high));
    out = static_cast<int>(v);
    return true;
  }

  // Seconds: a whole or decimal number.
  bool Seconds(const std::string& key, double& out, double low, double high, bool lowIncluded) {
    const toml::node* node = Take(key);
    if (!node) return false;
    double v;
    if (node->is_integer())
      v = static_cast<double>(node->as_integer()->get());
    else if (node->is_floating_point())
      v = node->as_floating_point()->get();
    else
      Fail(node, key, "must be a number of seconds");
    if (!std::isfinite(v) || v > high || v < low || (!lowIncluded && v == low)) {
      std::ostringstream range;
      range << (lowIncluded ? "at least " : "above ") << low << " and at most " << high << " seconds";
      Fail(node, key, "must be " + range.str());
    }
    out = v;
    return true;
  }

  bool Hook(const std::string& key, HookCommand& out) {
    const toml::node* node = Take(key);
    if (!node) return false;
    if (node->is_string()) {
      const std::string line = node->as_string()->get();
      if (line.find_first_not_of(" \t") == std::string::npos) Fail(node, key, "must not be empty");
      out.argv = {"/bin/sh", "-c", line};
      return true;
    }
    if (node->is_array()) {
      const toml::array& items = *node->as_array();
      if (items.empty()) Fail(node, key, "must name a program");
      out.argv.clear();
      for (const toml::node& item : items) {
        if (!item.is_string()) Fail(&item, key, "must be a string or an array of strings");
        out.argv.push_back(item.as_string()->get());
      }
      if (out.argv[0].empty()) Fail(node, key, "must name a program");
      return true;
    }
    Fail(node, key, "must be a command line (a string) or an array of strings");
  }

  // A nested table, or null when absent.
  const toml::table* Table(const std::string& key) {
    const toml::node* node = Take(key);
    if (!node) return nullptr;
    if (!node->is_table()) Fail(node, key, "must be a table ([" + key + "])");
    return node->as_table();
  }

  void RefuseUnknown() const {
    for (auto&& [key, node] : table_) {
      const std::string name(key.str());
      if (taken_.count(name) == 0) Fail(&node, name, "unknown key");
    }
  }

  std::string Name(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }
  int Line() const { return LineOf(table_); }

 private:
  const std::string& file_;
  const toml::table& table_;
  std::string path_;
  std::set<std::string> taken_;
};

bool IsNumberText(const std::string& s, bool allowPlus) {
  if (s.empty()) return false;
  std::size_t i = 0;
  if (s[0] == '+' && allowPlus) i = 1;
  if (i == s.size() || s.size() - i > 20) return false;
  for (; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

bool IsNameText(const std::string& s) {
  if (s.empty() || s.size() > 64) return false;
  for (char c : s) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "gateway";
  return name;
}

void ReadStore(Section& section, StoreSettings& store, const std::string& folder) {
  const toml::node* urlNode = nullptr;
  if (section.String("url", store.url)) urlNode = section.Take("url");
  const std::string& url = store.url;
  const std::string sqlite = "sqlite://";
  if (url.compare(0, sqlite.size(), sqlite) == 0) {
    std::string path = url.substr(sqlite.size());
    if (path.empty()) section.Fail(urlNode, "url", "names no file (sqlite://FILE)");
    std::filesystem::path p(path);
    if (p.is_relative()) p = std::filesystem::path(folder) / p;
    store.path = p.lexically_normal().string();
  } else if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) {
    store.postgres = true;
  } else {
    section.Fail(urlNode, "url",
                 "must start with sqlite:// (sqlite://FILE, relative to the configuration's folder) or "
                 "postgresql:// (postgresql://USER@HOST:PORT/DATABASE)");
  }
  section.Seconds("lease", store.leaseSeconds, 1, 86400, true);
  if (section.String("synchronous", store.synchronous) && store.synchronous != "normal" && store.synchronous != "full")
    section.Fail(section.Take("synchronous"), "synchronous", "must be \"normal\" or \"full\"");
  section.RefuseUnknown();
}

ModemSettings ReadModem(Section& section) {
  ModemSettings m;
  m.line = section.Line();
  if (!section.String("name", m.name)) section.Fail(nullptr, "name", "is required: every modem has a name");
  if (!IsNameText(m.name))
    section.Fail(section.Take("name"), "name", "must be 1 to 64 letters, digits, '-', '_' or '.'");
  const bool hasPort = section.String("port", m.port);
  const bool hasImei = section.String("imei", m.imei);
  if (hasPort && hasImei) section.Fail(section.Take("imei"), "imei", "give either port or imei, not both");
  if (!hasPort && !hasImei) section.Fail(nullptr, "port", "is required (or imei, to find the modem by a scan)");
  if (hasPort && m.port.empty()) section.Fail(section.Take("port"), "port", "must not be empty");
  if (hasImei && !IsNumberText(m.imei, false))
    section.Fail(section.Take("imei"), "imei", "must be the modem's serial number, digits only");
  section.Integer("baud", m.baud, 75, 4000000);
  if (section.String("pin", m.pin) && (m.pin.size() < 4 || m.pin.size() > 8 || !IsNumberText(m.pin, false)))
    section.Fail(section.Take("pin"), "pin", "must be 4 to 8 digits");
  if (section.String("smsc", m.smsc) && !m.smsc.empty() && !IsNumberText(m.smsc, true))
    section.Fail(section.Take("smsc"), "smsc", "must be a number: an optional '+' and up to 20 digits");
  section.Bool("report", m.report);
  section.Integer("send_rate", m.sendRate, 0, 100000);
  section.Bool("wait_for_prompt", m.waitForPrompt);
  section.Seconds("reopen", m.reopenSeconds, 0, 86400, false);
  section.RefuseUnknown();
  return m;
}

// "HOST:PORT", "[V6]:PORT" or ":PORT" (every address).
bool SplitListen(const std::string& listen, std::string& host, int& port) {
  const std::size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon + 1 >= listen.size()) return false;
  host = listen.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) host = "0.0.0.0";
  const std::string digits = listen.substr(colon + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  port = std::stoi(digits);
  if (port > 65535) return false;
  for (char c : host)
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '[' || c == ']') return false;
  return true;
}

void ReadHttp(Section& section, HttpSettings& http) {
  http.enabled = true;
  http.line = section.Line();
  section.String("listen", http.listen);
  if (!SplitListen(http.listen, http.host, http.port))
    section.Fail(section.Take("listen"), "listen", "must be HOST:PORT (127.0.0.1:8080, [::1]:8080, 0.0.0.0:8080)");
  if (section.String("token", http.token)) {
    if (http.token.size() < 16)
      section.Fail(section.Take("token"), "token",
                   "must be at least 16 characters (a random one: openssl rand -hex 24)");
    for (char c : http.token)
      if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F)
        section.Fail(section.Take("token"), "token", "must be printable ASCII without spaces");
  }
  if (http.token.empty() && !IsLoopbackHost(http.host))
    section.Fail(section.Take("listen"), "listen",
                 "\"" + http.listen +
                     "\" is reachable from other hosts: set [http] token, or listen on a loopback address (127.0.0.1)");
  section.RefuseUnknown();
}

WebhookSettings ReadWebhook(Section& section) {
  WebhookSettings w;
  w.line = section.Line();
  if (!section.String("url", w.url)) section.Fail(nullptr, "url", "is required: where the events are sent");
  if (w.url.rfind("http://", 0) != 0 && w.url.rfind("https://", 0) != 0)
    section.Fail(section.Take("url"), "url", "must start with http:// or https://");
  const std::size_t hostStart = w.url.find("://") + 3;
  if (hostStart >= w.url.size() || w.url[hostStart] == '/' || w.url[hostStart] == ':')
    section.Fail(section.Take("url"), "url", "names no host");
  for (char c : w.url)
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F)
      section.Fail(section.Take("url"), "url", "must not hold spaces or control characters");
  if (!section.String("secret", w.secret) || w.secret.empty())
    section.Fail(section.Take("secret"), "secret", "is required: the key the events are signed with");
  static const std::set<std::string> kTypes = {"received", "sent", "delivered", "failed", "uncertain", "modem"};
  if (const toml::node* node = section.Take("events")) {
    if (!node->is_array()) section.Fail(node, "events", "must be an array of event types");
    for (const toml::node& item : *node->as_array()) {
      if (!item.is_string() || kTypes.count(item.as_string()->get()) == 0)
        section.Fail(&item, "events", "must name received, sent, delivered, failed, uncertain or modem");
      w.events.insert(item.as_string()->get());
    }
    if (w.events.empty()) section.Fail(node, "events", "names no event type");
  } else {
    w.events = kTypes;
  }
  section.Seconds("timeout", w.timeoutSeconds, 0, 300, false);
  section.RefuseUnknown();
  return w;
}

}  // namespace

bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "::1" || host == "0:0:0:0:0:0:0:1") return true;
  if (host.rfind("127.", 0) != 0) return false;
  int dots = 0;
  for (char c : host) {
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      return false;
  }
  return dots == 3;
}

ConfigError::ConfigError(std::string file, int line, std::string key, const std::string& message)
    : std::runtime_error(Describe(file, line, key, message)),
      file_(std::move(file)),
      line_(line),
      key_(std::move(key)) {}

GatewaySettings ParseConfig(const std::string& text, const std::string& path) {
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& e) {
    throw ConfigError(path, static_cast<int>(e.source().begin.line), "", std::string(e.description()));
  }
  GatewaySettings settings;
  settings.file = path;
  settings.name = HostName();
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";

  Section top(path, root, "");
  if (const toml::table* t = top.Table("gateway")) {
    Section s(path, *t, "gateway");
    if (s.String("name", settings.name) && !IsNameText(settings.name))
      s.Fail(s.Take("name"), "name", "must be 1 to 64 letters, digits, '-', '_' or '.'");
    s.RefuseUnknown();
  }
  {
    static const toml::table kEmpty;
    const toml::table* t = top.Table("store");
    Section s(path, t ? *t : kEmpty, "store");
    ReadStore(s, settings.store, folder.string());
  }
  if (const toml::node* modems = top.Take("modem")) {
    if (!modems->is_array_of_tables()) top.Fail(modems, "modem", "must be tables: [[modem]]");
    std::map<std::string, int> names, ports;
    int number = 0;
    for (const toml::node& item : *modems->as_array()) {
      ++number;
      Section s(path, *item.as_table(), "modem[" + std::to_string(number) + "]");
      ModemSettings m = ReadModem(s);
      if (!names.emplace(m.name, m.line).second)
        s.Fail(s.Take("name"), "name",
               "\"" + m.name + "\" is already the name of the modem at line " + std::to_string(names[m.name]));
      if (!m.port.empty() && !ports.emplace(m.port, m.line).second)
        s.Fail(s.Take("port"), "port",
               "\"" + m.port + "\" is already the port of the modem at line " + std::to_string(ports[m.port]));
      settings.modems.push_back(std::move(m));
    }
  }
  if (const toml::table* t = top.Table("hooks")) {
    Section s(path, *t, "hooks");
    HookSettings& h = settings.hooks;
    s.Hook("on_received", h.onReceived);
    s.Hook("on_sent", h.onSent);
    s.Hook("on_delivered", h.onDelivered);
    s.Hook("on_failed", h.onFailed);
    s.Seconds("timeout", h.timeoutSeconds, 0, 86400, false);
    s.Integer("retries", h.retries, 0, 1000);
    s.Seconds("retry_delay", h.retryDelaySeconds, 0, 86400, true);
    s.RefuseUnknown();
  }
  if (const toml::table* t = top.Table("retry")) {
    Section s(path, *t, "retry");
    s.Integer("max_attempts", settings.retry.maxAttempts, 1, 1000);
    s.Seconds("backoff", settings.retry.backoffSeconds, 0, 86400, true);
    s.RefuseUnknown();
  }
  if (const toml::table* t = top.Table("inbox")) {
    Section s(path, *t, "inbox");
    s.Seconds("incomplete_after", settings.inbox.incompleteAfterSeconds, 0, 365 * 86400.0, false);
    s.RefuseUnknown();
  }
  if (const toml::table* t = top.Table("http")) {
    Section s(path, *t, "http");
    ReadHttp(s, settings.http);
  }
  if (const toml::node* hooks = top.Take("webhook")) {
    if (!hooks->is_array_of_tables()) top.Fail(hooks, "webhook", "must be tables: [[webhook]]");
    std::map<std::string, int> urls;
    int number = 0;
    for (const toml::node& item : *hooks->as_array()) {
      ++number;
      Section s(path, *item.as_table(), "webhook[" + std::to_string(number) + "]");
      WebhookSettings w = ReadWebhook(s);
      if (!urls.emplace(w.url, w.line).second)
        s.Fail(s.Take("url"), "url",
               "\"" + w.url + "\" is already the url of the webhook at line " + std::to_string(urls[w.url]));
      settings.webhooks.push_back(std::move(w));
    }
  }
  top.RefuseUnknown();
  return settings;
}

GatewaySettings LoadConfig(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ConfigError(path, 0, "", "cannot read the file");
  std::stringstream text;
  text << in.rdbuf();
  return ParseConfig(text.str(), path);
}

}  // namespace vesk::gateway
