// What the gateway reads of the modem's answers: the storages AT+CPMS=?
// offers, a PDU-mode listing (AT+CMGL, framed by the component's answer
// reader), the header of a stored SMS-DELIVER far enough to know whether
// it is a part of a long message, and which; and the names the API gives
// the modem's state as the component reads it.
//
// The component decodes the messages (TVeskGSM::PDUSMSToString) but keeps
// the parts of a long message in memory and reports only whole messages;
// the gateway keeps parts in its store, so it reads the concatenation
// element itself. Every read goes through one bounds-checked cursor, and
// each way a header fails has a name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "commands/ModemState.h"

namespace vesk::gateway {

// The memories AT+CPMS=? offers for reading and deleting (<mem1>), from its
// answer lines: "+CPMS: (\"SM\",\"ME\",\"MT\"),(...),(...)". Empty when no
// line reads.
std::vector<std::string> ReadableStorages(const std::vector<std::string>& lines);

// One stored message of a PDU-mode listing (TS 27.005 3.4.2).
struct ListedMessage {
  int index = 0;
  int status = -1;  // 0 received unread, 1 received read, 2 stored unsent, 3 stored sent
  std::string pdu;  // hexadecimal, service centre part first
};

// An AT+CMGL (PDU mode) answer as the component frames a command's
// answer: whether it ended in OK, and each "+CMGL: <index>,<stat>,
// [<alpha>],<length>" entry with the PDU that came as its body. Echo,
// unsolicited results and an entry whose header does not read are passed
// over; an entry without a body has an empty PDU. The component reports
// listed messages only decoded, and the parts of a long one only once it
// has them all (OnReadMessage), while the gateway keeps every part in its
// store before the modem may delete it: hence the PDUs themselves.
struct Listing {
  bool complete = false;  // the answer ended in OK
  std::vector<ListedMessage> entries;
};
// `lines`: the answer's lines as ExecuteATCommand gives them; `command`:
// the command written (its echo is no entry).
Listing ReadListing(const std::vector<std::string>& lines, const std::string& command = "AT+CMGL=4");

// The concatenation element of a part (TS 23.040 9.2.3.24.1 and .8).
struct Concatenation {
  int reference = 0;
  int referenceBits = 8;  // 8 or 16
  int total = 0;
  int number = 0;
  // Where the total and number octets start in the PDU's hex text.
  std::size_t totalAt = 0, numberAt = 0;
};

enum class PduType { Deliver, Submit, StatusReport, Other };

struct PduHeader {
  PduType type = PduType::Other;
  std::optional<Concatenation> part;  // set for a part of a long message
  std::string error;                  // empty when the header read
};

namespace header_error {
constexpr const char kNotHex[] = "PDU is not hexadecimal";
constexpr const char kCentreTruncated[] = "PDU ends inside the service centre address";
constexpr const char kNoFirstOctet[] = "PDU ends before its first octet";
constexpr const char kAddressTruncated[] = "PDU ends inside the originating address";
constexpr const char kFieldsTruncated[] = "PDU ends before its user data";
constexpr const char kHeaderTruncated[] = "user data header runs past the end of the PDU";
constexpr const char kElementTruncated[] = "a header element runs past the user data header";
constexpr const char kBadPart[] = "concatenation part number is not between 1 and the part count";
}  // namespace header_error

// The modem's state as the API and the status page name it, from the
// component's reads (GetSIMState, GetRegistration, GetOperator):
// "ready", "pin", "puk", "pin2", "puk2", "absent" (no SIM), "other"; ""
// when nothing read.
std::string SimStateText(TSIMState state);
// "unregistered", "home", "searching", "denied", "unknown", "roaming"; ""
// when nothing read.
std::string RegistrationText(const TRegistration& registration);
// The operator's name in UTF-8 without control characters, at most 64
// bytes; "" when the modem named none.
std::string OperatorText(const TOperator& op);

// Reads the header of a PDU as the modem stores it (TS 27.005 3.1: the
// service centre address first). Never throws; `error` names what failed.
PduHeader ReadPduHeader(const std::string& pdu);

// The same PDU with its concatenation element saying "part 1 of 1": a
// decoder then gives this part's own text at once.
std::string AsSinglePart(const std::string& pdu, const Concatenation& part);

}  // namespace vesk::gateway
