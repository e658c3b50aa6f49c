// USSD (TS 27.007 7.15): a request, and the +CUSD answer that the network
// sends later as an unsolicited result.
//
//   caller                          dispatcher (any thread)
//   waiting := true, no answer
//   AT+CUSD=1,"<code>",15 -> OK      +CUSD: <m>,"<str>",<dcs>
//   sleeps on the news count  <----  answer := it (waiting), news
//   takes the answer, waiting := false
//
// The caller holds the port only for the AT+CUSD command: while it sleeps,
// the reader thread and other threads' commands and sends go on, and
// whichever of them reads the +CUSD dispatches it. A +CUSD that comes while
// nobody waits raises OnUSSD. CancelUSSD, Close and loss of the port wake
// the caller.
#include <algorithm>
#include <chrono>
#include <optional>

#include "commands/StateAnswers.h"
#include "commands/StateData.h"
#include "component/VeskGSM.h"
#include "port/Connection.h"

namespace vesk {

namespace {

using Steady = std::chrono::steady_clock;

// How long the AT+CUSD command itself may take to be answered (some
// modems hold its OK until the network has answered).
constexpr int kCommandSeconds = 15;

TUSSDResult Refused(TUSSDStatus status) {
  TUSSDResult r;
  r.Status = status;
  return r;
}

}  // namespace

TUSSDResult TVeskGSM::SendUSSD(const AnsiString& code, int timeoutSeconds) {
  if (AnsiString why = at::CheckUSSDCode(code); !why.empty()) {
    SetLastModemError(ModemErrorBecause(why));
    return Refused(usFailed);
  }
  return RunUSSD(code, timeoutSeconds);
}

TUSSDResult TVeskGSM::ReplyUSSD(const AnsiString& text, int timeoutSeconds) {
  if (AnsiString why = at::CheckUSSDReply(text); !why.empty()) {
    SetLastModemError(ModemErrorBecause(why));
    return Refused(usFailed);
  }
  return RunUSSD(text, timeoutSeconds);
}

TUSSDResult TVeskGSM::RunUSSD(const AnsiString& str, int timeoutSeconds) {
  if (!PortDevice()) throw EVeskGSMException(NotOpenMessage());
  std::lock_guard<std::mutex> one(FUSSDCallLock);
  const Steady::time_point deadline =
      Steady::now() + std::chrono::duration_cast<Steady::duration>(
                          GetClock()->RealDuration(timeoutSeconds > 0 ? timeoutSeconds * 1000.0 : 0));
  const unsigned generation = FLink->Generation();
  AnsiString charset;
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    TStateData& d = StateData(generation);
    d.ussdWaiting = true;
    d.ussdCancelled = false;
    d.ussdAnswer.reset();
    charset = d.charset;
  }
  auto done = OnScopeExit([this] {
    std::lock_guard<std::mutex> lock(FStateLock);
    if (FState) {
      FState->ussdWaiting = false;
      FState->ussdAnswer.reset();
    }
  });

  at::TCommandAnswer answer;
  // The answer may come before the OK, within this command's own text: it
  // is dispatched as the command ends, and taken below.
  RunCommand("AT+CUSD=1,\"" + at::ToTECharacterSet(str, charset) + "\",15", '\r',
             std::max(1, std::min(timeoutSeconds, kCommandSeconds)), answer);
  const bool refused = answer.Failed();
  const TModemError commandError = GetLastModemError();
  for (;;) {
    const unsigned seen = FLink->NewsCount();
    std::optional<TUSSDResult> taken;
    bool cancelled = false;
    {
      std::lock_guard<std::mutex> lock(FStateLock);
      taken = FState->ussdAnswer;
      cancelled = FState->ussdCancelled;
    }
    if (taken) {
      SetLastModemError(TModemError());
      return *taken;
    }
    if (cancelled) {
      SetLastModemError(ModemErrorBecause("the USSD request was cancelled"));
      return Refused(usCancelled);
    }
    if (refused) {
      SetLastModemError(commandError);
      return Refused(usFailed);
    }
    if (Steady::now() >= deadline) {
      SetLastModemError(ModemErrorBecause("no USSD answer within " + IntToStr(timeoutSeconds) + " seconds"));
      return Refused(usTimeOut);
    }
    if (!FLink->WaitForNews(seen, deadline)) {
      SetLastModemError(ModemErrorBecause("the connection ended while waiting for the USSD answer"));
      return Refused(usCancelled);
    }
  }
}

bool TVeskGSM::CancelUSSD() {
  {
    std::lock_guard<std::mutex> lock(FStateLock);
    if (FState && FState->ussdWaiting) FState->ussdCancelled = true;
  }
  FLink->ReportNews();
  return ExecuteATCommand("AT+CUSD=2", '\r');
}

}  // namespace vesk
