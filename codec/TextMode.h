// The text-mode read answer (TS 27.005 3.4.3, +CMGR with the detailed
// header fields of AT+CSDH=1, or the short header without them), without
// its "+CMGR:" prefix:
//
//   "REC READ","+15550123",,"19/03/14,15:09:26+08",145,4,0,0,"+15550100",145,5<CR><LF>text<CR><LF>
//   "STO UNSENT","+15550123",,129,17,0,0,167,"+15550100",145,5<CR><LF>text<CR><LF>
//
// The header is cut at commas, quotes or not, and each field is taken
// without its first and last characters, so a quoted field holding a comma
// shifts the fields after it. The text is GSM 7-bit codes, one per byte
// (AT+CSCS="GSM"), up to the next CR LF.
//
// Pure functions: any thread, no state, no exceptions.
#pragma once

#include <optional>

#include "component/Framework.h"

namespace vesk::codec {

struct TextSMS {
  WideString Text;
  AnsiString PhoneNumber;
  // Service centre address; empty without the detailed header fields.
  AnsiString CenterNumber;
  // Unset when the answer does not touch them: the caller's values stand.
  std::optional<TDateTime> TimeStamp;
  std::optional<int> TimeZone;  // quarter hours, negative west of Greenwich
  // 0 "REC UNREAD", 1 "REC READ", 2 "STO UNSENT", 3 "STO SENT" (exact
  // case), -1 anything else or no header.
  int Status = -1;
};

TextSMS TextSMSToString(const AnsiString& MessageText);

// "yy/MM/dd" to a date (yy up to 95 is 20yy, else 19yy); 0 when the pieces
// are not numbers or not a valid date. Too short a string takes the day
// 96, which fails, or the year 2001 when only the year is missing.
TDateTime ExtractTextDate(const AnsiString& S);

// "hh:mm:ss" with an optional zone ("+08", "-20", quarter hours) to a time
// of day. The zone is stored in TimeZone as soon as it is read (0 when
// there is none); on failure the result is 0 and TimeZone keeps what it
// held then.
TDateTime ExtractTextTime(const AnsiString& S, int& TimeZone);

}  // namespace vesk::codec
