// What the modem says about its state: the SIM (TS 27.007 8.3), the network
// registration (7.2, 7.3, 10.1.19, 10.1.22), the operator (7.3) and USSD
// (7.15). Value types only; the answer rules that fill them are in
// commands/StateAnswers.h, the calls in component/VeskGSM.h.
#pragma once

#include <cstdint>

#include "component/Framework.h"

namespace vesk {

// AT+CPIN? (TS 27.007 8.3): READY, SIM PIN, SIM PUK, SIM PIN2, SIM PUK2,
// PH-SIM PIN; +CME ERROR: 10 (not inserted), 13 (failure), 14 (busy).
// ssUnknown for any other answer (the personalisation codes PH-NET PIN and
// the like included) or none.
enum TSIMState : std::uint8_t {
  ssReady,
  ssPINNeeded,
  ssPUKNeeded,
  ssPIN2Needed,
  ssPUK2Needed,
  ssPhoneToSIMPINNeeded,
  ssNotInserted,
  ssFailure,
  ssBusy,
  ssUnknown,
};

// The <stat> of +CREG, +CGREG and +CEREG; the ordinals are the values 0 to
// 5 of TS 27.007 7.2. The later values map onto these: 6 and 9 (home, SMS
// only or CSFB not preferred) to rsHome, 7 and 10 to rsRoaming, 8 and 11
// (emergency services only) to rsNotRegistered.
enum TRegistrationStatus : std::uint8_t {
  rsNotRegistered,
  rsHome,
  rsSearching,
  rsDenied,
  rsUnknown,
  rsRoaming,
};

struct TRegistration {
  TRegistrationStatus Status = rsUnknown;
  // The <stat> as the modem gave it; -1 when none was read.
  int Stat = -1;
  // <lac> or <tac>, and <ci>, as the modem wrote them (hexadecimal, without
  // quotes); empty when it gave none.
  AnsiString Area;
  AnsiString Cell;
  // <AcT> (TS 27.007 7.3); -1 when not given.
  int Technology = -1;
  // Which report it is: "+CREG" (circuit switched), "+CGREG" (GPRS) or
  // "+CEREG" (EPS); empty when nothing was read.
  AnsiString Source;

  bool IsRegistered() const { return Status == rsHome || Status == rsRoaming; }
};

// AT+COPS? (TS 27.007 7.3).
struct TOperator {
  // <mode>: 0 automatic, 1 manual, 2 deregistered, 3 format only, 4
  // manual/automatic; -1 when not read.
  int Mode = -1;
  // <format> of Name: 0 long alphanumeric, 1 short, 2 numeric; -1 when the
  // modem named no operator.
  int Format = -1;
  WideString Name;
  // <AcT>: 0 GSM, 2 UTRAN, 3 GSM w/EGPRS, 4 to 6 UTRAN w/HSPA, 7 E-UTRAN ...;
  // -1 when not given.
  int Technology = -1;
};

// TS 27.007 7.15 <m> at the ordinals 0 to 5, then what the call itself
// ended in.
enum TUSSDStatus : std::uint8_t {
  usNoFurtherAction,  // 0: the network's answer, nothing more asked
  usFurtherAction,    // 1: a menu or a question: answer with ReplyUSSD
  usTerminated,       // 2: the network ended the session
  usOtherClient,      // 3: another local client has answered
  usNotSupported,     // 4: the network does not offer it
  usNetworkTimeOut,   // 5: the network gave up waiting
  usTimeOut,          // no answer came within the call's time-out
  usFailed,           // nothing was asked: refused before writing or by the modem (GetLastModemError)
  usCancelled,        // CancelUSSD or Close ended the wait
};

struct TUSSDResult {
  TUSSDStatus Status = usFailed;
  // The text decoded by its coding scheme; the raw <str> (as a wide string)
  // when it did not decode.
  WideString Text;
  // <dcs> (TS 23.038 5); -1 when the modem gave none (0 is then assumed).
  int DCS = -1;
  // <str> as received, without its quotes.
  AnsiString Raw;
  // Whether Text is the decoded <str>.
  bool Decoded = false;
  // The +CUSD result: its name and fields as received ("" when none came).
  AnsiString Line;
};

// Names for the tool and logs: "ready", "pin", "puk", "pin2", "puk2",
// "ph_sim_pin", "not_inserted", "failure", "busy", "unknown".
const char* SIMStateName(TSIMState state);
// "not_registered", "home", "searching", "denied", "unknown", "roaming".
const char* RegistrationStatusName(TRegistrationStatus status);
// "GSM", "GSM Compact", "UTRAN", "GSM w/EGPRS", "UTRAN w/HSDPA", "UTRAN
// w/HSUPA", "UTRAN w/HSDPA and HSUPA", "E-UTRAN", "EC-GSM-IoT", "E-UTRAN
// (NB-S1 mode)", "E-UTRA connected to a 5GCN", "NR connected to a 5GCN",
// "NG-RAN", "E-UTRA-NR dual connectivity" for 0 to 13; "" otherwise.
const char* AccessTechnologyName(int act);
// "no further action", "further action required", "terminated by network",
// "other client responded", "not supported", "network time-out",
// "time-out", "failed", "cancelled".
const char* USSDStatusName(TUSSDStatus status);

}  // namespace vesk
