#include "component/Enums.h"

#include <array>

namespace vesk {

namespace {

constexpr std::array<int, 22> kSpeeds = {75,    110,   134,   150,    300,    600,    1200,   1800,
                                         2400,  4800,  7200,  9600,   14400,  19200,  38400,  57600,
                                         115200, 128000, 230400, 256000, 460800, 921600};

constexpr const char* kStopBits[] = {"sb1Bit", "sb1_5Bits", "sb2Bits"};
constexpr const char* kDataWidth[] = {"dw5Bits", "dw6Bits", "dw7Bits", "dw8Bits"};
constexpr const char* kParity[] = {"pbNone", "pbOdd", "pbEven", "pbMark", "pbSpace"};
constexpr const char* kHw[] = {"hfNONE", "hfDTRDSR", "hfRTSCTS"};
constexpr const char* kSw[] = {"sfNONE", "sfXONXOFF"};
constexpr const char* kFormat[] = {"mfPDU", "mfText", "mfDefault"};
constexpr const char* kPriority[] = {"tpIdle",   "tpLowest",  "tpLower",       "tpNormal",
                                     "tpHigher", "tpHighest", "tpTimeCritical"};
constexpr const char* kNationalTables[] = {"stDefault", "stSpanish",   "stPortuguese", "stTurkish", "stBengali",
                                           "stGujarati", "stHindi",    "stKannada",    "stMalayalam", "stOriya",
                                           "stPunjabi", "stTamil",     "stTelugu",     "stUrdu"};

template <class E, std::size_t N>
bool FromTable(const AnsiString& name, const char* const (&table)[N], E& v) {
  for (std::size_t i = 0; i < N; ++i)
    if (name == table[i]) {
      v = static_cast<E>(i);
      return true;
    }
  return false;
}

}  // namespace

int BaudRateSpeed(TBaudRate v) { return v < kSpeeds.size() ? kSpeeds[v] : 0; }

AnsiString EnumName(TCommPort v) {
  if (v == spNone) return "spNone";
  if (v == spCustom) return "spCustom";
  return "spCOM" + IntToStr(v);
}

AnsiString EnumName(TBaudRate v) {
  if (v >= brCustom) return "brCustom";
  AnsiString digits = IntToStr(kSpeeds[v]);
  return "br" + AnsiString(6 - digits.size(), '0') + digits;
}

AnsiString EnumName(TStopBits v) { return kStopBits[v]; }
AnsiString EnumName(TDataWidth v) { return kDataWidth[v]; }
AnsiString EnumName(TParityBits v) { return kParity[v]; }
AnsiString EnumName(THwFlowControl v) { return kHw[v]; }
AnsiString EnumName(TSwFlowControl v) { return kSw[v]; }
AnsiString EnumName(TMessageFormat v) { return kFormat[v]; }
AnsiString EnumName(TThreadPriority v) { return kPriority[v]; }
AnsiString EnumName(TNationalLanguageShiftTables v) { return kNationalTables[v]; }

bool EnumFromName(const AnsiString& name, TCommPort& v) {
  for (int i = 0; i <= spCustom; ++i)
    if (EnumName(static_cast<TCommPort>(i)) == name) {
      v = static_cast<TCommPort>(i);
      return true;
    }
  return false;
}

bool EnumFromName(const AnsiString& name, TBaudRate& v) {
  for (int i = 0; i <= brCustom; ++i)
    if (EnumName(static_cast<TBaudRate>(i)) == name) {
      v = static_cast<TBaudRate>(i);
      return true;
    }
  return false;
}

bool EnumFromName(const AnsiString& name, TStopBits& v) { return FromTable(name, kStopBits, v); }
bool EnumFromName(const AnsiString& name, TDataWidth& v) { return FromTable(name, kDataWidth, v); }
bool EnumFromName(const AnsiString& name, TParityBits& v) { return FromTable(name, kParity, v); }
bool EnumFromName(const AnsiString& name, THwFlowControl& v) { return FromTable(name, kHw, v); }
bool EnumFromName(const AnsiString& name, TSwFlowControl& v) { return FromTable(name, kSw, v); }
bool EnumFromName(const AnsiString& name, TMessageFormat& v) { return FromTable(name, kFormat, v); }
bool EnumFromName(const AnsiString& name, TThreadPriority& v) { return FromTable(name, kPriority, v); }
bool EnumFromName(const AnsiString& name, TNationalLanguageShiftTables& v) {
  return FromTable(name, kNationalTables, v);
}

}  // namespace vesk
