// What every fuzz target asserts about text that comes out of a decoder.
#pragma once

#include <cstddef>

#include "component/Framework.h"

namespace vesk::fuzz {

// Well-formed UTF-16: every high surrogate is followed by a low one and
// every low surrogate follows a high one.
inline bool WellFormedUtf16(const WideString& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

}  // namespace vesk::fuzz
