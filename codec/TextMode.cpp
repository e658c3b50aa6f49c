#include "codec/TextMode.h"

#include "codec/Alphabet.h"
#include "codec/Packing.h"

namespace vesk::codec {

namespace {

int StatusOf(const AnsiString& field) {
  if (field == "REC UNREAD") return 0;
  if (field == "REC READ") return 1;
  if (field == "STO UNSENT") return 2;
  if (field == "STO SENT") return 3;
  return -1;
}

bool Received(int status) { return status == 0 || status == 1; }

// A quoted time stamp: a date with slashes, a comma, a time with colons.
bool LooksLikeStamp(const AnsiString& unquoted) {
  const std::size_t comma = unquoted.find(',');
  return comma != AnsiString::npos && unquoted.find('/') < comma && unquoted.find(':', comma) != AnsiString::npos;
}

// The text after the header's line end, less the line end that closes it.
AnsiString BodyOf(const AnsiString& message, std::size_t lineEnd) {
  std::size_t from = lineEnd + 1;
  if (message[lineEnd] == '\r' && from < message.size() && message[from] == '\n') ++from;
  AnsiString body = message.substr(from);
  if (!body.empty() && body.back() == '\n') body.pop_back();
  if (!body.empty() && body.back() == '\r') body.pop_back();
  return body;
}

}  // namespace

std::vector<AnsiString> SplitHeaderFields(const AnsiString& header) {
  std::vector<AnsiString> fields;
  if (header.empty()) return fields;
  AnsiString field;
  bool quoted = false;
  for (char c : header) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      fields.push_back(Trim(field));
      field.clear();
    } else {
      field.push_back(c);
    }
  }
  fields.push_back(Trim(field));
  return fields;
}

AnsiString Unquote(const AnsiString& field) {
  AnsiString s = Trim(field);
  if (!s.empty() && s.front() == '"') s.erase(0, 1);
  if (!s.empty() && s.back() == '"') s.pop_back();
  return s;
}

TextSMS TextSMSToString(const AnsiString& MessageText) {
  TextSMS r;
  const std::size_t lineEnd = MessageText.find_first_of("\r\n");
  if (lineEnd == AnsiString::npos) return r;
  r.Text = GSM7bitDefaultAlphabetToString(BodyOf(MessageText, lineEnd), stDefault, stDefault);

  const std::vector<AnsiString> f = SplitHeaderFields(MessageText.substr(0, lineEnd));
  auto field = [&](std::size_t i) { return i < f.size() ? Unquote(f[i]) : AnsiString(); };
  if (f.size() < 2) return r;
  r.Status = StatusOf(field(0));
  r.PhoneNumber = field(1);

  if (Received(r.Status)) {
    // <stat>,<oa>,[<alpha>],<scts>[,<tooa>,<fo>,<pid>,<dcs>,<sca>,<tosca>,<length>];
    // some phones leave the name out: <stat>,<oa>,<scts>.
    std::size_t stamp = 3;
    if (f.size() == 3 || (LooksLikeStamp(field(2)) && !LooksLikeStamp(field(3)))) stamp = 2;
    const AnsiString scts = field(stamp);
    const std::size_t comma = scts.find(',');
    const AnsiString date = comma == AnsiString::npos ? AnsiString() : Trim(scts.substr(0, comma));
    const AnsiString time = comma == AnsiString::npos ? AnsiString() : Trim(scts.substr(comma + 1));
    int zone = 0;
    if (!date.empty() && !time.empty()) r.TimeStamp = ExtractTextDate(date) + ExtractTextTime(time, zone);
    r.TimeZone = zone;
    if (stamp == 3 && f.size() > 8) r.CenterNumber = field(8);
  } else if (f.size() > 3) {
    // <stat>,<da>,[<alpha>],<toda>,<fo>,<pid>,<dcs>,[<vp>],<sca>,<tosca>,<length>
    r.TimeStamp = 0;
    r.TimeZone = 0;
    if ((r.Status == 2 || r.Status == 3) && f.size() > 8) r.CenterNumber = field(8);
  }
  return r;
}

TDateTime ExtractTextDate(const AnsiString& S) {
  std::vector<AnsiString> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = S.find('/', start);
    parts.push_back(S.substr(start, slash == AnsiString::npos ? AnsiString::npos : slash - start));
    if (slash == AnsiString::npos) break;
    start = slash + 1;
  }
  if (parts.size() < 2 || parts.size() > 3) return 0;
  int year = 1, month, day;
  if (parts.size() == 3 && !TryStrToInt(parts[0], year)) return 0;
  if (!TryStrToInt(parts[parts.size() - 2], month) || !TryStrToInt(parts.back(), day)) return 0;
  if (year < 0) return 0;
  if (year < 100) year += year <= 95 ? 2000 : 1900;
  TDateTime date;
  return TryEncodeDate(year, month, day, date) ? date : 0;
}

TDateTime ExtractTextTime(const AnsiString& S, int& TimeZone) {
  int sign = Pos("+", S);
  if (sign == 0) sign = Pos("-", S);
  AnsiString time = S;
  if (sign >= 2) {
    int zone;
    if (!TryStrToInt(S.substr(static_cast<std::size_t>(sign - 1)), zone)) return 0;
    TimeZone = zone;
    time.resize(static_cast<std::size_t>(sign - 1));
  } else {
    TimeZone = 0;
  }
  const int length = static_cast<int>(time.size());
  int seconds, minutes, hours;
  if (!TryStrToInt(SafeCopy(time, length - 1, 2, "0"), seconds)) return 0;
  if (!TryStrToInt(SafeCopy(time, length - 4, 2, "0"), minutes)) return 0;
  if (!TryStrToInt(SafeCopy(time, 1, length - 6, "0"), hours)) return 0;
  TDateTime result;
  return TryEncodeTime(hours, minutes, seconds, 0, result) ? result : 0;
}

}  // namespace vesk::codec
