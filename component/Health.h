// The vocabulary of the modem's health: the keep-alive and the ladder of
// recovery steps a modem that stops answering goes through. TVeskGSM
// (component/VeskGSM.h) declares the properties and the event, and
// documents their threads and guarantees.
#pragma once

#include <cstdint>
#include <functional>

#include "component/Framework.h"

namespace vesk {

// One step of the recovery, as OnHealth reports it.
enum THealthStep : std::uint8_t {
  // The modem answered again: the step reported before cured it.
  hsAlive,
  // Why the recovery began: the keep-alive went unanswered, two commands
  // in a row timed out, or a send got no final answer.
  hsProbeFailed,
  // Step 1: an escape and "AT" (ends a body left open at the "> " prompt).
  hsEscape,
  // Step 2: the port closed (DTR dropped) and opened again, with the set-up.
  hsReopen,
  // Step 3: the reset command, then the wait for the port to come back.
  hsReset,
  // Step 4: the modem of the recorded IMEI answered on the port named in
  // Reason, and the component opened it.
  hsFound,
  // Every step failed; the steps from 2 on are tried again every
  // AutoReconnectCheckInterval.
  hsGaveUp,
};

// "hsAlive" ... "hsGaveUp", and back; false for a name that is not a value.
AnsiString EnumName(THealthStep v);
bool EnumFromName(const AnsiString& name, THealthStep& v);
// "alive", "probe_failed", "escape", "reopen", "reset", "found", "gave_up":
// for logs and machine-readable output.
const char* HealthStepName(THealthStep v);

// Step and the reason in words ("no answer to the keep-alive within 5
// seconds", "IMEI 490154203237518 answered on /dev/ttyUSB3").
using THealthEvent = std::function<void(TObject* Sender, THealthStep Step, const AnsiString& Reason)>;

}  // namespace vesk
