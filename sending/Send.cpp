// Sending short messages: the AT+CMGS dialogue in text and PDU mode.
//
// One send holds a port session from the first write to the last read, so
// the reader thread stays off the port for the whole dialogue, all parts of
// a long message included. Each message goes:
//
//   ESC, "AT", "AT+CMGF=<mode>", ["AT+CSCA=..."]   set-up
//   (what the set-up left queued is read and dispatched)
//   "AT+CMGS=<dest or length>"                      modem answers "> "
//   body, Ctrl-Z                                    "+CMGS: <mr>", OK
//
// (the parts of a long message share one AT+CMGF and AT+CSCA ahead of
// them). Between the steps the dialogue either waits fixed pauses or, with
// WaitForPrompt, waits for the modem's own answer to each step. In both
// modes the message counts as sent only on a final OK: an ERROR, a
// "+CMS ERROR: n" or "+CME ERROR: n" (any case), or no final answer within
// 15 seconds means not sent.
#include <cmath>
#include <algorithm>

#include "codec/Submit.h"
#include "commands/Answers.h"
#include "component/VeskGSM.h"
#include "sending/Split.h"

namespace vesk {

namespace {

constexpr char kEscape = '\x1B';
constexpr char kCtrlZ = '\x1A';
// How long the modem may take for each answer.
constexpr int kAnswerSeconds = 15;

AnsiString CheckNumbers(const AnsiString& phone, const AnsiString& centre) {
  if (Trim(phone).empty()) return "no phone number";
  if (AnsiString why = at::CheckArgument(phone, "the phone number"); !why.empty()) return why;
  return at::CheckArgument(centre, "the service centre number");
}

}  // namespace

// The steps of one send. Every step returns false when the send must stop,
// with error() saying why. What the modem says is read by the answer rules
// (commands/Answers.h) and handed to the dispatcher, less the echo of the
// message body, which is the application's text and not the modem's.
class TVeskGSM::TSendDialogue {
 public:
  explicit TSendDialogue(TVeskGSM& gsm) : gsm_(gsm), waitForPrompt_(gsm.GetWaitForPrompt()) {}

  const AnsiString& error() const { return error_; }
  const std::vector<int>& references() const { return references_; }

  // The escape that ends any message body left open.
  bool Escape(double pauseMs) {
    gsm_.SendString(AnsiString(1, kEscape));
    if (!waitForPrompt_) return Pause(pauseMs);
    // Whatever the escape provokes is read now, not taken for the next answer.
    gsm_.ReadString();
    return true;
  }

  // A set-up command: its answer is awaited, or a pause allowed for it.
  bool Command(const AnsiString& command, double pauseMs) {
    gsm_.SendString(command + "\r");
    promptRead_ = false;
    if (!waitForPrompt_) return Pause(pauseMs);
    at::TFinalWatch watch;
    bool completed = false;
    const AnsiString text = Read([&](const AnsiString& read) { return watch.Feed(read); }, completed);
    const at::TCommandAnswer answer = at::ReadCommandAnswer(text, command);
    if (!completed || !answer.Complete)
      return Fail("no answer to " + command + " within " + IntToStr(kAnswerSeconds) + " seconds");
    return answer.Succeeded() || Fail(answer.FinalLine);
  }

  // Reads and dispatches what the set-up left queued.
  bool Drain() {
    gsm_.ReadString();
    return true;
  }

  // AT+CMGS: the modem is to answer with the "> " prompt for the body.
  bool StartBody(const AnsiString& command, double pauseMs) {
    gsm_.SendString(command + "\r");
    promptRead_ = false;
    if (!waitForPrompt_) return Pause(pauseMs);
    at::TCommandAnswer refusal;
    at::TPromptState state = at::TPromptState::Waiting;
    bool completed = false;
    const AnsiString text = Read(
        [&](const AnsiString& read) {
          refusal = at::TCommandAnswer();
          state = at::PromptState(read, refusal);
          return state != at::TPromptState::Waiting;
        },
        completed);
    if (state == at::TPromptState::Prompted) {
      promptRead_ = true;
      return true;
    }
    if (state == at::TPromptState::Refused && refusal.Failed()) return Fail(refusal.FinalLine);
    // Should the modem be waiting for a body after all, this ends it.
    gsm_.SendString(AnsiString(1, kEscape));
    return Fail("no \"> \" prompt after " + command + " within " + IntToStr(kAnswerSeconds) + " seconds");
  }

  // The body and Ctrl-Z, then the final result: only OK means sent.
  bool Submit(const AnsiString& body, double pauseMs) {
    gsm_.SendString(body + kCtrlZ);
    if (!waitForPrompt_ && !Pause(pauseMs)) return false;
    at::TSubmitOutcome outcome;
    bool completed = false;
    // The dispatcher gets what the modem said, not the echoed body: a body
    // line saying "RING" or "ERROR" is the application's text.
    Read(
        [&](const AnsiString& read) {
          outcome = at::SubmitOutcome(body, read, promptRead_);
          return outcome.State != at::TSubmitOutcome::Pending;
        },
        completed,
        [&](const AnsiString& read) {
          return read.substr(0, outcome.EchoBegin) + read.substr(std::min(outcome.EchoEnd, read.size()));
        });
    switch (outcome.State) {
      case at::TSubmitOutcome::Sent:
        gsm_.NoteAnswerOutcome(true);
        references_.push_back(outcome.Reference);
        return true;
      case at::TSubmitOutcome::Failed:
        return Fail(outcome.FinalLine);
      case at::TSubmitOutcome::Pending:
        break;
    }
    if (!gsm_.PortDevice())
      return Fail("the connection closed during the send");
    gsm_.NoteAnswerOutcome(false, true);
    return Fail("no final result from the modem within " + IntToStr(kAnswerSeconds) + " seconds");
  }

  bool Fail(const AnsiString& why) {
    error_ = why;
    return false;
  }

 private:
  bool Pause(double ms) {
    if (gsm_.Pause(ms)) return true;
    return Fail("the connection closed during the send");
  }

  AnsiString Read(const std::function<bool(const AnsiString&)>& complete, bool& completed,
                  const std::function<AnsiString(const AnsiString&)>& forDispatcher = nullptr) {
    return gsm_.ReadAnswer(complete, kAnswerSeconds, completed, false, forDispatcher);
  }

  TVeskGSM& gsm_;
  const bool waitForPrompt_;
  // The prompt for the current body was read already (prompt-driven mode).
  bool promptRead_ = false;
  AnsiString error_;
  std::vector<int> references_;
};

void TVeskGSM::SetLastSend(const AnsiString& error, const std::vector<int>& references) {
  SetLastModemError(error.empty() ? TModemError() : ModemErrorFromLine(error));
  std::lock_guard<std::mutex> lock(FLastSendLock);
  FLastSendError = error;
  FLastMessageReferences = references;
}

AnsiString TVeskGSM::GetLastSendError() const {
  std::lock_guard<std::mutex> lock(FLastSendLock);
  return FLastSendError;
}

std::vector<int> TVeskGSM::GetLastMessageReferences() const {
  std::lock_guard<std::mutex> lock(FLastSendLock);
  return FLastMessageReferences;
}

bool TVeskGSM::SendSMSAsText(const AnsiString& PhoneNumber, const AnsiString& CenterNumber,
                             const AnsiString& MessageText) {
  AnsiString refused = CheckNumbers(PhoneNumber, CenterNumber);
  if (refused.empty())
    for (char c : MessageText)
      if (c == '\0' || c == kCtrlZ || c == kEscape) {
        refused = "the text holds a zero byte, Ctrl-Z or escape, which would end the message early";
        break;
      }
  if (!refused.empty()) {
    SetLastSend(refused, {});
    return false;
  }
  const bool withCentre = !Trim(CenterNumber).empty();
  TSendDialogue dialogue(*this);
  bool sent = false;
  try {
    TPortSession session(*this);
    // A status report or a validity period is asked of the modem, which
    // builds the SMS-SUBMIT in text mode.
    const AnsiString parameters = TextSubmitParameters();
    sent = dialogue.Escape(500) && dialogue.Command("AT", 500) && dialogue.Command("AT+CMGF=1", 500) &&
           (parameters.empty() || dialogue.Command(parameters, 500)) &&
           (!withCentre || dialogue.Command("AT+CSCA=\"" + CenterNumber + "\"", 500)) && dialogue.Drain() &&
           dialogue.StartBody("AT+CMGS=\"" + PhoneNumber + "\"", 500) && dialogue.Submit(MessageText, 800);
    // Before the session ends and what it read (a report, perhaps) is
    // dispatched.
    if (sent) NoteSentMessage(PhoneNumber, dialogue.references());
    session.End();
  } catch (const Exception& e) {
    SetLastSend(e.Message(), dialogue.references());
    throw;
  }
  SetLastSend(sent ? AnsiString() : dialogue.error(), dialogue.references());
  return sent;
}

bool TVeskGSM::SendSMSAsPDU(const AnsiString& PhoneNumber, const AnsiString& CenterNumber,
                            const WideString& MessageText, TMessageEncoding Encoding, bool Flash) {
  AnsiString refused = CheckNumbers(PhoneNumber, CenterNumber);
  // How the text goes: one encoding and one choice of tables for every part.
  codec::MessagePlan plan;
  if (refused.empty()) sending::SplitMessage(MessageText, Encoding, GetNationalLanguageTables(), plan, refused);
  const std::vector<WideString>& parts = plan.Parts;
  const TSMSInfo& how = plan.Info;
  if (!refused.empty()) {
    SetLastSend(refused, {});
    return false;
  }
  const bool withCentre = !Trim(CenterNumber).empty();
  const AnsiString setCentre = "AT+CSCA=\"" + CenterNumber + "\"";
  const WideString phone = AnsiToWide(PhoneNumber);
  const WideString centre = AnsiToWide(CenterNumber);
  const TSubmitOptions options = SubmitOptions();
  TSendDialogue dialogue(*this);
  bool sent = false;
  try {
    TPortSession session(*this);
    if (parts.size() == 1) {
      sent = dialogue.Escape(500) && dialogue.Command("AT", 500) && dialogue.Command("AT+CMGF=0", 600) &&
             (!withCentre || dialogue.Command(setCentre, 600)) && dialogue.Drain();
      if (sent) {
        const TPDUSMS pdu = codec::StringToPDUSMS(phone, centre, MessageText, how.Encoding, Flash, nullptr,
                                                  how.LockingShift, how.SingleShift, options);
        sent = dialogue.StartBody("AT+CMGS=" + pdu.Length, 600) && dialogue.Submit(pdu.Data, 800);
      }
    } else {
      // One reference for all parts, from a freshly seeded generator.
      Randomize();
      const auto reference = static_cast<std::uint8_t>(Random(255));
      const auto count = static_cast<std::uint8_t>(parts.size());
      sent = dialogue.Command("AT+CMGF=0", 500) && (!withCentre || dialogue.Command(setCentre, 500));
      for (std::size_t i = 0; sent && i < parts.size(); ++i) {
        sent = dialogue.Escape(500) && dialogue.Command("AT", 500) && dialogue.Drain();
        if (!sent) break;
        const TUDH header(reference, static_cast<std::uint8_t>(i + 1), count);
        // Never flash: a class 0 part would be shown alone. Every part goes
        // in the encoding and the tables of the whole text.
        const TPDUSMS pdu = codec::StringToPDUSMS(phone, centre, parts[i], how.Encoding, false, &header,
                                                  how.LockingShift, how.SingleShift, options);
        sent = dialogue.StartBody("AT+CMGS=" + pdu.Length, 500) && dialogue.Submit(pdu.Data, 4700);
      }
    }
    // Before the session ends and what it read (a report for a first
    // part, perhaps) is dispatched.
    if (sent) NoteSentMessage(PhoneNumber, dialogue.references());
    session.End();
  } catch (const Exception& e) {
    SetLastSend(e.Message(), dialogue.references());
    throw;
  }
  SetLastSend(sent ? AnsiString() : dialogue.error(), dialogue.references());
  return sent;
}

}  // namespace vesk
