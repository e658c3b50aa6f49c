// The state behind delivery reports and direct delivery
// (incoming/Reports.cpp, commands/Indication.cpp): one per component,
// under its FReportsLock.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <set>
#include <thread>
#include <utility>

#include "component/VeskGSM.h"
#include "incoming/Framing.h"
#include "incoming/Pairing.h"

namespace vesk {

namespace reports {

// Deliveries (+CMT, +CDS) and stored messages remembered, for repeats.
constexpr std::size_t kRecentDeliveries = 256;
constexpr std::size_t kRecentStored = 256;
// Automatic reads and report deletions waiting for their answers.
constexpr std::size_t kMaxWaiting = 64;

// A bounded set that forgets the oldest first.
class RecentKeys {
 public:
  explicit RecentKeys(std::size_t cap) : cap_(cap) {}
  bool Has(const AnsiString& key) const { return set_.count(key) > 0; }
  void Add(const AnsiString& key) {
    if (!set_.insert(key).second) return;
    order_.push_back(key);
    while (order_.size() > cap_) {
      set_.erase(order_.front());
      order_.pop_front();
    }
  }

 private:
  std::size_t cap_;
  std::deque<AnsiString> order_;
  std::set<AnsiString> set_;
};

// A storage and an index in it, the storage's name in capitals.
using Place = std::pair<AnsiString, int>;
inline Place PlaceOf(const AnsiString& location, int index) { return {UpperCase(Trim(location)), index}; }

}  // namespace reports

struct TVeskGSM::TReportsState {
  TPendingMessages pending;
  // The indication the last set-up chose, and on which connection.
  AnsiString indicationCommand;
  int routedReports = -1;  // its <ds>; -1 when not known
  unsigned setUpGeneration = 0;
  bool acknowledge = false;  // AT+CSMS=1 taken on connection setUpGeneration
  bool csmsSet = false;
  // AT+CSMP changed from its default on connection submitGeneration.
  bool submitParametersSet = false;
  unsigned submitGeneration = 0;
  // Deliveries reported, by their text.
  reports::RecentKeys deliveries{reports::kRecentDeliveries};
  // Stored messages seen in read answers and listings: storage, index, body.
  reports::RecentKeys stored{reports::kRecentStored};
  // Automatic reads of notices (+CMTI) not answered yet, and reports
  // (+CDSI) to delete once reported.
  std::set<reports::Place> autoReads;
  std::set<reports::Place> deleteAfter;
  // Acknowledgements and deletions owed, and the threads sending them:
  // such a thread dispatches what its commands read meanwhile, and the
  // deliveries and reports in it add to what is owed instead of nesting
  // commands deeper.
  int acksOwed = 0;
  std::set<std::thread::id> ackingThreads;
  std::deque<reports::Place> deletionsOwed;
  std::set<std::thread::id> deletingThreads;
  // The stored message check.
  bool checkDue = false;
  unsigned checkedGeneration = 0;
  std::chrono::steady_clock::time_point lastCheck{};
  bool storageFull = false;

  // A report's fields, however it came.
  struct Fields {
    int reference = -1;
    AnsiString recipient;
    int status = -1;
    TDateTime received = 0;
    TDateTime discharged = 0;
  };
  // Decodes a report from its PDU or its text-mode fields; false, with
  // `error` set, when it does not decode.
  static bool ReadReport(const at::TResult& result, Fields& out, AnsiString& error);
  // OnStatusReport, and OnMessageStatus when the report completed a sent
  // message. False when the component was destroyed meanwhile.
  static bool RaiseReport(TVeskGSM& g, const Fields& report, bool listing, const AnsiString& location, int index);
  // A delivery told already, by its text; remembered once told.
  static bool Repeated(TVeskGSM& g, const AnsiString& key);
  static void Remember(TVeskGSM& g, const AnsiString& key);
  // OnError with the text as received, GetLastDecodeError() saying why.
  static bool DecodeFailed(TVeskGSM& g, const AnsiString& why, const AnsiString& received);
  // AT+CNMA when the set-up asked for acknowledgements.
  static bool Acknowledge(TVeskGSM& g);
};

}  // namespace vesk
