#include "tools/gateway/ModemWorker.h"

#include <algorithm>
#include <chrono>

#include "component/VeskGSM.h"
#include "tools/gateway/Incoming.h"
#include "tools/gateway/ModemText.h"
#include "tools/gateway/Reports.h"

namespace vesk::gateway {

namespace {

TMessageEncoding EncodingOf(const std::string& name) {
  if (name == "7bit") return me7bit;
  if (name == "8bit") return me8bit;
  if (name == "ucs2") return meUCS2;
  return meAuto;
}

std::string TrimmedText(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
  return s.substr(a, b - a);
}

bool StartsWithUpper(const std::string& text, const char* prefix) {
  return UpperCase(text.substr(0, std::char_traits<char>::length(prefix))) == prefix;
}

// A time of the component (days since 1899-12-30) as milliseconds since
// 1970; 0 for none.
Millis MillisOf(TDateTime t) {
  if (t <= 0) return 0;
  return static_cast<Millis>((t - 25569.0) * 86400000.0 + 0.5);
}

std::string References(const std::vector<int>& refs) {
  std::string text;
  for (int r : refs) text += (text.empty() ? "" : ",") + std::to_string(r);
  return text;
}

}  // namespace

// The modem's side of a send: the component's SendSMSAsPDU, watched
// through OnSend so that the store hears before a body is written, and so
// that a failure is known to have come before or after the body.
class ModemWorker::Sender : public MessageSender {
 public:
  explicit Sender(ModemWorker& worker) : worker_(worker) {}

  SendAttempt Send(const OutboxMessage& m, const std::function<void()>& beforeBody) override {
    TVeskGSM& gsm = *worker_.gsm_;
    SendAttempt attempt;
    bool marked = false, awaitingBody = false, bodyWritten = false, wroteAny = false;
    std::exception_ptr storeFailure;
    const std::thread::id self = std::this_thread::get_id();
    // OnSend comes after each write. The prompt's request is the last
    // write before a body: the store is told there, before the body goes.
    gsm.OnSend = [&](TObject*, const AnsiString& written) {
      if (std::this_thread::get_id() != self || written.empty()) return;
      wroteAny = true;
      if (StartsWithUpper(written, "AT+CMGS")) {
        if (!marked) {
          marked = true;
          try {
            beforeBody();
          } catch (...) {
            storeFailure = std::current_exception();
            throw;
          }
        }
        awaitingBody = true;
        bodyWritten = false;
        return;
      }
      if (awaitingBody && written[0] != '\x1B' && !StartsWithUpper(written, "AT")) {
        bodyWritten = true;
        awaitingBody = false;
      }
    };
    struct Unhook {
      TVeskGSM& gsm;
      ~Unhook() { gsm.OnSend = nullptr; }
    } unhook{gsm};
    try {
      // The message's own wish or the modem's `report` key (the claim
      // joined them); setting it on while open routes reports at once.
      if (gsm.GetStatusReportRequest() != m.report) gsm.SetStatusReportRequest(m.report);
      wroteAny = false;  // the indication's set-up is no part of the send
      attempt.sent =
          gsm.SendSMSAsPDU(m.to, worker_.settings_.smsc, Utf8ToWide(m.text), EncodingOf(m.encoding), m.flash);
      if (!attempt.sent) {
        // The modem's error as the component classes it; without one, the
        // send stopped for want of an answer, or before writing anything
        // because the component refused the message.
        const TModemError error = gsm.GetLastModemError();
        if (error.IsError())
          attempt.error = FromModemError(error);
        else if (!wroteAny)
          attempt.error = RefusedBeforeWriting(gsm.GetLastSendError());
        else
          attempt.error = WithoutAnswer(gsm.GetLastSendError());
      }
    } catch (const EVeskGSMException& e) {
      if (storeFailure) {
        // The modem waits for a body that will not come: end it.
        try {
          gsm.SendString("\x1B");
        } catch (const EVeskGSMException&) {
        }
        std::rethrow_exception(storeFailure);
      }
      attempt.sent = false;
      attempt.error = ConnectionLost(e.Message());
    }
    attempt.references = gsm.GetLastMessageReferences();
    attempt.bodyWritten = bodyWritten;
    return attempt;
  }

 private:
  ModemWorker& worker_;
};

ModemWorker::ModemWorker(ModemSettings settings, WorkerContext context)
    : settings_(std::move(settings)), ctx_(std::move(context)), pacer_(settings_.sendRate) {}

ModemWorker::~ModemWorker() {
  RequestStop();
  Join();
}

void ModemWorker::Start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { Run(); });
}

void ModemWorker::RequestStop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    woken_ = true;
  }
  wake_.notify_all();
}

void ModemWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

void ModemWorker::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  wake_.notify_all();
}

void ModemWorker::OnStatusReport(const StatusReport& report) {
  StatusReport r = report;
  r.modem = settings_.name;
  const std::optional<MessageState> state = TakeReport(*ctx_.store, r);
  if (!state) {
    ctx_.log->Warn(settings_.name, "",
                   "a delivery report for reference " + std::to_string(r.reference) + " to " + r.recipient +
                       " (centre time " + (r.submitted ? IsoUtc(r.submitted) : std::string("none")) +
                       ") matches no sent part");
    return;
  }
  ctx_.log->Info(settings_.name, "",
                 "delivery report, status " + std::to_string(r.status) + ": message is " + StateName(*state));
  if (ctx_.eventCommitted) ctx_.eventCommitted();
}

void ModemWorker::ReportArrived(const StatusReport& report) {
  {
    // A report may come while its message is being sent (the first part's
    // before the last part is written, or before the outcome is recorded):
    // it waits for the record, or it would find no part to pair with.
    std::lock_guard<std::mutex> lock(reportsMutex_);
    if (sending_) {
      deferredReports_.push_back(report);
      return;
    }
  }
  TakeReportNow(report);
}

void ModemWorker::TakeReportNow(const StatusReport& report) {
  try {
    OnStatusReport(report);
  } catch (const StoreError& e) {
    reportNotStored_ = true;
    ctx_.log->Error(settings_.name, "", std::string("a delivery report could not be stored: ") + e.what());
  }
}

void ModemWorker::SendingEnded() {
  std::vector<StatusReport> deferred;
  {
    std::lock_guard<std::mutex> lock(reportsMutex_);
    sending_ = false;
    deferred.swap(deferredReports_);
  }
  for (const StatusReport& r : deferred) TakeReportNow(r);
}

bool ModemWorker::WaitFor(Millis ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(std::max<Millis>(ms, 0)),
                 [this] { return woken_ || stopping_.load() || (connected_ && lost_.load()); });
  const bool woken = woken_;
  woken_ = false;
  return woken;
}

bool ModemWorker::LostOrStopping() const { return stopping_ || lost_; }

std::vector<std::string> ModemWorker::Command(const std::string& command, int seconds) {
  TStringList lines;
  gsm_->ExecuteATCommand(command, &lines, seconds, '\r');
  std::vector<std::string> out;
  for (int i = 0; i < lines.Count(); ++i) out.push_back(WideToAnsi(lines[i]));
  return out;
}

bool ModemWorker::Succeeds(const std::string& command) { return gsm_->ExecuteATCommand(command, '\r'); }

void ModemWorker::WriteStatus() {
  ModemStatus s;
  s.name = settings_.name;
  s.gateway = ctx_.gateway;
  s.port = port_.empty() ? settings_.port : port_;
  s.imei = imei_;
  s.connected = connected_;
  s.signal = signal_;
  s.sim = sim_;
  s.registration = connected_ ? registration_ : "";
  s.operatorName = connected_ ? operator_ : "";
  s.lastError = lastError_;
  s.lastErrorAt = lastErrorAt_;
  s.updated = ctx_.clock();
  try {
    ctx_.store->UpdateModem(s);
  } catch (const StoreError& e) {
    ctx_.log->Error(settings_.name, "", std::string("cannot write the modem's status: ") + e.what());
  }
}

void ModemWorker::ReadNetwork() {
  registration_ = RegistrationText(gsm_->GetRegistration());
  operator_ = OperatorText(gsm_->GetOperator());
}

void ModemWorker::NoteError(const std::string& text) {
  lastError_ = text;
  lastErrorAt_ = ctx_.clock();
  ctx_.log->Warn(settings_.name, "", text);
  WriteStatus();
}

void ModemWorker::Run() {
  threadId_ = std::this_thread::get_id();
  gsm_ = std::make_unique<TVeskGSM>();
  decoder_ = std::make_unique<IncomingDecoder>();
  sender_ = std::make_unique<Sender>(*this);
  if (ctx_.platform) gsm_->SetSerialPlatform(ctx_.platform);
  gsm_->SetAutoReadNewMessage(false);
  gsm_->SetAutoReconnect(false);
  gsm_->SetDelay(100);
  gsm_->SetWaitForPrompt(settings_.waitForPrompt);
  gsm_->OnNewMessage = [this](TObject*, const AnsiString& storage, int) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::string name = UpperCase(TrimmedText(storage));
      name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
      // The name goes into a command line: a storage name is letters,
      // digits and '_'. Anything else (a garbled notice) makes every
      // storage be read instead.
      const bool safe = !name.empty() && name.size() <= 8 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
      });
      toRead_.insert(safe ? name : std::string());
      woken_ = true;
    }
    wake_.notify_all();
  };
  auto lost = [this](TObject*, TCommPort) {
    lost_ = true;
    wake_.notify_all();
  };
  gsm_->OnDisconnect = lost;
  gsm_->OnFault = lost;
  // Delivery reports: the set-up routes them when asked for (the modem's
  // `report` key; a message's own wish turns it on at its send). Each is
  // committed on the thread that raised it, before the component deletes
  // a stored one, so a restart loses none; the store pairs it with its
  // part (the component's own pairing does not outlive the process).
  gsm_->SetStatusReportRequest(settings_.report);
  gsm_->OnStatusReport = [this](TObject*, int reference, const AnsiString& recipient, int status, TDateTime submitted,
                                TDateTime discharged) {
    StatusReport r;
    r.reference = reference;
    r.recipient = recipient;
    r.status = status;
    r.submitted = MillisOf(submitted);
    r.discharged = MillisOf(discharged);
    r.received = ctx_.clock();
    ReportArrived(r);
  };
  // The component's verdict on a whole message, when it saw the send:
  // logged beside the store's, which decides.
  gsm_->OnMessageStatus = [this](TObject*, const AnsiString& recipient, const std::vector<int>& references,
                                 TMessageOutcome outcome) {
    ctx_.log->Debug(settings_.name, "",
                    "the modem's reports say the message to " + recipient + " (reference " + References(references) +
                        ") is " + OutcomeName(outcome));
  };
  WriteStatus();

  while (!stopping_) {
    try {
      const Millis now = ctx_.clock();
      if (!connected_) {
        if (now >= nextOpen_) {
          if (Connect()) continue;
          nextOpen_ = ctx_.clock() + static_cast<Millis>(settings_.reopenSeconds * 1000);
        }
        WaitFor(std::min<Millis>(nextOpen_ - ctx_.clock(), 1000));
        continue;
      }
      if (lost_) {
        Disconnect("the modem was lost");
        nextOpen_ = ctx_.clock() + std::min<Millis>(static_cast<Millis>(settings_.reopenSeconds * 1000), 1000);
        continue;
      }
      if (now >= nextScan_) {
        for (const std::string& storage : storages_) {
          if (LostOrStopping()) break;
          ReadStorage(storage);
        }
        nextScan_ = now + ctx_.rescan;
        continue;
      }
      std::set<std::string> named;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        named.swap(toRead_);
      }
      if (named.count(std::string())) {
        nextScan_ = 0;  // a notice that did not read: every storage
        continue;
      }
      for (const std::string& storage : named) {
        if (LostOrStopping()) break;
        ReadStorage(storage);
      }
      if (stopping_ || lost_) continue;
      const Millis before = ctx_.clock();
      if (pacer_.Ready(before)) {
        const auto sendStart = std::chrono::steady_clock::now();
        {
          std::lock_guard<std::mutex> lock(reportsMutex_);
          sending_ = true;
        }
        struct Ended {
          ModemWorker& worker;
          ~Ended() { worker.SendingEnded(); }
        };
        std::optional<SendReport> report;
        {
          Ended ended{*this};
          report = ctx_.outbox->SendNext(settings_.name, settings_.report, *sender_);
        }
        if (report) {
          if (ctx_.metrics)
            ctx_.metrics->send.Observe(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - sendStart).count());
          pacer_.Started(before);
          const std::string subject = MessageSubject(report->id);
          switch (report->state) {
            case MessageState::Sent:
              ctx_.log->Info(settings_.name, subject, "sent (reference " + References(report->references) + ")");
              break;
            case MessageState::Queued:
              ctx_.log->Warn(settings_.name, subject,
                             "attempt " + std::to_string(report->attempts) + " failed (" + report->error->text +
                                 "); next attempt at " + IsoUtc(*report->retryAt));
              break;
            case MessageState::Failed:
              ctx_.log->Error(settings_.name, subject, "failed: " + report->error->text);
              break;
            case MessageState::Uncertain:
              ctx_.log->Error(settings_.name, subject, "uncertain: " + report->error->text);
              break;
            case MessageState::Sending:
            case MessageState::Delivered:
            case MessageState::Expired: break;
          }
          if (ctx_.eventCommitted) ctx_.eventCommitted();
          continue;
        }
      }
      if (now >= nextStatus_) {
        signal_ = gsm_->GetSignalStrength();
        ReadNetwork();
        WriteStatus();
        nextStatus_ = now + 30000;
      }
      Millis wait = std::min(ctx_.idlePoll, nextScan_ - ctx_.clock());
      if (!pacer_.Ready(ctx_.clock())) wait = std::min(wait, pacer_.NextAllowed() - ctx_.clock());
      WaitFor(wait);
    } catch (const EVeskGSMException& e) {
      Disconnect(e.Message());
    } catch (const StoreError& e) {
      ctx_.log->Error(settings_.name, "", std::string("the store failed: ") + e.what());
      WaitFor(5000);
    } catch (const std::exception& e) {
      ctx_.log->Error(settings_.name, "", std::string("unexpected failure: ") + e.what());
      WaitFor(1000);
    }
  }
  if (connected_) Disconnect("");
  gsm_.reset();
}

bool ModemWorker::Connect() {
  std::string why;
  bool opened = false;
  auto open = [&](const std::string& port) {
    const TCommPort p = gsm_->StringToCommPort(port);
    if (p == spCustom) gsm_->SetCustomPortName(port);
    gsm_->SetCommPort(p);
    const TBaudRate speed = gsm_->IntToBaudRate(settings_.baud);
    if (speed == brCustom) gsm_->SetCustomBaudRate(settings_.baud);
    gsm_->SetBaudRate(speed);
    lost_ = false;
    try {
      if (!gsm_->Open(true)) {
        why = port + " is not present";
        return false;
      }
    } catch (const EVeskGSMException& e) {
      why = e.Message();
      return false;
    }
    port_ = port;
    connected_ = true;
    std::lock_guard<std::mutex> lock(*ctx_.portsLock);
    ctx_.portsInUse->insert(port);
    return true;
  };
  if (!settings_.port.empty()) {
    opened = open(settings_.port);
  } else {
    // Found by its IMEI among the machine's ports that no modem has.
    TStringList names;
    gsm_->GetExistingCommPortNames(names);
    std::string tried;
    for (int i = 0; i < names.Count() && !opened && !stopping_; ++i) {
      const std::string name = WideToAnsi(names[i]);
      {
        std::lock_guard<std::mutex> lock(*ctx_.portsLock);
        if (ctx_.portsInUse->count(name) > 0) continue;
      }
      tried += (tried.empty() ? "" : ", ") + name;
      if (!open(name)) continue;
      try {
        Command("ATE0", 2);
        if (TrimmedText(gsm_->GetIMEI()) == settings_.imei) {
          opened = true;
          break;
        }
      } catch (const EVeskGSMException&) {
      }
      Disconnect("");
    }
    if (!opened) why = "no port answers with IMEI " + settings_.imei + (tried.empty() ? "" : " (tried " + tried + ")");
  }
  if (!opened) {
    NoteError("cannot open: " + why);
    return false;
  }
  try {
    if (!SetUp(why)) {
      Disconnect("");
      NoteError(why);
      return false;
    }
  } catch (const EVeskGSMException& e) {
    Disconnect("");
    NoteError("lost during the set-up: " + e.Message());
    return false;
  }
  std::string storages;
  for (const std::string& s : storages_) storages += (storages.empty() ? "" : ",") + s;
  ctx_.log->Info(settings_.name, "",
                 "connected on " + port_ + " (IMEI " + imei_ + ", signal " +
                     (signal_ ? std::to_string(*signal_) : std::string("?")) + ", storages " + storages + ")");
  WriteStatus();
  try {
    ctx_.store->Log("connected", settings_.name, port_, ctx_.clock());
  } catch (const StoreError&) {
  }
  nextScan_ = 0;
  nextStatus_ = ctx_.clock() + 30000;
  return true;
}

bool ModemWorker::SetUp(std::string& why) {
  // A message body that a send which never finished left open (the gateway
  // was killed at the prompt) ends here, unsent, before anything else.
  gsm_->SendString(std::string(1, '\x1B'));
  Command("ATE0");
  Command("AT+CMEE=1");
  // The component's own set-up: among the rest, the new-message indication
  // (AT+CNMI) the modem offers, with status reports routed when
  // StatusReportRequest is on.
  gsm_->InitGSMModem();
  const TSIMState sim = gsm_->GetSIMState();
  sim_ = SimStateText(sim);
  if (sim == ssPUKNeeded) {
    why = "the SIM is blocked: it asks for its PUK";
    return false;
  }
  if (sim == ssPINNeeded) {
    if (settings_.pin.empty()) {
      why = "the SIM asks for a PIN and none is configured";
      return false;
    }
    // The component refuses a PIN that could lock the SIM (its last try).
    if (!gsm_->EnterPIN(settings_.pin)) {
      const TModemError error = gsm_->GetLastModemError();
      why = "the SIM refused the PIN" + (error.Text.empty() ? std::string() : ": " + std::string(error.Text));
      return false;
    }
    sim_ = "ready";
  }
  if (!Succeeds("AT+CMGF=0")) {
    why = "the modem refused PDU mode (AT+CMGF=0)";
    return false;
  }
  // The component's set-up chose the indication (AT+CNMI), with status
  // reports routed when StatusReportRequest is on.
  if (gsm_->GetNewMessageIndicationCommand().empty())
    ctx_.log->Warn(settings_.name, "", "the modem refused new-message indications; its storages are read every minute");
  else if (gsm_->GetStatusReportRequest())
    ctx_.log->Info(settings_.name, "",
                   "delivery reports asked for; indication " + gsm_->GetNewMessageIndicationCommand());
  imei_ = TrimmedText(gsm_->GetIMEI());
  if (imei_.empty()) {
    why = "the modem did not say its IMEI";
    return false;
  }
  if (!settings_.imei.empty() && imei_ != settings_.imei) {
    why = "the modem on " + port_ + " has IMEI " + imei_ + ", not " + settings_.imei;
    return false;
  }
  storages_ = ReadableStorages(Command("AT+CPMS=?"));
  if (storages_.empty()) storages_ = {"SM"};
  const int signal = gsm_->GetSignalStrength();
  signal_ = signal;
  ReadNetwork();
  lastError_.clear();
  lastErrorAt_.reset();
  return true;
}

void ModemWorker::Disconnect(const std::string& why) {
  if (gsm_) gsm_->Close();
  const bool was = connected_;
  connected_ = false;
  if (!port_.empty()) {
    std::lock_guard<std::mutex> lock(*ctx_.portsLock);
    ctx_.portsInUse->erase(port_);
  }
  if (!was || why.empty()) {
    if (was) WriteStatus();
    return;
  }
  NoteError("disconnected: " + why);
  try {
    ctx_.store->Log("disconnected", settings_.name, why, ctx_.clock());
  } catch (const StoreError&) {
  }
}

void ModemWorker::ReadStorage(const std::string& storage) {
  if (!Succeeds("AT+CPMS=\"" + storage + "\"")) {
    ctx_.log->Debug(settings_.name, "", "storage " + storage + " cannot be selected");
    return;
  }
  // Status reports among the entries reach OnStatusReport, and are
  // committed, as the component dispatches the answer: before it returns.
  reportNotStored_ = false;
  const std::vector<std::string> lines = Command("AT+CMGL=4", 60);
  const Listing listing = ReadListing(lines, "AT+CMGL=4");
  if (!listing.complete) {
    if (!lines.empty()) ctx_.log->Warn(settings_.name, "", "the listing of " + storage + " was refused");
    return;
  }
  const Assembler assemble = [this](const std::vector<IncomingPart>& parts, bool complete) {
    return decoder_->Assemble(parts, complete);
  };
  for (const ListedMessage& listed : listing.entries) {
    if (stopping_ || lost_) return;
    const std::string where = storage + " " + std::to_string(listed.index);
    const TakenMessage taken = decoder_->Take(listed, settings_.name, imei_, storage, ctx_.clock());
    switch (taken.kind) {
      case TakenMessage::Kind::NotReceived:
        // A status report is stored: the modem may forget it. Messages
        // the modem keeps to send are left alone.
        if (reportNotStored_ || ReadPduHeader(listed.pdu).type != PduType::StatusReport) continue;
        if (!Succeeds("AT+CMGD=" + std::to_string(listed.index)))
          ctx_.log->Warn(settings_.name, "", "could not delete the status report at " + where);
        continue;
      case TakenMessage::Kind::Message: {
        const AddResult r = ctx_.store->AddMessage(taken.message);
        if (r.duplicate)
          ctx_.log->Info(settings_.name, InboxSubject(r.id),
                         "received again from " + taken.message.sender + " (" + where + "): already in the inbox");
        else
          ctx_.log->Info(settings_.name, InboxSubject(r.id),
                         "received from " + taken.message.sender + " (" + where + ")");
        break;
      }
      case TakenMessage::Kind::Part: {
        const IncomingPart& p = taken.part;
        const AddResult r = ctx_.store->AddPart(p, assemble);
        const std::string which = "part " + std::to_string(p.number) + " of " + std::to_string(p.total) + " from " +
                                  p.sender + " (" + where + ")";
        if (r.duplicate)
          ctx_.log->Debug(settings_.name, "", which + ": already in the store");
        else if (r.id != 0)
          ctx_.log->Info(settings_.name, InboxSubject(r.id), "received " + which + ": the message is complete");
        else
          ctx_.log->Debug(settings_.name, "", which + " kept until the rest arrives");
        break;
      }
      case TakenMessage::Kind::Undecodable:
        if (listed.pdu.empty()) {
          ctx_.log->Warn(settings_.name, "", where + " was listed without its PDU; left on the modem");
          continue;
        }
        ctx_.store->AddUndecoded(settings_.name, imei_, storage, listed.pdu, taken.reason, ctx_.clock());
        ctx_.log->Warn(settings_.name, "", where + " does not decode (" + taken.reason + "); kept as it came");
        break;
    }
    if (ctx_.eventCommitted) ctx_.eventCommitted();
    // Committed: the modem may forget it now.
    if (!Succeeds("AT+CMGD=" + std::to_string(listed.index)))
      ctx_.log->Warn(settings_.name, "", "could not delete " + where + "; it will be read (and recognised) again");
  }
}

}  // namespace vesk::gateway
