// libFuzzer target: ExtractStrings, which cuts a command's answer into the
// lines ExecuteATCommand hands back. The first two bytes say how many of
// the following bytes are separators and white space; the rest is the text
// (up to its first NUL, as the function reads a C string). Nothing may
// crash, raise or read past the text; the count returned is the number of
// lines added; no line is empty, none holds a line end outside quotes, and
// together they are no longer than the text.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "component/VeskGSM.h"

namespace {

class Exposed : public vesk::TVeskGSM {
 public:
  using vesk::TVeskGSM::ExtractStrings;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static Exposed* gsm = new Exposed();  // never opened
  std::size_t pos = 2;
  const std::size_t nSeps = std::min<std::size_t>(data[0] % 4, size - pos);
  const std::string seps(reinterpret_cast<const char*>(data) + pos, nSeps);
  pos += nSeps;
  const std::size_t nWhite = std::min<std::size_t>(data[1] % 4, size - pos);
  const std::string white(reinterpret_cast<const char*>(data) + pos, nWhite);
  pos += nWhite;
  // A buffer of exactly the text and its terminator: a read past it is
  // AddressSanitizer's to catch.
  const std::size_t n = size - pos;
  char* text = new char[n + 1];
  std::memcpy(text, data + pos, n);
  text[n] = '\0';
  const std::size_t length = std::strlen(text);
  try {
    vesk::TStringList list;
    const int count = gsm->ExtractStrings(seps, white, text, &list);
    if (count != list.Count()) __builtin_trap();
    std::size_t total = 0;
    for (int i = 0; i < list.Count(); ++i) {
      const vesk::AnsiString line = vesk::WideToAnsi(list[i]);
      if (line.empty()) __builtin_trap();
      total += line.size();
    }
    if (total > length) __builtin_trap();
  } catch (...) {
    __builtin_trap();
  }
  delete[] text;
  return 0;
}
