#include "commands/ModemState.h"

namespace vesk {

const char* SIMStateName(TSIMState state) {
  switch (state) {
    case ssReady: return "ready";
    case ssPINNeeded: return "pin";
    case ssPUKNeeded: return "puk";
    case ssPIN2Needed: return "pin2";
    case ssPUK2Needed: return "puk2";
    case ssPhoneToSIMPINNeeded: return "ph_sim_pin";
    case ssNotInserted: return "not_inserted";
    case ssFailure: return "failure";
    case ssBusy: return "busy";
    case ssUnknown: return "unknown";
  }
  return "unknown";
}

const char* RegistrationStatusName(TRegistrationStatus status) {
  switch (status) {
    case rsNotRegistered: return "not_registered";
    case rsHome: return "home";
    case rsSearching: return "searching";
    case rsDenied: return "denied";
    case rsUnknown: return "unknown";
    case rsRoaming: return "roaming";
  }
  return "unknown";
}

const char* AccessTechnologyName(int act) {
  // TS 27.007 7.3 <AcT>.
  static const char* const kNames[] = {
      "GSM",
      "GSM Compact",
      "UTRAN",
      "GSM w/EGPRS",
      "UTRAN w/HSDPA",
      "UTRAN w/HSUPA",
      "UTRAN w/HSDPA and HSUPA",
      "E-UTRAN",
      "EC-GSM-IoT",
      "E-UTRAN (NB-S1 mode)",
      "E-UTRA connected to a 5GCN",
      "NR connected to a 5GCN",
      "NG-RAN",
      "E-UTRA-NR dual connectivity",
  };
  if (act < 0 || act >= static_cast<int>(sizeof kNames / sizeof kNames[0])) return "";
  return kNames[act];
}

const char* USSDStatusName(TUSSDStatus status) {
  switch (status) {
    case usNoFurtherAction: return "no further action";
    case usFurtherAction: return "further action required";
    case usTerminated: return "terminated by network";
    case usOtherClient: return "other client responded";
    case usNotSupported: return "not supported";
    case usNetworkTimeOut: return "network time-out";
    case usTimeOut: return "time-out";
    case usFailed: return "failed";
    case usCancelled: return "cancelled";
  }
  return "failed";
}

}  // namespace vesk
