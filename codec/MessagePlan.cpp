#include "codec/MessagePlan.h"

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
  const int elements = (locking != stDefault ? kShiftElementOctets : 0) + (single != stDefault ? kShiftElementOctets : 0) +
                       (concatenated ? kConcatElementOctets : 0);
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
// surrogate pair that must not be cut.
struct Text {
  explicit Text(const WideString& s) : text(s), codes(s.size()) {
    for (std::size_t i = 0; i < s.size(); ++i) codes[i] = NationalCodesOf(s[i]);
  }
  // Where the piece at i ends: after the pair when i starts one.
  std::size_t PieceEnd(std::size_t i) const {
    return IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? i + 2 : i + 1;
  }
  const WideString& text;
  std::vector<const NationalCodes*> codes;
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

// How far to lay a choice out: all of it, or only while it can still be
// chosen (no character replaced, no more parts than `parts`).
struct Bound {
  bool stopAtReplaced = false;
  int parts = 1 << 30;
};

// Lays the text out in parts: `cost(i, held)` the units of UTF-16 unit i.
// With `cuts`, where each part after the first starts. Past the bound it
// stops, the choice then being out of the running (replaced or parts
// beyond it).
template <class Cost>
void Layout(const Text& t, int single, int part, Cost cost, Choice& c, std::vector<std::size_t>* cuts,
            Bound bound = {}) {
  const std::size_t n = t.text.size();
  std::vector<int> costs(n);
  int total = 0, replaced = 0;
  for (std::size_t i = 0; i < n; ++i) {
    bool held = true;
    costs[i] = cost(i, held);
    total += costs[i];
    if (!held) {
      ++replaced;
      if (bound.stopAtReplaced) {
        c.replaced = replaced;
        return;
      }
    }
  }
  c.units = total;
  c.replaced = replaced;
  if (total <= single) {
    c.parts = 1;
    c.capacity = single;
    c.lastUsed = total;
    return;
  }
  c.capacity = part;
  c.parts = 1;
  int used = 0;
  for (std::size_t i = 0; i < n;) {
    const std::size_t end = t.PieceEnd(i);
    int piece = 0;
    for (std::size_t k = i; k < end; ++k) piece += costs[k];
    if (used + piece > part && used > 0) {
      if (++c.parts > bound.parts) return;
      if (cuts != nullptr) cuts->push_back(i);
      used = 0;
    }
    used += piece;
    i = end;
  }
  c.lastUsed = used;
}

void LayOutSevenBit(const Text& t, Choice& c, std::vector<std::size_t>* cuts, Bound bound = {}) {
  const unsigned lockingBit = 1u << c.locking, singleBit = 1u << c.single;
  const bool lockingIsDefault = c.locking == stDefault;
  Layout(
      t, SeptetCapacity(HeaderOctets(c.locking, c.single, false)), SeptetCapacity(HeaderOctets(c.locking, c.single, true)),
      [&](std::size_t i, bool& held) { return SeptetCost(t, i, lockingBit, singleBit, lockingIsDefault, held); }, c, cuts,
      bound);
}

void LayOutUnits(const Text& t, Choice& c, std::vector<std::size_t>* cuts) {
  // One unit a UTF-16 unit: an octet in 8-bit, two in UCS2.
  const int single = c.encoding == meUCS2 ? kUserDataOctets / 2 : kUserDataOctets;
  const int part = c.encoding == meUCS2 ? (kUserDataOctets - kConcatElementOctets - 1) / 2
                                        : kUserDataOctets - kConcatElementOctets - 1;
  Layout(t, single, part, [](std::size_t, bool&) { return 1; }, c, cuts);
}

// Orders choices: fewer replaced characters, fewer parts, the simpler kind,
// more room (fewer units), then the one met first.
bool Better(const Choice& a, const Choice& b) {
  return std::make_tuple(a.replaced, a.parts, a.rank, a.units) < std::make_tuple(b.replaced, b.parts, b.rank, b.units);
}

Choice Choose(const Text& t, TMessageEncoding encoding, TNationalLanguageShiftTablesSet allowed,
              std::vector<std::size_t>* cuts) {
  Choice best;
  best.encoding = encoding;
  if (encoding == me8bit || encoding == meUCS2) {
    LayOutUnits(t, best, cuts);
    return best;
  }
  // Every 7-bit choice, in the order of the kinds.
  std::array<Choice, 1 + 2 * kNationalTableCount + kNationalTableCount * kNationalTableCount> choices;
  std::size_t count = 0;
  choices[count++] = Choice{me7bit, stDefault, stDefault, 0};
  for (std::size_t s = 1; s < kNationalTableCount; ++s) {
    const auto single = static_cast<TNationalLanguageShiftTables>(s);
    if (allowed.Contains(single)) choices[count++] = Choice{me7bit, stDefault, single, 1};
  }
  for (std::size_t l = 1; l < kNationalTableCount; ++l) {
    const auto locking = static_cast<TNationalLanguageShiftTables>(l);
    if (allowed.Contains(locking) && HasLockingTable(locking)) choices[count++] = Choice{me7bit, locking, stDefault, 2};
  }
  for (std::size_t l = 1; l < kNationalTableCount; ++l) {
    const auto locking = static_cast<TNationalLanguageShiftTables>(l);
    if (!allowed.Contains(locking) || !HasLockingTable(locking)) continue;
    for (std::size_t s = 1; s < kNationalTableCount; ++s) {
      const auto single = static_cast<TNationalLanguageShiftTables>(s);
      if (allowed.Contains(single)) choices[count++] = Choice{me7bit, locking, single, 3};
    }
  }
  bool found = false;
  for (std::size_t i = 0; i < count; ++i) {
    Choice& c = choices[i];
    // With meAuto a choice that replaces a character, or takes more parts
    // than the best so far, is out: it need not be laid out to the end.
    Bound bound;
    if (encoding == meAuto) {
      bound.stopAtReplaced = true;
      if (found) bound.parts = best.parts;
    }
    LayOutSevenBit(t, c, nullptr, bound);
    if (encoding == meAuto && (c.replaced > 0 || (found && c.parts > best.parts))) continue;
    if (!found || Better(c, best)) {
      best = c;
      found = true;
    }
  }
  if (encoding == meAuto) {
    Choice ucs2{meUCS2, stDefault, stDefault, 4};
    LayOutUnits(t, ucs2, nullptr);
    if (!found || ucs2.parts < best.parts) best = ucs2;
  }
  if (cuts != nullptr) {
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
  const int room = c.capacity - c.lastUsed;
  switch (c.encoding) {
    case meAuto:
    case me7bit:
      info.UnitsPerPart = c.capacity;
      info.Units = c.units;
      info.Remaining = room;
      break;
    case me8bit:
      info.UnitsPerPart = c.capacity;
      info.Units = c.units;
      info.Remaining = room;
      break;
    case meUCS2:
      info.UnitsPerPart = 2 * c.capacity;
      info.Units = 2 * c.units;
      info.Remaining = room;
      break;
  }
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
