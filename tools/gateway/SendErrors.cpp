#include "tools/gateway/SendErrors.h"

namespace vesk::gateway {

ModemError FromModemError(const TModemError& error) {
  ModemError e;
  switch (error.Kind) {
    case mekNone: e.text = error.Text; return e;
    case mekCMS: e.kind = ModemError::Kind::Cms; break;
    case mekCME: e.kind = ModemError::Kind::Cme; break;
    case mekError: e.kind = ModemError::Kind::Error; break;
  }
  if (error.Number >= 0) e.number = error.Number;
  e.text = error.Line.empty() ? error.Text : error.Line;
  if (!error.Text.empty() && !error.Line.empty() && error.Text != error.Line) e.text += " (" + error.Text + ")";
  e.temporary = error.IsTemporary();
  return e;
}

ModemError FromResultLine(const std::string& line) { return FromModemError(ModemErrorFromLine(line)); }

namespace {

ModemError Because(ModemError::Kind kind, const std::string& why) {
  ModemError e;
  e.kind = kind;
  e.text = why;
  return e;
}

}  // namespace

ModemError WithoutAnswer(const std::string& why) { return Because(ModemError::Kind::NoAnswer, why); }
ModemError ConnectionLost(const std::string& why) { return Because(ModemError::Kind::Closed, why); }
ModemError RefusedBeforeWriting(const std::string& why) { return Because(ModemError::Kind::Refused, why); }

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
      case ModemError::Kind::Cme:
      case ModemError::Kind::Error: f.cls = error.temporary ? FailureClass::Temporary : FailureClass::Permanent; break;
      case ModemError::Kind::None:
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
