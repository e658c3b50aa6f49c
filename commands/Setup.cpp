// Putting the modem into the state the component expects: caller
// identification, character set, message format, new-message indication.
#include "commands/Answers.h"
#include "component/VeskGSM.h"

namespace vesk {

void TVeskGSM::InitGSMModem() {
  if (!PortDevice()) return;
  // Each pause ends early when the connection does: the set-up then stops.
  // Caller identification and extended ring indication: the one command
  // worth a second try, since the first after opening may meet a modem
  // that is still waking up.
  if (!ExecuteATCommand("AT+CLIP=1;+CRC=1", '\r')) {
    if (!Pause(250)) return;
    ExecuteATCommand("AT+CLIP=1;+CRC=1", '\r');
  }
  if (!Pause(250)) return;
  ExecuteATCommand("AT+CSCS=\"GSM\"", '\r');
  if (!Pause(250)) return;
  if (FMessageFormat != mfDefault) SetMessageFormat(FMessageFormat);
  // New messages stored and announced with +CMTI, or routed directly;
  // status reports routed as asked (commands/Indication.cpp).
  SetUpMessageIndication();
  if (!Pause(250)) return;
  ExecuteATCommand("ATE0", '\r');
  if (!Pause(250)) return;
  SetUpModemState();
  RecordIdentity();
}

std::uint16_t TVeskGSM::TestGSMModemCapabilities() {
  if (!PortDevice()) throw EVeskGSMException(NotOpenMessage());
  static const struct {
    const char* command;
    std::uint16_t bit;
  } kProbes[] = {
      {"AT+CLIP=1;+CRC=1", 2}, {"AT+CSCS=\"GSM\"", 4}, {"AT+CMGF=1", 8},  {"AT+CMGF=0", 16},
      {"AT+CNMI=2,1,0,0,0", 32}, {"AT+CMGR=?", 64},     {"AT+CMGS=?", 128},
  };
  std::uint16_t mask = 0;
  for (const auto& probe : kProbes) {
    if (ExecuteATCommand(probe.command, '\r')) mask |= probe.bit;
    if (!Pause(1000)) throw EVeskGSMException(NotOpenMessage());
  }
  // The probes leave the modem in PDU mode; put back what the component
  // was asked for.
  if (FMessageFormat != mfPDU) {
    SetMessageFormat(FMessageFormat);
    Pause(500);
  }
  // And the indication, when the set-up had chosen another.
  RestoreMessageIndication();
  return mask;
}

void TVeskGSM::SetMessageFormat(TMessageFormat Value) {
  std::shared_ptr<SerialDevice> device = PortDevice();
  if (Value != mfDefault && device) {
    TStringList answers;
    switch (Value) {
      case mfPDU:
        ExecuteATCommand("AT+CMGF=0", &answers, 15, '\r');
        Pause(50);
        break;
      case mfText:
        ExecuteATCommand("AT+CMGF=1", &answers, 15, '\r');
        Pause(50);
        // Show the detailed header fields, which the text-mode parser reads.
        ExecuteATCommand("AT+CSDH=1", &answers, 15, '\r');
        Pause(50);
        break;
      case mfDefault:
        break;
    }
  }
  FMessageFormat = Value;
}

bool TVeskGSM::SetDefaultStorage(const AnsiString& Location) {
  if (!at::CheckArgument(Location, "the storage name").empty()) return false;
  bool ok = ExecuteATCommand("AT+CPMS=\"" + Location + "\"", '\r');
  Pause(250);
  return ok;
}

}  // namespace vesk
