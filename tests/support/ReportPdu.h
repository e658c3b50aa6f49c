// SMS-STATUS-REPORT PDUs for scripted modems, laid out from TS 23.040
// 9.2.2.3 independently of the codec under test.
#pragma once

#include <string>

#include "support/Pdu.h"

namespace vesk::testing {

// A report on the part with TP-MR `reference` to `recipient` (digits,
// "+" first when international): received by the SC 2019-03-14 15:09:26
// +08, discharged a second later, TP-ST `status`. With `centre` the
// service centre address +15550100 comes first, as modems print it.
// The PDU's fields stand apart:
// clang-format off
inline std::string StatusReportPdu(int reference, int status, const std::string& recipient = "+15550100",
                                   bool centre = true) {
  const bool international = !recipient.empty() && recipient[0] == '+';
  const std::string digits = international ? recipient.substr(1) : recipient;
  std::string pdu = centre ? "0591" "51551000" : "";
  pdu += "06";  // TP-MTI 10, TP-MMS: no more messages
  pdu += HexOctets({reference, static_cast<int>(digits.size()), international ? 0x91 : 0x81});
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    pdu.push_back(i + 1 < digits.size() ? digits[i + 1] : 'F');
    pdu.push_back(digits[i]);
  }
  pdu += "91304151906280";  // TP-SCTS
  pdu += "91304151907280";  // TP-DT
  pdu += HexOctets({status});
  return pdu;
}
// clang-format on

// The TPDU length of a PDU that starts with its service centre address:
// what +CDS, +CMT and +CMGR give as <length>.
inline int TpduLength(const std::string& pdu) {
  const int centre = std::stoi(pdu.substr(0, 2), nullptr, 16);
  return static_cast<int>(pdu.size() / 2) - centre - 1;
}

}  // namespace vesk::testing
