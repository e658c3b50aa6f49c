#include "tools/gateway/StoreCommon.h"

#include <chrono>
#include <cstdio>

#include "tools/gateway/Store.h"

namespace vesk::gateway {

DeliveryKeys::DeliveryKeys() {
  std::random_device device;
  std::seed_seq seed{device(), device(), device(), device(),
                     static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
  random_.seed(seed);
}

std::string DeliveryKeys::Next() {
  std::lock_guard<std::mutex> lock(mutex_);
  char text[40];
  std::snprintf(text, sizeof text, "evt_%016llx%016llx", static_cast<unsigned long long>(random_()),
                static_cast<unsigned long long>(random_()));
  return text;
}

std::string WebhookType(const std::string& kind) {
  if (kind == "received" || kind == "sent" || kind == "delivered" || kind == "failed" || kind == "uncertain")
    return kind;
  if (kind == "expired") return "failed";
  if (kind == "connected" || kind == "disconnected") return "modem";
  return "";
}

}  // namespace vesk::gateway
