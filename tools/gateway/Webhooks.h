// Webhooks: each event of a type a [[webhook]] takes is POSTed to its URL
// as JSON, signed, until the receiver answers 2xx.
//
//   POST <url>
//   Content-Type: application/json
//   X-VeskGSM-Event: sent
//   X-VeskGSM-Delivery: evt_5f0c...        (the body's id)
//   X-VeskGSM-Signature: sha256=<HMAC-SHA256 of the body with the secret, lower-case hex>
//
//   {"id": "evt_5f0c...", "type": "sent", "created": "2024-05-01T12:00:01.532Z", "data": {...}}
//
// `data` is the message (as GET /v1/messages/{id} shows it), the inbox
// entry (as GET /v1/inbox does) or the modem (as GET /v1/modems does), as
// it stood when the delivery was first tried; the body is kept, so every
// attempt sends the same bytes.
//
// The deliveries are rows of the store, made in the transaction that
// commits their event (Store::SetWebhooks), so a crash or a restart loses
// none. A delivery that fails (no connection, a time-out, any status but
// 2xx) is tried again 5 s later, then 10 s, 20 s ... doubling up to 10
// minutes, until 24 hours after its event; then it is given up (kept as
// `failed`). Each event is delivered at least once: a receiver drops a
// repeat by its id. Several gateways on one store share the deliveries: a
// delivery is claimed with a lease, by a gateway that has its URL.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/gateway/Config.h"
#include "tools/gateway/Log.h"
#include "tools/gateway/Metrics.h"
#include "tools/gateway/Store.h"

namespace vesk::gateway {

struct PostResult {
  int status = 0;     // the receiver's HTTP status; 0 when none came
  std::string error;  // why no status came
};

// POSTs a body to a URL (http or https) and waits for the status.
PostResult PostJson(const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers,
                    const std::string& body, Millis timeout);

class WebhookSender {
 public:
  static constexpr Millis kFirstRetry = 5000, kLongestRetry = 600000, kGiveUpAfter = 86400000;

  WebhookSender(Store& store, std::vector<WebhookSettings> webhooks, std::string claimer, Logger& log, ClockFn clock,
                Metrics* metrics = nullptr, Millis heartbeat = 5000);
  ~WebhookSender();
  WebhookSender(const WebhookSender&) = delete;
  WebhookSender& operator=(const WebhookSender&) = delete;

  // The targets for Store::SetWebhooks.
  static std::vector<WebhookTarget> Targets(const std::vector<WebhookSettings>& webhooks);
  // The wait after attempt `attempts` failed: 5 s, doubling, at most 10 min.
  static Millis RetryDelay(int attempts);

  void Start();
  // Stops after the delivery in hand.
  void Stop();
  // An event was committed: look for deliveries now.
  void Wake();
  // Sends the due deliveries now, on the calling thread (tests); how many.
  int RunDue();

  // The body of a delivery as it goes out.
  std::string Body(const Delivery& delivery);

 private:
  void Loop();
  void SendOne(const Delivery& delivery);
  const WebhookSettings* Find(const std::string& url) const;

  Store& store_;
  std::vector<WebhookSettings> webhooks_;
  std::vector<std::string> urls_;
  std::string claimer_;
  Logger& log_;
  ClockFn clock_;
  Metrics* metrics_;
  Millis heartbeat_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace vesk::gateway
