// libFuzzer target: the user data header as the SMS-DELIVER decoder reads
// it, element by element (concatenation with 8- and 16-bit references in
// any position, national language single and locking shift, anything
// else), with a reassembly collection that lives across inputs, and the
// GSM text conversion under every table value a caller may pass.
//
// The input is laid out so that the fuzzer spends its effort on the
// header rather than on the fields before it:
//   byte 0: data coding scheme
//   byte 1: bits 0-1 message type (2 is read as 0), bits 3-4 validity
//           period format, bit 5 "no header indicator", bits 6-7 a table
//   byte 2: user data length
//   byte 3: header length (UDHL)
//   then the header's octets (as many as are left, up to UDHL), and the
//   rest as user data.
// Neither the decoder nor the conversion may crash, raise or read past its
// input; a failed PDU comes back skipped and empty, its text well-formed
// UTF-16, the collection stays
// within its cap, and a conversion never yields more characters than codes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/Alphabet.h"
#include "codec/Deliver.h"
#include "codec/Hex.h"
#include "fuzz/FuzzChecks.h"
#include "incoming/Reassembly.h"

namespace {

void AppendOctet(std::string& pdu, unsigned v) { vesk::codec::AppendHexOctet(pdu, v & 0xFF); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  static vesk::TConcatenatedSMSCollection parts;
  static vesk::TDateTime now = 45000.0;
  now += 1.0 / 86400.0;
  const vesk::codec::ReassemblyLimits limits{3600, 8};

  const unsigned dcs = data[0];
  const unsigned flags = data[1];
  unsigned type = flags & 0x03;
  if (type == 2) type = 0;
  const unsigned validity = (flags >> 3) & 0x03;
  const bool header = (flags & 0x20) == 0;
  const std::size_t udhl = data[3];
  const std::size_t headerOctets = std::min(udhl, size - 4);

  std::string pdu = "00";  // no service centre
  AppendOctet(pdu, type | (validity << 3) | (header ? 0x40 : 0x00));
  if (type == 1) pdu += "00";                // TP-MR
  pdu += "0B91" "4477001122F3" "00";         // TP-OA (TP-DA), TP-PID
  AppendOctet(pdu, dcs);
  if (type != 1 || validity == 3) pdu += "91304151906280";
  else if (validity == 2) pdu += "AA";
  else if (validity == 1) pdu += "01000000000000";
  AppendOctet(pdu, data[2]);
  if (header) AppendOctet(pdu, static_cast<unsigned>(udhl));
  vesk::codec::AppendHexOctets(pdu, std::string(reinterpret_cast<const char*>(data) + 4, headerOctets));
  const std::string userData(reinterpret_cast<const char*>(data) + 4 + headerOctets, size - 4 - headerOctets);
  vesk::codec::AppendHexOctets(pdu, userData);

  const vesk::codec::DecodedSMS decoded = vesk::codec::PDUSMSToString(pdu, &parts, now, limits);
  if (!decoded.Error.empty() && (!decoded.Skip || !decoded.Text.empty())) __builtin_trap();
  if (parts.Count() > limits.MaxEntries) __builtin_trap();
  if (!vesk::fuzz::WellFormedUtf16(decoded.Text)) __builtin_trap();

  // Every table value, in range or not, on the raw octets as codes.
  const auto locking = static_cast<vesk::TNationalLanguageShiftTables>(flags >> 6 | (dcs & 0x0C));
  const auto single = static_cast<vesk::TNationalLanguageShiftTables>(dcs >> 4);
  const vesk::WideString text = vesk::codec::GSM7bitDefaultAlphabetToString(userData, locking, single);
  if (text.size() > userData.size()) __builtin_trap();
  return 0;
}
