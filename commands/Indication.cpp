// How new messages and status reports reach the component (AT+CNMI,
// AT+CSMS), and the stored message check that keeps a lost notice from
// stranding a message.
//
// The set-up of the indication, from InitGSMModem (and from the setters
// of NewMessageIndication and StatusReportRequest while open):
//
//   nmStore, no reports ──▶ AT+CNMI=2,1,0,0,0 ──OK──▶ done
//            │                      │ refused
//            ▼                      ▼
//   otherwise ──▶ AT+CNMI=?, AT+CPMS=? ──▶ [nmDirect: AT+CSMS=1] ──▶ the nearest
//                 AT+CNMI the modem offers ──refused──▶ AT+CNMI=2,1,0,0,0
//
// The stored message check runs on the reader thread between polls (on
// the main thread with NeedSynchronization), while no command holds the
// port and no answer is on its way: AT+CPMS? for the receive storage and
// its counts, then a listing of its unread messages.
#include <chrono>

#include "commands/Indications.h"
#include "component/VeskGSM.h"
#include "incoming/ReportsState.h"
#include "port/Connection.h"

namespace vesk {

namespace {

// How soon idle work that is due but found the port busy is looked at
// again (milliseconds of the component's clock).
constexpr double kIdleRetryMs = 50;

// The <ds> of an AT+CNMI command line; -1 when it has none.
int RoutedReports(const AnsiString& command) {
  const std::size_t eq = command.find('=');
  if (eq == AnsiString::npos) return -1;
  std::vector<AnsiString> values;
  AnsiString rest = command.substr(eq + 1);
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = rest.find(',', start);
    values.push_back(rest.substr(start, comma == AnsiString::npos ? AnsiString::npos : comma - start));
    if (comma == AnsiString::npos) break;
    start = comma + 1;
  }
  int ds;
  return values.size() >= 4 && TryStrToInt(values[3], ds) ? ds : -1;
}

}  // namespace

void TVeskGSM::SetUpMessageIndication() {
  if (!PortDevice()) return;
  const bool direct = FNewMessageIndication == nmDirect;
  const bool reports = FStatusReportRequest;
  const unsigned generation = FLink->Generation();
  bool csmsSet;
  {
    std::lock_guard<std::mutex> lock(FReportsLock);
    const TReportsState& st = ReportsState();
    csmsSet = st.csmsSet && st.setUpGeneration == generation;
  }
  auto run = [&](const AnsiString& command) {
    at::TCommandAnswer answer;
    RunCommand(command, '\r', 15, answer);
    return answer;
  };

  AnsiString chosen;
  bool acknowledge = false;
  // Acknowledgements are for routed deliveries only; back to phase 2
  // service when they were asked for before.
  if (!direct && csmsSet) {
    run("AT+CSMS=0");
    csmsSet = false;
    if (!Pause(250)) return;
  }
  if (!direct && !reports && run(at::StandardIndicationCommand()).Succeeded()) chosen = at::StandardIndicationCommand();
  if (chosen.empty()) {
    const at::TIndicationSupport offered = at::IndicationSupport(run("AT+CNMI=?"));
    if (!Pause(250)) return;
    const at::TStorageSupport storages = at::StorageSupport(run("AT+CPMS=?"));
    if (!Pause(250)) return;
    if (direct) {
      const at::TCommandAnswer csms = run("AT+CSMS=1");
      acknowledge = at::AcknowledgementsNeeded(csms);
      csmsSet = csms.Succeeded();
      if (!Pause(250)) return;
    }
    const AnsiString nearest =
        at::IndicationCommand(at::ChooseIndication(offered, storages.HasReportMemory(), {direct, reports}));
    if (run(nearest).Succeeded())
      chosen = nearest;
    else if (nearest != at::StandardIndicationCommand() && run(at::StandardIndicationCommand()).Succeeded())
      chosen = at::StandardIndicationCommand();
  }
  std::lock_guard<std::mutex> lock(FReportsLock);
  TReportsState& st = ReportsState();
  st.indicationCommand = chosen;
  st.routedReports = RoutedReports(chosen);
  st.setUpGeneration = generation;
  st.acknowledge = acknowledge;
  st.csmsSet = csmsSet;
}

void TVeskGSM::RestoreMessageIndication() {
  AnsiString chosen;
  {
    std::lock_guard<std::mutex> lock(FReportsLock);
    const TReportsState& st = ReportsState();
    if (st.setUpGeneration == FLink->Generation()) chosen = st.indicationCommand;
  }
  if (chosen.empty() || chosen == at::StandardIndicationCommand()) return;
  ExecuteATCommand(chosen, '\r');
  Pause(250);
}

// ---------------------------------------------------------------- the stored message check

double TVeskGSM::IdleWorkDueIn() {
  // While a dialogue holds the port the reader waits for it anyway; while
  // the modem is being brought back the check waits too.
  if (PauseThreadFlag() || FRecovering) return -1;
  const int interval = FStoredMessageCheckInterval;
  double dueIn = -1;
  {
    std::lock_guard<std::mutex> lock(FReportsLock);
    const TReportsState& st = ReportsState();
    if (st.checkDue || (interval > 0 && st.checkedGeneration != FLink->Generation())) {
      dueIn = 0;
    } else if (interval > 0) {
      // The time left, in milliseconds of the component's clock.
      const auto period = GetClock()->RealDuration(interval * 1000.0);
      const auto left = period - (std::chrono::steady_clock::now() - st.lastCheck);
      dueIn = left.count() <= 0 ? 0 : interval * 1000.0 * (static_cast<double>(left.count()) / period.count());
    }
  }
  if (dueIn != 0) return dueIn;
  // Due, and idle: nothing read and waiting, no answer on its way. Not
  // idle: looked at again a little later.
  return PeekReadBuffer().empty() && !DispatcherHoldsInput() && !AnswerDue() ? 0 : kIdleRetryMs;
}

void TVeskGSM::DoIdleWork() {
  {
    std::lock_guard<std::mutex> lock(FReportsLock);
    TReportsState& st = ReportsState();
    st.checkDue = false;
    st.checkedGeneration = FLink->Generation();
    st.lastCheck = std::chrono::steady_clock::now();
  }
  // As a dispatch: after each event DispatchMayContinue() tells whether a
  // handler destroyed the component.
  AsDispatch([this] {
    try {
      at::TCommandAnswer answer;
      RunCommand("AT+CPMS?", '\r', 15, answer);
      if (!DispatchMayContinue()) return;
      // <mem1>, <mem2>, <mem3>: messages are received into the third.
      const std::vector<at::TStorageUse> uses = at::StorageUse(answer);
      const at::TStorageUse receive = uses.size() >= 3 ? uses[2] : uses.empty() ? at::TStorageUse() : uses[0];
      bool becameFull;
      {
        std::lock_guard<std::mutex> lock(FReportsLock);
        TReportsState& st = ReportsState();
        becameFull = receive.Full() && !st.storageFull;
        st.storageFull = receive.Full();
      }
      if (becameFull) {
        OnError(this, "SMS storage full");
        if (!DispatchMayContinue()) return;
      }
      // TS 27.005 3.4.2: the unread ones ("REC UNREAD", 0), which no read
      // has reported yet.
      GetAllSMS(receive.Name.empty() ? AnsiString("SM") : receive.Name, 0);
    } catch (const EVeskGSMException&) {
      // The port went away meanwhile: the next connection checks again.
    }
  });
}

}  // namespace vesk
