// The gateway's HTTP API, apart from the server that carries it: a
// function from a request to its answer (Http.h), over the store.
//
//   GET  /v1/health           200 when the store answers and a modem of this
//                             gateway is connected, else 503; no token
//   POST /v1/messages         queue a message (Idempotency-Key: once per key)
//   GET  /v1/messages/{id}    one message
//   GET  /v1/messages         ?state=&after=&limit=  a page of messages
//   GET  /v1/inbox            ?after=&limit=         a page of the inbox
//   GET  /v1/modems           every modem of every gateway on the store
//   GET  /v1/status           what the status page shows
//   GET  /metrics             Prometheus text format
//   GET  /, /status.css, /status.js   the status page; no token
//
// Every other request needs `Authorization: Bearer <token>` when a token is
// configured. Answers are JSON (UTF-8); an error is {"error": {"code",
// "message"}} with its status: 400 malformed JSON or request target, 401 a
// missing or wrong token, 404 an unknown path or id, 405 a method the path
// does not take, 413 a body over 64 KiB, 422 a field that is not valid
// (a number, an empty text, a limit out of range ...), 503 the store does
// not answer. Lists are {"items": [...], "next_after": ID or null}: ask
// again with after=next_after for the next page.
//
// Handle may be called from any number of threads at once.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/gateway/Http.h"
#include "tools/gateway/Metrics.h"
#include "tools/gateway/Store.h"

namespace vesk::gateway {

constexpr std::size_t kMaxBody = 64 * 1024;

// A modem of this gateway as its worker sees it now.
struct LiveModem {
  std::string name;
  bool connected = false;
};

struct ApiContext {
  Store* store = nullptr;
  std::string token;    // empty: no token asked for
  std::string gateway;  // this gateway's name
  ClockFn clock = SystemMillis;
  std::set<std::string> modems;                  // this configuration's modems
  std::function<std::vector<LiveModem>()> live;  // this gateway's modems; null: none run here
  std::function<void()> queued;                  // a message was queued
  Metrics* metrics = nullptr;
  Millis heartbeat = 5000;  // a gateway silent for three of these is taken as stopped
};

class Api {
 public:
  explicit Api(ApiContext context);
  HttpResponse Handle(const HttpRequest& request);

 private:
  HttpResponse Route(const HttpRequest& request);
  HttpResponse Health();
  HttpResponse PostMessage(const HttpRequest& request);
  HttpResponse GetMessage(const std::string& id);
  HttpResponse ListMessages(const Target& target);
  HttpResponse ListInbox(const Target& target);
  HttpResponse Modems();
  HttpResponse Status();
  HttpResponse MetricsText();
  bool Authorized(const HttpRequest& request) const;

  ApiContext ctx_;
};

// Every modem in the store as the API shows it: name, gateway, port, imei,
// connected, sim, registration, operator, signal, health, health_reason,
// queued, sent_last_hour, last_error, last_error_at, updated. A modem whose
// gateway stopped (or has not been heard of for three heartbeats) is not
// connected.
nlohmann::json ModemsJson(Store& store, Millis now, Millis heartbeat);

}  // namespace vesk::gateway
