// The rules that read the modem's answers, each by name, on the results of
// the framing layer (incoming/Framing.h). Every part of the component that
// asks "did this command succeed?", "what is the reference of this
// message?", "what does this notice say?" asks here; none searches the
// received text itself. Pure functions: no component, thread or clock.
#pragma once

#include <vector>

#include "component/Framework.h"
#include "incoming/Framing.h"

namespace vesk::at {

// ---------------------------------------------------------------- a command's answer

// What a command line's answer says once framed: the lines before its final
// result and the final result itself.
struct TCommandAnswer {
  // A final result code has come.
  bool Complete = false;
  TFinalCode Code = TFinalCode::Ok;
  int ErrorNumber = -1;
  // The final result line as received ("+CMS ERROR: 38"); empty until it came.
  AnsiString FinalLine;
  // Every result before the final one.
  std::vector<TResult> Results;
  // The text up to the end of the final result's line (all of it when
  // the answer is not complete).
  std::size_t End = 0;

  bool Succeeded() const { return Complete && Code == TFinalCode::Ok; }
  bool Failed() const {
    return Complete && (Code == TFinalCode::Error || Code == TFinalCode::CmsError || Code == TFinalCode::CmeError);
  }
};

// Reads the answer to a command line from `text`, the modem's output read
// since the command was written: the first final result code on a line of
// its own ends it. `command`, when given, is the line written: its echo is
// not among the results.
TCommandAnswer ReadCommandAnswer(const AnsiString& text, const AnsiString& command = AnsiString());

// Watches an answer grow, framing only what is new each time: true once a
// final result code has come.
class TFinalWatch {
 public:
  // `text`: everything read so far (the same text, longer each time).
  bool Feed(const AnsiString& text);

 private:
  std::size_t framed_ = 0;
  bool complete_ = false;
};

// The information lines of an answer (neither echo, nor unsolicited
// results, nor message answers), as received.
std::vector<AnsiString> InformationLines(const TCommandAnswer& answer);

// The first information result named `name` ("+CSQ"), or nullptr.
const TResult* FindNamed(const TCommandAnswer& answer, const char* name);

// +CSQ: <rssi>,<ber> (TS 27.007 8.5): rssi, or 99 (not known) when the
// answer has no such line or it does not read.
int SignalStrength(const TCommandAnswer& answer);

// AT+CGSN (TS 27.007 5.4): the serial number line, "" when none came.
AnsiString SerialNumber(const TCommandAnswer& answer);

// ---------------------------------------------------------------- unsolicited results

// +CMTI: <mem>,<index> (TS 27.005 3.4.1).
struct TNewMessageNotice {
  AnsiString Storage = "SM";  // as the modem wrote it, without quotes
  int Index = 0;              // -1 when the index does not read
  bool IndexRead = false;
};
TNewMessageNotice NewMessageNotice(const TResult& result);

// +CLIP: <number>,<type>[,...] (TS 27.007 7.18): the number without its
// quotes; false when the first field is not quoted.
bool CallerNumber(const TResult& result, AnsiString& number);

// The header of a PDU-mode read answer, +CMGR: <stat>,[<alpha>],<length>,
// or listing entry, +CMGL: <index>,<stat>,[<alpha>],<length> (TS 27.005
// 3.4.2, 3.4.3).
struct TPduHeader {
  int Index = -1;   // listing entries only
  int Status = -1;  // 0 to 3; -1 for any other or unreadable status
  AnsiString Alpha;
  int Length = -1;
};
TPduHeader PduHeader(const TResult& result);

// The index of a text-mode listing entry, +CMGL: <index>,<stat>,...; -1.
int ListIndex(const TResult& result);

// The text the text-mode parser reads: the header fields, a line end, the
// message text and a line end.
AnsiString TextModeMessage(const TResult& result);

// ---------------------------------------------------------------- sending

// After AT+CMGS the modem prompts for the body ("> "); the body and Ctrl-Z
// go out and the modem answers +CMGS: <mr> and OK, or an error. With echo
// on, the body comes back first and is never taken for the answer: it is
// matched against what was written (a line break in it may come back with
// a fresh prompt).
struct TSubmitOutcome {
  enum TState { Pending, Sent, Failed } State = Pending;
  int Reference = -1;  // +CMGS: <mr>; -1 when the modem gave none
  AnsiString FinalLine;
  TFinalCode Code = TFinalCode::Ok;
  int ErrorNumber = -1;
  // The echoed body within the text ([EchoBegin, EchoEnd), empty when
  // there was none).
  std::size_t EchoBegin = 0;
  std::size_t EchoEnd = 0;
};
// `text` is what the modem sent after AT+CMGS, from the prompt on when
// `promptRead` is false (an error then may come instead of a prompt; an OK
// before the prompt answers an earlier command), or from right after the
// prompt when it was read already.
TSubmitOutcome SubmitOutcome(const AnsiString& body, const AnsiString& text, bool promptRead);

// Whether the "> " prompt has come; an error result instead of it fails
// the step (`answer` then says which).
enum class TPromptState { Waiting, Prompted, Refused };
TPromptState PromptState(const AnsiString& text, TCommandAnswer& answer);

// ---------------------------------------------------------------- arguments

// One check for every string an application hands over that goes into a
// command line: no CR, LF, double quote or other control character. Empty
// when it passes, else why not.
AnsiString CheckArgument(const AnsiString& value, const char* what);
// A dial string (V.250 6.3.1): digits, * # + A B C D, the modifiers
// , T P ! W @ and the CLIR and CUG modifiers I i G g, and the blanks,
// dashes, dots and brackets people write numbers with. Empty when it
// passes, else why not.
AnsiString CheckDialString(const AnsiString& value);

// The <stat> of AT+CMGL (TS 27.005 3.4.2): the number in PDU mode, the
// quoted word in text mode ("REC UNREAD", "REC READ", "STO UNSENT",
// "STO SENT", "ALL" for 0 to 4; another number stays a number).
AnsiString ListStatusArgument(int status, bool textMode);

}  // namespace vesk::at
