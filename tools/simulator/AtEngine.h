// The modem's side of the AT dialogue (V.250, TS 27.007, TS 27.005), with no
// I/O and no clock: bytes in, bytes out. ModemSimulator feeds it what the
// client writes, triggers its events, and writes what it emits onto the line
// with the timing the quirks ask for.
//
// Echo: each received byte is echoed as it arrives (in command state and while
// a message body is taken), except the Ctrl-Z and ESC that end a body.
//
// Not thread-safe; ModemSimulator serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/simulator/MessageStore.h"
#include "tools/simulator/SimTypes.h"
#include "tools/simulator/SmsPdu.h"

namespace vesk::sim {

struct Emission {
  enum class Kind {
    Echo,         // the client's own bytes coming back
    Answer,       // information text and final result of a command line
    Unsolicited,  // RING, +CMTI: ... (framed)
  };
  Kind kind = Kind::Answer;
  std::string bytes;
  // Unsolicited results the network sends later (a USSD answer): due
  // `delay` from now, and only if USSD request `ussdSerial` is still the
  // one under way then (AtEngine::DeliverLater).
  Milliseconds delay{0};
  std::uint64_t ussdSerial = 0;
};
using Emissions = std::vector<Emission>;

class AtEngine {
 public:
  explicit AtEngine(ModemConfig config);

  // What the client wrote.
  void Receive(std::string_view bytes, Emissions& out);

  // Events from the network.
  std::vector<DeliveredPart> DeliverSms(const IncomingSms& sms, Emissions& out);
  // A PDU stored exactly as given (hex, service centre part first), valid
  // or not, and announced as AT+CNMI asks. The index, -1 when the storage
  // is unknown or full.
  int StoreRawPdu(const std::string& storage, const std::string& hex, SmsStatus status, bool announce, Emissions& out);
  void StartIncomingCall(const IncomingCall& call);
  // One ring of the incoming call; false when it no longer rings.
  bool Ring(Emissions& out);
  void CallerGaveUp(bool noCarrier, Emissions& out);
  void RemoteHangUp(Emissions& out);
  // A framed unsolicited line ("\r\n<text>\r\n"), buffered like the others
  // while a message body is being taken.
  void Unsolicited(const std::string& text, Emissions& out);
  // The network's registration changes: +CREG, +CGREG and +CEREG as
  // AT+CREG=<n> and the like asked for.
  void SetRegistration(int stat, Emissions& out);
  // A network-initiated USSD: +CUSD: <m>,"<text>",15 (when presentation is on).
  void NetworkUssd(int m, const std::string& utf8, Emissions& out);
  // A delayed emission came due: emitted if its USSD request still stands.
  void DeliverLater(const Emission& later, Emissions& out);

  // Power-on: settings back to the configured values, SIM locked again when
  // it has a PIN, no call, nothing half-typed. Stored messages stay.
  void PowerOn();

  // Faults of a modem that stops answering. Wedged: "AT" and the other
  // commands answer, every message command (TS 27.005: +CMGx, +CPMS,
  // +CNMI, +CSCA, +CSMS, +CSMP, +CNMA) is echoed and never answered, until
  // AT+CFUN=1,1, which answers OK and asks for a restart
  // (TakeRestartRequest). Stuck at the prompt: "> " is sent and what comes
  // is a message body, until Ctrl-Z (then sent and answered) or ESC.
  void SetWedged(bool wedged) { wedged_ = wedged; }
  bool Wedged() const { return wedged_; }
  void StickAtPrompt(Emissions& out);
  bool TakeRestartRequest() { return std::exchange(restartRequested_, false); }

  // Status reports (TS 23.040 9.2.2.3) owed for parts sent with TP-SRR:
  // the statuses to report, interim ones first, for ModemSimulator to
  // schedule by the policy's delay.
  struct ReportJob {
    int reference = 0;
    std::string destination;
    int destinationType = 0;
    std::vector<int> statuses;
  };
  std::vector<ReportJob> TakeReportJobs();
  // The network's report with `status` for the job's part, routed by
  // AT+CNMI <ds>.
  // False when the report storage is full: the report was not taken, and
  // the network tries again later (TS 23.040: memory capacity exceeded).
  bool DeliverStatusReport(const ReportJob& job, int status, Emissions& out);
  void SetReportPolicy(const ReportPolicy& policy) { config_.reports = policy; }
  const ReportPolicy& GetReportPolicy() const { return config_.reports; }

  // Deliveries routed to the client under AT+CSMS=1 (+CMT, +CDS) that
  // now wait for an AT+CNMA: ModemSimulator calls AckTimedOut with each
  // after ModemConfig::ackTimeout.
  std::vector<std::uint64_t> TakeAckWatches();
  // Delivers again what is still not acknowledged (within the bound of
  // redeliveries); false when nothing waits under that id any more.
  bool AckTimedOut(std::uint64_t id, Emissions& out);
  Milliseconds AckTimeout() const { return config_.ackTimeout; }

  // The next `count` new-message notices (+CMTI) are not sent; the
  // messages are stored as ever.
  void DropNextNotices(int count) { dropNotices_ = count; }

  // Counts: deliveries made again, acknowledgements taken, status reports
  // sent.
  int Redeliveries() const { return redeliveries_; }
  int Acknowledgements() const { return acknowledgements_; }
  int StatusReportsSent() const { return reportsSent_; }

  // Changes while running.
  void SetQuirks(const Quirks& quirks) { config_.quirks = quirks; }
  const Quirks& GetQuirks() const { return config_.quirks; }
  void SetSupported(const std::string& command, bool supported);
  void FailNextSends(int count, std::string finalResult);
  void SetSignal(int rssi, int ber);
  void SetDataCallOutcome(DataCallOutcome outcome) { config_.dataCall = outcome; }

  // What happened.
  const std::vector<std::string>& CommandLines() const { return commandLines_; }
  const std::vector<SubmittedMessage>& Submitted() const { return submitted_; }
  std::vector<StoredSms> Stored() const;
  ModemState State() const;

 private:
  enum class Form { Action, Read, Test, Set };
  enum class LineState { Command, Body, DataOnline };

  struct Arg {
    std::string value;
    bool quoted = false;
    bool present = false;
  };
  struct Args {
    std::vector<Arg> items;
    std::size_t Count() const { return items.size(); }
    bool Present(std::size_t i) const { return i < items.size() && items[i].present; }
    bool Int(std::size_t i, int& out) const;
    // A quoted string argument; false when absent or unquoted.
    bool String(std::size_t i, std::string& out) const;
  };

  // One line of information text; message bodies keep their case under the
  // lower-case quirk.
  struct Line {
    std::string text;
    bool body = false;
  };
  struct Response {
    std::vector<std::vector<Line>> blocks;
    void Info(std::string text) { blocks.push_back({Line{std::move(text), false}}); }
  };

  struct Result {
    enum class Kind { Ok, Error, Cme, Cms, Connect, Busy, NoCarrier, Prompt, Silent, Text };
    Kind kind = Kind::Ok;
    int code = 0;
    std::string text;  // Kind::Text: a whole final line
    static Result Ok() { return {}; }
    static Result Error() { return {Kind::Error, 0, {}}; }
    static Result Cme(int c) { return {Kind::Cme, c, {}}; }
    static Result Cms(int c) { return {Kind::Cms, c, {}}; }
    static Result Of(Kind k) { return {k, 0, {}}; }
  };

  using Handler = Result (AtEngine::*)(Form, const Args&, Response&);
  struct CommandEntry {
    std::string_view name;
    Handler handler;
  };
  static const CommandEntry* FindExtended(std::string_view name);

  // A message body being taken after the "> " prompt.
  struct PendingBody {
    bool write = false;        // AT+CMGW, else AT+CMGS
    bool pdu = false;
    int length = 0;            // PDU mode: <length>
    std::string destination;   // text mode
    int destinationType = 0;
    SmsStatus status = SmsStatus::StoredUnsent;
    std::string data;
  };

  static Args ParseArgs(std::string_view text);
  void ResetSettings();
  void ReceiveCommandByte(char c, Emissions& out);
  void ReceiveBodyByte(char c, Emissions& out);
  void ReceiveDataByte(char c, Emissions& out);
  void FlushEcho(Emissions& out);
  void Emit(Emissions& out, Emission::Kind kind, std::string bytes);
  void RunLine(const std::string& line, Emissions& out);
  Result Execute(std::string_view commands, Response& response);
  Result Basic(char name, int value, Response& response);
  Result SRegister(int reg, const std::string& op, std::string_view value, Response& response);
  Result Dial(std::string_view dialString, bool voice);
  Result RunExtended(const std::string& name, Form form, std::string_view args, Response& response);
  void FinishBody(Emissions& out);
  void CancelBody(Emissions& out);
  Result SendBody(const PendingBody& body, Response& response);
  Result WriteBody(const PendingBody& body, Response& response);
  std::optional<SmsPdu> BodyToPdu(const PendingBody& body, Result& error);

  // Formatting.
  std::string Format(const Response& response, const Result& result) const;
  std::string FinalText(const Result& result) const;
  std::string Frame(const std::vector<Line>& lines) const;
  std::string Case(const std::string& text) const;
  void EmitUnsolicited(std::vector<Line> lines, Emissions& out, bool messageIndication = false);
  void FlushHeldUnsolicited(Emissions& out);
  std::string TeString(const std::string& utf8) const;
  std::string FromTeString(const std::string& value) const;
  std::string Quoted(const std::string& utf8) const { return "\"" + TeString(utf8) + "\""; }
  // <alpha>: the phonebook's name for a number, quoted; empty when none.
  std::string Alpha(const std::string& number) const;
  std::string TextData(const MessageFields& f) const;
  std::string TextHeaderCmgr(const StoredMessage& m) const;
  std::string TextHeaderCmgl(int index, const StoredMessage& m) const;
  std::string TextHeaderCmt(const SmsPdu& pdu) const;
  // <fo>,<mr>,<ra>,<tora>,<scts>,<dt>,<st> of a stored status report.
  std::string TextReportFields(const MessageFields& f) const;
  // A +CMT or +CDS routed to the client: under AT+CSMS=1 it waits for an
  // AT+CNMA.
  void EmitDelivery(std::vector<Line> lines, Emissions& out);

  // Registration reports (TS 27.007 7.2, 10.1.19, 10.1.22): <n> of
  // `family` 0 (+CREG), 1 (+CGREG), 2 (+CEREG).
  Result Registration(int family, Form form, const Args& args, Response& response);
  int CurrentRegistration() const;
  std::string RegistrationFields(int family, bool withN) const;
  // USSD (TS 27.007 7.15): the scripted network's answer to a request or
  // a menu choice, sent `delay` later.
  void UssdRequest(const std::string& text, Response& response);
  void UssdAnswerLater(const std::string& line, Milliseconds delay);
  std::string UssdPlain(int m, const std::string& utf8) const;

  // Helpers.
  bool Supported(const std::string& name) const;
  Result SimCheck(bool messageService) const;
  MessageStore* Storage(const std::string& name);
  const MessageStore* Storage(const std::string& name) const;
  std::string StorageReport() const;

  // Command handlers (TS 27.007 / TS 27.005).
  Result Chup(Form, const Args&, Response&);
  Result Clip(Form, const Args&, Response&);
  Result Clir(Form, const Args&, Response&);
  Result Cmee(Form, const Args&, Response&);
  Result Cmgd(Form, const Args&, Response&);
  Result Cmgf(Form, const Args&, Response&);
  Result Cmgl(Form, const Args&, Response&);
  Result Cmgr(Form, const Args&, Response&);
  Result Cmgs(Form, const Args&, Response&);
  Result Cmgw(Form, const Args&, Response&);
  Result Cnma(Form, const Args&, Response&);
  Result Cnmi(Form, const Args&, Response&);
  Result Cops(Form, const Args&, Response&);
  Result Cpin(Form, const Args&, Response&);
  Result Cpms(Form, const Args&, Response&);
  Result Crc(Form, const Args&, Response&);
  Result Creg(Form, const Args&, Response&);
  Result Csca(Form, const Args&, Response&);
  Result Cscs(Form, const Args&, Response&);
  Result Csdh(Form, const Args&, Response&);
  Result Csmp(Form, const Args&, Response&);
  Result Csms(Form, const Args&, Response&);
  Result Csq(Form, const Args&, Response&);
  Result Cfun(Form, const Args&, Response&);
  Result Cgreg(Form, const Args&, Response&);
  Result Cereg(Form, const Args&, Response&);
  Result Cpinr(Form, const Args&, Response&);
  Result Cusd(Form, const Args&, Response&);
  Result Cimi(Form, const Args&, Response&);
  Result Gmi(Form, const Args&, Response&);
  Result Gmm(Form, const Args&, Response&);
  Result Gmr(Form, const Args&, Response&);
  Result Gsn(Form, const Args&, Response&);
  Result Info(Form form, const std::string& value, Response& response);

  ModemConfig config_;

  // Settings (power-on values from config_).
  bool echo_ = true;
  bool verbose_ = true;
  bool quiet_ = false;
  std::map<int, int> sRegisters_;
  int cmee_ = 1;
  std::string cscs_;
  int cmgf_ = 0;
  bool csdh_ = false;
  std::array<int, 5> cnmi_{};
  std::array<int, 4> csmp_{17, 167, 0, 0};
  int csms_ = 0;
  bool clip_ = false;
  int clir_ = 0;
  bool crc_ = false;
  int creg_ = 0;
  int cgreg_ = 0;
  int cereg_ = 0;
  int copsFormat_ = 0;
  int cusd_ = 0;  // AT+CUSD <n>: results presented
  int cfun_ = 1;
  bool wedged_ = false;
  bool restartRequested_ = false;  // AT+CFUN: 1 full, 0 minimum, 4 radio off; kept by ATZ
  std::string mem1_ = "SM", mem2_ = "SM", mem3_ = "SM";
  std::string serviceCentre_;
  int serviceCentreType_ = 145;

  // SIM.
  PinState pin_ = PinState::Ready;
  std::string currentPin_;
  // Tries left; a SIM keeps them through power-on.
  int pinAttempts_ = 3;
  int pukAttempts_ = 10;

  // USSD: the scripted menu's level (0 none) and the request under way.
  int ussdMenu_ = 0;
  std::uint64_t ussdSerial_ = 0;
  // Answers to send later, taken by RunLine into its emissions.
  std::vector<Emission> later_;

  // Calls.
  CallState call_ = CallState::Idle;
  IncomingCall incoming_;
  int ringsHeard_ = 0;
  std::string lastDialled_;

  // Line.
  LineState lineState_ = LineState::Command;
  std::string lineBuffer_;
  std::string lastLine_;
  std::string pendingEcho_;
  PendingBody body_;
  int plusCount_ = 0;
  std::vector<std::string> held_;        // unsolicited results held during a body or data
  std::vector<std::string> cnmiBuffer_;  // message indications held with AT+CNMI mode 0
  bool flushCnmi_ = false;               // send cnmiBuffer_ after the current answer

  // Messages.
  std::map<std::string, MessageStore> stores_;
  int nextReference_ = 0;
  int failSends_ = 0;
  std::string failResult_;

  std::vector<std::string> commandLines_;
  std::vector<SubmittedMessage> submitted_;

  // Status reports and acknowledgements.
  std::vector<ReportJob> reportJobs_;
  struct Unacknowledged {
    std::uint64_t id;
    std::vector<Line> lines;
    int redeliveries = 0;
  };
  std::deque<Unacknowledged> unacknowledged_;
  std::vector<std::uint64_t> newWatches_;
  std::uint64_t nextDeliveryId_ = 1;
  int dropNotices_ = 0;
  int redeliveries_ = 0;
  int acknowledgements_ = 0;
  int reportsSent_ = 0;
};

}  // namespace vesk::sim
