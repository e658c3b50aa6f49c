// The modem's state: its errors, the SIM, the network, the service centre.
//
// What the component keeps (TStateData, under FStateLock):
//   * the last modem error of each thread that ran a command;
//   * for the current connection: the modem's character set, which of the
//     unsolicited registration results the set-up switched on, which
//     registration reads the modem refused, and the last registration each
//     of +CREG, +CGREG and +CEREG reported (answers and unsolicited);
//   * the USSD request waiting for its answer (commands/Ussd.cpp).
// What a connection learnt is forgotten when the next one begins: the
// state is kept with the connection's number and reset when it changes.
//
// Waiting for the network: WaitForNetwork asks once, then sleeps on the
// connection's news count (port/Connection.h), which the dispatcher moves
// for each unsolicited registration result (incoming/Notices.cpp); Close,
// loss and destruction end the wait. Without unsolicited results it asks
// again every second.
#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <thread>

#include "commands/Answers.h"
#include "commands/StateAnswers.h"
#include "commands/StateData.h"
#include "component/VeskGSM.h"
#include "port/Connection.h"

namespace vesk {

namespace {

using Steady = std::chrono::steady_clock;

constexpr std::size_t kErrorThreads = 64;
const char* const kFamilyReads[kFamilies] = {"AT+CREG?", "AT+CGREG?", "AT+CEREG?"};
const char* const kFamilySets[kFamilies] = {"AT+CREG=", "AT+CGREG=", "AT+CEREG="};

Steady::time_point DeadlineAfterSeconds(int seconds) {
  return Steady::now() +
         std::chrono::duration_cast<Steady::duration>(GetClock()->RealDuration(seconds > 0 ? seconds * 1000.0 : 0));
}

// A refusal that means "no such command here", not "not now" (operation
// not allowed, a SIM that wants its PIN, may pass).
bool Unsupported(const at::TCommandAnswer& answer) {
  if (!answer.Failed()) return false;
  const TModemError e = ModemErrorFromLine(answer.FinalLine);
  return e.Kind == mekError || (e.Kind == mekCME && e.Number == 4) || (e.Kind == mekCMS && e.Number == 303);
}

}  // namespace

TVeskGSM::TStateData& TVeskGSM::StateData(unsigned generation) {
  if (!FState) FState = std::make_shared<TStateData>();
  TStateData& d = *FState;
  if (d.generation != generation) {
    d.generation = generation;
    d.charset.clear();
    for (int i = 0; i < kFamilies; ++i) {
      d.notices[i] = false;
      d.refused[i] = false;
      d.known[i] = TRegistration();
    }
  }
  return d;
}

// ---------------------------------------------------------------- errors

void TVeskGSM::SetLastModemError(const TModemError& error) {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(FStateLock);
  if (!FState) FState = std::make_shared<TStateData>();
  TStateData& d = *FState;
  if (d.errors.find(self) == d.errors.end()) {
    d.errorOrder.push_back(self);
    if (d.errorOrder.size() > kErrorThreads) {
      d.errors.erase(d.errorOrder.front());
      d.errorOrder.pop_front();
    }
  }
  d.errors[self] = error;
}

TModemError TVeskGSM::GetLastModemError() const {
  std::lock_guard<std::mutex> lock(FStateLock);
  if (!FState) return TModemError();
  const auto found = FState->errors.find(std::this_thread::get_id());
  return found == FState->errors.end() ? TModemError() : found->second;
}

void TVeskGSM::NoteCommandOutcome(const at::TCommandAnswer& answer, int timeOutSeconds) {
  NoteAnswerOutcome(answer.Complete);
  if (!answer.Complete)
    SetLastModemError(ModemErrorBecause("no answer within " + IntToStr(timeOutSeconds) + " seconds"));
  else if (answer.Succeeded())
    SetLastModemError(TModemError());
  else if (answer.Failed())
    SetLastModemError(ModemErrorFromLine(answer.FinalLine));
  else  // BUSY, NO CARRIER ...: no error, but no success either
    SetLastModemError(ModemErrorBecause(answer.FinalLine));
}

// ---------------------------------------------------------------- set-up

void TVeskGSM::SetUpModemState() {
  const unsigned generation = FLink->Generation();
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    StateData(generation);
  }
  at::TCommandAnswer answer;
  // Numeric error codes, which GetLastModemError names. A modem that
  // refuses goes on as it is.
  RunCommand("AT+CMEE=1", '\r', 15, answer, true);
  if (!answer.Complete) return;  // nothing answers: waiting for more is no use
  RunCommand("AT+CSCS?", '\r', 15, answer, true);
  const AnsiString charset = at::CharacterSetOf(answer);
  bool notices[kFamilies];
  bool refused[kFamilies];
  for (int i = 0; i < kFamilies; ++i) {
    // Unsolicited results with the area and cell (2), else the status alone.
    RunCommand(AnsiString(kFamilySets[i]) + "2", '\r', 15, answer, true);
    if (!answer.Succeeded() && answer.Complete) RunCommand(AnsiString(kFamilySets[i]) + "1", '\r', 15, answer, true);
    notices[i] = answer.Succeeded();
    refused[i] = Unsupported(answer);
  }
  // USSD results presented, those the network starts included (OnUSSD).
  RunCommand("AT+CUSD=1", '\r', 15, answer, true);
  std::lock_guard<std::mutex> lock(FStateLock);
  TStateData& d = StateData(generation);
  d.charset = charset;
  for (int i = 0; i < kFamilies; ++i) {
    d.notices[i] = notices[i];
    d.refused[i] = refused[i];
  }
}

bool TVeskGSM::IsSetUp() const { return FLink->State() == TLinkState::Open; }

AnsiString TVeskGSM::CharacterSet() {
  const unsigned generation = FLink->Generation();
  std::lock_guard<std::mutex> lock(FStateLock);
  return StateData(generation).charset;
}

// ---------------------------------------------------------------- SIM

TSIMState TVeskGSM::GetSIMState() {
  at::TCommandAnswer answer;
  RunCommand("AT+CPIN?", '\r', 15, answer);
  return at::SIMState(answer);
}

int TVeskGSM::PINRetriesFor(const char* code) {
  at::TCommandAnswer answer;
  RunCommand("AT+CPINR", '\r', 15, answer, true);
  return at::PINRetries(answer, code);
}

int TVeskGSM::GetPINRetries() { return PINRetriesFor("SIM PIN"); }

bool TVeskGSM::EnterPIN(const AnsiString& strPin, bool lastTry) {
  // A PIN that is no PIN is never written (nor one that would end the
  // command line).
  if (AnsiString why = at::CheckPIN(strPin); !why.empty()) {
    SetLastModemError(ModemErrorBecause(why));
    return false;
  }
  const TSIMState state = GetSIMState();
  const char* code = nullptr;
  switch (state) {
    case ssPUKNeeded:
      SetLastModemError(ModemErrorBecause("the SIM needs its PUK (EnterPUK); no PIN was sent"));
      return false;
    case ssPUK2Needed: SetLastModemError(ModemErrorBecause("the SIM needs its PUK2; no PIN was sent")); return false;
    case ssPINNeeded:
    case ssUnknown: code = "SIM PIN"; break;
    case ssPIN2Needed: code = "SIM PIN2"; break;
    case ssPhoneToSIMPINNeeded: code = "PH-SIM PIN"; break;
    case ssReady:
    case ssNotInserted:
    case ssFailure:
    case ssBusy: break;
  }
  if (code != nullptr) {
    const int left = PINRetriesFor(code);
    if (left == 0) {
      SetLastModemError(ModemErrorBecause("no PIN try is left: the SIM needs its PUK; no PIN was sent"));
      return false;
    }
    if (left == 1 && !lastTry) {
      SetLastModemError(ModemErrorBecause(
          "one PIN try is left: a wrong PIN would lock the SIM; EnterPIN(pin, true) uses it; no PIN was sent"));
      return false;
    }
  }
  const bool ok = ExecuteATCommand("AT+CPIN=\"" + strPin + "\"", '\r');
  Pause(250);
  return ok;
}

bool TVeskGSM::EnterPIN() { return EnterPIN(GetPIN(), false); }

bool TVeskGSM::EnterPUK(const AnsiString& puk, const AnsiString& newPin) {
  AnsiString why = at::CheckPUK(puk);
  if (why.empty()) why = at::CheckPIN(newPin);
  if (!why.empty()) {
    SetLastModemError(ModemErrorBecause(why));
    return false;
  }
  const bool ok = ExecuteATCommand("AT+CPIN=\"" + puk + "\",\"" + newPin + "\"", '\r');
  Pause(250);
  return ok;
}

// ---------------------------------------------------------------- network

TRegistration TVeskGSM::GetRegistration() {
  const unsigned generation = FLink->Generation();
  TRegistration best;
  bool read = false;
  for (int i = 0; i < kFamilies; ++i) {
    {
      std::lock_guard<std::mutex> lock(FStateLock);
      if (StateData(generation).refused[i]) continue;
    }
    at::TCommandAnswer answer;
    RunCommand(kFamilyReads[i], '\r', 15, answer, true);
    const TRegistration r = at::RegistrationOf(answer, kFamilyNames[i]);
    {
      std::lock_guard<std::mutex> lock(FStateLock);
      TStateData& d = StateData(generation);
      if (Unsupported(answer)) d.refused[i] = true;
      if (r.Stat >= 0) d.known[i] = r;
    }
    read = read || r.Stat >= 0;
    if (at::BetterRegistration(r, best)) best = r;
    if (best.IsRegistered()) break;
  }
  // A report the modem lacks is no error of the call.
  if (read) SetLastModemError(TModemError());
  return best;
}

bool TVeskGSM::KnownRegistered() {
  const unsigned generation = FLink->Generation();
  std::lock_guard<std::mutex> lock(FStateLock);
  const TStateData& d = StateData(generation);
  for (const TRegistration& r : d.known)
    if (r.IsRegistered()) return true;
  return false;
}

bool TVeskGSM::RegistrationNoticesOn() {
  const unsigned generation = FLink->Generation();
  std::lock_guard<std::mutex> lock(FStateLock);
  const TStateData& d = StateData(generation);
  for (bool on : d.notices)
    if (on) return true;
  return false;
}

bool TVeskGSM::WaitForNetwork(int timeoutSeconds) {
  const Steady::time_point deadline = DeadlineAfterSeconds(timeoutSeconds);
  const unsigned generation = FLink->Generation();
  unsigned seen = FLink->NewsCount();
  if (GetRegistration().IsRegistered()) return true;
  const bool notices = RegistrationNoticesOn();
  for (;;) {
    if (KnownRegistered()) return true;
    if (!FLink->Active(generation) || Steady::now() >= deadline) return false;
    if (notices) {
      if (!FLink->WaitForNews(seen, deadline)) return false;
      seen = FLink->NewsCount();
      continue;
    }
    // A second of the component's clock, or what is left of the time-out.
    const auto second = GetClock()->RealDuration(1000);
    const auto left = deadline - Steady::now();
    const double wait = left < second
                            ? 1000.0 * static_cast<double>(left.count()) /
                                  static_cast<double>(std::chrono::duration_cast<Steady::duration>(second).count())
                            : 1000.0;
    if (!Pause(wait)) return false;
    try {
      if (GetRegistration().IsRegistered()) return true;
    } catch (const EVeskGSMException&) {
      return false;  // the port went away meanwhile
    }
  }
}

TOperator TVeskGSM::GetOperator() {
  at::TCommandAnswer answer;
  // The long alphanumeric name, whatever format was chosen before.
  RunCommand("AT+COPS=3,0", '\r', 15, answer, true);
  RunCommand("AT+COPS?", '\r', 15, answer);
  return at::OperatorOf(answer, CharacterSet());
}

// ---------------------------------------------------------------- service centre

AnsiString TVeskGSM::GetServiceCenter() {
  at::TCommandAnswer answer;
  RunCommand("AT+CSCA?", '\r', 15, answer);
  AnsiString number;
  return at::ServiceCentreOf(answer, CharacterSet(), number) ? number : AnsiString();
}

bool TVeskGSM::SetServiceCenter(const AnsiString& number) {
  AnsiString why = Trim(number).empty() ? AnsiString("no service centre number")
                                        : at::CheckArgument(number, "the service centre number");
  if (!why.empty()) {
    SetLastModemError(ModemErrorBecause(why));
    return false;
  }
  const AnsiString type = !number.empty() && number[0] == '+' ? "145" : "129";
  const bool ok = ExecuteATCommand("AT+CSCA=\"" + at::ToTECharacterSet(number, CharacterSet()) + "\"," + type, '\r');
  Pause(250);
  return ok;
}

}  // namespace vesk
