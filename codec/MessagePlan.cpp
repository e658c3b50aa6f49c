#include "codec/MessagePlan.h"

#include <algorithm>
#include <array>
#include <tuple>

#include "codec/Alphabet.h"

namespace vesk::codec {

namespace {

// TS 23.040 9.2.3.16: 140 octets of user data; 160 septets of 7-bit text,
// 70 UTF-16 units of UCS2 without a header.
constexpr int kUserDataOctets = 140;
constexpr int kSeptets = 160;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The header octets (its length octet included) of a message written with
// the two tables, in one part or as a part of a long message.
int HeaderOctets(TNationalLanguageShiftTables locking, TNationalLanguageShiftTables single, bool concatenated) {
  const int elements = (locking != stDefault ? kShiftElementOctets : 0) +
                       (single != stDefault ? kShiftElementOctets : 0) + (concatenated ? kConcatElementOctets : 0);
  return elements == 0 ? 0 : elements + 1;
}

// One way of writing the text, with what it comes to.
struct Choice {
  TMessageEncoding encoding = me7bit;
  TNationalLanguageShiftTables locking = stDefault;
  TNationalLanguageShiftTables single = stDefault;
  int rank = 0;  // 0 default, 1 single, 2 locking, 3 both, 4 UCS2
  int parts = 0;
  int units = 0;
  int replaced = 0;
  int lastUsed = 0;
  int capacity = 0;  // of one part, in the choice's units
};

// The characters of the text as the choice sees them: for each UTF-16
// unit, what the tables hold of it (nullptr: none), and whether it starts a
// surrogate pair that must not be cut. Short texts keep that on the stack.
struct Text {
  explicit Text(const WideString& s) : text(s) {
    if (s.size() > local.size()) heap.resize(s.size());
    codes = s.size() > local.size() ? heap.data() : local.data();
    NationalCodesOf(s.data(), s.size(), codes);
  }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  // Where the piece at i ends: after the pair when i starts one.
  std::size_t PieceEnd(std::size_t i) const {
    return IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? i + 2 : i + 1;
  }
  const WideString& text;
  const NationalCodes** codes = nullptr;
  std::array<const NationalCodes*, 320> local;
  std::vector<const NationalCodes*> heap;
};

// The septets of unit i written with the two tables, and whether a table
// holds it.
int SeptetCost(const Text& t, std::size_t i, unsigned lockingBit, unsigned singleBit, bool lockingIsDefault,
               bool& held) {
  if (const NationalCodes* e = t.codes[i]) {
    held = true;
    if (e->lockingMask & lockingBit) return 1;
    if (e->singleMask & singleBit) return 2;
  }
  held = false;
  if (!lockingIsDefault) return 1;  // "?"
  AnsiString codes;
  return AppendGsmCodes(codes, t.text[i]);  // through the code page, as ever
}

// What a 7-bit choice costs each unit: septets, through its tables.
struct SevenBitCost {
  SevenBitCost(const Text& text, TNationalLanguageShiftTables locking, TNationalLanguageShiftTables single)
      : t(text), lockingBit(1u << locking), singleBit(1u << single), lockingIsDefault(locking == stDefault) {}
  int operator()(std::size_t i, bool& held) const {
    return SeptetCost(t, i, lockingBit, singleBit, lockingIsDefault, held);
  }
  const Text& t;
  unsigned lockingBit, singleBit;
  bool lockingIsDefault;
};

// What 8-bit and UCS2 cost each unit: one (an octet, or a UTF-16 unit).
struct UnitCost {
  int operator()(std::size_t, bool& held) const {
    held = true;
    return 1;
  }
};

// The first pass over a choice: what the whole text takes and how many
// characters its tables lack. With `stopAtReplaced` it stops at the first
// such character (the choice is then out); false then.
template <class Cost>
bool Sum(const Text& t, const Cost& cost, Choice& c, bool stopAtReplaced) {
  int total = 0, replaced = 0;
  for (std::size_t i = 0; i < t.text.size(); ++i) {
    bool held = true;
    total += cost(i, held);
    if (!held) {
      ++replaced;
      if (stopAtReplaced) {
        c.replaced = replaced;
        return false;
      }
    }
  }
  c.units = total;
  c.replaced = replaced;
  return true;
}

// The parts of a choice whose sum is known: one when it fits one message;
// otherwise cut greedily, a piece (a character, or a surrogate pair) at a
// time, with `cuts` receiving where each part after the first starts.
// Stops, the choice then being out, once it takes more than `maxParts`.
template <class Cost>
void Split(const Text& t, const Cost& cost, int single, int part, Choice& c, std::vector<std::size_t>* cuts,
           int maxParts = 1 << 30) {
  if (c.units <= single) {
    c.parts = 1;
    c.capacity = single;
    c.lastUsed = c.units;
    return;
  }
  c.capacity = part;
  c.parts = 1;
  int used = 0;
  const std::size_t n = t.text.size();
  for (std::size_t i = 0; i < n;) {
    const std::size_t end = t.PieceEnd(i);
    int piece = 0;
    for (std::size_t k = i; k < end; ++k) {
      bool held = true;
      piece += cost(k, held);
    }
    if (used + piece > part && used > 0) {
      if (++c.parts > maxParts) return;
      if (cuts != nullptr) cuts->push_back(i);
      used = 0;
    }
    used += piece;
    i = end;
  }
  c.lastUsed = used;
}

int SingleCapacity(const Choice& c) { return SeptetCapacity(HeaderOctets(c.locking, c.single, false)); }
int PartCapacity(const Choice& c) { return SeptetCapacity(HeaderOctets(c.locking, c.single, true)); }

void LayOutSevenBit(const Text& t, Choice& c, std::vector<std::size_t>* cuts) {
  const SevenBitCost cost(t, c.locking, c.single);
  Sum(t, cost, c, false);
  Split(t, cost, SingleCapacity(c), PartCapacity(c), c, cuts);
}

void LayOutUnits(const Text& t, Choice& c, std::vector<std::size_t>* cuts) {
  // One unit a UTF-16 unit: an octet in 8-bit, two in UCS2.
  const int single = c.encoding == meUCS2 ? kUserDataOctets / 2 : kUserDataOctets;
  const int part = c.encoding == meUCS2 ? (kUserDataOctets - kConcatElementOctets - 1) / 2
                                        : kUserDataOctets - kConcatElementOctets - 1;
  Sum(t, UnitCost(), c, false);
  Split(t, UnitCost(), single, part, c, cuts);
}

// Orders choices: fewer replaced characters, fewer parts, the simpler kind,
// more room (fewer units), then the one met first.
bool Better(const Choice& a, const Choice& b) {
  return std::make_tuple(a.replaced, a.parts, a.rank, a.units) < std::make_tuple(b.replaced, b.parts, b.rank, b.units);
}

// At most 1 + 13 single + 12 locking + 12 x 13 pairs of tables.
constexpr std::size_t kMaxChoices = 1 + 2 * kNationalTableCount + kNationalTableCount * kNationalTableCount;

Choice Choose(const Text& t, TMessageEncoding encoding, TNationalLanguageShiftTablesSet allowed,
              std::vector<std::size_t>* cuts) {
  Choice best;
  best.encoding = encoding;
  if (encoding == me8bit || encoding == meUCS2) {
    LayOutUnits(t, best, cuts);
    return best;
  }
  bool found = false;
  // First the sums, kind by kind: a choice that fits one message is
  // settled at once; the others wait, since one message of a later kind
  // beats them all.
  struct Waiting {  // no initializers: the array is not written ahead
    TNationalLanguageShiftTables locking, single;
    int rank, units, replaced;
  };
  std::array<Waiting, kMaxChoices> waiting;
  std::size_t waitingCount = 0;
  auto consider = [&](TNationalLanguageShiftTables locking, TNationalLanguageShiftTables single, int rank) {
    // Once a choice takes one message, no choice of a later kind can do
    // better (with meAuto nothing is replaced either way).
    if (encoding == meAuto && found && best.parts == 1 && rank > best.rank) return false;
    Choice c;
    c.locking = locking;
    c.single = single;
    c.rank = rank;
    // With meAuto a choice that lacks a character is out at once.
    if (!Sum(t, SevenBitCost(t, locking, single), c, encoding == meAuto)) return true;
    if (c.units <= SingleCapacity(c)) {
      Split(t, SevenBitCost(t, locking, single), SingleCapacity(c), PartCapacity(c), c, nullptr);
      if (!found || Better(c, best)) {
        best = c;
        found = true;
      }
    } else {
      waiting[waitingCount++] = Waiting{locking, single, rank, c.units, c.replaced};
    }
    return true;
  };
  auto allowedTable = [&](std::size_t table) {
    return allowed.Contains(static_cast<TNationalLanguageShiftTables>(table));
  };
  auto lockingTable = [&](std::size_t table) {
    return allowedTable(table) && HasLockingTable(static_cast<TNationalLanguageShiftTables>(table));
  };
  bool going = consider(stDefault, stDefault, 0);
  for (std::size_t s = 1; going && s < kNationalTableCount; ++s)
    if (allowedTable(s)) going = consider(stDefault, static_cast<TNationalLanguageShiftTables>(s), 1);
  for (std::size_t l = 1; going && l < kNationalTableCount; ++l)
    if (lockingTable(l)) going = consider(static_cast<TNationalLanguageShiftTables>(l), stDefault, 2);
  for (std::size_t l = 1; going && l < kNationalTableCount; ++l) {
    if (!lockingTable(l)) continue;
    for (std::size_t s = 1; going && s < kNationalTableCount; ++s)
      if (allowedTable(s))
        going = consider(static_cast<TNationalLanguageShiftTables>(l), static_cast<TNationalLanguageShiftTables>(s), 3);
  }
  // Then the long ones, each cut only when it might still win: it takes at
  // least two parts, and at least its septets over a part's capacity.
  for (std::size_t i = 0; i < waitingCount; ++i) {
    Choice c;
    c.locking = waiting[i].locking;
    c.single = waiting[i].single;
    c.rank = waiting[i].rank;
    c.units = waiting[i].units;
    c.replaced = waiting[i].replaced;
    const int part = PartCapacity(c);
    Choice least = c;
    least.parts = std::max(2, (c.units + part - 1) / part);
    if (found && !Better(least, best)) continue;
    Split(t, SevenBitCost(t, c.locking, c.single), SingleCapacity(c), part, c, nullptr,
          found && c.replaced == best.replaced ? best.parts : 1 << 30);
    if (!found || Better(c, best)) {
      best = c;
      found = true;
    }
  }
  // UCS2 only when it takes fewer parts, which one 7-bit message never
  // does.
  if (encoding == meAuto && (!found || best.parts > 1)) {
    Choice ucs2{meUCS2, stDefault, stDefault, 4};
    LayOutUnits(t, ucs2, nullptr);
    if (!found || ucs2.parts < best.parts) best = ucs2;
  }
  if (cuts != nullptr && best.parts > 1) {
    // The choice once more, for its cuts.
    Choice again = best;
    if (again.encoding == me7bit)
      LayOutSevenBit(t, again, cuts);
    else
      LayOutUnits(t, again, cuts);
  }
  return best;
}

TSMSInfo InfoOf(const Choice& c) {
  TSMSInfo info;
  info.Encoding = c.encoding;
  info.LockingShift = c.locking;
  info.SingleShift = c.single;
  info.Parts = c.parts;
  info.Replaced = c.replaced;
  // A UCS2 choice counts UTF-16 units; a part holds two octets each.
  const int octetsPerUnit = c.encoding == meUCS2 ? 2 : 1;
  info.UnitsPerPart = octetsPerUnit * c.capacity;
  info.Units = octetsPerUnit * c.units;
  info.Remaining = c.capacity - c.lastUsed;
  return info;
}

}  // namespace

int SeptetCapacity(int headerOctets) {
  if (headerOctets <= 0) return kSeptets;
  return kSeptets - (headerOctets * 8 + 6) / 7;
}

TSMSInfo GetSMSInfo(const WideString& text, TMessageEncoding encoding, TNationalLanguageShiftTablesSet allowed) {
  const Text t(text);
  return InfoOf(Choose(t, encoding, allowed, nullptr));
}

MessagePlan PlanMessage(const WideString& text, TMessageEncoding encoding, TNationalLanguageShiftTablesSet allowed) {
  const Text t(text);
  std::vector<std::size_t> cuts;
  MessagePlan plan;
  plan.Info = InfoOf(Choose(t, encoding, allowed, &cuts));
  std::size_t from = 0;
  plan.Parts.reserve(cuts.size() + 1);
  for (std::size_t cut : cuts) {
    plan.Parts.push_back(text.substr(from, cut - from));
    from = cut;
  }
  plan.Parts.push_back(text.substr(from));
  return plan;
}

}  // namespace vesk::codec
