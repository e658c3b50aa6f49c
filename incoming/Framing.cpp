#include "incoming/Framing.h"

#include <algorithm>
#include <cstring>

#include "codec/Hex.h"
#include "codec/TextMode.h"

namespace vesk::at {

namespace {


char Up(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualNoCase(const char* a, std::size_t n, const char* b) {
  if (std::strlen(b) != n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (Up(a[i]) != b[i]) return false;
  return true;
}

// One line of the text: [begin, contentEnd) is its text, `next` where the
// following line starts. A line whose end may still be on its way (no line
// end yet, or a CR that ends the text) is not complete unless the text is
// final.
struct LineSpan {
  std::size_t begin = 0;
  std::size_t contentEnd = 0;
  std::size_t next = 0;
  bool complete = false;
};

LineSpan LineFrom(const AnsiString& text, std::size_t begin, bool final) {
  LineSpan line;
  line.begin = begin;
  std::size_t end = begin;
  const std::size_t n = text.size();
  while (end < n && text[end] != '\r' && text[end] != '\n') ++end;
  line.contentEnd = end;
  if (end == n) {
    line.next = n;
    line.complete = final;
  } else if (text[end] == '\n') {
    line.next = end + 1;
    line.complete = true;
  } else if (end + 1 < n) {  // a CR with something after it
    line.next = text[end + 1] == '\n' ? end + 2 : end + 1;
    line.complete = true;
  } else {  // a CR that ends the text
    line.next = n;
    line.complete = final;
  }
  return line;
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// A line without the blanks and control characters around it, as a view
// into the text (Trim's rule, without the copy).
struct Span {
  const char* data;
  std::size_t size;
};

Span Trimmed(const char* p, std::size_t n) {
  while (n > 0 && static_cast<unsigned char>(*p) <= ' ') ++p, --n;
  while (n > 0 && static_cast<unsigned char>(p[n - 1]) <= ' ') --n;
  return {p, n};
}

bool StartsNoCase(Span s, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  if (s.size < n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (Up(s.data[i]) != prefix[i]) return false;
  return true;
}

// The final result code a line holds, if any.
bool FinalCodeOf(Span t, TResult& r) {
  static const struct {
    const char* text;
    TFinalCode code;
  } kWords[] = {{"OK", TFinalCode::Ok},           {"ERROR", TFinalCode::Error},
                {"NO CARRIER", TFinalCode::NoCarrier}, {"BUSY", TFinalCode::Busy},
                {"NO ANSWER", TFinalCode::NoAnswer},   {"NO DIALTONE", TFinalCode::NoDialtone},
                {"NO DIAL TONE", TFinalCode::NoDialtone}};
  for (const auto& w : kWords)
    if (EqualNoCase(t.data, t.size, w.text)) {
      r.Final = w.code;
      return true;
    }
  if (StartsNoCase(t, "CONNECT") && (t.size == 7 || t.data[7] == ' ')) {
    r.Final = TFinalCode::Connect;
    r.Fields = Trim(AnsiString(t.data + 7, t.size - 7));
    return true;
  }
  const bool cms = StartsNoCase(t, "+CMS ERROR");
  if (cms || StartsNoCase(t, "+CME ERROR")) {
    r.Final = cms ? TFinalCode::CmsError : TFinalCode::CmeError;
    AnsiString rest(t.data + 10, t.size - 10);
    if (!rest.empty() && rest[0] == ':') rest.erase(0, 1);
    r.Fields = Trim(rest);
    int n;
    r.ErrorNumber = TryStrToInt(r.Fields, n) && n >= 0 ? n : -1;
    return true;
  }
  return false;
}

// "+NAME:" at the start of a (trimmed) line: the name in capitals, and the
// fields after it.
AnsiString NameOf(Span t, AnsiString& fields) {
  if (t.size == 0 || t.data[0] != '+') return AnsiString();
  std::size_t i = 1;
  while (i < t.size && ((Up(t.data[i]) >= 'A' && Up(t.data[i]) <= 'Z') || (t.data[i] >= '0' && t.data[i] <= '9'))) ++i;
  if (i == 1 || i >= t.size || t.data[i] != ':') return AnsiString();
  const Span rest = Trimmed(t.data + i + 1, t.size - i - 1);
  fields.assign(rest.data, rest.size);
  AnsiString name(t.data, i);
  for (char& c : name) c = Up(c);
  return name;
}

bool Quoted(const AnsiString& field) { return !field.empty() && field[0] == '"'; }

bool Number(const AnsiString& field, int& value) {
  if (field.empty()) return false;
  for (char c : field)
    if (c < '0' || c > '9') return false;
  return TryStrToInt(field, value);
}

// How a result with a body reads its header: text mode or PDU mode, whether
// a body follows at all, and the body's <length> where a text-mode header
// gives it.
struct BodyShape {
  bool textMode = false;
  bool hasBody = true;
  int length = -1;
};

BodyShape ShapeOf(TResultKind kind, const AnsiString& fields) {
  BodyShape s;
  switch (kind) {
    case TResultKind::ReadAnswer:
    case TResultKind::ListEntry:
    case TResultKind::DirectMessage:
    case TResultKind::StatusReport:
      break;
    default:
      s.hasBody = false;
      return s;
  }
  const std::vector<AnsiString> f = codec::SplitHeaderFields(fields);
  int value;
  // Where a text-mode header gives <length>: its last field, once the
  // detailed header fields (AT+CSDH=1) are there.
  std::size_t detailed = 0;
  switch (kind) {
    case TResultKind::ReadAnswer:
      // PDU: <stat>,[<alpha>],<length>. Text: "<stat>","<oa>",... or, for
      // a status report, "<stat>",<fo>,<mr>,...
      s.textMode = !f.empty() && Quoted(f[0]);
      if (s.textMode && f.size() >= 2 && Number(f[1], value)) s.hasBody = false;
      detailed = 11;
      break;
    case TResultKind::ListEntry:
      s.textMode = f.size() >= 2 && Quoted(f[1]);
      if (s.textMode && f.size() >= 3 && Number(f[2], value)) s.hasBody = false;
      detailed = 7;
      break;
    case TResultKind::DirectMessage:
      // PDU: [<alpha>],<length>. Text: <oa>,[<alpha>],<scts>[,...,<length>].
      s.textMode = f.size() >= 3;
      detailed = 10;
      break;
    case TResultKind::StatusReport:
      // PDU: <length>. Text: <fo>,<mr>,... on one line.
      s.textMode = f.size() >= 2;
      s.hasBody = !s.textMode;
      break;
    default:
      s.hasBody = false;
      break;
  }
  if (s.textMode && s.hasBody && detailed > 0 && f.size() >= detailed && Number(f.back(), value)) s.length = value;
  return s;
}

// Whether a line ends a text-mode body that has no usable <length>.
bool EndsTextBody(const char* line, std::size_t size) {
  TResult probe;
  const Span t = Trimmed(line, size);
  return FinalCodeOf(t, probe) || StartsNoCase(t, "+CMGL:") || StartsNoCase(t, "+CMGR:");
}

enum class Step { Done, Incomplete };

// Whether a +CUSD result's fields end inside its quoted <str>: an odd
// number of double quotes.
bool OpensString(const AnsiString& fields) { return std::count(fields.begin(), fields.end(), '"') % 2 == 1; }

// A USSD text may hold line breaks (a menu, one choice a line) that the
// modem writes as they are, inside the quotes of +CUSD: <m>,"<str>",<dcs>.
// The result then runs on up to the line that closes the string; its
// Fields keep the line ends as received. A final result code on its own
// line, or more lines than a USSD text can fill, means the quote was never
// going to close: the +CUSD is its first line alone and what follows is
// framed as usual.
constexpr std::size_t kMaxUssdLines = 24;

Step ReadUssdContinuation(const AnsiString& text, std::size_t from, bool final, TResult& r) {
  std::size_t q = from;
  std::size_t quotes = 1;
  for (std::size_t lines = 0; lines < kMaxUssdLines; ++lines) {
    if (q >= text.size()) {
      if (!final) return Step::Incomplete;
      return Step::Done;
    }
    const LineSpan line = LineFrom(text, q, final);
    if (!line.complete) return Step::Incomplete;
    TResult probe;
    if (FinalCodeOf(Trimmed(text.data() + line.begin, line.contentEnd - line.begin), probe)) return Step::Done;
    quotes += static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(line.begin),
                                                  text.begin() + static_cast<std::ptrdiff_t>(line.contentEnd), '"'));
    if (quotes % 2 == 0) {
      const std::size_t fieldsBegin = r.Begin + r.Line.find(':') + 1;
      r.Fields = Trim(text.substr(fieldsBegin, line.contentEnd - fieldsBegin));
      r.End = line.next;
      return Step::Done;
    }
    q = line.next;
  }
  return Step::Done;
}

// The PDU line after a header that ends at `from`. Empty lines before it
// are passed over; a line that does not start with a hexadecimal digit is
// not a PDU (the result then has no body and ends with its header).
Step ReadPduBody(const AnsiString& text, std::size_t from, bool final, TResult& r) {
  std::size_t q = from;
  const std::size_t n = text.size();
  while (q < n && IsLineEnd(text[q])) ++q;
  if (q == n) {
    if (!final) return Step::Incomplete;
    r.End = from;
    return Step::Done;
  }
  std::size_t hex = q;
  while (hex < n && codec::HexDigit(text[hex]) >= 0) ++hex;
  if (hex == q) {
    r.End = from;
    return Step::Done;
  }
  const LineSpan line = LineFrom(text, q, final);
  if (!line.complete) return Step::Incomplete;
  r.HasBody = true;
  r.Body = text.substr(q, hex - q);
  r.End = line.next;
  return Step::Done;
}

// The body lines from `from` up to the line that ends the body.
Step ReadTextBodyByLines(const AnsiString& text, std::size_t from, bool final, TResult& r) {
  std::size_t q = from;
  std::size_t bodyEnd = from;  // after the last line with text
  const std::size_t n = text.size();
  for (;;) {
    if (q >= n) {
      if (!final) return Step::Incomplete;
      break;
    }
    const LineSpan line = LineFrom(text, q, final);
    if (!line.complete) return Step::Incomplete;
    if (line.contentEnd > line.begin) {
      if (EndsTextBody(text.data() + line.begin, line.contentEnd - line.begin)) break;
      bodyEnd = line.contentEnd;
    }
    q = line.next;
  }
  r.HasBody = true;
  r.Body = text.substr(from, bodyEnd - from);
  // Up to the line end of the last line with text; the empty lines after
  // it belong to no result.
  r.End = bodyEnd == from ? from : LineFrom(text, bodyEnd, true).next;
  return Step::Done;
}

Step ReadTextBody(const AnsiString& text, std::size_t from, bool final, int length, TResult& r) {
  const std::size_t n = text.size();
  if (length >= 0) {
    const std::size_t e = from + static_cast<std::size_t>(length);
    if (e >= n) {
      if (!final) return Step::Incomplete;
      if (e == n) {
        r.HasBody = true;
        r.Body = text.substr(from);
        r.End = n;
        return Step::Done;
      }
    } else if (IsLineEnd(text[e]) && !(text[e] == '\n' && e > from && text[e - 1] == '\r')) {
      // The length and the text agree (it ends where a line ends, not
      // between the CR and the LF of one): whatever the characters, they
      // are text.
      const LineSpan after = LineFrom(text, e, final);
      if (!after.complete) return Step::Incomplete;
      r.HasBody = true;
      r.Body = text.substr(from, e - from);
      r.End = after.next;
      return Step::Done;
    }
    // A length that does not fit the text (characters counted otherwise):
    // the lines decide.
  }
  return ReadTextBodyByLines(text, from, final, r);
}

}  // namespace

TFraming Frame(const AnsiString& text, std::size_t from, bool final) {
  TFraming out;
  const std::size_t n = text.size();
  std::size_t pos = from;
  out.Consumed = from;
  while (pos < n) {
    if (IsLineEnd(text[pos])) {
      // A CR at the very end may be the first half of a line end still
      // on its way; as an empty line it frames to nothing either way.
      ++pos;
      out.Consumed = pos;
      continue;
    }
    TResult r;
    r.Begin = pos;
    if (text[pos] == '>') {
      if (pos + 1 == n && !final) break;
      if (pos + 1 == n || text[pos + 1] == ' ') {
        r.Kind = TResultKind::Prompt;
        r.End = pos + 1 == n ? n : pos + 2;
        r.Line = text.substr(pos, r.End - pos);
        out.Results.push_back(std::move(r));
        pos = out.Consumed = out.Results.back().End;
        continue;
      }
    }
    const LineSpan line = LineFrom(text, pos, final);
    if (!line.complete) break;
    r.Line = text.substr(pos, line.contentEnd - pos);
    r.End = line.next;
    const Span trimmed = Trimmed(r.Line.data(), r.Line.size());
    if (FinalCodeOf(trimmed, r)) {
      r.Kind = TResultKind::Final;
    } else {
      r.Name = NameOf(trimmed, r.Fields);
      if (r.Name.empty() && EqualNoCase(trimmed.data, trimmed.size, "RING"))
        r.Kind = TResultKind::Ring;
      else if (r.Name == "+CRING")
        r.Kind = TResultKind::Ring;
      else if (r.Name == "+CLIP")
        r.Kind = TResultKind::CallerId;
      else if (r.Name == "+CMTI")
        r.Kind = TResultKind::NewMessage;
      else if (r.Name == "+CMGR")
        r.Kind = TResultKind::ReadAnswer;
      else if (r.Name == "+CMGL")
        r.Kind = TResultKind::ListEntry;
      else if (r.Name == "+CMT")
        r.Kind = TResultKind::DirectMessage;
      else if (r.Name == "+CDS")
        r.Kind = TResultKind::StatusReport;
      else
        r.Kind = TResultKind::Information;
    }
    if (r.Kind == TResultKind::Information && r.Name == "+CUSD" && OpensString(r.Fields)) {
      if (ReadUssdContinuation(text, line.next, final, r) == Step::Incomplete) break;
      pos = r.End;
      out.Consumed = pos;
      out.Results.push_back(std::move(r));
      continue;
    }
    const BodyShape shape = ShapeOf(r.Kind, r.Fields);
    r.TextMode = shape.textMode;
    if (shape.hasBody) {
      const Step step = shape.textMode ? ReadTextBody(text, line.next, final, shape.length, r)
                                       : ReadPduBody(text, line.next, final, r);
      if (step == Step::Incomplete) break;
    }
    pos = r.End;
    out.Consumed = pos;
    out.Results.push_back(std::move(r));
  }
  return out;
}

AnsiString ResultText(const AnsiString& framed, const TResult& result) {
  std::size_t end = std::min(result.End, framed.size());
  while (end > result.Begin && IsLineEnd(framed[end - 1])) --end;
  return framed.substr(result.Begin, end - result.Begin);
}

bool IsError(const TResult& result) {
  return result.Kind == TResultKind::Final &&
         (result.Final == TFinalCode::Error || result.Final == TFinalCode::CmsError ||
          result.Final == TFinalCode::CmeError);
}

bool IsMarkerResult(const TResult& result) {
  switch (result.Kind) {
    case TResultKind::Ring:
    case TResultKind::CallerId:
    case TResultKind::NewMessage:
    case TResultKind::ReadAnswer:
    case TResultKind::ListEntry:
      return true;
    case TResultKind::Final:
      return IsError(result);
    case TResultKind::DirectMessage:
    case TResultKind::StatusReport:
    case TResultKind::Prompt:
    case TResultKind::Information:
      return false;
  }
  return false;
}

}  // namespace vesk::at
