// Unsolicited results about the modem's state, from the dispatcher: the
// registration reports +CREG, +CGREG and +CEREG (TS 27.007 7.2, 10.1.19,
// 10.1.22) and the USSD result +CUSD (7.15). The answer forms of these
// lines (the answer to AT+CREG?) are the command's own and never get here
// as news; RegistrationNotice reads only the unsolicited form.
#include "commands/StateAnswers.h"
#include "commands/StateData.h"
#include "component/VeskGSM.h"
#include "port/Connection.h"

namespace vesk {

bool TVeskGSM::HandleStateNotice(const at::TResult& result) {
  if (at::IsRegistrationName(result.Name)) {
    TRegistration registration;
    if (!at::RegistrationNotice(result, registration)) return true;
    const unsigned generation = FLink->Generation();
    {
      std::lock_guard<std::mutex> lock(FStateLock);
      TStateData& d = StateData(generation);
      d.known[FamilyOf(result.Name)] = registration;
    }
    FLink->ReportNews();
    OnRegistrationChange(this, registration);
    return DispatchMayContinue();
  }
  if (result.Name == "+CUSD") {
    TUSSDResult ussd;
    if (!at::USSDNotice(result, CharacterSet(), ussd)) return true;
    bool taken = false;
    {
      std::lock_guard<std::mutex> lock(FStateLock);
      if (FState && FState->ussdWaiting && !FState->ussdAnswer) {
        FState->ussdAnswer = ussd;
        taken = true;
      }
    }
    if (taken) {
      FLink->ReportNews();
      return true;
    }
    OnUSSD(this, ussd);
    return DispatchMayContinue();
  }
  return true;
}

}  // namespace vesk
