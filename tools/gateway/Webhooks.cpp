#include "tools/gateway/Webhooks.h"

#include <httplib.h>

#include <algorithm>

#include "tools/gateway/Api.h"
#include "tools/gateway/Hmac.h"
#include "tools/gateway/Json.h"

namespace vesk::gateway {

using json = nlohmann::json;

namespace {

constexpr Millis kLease = 120000;

}  // namespace

PostResult PostJson(const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers,
                    const std::string& body, Millis timeout) {
  PostResult out;
  // scheme://host[:port] and the rest.
  const std::size_t hostStart = url.find("://");
  if (hostStart == std::string::npos) {
    out.error = "not a URL";
    return out;
  }
  const std::size_t pathStart = url.find('/', hostStart + 3);
  const std::string origin = url.substr(0, pathStart);
  const std::string path = pathStart == std::string::npos ? "/" : url.substr(pathStart);
  httplib::Client client(origin);
  if (!client.is_valid()) {
    out.error = "cannot make a client for " + origin;
    return out;
  }
  const time_t seconds = static_cast<time_t>(timeout / 1000);
  const time_t micros = static_cast<time_t>((timeout % 1000) * 1000);
  client.set_connection_timeout(seconds, micros);
  client.set_read_timeout(seconds, micros);
  client.set_write_timeout(seconds, micros);
  client.set_keep_alive(false);
  httplib::Headers h;
  for (const auto& [name, value] : headers) h.emplace(name, value);
  httplib::Result result = client.Post(path.c_str(), h, body, "application/json");
  if (!result) {
    out.error = httplib::to_string(result.error());
    return out;
  }
  out.status = result->status;
  return out;
}

WebhookSender::WebhookSender(Store& store, std::vector<WebhookSettings> webhooks, std::string claimer, Logger& log,
                             ClockFn clock, Metrics* metrics, Millis heartbeat)
    : store_(store),
      webhooks_(std::move(webhooks)),
      claimer_(std::move(claimer)),
      log_(log),
      clock_(std::move(clock)),
      metrics_(metrics),
      heartbeat_(heartbeat) {
  for (const WebhookSettings& w : webhooks_) urls_.push_back(w.url);
}

WebhookSender::~WebhookSender() { Stop(); }

std::vector<WebhookTarget> WebhookSender::Targets(const std::vector<WebhookSettings>& webhooks) {
  std::vector<WebhookTarget> out;
  for (const WebhookSettings& w : webhooks) out.push_back({w.url, w.events});
  return out;
}

Millis WebhookSender::RetryDelay(int attempts) {
  Millis delay = kFirstRetry;
  for (int i = 1; i < attempts && delay < kLongestRetry; ++i) delay *= 2;
  return std::min(delay, kLongestRetry);
}

void WebhookSender::Start() {
  if (thread_.joinable() || urls_.empty()) return;
  stopping_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void WebhookSender::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    woken_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void WebhookSender::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

const WebhookSettings* WebhookSender::Find(const std::string& url) const {
  for (const WebhookSettings& w : webhooks_)
    if (w.url == url) return &w;
  return nullptr;
}

std::string WebhookSender::Body(const Delivery& d) {
  json data;
  if (d.inboxId) {
    if (std::optional<InboxEntry> e = store_.GetInbox(*d.inboxId)) data = InboxJson(*e);
  } else if (d.messageId) {
    if (std::optional<OutboxMessage> m = store_.GetMessage(*d.messageId)) {
      data = MessageJson(*m);
      data["flash"] = m->flash;
      data["report"] = m->report;
    }
  } else if (!d.modem.empty()) {
    for (json& m : ModemsJson(store_, clock_(), heartbeat_))
      if (m["name"] == d.modem) data = std::move(m);
    if (data.is_null()) data = {{"name", d.modem}};
    data["change"] = d.detail.empty() ? json() : json(d.detail);
  }
  return Dump({{"id", d.key}, {"type", d.type}, {"created", IsoUtc(d.eventAt)}, {"data", data}});
}

void WebhookSender::SendOne(const Delivery& d) {
  const WebhookSettings* w = Find(d.url);
  if (!w) return;  // not ours: the lease runs out for a gateway that has it
  const std::string body = d.body.empty() ? store_.FixDeliveryBody(d.id, Body(d)) : d.body;
  const PostResult result = PostJson(d.url,
                                     {{"X-VeskGSM-Event", d.type},
                                      {"X-VeskGSM-Delivery", d.key},
                                      {"X-VeskGSM-Signature", "sha256=" + HmacSha256Hex(w->secret, body)},
                                      {"User-Agent", "veskgsm-gateway"}},
                                     body, static_cast<Millis>(w->timeoutSeconds * 1000));
  const Millis now = clock_();
  const std::string subject = d.messageId ? MessageSubject(*d.messageId) : d.inboxId ? InboxSubject(*d.inboxId) : "";
  if (result.status >= 200 && result.status < 300) {
    store_.DeliveryFinished(d.id, claimer_, true, result.status, "", std::nullopt, now);
    if (metrics_) metrics_->webhookDelivered++;
    log_.Debug(d.modem, subject, "webhook " + d.type + " " + d.key + " delivered to " + d.url);
    return;
  }
  if (metrics_) metrics_->webhookFailures++;
  const std::string why = result.status ? "status " + std::to_string(result.status) : result.error;
  const int attempt = d.attempts + 1;
  const Millis retryAt = now + RetryDelay(attempt);
  if (retryAt - d.created > kGiveUpAfter) {
    store_.DeliveryFinished(d.id, claimer_, false, result.status, why, std::nullopt, now);
    log_.Error(d.modem, subject,
               "webhook " + d.type + " " + d.key + " to " + d.url + " given up after " + std::to_string(attempt) +
                   " attempts over a day (" + why + ")");
    return;
  }
  store_.DeliveryFinished(d.id, claimer_, false, result.status, why, retryAt, now);
  log_.Warn(
      d.modem, subject,
      "webhook " + d.type + " " + d.key + " to " + d.url + " failed (" + why + "); next attempt at " + IsoUtc(retryAt));
}

int WebhookSender::RunDue() {
  int count = 0;
  while (!stopping_) {
    std::optional<Delivery> d = store_.ClaimDelivery(urls_, claimer_, clock_(), kLease);
    if (!d) break;
    SendOne(*d);
    ++count;
  }
  return count;
}

void WebhookSender::Loop() {
  while (!stopping_) {
    try {
      RunDue();
    } catch (const std::exception& e) {
      log_.Error("", "", std::string("webhooks: ") + e.what());
    }
    Millis wait = 1000;
    try {
      if (std::optional<Millis> due = store_.NextDeliveryDue(urls_))
        wait = std::clamp<Millis>(*due - clock_(), 0, 1000);
    } catch (const std::exception&) {
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(std::max<Millis>(wait, 20)),
                   [this] { return woken_ || stopping_.load(); });
    woken_ = false;
  }
}

}  // namespace vesk::gateway
