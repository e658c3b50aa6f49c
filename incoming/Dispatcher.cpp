// The sink for every text read from the port. The text is framed into
// results (incoming/Framing.h) and each result that is one of the six
// markers is handled. What it takes care of:
//  1. A result whose end has not come yet (a read answer or listing entry
//     without all its lines, a notice without its line end) is held back
//     and dispatched with the text that completes it, or as it stands
//     once it has not grown for a bound (2 s of the component's clock).
//  2. Results are whole lines: a marker word inside other text, inside a
//     quoted field (a sender's phonebook name) or inside a message body
//     (text mode: every line of it) is text.
//  3. Markers are recognised in any case; the text and the numbers reach
//     the events as the modem sent them (OnReceive gets capitals).
//  4. A PDU that does not decode, or a read answer without its PDU,
//     raises OnError with the answer as received (the reason in
//     GetLastDecodeError()) and the dispatch goes on.
//  5. A read answer is matched to the GetSMS that asked for it by its
//     place in the received text: GetMessageLocation() and
//     GetMessageIndexes() inside OnReadMessage.
//  6. Status reports (+CDS, +CDSI, a stored one read), messages routed
//     straight to the component (+CMT) and "+CMS ERROR: 322" are handed
//     to incoming/Reports.cpp.
//
// Locking: FDispatchLock guards the dispatcher's state and is never held
// while an event handler or a command runs. After every event the
// dispatcher asks DispatchMayContinue() and touches nothing of the
// component when it says no (a handler destroyed it).
#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <thread>
#include <tuple>
#include <utility>

#include "codec/Deliver.h"
#include "codec/TextMode.h"
#include "commands/Answers.h"
#include "component/VeskGSM.h"
#include "incoming/Framing.h"
#include "port/Connection.h"

namespace vesk {

namespace {

using SteadyClock = std::chrono::steady_clock;

// An incomplete piece is released when it has not grown for this long
// (milliseconds of the component's clock), or when it grows past
// kHoldMaxBytes.
constexpr double kHoldBoundMs = 2000;
constexpr std::size_t kHoldMaxBytes = 65536;
// A read asked for by GetSMS is matched to the next "+CMGR:" answer that
// comes within this time (milliseconds of the component's clock).
constexpr double kReadRequestLifeMs = 15000;
// Parts of long messages whose stored positions are remembered.
constexpr std::size_t kMaxPartRecords = 256;

const char* const kMarkers[] = {"RING", "+CLIP:", "+CMTI:", "+CMGR:", "+CMGL:", "ERROR"};

// Whether a final result begins at or after stream position `due` in
// `text`, whose first character stands at stream position `base`.
bool FinalFrom(const AnsiString& text, std::uint64_t base, std::uint64_t due) {
  for (const at::TResult& r : at::Frame(text, false).Results)
    if (r.Kind == at::TResultKind::Final && base + r.Begin >= due) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------- state

struct TVeskGSM::TDispatchState {
  // The incomplete piece held back, and when it last grew.
  AnsiString held;
  SteadyClock::time_point heldAt;

  // Positions count the bytes of everything read from the port: `taken`
  // is how much of it the dispatcher has taken so far.
  std::uint64_t taken = 0;
  // The reads GetSMS sent, oldest first, each with the position after
  // which its answer comes, until the text shows that answer (a
  // "+CMGR:") or its end without one (a final result first: an empty
  // position, an error).
  struct PendingRead {
    AnsiString location;
    int index;
    std::uint64_t at;
    SteadyClock::time_point when;
  };
  std::deque<PendingRead> reads;
  // GetSMS under way on one thread, and the reads put off meanwhile.
  std::thread::id readingThread;
  int readingDepth = 0;
  std::deque<std::pair<AnsiString, int>> deferredReads;
  // The storage of the last listing asked for.
  AnsiString listLocation;
  // A read or a listing was sent (and not waited for) at position dueAt,
  // and no final result has been read after it.
  bool finalDue = false;
  std::uint64_t dueAt = 0;
  SteadyClock::time_point finalDueAt;

  // What GetMessageLocation / GetMessageIndexes give, inside OnReadMessage.
  AnsiString reportLocation;
  std::vector<int> reportIndexes;

  // The stored positions of the parts of long messages under reassembly,
  // keyed like the reassembly entries: sender, reference, part count.
  // Keyed like the reassembly entries (one key, in the codec).
  using PartKey = codec::ConcatenationKey;
  struct PartRecord {
    AnsiString location;
    std::map<int, int> indexes;  // part number -> stored index
  };
  std::map<PartKey, PartRecord> parts;
  std::deque<PartKey> partOrder;  // oldest first, for the cap
};

bool TVeskGSM::DispatchMayContinue() {
  // Touches nothing of *this: it may be gone. Every dispatch (ProcessAT,
  // HandleGSMEvents) is a visit of its component's connection, which
  // outlives the component and knows whether it went.
  return !TConnection::VisitedHostGone();
}

TVeskGSM::TDispatchState& TVeskGSM::DispatchState() {
  if (!FDispatch) FDispatch = std::make_shared<TDispatchState>();
  return *FDispatch;
}


bool TVeskGSM::DispatcherHoldsInput() const {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  return FDispatch && !FDispatch->held.empty();
}

AnsiString TVeskGSM::GetMessageLocation() const {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  return FDispatch ? FDispatch->reportLocation : AnsiString();
}

std::vector<int> TVeskGSM::GetMessageIndexes() const {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  return FDispatch ? FDispatch->reportIndexes : std::vector<int>();
}

void TVeskGSM::NoteReadRequest(const AnsiString& location, int index) {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  TDispatchState& st = DispatchState();
  // What was read but not yet taken comes before the read's answer.
  const std::uint64_t at = st.taken + PeekReadBuffer().size();
  const auto now = SteadyClock::now();
  st.reads.push_back({location, index, at, now});
  st.finalDue = true;
  st.dueAt = at;
  st.finalDueAt = now;
}

bool TVeskGSM::AnswerDueWith(const AnsiString& more) const {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  if (!FDispatch || !FDispatch->finalDue) return false;
  if (SteadyClock::now() - FDispatch->finalDueAt > GetClock()->RealDuration(kReadRequestLifeMs)) return false;
  // Held back or read already, waiting to be taken, or just read?
  const TDispatchState& st = *FDispatch;
  return !FinalFrom(st.held + PeekReadBuffer() + more, st.taken - st.held.size(), st.dueAt);
}

bool TVeskGSM::AnswerDue() const { return AnswerDueWith(AnsiString()); }

void TVeskGSM::NoteListRequest(const AnsiString& location) {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  TDispatchState& st = DispatchState();
  st.listLocation = location;
  st.finalDue = true;
  st.dueAt = st.taken + PeekReadBuffer().size();
  st.finalDueAt = SteadyClock::now();
}

bool TVeskGSM::BeginRead(const AnsiString& location, int index) {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  TDispatchState& st = DispatchState();
  if (st.readingDepth > 0 && st.readingThread == std::this_thread::get_id()) {
    st.deferredReads.emplace_back(location, index);
    return false;
  }
  // Another thread's read holds the port; this one waits for it there.
  if (st.readingDepth == 0) st.readingThread = std::this_thread::get_id();
  if (st.readingThread == std::this_thread::get_id()) ++st.readingDepth;
  return true;
}

bool TVeskGSM::NextDeferredRead(AnsiString& location, int& index) {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  TDispatchState& st = DispatchState();
  if (st.readingThread != std::this_thread::get_id() || st.deferredReads.empty()) return false;
  location = st.deferredReads.front().first;
  index = st.deferredReads.front().second;
  st.deferredReads.pop_front();
  return true;
}

void TVeskGSM::EndRead() {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  TDispatchState& st = DispatchState();
  if (st.readingThread != std::this_thread::get_id() || st.readingDepth == 0) return;
  if (--st.readingDepth == 0) {
    st.readingThread = std::thread::id();
    st.deferredReads.clear();
  }
}

// ---------------------------------------------------------------- dispatching

std::vector<AnsiString> TVeskGSM::GetTokens() { return {std::begin(kMarkers), std::end(kMarkers)}; }

std::vector<AnsiString> TVeskGSM::ParseAT(const AnsiString& text) {
  std::vector<AnsiString> out;
  for (const at::TResult& r : at::Frame(text, true).Results)
    if (at::IsMarkerResult(r)) out.push_back(text.substr(r.Begin, r.End - r.Begin));
  return out;
}

void TVeskGSM::ProcessAT() {
  // A visit: a handler that destroys the component is noticed, and a
  // destruction on another thread waits for this dispatch to end.
  TConnection::Visit visit(*FLink);
  if (!visit) return;
  struct Bound {
    AnsiString location;
    int index = -1;
  };
  AnsiString text, combined;
  std::vector<at::TResult> results;
  std::vector<Bound> bound;
  {
    // The text is taken under the dispatcher's lock, so texts are taken
    // (and read answers matched to their reads) in the order they were
    // read, whichever thread takes them. A command run from inside the
    // handling dispatches its own answer through here, and sees only that.
    std::lock_guard<std::mutex> lock(FDispatchLock);
    TDispatchState& st = DispatchState();
    text = TakeReadBuffer();
    const auto now = SteadyClock::now();
    const std::size_t seen = st.held.size();
    bool final = false;
    if (text.empty()) {
      if (st.held.empty()) return;
      if (now - st.heldAt < GetClock()->RealDuration(kHoldBoundMs)) return;
      // Held for its bound without growing: it goes as it is.
      combined = st.held;
      final = true;
    } else {
      combined = st.held + text;
      final = combined.size() > kHoldMaxBytes;
    }
    // The stream position of combined[0].
    const std::uint64_t base = st.taken - seen;
    st.taken += text.size();
    at::TFraming framing = at::Frame(combined, final);
    results = std::move(framing.Results);
    bound.resize(results.size());

    // Read answers and final results, in the order they stand: a read
    // whose command went out before a final result, still without an
    // answer, has ended without one.
    while (!st.reads.empty() && now - st.reads.front().when > GetClock()->RealDuration(kReadRequestLifeMs))
      st.reads.pop_front();
    for (std::size_t i = 0; i < results.size(); ++i) {
      const std::uint64_t at = base + results[i].Begin;
      if (results[i].Kind == at::TResultKind::Final) {
        if (st.finalDue && at >= st.dueAt) st.finalDue = false;
        if (!st.reads.empty() && st.reads.front().at <= at) st.reads.pop_front();
      } else if (results[i].Kind == at::TResultKind::ReadAnswer) {
        if (!st.reads.empty() && st.reads.front().at <= at) {
          bound[i] = {st.reads.front().location, st.reads.front().index};
          st.reads.pop_front();
        }
      }
    }
    AnsiString held = combined.substr(framing.Consumed);
    const bool grew = !text.empty() || held.size() != seen;
    st.held = std::move(held);
    if (!st.held.empty() && grew) st.heldAt = now;
  }
  if (!text.empty()) {
    OnReceive(this, UpperCase(text));
    if (!DispatchMayContinue()) return;
  }
  for (std::size_t i = 0; i < results.size(); ++i)
    if (!HandleResult(results[i], combined, bound[i].location, bound[i].index)) return;
}

void TVeskGSM::AsDispatch(const std::function<void()>& work) {
  TConnection::Visit visit(*FLink);
  if (visit) work();
}

bool TVeskGSM::HandleGSMEvents(const AnsiString& piece) {
  TConnection::Visit visit(*FLink);
  if (!visit) return false;
  for (const at::TResult& r : at::Frame(piece, true).Results)
    if (!HandleResult(r, piece, AnsiString(), -1)) return false;
  return true;
}

bool TVeskGSM::HandleResult(const at::TResult& result, const AnsiString& framed, const AnsiString& readLocation,
                            int readIndex) {
  switch (result.Kind) {
    case at::TResultKind::Ring:
      OnRing(this, AnsiString());
      return DispatchMayContinue();

    case at::TResultKind::CallerId: {
      AnsiString number;
      if (!at::CallerNumber(result, number)) return true;
      OnRing(this, number);
      return DispatchMayContinue();
    }

    case at::TResultKind::NewMessage: {
      const at::TNewMessageNotice notice = at::NewMessageNotice(result);
      if (notice.IndexRead && FAutoReadNewMessage) {
        NoteAutoRead(notice.Storage, notice.Index);
        try {
          GetSMS(notice.Storage, notice.Index);
        } catch (const EVeskGSMException&) {
          // The port went away meanwhile: the notice is still told.
        }
        if (!DispatchMayContinue()) return false;
      }
      OnNewMessage(this, notice.Storage, notice.Index);
      return DispatchMayContinue();
    }

    case at::TResultKind::ReadAnswer:
      return HandleReadAnswer(result, framed, readLocation, readIndex);

    case at::TResultKind::ListEntry: {
      AnsiString location;
      {
        std::lock_guard<std::mutex> lock(FDispatchLock);
        location = DispatchState().listLocation;
      }
      return HandleReadAnswer(result, framed, location, at::ListIndex(result));
    }

    case at::TResultKind::Final:
      if (!at::IsError(result)) return true;
      // The modem's whole line: "+CMS ERROR: 321", not a piece of it.
      OnError(this, Trim(result.Line));
      return DispatchMayContinue() && NoteFinalError(result);

    case at::TResultKind::DirectMessage: return HandleDirectMessage(result, framed);
    case at::TResultKind::StatusReport: return HandleStatusReportResult(result, framed);
    case at::TResultKind::Information:
      if (result.Name == "+CDSI") return HandleReportNotice(result);
      // +CREG, +CGREG, +CEREG, +CUSD (incoming/Notices.cpp).
      return HandleStateNotice(result);

    case at::TResultKind::Prompt: return true;
  }
  return true;
}

bool TVeskGSM::HandleReadAnswer(const at::TResult& result, const AnsiString& framed, AnsiString location, int index) {
  const bool listing = result.Kind == at::TResultKind::ListEntry;
  if (IsStoredStatusReport(result)) return HandleStoredStatusReport(result, framed, location, index);
  // A message the automatic read of its notice brings, already reported
  // (by the stored message check's listing), is not reported again.
  if (SkipRepeatedStoredMessage(result, location, index)) return true;
  if (result.TextMode) {
    if (!result.HasBody) return true;
    codec::TextSMS parsed = codec::TextSMSToString(at::TextModeMessage(result));
    std::vector<int> indexes;
    if (index >= 0) indexes.push_back(index);
    return ReportMessage(parsed.Text, parsed.PhoneNumber, parsed.CenterNumber, parsed.TimeStamp.value_or(0),
                         parsed.TimeZone.value_or(0), parsed.Status, listing, location, std::move(indexes));
  }

  const at::TPduHeader header = at::PduHeader(result);
  codec::DecodedSMS decoded;
  if (!result.HasBody) {
    // An empty position ("+CMGR: 0,,0"): nothing was stored there.
    if (header.Length == 0) return true;
    decoded.Error = "the read answer has no PDU";
  } else {
    try {
      decoded = DecodeDeliverPDU(result.Body);
    } catch (const std::exception& e) {
      decoded.Error = e.what();
    } catch (...) {
      decoded.Error = "PDU could not be decoded";
    }
  }
  if (!decoded.Error.empty()) {
    if (!result.HasBody) {
      std::lock_guard<std::mutex> lock(FFieldsLock);
      FLastDecodeError = decoded.Error;
    }
    OnError(this, at::ResultText(framed, result));
    return DispatchMayContinue();
  }

  std::vector<int> indexes;
  if (decoded.PartCount > 0) {
    // A part of a long message: remember where it is stored; the part
    // that completes the message reports them all.
    std::lock_guard<std::mutex> lock(FDispatchLock);
    TDispatchState& st = DispatchState();
    const TDispatchState::PartKey& key = decoded.Key;
    auto found = st.parts.find(key);
    if (found == st.parts.end()) {
      while (st.parts.size() >= kMaxPartRecords && !st.partOrder.empty()) {
        st.parts.erase(st.partOrder.front());
        st.partOrder.pop_front();
      }
      found = st.parts.emplace(key, TDispatchState::PartRecord{}).first;
      st.partOrder.push_back(key);
    }
    if (index >= 0) {
      found->second.indexes[decoded.PartNumber] = index;
      found->second.location = location;
    } else {
      found->second.indexes.erase(decoded.PartNumber);
    }
    if (decoded.Skip) return true;
    for (const auto& [number, stored] : found->second.indexes) indexes.push_back(stored);
    if (!found->second.location.empty()) location = found->second.location;
    st.parts.erase(found);
    st.partOrder.erase(std::remove(st.partOrder.begin(), st.partOrder.end(), key), st.partOrder.end());
  } else {
    if (decoded.Skip) return true;
    if (index >= 0) indexes.push_back(index);
  }
  return ReportMessage(decoded.Text, decoded.PhoneNumber, decoded.CenterNumber, decoded.TimeStamp.value_or(0),
                       decoded.TimeZone.value_or(0), header.Status, listing, location, std::move(indexes));
}
bool TVeskGSM::ReportMessage(const WideString& text, const AnsiString& phone, const AnsiString& centre,
                             TDateTime stamp, int zone, int status, bool listing, const AnsiString& location,
                             std::vector<int> indexes) {
  return RaiseWithPlace(location, std::move(indexes), listing,
                        [&] { OnReadMessage(this, text, phone, centre, stamp, zone, status); });
}

bool TVeskGSM::RaiseWithPlace(const AnsiString& location, std::vector<int> indexes, bool listing,
                              const std::function<void()>& raise) {
  AnsiString previousLocation;
  std::vector<int> previousIndexes;
  {
    std::lock_guard<std::mutex> lock(FDispatchLock);
    TDispatchState& st = DispatchState();
    previousLocation = std::exchange(st.reportLocation, location);
    previousIndexes = std::exchange(st.reportIndexes, std::move(indexes));
  }
  const bool wasListing = FIsListing.exchange(listing);
  // Put back what an outer report showed, however the handler ends.
  auto restore = OnScopeExit([&] {
    if (!DispatchMayContinue()) return;
    FIsListing = wasListing;
    std::lock_guard<std::mutex> lock(FDispatchLock);
    TDispatchState& st = DispatchState();
    st.reportLocation = std::move(previousLocation);
    st.reportIndexes = std::move(previousIndexes);
  });
  raise();
  return DispatchMayContinue();
}

}  // namespace vesk
