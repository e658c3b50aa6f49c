// The vocabulary of delivery reports and direct delivery: how new messages
// reach the component, what became of a sent message, and the two events
// that tell it. TVeskGSM (component/VeskGSM.h) declares the properties and
// the events themselves, and documents their threads and guarantees.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "component/Framework.h"

namespace vesk {

// How new messages (and status reports) reach the component (AT+CNMI,
// TS 27.005 3.4.1).
enum TNewMessageIndication : std::uint8_t {
  // Stored by the modem and announced with +CMTI (reports: stored and
  // announced with +CDSI where the modem has a report storage, else
  // routed as +CDS).
  nmStore,
  // Routed to the component as +CMT and +CDS, never stored.
  nmDirect,
};

// What became of a sent message once every part has a final status.
enum TMessageOutcome : std::uint8_t {
  moDelivered,  // every part received by the recipient (TP-ST 0x00 to 0x1F)
  moFailed,     // a part met a permanent error, or the SC gave up after temporary ones
  moExpired,    // a part's validity period ran out (TP-ST 0x46), and none failed otherwise
};

// Persisted names ("nmStore", "nmDirect"), and back; false for a name
// that is not a value.
AnsiString EnumName(TNewMessageIndication v);
bool EnumFromName(const AnsiString& name, TNewMessageIndication& v);
// "delivered", "failed", "expired".
AnsiString OutcomeName(TMessageOutcome v);

// One status report (TS 23.040 9.2.2.3): the message reference (TP-MR, 0
// to 255) of the part it is about, the recipient as the report gives it,
// TP-ST as received, when the service centre received the part and when
// it delivered it (or last tried), in the centre's local time.
using TStatusReportEvent = std::function<void(TObject* Sender, int Reference, const AnsiString& Recipient, int Status,
                                              TDateTime SCTimeStamp, TDateTime DischargeTime)>;
// One sent message, every part of it final: the recipient as the send
// gave it, the reference of every part in part order (as
// GetLastMessageReferences gave them after the send), and the outcome.
using TMessageStatusEvent = std::function<void(TObject* Sender, const AnsiString& Recipient,
                                               const std::vector<int>& References, TMessageOutcome Outcome)>;

}  // namespace vesk
