// The serial ports present on the machine, as the platform lists them.
#include "component/VeskGSM.h"

namespace vesk {

TCommPortSet TVeskGSM::GetExistingCommPorts() {
  TCommPortSet ports;
  for (const AnsiString& name : GetSerialPlatform()->PortNames()) ports.Include(StringToCommPort(name));
  return ports;
}

void TVeskGSM::GetExistingCommPortNames(TStrings& Strings) {
  Strings.Clear();
  std::shared_ptr<SerialPlatform> platform = GetSerialPlatform();
  // Where names ignore case (Windows) they are listed in capitals; device
  // paths elsewhere are kept exactly, or they could not be opened.
  bool exact = platform->CaseSensitiveNames();
  for (const AnsiString& name : platform->PortNames()) {
    AnsiString n = Trim(exact ? name : UpperCase(name));
    if (!n.empty()) Strings.Add(n);
  }
}

bool TVeskGSM::IsExistingCommPort(const UnicodeString& pport) {
  std::shared_ptr<SerialPlatform> platform = GetSerialPlatform();
  UnicodeString wanted = platform->CaseSensitiveNames() ? pport : UpperCase(pport);
  // A device path is looked up directly, which costs far less than listing
  // the machine's ports (the reader thread asks in every quiet cycle).
  if (pport.find(u'/') != UnicodeString::npos && platform->IsPresentDevice(WideToAnsi(pport))) return true;
  TStringList names;
  GetExistingCommPortNames(names);
  if (names.IndexOf(wanted) >= 0) return true;
  // A device the list leaves out on purpose, such as a pseudo-terminal.
  return platform->IsPresentDevice(WideToAnsi(pport));
}

}  // namespace vesk
