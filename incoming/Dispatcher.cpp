// The sink for every text read from the port.
#include "component/VeskGSM.h"

namespace vesk {

void TVeskGSM::ProcessAT() {
  if (!GetComThread()) return;
  // Take the text and empty the buffer first: a command run from inside the
  // handling dispatches its own answer through here, and must see only that.
  AnsiString text = TakeReadBuffer();
  if (text.empty()) return;
  OnReceive(this, text);
}

bool TVeskGSM::DispatcherHoldsInput() const { return false; }

}  // namespace vesk
