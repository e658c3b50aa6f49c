// The line watch: one thread for all the connections of the process, which
// looks at each open connection's modem lines and port list at least every
// Delay (TConnection::CheckLines). The readers sleep on their ports and wake
// for input only; the looks that a port cannot report by itself are made
// here, on a grid of the monotonic clock, so that connections with the same
// Delay are looked at in one wake-up of one thread. A thread of its own for
// each connection, waking every Delay, costs more than all of one wake-up's
// looks together: a wake-up finds the processor's caches cold.
//
// The thread starts with the first connection watched and ends once none
// is left.
#pragma once

#include <memory>

namespace vesk {

class TConnection;

// Watches connection `generation` of `link` from now on (its first look
// comes at once), until that connection has ended.
void WatchLines(const std::shared_ptr<TConnection>& link, unsigned generation);

}  // namespace vesk
