// libFuzzer target: the SMS-DELIVER decoder, with a reassembly collection
// that lives across inputs, and the text-mode parser. Neither may crash,
// raise or read past its input, and a failed PDU must come back skipped
// and empty; UCS2 text comes out as well-formed UTF-16.
//
// The first byte chooses how the rest is read: as the PDU text itself, as
// octets printed into a PDU (so that the fuzzer reaches past the hex
// checks), or as a text-mode answer.

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/Deliver.h"
#include "codec/Hex.h"
#include "fuzz/FuzzChecks.h"
#include "codec/TextMode.h"
#include "incoming/Reassembly.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static vesk::TConcatenatedSMSCollection parts;
  static vesk::TDateTime now = 45000.0;
  now += (data[0] >> 2) / 86400.0;  // time moves on, so entries expire

  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const vesk::codec::ReassemblyLimits limits{3600, 8};
  vesk::codec::DecodedSMS decoded;
  switch (data[0] % 3) {
    case 0:
      decoded = vesk::codec::PDUSMSToString(rest, &parts, now, limits);
      break;
    case 1: {
      std::string pdu;
      vesk::codec::AppendHexOctets(pdu, rest);
      decoded = vesk::codec::PDUSMSToString(pdu, &parts, now, limits);
      break;
    }
    default: {
      vesk::codec::TextSMSToString(rest);
      vesk::codec::ExtractTextDate(rest);
      int zone = 0;
      vesk::codec::ExtractTextTime(rest, zone);
      return 0;
    }
  }
  if (!decoded.Error.empty() && (!decoded.Skip || !decoded.Text.empty())) __builtin_trap();
  if (parts.Count() > limits.MaxEntries) __builtin_trap();
  if (!vesk::fuzz::WellFormedUtf16(decoded.Text)) __builtin_trap();
  return 0;
}
