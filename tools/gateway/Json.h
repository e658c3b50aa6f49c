// The JSON forms of the store's records, one object per record with stable
// field names: `veskgsm messages --json` and `inbox --json` print them, hooks
// get them on standard input, and the HTTP API will answer with them.
//
// A message: id, to, text, state, attempts, modem, parts (each reference,
// state, status), error (kind, code, text; null when none), created,
// updated, and priority, not_before, not_after, encoding.
// An inbox entry: id, from, text, smsc, timestamp, timezone, modem,
// received, incomplete, and imei, parts.
// Times are ISO 8601 in UTC ("2024-05-01T12:00:00.123Z"), except an inbox
// entry's timestamp: the sender's local time as the centre stamped it
// ("2019-03-14T15:09:26"), its offset in `timezone` (quarter hours).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "tools/gateway/Store.h"

namespace vesk::gateway {

nlohmann::json MessageJson(const OutboxMessage& message);
nlohmann::json InboxJson(const InboxEntry& entry);
nlohmann::json ModemJson(const ModemStatus& modem);

// One line for a person.
std::string MessageLine(const OutboxMessage& message);
std::string InboxLine(const InboxEntry& entry);

// One JSON line; bytes that are not UTF-8 become U+FFFD.
std::string Dump(const nlohmann::json& object);

}  // namespace vesk::gateway
