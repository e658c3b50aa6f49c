// Pairing a delivery report with the part it is about. A modem numbers its
// messages 0 to 255 and starts again (TS 23.040 9.2.3.6 TP-MR), so a
// reference alone is not enough: the report's recipient (TP-RA) must be the
// part's, compared as numbers (national and international forms match),
// and of the parts left the one sent closest to the time the centre says it
// took the message (TP-SCTS) is the one; a part sent more than a day away
// from it is not.
//
// When the centre's time is a day away from every such part (a centre
// whose clock is wrong), the time the report arrived decides instead.
// The component raises each report (OnStatusReport); ModemWorker hands it
// here.
#pragma once

#include <optional>
#include <vector>

#include "tools/gateway/Store.h"

namespace vesk::gateway {

std::optional<PartCandidate> PairReport(const StatusReport& report, const std::vector<PartCandidate>& candidates);

// Pairs the report and records it; the message's state after it (empty
// when no part matched).
std::optional<MessageState> TakeReport(Store& store, const StatusReport& report);

}  // namespace vesk::gateway
