// Pairing status reports with the messages they are about.
//
// A message sent with a status report request is pending from the moment
// the modem accepted its last part until every part has a final status:
//
//   Add ──▶ pending ──(a report for each part, final)──▶ complete: the
//              │                                         outcome is told
//              │ (temporary statuses: the part stays open)
//              └──(more than the limit are pending)──▶ dropped, oldest first
//
// A report pairs with a part by its reference (TP-MR, 0 to 255, which
// wraps, so two pending messages may have used the same one), its
// recipient (compared in normalised form, codec::SameRecipient: a report
// may give the number in another form than the send did) and the send
// time: among the parts that match, one still without a final status
// first, the most recently sent first. A report that pairs with nothing
// (a message sent elsewhere, or forgotten) is no error.
//
// Times come from the caller. Not locked: one thread at a time (the
// component guards its set).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "component/DeliveryReports.h"
#include "component/Framework.h"

namespace vesk {

// What a report did.
struct TPairing {
  // It paired with a part of a pending message.
  bool Paired = false;
  // That message now has a final status for every part: it has left the
  // pending set, and its outcome is below.
  bool Completed = false;
  AnsiString Recipient;
  std::vector<int> References;
  TMessageOutcome Outcome = moDelivered;
  // The TP-ST that decided the outcome: the first failed part's, else an
  // expired part's, else the last report's.
  int DecidingStatus = -1;
};

class TPendingMessages {
 public:
  explicit TPendingMessages(std::size_t limit = 1000) : limit_(limit) {}

  // At most `limit` messages stay pending; when more would, the oldest
  // go (and are never told). 0 keeps none.
  void SetLimit(std::size_t limit);
  std::size_t Limit() const { return limit_; }

  // A message accepted in full: its recipient as sent, each part's
  // reference (0 to 255) in part order, and when it was sent. A message
  // without parts, or with a reference out of range (the modem gave
  // none), cannot be paired and is not kept.
  void Add(const AnsiString& recipient, const std::vector<int>& references, TDateTime sent);

  // A report with TP-MR `reference`, TP-RA `recipient` and TP-ST `status`
  // that arrived at `arrived`.
  TPairing Report(int reference, const AnsiString& recipient, int status, TDateTime arrived);

  std::size_t Count() const { return messages_.size(); }
  void Clear() { messages_.clear(); }

 private:
  struct Part {
    int reference;
    int status = -1;
    bool final = false;
  };
  struct Message {
    AnsiString recipient;
    std::vector<Part> parts;
    TDateTime sent;
    int lastStatus = -1;
  };
  void Trim();

  std::size_t limit_;
  std::deque<Message> messages_;  // oldest first
};

// The outcome of a message whose parts ended with these final statuses.
TMessageOutcome OutcomeOf(const std::vector<int>& finalStatuses);

}  // namespace vesk
