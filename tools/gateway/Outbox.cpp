#include "tools/gateway/Outbox.h"

#include <algorithm>

namespace vesk::gateway {

Outbox::Outbox(Store& store, std::string claimer, OutboxPolicy policy, ClockFn clock)
    : store_(store), claimer_(std::move(claimer)), policy_(policy), clock_(std::move(clock)) {}

Millis Outbox::RetryDelay(Millis backoff, int attempts) {
  constexpr Millis kDay = 86400000;
  Millis delay = backoff;
  for (int i = 1; i < attempts && delay < kDay; ++i) delay *= 2;
  return std::min(delay, kDay);
}

std::optional<SendReport> Outbox::SendNext(const std::string& modem, bool report, MessageSender& sender) {
  ClaimRequest request;
  request.modem = modem;
  request.claimer = claimer_;
  request.now = clock_();
  request.leaseMs = policy_.lease;
  request.report = report;
  request.retryElsewhere = policy_.backoff;
  std::optional<OutboxMessage> message = store_.Claim(request);
  if (!message) return std::nullopt;

  // The store learns that a body may go out before it does: after a crash
  // from here on, the message is uncertain, never sent again.
  const std::int64_t id = message->id;
  SendAttempt attempt = sender.Send(*message, [&] { store_.MarkWriting(id, claimer_, clock_()); });

  SendReport out;
  out.id = id;
  out.attempts = message->attempts;
  out.references = attempt.references;
  const Millis now = clock_();
  if (attempt.sent) {
    store_.RecordSent(id, claimer_, attempt.references, now);
    out.state = MessageState::Sent;
    return out;
  }
  const Failure failure =
      ClassifyFailure(attempt.error, attempt.bodyWritten, attempt.references.size(), message->partCount);
  out.error = failure.error;
  switch (failure.cls) {
    case FailureClass::Temporary:
      if (message->attempts < policy_.maxAttempts) {
        out.retryAt = now + RetryDelay(policy_.backoff, message->attempts);
        store_.RecordRetry(id, claimer_, failure.error, *out.retryAt, now);
        out.state = MessageState::Queued;
      } else {
        out.error->text = "gave up after " + std::to_string(message->attempts) + " attempts: " + failure.error.text;
        store_.RecordFailed(id, claimer_, *out.error, attempt.references, now);
        out.state = MessageState::Failed;
      }
      break;
    case FailureClass::Permanent:
      store_.RecordFailed(id, claimer_, failure.error, attempt.references, now);
      out.state = MessageState::Failed;
      break;
    case FailureClass::Uncertain:
      store_.RecordUncertain(id, claimer_, failure.error, attempt.references, now);
      out.state = MessageState::Uncertain;
      break;
  }
  return out;
}

}  // namespace vesk::gateway
