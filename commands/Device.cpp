// Device and call commands: each sends one command through the
// command engine on the caller's thread.
#include "component/VeskGSM.h"

namespace vesk {

namespace {

bool Blank(const AnsiString& s) { return Trim(s).empty(); }

}  // namespace

AnsiString TVeskGSM::GetIMEI() {
  TStringList lines;
  const int count = ExecuteATCommand("AT+CGSN", &lines, 15, '\r');
  if (count == 0) return "";
  // With echo on, the first line is the command itself.
  if (count >= 2) {
    const AnsiString second = WideToAnsi(lines[1]);
    if (second != "OK" && second != "ERROR") return second;
  }
  return WideToAnsi(lines[0]);
}

int TVeskGSM::GetSignalStrength() {
  TStringList lines;
  if (ExecuteATCommand("AT+CSQ", &lines, 15, '\r') < 1) return 99;
  // Only the first line counts: with echo on it is the command, and the
  // result stays 99.
  const AnsiString line = WideToAnsi(lines[0]);
  if (Pos("+CSQ:", UpperCase(line)) == 0) return 99;
  const AnsiString values = line.substr(line.find(':') + 1);
  const std::size_t comma = values.find(',');
  // A line that does not read gives "not known", not a conversion error.
  int rssi;
  if (comma == AnsiString::npos || !TryStrToInt(Trim(values.substr(0, comma)), rssi)) return 99;
  return rssi;
}

bool TVeskGSM::EnterPIN(const AnsiString& strPin) {
  if (Blank(strPin)) return false;
  const bool ok = ExecuteATCommand("AT+CPIN=\"" + strPin + "\"", '\r');
  Pause(250);
  return ok;
}

bool TVeskGSM::EnterPIN() { return EnterPIN(GetPIN()); }

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
  if (Blank(PhoneNumber)) return false;
  const bool ok = ExecuteATCommand("ATD" + PhoneNumber + ";", '\r');
  Pause(150);
  return ok;
}

bool TVeskGSM::DialData(const AnsiString& PhoneNumber) {
  if (Blank(PhoneNumber)) return false;
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
