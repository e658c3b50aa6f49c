// The traffic log: one entry per chunk of received text, appended to the
// file named by LogFile. The file is opened and closed for every entry so
// that it can be read or removed while the port is open.
#include "component/VeskGSM.h"

namespace vesk {

void TVeskGSM::WriteLog(const AnsiString& text, bool received) {
  TDateTime now = Now();
  // Date, time of day, direction, then the text exactly as it came, line
  // ends included: an entry may span several lines of the file.
  AnsiString entry = DateToStr(now) + " " + TimeToStr(now) + " " + (received ? "Received" : "Sent") + ": " + text;
  try {
    AppendTextLine(WideToUtf8(GetLogFile()), entry);
  } catch (const std::exception&) {
    throw EVeskGSMException("Invalid log file name or access denied.");
  }
}

}  // namespace vesk
