#include "tools/gateway/SendErrors.h"

#include <algorithm>
#include <cctype>

namespace vesk::gateway {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

std::optional<int> NumberAfter(const std::string& text, std::size_t at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == ':')) ++at;
  int value = 0;
  std::size_t digits = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && digits < 6) {
    value = value * 10 + (text[at] - '0');
    ++at;
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return value;
}

}  // namespace

ModemError ReadModemError(const std::string& lastSendError) {
  ModemError e;
  e.text = lastSendError;
  if (lastSendError.empty()) return e;
  const std::string upper = Upper(lastSendError);
  if (const std::size_t at = upper.find("+CMS ERROR"); at != std::string::npos) {
    e.kind = ModemError::Kind::Cms;
    e.number = NumberAfter(upper, at + 10);
  } else if (const std::size_t at2 = upper.find("+CME ERROR"); at2 != std::string::npos) {
    e.kind = ModemError::Kind::Cme;
    e.number = NumberAfter(upper, at2 + 10);
  } else if (Contains(upper, "NO FINAL RESULT") || Contains(upper, "NO ANSWER") || Contains(upper, "PROMPT")) {
    e.kind = ModemError::Kind::NoAnswer;
  } else if (Contains(upper, "CONNECTION CLOSED") || Contains(upper, "IS NOT OPEN") ||
             Contains(upper, "NOT CONNECTED")) {
    e.kind = ModemError::Kind::Closed;
  } else if (Contains(upper, "NO PHONE NUMBER") || Contains(upper, "CONTROL CHARACTER") ||
             Contains(upper, "DOUBLE QUOTE") || Contains(upper, "255 PARTS") || Contains(upper, "ZERO BYTE")) {
    e.kind = ModemError::Kind::Refused;
  } else {
    e.kind = ModemError::Kind::Error;
  }
  return e;
}

bool IsTemporaryCms(int n) {
  // TS 24.011 8.2.5.4 (RP cause) and TS 23.040 9.2.3.22 (TP-FCS), as
  // TS 27.005 3.2.5 passes them on, and TS 27.005's own 300 to 500.
  switch (n) {
    case 1:    // unassigned (unallocated) number
    case 8:    // operator determined barring
    case 10:   // call barred
    case 21:   // short message transfer rejected
    case 29:   // facility rejected
    case 30:   // unknown subscriber
    case 50:   // requested facility not subscribed
    case 69:   // requested facility not implemented
    case 81:   // invalid short message transfer reference value
    case 95:   // invalid message, unspecified
    case 96:   // invalid mandatory information
    case 97:   // message type non-existent or not implemented
    case 98:   // message not compatible with short message protocol state
    case 99:   // information element non-existent or not implemented
    case 193:  // no SC subscription
    case 195:  // invalid SME address
    case 196:  // destination SME barred
    case 197:  // SM rejected: duplicate SM
    case 198:  // TP-VPF not supported
    case 199:  // TP-VP not supported
    case 303:  // operation not supported
    case 304:  // invalid PDU mode parameter
    case 305:  // invalid text mode parameter
      return false;
    default: break;
  }
  // TP-PID, TP-DCS and TP-Command errors: the message itself is wrong.
  if (n >= 128 && n <= 191) return false;
  return true;
}

Failure ClassifyFailure(const ModemError& error, bool bodyWritten, std::size_t partsAccepted, int totalParts) {
  Failure f;
  f.error.code = error.number;
  f.error.text = error.text.empty() ? "the send failed without a reason" : error.text;
  const bool answered = error.kind == ModemError::Kind::Cms || error.kind == ModemError::Kind::Cme ||
                        error.kind == ModemError::Kind::Error;
  if (bodyWritten && !answered) {
    f.cls = FailureClass::Uncertain;
    f.error.text = "no final answer after the message body (" + f.error.text + "): the modem may have sent it";
  } else if (partsAccepted > 0) {
    // Sending it again would repeat the parts that went out.
    f.cls = FailureClass::Permanent;
    f.error.text = "part " + std::to_string(partsAccepted + 1) + " of " + std::to_string(totalParts) +
                   " failed after the parts before it were sent: " + f.error.text;
  } else {
    switch (error.kind) {
      case ModemError::Kind::Refused: f.cls = FailureClass::Permanent; break;
      case ModemError::Kind::Cms:
        f.cls = error.number && !IsTemporaryCms(*error.number) ? FailureClass::Permanent : FailureClass::Temporary;
        break;
      case ModemError::Kind::None:
      case ModemError::Kind::Cme:
      case ModemError::Kind::Error:
      case ModemError::Kind::NoAnswer:
      case ModemError::Kind::Closed: f.cls = FailureClass::Temporary; break;
    }
  }
  switch (f.cls) {
    case FailureClass::Temporary: f.error.kind = "temporary"; break;
    case FailureClass::Permanent: f.error.kind = "permanent"; break;
    case FailureClass::Uncertain: f.error.kind = "uncertain"; break;
  }
  return f;
}

}  // namespace vesk::gateway
