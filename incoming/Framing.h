// What a modem sends, cut into results by the grammar of V.250 5.7,
// TS 27.007 and TS 27.005 section 3. Text in, typed results out: no
// component, thread or clock.
//
// The grammar, as far as the component needs it:
//   * A result is a whole line: "RING", "+CMTI: ...", "OK". A result word
//     inside other text, or inside a quoted field, is never a result; the
//     name of a line ("+CMGR") is matched in any case of letters.
//   * A line ends with LF, CR LF, or a CR followed by anything but LF
//     ("\r\r\n" is an empty line and a line end). A CR at the very end of
//     the text may still be followed by its LF: the line waits for more
//     text, so that cutting the text anywhere never changes the results.
//   * Final result codes: OK, ERROR, +CMS ERROR: <n>, +CME ERROR: <n>,
//     NO CARRIER, BUSY, NO ANSWER, NO DIALTONE, CONNECT [<text>].
//   * Some results carry body lines after their header line:
//       +CMGR:, +CMGL:, +CMT: in PDU mode: one line of hexadecimal PDU (its
//         hex run, up to the first character that cannot belong to it;
//         none when the next non-empty line does not start with a digit);
//       +CDS: <length> (PDU mode): one line of PDU likewise;
//       +CMGR:, +CMGL:, +CMT: in text mode: the message text, which may
//         span several lines: <length> characters when the detailed header
//         gives the length and a line end stands right after them, else
//         every line up to the next line that is a final result code or a
//         +CMGL:/+CMGR: header (the empty lines before it are not text).
//     A text-mode status report (a +CMGR: or +CMGL: whose first octet
//     stands where a quoted address would) and a text-mode +CDS: have no
//     body.
//   * +CUSD: <m>,"<str>",<dcs> whose quoted USSD text holds line breaks
//     (a menu) is one Information result up to the line that closes the
//     quotes; its Fields keep the line ends as received. A final result
//     code line before the quotes close (or a text longer than any USSD
//     text) leaves the +CUSD its first line alone.
//   * "> " at the start of a line is the prompt for a message body.
#pragma once

#include <cstddef>
#include <vector>

#include "component/Framework.h"

namespace vesk::at {

enum class TResultKind {
  Final,          // a final result code
  Ring,           // RING, +CRING: <type>
  CallerId,       // +CLIP: "<number>",<type>,...
  NewMessage,     // +CMTI: "<mem>",<index>
  ReadAnswer,     // +CMGR: <header>, then its body
  ListEntry,      // +CMGL: <header>, then its body
  DirectMessage,  // +CMT: <header>, then its body
  StatusReport,   // +CDS: <length> and a PDU, or +CDS: <fo>,<mr>,... in text mode
  Prompt,         // "> ": the modem waits for a message body
  Information,    // any other line: "+CSQ: 20,99", an echoed command, an IMEI
};

enum class TFinalCode { Ok, Error, CmsError, CmeError, NoCarrier, Busy, NoAnswer, NoDialtone, Connect };

struct TResult {
  TResultKind Kind = TResultKind::Information;
  // Where the result stands in the framed text: its first line up to the
  // end of its last line, that line's line end included.
  std::size_t Begin = 0;
  std::size_t End = 0;
  // The first line as received, without its line end.
  AnsiString Line;
  // "+CMGR" for a line "+cmgr: ...", in capitals; empty when the line does
  // not start with a name and a colon.
  AnsiString Name;
  // The text after the name's colon (after "ERROR:" for +CMS/+CME ERROR),
  // trimmed.
  AnsiString Fields;
  // Final results.
  TFinalCode Final = TFinalCode::Ok;
  int ErrorNumber = -1;  // the <n> of +CMS ERROR and +CME ERROR; -1 when it does not read
  // Results that carry a body.
  bool TextMode = false;
  bool HasBody = false;
  AnsiString Body;
};

struct TFraming {
  std::vector<TResult> Results;
  // How much of the text the results cover (with the empty lines between
  // them); what follows is a result whose end has not come yet.
  std::size_t Consumed = 0;
};

// Frames `text` from position `from`. With `final` no more text will come:
// an unfinished last result is taken as it stands. Without it, framing the
// rest of the text again once more has arrived gives the results that
// framing all of it at once would have given.
TFraming Frame(const AnsiString& text, std::size_t from, bool final);
inline TFraming Frame(const AnsiString& text, bool final) { return Frame(text, 0, final); }

// The result's text as received, without the line ends after it.
AnsiString ResultText(const AnsiString& framed, const TResult& result);

// Whether a result is one of the component's six markers (RING, +CLIP:,
// +CMTI:, +CMGR:, +CMGL:, ERROR): a ring, a caller identification, a new
// message notice, a read answer, a listing entry, or a final error.
bool IsMarkerResult(const TResult& result);
bool IsError(const TResult& result);

}  // namespace vesk::at
