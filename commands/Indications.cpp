#include "commands/Indications.h"

#include <algorithm>

#include "codec/TextMode.h"

namespace vesk::at {

namespace {

bool Digits(const AnsiString& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ToInt(const AnsiString& field, int& value) {
  const AnsiString t = Trim(field);
  return Digits(t) && t.size() <= 9 && TryStrToInt(t, value);
}

// The groups of a test answer: each parenthesised list is one group; a
// field outside parentheses is a group of its own.
std::vector<AnsiString> Groups(const AnsiString& fields) {
  std::vector<AnsiString> groups;
  std::size_t i = 0;
  const std::size_t n = fields.size();
  while (i < n) {
    while (i < n && (fields[i] == ' ' || fields[i] == ',')) ++i;
    if (i >= n) break;
    if (fields[i] == '(') {
      const std::size_t close = fields.find(')', i + 1);
      const std::size_t end = close == AnsiString::npos ? n : close;
      groups.push_back(fields.substr(i + 1, end - i - 1));
      i = end == n ? n : end + 1;
    } else {
      // Up to the next comma outside quotes.
      std::size_t j = i;
      bool quoted = false;
      while (j < n && (quoted || fields[j] != ',')) {
        if (fields[j] == '"') quoted = !quoted;
        ++j;
      }
      groups.push_back(fields.substr(i, j - i));
      i = j;
    }
  }
  return groups;
}

// "0-1,3" to 0, 1, 3; pieces that do not read are left out.
std::vector<int> Numbers(const AnsiString& group) {
  std::vector<int> values;
  std::size_t start = 0;
  while (start <= group.size()) {
    std::size_t comma = group.find(',', start);
    if (comma == AnsiString::npos) comma = group.size();
    const AnsiString piece = Trim(group.substr(start, comma - start));
    const std::size_t dash = piece.find('-');
    int lo, hi;
    if (dash == AnsiString::npos) {
      if (ToInt(piece, lo)) values.push_back(lo);
    } else if (ToInt(piece.substr(0, dash), lo) && ToInt(piece.substr(dash + 1), hi) && lo <= hi && hi - lo < 256) {
      for (int v = lo; v <= hi; ++v) values.push_back(v);
    }
    start = comma + 1;
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return values;
}

// "\"SM\", \"ME\"" to SM, ME; stray quotes and parentheses go.
std::vector<AnsiString> Names(const AnsiString& group) {
  std::vector<AnsiString> names;
  std::size_t start = 0;
  while (start <= group.size()) {
    std::size_t comma = group.find(',', start);
    if (comma == AnsiString::npos) comma = group.size();
    AnsiString name = group.substr(start, comma - start);
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '"' || c == '(' || c == ')'; }),
               name.end());
    name = UpperCase(Trim(name));
    if (!name.empty()) names.push_back(name);
    start = comma + 1;
  }
  return names;
}

int Pick(const std::vector<int>& offered, std::initializer_list<int> preferred) {
  if (offered.empty()) return *preferred.begin();
  for (int v : preferred)
    if (std::find(offered.begin(), offered.end(), v) != offered.end()) return v;
  return offered.front();
}

// A time stamp field, "yy/MM/dd,hh:mm:ss+zz" (quoted or not).
void ReadStamp(const AnsiString& date, const AnsiString& time, TDateTime& stamp, int& zone) {
  stamp = 0;
  zone = 0;
  const TDateTime day = codec::ExtractTextDate(Trim(date));
  int z = 0;
  const TDateTime hour = codec::ExtractTextTime(Trim(time), z);
  // 0 is midnight, or a time that did not read.
  if (day == 0 || (hour == 0 && Trim(time).compare(0, 8, "00:00:00") != 0)) return;
  stamp = day + hour;
  zone = z;
}

void ReadStamp(const AnsiString& field, TDateTime& stamp, int& zone) {
  const AnsiString unquoted = codec::Unquote(field);
  // Date and time apart by a comma, or by a blank on some networks.
  std::size_t comma = unquoted.find(',');
  if (comma == AnsiString::npos) comma = unquoted.find(' ');
  if (comma == AnsiString::npos) {
    stamp = 0;
    zone = 0;
    return;
  }
  ReadStamp(unquoted.substr(0, comma), unquoted.substr(comma + 1), stamp, zone);
}

int StoredStatus(const AnsiString& field) {
  static const char* const kWords[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};
  const AnsiString word = codec::Unquote(field);
  for (int i = 0; i < 4; ++i)
    if (word == kWords[i]) return i;
  int n;
  return ToInt(word, n) && n >= 0 && n <= 3 ? n : -1;
}

bool Quoted(const AnsiString& field) { return !field.empty() && field[0] == '"'; }

}  // namespace

// ---------------------------------------------------------------- AT+CNMI=?

bool TIndicationSupport::Offers(std::size_t parameter, int value) const {
  if (parameter >= Values.size()) return false;
  const auto& v = Values[parameter];
  return std::find(v.begin(), v.end(), value) != v.end();
}

TIndicationSupport IndicationSupport(const TCommandAnswer& answer) {
  TIndicationSupport support;
  if (!answer.Succeeded()) return support;
  const TResult* line = FindNamed(answer, "+CNMI");
  if (line == nullptr) return support;
  const std::vector<AnsiString> groups = Groups(line->Fields);
  for (std::size_t i = 0; i < groups.size() && i < support.Values.size(); ++i) support.Values[i] = Numbers(groups[i]);
  support.Read = !support.Values[0].empty();
  return support;
}

// ---------------------------------------------------------------- AT+CPMS=? and AT+CPMS?

bool TStorageSupport::HasReportMemory() const {
  return std::find(Names[0].begin(), Names[0].end(), "SR") != Names[0].end();
}

TStorageSupport StorageSupport(const TCommandAnswer& answer) {
  TStorageSupport support;
  if (!answer.Succeeded()) return support;
  const TResult* line = FindNamed(answer, "+CPMS");
  if (line == nullptr) return support;
  const std::vector<AnsiString> groups = Groups(line->Fields);
  for (std::size_t i = 0; i < groups.size() && i < support.Names.size(); ++i) support.Names[i] = Names(groups[i]);
  support.Read = !support.Names[0].empty();
  return support;
}

std::vector<TStorageUse> StorageUse(const TCommandAnswer& answer) {
  std::vector<TStorageUse> uses;
  const TResult* line = FindNamed(answer, "+CPMS");
  if (line == nullptr) return uses;
  TStorageUse current;
  int numbers = 0;
  for (const AnsiString& field : codec::SplitHeaderFields(line->Fields)) {
    int value;
    if (Quoted(field)) {
      if (numbers > 0 || !current.Name.empty()) uses.push_back(current);
      current = TStorageUse();
      current.Name = UpperCase(codec::Unquote(field));
      numbers = 0;
    } else if (ToInt(field, value)) {
      if (numbers == 2) {  // the next storage, in the form without names
        uses.push_back(current);
        current = TStorageUse();
        numbers = 0;
      }
      (numbers == 0 ? current.Used : current.Total) = value;
      ++numbers;
    }
  }
  if (numbers > 0 || !current.Name.empty()) uses.push_back(current);
  return uses;
}

// ---------------------------------------------------------------- which AT+CNMI

std::array<int, 5> ChooseIndication(const TIndicationSupport& support, bool reportMemory,
                                    const TIndicationWanted& wanted) {
  std::array<int, 5> v{};
  const auto& offered = support.Values;
  v[0] = Pick(offered[0], {2, 1, 3, 0});
  v[1] = wanted.Direct ? Pick(offered[1], {2, 3, 1, 0}) : Pick(offered[1], {1, 3, 2, 0});
  v[2] = Pick(offered[2], {0});
  if (wanted.Direct)
    v[3] = reportMemory ? Pick(offered[3], {1, 2, 0}) : Pick(offered[3], {1, 0});
  else if (wanted.Reports)
    v[3] = reportMemory ? Pick(offered[3], {2, 1, 0}) : Pick(offered[3], {1, 0});
  else
    v[3] = Pick(offered[3], {0});
  v[4] = Pick(offered[4], {0, 1});
  return v;
}

AnsiString IndicationCommand(const std::array<int, 5>& values) {
  AnsiString command = "AT+CNMI=";
  for (std::size_t i = 0; i < values.size(); ++i) command += (i > 0 ? "," : "") + IntToStr(values[i]);
  return command;
}

AnsiString StandardIndicationCommand() { return "AT+CNMI=2,1,0,0,0"; }

// ---------------------------------------------------------------- AT+CSMS=1

bool AcknowledgementsNeeded(const TCommandAnswer& answer) {
  if (!answer.Succeeded()) return false;
  const TResult* line = FindNamed(answer, "+CSMS");
  if (line == nullptr) return true;
  const std::vector<AnsiString> f = codec::SplitHeaderFields(line->Fields);
  int mt;
  // The answer to the set command is <mt>,<mo>,<bm>; a read-form answer
  // puts <service> first.
  const std::size_t at = f.size() >= 4 ? 1 : 0;
  return f.size() > at && ToInt(f[at], mt) && mt == 1;
}

// ---------------------------------------------------------------- deliveries routed to the client

int TpduLength(const TResult& result) {
  if (result.TextMode) return -1;
  const std::vector<AnsiString> f = codec::SplitHeaderFields(result.Fields);
  int length;
  switch (result.Kind) {
    case TResultKind::DirectMessage:
    case TResultKind::StatusReport: return !f.empty() && ToInt(f.back(), length) ? length : -1;
    case TResultKind::ReadAnswer:
    case TResultKind::ListEntry: return PduHeader(result).Length;
    default: return -1;
  }
}

bool TpduAlone(const TResult& result) {
  const int length = TpduLength(result);
  return result.HasBody && length > 0 && result.Body.size() == 2 * static_cast<std::size_t>(length);
}

AnsiString DirectTextModeMessage(const TResult& result) {
  return "\"REC UNREAD\"," + result.Fields + "\r\n" + result.Body + "\r\n";
}

// ---------------------------------------------------------------- status reports in text mode

bool IsTextStatusReport(const TResult& result) {
  const std::vector<AnsiString> f = codec::SplitHeaderFields(result.Fields);
  switch (result.Kind) {
    case TResultKind::StatusReport: return result.TextMode;
    // <stat> (quoted, or left empty by some modems), then <fo> and <mr>.
    case TResultKind::ReadAnswer: return f.size() >= 6 && Digits(f[1]) && Digits(f[2]);
    case TResultKind::ListEntry: return f.size() >= 7 && Digits(f[2]) && Digits(f[3]);
    default: return false;
  }
}

TTextStatusReport TextStatusReport(const TResult& result) {
  TTextStatusReport r;
  std::vector<AnsiString> f = codec::SplitHeaderFields(result.Fields);
  std::size_t at = 0;
  if (result.Kind == TResultKind::ListEntry) {
    if (f.empty() || !ToInt(f[0], r.Index)) r.Index = -1;
    at = 1;
  }
  if (result.Kind == TResultKind::ListEntry || result.Kind == TResultKind::ReadAnswer) {
    if (f.size() > at) r.Stored = StoredStatus(f[at]);
    ++at;
  }
  f.erase(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(std::min(at, f.size())));
  // <fo>,<mr>,[<ra>],[<tora>], then the two stamps (quoted, or each cut
  // in two at its comma by a modem that left the quotes out), then <st>.
  if (f.size() < 5) {
    r.Error = "a status report needs <fo>, <mr>, two time stamps and <st>";
    return r;
  }
  if (!ToInt(f[0], r.FirstOctet)) r.FirstOctet = -1;
  if (!ToInt(f[1], r.MessageReference) || r.MessageReference > 255) {
    r.MessageReference = -1;
    r.Error = "the status report's <mr> is not a number from 0 to 255";
    return r;
  }
  if (!ToInt(f.back(), r.Status) || r.Status > 255) {
    r.Status = -1;
    r.Error = "the status report's <st> is not a number from 0 to 255";
    return r;
  }
  const std::size_t stamps = f.size() - 1;  // where <st> stands
  const bool unquoted = stamps >= 6 && !Quoted(f[stamps - 1]) && !Quoted(f[stamps - 2]) &&
                        f[stamps - 1].find(':') != AnsiString::npos && f[stamps - 3].find(':') != AnsiString::npos;
  const std::size_t first = unquoted ? stamps - 4 : stamps - 2;
  if (first < 2) {
    r.Error = "a status report needs <fo>, <mr>, two time stamps and <st>";
    return r;
  }
  if (unquoted) {
    ReadStamp(f[first], f[first + 1], r.ServiceCentreTimeStamp, r.ServiceCentreTimeZone);
    ReadStamp(f[first + 2], f[first + 3], r.DischargeTime, r.DischargeTimeZone);
  } else {
    ReadStamp(f[first], r.ServiceCentreTimeStamp, r.ServiceCentreTimeZone);
    ReadStamp(f[first + 1], r.DischargeTime, r.DischargeTimeZone);
  }
  if (first > 2) r.Recipient = codec::Unquote(f[2]);
  int type;
  if (first > 3 && ToInt(f[3], type)) r.RecipientType = type;
  return r;
}

}  // namespace vesk::at
