#include "tools/gateway/Message.h"

#include <algorithm>

#include "component/VeskGSM.h"

namespace vesk::gateway {

namespace {

// TS 23.038 6.2.1.1: the characters of the default alphabet's extension
// table, each sent as an escape and a code.
bool IsExtension(char16_t c) {
  switch (c) {
    case u'\f':
    case u'^':
    case u'{':
    case u'}':
    case u'\\':
    case u'[':
    case u'~':
    case u']':
    case u'|':
    case u'\u20AC': return true;
    default: return false;
  }
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Parts of `units`, each unit list entry the size of one character (1 or
// 2), none split: `single` fits one message, `part` one part.
int PartsFor(const std::vector<int>& sizes, int single, int part) {
  int total = 0;
  for (int s : sizes) total += s;
  if (total <= single) return 1;
  int parts = 1, used = 0;
  for (int s : sizes) {
    if (used + s > part) {
      ++parts;
      used = 0;
    }
    used += s;
  }
  return parts;
}

}  // namespace

std::string NormaliseNumber(const std::string& number) {
  std::string out;
  for (std::size_t i = 0; i < number.size(); ++i) {
    const char c = number[i];
    if (c >= '0' && c <= '9') {
      out += c;
    } else if (c == '+' && out.empty() && number.find_first_not_of(" \t") == i) {
      out += c;
    } else if (c == ' ' || c == '-' || c == '.' || c == '(' || c == ')') {
      continue;
    } else {
      throw InvalidMessage("invalid number \"" + number + "\": only digits, with an optional '+' first");
    }
  }
  const std::size_t digits = out.size() - (!out.empty() && out[0] == '+' ? 1 : 0);
  if (digits == 0) throw InvalidMessage("invalid number \"" + number + "\": no digits");
  if (digits > 20) throw InvalidMessage("invalid number \"" + number + "\": more than 20 digits");
  return out;
}

bool SameNumber(const std::string& a, const std::string& b) {
  auto digits = [](const std::string& s) {
    std::string d;
    for (char c : s)
      if (c >= '0' && c <= '9') d += c;
    const std::size_t first = d.find_first_not_of('0');
    return first == std::string::npos ? std::string() : d.substr(first);
  };
  const std::string x = digits(a), y = digits(b);
  if (x.empty() || y.empty()) return a == b;
  if (x == y) return true;
  const std::string& shorter = x.size() < y.size() ? x : y;
  const std::string& longer = x.size() < y.size() ? y : x;
  if (shorter.size() < 7) return false;
  return longer.compare(longer.size() - shorter.size(), shorter.size(), shorter) == 0;
}

int CountParts(const std::string& text, const std::string& encoding) {
  const WideString wide = Utf8ToWide(text);
  std::string resolved = encoding;
  if (resolved == "auto") {
    static TVeskGSM* const codec = new TVeskGSM();
    resolved = codec->IsGSM7bitDefaultAlphabet(wide) ? "7bit" : "ucs2";
  }
  std::vector<int> sizes;
  sizes.reserve(wide.size());
  if (resolved == "7bit") {
    for (char16_t c : wide) sizes.push_back(IsExtension(c) ? 2 : 1);
    return PartsFor(sizes, 160, 153);
  }
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (IsHighSurrogate(wide[i]) && i + 1 < wide.size()) {
      sizes.push_back(2);
      ++i;
    } else {
      sizes.push_back(1);
    }
  }
  if (resolved == "8bit") return PartsFor(sizes, 140, 134);
  return PartsFor(sizes, 70, 67);
}

void CheckNewMessage(NewMessage& m) {
  m.to = NormaliseNumber(m.to);
  if (m.text.empty()) throw InvalidMessage("the text is empty");
  if (m.encoding != "auto" && m.encoding != "7bit" && m.encoding != "8bit" && m.encoding != "ucs2")
    throw InvalidMessage("unknown encoding \"" + m.encoding + "\" (auto, 7bit, 8bit or ucs2)");
  if (Utf8ToWide(m.text).find(u'\uFFFD') != WideString::npos && m.text.find("\xEF\xBF\xBD") == std::string::npos)
    throw InvalidMessage("the text is not UTF-8");
  m.parts = CountParts(m.text, m.encoding);
  if (m.parts > 255)
    throw InvalidMessage("the text needs " + std::to_string(m.parts) + " parts; a message has at most 255");
  if (m.notBefore && m.notAfter && *m.notAfter <= *m.notBefore)
    throw InvalidMessage("not_after must come after not_before");
}

}  // namespace vesk::gateway
