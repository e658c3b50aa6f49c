// The modem's errors with their meaning: the final result codes ERROR,
// +CMS ERROR: <err> (TS 27.005 3.2.5) and +CME ERROR: <err> (TS 27.007 9.2),
// each <err> with the standard's text for it, and whether trying the same
// thing again later may succeed. Pure: no component, thread or clock.
#pragma once

#include <cstdint>

#include "component/Framework.h"

namespace vesk {

namespace at {
struct TResult;
}

// mekNone: no error from the modem (the call succeeded, or failed before or
// without a final error result); mekError: a plain ERROR; mekCMS, mekCME:
// +CMS ERROR: <err> and +CME ERROR: <err>.
enum TModemErrorKind : std::uint8_t { mekNone, mekError, mekCMS, mekCME };

struct TModemError {
  TModemErrorKind Kind = mekNone;
  // The <err> of +CMS ERROR and +CME ERROR; for a verbose error (AT+CMEE=2)
  // the number whose standard text it is. -1 for a plain ERROR, a verbose
  // text no table names, and mekNone.
  int Number = -1;
  // The standard's text for Number ("network out of order"); a verbose
  // error's own text when no table names it; for mekNone why the call
  // failed without an error from the modem ("" after a success).
  AnsiString Text;
  // The final result line as received ("+CMS ERROR: 38"); "" for mekNone.
  AnsiString Line;

  bool IsError() const { return Kind != mekNone; }
  // Whether the same command (a send, above all) may succeed when tried
  // again later: a busy or congested network, a missing network service, a
  // time-out, a busy SIM. False for the errors that say the request itself
  // is refused (a barred or unknown number, a bad PDU, a missing PIN), for
  // numbers the standard does not list, for a plain ERROR (which tells
  // nothing) and for mekNone.
  bool IsTemporary() const;
};

// The standard's text for <err>: nullptr when its table lists none (a
// reserved or manufacturer-specific value).
// TS 27.005 3.2.5: 0-127 are TS 24.011 E.2 (and E.3) RP-causes, 128-255 TS
// 23.040 9.2.3.22 TP-failure-causes, 300-500 the message service's own.
const char* CmsErrorText(int err);
// TS 27.007 9.2: the general errors (9.2.1), the GPRS and EPS errors
// (9.2.2) and the VBS, VGCS and eMLPP errors (9.2.3).
const char* CmeErrorText(int err);

// The error a final result stands for (mekNone for any other result).
TModemError ModemErrorOf(const at::TResult& result);
// The same for a line as received ("+CME ERROR: 16", "ERROR"); a line that
// is no final error result gives mekNone with the line as its Text.
TModemError ModemErrorFromLine(const AnsiString& line);
// mekNone with the reason a call failed without an error from the modem.
TModemError ModemErrorBecause(const AnsiString& why);

// "none", "error", "cms", "cme": the kind as the tool prints it.
const char* ModemErrorKindName(TModemErrorKind kind);

}  // namespace vesk
