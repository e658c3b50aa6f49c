// SMS-SUBMIT encoder (TS 23.040 9.2.2.2): the PDU text a modem in PDU mode
// takes after AT+CMGS, with its TPDU length.
#pragma once

#include <cstdint>

#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk {

// The encoder's result.
struct TPDUSMS {
  // TPDU length in octets, as decimal digits: every octet except the
  // service centre part.
  AnsiString Length;
  // The whole PDU as upper-case hexadecimal, service centre part first.
  AnsiString Data;
};

// The values of the concatenation information element (TS 23.040
// 9.2.3.24.1) of one part of a long message. Fixed at construction.
class TUDH : public TObject {
 public:
  TUDH(std::uint8_t refNo, std::uint8_t idx, std::uint8_t cnt) : FReferenceNo(refNo), FIndex(idx), FCount(cnt) {}
  std::uint8_t ReferenceNo() const { return FReferenceNo; }
  std::uint8_t Index() const { return FIndex; }
  std::uint8_t Count() const { return FCount; }

 private:
  std::uint8_t FReferenceNo;
  std::uint8_t FIndex;
  std::uint8_t FCount;
};

}  // namespace vesk
