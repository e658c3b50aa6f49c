#include "tools/gateway/Commands.h"

#include <algorithm>
#include <ostream>

#include "tools/gateway/Config.h"
#include "tools/gateway/Json.h"
#include "tools/gateway/Message.h"
#include "tools/gateway/Store.h"

namespace vesk::gateway {

using json = nlohmann::json;

namespace {

constexpr int kOk = 0, kFailed = 1, kUsage = 2;

// The configuration, or the exit status of its error.
bool Load(const std::string& path, GatewaySettings& settings, std::ostream& err) {
  try {
    settings = LoadConfig(path);
    return true;
  } catch (const ConfigError& e) {
    err << "veskgsm: " << e.what() << "\n";
    return false;
  }
}

std::unique_ptr<Store> Open(const GatewaySettings& settings, bool create) {
  StoreOptions o;
  o.create = create;
  return OpenStore(settings.store, o);
}

}  // namespace

int RunQueue(const QueueOptions& options, std::ostream& out, std::ostream& err) {
  GatewaySettings settings;
  if (!Load(options.config, settings, err)) return kUsage;
  const Millis now = SystemMillis();
  NewMessage m;
  m.to = options.number;
  m.text = options.text;
  m.priority = options.priority;
  m.encoding = options.encoding;
  m.flash = options.flash;
  m.modem = options.modem;
  for (auto [text, slot, name] : {std::tuple{&options.notBefore, &m.notBefore, "--not-before"},
                                  std::tuple{&options.notAfter, &m.notAfter, "--not-after"}}) {
    if (text->empty()) continue;
    *slot = ParseMoment(*text, now);
    if (!*slot) {
      err << "veskgsm: " << name << " \"" << *text
          << "\" is not a time (2024-05-01T12:00:00Z, 2024-05-01T14:00:00+02:00, +30m, @1714564800)\n";
      return kUsage;
    }
  }
  if (!m.modem.empty() && std::none_of(settings.modems.begin(), settings.modems.end(),
                                       [&](const ModemSettings& s) { return s.name == m.modem; })) {
    err << "veskgsm: refused: " << options.config << " has no modem named \"" << m.modem << "\"\n";
    return kUsage;
  }
  try {
    CheckNewMessage(m);
  } catch (const InvalidMessage& e) {
    err << "veskgsm: refused: " << e.what() << "\n";
    return kUsage;
  }
  try {
    const std::int64_t id = Open(settings, true)->Queue(m, now);
    if (options.json)
      out << Dump({{"id", id}, {"state", "queued"}, {"parts", m.parts}}) << std::endl;
    else
      out << id << std::endl;
  } catch (const StoreError& e) {
    err << "veskgsm: " << e.what() << "\n";
    return kFailed;
  }
  return kOk;
}

int RunMessages(const MessagesOptions& options, std::ostream& out, std::ostream& err) {
  GatewaySettings settings;
  if (!Load(options.config, settings, err)) return kUsage;
  MessageFilter filter;
  if (!options.state.empty()) {
    filter.state = StateFromName(options.state);
    if (!filter.state) {
      err << "veskgsm: --state must be queued, sending, sent, delivered, failed, expired or uncertain\n";
      return kUsage;
    }
  }
  if (options.id > 0) filter.id = options.id;
  try {
    std::unique_ptr<Store> store = Open(settings, false);
    filter.limit = 1000;
    bool any = false;
    for (;;) {
      const std::vector<OutboxMessage> page = store->ListMessages(filter);
      for (const OutboxMessage& m : page) {
        out << (options.json ? Dump(MessageJson(m)) : MessageLine(m)) << "\n";
        any = true;
      }
      if (static_cast<int>(page.size()) < filter.limit) break;
      filter.after = page.back().id;
    }
    out.flush();
    if (filter.id && !any) {
      err << "veskgsm: there is no message " << options.id << "\n";
      return kFailed;
    }
  } catch (const StoreError& e) {
    err << "veskgsm: " << e.what() << "\n";
    return kFailed;
  }
  return kOk;
}

int RunInbox(const InboxOptions& options, std::ostream& out, std::ostream& err) {
  GatewaySettings settings;
  if (!Load(options.config, settings, err)) return kUsage;
  try {
    std::unique_ptr<Store> store = Open(settings, false);
    std::int64_t after = options.after;
    for (;;) {
      const std::vector<InboxEntry> page = store->ListInbox(after, 1000);
      for (const InboxEntry& e : page) out << (options.json ? Dump(InboxJson(e)) : InboxLine(e)) << "\n";
      if (page.size() < 1000) break;
      after = page.back().id;
    }
    out.flush();
  } catch (const StoreError& e) {
    err << "veskgsm: " << e.what() << "\n";
    return kFailed;
  }
  return kOk;
}

int RunStatus(const StatusOptions& options, std::ostream& out, std::ostream& err) {
  GatewaySettings settings;
  if (!Load(options.config, settings, err)) return kUsage;
  try {
    std::unique_ptr<Store> store = Open(settings, false);
    const Millis now = SystemMillis();
    json gateways = json::array();
    for (const GatewayStatus& g : store->ListGateways()) {
      // A heartbeat comes every 5 s while a gateway runs.
      const bool running = !g.stopped && now - g.heartbeat < 15000;
      gateways.push_back({{"name", g.name},
                          {"pid", g.pid},
                          {"running", running},
                          {"started", IsoUtc(g.started)},
                          {"heartbeat", IsoUtc(g.heartbeat)},
                          {"stopped", g.stopped ? json(IsoUtc(*g.stopped)) : json()}});
    }
    std::vector<ModemStatus> rows = store->ListModems();
    json modems = json::array();
    for (const ModemSettings& m : settings.modems) {
      auto it = std::find_if(rows.begin(), rows.end(), [&](const ModemStatus& r) { return r.name == m.name; });
      ModemStatus row;
      const bool seen = it != rows.end();
      if (seen) {
        row = *it;
        rows.erase(it);
      } else {
        row.name = m.name;
        row.port = m.port;
      }
      json j = ModemJson(row);
      if (!seen) j["updated"] = nullptr;  // the gateway has not run with it yet
      modems.push_back(j);
    }
    for (const ModemStatus& other : rows) modems.push_back(ModemJson(other));  // another gateway's, or a former one
    json queue = json::object();
    for (const char* s : {"queued", "sending", "sent", "delivered", "failed", "expired", "uncertain"}) queue[s] = 0;
    for (const auto& [state, count] : store->CountByState()) queue[state] = count;
    json errors = json::array();
    for (const Event& e :
         store->RecentEvents({"retry", "failed", "uncertain", "expired", "disconnected", "undecoded"}, 10))
      errors.push_back({{"at", IsoUtc(e.at)},
                        {"kind", e.kind},
                        {"modem", e.modem.empty() ? json() : json(e.modem)},
                        {"message", e.messageId ? json(*e.messageId) : json()},
                        {"text", e.detail}});
    const json status = {{"gateways", gateways},
                         {"modems", modems},
                         {"queue", queue},
                         {"parts_waiting", store->PendingParts()},
                         {"undecoded", store->UndecodedCount()},
                         {"errors", errors}};
    if (options.json) {
      out << Dump(status) << std::endl;
      return kOk;
    }
    for (const json& g : gateways)
      out << "gateway " << g["name"].get<std::string>() << ": "
          << (g["running"].get<bool>() ? "running (process " + std::to_string(g["pid"].get<int>()) + ")"
                                       : std::string("not running"))
          << ", last heard of " << g["heartbeat"].get<std::string>() << "\n";
    if (gateways.empty()) out << "no gateway has run on this store yet\n";
    for (const json& m : modems) {
      out << "modem " << m["name"].get<std::string>() << ": "
          << (m["connected"].get<bool>() ? "connected" : "not connected");
      if (!m["port"].get<std::string>().empty()) out << " on " << m["port"].get<std::string>();
      if (!m["imei"].is_null()) out << ", IMEI " << m["imei"].get<std::string>();
      if (!m["signal"].is_null()) out << ", signal " << m["signal"].get<int>();
      if (!m["last_error"].is_null())
        out << "; last error " << m["last_error_at"].get<std::string>() << ": " << m["last_error"].get<std::string>();
      out << "\n";
    }
    out << "queue:";
    for (const char* s : {"queued", "sending", "sent", "delivered", "failed", "expired", "uncertain"})
      out << " " << s << " " << queue[s].get<int>();
    out << "\n";
    out << "inbox: " << status["parts_waiting"].get<int>() << " part(s) waiting for the rest of their message, "
        << status["undecoded"].get<int>() << " message(s) that did not decode\n";
    for (const json& e : errors)
      out << e["at"].get<std::string>() << " " << e["kind"].get<std::string>()
          << (e["modem"].is_null() ? "" : " modem=" + e["modem"].get<std::string>())
          << (e["message"].is_null() ? "" : " message=" + std::to_string(e["message"].get<long long>())) << " "
          << e["text"].get<std::string>() << "\n";
    out.flush();
  } catch (const StoreError& e) {
    err << "veskgsm: " << e.what() << "\n";
    return kFailed;
  }
  return kOk;
}

}  // namespace vesk::gateway
