#include "sending/Split.h"

#include "codec/Alphabet.h"

namespace vesk::sending {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// What one UTF-16 code unit takes in the resolved encoding.
int UnitCost(char16_t c, TMessageEncoding resolved) {
  switch (resolved) {
    case meAuto:
    case me7bit: {
      AnsiString codes;
      return codec::AppendGsmCodes(codes, c);
    }
    case me8bit:
    case meUCS2:
      return 1;
  }
  return 1;
}

void Limits(TMessageEncoding resolved, int& single, int& part) {
  switch (resolved) {
    case meAuto:
    case me7bit:
      single = kSingleSeptets;
      part = kPartSeptets;
      return;
    case me8bit:
      single = kSingleOctets;
      part = kPartOctets;
      return;
    case meUCS2:
      single = kSingleUcs2;
      part = kPartUcs2;
      return;
  }
}

}  // namespace

TMessageEncoding ResolveEncoding(const WideString& text, TMessageEncoding encoding) {
  if (encoding != meAuto) return encoding;
  return codec::IsGSM7bitDefaultAlphabet(text) ? me7bit : meUCS2;
}

int MessageUnits(const WideString& text, TMessageEncoding resolved) {
  int units = 0;
  for (char16_t c : text) units += UnitCost(c, resolved);
  return units;
}

bool FitsOneMessage(const WideString& text, TMessageEncoding encoding, bool header) {
  const TMessageEncoding resolved = ResolveEncoding(text, encoding);
  int single = 0, part = 0;
  Limits(resolved, single, part);
  return MessageUnits(text, resolved) <= (header ? part : single);
}

bool SplitMessage(const WideString& text, TMessageEncoding encoding, std::vector<WideString>& parts,
                  AnsiString& error) {
  parts.clear();
  const TMessageEncoding resolved = ResolveEncoding(text, encoding);
  int single = 0, partSize = 0;
  Limits(resolved, single, partSize);
  if (MessageUnits(text, resolved) <= single) {
    parts.push_back(text);
    return true;
  }
  // Greedy filling, one character (a surrogate pair counts as one) at a time.
  std::size_t start = 0;
  int used = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) length = 2;
    int cost = 0;
    for (std::size_t k = i; k < i + length; ++k) cost += UnitCost(text[k], resolved);
    if (used + cost > partSize && i > start) {
      parts.push_back(text.substr(start, i - start));
      start = i;
      used = 0;
    }
    used += cost;
    i += length;
  }
  if (start < text.size()) parts.push_back(text.substr(start));
  if (parts.size() > static_cast<std::size_t>(kMaxParts)) {
    error = "the text needs " + IntToStr(static_cast<long long>(parts.size())) + " parts; at most " +
            IntToStr(kMaxParts) + " can be sent";
    parts.clear();
    return false;
  }
  return true;
}

}  // namespace vesk::sending
