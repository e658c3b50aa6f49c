// What the store's back ends share: the ids webhook receivers see, and the
// mapping of the store's event kinds to webhook event types.
#pragma once

#include <mutex>
#include <random>
#include <string>

namespace vesk::gateway {

// Ids for webhook deliveries: "evt_" and 32 random hex digits, so that ids
// from several gateways and stores never meet.
class DeliveryKeys {
 public:
  DeliveryKeys();
  std::string Next();

 private:
  std::mutex mutex_;
  std::mt19937_64 random_;
};

}  // namespace vesk::gateway
