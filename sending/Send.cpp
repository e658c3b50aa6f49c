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
#include "component/VeskGSM.h"
#include "sending/Split.h"

namespace vesk {

namespace {

constexpr char kEscape = '\x1B';
constexpr char kCtrlZ = '\x1A';
// How long the modem may take for each answer.
constexpr int kAnswerSeconds = 15;
// The rest of an error line ("+CMS ERROR" then ": 38") follows at once.
constexpr int kLineRestSeconds = 2;

// The text after the last line end.
AnsiString LastLine(const AnsiString& text) {
  const std::size_t end = text.find_last_of("\r\n");
  return end == AnsiString::npos ? text : text.substr(end + 1);
}

bool IsErrorStart(const AnsiString& upperLine) {
  return upperLine == "ERROR" || upperLine == "+CMS ERROR" || upperLine == "+CME ERROR";
}

// The number after "+CMGS:" in an answer, -1 when there is none.
int MessageReference(const AnsiString& answer) {
  const AnsiString upper = UpperCase(answer);
  const std::size_t at = upper.rfind("+CMGS:");
  if (at == AnsiString::npos) return -1;
  std::size_t i = at + 6;
  while (i < upper.size() && upper[i] == ' ') ++i;
  std::size_t j = i;
  while (j < upper.size() && j - i < 6 && upper[j] >= '0' && upper[j] <= '9') ++j;
  int value = -1;
  if (j > i && TryStrToInt(upper.substr(i, j - i), value)) return value;
  return -1;
}

// Characters that would end or break the command line a number is put into.
bool NumberIsSafe(const AnsiString& number) {
  for (char c : number) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || c == '"') return false;
  }
  return true;
}

AnsiString CheckNumbers(const AnsiString& phone, const AnsiString& centre) {
  if (Trim(phone).empty()) return "no phone number";
  if (!NumberIsSafe(phone)) return "the phone number holds a control character or a double quote";
  if (!NumberIsSafe(centre)) return "the service centre number holds a control character or a double quote";
  return "";
}

}  // namespace

// The steps of one send. Every step returns false when the send must stop,
// with error() saying why.
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
    if (!waitForPrompt_) return Pause(pauseMs);
    AnsiString text, final;
    switch (Await("OK", text, final)) {
      case kOk:
        return true;
      case kError:
        return Fail(final);
      case kPrompt:
      case kNone:
        break;
    }
    return Fail("no answer to " + command + " within " + IntToStr(kAnswerSeconds) + " seconds");
  }

  // Reads and dispatches what the set-up left queued.
  bool Drain() {
    gsm_.ReadString();
    return true;
  }

  // AT+CMGS: the modem is to answer with the "> " prompt for the body.
  bool StartBody(const AnsiString& command, double pauseMs) {
    gsm_.SendString(command + "\r");
    if (!waitForPrompt_) return Pause(pauseMs);
    AnsiString text, final;
    switch (Await("> ", text, final)) {
      case kPrompt:
        return true;
      case kError:
        return Fail(final);
      case kOk:
      case kNone:
        break;
    }
    // Should the modem be waiting for a body after all, this ends it.
    gsm_.SendString(AnsiString(1, kEscape));
    return Fail("no \"> \" prompt after " + command + " within " + IntToStr(kAnswerSeconds) + " seconds");
  }

  // The body and Ctrl-Z, then the final result: only OK means sent.
  bool Submit(const AnsiString& body, double pauseMs) {
    gsm_.SendString(body + kCtrlZ);
    if (!waitForPrompt_ && !Pause(pauseMs)) return false;
    AnsiString text, final;
    // After fixed pauses nothing has read the prompt yet: an OK before it
    // answers an earlier command that came late, not the body.
    switch (Await("OK", text, final, !waitForPrompt_)) {
      case kOk:
        references_.push_back(MessageReference(text));
        return true;
      case kError:
        return Fail(final);
      case kPrompt:
      case kNone:
        break;
    }
    return Fail("no final result from the modem within " + IntToStr(kAnswerSeconds) + " seconds");
  }

  bool Fail(const AnsiString& why) {
    error_ = why;
    return false;
  }

 private:
  enum TAnswer { kOk, kPrompt, kError, kNone };

  bool Pause(double ms) {
    if (gsm_.Pause(ms)) return true;
    return Fail("the connection closed during the send");
  }

  // Reads until `wanted` ("OK" or the prompt "> ") or an error result
  // stands at the start of a line, in any case of letters; a marker inside
  // other text (an echoed body that says "ok", say) does not count. The
  // text read is dispatched as it comes. `final` is the error line, whole.
  // With `afterPrompt`, an OK counts only once the prompt has been read.
  TAnswer Await(const AnsiString& wanted, AnsiString& text, AnsiString& final, bool afterPrompt = false) {
    const TDateTime deadline = Now() + kAnswerSeconds / 86400.0;
    const AnsiString upperWanted = UpperCase(wanted);
    for (;;) {
      const double left = (deadline - Now()) * 86400.0;
      if (left <= 0) return kNone;
      const int seconds = std::max(1, static_cast<int>(std::ceil(left)));
      const AnsiString piece = gsm_.ReadStringUpToEndChars(wanted, "ERROR", seconds);
      if (piece.empty()) return kNone;
      text += piece;
      const AnsiString line = UpperCase(LastLine(text));
      if (line == upperWanted) {
        if (upperWanted != "OK") return kPrompt;
        if (!afterPrompt || text.find("> ") != AnsiString::npos) return kOk;
        continue;
      }
      if (IsErrorStart(line)) {
        // "+CMS ERROR" is complete with its number: read the line's rest.
        const AnsiString rest = gsm_.ReadStringUpToEndChars("\r", "\n", kLineRestSeconds);
        final = Trim(LastLine(text) + rest);
        text += rest;
        return kError;
      }
    }
  }

  TVeskGSM& gsm_;
  const bool waitForPrompt_;
  AnsiString error_;
  std::vector<int> references_;
};

void TVeskGSM::SetLastSend(const AnsiString& error, const std::vector<int>& references) {
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
    sent = dialogue.Escape(500) && dialogue.Command("AT", 500) && dialogue.Command("AT+CMGF=1", 500) &&
           (!withCentre || dialogue.Command("AT+CSCA=\"" + CenterNumber + "\"", 500)) && dialogue.Drain() &&
           dialogue.StartBody("AT+CMGS=\"" + PhoneNumber + "\"", 500) && dialogue.Submit(MessageText, 800);
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
  TSendDialogue dialogue(*this);
  bool sent = false;
  try {
    TPortSession session(*this);
    if (parts.size() == 1) {
      sent = dialogue.Escape(500) && dialogue.Command("AT", 500) && dialogue.Command("AT+CMGF=0", 600) &&
             (!withCentre || dialogue.Command(setCentre, 600)) && dialogue.Drain();
      if (sent) {
        const TPDUSMS pdu = codec::StringToPDUSMS(phone, centre, MessageText, how.Encoding, Flash, nullptr,
                                                  how.LockingShift, how.SingleShift);
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
                                                  how.LockingShift, how.SingleShift);
        sent = dialogue.StartBody("AT+CMGS=" + pdu.Length, 500) && dialogue.Submit(pdu.Data, 4700);
      }
    }
  } catch (const Exception& e) {
    SetLastSend(e.Message(), dialogue.references());
    throw;
  }
  SetLastSend(sent ? AnsiString() : dialogue.error(), dialogue.references());
  return sent;
}

}  // namespace vesk
