// Cutting a message text into the parts of a concatenated short message.
#pragma once

#include <vector>

#include "codec/MessagePlan.h"
#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk::sending {

// One message holds 160 septets, 140 octets of 8-bit data or 70 UCS2 code
// units; behind the six-octet concatenation header 153, 134 and 67.
constexpr int kSingleSeptets = 160;
constexpr int kPartSeptets = 153;
constexpr int kSingleOctets = 140;
constexpr int kPartOctets = 134;
constexpr int kSingleUcs2 = 70;
constexpr int kPartUcs2 = 67;
// The concatenation element counts parts in one octet.
constexpr int kMaxParts = 255;

// meAuto resolved for a text: 7-bit when every character fits the GSM
// alphabet, UCS2 otherwise. Other encodings stay.
TMessageEncoding ResolveEncoding(const WideString& text, TMessageEncoding encoding);

// How much of one message the text takes in the resolved encoding: GSM
// codes in 7-bit (an extension character takes two; a character the
// encoder drops takes none), UTF-16 code units otherwise.
int MessageUnits(const WideString& text, TMessageEncoding resolved);

// Whether the text, encoded as the encoder will encode it (meAuto decides
// by the text itself), fits one message, behind the header when `header`.
bool FitsOneMessage(const WideString& text, TMessageEncoding encoding, bool header);

// The texts to send: the whole text when it fits one message, otherwise
// parts filled up to the part size of the whole text's encoding. Sizes
// count septets in 7-bit, so an extension character never straddles two
// parts, and a surrogate pair always stays in one part; the parts joined
// give the text back. Every part goes in the encoding the whole text
// needs (ResolveEncoding of the whole text), as receivers expect of one
// message: pass that encoding to the encoder for each part, not meAuto.
// False, with `error` set, when the text needs more than 255 parts.
bool SplitMessage(const WideString& text, TMessageEncoding encoding, std::vector<WideString>& parts,
                  AnsiString& error);

// The same for a sender that may use the national language tables of
// `allowed`: the plan gives the encoding and the tables every part goes
// in (TSMSInfo) and the part texts; an escaped character is never cut
// from its escape. With no table allowed the parts are the ones above.
bool SplitMessage(const WideString& text, TMessageEncoding encoding, TNationalLanguageShiftTablesSet allowed,
                  codec::MessagePlan& plan, AnsiString& error);

}  // namespace vesk::sending
