#include "tools/gateway/Api.h"

#include <algorithm>
#include <chrono>

#include "tools/gateway/Hmac.h"
#include "tools/gateway/Json.h"
#include "tools/gateway/Message.h"
#include "tools/gateway/Sha256.h"
#include "tools/gateway/StatusPage.h"

namespace vesk::gateway {

using json = nlohmann::json;

namespace {

constexpr int kDefaultLimit = 100, kMaxLimit = 1000;
const char* const kStates[] = {"queued", "sending", "sent", "delivered", "failed", "expired", "uncertain"};

// A whole number of at most 18 digits, nothing else.
std::optional<std::int64_t> Digits(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoll(text);
}

HttpResponse JsonAnswer(int status, const json& body) {
  HttpResponse r;
  r.status = status;
  r.body = Dump(body) + "\n";
  return r;
}

// `after` and `limit` of a list, or the 422 that says which is wrong.
bool PageOf(const Target& t, std::int64_t& after, int& limit, HttpResponse& error) {
  after = 0;
  limit = kDefaultLimit;
  if (std::optional<std::string> a = t.Param("after")) {
    std::optional<std::int64_t> v = Digits(*a);
    if (!v) {
      error = JsonError(422, "invalid_after", "after must be a message id: a whole number, 0 or more");
      return false;
    }
    after = *v;
  }
  if (std::optional<std::string> l = t.Param("limit")) {
    std::optional<std::int64_t> v = Digits(*l);
    if (!v || *v < 1 || *v > kMaxLimit) {
      error = JsonError(422, "invalid_limit", "limit must be a whole number from 1 to 1000");
      return false;
    }
    limit = static_cast<int>(*v);
  }
  return true;
}

json Page(json items, int limit, std::int64_t lastId) {
  const bool full = static_cast<int>(items.size()) == limit;
  return {{"items", std::move(items)}, {"next_after", full ? json(lastId) : json()}};
}

bool IsPrintableKey(const std::string& key) {
  if (key.empty() || key.size() > 200) return false;
  return std::all_of(key.begin(), key.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

// The modem's health: "ok", "degraded" (it works, but something needs a
// look) or "down", and why when not ok.
std::pair<std::string, std::string> HealthOf(const ModemStatus& m, bool gatewayRunning, Millis now) {
  if (!gatewayRunning) return {"down", "its gateway (" + m.gateway + ") is not running"};
  if (!m.connected) return {"down", m.lastError.empty() ? "not connected" : m.lastError};
  if (!m.sim.empty() && m.sim != "ready") return {"degraded", "the SIM is not ready (" + m.sim + ")"};
  if (!m.registration.empty() && m.registration != "home" && m.registration != "roaming")
    return {"degraded", "not registered on a network (" + m.registration + ")"};
  if (m.signal && (*m.signal == 99 || *m.signal < 5))
    return {"degraded", *m.signal == 99 ? "no signal reading" : "weak signal (" + std::to_string(*m.signal) + ")"};
  if (m.lastErrorAt && now - *m.lastErrorAt < 300000 && !m.lastError.empty())
    return {"degraded", "an error in the last five minutes: " + m.lastError};
  return {"ok", ""};
}

json OptText(const std::string& s) { return s.empty() ? json() : json(s); }

}  // namespace

json ModemsJson(Store& store, Millis now, Millis heartbeat) {
  std::map<std::string, bool> running;
  for (const GatewayStatus& g : store.ListGateways()) running[g.name] = !g.stopped && now - g.heartbeat < 3 * heartbeat;
  const std::map<std::string, int> queued = store.QueuedByModem();
  std::map<std::string, int> sent;
  for (const EventCount& c : store.CountEvents({"sent"}, now - 3600000, 3600000)) sent[c.modem] += c.count;
  json out = json::array();
  for (const ModemStatus& m : store.ListModems()) {
    const bool up = running.count(m.gateway) > 0 && running[m.gateway];
    const auto [health, reason] = HealthOf(m, up, now);
    json j = ModemJson(m);
    j["connected"] = m.connected && up;
    j["sim"] = OptText(m.sim);
    j["registration"] = OptText(m.registration);
    j["operator"] = OptText(m.operatorName);
    j["health"] = health;
    j["health_reason"] = OptText(reason);
    j["queued"] = queued.count(m.name) ? queued.at(m.name) : 0;
    j["sent_last_hour"] = sent.count(m.name) ? sent.at(m.name) : 0;
    out.push_back(std::move(j));
  }
  return out;
}

Api::Api(ApiContext context) : ctx_(std::move(context)) {}

HttpResponse Api::Handle(const HttpRequest& request) {
  const auto start = std::chrono::steady_clock::now();
  HttpResponse response;
  try {
    response = Route(request);
  } catch (const StoreError& e) {
    response = JsonError(503, "store_unavailable", std::string("the store does not answer: ") + e.what());
    response.headers.emplace_back("Retry-After", "5");
  } catch (const std::exception& e) {
    response = JsonError(500, "internal", e.what());
  }
  if (ctx_.metrics) {
    ctx_.metrics->http.Observe(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    const int cls = response.status / 100;
    if (cls >= 1 && cls <= 5) ctx_.metrics->httpByClass[static_cast<std::size_t>(cls)]++;
  }
  return response;
}

bool Api::Authorized(const HttpRequest& request) const {
  if (ctx_.token.empty()) return true;
  const std::string header = request.Header("authorization");
  if (header.size() < 7) return false;
  std::string scheme = header.substr(0, 7);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
  if (scheme != "bearer ") return false;
  std::size_t at = 7;
  while (at < header.size() && header[at] == ' ') ++at;
  return SameSecret(header.substr(at), ctx_.token);
}

HttpResponse Api::Route(const HttpRequest& request) {
  std::string why;
  const std::optional<Target> target = ParseTarget(request.target, why);
  if (!target) return JsonError(400, "bad_target", why);
  const std::string& path = target->path;
  const std::string& method = request.method;
  const bool get = method == "GET" || method == "HEAD";
  auto only = [](const char* allowed) {
    HttpResponse r = JsonError(405, "method_not_allowed", std::string("this path takes ") + allowed);
    r.headers.emplace_back("Allow", allowed);
    return r;
  };

  // The status page: its files need no token (the page asks for it).
  if (path == "/" || path == "/index.html" || path == "/status.css" || path == "/status.js") {
    if (!get) return only("GET");
    const StatusPageFile file = StatusPage(path);
    HttpResponse r;
    r.contentType = file.contentType;
    r.body = file.body;
    r.headers.emplace_back("Cache-Control", "no-cache");
    r.headers.emplace_back("Content-Security-Policy",
                           "default-src 'self'; img-src 'self' data:; style-src 'self'; script-src 'self'");
    return r;
  }
  if (path == "/v1/health") return get ? Health() : only("GET");

  const bool api = path == "/metrics" || path == "/v1" || path.rfind("/v1/", 0) == 0;
  if (!api) return JsonError(404, "not_found", "no such path: " + path);
  if (!Authorized(request)) {
    HttpResponse r = JsonError(401, "unauthorized",
                               request.HasHeader("authorization") ? "the token is not this gateway's"
                                                                  : "Authorization: Bearer <token> is required");
    r.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"veskgsm\"");
    return r;
  }
  if (request.body.size() > kMaxBody) return JsonError(413, "too_large", "the body is over 64 KiB");

  if (path == "/metrics") return get ? MetricsText() : only("GET");
  if (path == "/v1/messages") {
    if (method == "POST") return PostMessage(request);
    return get ? ListMessages(*target) : only("GET, POST");
  }
  const std::string messagePrefix = "/v1/messages/";
  if (path.rfind(messagePrefix, 0) == 0) return get ? GetMessage(path.substr(messagePrefix.size())) : only("GET");
  if (path == "/v1/inbox") return get ? ListInbox(*target) : only("GET");
  if (path == "/v1/modems") return get ? Modems() : only("GET");
  if (path == "/v1/status") return get ? Status() : only("GET");
  return JsonError(404, "not_found", "no such path: " + path);
}

HttpResponse Api::Health() {
  json body = {{"gateway", ctx_.gateway}};
  try {
    const auto start = std::chrono::steady_clock::now();
    ctx_.store->ListGateways();
    body["store_ms"] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  } catch (const StoreError& e) {
    body["status"] = "unavailable";
    body["reason"] = std::string("the store does not answer: ") + e.what();
    HttpResponse r = JsonAnswer(503, body);
    r.headers.emplace_back("Retry-After", "5");
    return r;
  }
  const std::vector<LiveModem> modems = ctx_.live ? ctx_.live() : std::vector<LiveModem>();
  json list = json::array();
  int connected = 0;
  for (const LiveModem& m : modems) {
    list.push_back({{"name", m.name}, {"connected", m.connected}});
    if (m.connected) ++connected;
  }
  body["modems"] = list;
  body["connected"] = connected;
  if (connected == 0) {
    body["status"] = "unavailable";
    body["reason"] = modems.empty() ? "this gateway runs no modem" : "no modem of this gateway is connected";
    return JsonAnswer(503, body);
  }
  body["status"] = "ok";
  return JsonAnswer(200, body);
}

HttpResponse Api::PostMessage(const HttpRequest& request) {
  json body;
  try {
    body = json::parse(request.body);
  } catch (const json::exception& e) {
    return JsonError(400, "malformed_json", std::string("the body is not JSON: ") + e.what());
  }
  if (!body.is_object()) return JsonError(400, "malformed_json", "the body must be a JSON object");
  static const std::set<std::string> kFields = {"to",       "text",       "encoding",  "flash", "report",
                                                "priority", "not_before", "not_after", "modem"};
  for (const auto& item : body.items())
    if (kFields.count(item.key()) == 0) return JsonError(422, "unknown_field", "unknown field \"" + item.key() + "\"");

  const Millis now = ctx_.clock();
  NewMessage m;
  auto text = [&](const char* name, std::string& out, bool required) -> std::optional<HttpResponse> {
    if (!body.contains(name)) {
      if (required) return JsonError(422, "missing_field", std::string(name) + " is required");
      return std::nullopt;
    }
    if (!body[name].is_string()) return JsonError(422, "invalid_field", std::string(name) + " must be a string");
    out = body[name].get<std::string>();
    return std::nullopt;
  };
  auto flag = [&](const char* name, bool& out) -> std::optional<HttpResponse> {
    if (!body.contains(name)) return std::nullopt;
    if (!body[name].is_boolean()) return JsonError(422, "invalid_field", std::string(name) + " must be true or false");
    out = body[name].get<bool>();
    return std::nullopt;
  };
  if (auto e = text("to", m.to, true)) return *e;
  if (auto e = text("text", m.text, true)) return *e;
  if (auto e = text("encoding", m.encoding, false)) return *e;
  if (auto e = text("modem", m.modem, false)) return *e;
  if (auto e = flag("flash", m.flash)) return *e;
  if (auto e = flag("report", m.report)) return *e;
  if (body.contains("priority")) {
    const json& p = body["priority"];
    if (!p.is_number_integer() || p.get<long long>() < -1000000 || p.get<long long>() > 1000000)
      return JsonError(422, "invalid_priority", "priority must be a whole number from -1000000 to 1000000");
    m.priority = p.get<int>();
  }
  for (auto [name, slot] : {std::pair{"not_before", &m.notBefore}, std::pair{"not_after", &m.notAfter}}) {
    if (!body.contains(name) || body[name].is_null()) continue;
    if (!body[name].is_string())
      return JsonError(422, "invalid_time", std::string(name) + " must be a string (ISO 8601, +30m or @seconds)");
    *slot = ParseMoment(body[name].get<std::string>(), now);
    if (!*slot)
      return JsonError(422, "invalid_time",
                       std::string(name) + " is not a time (2024-05-01T12:00:00Z, 2024-05-01T14:00:00+02:00, +30m, "
                                           "@1714564800)");
  }
  try {
    m.to = NormaliseNumber(m.to);
  } catch (const InvalidMessage& e) {
    return JsonError(422, "invalid_number", e.what());
  }
  if (m.text.empty()) return JsonError(422, "empty_text", "the text is empty");
  if (!m.modem.empty() && ctx_.modems.count(m.modem) == 0) {
    bool known = false;
    for (const ModemStatus& s : ctx_.store->ListModems()) known = known || s.name == m.modem;
    if (!known) return JsonError(422, "unknown_modem", "there is no modem named \"" + m.modem + "\"");
  }
  try {
    CheckNewMessage(m);
  } catch (const InvalidMessage& e) {
    return JsonError(422, "invalid_message", e.what());
  }

  const bool keyed = request.HasHeader("idempotency-key");
  QueueOnceResult result;
  if (keyed) {
    const std::string key = request.Header("idempotency-key");
    if (!IsPrintableKey(key))
      return JsonError(422, "invalid_idempotency_key", "Idempotency-Key must be 1 to 200 printable characters");
    // The request as parsed, keys in order: spacing does not make it another.
    result = ctx_.store->QueueOnce(m, key, Sha256Hex(body.dump()), now);
    if (result.conflict)
      return JsonError(422, "idempotency_key_reused",
                       "this Idempotency-Key was used for another request (message " + std::to_string(result.id) + ")");
  } else {
    result.id = ctx_.store->Queue(m, now);
  }
  if (!result.repeated && ctx_.queued) ctx_.queued();
  json answer = {{"id", result.id}, {"state", "queued"}, {"parts", m.parts}};
  if (result.repeated) {
    if (std::optional<OutboxMessage> first = ctx_.store->GetMessage(result.id)) {
      answer["state"] = StateName(first->state);
      answer["parts"] = first->partCount;
    }
  }
  HttpResponse r = JsonAnswer(202, answer);
  r.headers.emplace_back("Location", "/v1/messages/" + std::to_string(result.id));
  if (keyed) r.headers.emplace_back("Idempotent-Replayed", result.repeated ? "true" : "false");
  return r;
}

HttpResponse Api::GetMessage(const std::string& idText) {
  const std::optional<std::int64_t> id = Digits(idText);
  std::optional<OutboxMessage> m;
  if (id) m = ctx_.store->GetMessage(*id);
  if (!m) return JsonError(404, "not_found", "there is no message " + idText.substr(0, 40));
  json j = MessageJson(*m);
  j["flash"] = m->flash;
  j["report"] = m->report;
  return JsonAnswer(200, j);
}

HttpResponse Api::ListMessages(const Target& target) {
  MessageFilter f;
  HttpResponse error;
  if (!PageOf(target, f.after, f.limit, error)) return error;
  if (std::optional<std::string> state = target.Param("state"); state && !state->empty()) {
    f.state = StateFromName(*state);
    if (!f.state)
      return JsonError(422, "invalid_state",
                       "state must be queued, sending, sent, delivered, failed, expired or uncertain");
  }
  json items = json::array();
  std::int64_t last = 0;
  for (const OutboxMessage& m : ctx_.store->ListMessages(f)) {
    json j = MessageJson(m);
    j["flash"] = m.flash;
    j["report"] = m.report;
    items.push_back(std::move(j));
    last = m.id;
  }
  return JsonAnswer(200, Page(std::move(items), f.limit, last));
}

HttpResponse Api::ListInbox(const Target& target) {
  std::int64_t after;
  int limit;
  HttpResponse error;
  if (!PageOf(target, after, limit, error)) return error;
  json items = json::array();
  std::int64_t last = 0;
  for (const InboxEntry& e : ctx_.store->ListInbox(after, limit)) {
    items.push_back(InboxJson(e));
    last = e.id;
  }
  return JsonAnswer(200, Page(std::move(items), limit, last));
}

HttpResponse Api::Modems() {
  json items = ModemsJson(*ctx_.store, ctx_.clock(), ctx_.heartbeat);
  return JsonAnswer(200, {{"items", std::move(items)}, {"next_after", nullptr}});
}

HttpResponse Api::Status() {
  const Millis now = ctx_.clock();
  json queue = json::object();
  for (const char* s : kStates) queue[s] = 0;
  for (const auto& [state, count] : ctx_.store->CountByState()) queue[state] = count;
  // The last hour in minutes, the oldest first.
  constexpr Millis kMinute = 60000;
  const Millis start = (now / kMinute - 59) * kMinute;
  json sent = json::array(), received = json::array(), failed = json::array();
  std::vector<int> s(60), r(60), f(60);
  for (const EventCount& c : ctx_.store->CountEvents({"sent", "received", "failed", "expired"}, start, kMinute)) {
    if (c.bucket < 0 || c.bucket >= 60) continue;
    std::vector<int>& row = c.kind == "sent" ? s : c.kind == "received" ? r : f;
    row[static_cast<std::size_t>(c.bucket)] += c.count;
  }
  json gateways = json::array();
  for (const GatewayStatus& g : ctx_.store->ListGateways())
    gateways.push_back({{"name", g.name},
                        {"running", !g.stopped && now - g.heartbeat < 3 * ctx_.heartbeat},
                        {"heartbeat", IsoUtc(g.heartbeat)}});
  json errors = json::array();
  for (const Event& e :
       ctx_.store->RecentEvents({"retry", "failed", "uncertain", "expired", "disconnected", "undecoded"}, 10))
    errors.push_back({{"at", IsoUtc(e.at)},
                      {"kind", e.kind},
                      {"modem", OptText(e.modem)},
                      {"message", e.messageId ? json(*e.messageId) : json()},
                      {"text", e.detail}});
  const DeliveryStats webhooks = ctx_.store->CountDeliveries();
  return JsonAnswer(
      200, {{"gateway", ctx_.gateway},
            {"time", IsoUtc(now)},
            {"gateways", gateways},
            {"modems", ModemsJson(*ctx_.store, now, ctx_.heartbeat)},
            {"queue", queue},
            {"last_hour", {{"start", IsoUtc(start)}, {"minute", 60}, {"sent", s}, {"received", r}, {"failed", f}}},
            {"errors", errors},
            {"webhooks", {{"pending", webhooks.pending}, {"done", webhooks.done}, {"failed", webhooks.failed}}}});
}

HttpResponse Api::MetricsText() {
  const Millis now = ctx_.clock();
  PrometheusText p;
  p.Family("veskgsm_messages", "gauge", "Outgoing messages in the store by state.");
  std::map<std::string, int> counts = ctx_.store->CountByState();
  for (const char* s : kStates) p.Sample("veskgsm_messages", {{"state", s}}, counts.count(s) ? counts[s] : 0);
  p.Family("veskgsm_inbox_parts_waiting", "gauge", "Parts of long messages waiting for the rest.");
  p.Sample("veskgsm_inbox_parts_waiting", {}, ctx_.store->PendingParts());
  const json modems = ModemsJson(*ctx_.store, now, ctx_.heartbeat);
  p.Family("veskgsm_modem_connected", "gauge", "1 when the modem is connected.");
  for (const json& m : modems)
    p.Sample("veskgsm_modem_connected",
             {{"modem", m["name"].get<std::string>()}, {"gateway", m["gateway"].get<std::string>()}},
             m["connected"].get<bool>() ? 1 : 0);
  p.Family("veskgsm_modem_signal", "gauge", "The modem's signal (AT+CSQ: 0 to 31, 99 unknown).");
  for (const json& m : modems)
    if (!m["signal"].is_null())
      p.Sample("veskgsm_modem_signal",
               {{"modem", m["name"].get<std::string>()}, {"gateway", m["gateway"].get<std::string>()}},
               m["signal"].get<int>());
  const DeliveryStats d = ctx_.store->CountDeliveries();
  p.Family("veskgsm_webhook_deliveries", "gauge", "Webhook deliveries in the store by state.");
  p.Sample("veskgsm_webhook_deliveries", {{"state", "pending"}}, d.pending);
  p.Sample("veskgsm_webhook_deliveries", {{"state", "done"}}, d.done);
  p.Sample("veskgsm_webhook_deliveries", {{"state", "failed"}}, d.failed);
  if (Metrics* mx = ctx_.metrics) {
    p.Family("veskgsm_send_duration_seconds", "histogram",
             "From a message's claim by a modem to its outcome in the store, in this gateway.");
    p.Histogram("veskgsm_send_duration_seconds", {}, mx->send);
    p.Family("veskgsm_store_duration_seconds", "histogram", "Calls to the store by operation, in this gateway.");
    for (const auto& [operation, h] : mx->store)
      if (h.Count() > 0) p.Histogram("veskgsm_store_duration_seconds", {{"operation", operation}}, h);
    p.Family("veskgsm_http_request_duration_seconds", "histogram", "API requests, from arrival to answer.");
    p.Histogram("veskgsm_http_request_duration_seconds", {}, mx->http);
    p.Family("veskgsm_http_responses_total", "counter", "API answers by status class.");
    for (int c = 1; c <= 5; ++c)
      p.Sample("veskgsm_http_responses_total", {{"class", std::to_string(c) + "xx"}},
               static_cast<double>(mx->httpByClass[static_cast<std::size_t>(c)].load()));
    p.Family("veskgsm_hook_failures_total", "counter", "Failed runs of hooks and webhook deliveries.");
    p.Sample("veskgsm_hook_failures_total", {{"kind", "hook"}}, static_cast<double>(mx->hookFailures.load()));
    p.Sample("veskgsm_hook_failures_total", {{"kind", "webhook"}}, static_cast<double>(mx->webhookFailures.load()));
    p.Family("veskgsm_webhooks_delivered_total", "counter", "Webhook deliveries a receiver took (2xx).");
    p.Sample("veskgsm_webhooks_delivered_total", {}, static_cast<double>(mx->webhookDelivered.load()));
  }
  HttpResponse r;
  r.contentType = "text/plain; version=0.0.4; charset=utf-8";
  r.body = p.Text();
  return r;
}

}  // namespace vesk::gateway
