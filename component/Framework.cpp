#include "component/Framework.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>
#include <utility>

#include "component/Platform.h"

namespace vesk {

// ---------------------------------------------------------------- strings

namespace {

template <class S>
S TrimImpl(const S& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<std::uint32_t>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<std::uint32_t>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

template <class S>
S UpperImpl(S s) {
  for (auto& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<typename S::value_type>(c - 'a' + 'A');
  return s;
}

bool ParseInt(const std::string& text, int& value) {
  std::size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) return false;
  long long acc = 0;
  for (; i < n; ++i) {
    int d;
    char c = text[i];
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    acc = acc * base + d;
    if (acc > 0xFFFFFFFFLL) return false;
  }
  if (negative) acc = -acc;
  if (base == 10 && (acc > INT32_MAX || acc < INT32_MIN)) return false;
  // Hexadecimal wraps into the 32-bit range, as "$FFFFFFFF" reads -1.
  value = static_cast<int>(static_cast<std::uint32_t>(acc));
  if (base == 10) value = static_cast<int>(acc);
  return true;
}

}  // namespace

AnsiString Trim(const AnsiString& s) { return TrimImpl(s); }
UnicodeString Trim(const UnicodeString& s) { return TrimImpl(s); }
AnsiString UpperCase(const AnsiString& s) { return UpperImpl(s); }
UnicodeString UpperCase(const UnicodeString& s) { return UpperImpl(s); }

bool TryStrToInt(const AnsiString& s, int& value) { return ParseInt(s, value); }

int StrToInt(const AnsiString& s) {
  int v = 0;
  if (!ParseInt(s, v)) throw EConvertError("'" + s + "' is not a valid integer value");
  return v;
}

int StrToInt(const UnicodeString& s) { return StrToInt(WideToAnsi(s)); }

AnsiString IntToStr(long long value) { return std::to_string(value); }

AnsiString IntToHex(unsigned long long value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  AnsiString out;
  do {
    out.insert(out.begin(), kHex[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(out.size()) < digits) out.insert(out.begin(), '0');
  return out;
}

int Pos(const AnsiString& sub, const AnsiString& s) { return PosEx(sub, s, 1); }

int PosEx(const AnsiString& sub, const AnsiString& s, int offset) {
  if (sub.empty() || offset < 1 || static_cast<std::size_t>(offset) > s.size()) return 0;
  auto p = s.find(sub, static_cast<std::size_t>(offset - 1));
  return p == AnsiString::npos ? 0 : static_cast<int>(p) + 1;
}

int Pos(const UnicodeString& sub, const UnicodeString& s) {
  if (sub.empty()) return 0;
  auto p = s.find(sub);
  return p == UnicodeString::npos ? 0 : static_cast<int>(p) + 1;
}

// ---------------------------------------------------------------- code page 1252

namespace {

// Bytes 0x80 to 0x9F of Windows-1252; the five undefined ones keep their
// C1 value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // € . ‚ ƒ „ … † ‡
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // ˆ ‰ Š ‹ Œ . Ž .
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // . ' ' " " • – —
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // ˜ ™ š › œ . ž Ÿ
};

// The same 32 characters sorted, for the way back.
struct Cp1252Entry {
  char16_t ch;
  unsigned char byte;
};
constexpr std::array<Cp1252Entry, 32> SortCp1252High() {
  std::array<Cp1252Entry, 32> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = {kCp1252High[i], static_cast<unsigned char>(0x80 + i)};
  for (std::size_t i = 1; i < t.size(); ++i)
    for (std::size_t j = i; j > 0 && t[j].ch < t[j - 1].ch; --j) {
      const Cp1252Entry held = t[j];
      t[j] = t[j - 1];
      t[j - 1] = held;
    }
  return t;
}
constexpr std::array<Cp1252Entry, 32> kCp1252ByChar = SortCp1252High();

}  // namespace

char16_t Cp1252HighToWide(unsigned char c) { return c >= 0x80 && c <= 0x9F ? kCp1252High[c - 0x80] : c; }

bool WideToCp1252High(char16_t c, unsigned char& out) {
  const auto* const end = kCp1252ByChar.end();
  const auto* it = std::lower_bound(kCp1252ByChar.begin(), end, c,
                                    [](const Cp1252Entry& e, char16_t ch) { return e.ch < ch; });
  if (it == end || it->ch != c) return false;
  out = it->byte;
  return true;
}

AnsiString WideToAnsi(const WideString& s) {
  AnsiString out;
  out.reserve(s.size());
  for (char16_t c : s) {
    unsigned char b;
    out.push_back(WideCharToAnsi(c, b) ? static_cast<char>(b) : '?');
  }
  return out;
}

WideString AnsiToWide(const AnsiString& s) {
  WideString out;
  out.reserve(s.size());
  for (char c : s) out.push_back(AnsiCharToWide(static_cast<unsigned char>(c)));
  return out;
}

std::string WideToUtf8(const WideString& s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

WideString Utf8ToWide(const std::string& s) {
  WideString out;
  out.reserve(s.size());
  std::size_t i = 0, n = s.size();
  auto cont = [&](std::size_t k) { return k < n && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
      cp = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
      cp = ((b & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
      len = 3;
      if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      cp = ((b & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
           ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) | (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
      len = 4;
      if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

// ---------------------------------------------------------------- date and time

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 0001-01-01 (day 1) in the proleptic Gregorian calendar.
long long DayNumber(int y, int m, int d) {
  long long yy = y - 1;
  long long days = yy * 365 + yy / 4 - yy / 100 + yy / 400;
  for (int i = 1; i < m; ++i) days += DaysInMonth(y, i);
  return days + d;
}

// 1899-12-30 as a day number.
const long long kEpochDay = DayNumber(1899, 12, 30);

}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  out = static_cast<double>(DayNumber(year, month, day) - kEpochDay);
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999) return false;
  out = (((hour * 60.0 + min) * 60.0 + sec) * 1000.0 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime t;
  if (!TryEncodeDate(year, month, day, t)) throw EConvertError("Invalid argument to date encode");
  return t;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime t;
  if (!TryEncodeTime(hour, min, sec, msec, t)) throw EConvertError("Invalid argument to time encode");
  return t;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  TDateTime d = EncodeDate(year, month, day);
  TDateTime t = EncodeTime(hour, min, sec, msec);
  // Before the epoch the time of day counts away from zero.
  return d >= 0 ? d + t : d - t;
}

void DecodeDate(TDateTime t, int& year, int& month, int& day) {
  long long n = static_cast<long long>(std::trunc(t)) + kEpochDay;  // day number from 0001-01-01
  // Walk 400-, 100-, 4- and 1-year cycles.
  long long d = n - 1;
  long long y = 1 + 400 * (d / 146097);
  d %= 146097;
  long long c = d / 36524;
  if (c == 4) c = 3;
  y += 100 * c;
  d -= c * 36524;
  y += 4 * (d / 1461);
  d %= 1461;
  long long k = d / 365;
  if (k == 4) k = 3;
  y += k;
  d -= k * 365;
  int m = 1;
  while (d >= DaysInMonth(static_cast<int>(y), m)) {
    d -= DaysInMonth(static_cast<int>(y), m);
    ++m;
  }
  year = static_cast<int>(y);
  month = m;
  day = static_cast<int>(d) + 1;
}

void DecodeTime(TDateTime t, int& hour, int& min, int& sec, int& msec) {
  double frac = std::fabs(t - std::trunc(t));
  long long ms = std::llround(frac * MSecsPerDay);
  if (ms >= 86400000LL) ms = 86399999LL;
  hour = static_cast<int>(ms / 3600000);
  min = static_cast<int>(ms / 60000 % 60);
  sec = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

TDateTime Now() { return GetClock()->Now(); }
TDateTime Date() { return std::trunc(Now()); }
TDateTime Time() {
  TDateTime n = Now();
  return n - std::trunc(n);
}

AnsiString DateToStr(TDateTime t) {
  int y, m, d;
  DecodeDate(t, y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

AnsiString TimeToStr(TDateTime t) {
  int h, m, s, ms;
  DecodeTime(t, h, m, s, ms);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, m, s);
  return buf;
}

// ---------------------------------------------------------------- clock

void Clock::Sleep(double ms) {
  if (ms > 0) std::this_thread::sleep_for(RealDuration(ms));
}

namespace {

TDateTime SystemNow() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t tt = system_clock::to_time_t(now);
  std::tm local{};
  LocalTimeOf(tt, local);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  TDateTime d = 0, t = 0;
  TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, d);
  TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, static_cast<int>(ms), t);
  return d + t;
}

std::chrono::nanoseconds MsToNs(double ms) {
  if (ms <= 0) return std::chrono::nanoseconds(0);
  return std::chrono::nanoseconds(static_cast<long long>(ms * 1e6));
}

}  // namespace

TDateTime RealClock::Now() { return SystemNow(); }
std::chrono::nanoseconds RealClock::RealDuration(double ms) { return MsToNs(ms); }

ScaledClock::ScaledClock(double speed)
    : speed_(speed > 0 ? speed : 1), start_(SystemNow()), origin_(std::chrono::steady_clock::now()) {}

TDateTime ScaledClock::Now() {
  double realMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - origin_).count();
  return start_ + realMs * speed_ / MSecsPerDay;
}

std::chrono::nanoseconds ScaledClock::RealDuration(double ms) { return MsToNs(ms / speed_); }

ManualClock::ManualClock(TDateTime start) : now_(start) {}

TDateTime ManualClock::Now() {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

std::chrono::nanoseconds ManualClock::RealDuration(double) { return std::chrono::nanoseconds(0); }

void ManualClock::Sleep(double ms) {
  Advance(ms);
  std::this_thread::yield();
}

void ManualClock::Advance(double ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ += ms / MSecsPerDay;
}

void ManualClock::Set(TDateTime t) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ = t;
}

namespace {

std::mutex gClockMutex;
std::shared_ptr<Clock>& ClockSlot() {
  static std::shared_ptr<Clock> clock = std::make_shared<RealClock>();
  return clock;
}

}  // namespace

void SetClock(std::shared_ptr<Clock> clock) {
  std::lock_guard<std::mutex> lock(gClockMutex);
  ClockSlot() = clock ? std::move(clock) : std::make_shared<RealClock>();
}

std::shared_ptr<Clock> GetClock() {
  std::lock_guard<std::mutex> lock(gClockMutex);
  return ClockSlot();
}

void Sleep(double ms) { GetClock()->Sleep(ms); }

// ---------------------------------------------------------------- misc

namespace {
std::mutex gRandomMutex;
std::mt19937& Generator() {
  static std::mt19937 gen(12345u);
  return gen;
}
}  // namespace

int Random(int n) {
  if (n < 1) return 0;
  std::lock_guard<std::mutex> lock(gRandomMutex);
  return static_cast<int>(std::uniform_int_distribution<int>(0, n - 1)(Generator()));
}

void Randomize() {
  std::lock_guard<std::mutex> lock(gRandomMutex);
  auto seed = static_cast<std::uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  std::seed_seq seq{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                    static_cast<std::uint32_t>(std::random_device{}())};
  Generator().seed(seq);
}

AnsiString SysErrorMessage(int code) { return SystemErrorText(code); }

void AppendTextLine(const AnsiString& path, const AnsiString& text) {
  if (path.empty()) throw EInOutError("File not found");
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) throw EInOutError(RuntimeErrorText(errno));
  AnsiString line = text + "\r\n";
  bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) throw EInOutError("I/O error writing " + path);
}

// ---------------------------------------------------------------- lists

int TStrings::IndexOf(const UnicodeString& s) const {
  for (int i = 0; i < Count(); ++i)
    if (Get(i) == s) return i;
  return -1;
}

int TStringList::Add(const UnicodeString& s) {
  lines_.push_back(s);
  return static_cast<int>(lines_.size()) - 1;
}

void TStringList::Clear() { lines_.clear(); }
int TStringList::Count() const { return static_cast<int>(lines_.size()); }

void TStringList::Check(int index) const {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
}

const UnicodeString& TStringList::Get(int index) const {
  Check(index);
  return lines_[static_cast<std::size_t>(index)];
}

void TStringList::Put(int index, const UnicodeString& s) {
  Check(index);
  lines_[static_cast<std::size_t>(index)] = s;
}

void TStringList::PutMoved(int index, UnicodeString&& s) {
  Check(index);
  lines_[static_cast<std::size_t>(index)] = std::move(s);
}

void TStringList::SetCapacity(int capacity) {
  if (capacity > 0) lines_.reserve(static_cast<std::size_t>(capacity));
}

void TStringList::Delete(int index) {
  Check(index);
  lines_.erase(lines_.begin() + index);
}

void TStringList::Insert(int index, const UnicodeString& s) {
  if (index < 0 || index > Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  lines_.insert(lines_.begin() + index, s);
}

}  // namespace vesk
