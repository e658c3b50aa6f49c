#include "tools/gateway/Reports.h"

#include <cstdlib>

#include "tools/gateway/Message.h"

namespace vesk::gateway {

std::optional<PartCandidate> PairReport(const StatusReport& report, const std::vector<PartCandidate>& candidates) {
  constexpr Millis kWindow = 86400000;
  const Millis when = report.submitted != 0 ? report.submitted : report.received;
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

std::optional<MessageState> TakeReport(Store& store, const StatusReport& report) {
  const std::optional<PartCandidate> match =
      PairReport(report, store.ReportCandidates(report.modem, report.reference & 0xFF));
  return store.RecordReport(report, match);
}

}  // namespace vesk::gateway
