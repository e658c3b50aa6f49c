// What a failed send means for the message: try again (on any modem),
// give up, or leave it to the operator because the modem may have sent it.
//
// The modem's own errors come classified by the component
// (GetLastModemError(): a TModemError with its kind, number, text and
// IsTemporary()); the gateway adds only what the component cannot know:
// whether the body went out, and whether earlier parts of the message did.
#pragma once

#include <optional>
#include <string>

#include "commands/Errors.h"
#include "tools/gateway/Store.h"

namespace vesk::gateway {

// Why a send failed.
struct ModemError {
  enum class Kind {
    None,      // no reason given
    Cms,       // "+CMS ERROR: <n>" (TS 27.005 3.2.5)
    Cme,       // "+CME ERROR: <n>" (TS 27.007 9.2)
    Error,     // a bare "ERROR"
    NoAnswer,  // no answer (or no prompt) in time
    Closed,    // the connection closed or the port failed during the send
    Refused,   // the component refused the arguments before writing anything
  };
  Kind kind = Kind::None;
  std::optional<int> number;
  std::string text;
  // For Cms, Cme and Error: whether the component counts the error as one
  // that may go away when the same send is tried again later.
  bool temporary = false;
};

// The modem's error as the component reports it: `error` of kind mekNone
// gives Kind::None with its Text.
ModemError FromModemError(const TModemError& error);
// The same, read from a final result line ("+CMS ERROR: 38") by the
// component's own rules.
ModemError FromResultLine(const std::string& line);
ModemError WithoutAnswer(const std::string& why);
ModemError ConnectionLost(const std::string& why);
ModemError RefusedBeforeWriting(const std::string& why);

enum class FailureClass { Temporary, Permanent, Uncertain };

struct Failure {
  FailureClass cls = FailureClass::Temporary;
  SendError error;
};

// `bodyWritten`: the body of the part that failed reached the modem (or
// part of it did); `partsAccepted`: parts of the message the modem took
// before the failure. A message some of whose parts went out is never sent
// again; a body without a final answer may have gone out; otherwise the
// modem's error decides: temporary ones (and silence or a lost port before
// the body) are tried again, the others fail the message.
Failure ClassifyFailure(const ModemError& error, bool bodyWritten, std::size_t partsAccepted, int totalParts);

}  // namespace vesk::gateway
