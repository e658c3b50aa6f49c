// libFuzzer target: the SMS-STATUS-REPORT decoder, with and without the
// service centre address. It may never crash, raise or read past its
// input; a report that decodes has a reference and a status that are
// octets, text that is well-formed UTF-16, and (with its service centre
// address) is recognised as a report by IsStatusReportPDU.
//
// The first byte chooses how the rest is read: as the PDU text itself, or
// as octets printed into a PDU (so that the fuzzer reaches past the hex
// checks).

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/Hex.h"
#include "codec/StatusReport.h"
#include "fuzz/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string pdu = rest;
  if (data[0] & 1) {
    pdu.clear();
    vesk::codec::AppendHexOctets(pdu, rest);
  }
  const vesk::codec::StatusReportPDU r =
      (data[0] & 2) ? vesk::codec::DecodeStatusReportTpdu(pdu) : vesk::codec::DecodeStatusReport(pdu);
  if (r.Error == nullptr) {
    if (r.MessageReference < 0 || r.MessageReference > 255 || r.Status < 0 || r.Status > 255) __builtin_trap();
    if (!vesk::fuzz::WellFormedUtf16(r.Text)) __builtin_trap();
    if ((data[0] & 2) == 0 && !vesk::codec::IsStatusReportPDU(pdu)) __builtin_trap();
  }
  vesk::codec::SameRecipient(rest, r.Recipient);
  return 0;
}
