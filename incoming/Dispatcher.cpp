// The sink for every text read from the port. What it takes care of:
//  1. An incomplete trailing piece (a read answer or listing entry whose
//     lines have not all come, a notice without its line end, a marker cut
//     in two) is held back and dispatched with the text that completes it,
//     or alone once it has not grown for a bound (2 s of the component's
//     clock).
//  2. The line after a text-mode +CMGR: or +CMGL: header is the message
//     body and is not searched for markers.
//  3. Markers are recognised in any case; the text and the numbers reach
//     the events as the modem sent them (OnReceive gets capitals).
//  4. A PDU that does not decode raises OnError with the raw piece (the
//     reason in GetLastDecodeError()) and the dispatch goes on.
//  5. A text-mode listing entry goes to the text-mode parser.
// Beyond the Part: GetMessageLocation() and GetMessageIndexes() inside
// OnReadMessage.
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
#include "component/VeskGSM.h"
#include "port/Connection.h"

namespace vesk {

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr std::size_t npos = AnsiString::npos;

enum MarkerKind { mkRing, mkClip, mkCmti, mkCmgr, mkCmgl, mkError, mkCount };
const char* const kMarkers[mkCount] = {"RING", "+CLIP:", "+CMTI:", "+CMGR:", "+CMGL:", "ERROR"};

std::size_t MarkerLength(MarkerKind kind) { return std::strlen(kMarkers[kind]); }

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

char Up(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool MatchesAt(const AnsiString& text, std::size_t at, const char* marker) {
  const std::size_t n = std::strlen(marker);
  if (at > text.size() || text.size() - at < n) return false;
  for (std::size_t k = 0; k < n; ++k)
    if (Up(text[at + k]) != Up(marker[k])) return false;
  return true;
}

// Position of `marker` in `text` at or after `from`, letters compared
// without regard to case; npos when absent.
std::size_t FindNoCase(const AnsiString& text, const char* marker, std::size_t from) {
  const std::size_t n = std::strlen(marker);
  if (n == 0 || text.size() < n) return npos;
  for (std::size_t i = from; i + n <= text.size(); ++i)
    if (MatchesAt(text, i, marker)) return i;
  return npos;
}

// One line of `text` from `from`: its characters without the line end
// (LF, or CR LF); `next` is where the following line starts. A line whose
// LF has not come has not ended.
struct Line {
  AnsiString text;
  std::size_t next = npos;
  bool ended = false;
};

Line LineAt(const AnsiString& text, std::size_t from) {
  Line line;
  if (from > text.size()) return line;
  const std::size_t lf = text.find('\n', from);
  if (lf == npos) {
    line.text = text.substr(from);
    return line;
  }
  std::size_t end = lf;
  if (end > from && text[end - 1] == '\r') --end;
  line.text = text.substr(from, end - from);
  line.next = lf + 1;
  line.ended = true;
  return line;
}

// Whether the header of a read answer (the text after "+CMGR:") or of a
// listing entry (after "+CMGL:") is a text-mode one: its status is a
// quoted word ("REC READ", "STO SENT" ...) where PDU mode has a number.
bool TextModeHeader(const AnsiString& header, MarkerKind kind) {
  AnsiString s = Trim(header);
  if (kind == mkCmgl) {
    const std::size_t comma = s.find(',');
    if (comma == npos) return false;
    s = Trim(s.substr(comma + 1));
    return !s.empty() && s[0] == '"';
  }
  return s.size() >= 4 && s[0] == '"' && (MatchesAt(s, 1, "REC") || MatchesAt(s, 1, "STO"));
}

struct Cut {
  std::size_t begin;
  MarkerKind kind;
};

// The marker occurrences that start pieces, in order. Markers are searched
// from left to right; the line after a text-mode read or listing header is
// passed over. Once a header or a body has not ended, the rest of the text
// is that header or body.
std::vector<Cut> CutAtMarkers(const AnsiString& text) {
  std::vector<Cut> cuts;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t best = npos;
    MarkerKind kind = mkRing;
    for (int k = 0; k < mkCount; ++k) {
      const std::size_t at = FindNoCase(text, kMarkers[k], pos);
      if (at < best) {
        best = at;
        kind = static_cast<MarkerKind>(k);
      }
    }
    if (best == npos) break;
    cuts.push_back({best, kind});
    const std::size_t after = best + MarkerLength(kind);
    pos = after;
    if (kind == mkCmgr || kind == mkCmgl) {
      const Line header = LineAt(text, after);
      if (!header.ended) break;
      if (TextModeHeader(header.text, kind)) {
        const Line body = LineAt(text, header.next);
        if (!body.ended) break;
        pos = body.next;
      }
    }
  }
  return cuts;
}

// Whether the piece of `text` at [begin, end) of that kind holds all it
// will ever hold.
bool PieceComplete(const AnsiString& text, std::size_t begin, std::size_t end, MarkerKind kind) {
  const AnsiString piece = text.substr(begin, end - begin);
  const std::size_t after = MarkerLength(kind);
  switch (kind) {
    case mkRing:
    case mkClip:
    case mkCmti:
      return piece.find('\n', after) != npos;
    case mkError: {
      // A plain ERROR is a final result by itself; "+CMS ERROR" and
      // "+CME ERROR" go on with the error's number up to the line end.
      if (piece.find('\n', after) != npos) return true;
      return !(begin >= 5 && (MatchesAt(text, begin - 5, "+CMS ") || MatchesAt(text, begin - 5, "+CME ")));
    }
    case mkCmgr:
    case mkCmgl: {
      const Line header = LineAt(piece, after);
      return header.ended && LineAt(piece, header.next).ended;
    }
    case mkCount:
      break;
  }
  return true;
}

// The length of the longest end of `text`, starting at or after `from`,
// that is the start of a marker cut short.
std::size_t PartialMarkerAtEnd(const AnsiString& text, std::size_t from) {
  std::size_t longest = 0;
  for (const char* marker : kMarkers) {
    const std::size_t n = std::strlen(marker);
    for (std::size_t k = std::min(n - 1, text.size()); k > longest; --k) {
      const std::size_t at = text.size() - k;
      if (at < from) continue;
      bool match = true;
      for (std::size_t i = 0; i < k && match; ++i) match = Up(text[at + i]) == marker[i];
      if (match) {
        longest = k;
        break;
      }
    }
  }
  return longest;
}

struct Piece {
  AnsiString text;
  std::size_t begin;
  MarkerKind kind;
};

// Cuts `text` into pieces. Unless `final`, an incomplete last piece (or a
// marker cut short at the end) is left out and returned in `held`.
std::vector<Piece> SplitPieces(const AnsiString& text, bool final, AnsiString& held) {
  held.clear();
  const std::vector<Cut> cuts = CutAtMarkers(text);
  std::size_t end = text.size();
  std::size_t count = cuts.size();
  if (!final) {
    if (!cuts.empty() && !PieceComplete(text, cuts.back().begin, end, cuts.back().kind)) {
      held = text.substr(cuts.back().begin);
      end = cuts.back().begin;
      --count;
    } else {
      const std::size_t from = cuts.empty() ? 0 : cuts.back().begin + MarkerLength(cuts.back().kind);
      if (std::size_t k = PartialMarkerAtEnd(text, from); k > 0) {
        held = text.substr(text.size() - k);
        end = text.size() - k;
      }
    }
  }
  std::vector<Piece> pieces;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t stop = i + 1 < count ? cuts[i + 1].begin : end;
    pieces.push_back({text.substr(cuts[i].begin, stop - cuts[i].begin), cuts[i].begin, cuts[i].kind});
  }
  return pieces;
}

// The final results ("OK" at the start of a line, or "ERROR" anywhere) of
// `text` that end after position `from`: where each starts, in order.
std::vector<std::size_t> FinalResults(const AnsiString& text, std::size_t from) {
  std::vector<std::size_t> found;
  for (std::size_t at = from >= 4 ? from - 4 : 0; (at = FindNoCase(text, "ERROR", at)) != npos; ++at)
    if (at + 5 > from) found.push_back(at);
  for (std::size_t at = from >= 1 ? from - 1 : 0; (at = FindNoCase(text, "OK", at)) != npos; ++at)
    if (at + 2 > from && (at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r')) found.push_back(at);
  std::sort(found.begin(), found.end());
  return found;
}

MarkerKind KindOf(const AnsiString& piece) {
  for (int k = 0; k < mkCount; ++k)
    if (MatchesAt(piece, 0, kMarkers[k])) return static_cast<MarkerKind>(k);
  return mkCount;
}

int IntOr(const AnsiString& text, int fallback) {
  int value;
  return TryStrToInt(Trim(text), value) ? value : fallback;
}

}  // namespace

// ---------------------------------------------------------------- state

struct TVeskGSM::TDispatchState {
  // The incomplete piece held back, and when it last grew.
  AnsiString held;
  SteadyClock::time_point heldAt;
  // When the held piece is a read answer: the read it answers.
  bool heldIsAnswer = false;
  AnsiString heldLocation;
  int heldIndex = -1;

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
  using PartKey = std::tuple<AnsiString, int, int>;
  struct PartRecord {
    AnsiString location;
    std::map<int, int> indexes;  // part number -> stored index
  };
  std::map<PartKey, PartRecord> parts;
  std::deque<PartKey> partOrder;  // oldest first, for the cap
};

// Puts the component's connection on the calling thread's chain of
// dispatches for the life of one; takes it off without touching the
// component. A connection outlives its component, so after an event the
// dispatcher asks it, not the component, whether a handler destroyed the
// component meanwhile.
class TVeskGSM::TDispatchScope {
 public:
  explicit TDispatchScope(const std::shared_ptr<TConnection>& link);
  ~TDispatchScope();
  TDispatchScope(const TDispatchScope&) = delete;
  TDispatchScope& operator=(const TDispatchScope&) = delete;

  // The calling thread's innermost dispatch. A plain pointer: a
  // thread-local object with a destructor is torn down at thread exit in
  // an order that not every C++ runtime gets right (MinGW's frees its
  // storage first).
  static TDispatchScope*& Innermost() {
    static thread_local TDispatchScope* innermost = nullptr;
    return innermost;
  }

  std::shared_ptr<TConnection> link;
  TDispatchScope* outer;
};

TVeskGSM::TDispatchScope::TDispatchScope(const std::shared_ptr<TConnection>& l) : link(l), outer(Innermost()) {
  Innermost() = this;
}

TVeskGSM::TDispatchScope::~TDispatchScope() { Innermost() = outer; }

bool TVeskGSM::DispatchMayContinue() {
  // Touches nothing of *this: it may be gone. Every dispatch (ProcessAT,
  // HandleGSMEvents) has put its component's connection here.
  TDispatchScope* innermost = TDispatchScope::Innermost();
  return !innermost || !innermost->link->OwnerGone();
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

bool TVeskGSM::AnswerDue() const {
  std::lock_guard<std::mutex> lock(FDispatchLock);
  if (!FDispatch || !FDispatch->finalDue) return false;
  if (SteadyClock::now() - FDispatch->finalDueAt > GetClock()->RealDuration(kReadRequestLifeMs)) return false;
  // Read already, waiting to be taken?
  const AnsiString waiting = PeekReadBuffer();
  const std::uint64_t from = FDispatch->dueAt > FDispatch->taken ? FDispatch->dueAt - FDispatch->taken : 0;
  return from > waiting.size() || FinalResults(waiting, static_cast<std::size_t>(from)).empty();
}

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

// ---------------------------------------------------------------- the Part's methods

std::vector<AnsiString> TVeskGSM::GetTokens() { return {kMarkers, kMarkers + mkCount}; }

std::vector<AnsiString> TVeskGSM::ParseAT(const AnsiString& text) {
  AnsiString held;
  std::vector<AnsiString> out;
  for (Piece& piece : SplitPieces(text, true, held)) out.push_back(std::move(piece.text));
  return out;
}

void TVeskGSM::ProcessAT() {
  TDispatchScope scope(FLink);
  struct Bound {
    AnsiString location;
    int index = -1;
  };
  AnsiString text;
  std::vector<Piece> pieces;
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
    AnsiString combined;
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
    AnsiString held;
    pieces = SplitPieces(combined, final, held);
    bound.resize(pieces.size());

    // Read answers and final results, in the order they stand.
    while (!st.reads.empty() && now - st.reads.front().when > GetClock()->RealDuration(kReadRequestLifeMs))
      st.reads.pop_front();
    struct Event {
      std::size_t at;
      int piece;  // -1: a final result; pieces.size(): the held answer
    };
    std::vector<Event> events;
    for (std::size_t at : FinalResults(combined, seen)) events.push_back({at, -1});
    for (std::size_t i = 0; i < pieces.size(); ++i)
      if (pieces[i].kind == mkCmgr) events.push_back({pieces[i].begin, static_cast<int>(i)});
    const bool heldAnswer = !held.empty() && KindOf(held) == mkCmgr;
    if (heldAnswer) events.push_back({combined.size() - held.size(), static_cast<int>(pieces.size())});
    std::stable_sort(events.begin(), events.end(), [](const Event& x, const Event& y) { return x.at < y.at; });
    Bound heldBound;
    for (const Event& e : events) {
      const std::uint64_t at = base + e.at;
      if (e.piece < 0) {
        if (st.finalDue && at >= st.dueAt) st.finalDue = false;
        // A read whose command went out before this result, still without
        // an answer, has ended without one.
        if (!st.reads.empty() && st.reads.front().at <= at) st.reads.pop_front();
        continue;
      }
      Bound& b = e.piece < static_cast<int>(pieces.size()) ? bound[static_cast<std::size_t>(e.piece)] : heldBound;
      if (e.at == 0 && seen > 0 && st.heldIsAnswer) {
        // The answer held back before: its read was matched then.
        b = {st.heldLocation, st.heldIndex};
        continue;
      }
      if (!st.reads.empty() && st.reads.front().at <= at) {
        b = {st.reads.front().location, st.reads.front().index};
        st.reads.pop_front();
      }
    }
    st.heldIsAnswer = heldAnswer;
    st.heldLocation = heldBound.location;
    st.heldIndex = heldBound.index;
    st.held = std::move(held);
    if (!st.held.empty() && (!text.empty() || st.held.size() != seen)) st.heldAt = now;
  }
  if (!text.empty()) {
    OnReceive(this, UpperCase(text));
    if (!DispatchMayContinue()) return;
  }
  for (std::size_t i = 0; i < pieces.size(); ++i)
    if (!HandlePiece(pieces[i].text, bound[i].location, bound[i].index)) return;
}

bool TVeskGSM::HandleGSMEvents(const AnsiString& piece) {
  TDispatchScope scope(FLink);
  return HandlePiece(piece, AnsiString(), -1);
}

bool TVeskGSM::HandlePiece(const AnsiString& piece, const AnsiString& readLocation, int readIndex) {
  const MarkerKind kind = KindOf(piece);
  const AnsiString rest = kind == mkCount ? AnsiString() : piece.substr(MarkerLength(kind));
  switch (kind) {
    case mkRing:
      OnRing(this, AnsiString());
      return DispatchMayContinue();

    case mkClip: {
      // The caller's number is the first quoted field.
      const std::size_t open = rest.find('"');
      const std::size_t close = open == npos ? npos : rest.find('"', open + 1);
      if (close == npos) return true;
      OnRing(this, rest.substr(open + 1, close - open - 1));
      return DispatchMayContinue();
    }

    case mkCmti: {
      AnsiString storage = "SM";
      int index = 0;
      const std::size_t open = rest.find('"');
      const std::size_t close = open == npos ? npos : rest.find('"', open + 1);
      if (close != npos) {
        storage = rest.substr(open + 1, close - open - 1);
        const std::size_t comma = rest.find(',', close + 1);
        if (comma != npos) {
          // The index runs to the line end.
          const Line line = LineAt(rest, comma + 1);
          int value;
          if (TryStrToInt(Trim(line.text), value)) {
            index = value;
            if (FAutoReadNewMessage) {
              try {
                GetSMS(storage, index);
              } catch (const EVeskGSMException&) {
                // The port went away meanwhile: the notice is still told.
              }
              if (!DispatchMayContinue()) return false;
            }
          } else {
            index = -1;
          }
        }
      }
      OnNewMessage(this, storage, index);
      return DispatchMayContinue();
    }

    case mkCmgr:
      return HandleReadAnswer(piece, false, readLocation, readIndex);

    case mkCmgl:
      return HandleReadAnswer(piece, true, AnsiString(), -1);

    case mkError: {
      OnError(this, piece);
      return DispatchMayContinue();
    }

    case mkCount:
      break;
  }
  return true;
}

bool TVeskGSM::HandleReadAnswer(const AnsiString& piece, bool listing, AnsiString location, int index) {
  const MarkerKind kind = listing ? mkCmgl : mkCmgr;
  const AnsiString after = piece.substr(MarkerLength(kind));
  const Line header = LineAt(after, 0);
  const Line next = header.ended ? LineAt(after, header.next) : Line{};
  const bool textMode = TextModeHeader(header.text, kind);

  // Where the message is stored: a listing entry carries its index; a
  // read answer comes with the read it answers.
  AnsiString fields = Trim(header.text);
  if (listing) {
    const std::size_t comma = fields.find(',');
    index = IntOr(comma == npos ? fields : fields.substr(0, comma), -1);
    fields = comma == npos ? AnsiString() : Trim(fields.substr(comma + 1));
    std::lock_guard<std::mutex> lock(FDispatchLock);
    location = DispatchState().listLocation;
  }

  if (textMode) {
    codec::TextSMS parsed = codec::TextSMSToString(fields + "\r\n" + next.text + "\r\n");
    std::vector<int> indexes;
    if (index >= 0) indexes.push_back(index);
    return ReportMessage(parsed.Text, parsed.PhoneNumber, parsed.CenterNumber, parsed.TimeStamp.value_or(0),
                         parsed.TimeZone.value_or(0), parsed.Status, listing, location, std::move(indexes));
  }

  // PDU mode: "<stat>,[<alpha>],<length>", then the PDU line.
  const std::size_t comma = fields.find(',');
  const int status = comma == npos ? -1 : IntOr(fields.substr(0, comma), -1);
  const AnsiString pdu = Trim(next.text);
  if (pdu.empty()) return true;

  codec::DecodedSMS decoded;
  try {
    decoded = DecodeDeliverPDU(pdu);
  } catch (const std::exception& e) {
    decoded.Error = e.what();
  } catch (...) {
    decoded.Error = "PDU could not be decoded";
  }
  if (!decoded.Error.empty()) {
    OnError(this, piece);
    return DispatchMayContinue();
  }

  std::vector<int> indexes;
  if (decoded.PartCount > 0) {
    // A part of a long message: remember where it is stored; the part
    // that completes the message reports them all.
    std::lock_guard<std::mutex> lock(FDispatchLock);
    TDispatchState& st = DispatchState();
    const TDispatchState::PartKey key{decoded.PhoneNumber, decoded.PartReference, decoded.PartCount};
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
                       decoded.TimeZone.value_or(0), status, listing, location, std::move(indexes));
}

bool TVeskGSM::ReportMessage(const WideString& text, const AnsiString& phone, const AnsiString& centre,
                             TDateTime stamp, int zone, int status, bool listing, const AnsiString& location,
                             std::vector<int> indexes) {
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
  struct Restore {
    TVeskGSM& self;
    AnsiString& location;
    std::vector<int>& indexes;
    bool listing;
    ~Restore() {
      if (!TVeskGSM::DispatchMayContinue()) return;
      self.FIsListing = listing;
      std::lock_guard<std::mutex> lock(self.FDispatchLock);
      TDispatchState& st = self.DispatchState();
      st.reportLocation = std::move(location);
      st.reportIndexes = std::move(indexes);
    }
  } restore{*this, previousLocation, previousIndexes, wasListing};
  OnReadMessage(this, text, phone, centre, stamp, zone, status);
  return DispatchMayContinue();
}

}  // namespace vesk
