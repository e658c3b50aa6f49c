// The outbox's scheduler: one modem takes the next due message, sends it,
// and the outcome is committed before it takes another. Which message comes
// next is the store's Claim (priority, then age; windows; the modem it
// names); what a failure means is ClassifyFailure; here is the order of the
// steps and the retry policy, with the time read from an injected clock.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/gateway/SendErrors.h"
#include "tools/gateway/Store.h"

namespace vesk::gateway {

// One attempt, as the modem's sender saw it.
struct SendAttempt {
  bool sent = false;
  std::vector<int> references;  // of the parts the modem accepted, in order
  ModemError error;             // why not: the modem's error as the component classed it, or what went wrong
  bool bodyWritten = false;     // the failing part's body (or some of it) reached the modem
};

// One modem's way of sending a message.
class MessageSender {
 public:
  virtual ~MessageSender() = default;
  // Sends the message. `beforeBody` is called at most once, before the
  // first byte of any message body is written and after everything before
  // it; when it throws, no body is written and the exception passes out
  // (the modem is left as it was).
  virtual SendAttempt Send(const OutboxMessage& message, const std::function<void()>& beforeBody) = 0;
};

struct OutboxPolicy {
  int maxAttempts = 5;
  Millis backoff = 30000;  // before the second attempt; doubling
  Millis lease = 60000;
};

// What became of the message sent.
struct SendReport {
  std::int64_t id = 0;
  MessageState state = MessageState::Queued;  // queued again (a retry), sent, failed or uncertain
  std::optional<SendError> error;
  std::vector<int> references;
  int attempts = 0;
  std::optional<Millis> retryAt;
};

class Outbox {
 public:
  Outbox(Store& store, std::string claimer, OutboxPolicy policy, ClockFn clock);

  // Claims the next due message for `modem`, sends it through `sender`
  // and records the outcome. Empty when nothing was due. A StoreError
  // passes out; the message then stays as the store last recorded it (a
  // restart's Recover settles it).
  std::optional<SendReport> SendNext(const std::string& modem, bool report, MessageSender& sender);

  // The wait before attempt `attempts + 1`: backoff, doubling after each
  // attempt, at most a day.
  static Millis RetryDelay(Millis backoff, int attempts);

 private:
  Store& store_;
  std::string claimer_;
  OutboxPolicy policy_;
  ClockFn clock_;
};

// A modem's own limit: at most `perMinute` sends started in any minute,
// spread evenly. 0: no limit.
class Pacer {
 public:
  explicit Pacer(int perMinute) : interval_(perMinute > 0 ? 60000.0 / perMinute : 0) {}
  bool Ready(Millis now) const { return !last_ || now >= NextAllowed(); }
  Millis NextAllowed() const { return last_ ? *last_ + static_cast<Millis>(interval_) : 0; }
  // A send that starts a little after its slot keeps the schedule, so the
  // pace holds over time and not only between two sends.
  void Started(Millis now) {
    const Millis slot = NextAllowed();
    last_ = last_ && now >= slot && now - slot < static_cast<Millis>(interval_) ? slot : now;
  }

 private:
  double interval_;
  std::optional<Millis> last_;
};

}  // namespace vesk::gateway
