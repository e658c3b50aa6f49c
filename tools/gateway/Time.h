// Time in the gateway: milliseconds since 1970-01-01 UTC, as the store keeps
// them, read from a clock that tests replace.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vesk::gateway {

using Millis = std::int64_t;

// Where the gateway reads the time. The scheduler, the inbox and the hook
// queue take `now` from one of these, so tests decide what time it is.
using ClockFn = std::function<Millis()>;

// The system's wall clock.
Millis SystemMillis();

// "2024-05-01T12:00:00.123Z".
std::string IsoUtc(Millis t);

// Reads a moment given on the command line, relative to `now`:
//   ISO 8601 "2024-05-01T12:00:00Z", "...+02:00", "2024-05-01 12:00:00" (UTC
//   when no zone is given), or "2024-05-01" (midnight UTC);
//   a delay "+30s", "+10m", "+2h", "+1d";
//   seconds since 1970 "@1714564800".
// Empty when the text is none of these.
std::optional<Millis> ParseMoment(const std::string& text, Millis now);

}  // namespace vesk::gateway
