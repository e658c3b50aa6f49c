#include "incoming/Pairing.h"

#include "codec/StatusReport.h"

namespace vesk {

void TPendingMessages::SetLimit(std::size_t limit) {
  limit_ = limit;
  Trim();
}

void TPendingMessages::Trim() {
  while (messages_.size() > limit_) messages_.pop_front();
}

void TPendingMessages::Add(const AnsiString& recipient, const std::vector<int>& references, TDateTime sent) {
  if (references.empty()) return;
  Message m{recipient, {}, sent};
  for (int reference : references) {
    if (reference < 0 || reference > 255) return;
    m.parts.push_back(Part{reference});
  }
  messages_.push_back(std::move(m));
  Trim();
}

TPairing TPendingMessages::Report(int reference, const AnsiString& recipient, int status, TDateTime arrived) {
  TPairing result;
  // The best match: an open part before a final one, then the newest send.
  Message* best = nullptr;
  Part* bestPart = nullptr;
  std::size_t bestIndex = 0;
  for (std::size_t i = messages_.size(); i-- > 0;) {
    Message& m = messages_[i];
    if (m.sent > arrived || !codec::SameRecipient(m.recipient, recipient)) continue;
    for (Part& p : m.parts) {
      if (p.reference != reference) continue;
      if (bestPart == nullptr || (bestPart->final && !p.final)) {
        best = &m;
        bestPart = &p;
        bestIndex = i;
      }
      break;
    }
    if (bestPart != nullptr && !bestPart->final) break;  // the newest open part
  }
  if (bestPart == nullptr) return result;
  result.Paired = true;
  if (bestPart->final) return result;  // told already: a repeat changes nothing
  bestPart->status = status;
  bestPart->final = codec::IsFinalStatus(status);
  best->lastStatus = status;
  std::vector<int> finals;
  for (const Part& p : best->parts) {
    if (!p.final) return result;
    finals.push_back(p.status);
  }
  result.Completed = true;
  result.Recipient = best->recipient;
  for (const Part& p : best->parts) result.References.push_back(p.reference);
  result.Outcome = OutcomeOf(finals);
  result.DecidingStatus = best->lastStatus;
  for (int st : finals) {
    const codec::ReportStatusClass cls = codec::ClassOfStatus(st);
    if (st != codec::kStatusValidityExpired && cls != codec::ReportStatusClass::Completed) {
      result.DecidingStatus = st;
      break;
    }
    if (st == codec::kStatusValidityExpired) result.DecidingStatus = st;
  }
  messages_.erase(messages_.begin() + static_cast<std::ptrdiff_t>(bestIndex));
  return result;
}

TMessageOutcome OutcomeOf(const std::vector<int>& finalStatuses) {
  bool expired = false;
  for (int st : finalStatuses) {
    if (st == codec::kStatusValidityExpired) {
      expired = true;
      continue;
    }
    if (codec::ClassOfStatus(st) != codec::ReportStatusClass::Completed) return moFailed;
  }
  return expired ? moExpired : moDelivered;
}

}  // namespace vesk
