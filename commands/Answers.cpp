#include "commands/Answers.h"

#include <cstring>

#include "codec/TextMode.h"

namespace vesk::at {

namespace {

bool SameLine(const AnsiString& a, const AnsiString& b) { return UpperCase(Trim(a)) == UpperCase(Trim(b)); }

int IntOr(const AnsiString& field, int fallback) {
  int value;
  return TryStrToInt(Trim(field), value) ? value : fallback;
}

void TakeFinal(const TResult& r, TCommandAnswer& answer) {
  answer.Complete = true;
  answer.Code = r.Final;
  answer.ErrorNumber = r.ErrorNumber;
  answer.FinalLine = Trim(r.Line);
  answer.End = r.End;
}

// The end of the body's echo in `text` from `from`: body bytes as written,
// where a line break of the body may come back with the modem's own line
// end and a fresh "> " prompt. `more` is set when the text ran out before
// the echo did.
std::size_t EchoEnd(const AnsiString& body, const AnsiString& text, std::size_t from, bool& more) {
  more = false;
  std::size_t i = 0, j = from;
  while (i < body.size()) {
    if (j == text.size()) {
      more = j > from;  // an echo under way; no echo at all is not waited for
      return j;
    }
    const char c = text[j];
    if (c == body[i]) {
      ++i;
      ++j;
      continue;
    }
    const bool afterBreak = i > 0 && (body[i - 1] == '\r' || body[i - 1] == '\n');
    const char before = j > from ? text[j - 1] : '\0';
    const bool formatting = c == '\r' || c == '\n' || (c == '>' && (before == '\r' || before == '\n')) ||
                            (c == ' ' && before == '>');
    if (afterBreak && formatting) {
      ++j;
      continue;
    }
    break;  // no echo, or no more of it
  }
  return i == 0 ? from : j;
}

}  // namespace

// ---------------------------------------------------------------- a command's answer

TCommandAnswer ReadCommandAnswer(const AnsiString& text, const AnsiString& command) {
  TCommandAnswer answer;
  const TFraming framing = Frame(text, false);
  bool first = true;
  for (const TResult& r : framing.Results) {
    if (r.Kind == TResultKind::Final) {
      TakeFinal(r, answer);
      return answer;
    }
    const bool echo = first && !command.empty() && r.Kind == TResultKind::Information && SameLine(r.Line, command);
    first = false;
    if (!echo) answer.Results.push_back(r);
  }
  answer.End = text.size();
  return answer;
}

bool TFinalWatch::Feed(const AnsiString& text) {
  if (complete_) return true;
  const TFraming framing = Frame(text, framed_, false);
  for (const TResult& r : framing.Results)
    if (r.Kind == TResultKind::Final) return complete_ = true;
  framed_ = framing.Consumed;
  return false;
}

std::vector<AnsiString> InformationLines(const TCommandAnswer& answer) {
  std::vector<AnsiString> lines;
  for (const TResult& r : answer.Results)
    if (r.Kind == TResultKind::Information) lines.push_back(r.Line);
  return lines;
}

const TResult* FindNamed(const TCommandAnswer& answer, const char* name) {
  for (const TResult& r : answer.Results)
    if (r.Kind == TResultKind::Information && r.Name == name) return &r;
  return nullptr;
}

int SignalStrength(const TCommandAnswer& answer) {
  const TResult* csq = FindNamed(answer, "+CSQ");
  if (csq == nullptr) return 99;
  const std::vector<AnsiString> f = codec::SplitHeaderFields(csq->Fields);
  if (f.size() < 2) return 99;
  int rssi;
  return TryStrToInt(f[0], rssi) && rssi >= 0 ? rssi : 99;
}

AnsiString SerialNumber(const TCommandAnswer& answer) {
  for (const TResult& r : answer.Results) {
    if (r.Kind != TResultKind::Information) continue;
    // "+CGSN: 35..." on some modems; the bare number on most.
    const AnsiString value = r.Name == "+CGSN" ? codec::Unquote(r.Fields) : Trim(r.Line);
    if (!value.empty()) return value;
  }
  return AnsiString();
}

// ---------------------------------------------------------------- unsolicited results

TNewMessageNotice NewMessageNotice(const TResult& result) {
  TNewMessageNotice notice;
  const std::vector<AnsiString> f = codec::SplitHeaderFields(result.Fields);
  if (f.empty() || f[0].empty() || f[0][0] != '"') return notice;
  notice.Storage = codec::Unquote(f[0]);
  if (f.size() < 2) return notice;
  int index;
  notice.IndexRead = TryStrToInt(f[1], index);
  notice.Index = notice.IndexRead ? index : -1;
  return notice;
}

bool CallerNumber(const TResult& result, AnsiString& number) {
  // Only the first field matters: the quoted number, up to its closing quote.
  const AnsiString& f = result.Fields;
  if (f.empty() || f[0] != '"') return false;
  const std::size_t close = f.find('"', 1);
  if (close == AnsiString::npos) return false;
  std::size_t after = close + 1;
  while (after < f.size() && f[after] == ' ') ++after;
  if (after < f.size() && f[after] != ',') return false;
  number.assign(f, 1, close - 1);
  return true;
}

TPduHeader PduHeader(const TResult& result) {
  TPduHeader h;
  std::vector<AnsiString> f = codec::SplitHeaderFields(result.Fields);
  if (result.Kind == TResultKind::ListEntry) {
    if (!f.empty()) h.Index = IntOr(f[0], -1);
    if (!f.empty()) f.erase(f.begin());
  }
  // A header without a comma gives no status; one outside 0 to 3 is not
  // a status this component knows.
  if (f.size() >= 2) {
    h.Status = IntOr(f[0], -1);
    if (h.Status < 0 || h.Status > 3) h.Status = -1;
  }
  if (f.size() >= 3) h.Alpha = codec::Unquote(f[1]);
  if (f.size() >= 2) h.Length = IntOr(f.back(), -1);
  return h;
}

int ListIndex(const TResult& result) {
  const std::vector<AnsiString> f = codec::SplitHeaderFields(result.Fields);
  return f.empty() ? -1 : IntOr(f[0], -1);
}

AnsiString TextModeMessage(const TResult& result) {
  AnsiString fields = result.Fields;
  if (result.Kind == TResultKind::ListEntry) {
    // Without the index, the fields read like a read answer's.
    const std::vector<AnsiString> f = codec::SplitHeaderFields(fields);
    fields.clear();
    for (std::size_t i = 1; i < f.size(); ++i) fields += (i > 1 ? "," : "") + f[i];
  }
  return fields + "\r\n" + result.Body + "\r\n";
}

// ---------------------------------------------------------------- sending

TSubmitOutcome SubmitOutcome(const AnsiString& body, const AnsiString& text, bool promptRead) {
  TSubmitOutcome out;
  std::size_t from = 0;
  if (!promptRead) {
    // Up to the prompt: an error refuses the message; an OK answers an
    // earlier command that came late.
    const TFraming framing = Frame(text, false);
    bool prompted = false;
    for (const TResult& r : framing.Results) {
      if (r.Kind == TResultKind::Prompt) {
        from = r.End;
        prompted = true;
        break;
      }
      if (IsError(r)) {
        out.State = TSubmitOutcome::Failed;
        out.FinalLine = Trim(r.Line);
        out.Code = r.Final;
        out.ErrorNumber = r.ErrorNumber;
        return out;
      }
    }
    if (!prompted) return out;
  }
  bool more = false;
  out.EchoBegin = from;
  out.EchoEnd = EchoEnd(body, text, from, more);
  if (more) return out;

  const TFraming framing = Frame(text, out.EchoEnd, false);
  for (const TResult& r : framing.Results) {
    if (r.Kind == TResultKind::Information && r.Name == "+CMGS") {
      const std::vector<AnsiString> f = codec::SplitHeaderFields(r.Fields);
      out.Reference = f.empty() ? -1 : IntOr(f[0], -1);
      continue;
    }
    if (r.Kind != TResultKind::Final) continue;
    out.FinalLine = Trim(r.Line);
    out.Code = r.Final;
    out.ErrorNumber = r.ErrorNumber;
    out.State = r.Final == TFinalCode::Ok ? TSubmitOutcome::Sent : TSubmitOutcome::Failed;
    if (out.State == TSubmitOutcome::Failed) out.Reference = -1;
    return out;
  }
  return out;
}

TPromptState PromptState(const AnsiString& text, TCommandAnswer& answer) {
  const TFraming framing = Frame(text, false);
  for (const TResult& r : framing.Results) {
    if (r.Kind == TResultKind::Prompt) return TPromptState::Prompted;
    if (r.Kind == TResultKind::Final) {
      TakeFinal(r, answer);
      return TPromptState::Refused;
    }
  }
  return TPromptState::Waiting;
}

// ---------------------------------------------------------------- arguments

AnsiString CheckArgument(const AnsiString& value, const char* what) {
  for (char c : value) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '"') return AnsiString(what) + " holds a control character or a double quote";
  }
  return AnsiString();
}

AnsiString CheckDialString(const AnsiString& value) {
  if (Trim(value).empty()) return "no number";
  static const char kDialCharacters[] = "0123456789*#+ABCDabcd,TtPp!Ww@IiGg -.()";
  for (char c : value)
    if (c == '\0' || std::strchr(kDialCharacters, c) == nullptr)
      return "the number holds a character that is not a dial character";
  return AnsiString();
}

AnsiString ListStatusArgument(int status, bool textMode) {
  static const char* const kWords[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT", "ALL"};
  if (textMode && status >= 0 && status <= 4) return AnsiString("\"") + kWords[status] + "\"";
  return IntToStr(status);
}

}  // namespace vesk::at
