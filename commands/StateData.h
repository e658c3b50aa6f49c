// What the component keeps of the modem's state (commands/State.cpp
// describes it), shared by the files that use it. Inside the component only.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <thread>

#include "commands/Errors.h"
#include "commands/ModemState.h"
#include "component/VeskGSM.h"

namespace vesk {

// +CREG, +CGREG, +CEREG, in this order.
constexpr int kFamilies = 3;
inline const char* const kFamilyNames[kFamilies] = {"+CREG", "+CGREG", "+CEREG"};

// The place of a report's name in that order; -1 for another name.
inline int FamilyOf(const AnsiString& name) {
  for (int i = 0; i < kFamilies; ++i)
    if (name == kFamilyNames[i]) return i;
  return -1;
}

struct TVeskGSM::TStateData {
  std::map<std::thread::id, TModemError> errors;
  std::deque<std::thread::id> errorOrder;  // oldest first, for the cap

  unsigned generation = 0;
  AnsiString charset;  // "" until the set-up read it
  bool notices[kFamilies] = {false, false, false};
  bool refused[kFamilies] = {false, false, false};
  TRegistration known[kFamilies];

  bool ussdWaiting = false;
  bool ussdCancelled = false;
  std::optional<TUSSDResult> ussdAnswer;
};

}  // namespace vesk
