// How a text goes as short messages: the encoding and the national
// language tables a sender chooses for it, the parts it takes, and the
// text of each part.
//
// With meAuto the choice is among the default alphabet, a single shift
// table, a locking shift table, a locking with a single shift table (of the
// same language or of two; TS 23.038 6.2.1.2, TS 23.040 9.2.3.24.15 and
// .16) from the allowed set, and UCS2: the one that takes the fewest
// parts, counting three header octets for each shift element, the
// concatenation element's five when the text is split, and an escaped
// character as two septets. Ties go to the simpler choice, in that order
// (default, single, locking, both, UCS2); among choices of one kind, to
// the one that leaves more room, then to the earlier table. With me7bit
// the choice is among the 7-bit ones only: the one that leaves the fewest
// characters to the replacement, then as above. me8bit and meUCS2 are
// taken as they are. With no table allowed, a text goes as it always has.
//
// Parts are cut at characters: an escaped character and a surrogate pair
// always stay in one part.
//
// Pure functions: any thread, no state.
#pragma once

#include <vector>

#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk {

// How a text would go.
struct TSMSInfo {
  // me7bit, me8bit or meUCS2; never meAuto.
  TMessageEncoding Encoding = me7bit;
  // The tables named in every part's header; stDefault: none (the default
  // alphabet, the extension table). Always stDefault unless 7-bit.
  TNationalLanguageShiftTables LockingShift = stDefault;
  TNationalLanguageShiftTables SingleShift = stDefault;
  // How many messages it takes (more than 255 cannot be sent).
  int Parts = 1;
  // What one part holds for text, behind its header: septets in 7-bit,
  // octets in 8-bit and UCS2.
  int UnitsPerPart = 160;
  // What still fits in the last part, in characters: septets in 7-bit (an
  // escaped character takes two), octets in 8-bit, UTF-16 units in UCS2.
  int Remaining = 160;
  // What the whole text takes, in the units of UnitsPerPart.
  int Units = 0;
  // me7bit: characters no table of the choice holds, which go as "?" (or,
  // with the default alphabet, through the system code page).
  int Replaced = 0;
};

namespace codec {

// TS 23.040 9.2.3.24: the octets of the header elements a sender writes.
constexpr int kConcatElementOctets = 5;  // IEI 00: reference, count, index
constexpr int kShiftElementOctets = 3;   // IEI 24 or 25: the language

// The septets one message holds for text behind a user data header of
// `headerOctets` octets (its length octet included; 0: no header): the
// header and its fill bits take whole septets of the 160.
int SeptetCapacity(int headerOctets);

// How the text would go, sent with `encoding` by a sender that may use the
// tables of `allowed` (stDefault in it means nothing).
TSMSInfo GetSMSInfo(const WideString& text, TMessageEncoding encoding,
                    TNationalLanguageShiftTablesSet allowed = TNationalLanguageShiftTablesSet());

// The same, and the text of each part: the whole text for one message,
// otherwise the parts in order, which joined give the text back.
struct MessagePlan {
  TSMSInfo Info;
  std::vector<WideString> Parts;
};
MessagePlan PlanMessage(const WideString& text, TMessageEncoding encoding,
                        TNationalLanguageShiftTablesSet allowed = TNationalLanguageShiftTablesSet());

}  // namespace codec

}  // namespace vesk
