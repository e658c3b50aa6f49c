// The sink for every text read from the port.
#include "component/VeskGSM.h"

namespace vesk {

void TVeskGSM::ProcessAT() {
  // Take the text and empty the buffer first: a command run from inside the
  // handling dispatches its own answer through here, and must see only that.
  AnsiString text = TakeReadBuffer();
  if (text.empty()) return;
  // Markers are matched in capitals, so a modem that answers in lower
  // case is still understood.
  OnReceive(this, UpperCase(text));
}

bool TVeskGSM::DispatcherHoldsInput() const { return false; }

}  // namespace vesk
