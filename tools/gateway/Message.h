// What a queued message must be before it is stored: a number the modem
// can dial, a text, and at most 255 parts. A message that is not is refused
// at queue time with the reason, and never stored.
#pragma once

#include <stdexcept>
#include <string>

#include "tools/gateway/Store.h"

namespace vesk::gateway {

class InvalidMessage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An optional '+' and 1 to 20 digits (TS 23.040 9.1.2.5), spaces, dashes,
// dots and brackets between them dropped. Throws InvalidMessage.
std::string NormaliseNumber(const std::string& number);

// Whether two numbers name the same phone, one perhaps in national and the
// other in international form ("01701234567" and "+491701234567"): the
// digits without leading zeros and country code agree on their last seven
// or more, the shorter being the end of the longer.
bool SameNumber(const std::string& a, const std::string& b);

// How many parts the text takes in an encoding ("auto", "7bit", "8bit",
// "ucs2"), counted as the library splits: 160 septets (an extension
// character takes two), 140 octets or 70 UTF-16 units in one message; 153,
// 134 or 67 per part of a long one, never splitting an extension character
// or a surrogate pair. `text` is UTF-8.
int CountParts(const std::string& text, const std::string& encoding);

// Normalises the number, checks the text, the encoding and the windows,
// and fills in `parts`. Throws InvalidMessage.
void CheckNewMessage(NewMessage& message);

}  // namespace vesk::gateway
