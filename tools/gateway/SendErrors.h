// What a failed send means for the message: try again (on any modem),
// give up, or leave it to the operator because the modem may have sent it.
//
// Until the component reports typed modem errors, the modem's error is read
// from the text GetLastSendError() gives (ReadModemError); once it does
// (GetLastModemError(), a TModemError with kind, number, text and
// IsTemporary), ReadModemError is the one function to switch over to it.
#pragma once

#include <optional>
#include <string>

#include "tools/gateway/Store.h"

namespace vesk::gateway {

// The modem's side of a failed send.
struct ModemError {
  enum class Kind {
    None,      // no error text
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
};

// Reads the error from GetLastSendError()'s text: "+CMS ERROR: 38",
// "+cme error: 100", "ERROR", "no final result from the modem within 15
// seconds", "no \"> \" prompt after ...", "the connection closed during the
// send", "... is not open. GSM Modem is not connected.", "no phone number"
// ... A text that says none of these counts as Error.
ModemError ReadModemError(const std::string& lastSendError);

// Whether a +CMS ERROR cause may go away by itself or on another modem
// (network, SIM, memory, congestion), as opposed to one that says this
// message can never go (an unassigned or barred number, an invalid
// message).
bool IsTemporaryCms(int number);

enum class FailureClass { Temporary, Permanent, Uncertain };

struct Failure {
  FailureClass cls = FailureClass::Temporary;
  SendError error;
};

// `bodyWritten`: the body of the part that failed reached the modem (or
// part of it did); `partsAccepted`: parts of the message the modem took
// before the failure. A message some of whose parts went out is never sent
// again; a body without a final answer may have gone out.
Failure ClassifyFailure(const ModemError& error, bool bodyWritten, std::size_t partsAccepted, int totalParts);

}  // namespace vesk::gateway
