// Device and call commands: each sends one command through the
// command engine on the caller's thread.
#include "commands/Answers.h"
#include "component/VeskGSM.h"

namespace vesk {

AnsiString TVeskGSM::GetIMEI() {
  at::TCommandAnswer answer;
  RunCommand("AT+CGSN", '\r', 15, answer);
  return answer.Succeeded() ? at::SerialNumber(answer) : AnsiString();
}

int TVeskGSM::GetSignalStrength() {
  at::TCommandAnswer answer;
  RunCommand("AT+CSQ", '\r', 15, answer);
  return answer.Succeeded() ? at::SignalStrength(answer) : 99;
}

bool TVeskGSM::HideMyPhoneNumber(bool hideNumber) {
  const bool ok = ExecuteATCommand(hideNumber ? "AT+CLIR=1" : "AT+CLIR=2", '\r');
  Pause(250);
  return ok;
}

bool TVeskGSM::SetAutoAnswer(int noRings) {
  const bool ok = ExecuteATCommand("ATS0=" + IntToStr(noRings), '\r');
  Pause(250);
  return ok;
}

bool TVeskGSM::SetEcho(bool state) {
  const bool ok = ExecuteATCommand(state ? "ATE1" : "ATE0", '\r');
  Pause(200);
  return ok;
}

bool TVeskGSM::DialVoice(const AnsiString& PhoneNumber) {
  if (!at::CheckDialString(PhoneNumber).empty()) return false;
  const bool ok = ExecuteATCommand("ATD" + PhoneNumber + ";", '\r');
  Pause(150);
  return ok;
}

bool TVeskGSM::DialData(const AnsiString& PhoneNumber) {
  if (!at::CheckDialString(PhoneNumber).empty()) return false;
  const bool ok = ExecuteATCommand("ATD" + PhoneNumber, '\r');
  Pause(150);
  return ok;
}

bool TVeskGSM::AnswerCall() {
  const bool ok = ExecuteATCommand("ATA", '\r');
  Pause(150);
  return ok;
}

bool TVeskGSM::TerminateCall() {
  const bool ok = ExecuteATCommand("AT+CHUP", '\r');
  Pause(150);
  return ok;
}

}  // namespace vesk
