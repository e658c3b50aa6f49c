#include "tools/gateway/Reports.h"

#include <cstdlib>

#include "tools/gateway/Message.h"

namespace vesk::gateway {

namespace {

std::optional<PartCandidate> Closest(const StatusReport& report, const std::vector<PartCandidate>& candidates,
                                     Millis when) {
  constexpr Millis kWindow = 86400000;
  std::optional<PartCandidate> best;
  Millis bestDistance = 0;
  for (const PartCandidate& c : candidates) {
    if (!SameNumber(c.recipient, report.recipient)) continue;
    const Millis distance = std::llabs(c.sentAt - when);
    if (distance > kWindow) continue;
    if (!best || distance < bestDistance) {
      best = c;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace

std::optional<PartCandidate> PairReport(const StatusReport& report, const std::vector<PartCandidate>& candidates) {
  if (report.submitted != 0) {
    if (std::optional<PartCandidate> match = Closest(report, candidates, report.submitted)) return match;
    // A centre whose clock is far off (or a time stamp that did not
    // read): the time the report arrived is the next best guide.
  }
  return Closest(report, candidates, report.received);
}

std::optional<MessageState> TakeReport(Store& store, const StatusReport& report) {
  const std::optional<PartCandidate> match =
      PairReport(report, store.ReportCandidates(report.modem, report.reference & 0xFF));
  return store.RecordReport(report, match);
}

}  // namespace vesk::gateway
