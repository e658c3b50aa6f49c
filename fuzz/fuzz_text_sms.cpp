// libFuzzer target: the text-mode read answer parser, through the
// component's own TextSMSToString (the codec underneath it and the
// component's defaults for the fields the answer leaves out), with the
// date and time readers on their own. Nothing may crash, raise or read
// past the input; the text comes out as well-formed UTF-16 no longer than
// the input; the status is one of the five values.

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/TextMode.h"
#include "component/VeskGSM.h"
#include "fuzz/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static vesk::TVeskGSM* gsm = new vesk::TVeskGSM();  // never opened
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    vesk::AnsiString phone = "unchanged", centre = "unchanged";
    vesk::TDateTime stamp = 1.0;
    int zone = 99, status = 99;
    const vesk::WideString out = gsm->TextSMSToString(text, phone, centre, stamp, zone, status);
    if (!vesk::fuzz::WellFormedUtf16(out)) __builtin_trap();
    if (out.size() > text.size()) __builtin_trap();
    if (status < -1 || status > 3) __builtin_trap();
    if (phone.size() > text.size() && phone != "unchanged") __builtin_trap();

    const vesk::codec::TextSMS parsed = vesk::codec::TextSMSToString(text);
    if (parsed.Text != out) __builtin_trap();
    if (!vesk::fuzz::WellFormedUtf16(parsed.Text)) __builtin_trap();
    vesk::codec::ExtractTextDate(text);
    int z = 0;
    vesk::codec::ExtractTextTime(text, z);
  } catch (...) {
    __builtin_trap();  // no exception escapes the parser
  }
  return 0;
}
