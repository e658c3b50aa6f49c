// The text-mode read answer (TS 27.005 3.4.3, +CMGR with the detailed
// header fields of AT+CSDH=1, or the short header without them), without
// its "+CMGR:" prefix:
//
//   "REC READ","+15550123",,"19/03/14,15:09:26+08",145,4,0,0,"+15550100",145,5<CR><LF>text<CR><LF>
//   "STO UNSENT","+15550123",,129,17,0,0,167,"+15550100",145,5<CR><LF>text<CR><LF>
//
// The header is cut at commas outside double quotes, each field trimmed
// and then unquoted, so a quoted name or time stamp may hold commas and a
// phone may put blanks after them. A received message's time stamp is the
// quoted field after the name (or, from phones that leave the name out,
// right after the number); it reads as yy/MM/dd or yyyy/M/d, a comma, then
// hh:mm:ss with an optional zone (+08, -20: quarter hours). The text is
// GSM 7-bit codes, one per byte (AT+CSCS="GSM"): everything after the
// header's line end, less one line end at its close; line breaks inside it
// are text (CR and LF are characters of the alphabet).
//
// Pure functions: any thread, no state, no exceptions.
#pragma once

#include <optional>
#include <vector>

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

// The fields of a header line such as `"REC READ","+1",,"19/03/14,15:09:26"`:
// cut at commas outside double quotes, each trimmed, quotes kept. An empty
// text gives no field.
std::vector<AnsiString> SplitHeaderFields(const AnsiString& header);
// A field without the double quotes around it (trimmed first).
AnsiString Unquote(const AnsiString& field);

// "yy/MM/dd" to a date (yy up to 95 is 20yy, else 19yy; a year of three or
// four digits stands as it is; month and day may have one digit); 0 when
// the pieces are not numbers or not a valid date. "MM/dd" alone takes the
// year 2001; a single number is no date.
TDateTime ExtractTextDate(const AnsiString& S);

// "hh:mm:ss" with an optional zone ("+08", "-20", quarter hours) to a time
// of day. The zone is stored in TimeZone as soon as it is read (0 when
// there is none); on failure the result is 0 and TimeZone keeps what it
// held then.
TDateTime ExtractTextTime(const AnsiString& S, int& TimeZone);

}  // namespace vesk::codec
