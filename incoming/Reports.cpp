// Delivery reports and direct delivery, the dispatcher's part: status
// reports however they come, messages routed straight to the component,
// their acknowledgement, and the pairing of reports with sent messages.
//
//   +CDS: <length> / <pdu>      (PDU mode)  ─┐
//   +CDS: <fo>,<mr>,...         (text mode) ─┼─▶ decode ─▶ OnStatusReport ─▶ [OnMessageStatus]
//   +CMGR / +CMGL of a report                ─┘                             ─▶ [AT+CNMA]
//   +CDSI: "SR",<index>  ─▶ GetSMS ─▶ (the +CMGR above) ─▶ ... ─▶ DeleteSMS
//   +CMT: ... / <pdu>    ─▶ decode (and reassemble) ─▶ OnReadMessage ─▶ [AT+CNMA]
//
// A delivery routed to the component (+CMT, +CDS) is acknowledged with
// AT+CNMA once its event has returned, when the set-up found the modem in
// phase 2+ service (AT+CSMS=1); one the network delivers again because
// the acknowledgement went missing is recognised by its text and only
// acknowledged, not reported again. What fails to decode raises OnError
// with the text as received (GetLastDecodeError() says why) and is still
// acknowledged: delivering it again would not make it decode.
//
// Locking: FReportsLock guards the state below and is never held while
// an event or a command runs.
#include <algorithm>
#include <chrono>
#include <deque>
#include <set>
#include <thread>
#include <utility>

#include "codec/Deliver.h"
#include "codec/StatusReport.h"
#include "codec/TextMode.h"
#include "commands/Indications.h"
#include "component/VeskGSM.h"
#include "incoming/Framing.h"
#include "incoming/Pairing.h"
#include "incoming/ReportsState.h"
#include "port/Connection.h"

namespace vesk {

namespace {

using reports::kMaxWaiting;
using reports::Place;
using reports::PlaceOf;

}  // namespace

// ---------------------------------------------------------------- state

TVeskGSM::TReportsState& TVeskGSM::ReportsState() {
  if (!FReports) {
    FReports = std::make_shared<TReportsState>();
    FReports->pending.SetLimit(static_cast<std::size_t>(std::max(0, FMaxPendingMessages.load())));
  }
  return *FReports;
}

// ---------------------------------------------------------------- names

AnsiString EnumName(TNewMessageIndication v) {
  switch (v) {
    case nmStore: return "nmStore";
    case nmDirect: return "nmDirect";
  }
  return "nmStore";
}

bool EnumFromName(const AnsiString& name, TNewMessageIndication& v) {
  for (TNewMessageIndication each : {nmStore, nmDirect})
    if (EnumName(each) == name) {
      v = each;
      return true;
    }
  return false;
}

AnsiString OutcomeName(TMessageOutcome v) {
  switch (v) {
    case moDelivered: return "delivered";
    case moFailed: return "failed";
    case moExpired: return "expired";
  }
  return "failed";
}

// ---------------------------------------------------------------- properties

void TVeskGSM::SetStatusReportRequest(bool value) {
  if (FStatusReportRequest.exchange(value) == value || !value || !PortDevice()) return;
  int routed;
  {
    std::lock_guard<std::mutex> lock(FReportsLock);
    const TReportsState& st = ReportsState();
    routed = st.setUpGeneration == FLink->Generation() ? st.routedReports : -1;
  }
  // Reports that the indication would not route: set it up again.
  if (routed <= 0) SetUpMessageIndication();
}

void TVeskGSM::SetNewMessageIndication(TNewMessageIndication value) {
  if (FNewMessageIndication.exchange(value) == value) return;
  if (PortDevice()) SetUpMessageIndication();
}

void TVeskGSM::SetStoredMessageCheckInterval(int seconds) {
  const int before = FStoredMessageCheckInterval.exchange(seconds);
  if (before > 0 || seconds <= 0) return;
  // Switched on: a first check soon, as on open.
  {
    std::lock_guard<std::mutex> lock(FReportsLock);
    ReportsState().checkDue = true;
  }
  FLink->WakeReader();
}

void TVeskGSM::SetMaxPendingMessages(int count) {
  FMaxPendingMessages = count;
  std::lock_guard<std::mutex> lock(FReportsLock);
  ReportsState().pending.SetLimit(static_cast<std::size_t>(std::max(0, count)));
}

int TVeskGSM::GetPendingMessageCount() const {
  std::lock_guard<std::mutex> lock(FReportsLock);
  return FReports ? static_cast<int>(FReports->pending.Count()) : 0;
}

AnsiString TVeskGSM::GetNewMessageIndicationCommand() const {
  std::lock_guard<std::mutex> lock(FReportsLock);
  return FReports ? FReports->indicationCommand : AnsiString();
}

bool TVeskGSM::GetAcknowledgesDeliveries() const {
  std::lock_guard<std::mutex> lock(FReportsLock);
  return FReports && FReports->acknowledge && FReports->setUpGeneration == FLink->Generation();
}

// ---------------------------------------------------------------- sending

TSubmitOptions TVeskGSM::SubmitOptions() const {
  TSubmitOptions options;
  options.StatusReportRequest = FStatusReportRequest;
  options.ValidityMinutes = FValidityPeriod;
  return options;
}

AnsiString TVeskGSM::TextSubmitParameters() {
  const TSubmitOptions options = SubmitOptions();
  const bool custom = options.StatusReportRequest || options.ValidityMinutes > 0;
  std::lock_guard<std::mutex> lock(FReportsLock);
  TReportsState& st = ReportsState();
  const unsigned generation = FLink->Generation();
  const bool wasSet = st.submitParametersSet && st.submitGeneration == generation;
  if (!custom && !wasSet) return AnsiString();
  st.submitParametersSet = custom;
  st.submitGeneration = generation;
  // TS 27.005 3.3.2 <fo> and <vp>: an SMS-SUBMIT with a relative validity
  // period (17), TP-SRR (+32); 167 is the command's default period.
  const int firstOctet = 17 | (options.StatusReportRequest ? 32 : 0);
  const int validity = options.ValidityMinutes > 0 ? codec::RelativeValidityPeriod(options.ValidityMinutes) : 167;
  return "AT+CSMP=" + IntToStr(firstOctet) + "," + IntToStr(validity);
}

void TVeskGSM::NoteSentMessage(const AnsiString& recipient, const std::vector<int>& references) {
  if (!FStatusReportRequest) return;
  std::lock_guard<std::mutex> lock(FReportsLock);
  ReportsState().pending.Add(recipient, references, Now());
}

// ---------------------------------------------------------------- reports

bool TVeskGSM::TReportsState::Repeated(TVeskGSM& g, const AnsiString& key) {
  std::lock_guard<std::mutex> lock(g.FReportsLock);
  return g.ReportsState().deliveries.Has(key);
}

void TVeskGSM::TReportsState::Remember(TVeskGSM& g, const AnsiString& key) {
  std::lock_guard<std::mutex> lock(g.FReportsLock);
  g.ReportsState().deliveries.Add(key);
}

bool TVeskGSM::TReportsState::DecodeFailed(TVeskGSM& g, const AnsiString& why, const AnsiString& received) {
  {
    std::lock_guard<std::mutex> lock(g.FFieldsLock);
    g.FLastDecodeError = why;
    g.FDecodeFailed = true;
  }
  g.OnError(&g, received);
  return DispatchMayContinue();
}

bool TVeskGSM::TReportsState::RaiseReport(TVeskGSM& g, const Fields& report, bool listing, const AnsiString& location,
                                          int index) {
  TPairing pairing;
  {
    std::lock_guard<std::mutex> lock(g.FReportsLock);
    pairing = g.ReportsState().pending.Report(report.reference, report.recipient, report.status, Now());
  }
  std::vector<int> indexes;
  if (index >= 0) indexes.push_back(index);
  if (!g.RaiseWithPlace(location, std::move(indexes), listing, [&] {
        g.OnStatusReport(&g, report.reference, report.recipient, report.status, report.received, report.discharged);
      }))
    return false;
  if (!pairing.Completed) return true;
  g.OnMessageStatus(&g, pairing.Recipient, pairing.References, pairing.Outcome);
  return DispatchMayContinue();
}

bool TVeskGSM::TReportsState::Acknowledge(TVeskGSM& g) {
  {
    std::lock_guard<std::mutex> lock(g.FReportsLock);
    TReportsState& st = g.ReportsState();
    if (!st.acknowledge || st.setUpGeneration != g.FLink->Generation()) return true;
    // An acknowledgement's command reads what came meanwhile, and the
    // deliveries in it are dispatched on this thread: theirs are owed to
    // the loop below, not sent from further down the stack.
    ++st.acksOwed;
    if (!st.ackingThreads.insert(std::this_thread::get_id()).second) return true;
  }
  auto done = OnScopeExit([&g] {
    if (!DispatchMayContinue()) return;
    std::lock_guard<std::mutex> lock(g.FReportsLock);
    g.ReportsState().ackingThreads.erase(std::this_thread::get_id());
  });
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(g.FReportsLock);
      TReportsState& st = g.ReportsState();
      if (st.acksOwed == 0) return true;
      --st.acksOwed;
    }
    at::TCommandAnswer answer;
    try {
      g.RunCommand("AT+CNMA", '\r', 15, answer);
    } catch (const EVeskGSMException&) {
      // The port went away meanwhile: nothing is owed to it any more.
      std::lock_guard<std::mutex> lock(g.FReportsLock);
      g.ReportsState().acksOwed = 0;
      return DispatchMayContinue();
    }
    if (!DispatchMayContinue()) return false;
    // A refusal ("+CMS ERROR: 340") raised OnError as the command's answer
    // was dispatched; silence is told here.
    if (!answer.Complete) {
      g.OnError(&g, "no answer to AT+CNMA within 15 seconds");
      if (!DispatchMayContinue()) return false;
    }
  }
}

bool TVeskGSM::TReportsState::ReadReport(const at::TResult& result, Fields& out, AnsiString& error) {
  if (result.TextMode || (!result.HasBody && at::IsTextStatusReport(result))) {
    const at::TTextStatusReport t = at::TextStatusReport(result);
    if (!t.Error.empty()) {
      error = t.Error;
      return false;
    }
    out = {t.MessageReference, t.Recipient, t.Status, t.ServiceCentreTimeStamp, t.DischargeTime};
    return true;
  }
  if (!result.HasBody) {
    error = "the status report has no PDU";
    return false;
  }
  const codec::StatusReportPDU r =
      at::TpduAlone(result) ? codec::DecodeStatusReportTpdu(result.Body) : codec::DecodeStatusReport(result.Body);
  if (r.Error != nullptr) {
    error = r.Error;
    return false;
  }
  out = {r.MessageReference, r.Recipient, r.Status, r.ServiceCentreTimeStamp, r.DischargeTime};
  return true;
}

bool TVeskGSM::HandleStatusReportResult(const at::TResult& result, const AnsiString& framed) {
  const AnsiString key = "CDS\x1F" + (result.TextMode ? Trim(result.Fields) : UpperCase(result.Body));
  if (!TReportsState::Repeated(*this, key)) {
    TReportsState::Fields report;
    AnsiString error;
    if (!TReportsState::ReadReport(result, report, error)) {
      if (!TReportsState::DecodeFailed(*this, error, at::ResultText(framed, result))) return false;
    } else if (!TReportsState::RaiseReport(*this, report, false, AnsiString(), -1)) {
      return false;
    }
    TReportsState::Remember(*this, key);
  }
  return TReportsState::Acknowledge(*this);
}

bool TVeskGSM::HandleDirectMessage(const at::TResult& result, const AnsiString& framed) {
  const AnsiString key =
      "CMT\x1F" + (result.TextMode ? Trim(result.Fields) + "\n" + result.Body : UpperCase(result.Body));
  if (!TReportsState::Repeated(*this, key)) {
    if (result.TextMode) {
      // The fields of +CMT are those of a read answer after its <stat>.
      const codec::TextSMS parsed = codec::TextSMSToString(at::DirectTextModeMessage(result));
      if (!ReportMessage(parsed.Text, parsed.PhoneNumber, parsed.CenterNumber, parsed.TimeStamp.value_or(0),
                         parsed.TimeZone.value_or(0), 0, false, AnsiString(), {}))
        return false;
    } else if (!result.HasBody) {
      if (!TReportsState::DecodeFailed(*this, "the +CMT has no PDU", at::ResultText(framed, result))) return false;
    } else {
      // A PDU printed without its service centre address gets an empty one.
      codec::DecodedSMS decoded;
      try {
        decoded = DecodeDeliverPDU(at::TpduAlone(result) ? "00" + result.Body : result.Body);
      } catch (const std::exception& e) {
        decoded.Error = e.what();
      }
      if (!decoded.Error.empty()) {
        if (!TReportsState::DecodeFailed(*this, decoded.Error, at::ResultText(framed, result))) return false;
      } else if (!decoded.Skip &&
                 !ReportMessage(decoded.Text, decoded.PhoneNumber, decoded.CenterNumber, decoded.TimeStamp.value_or(0),
                                decoded.TimeZone.value_or(0), 0, false, AnsiString(), {})) {
        return false;
      }
    }
    TReportsState::Remember(*this, key);
  }
  return TReportsState::Acknowledge(*this);
}

bool TVeskGSM::HandleReportNotice(const at::TResult& result) {
  const at::TNewMessageNotice notice = at::NewMessageNotice(result);
  if (!notice.IndexRead) return true;
  if (!FAutoReadNewMessage) {
    // Left stored: the application hears of it as of a stored message.
    OnNewMessage(this, notice.Storage, notice.Index);
    return DispatchMayContinue();
  }
  {
    std::lock_guard<std::mutex> lock(FReportsLock);
    std::set<Place>& waiting = ReportsState().deleteAfter;
    if (waiting.size() >= kMaxWaiting) waiting.clear();
    waiting.insert(PlaceOf(notice.Storage, notice.Index));
  }
  try {
    GetSMS(notice.Storage, notice.Index);
  } catch (const EVeskGSMException&) {
    // The port went away meanwhile; the report stays stored.
  }
  return DispatchMayContinue();
}

bool TVeskGSM::IsStoredStatusReport(const at::TResult& result) {
  if (result.Kind != at::TResultKind::ReadAnswer && result.Kind != at::TResultKind::ListEntry) return false;
  return result.HasBody && !result.TextMode ? codec::IsStatusReportPDU(result.Body) : at::IsTextStatusReport(result);
}

bool TVeskGSM::HandleStoredStatusReport(const at::TResult& result, const AnsiString& framed, const AnsiString& location,
                                        int index) {
  TReportsState::Fields report;
  AnsiString error;
  if (!TReportsState::ReadReport(result, report, error))
    return TReportsState::DecodeFailed(*this, error, at::ResultText(framed, result));
  if (!TReportsState::RaiseReport(*this, report, result.Kind == at::TResultKind::ListEntry, location, index))
    return false;
  // A report read because its notice came is deleted once reported. The
  // deletion's commands read what came meanwhile (the next report read,
  // perhaps), dispatched on this thread: its deletion is queued for the
  // loop below, not run from further down the stack.
  {
    std::lock_guard<std::mutex> lock(FReportsLock);
    TReportsState& st = ReportsState();
    if (index < 0 || st.deleteAfter.erase(PlaceOf(location, index)) == 0) return true;
    st.deletionsOwed.push_back(PlaceOf(location, index));
    if (!st.deletingThreads.insert(std::this_thread::get_id()).second) return true;
  }
  auto done = OnScopeExit([this] {
    if (!DispatchMayContinue()) return;
    std::lock_guard<std::mutex> lock(FReportsLock);
    ReportsState().deletingThreads.erase(std::this_thread::get_id());
  });
  for (;;) {
    Place place;
    {
      std::lock_guard<std::mutex> lock(FReportsLock);
      std::deque<Place>& owed = ReportsState().deletionsOwed;
      if (owed.empty()) return true;
      place = owed.front();
      owed.pop_front();
    }
    try {
      DeleteSMS(place.first, place.second);
    } catch (const EVeskGSMException&) {
      std::lock_guard<std::mutex> lock(FReportsLock);
      ReportsState().deletionsOwed.clear();
      return DispatchMayContinue();
    }
    if (!DispatchMayContinue()) return false;
  }
}

bool TVeskGSM::NoteFinalError(const at::TResult& result) {
  // TS 27.005 3.2.5: 322 "memory full".
  if (result.Final != at::TFinalCode::CmsError || result.ErrorNumber != 322) return true;
  OnError(this, "SMS storage full");
  if (!DispatchMayContinue()) return false;
  if (FNewMessageIndication == nmStore) {
    {
      std::lock_guard<std::mutex> lock(FReportsLock);
      ReportsState().checkDue = true;
    }
    FLink->WakeReader();
  }
  return true;
}

void TVeskGSM::NoteAutoRead(const AnsiString& location, int index) {
  std::lock_guard<std::mutex> lock(FReportsLock);
  std::set<Place>& reads = ReportsState().autoReads;
  if (reads.size() >= kMaxWaiting) reads.clear();
  reads.insert(PlaceOf(location, index));
}

bool TVeskGSM::SkipRepeatedStoredMessage(const at::TResult& result, const AnsiString& location, int index) {
  if (Trim(location).empty() || index < 0) return false;
  const Place place = PlaceOf(location, index);
  const AnsiString key =
      place.first + "\x1F" + IntToStr(index) + "\x1F" + (result.TextMode ? result.Body : UpperCase(result.Body));
  std::lock_guard<std::mutex> lock(FReportsLock);
  TReportsState& st = ReportsState();
  const bool automatic = st.autoReads.erase(place) > 0;
  if (!result.HasBody) return false;  // an empty position, or an answer without its PDU
  if (st.stored.Has(key)) return automatic;
  st.stored.Add(key);
  return false;
}

}  // namespace vesk
