// The small runtime layer that the component stands on: string types and
// helpers, exceptions, string lists, the date-time type, the injectable
// clock, random numbers, error texts and text files. Threads live in
// Thread.h, the component base and persistence in Component.h.
//
// Everything here is safe to call from any thread unless a class says
// otherwise (the lists are not internally locked).
#pragma once

#include <bitset>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vesk {

// 8-bit text: AT traffic, phone numbers, PDU hex, octet strings. Positions
// in the component's parsers count from 1, as in the framework it mimics.
using AnsiString = std::string;
// UTF-16 text: message texts, list lines, some port names.
using WideString = std::u16string;
using UnicodeString = std::u16string;
// Days since 1899-12-30; the fraction is the time of day.
using TDateTime = double;

// ---------------------------------------------------------------- exceptions

// The framework's general exception: carries a message text.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Raised by StrToInt and friends on text that is not a number, and by
// EncodeDate/EncodeTime on an invalid date or time.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Raised by the lists on an index out of range.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// Raised when a text file cannot be bound, created, opened or written.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// ---------------------------------------------------------------- strings

// Removes leading and trailing characters up to and including the blank:
// blanks and control characters.
AnsiString Trim(const AnsiString& s);
UnicodeString Trim(const UnicodeString& s);

// Turns a to z into capitals and nothing else.
AnsiString UpperCase(const AnsiString& s);
UnicodeString UpperCase(const UnicodeString& s);

// Decimal with optional leading blanks and sign, or hexadecimal after "$"
// (or "0x"). Raises EConvertError otherwise, and on overflow of 32 bits.
int StrToInt(const AnsiString& s);
int StrToInt(const UnicodeString& s);
bool TryStrToInt(const AnsiString& s, int& value);

AnsiString IntToStr(long long value);
// Upper-case hexadecimal, at least `digits` digits.
AnsiString IntToHex(unsigned long long value, int digits);

// Position (from 1) of the first occurrence of sub in s, 0 when absent.
// PosEx starts the search at position `offset` (from 1).
int Pos(const AnsiString& sub, const AnsiString& s);
int PosEx(const AnsiString& sub, const AnsiString& s, int offset);
int Pos(const UnicodeString& sub, const UnicodeString& s);

// The system ANSI code page is Windows-1252 on every platform: these
// convert between it and UTF-16. A character that the code page lacks
// becomes '?', the code page's replacement character. The five bytes that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the
// C1 controls of the same value, as Windows itself does.
AnsiString WideToAnsi(const WideString& s);
WideString AnsiToWide(const AnsiString& s);
// Bytes 0x80 to 0x9F, where Windows-1252 departs from Latin-1, and their
// characters; the two functions below are inline for the common case.
char16_t Cp1252HighToWide(unsigned char c);
bool WideToCp1252High(char16_t c, unsigned char& out);

inline char16_t AnsiCharToWide(unsigned char c) { return c >= 0x80 && c <= 0x9F ? Cp1252HighToWide(c) : c; }
// Returns false when the code page has no byte for c.
inline bool WideCharToAnsi(char16_t c, unsigned char& out) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    out = static_cast<unsigned char>(c);
    return true;
  }
  return WideToCp1252High(c, out);
}

// UTF-8 helpers for applications. Ill-formed input becomes U+FFFD.
std::string WideToUtf8(const WideString& s);
WideString Utf8ToWide(const std::string& s);

// ---------------------------------------------------------------- date and time

// Raise EConvertError on an invalid date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out);
void DecodeDate(TDateTime t, int& year, int& month, int& day);
void DecodeTime(TDateTime t, int& hour, int& min, int& sec, int& msec);

// The clock: Now, Date and Time read the installed Clock.
TDateTime Now();
TDateTime Date();
TDateTime Time();

// Short date ("yyyy-mm-dd") and long time ("hh:nn:ss") formats.
AnsiString DateToStr(TDateTime t);
AnsiString TimeToStr(TDateTime t);

// Milliseconds in a TDateTime day.
constexpr double MSecsPerDay = 86400000.0;

// ---------------------------------------------------------------- clock

// The one clock behind Now() and Sleep(). Production uses the real clock;
// tests install a faster one so that the fixed pauses of the modem dialogue
// do not make the suite slow. All clock methods may be called from any
// thread.
class Clock {
 public:
  virtual ~Clock() = default;
  // The current date and time.
  virtual TDateTime Now() = 0;
  // How long `ms` milliseconds of this clock last on the real clock.
  virtual std::chrono::nanoseconds RealDuration(double ms) = 0;
  // Waits `ms` milliseconds of this clock.
  virtual void Sleep(double ms);
};

// The wall clock.
class RealClock : public Clock {
 public:
  TDateTime Now() override;
  std::chrono::nanoseconds RealDuration(double ms) override;
};

// A clock that runs `speed` times faster than the real one: a sleep of
// 600 ms lasts 600/speed real milliseconds and Now() advances accordingly,
// so that every time-out and pause keeps its proportions.
class ScaledClock : public Clock {
 public:
  explicit ScaledClock(double speed);
  TDateTime Now() override;
  std::chrono::nanoseconds RealDuration(double ms) override;

 private:
  double speed_;
  TDateTime start_;
  std::chrono::steady_clock::time_point origin_;
};

// A clock that stands still until told to move: Sleep advances it. For
// single-threaded tests of anything that reads the time.
class ManualClock : public Clock {
 public:
  explicit ManualClock(TDateTime start);
  TDateTime Now() override;
  std::chrono::nanoseconds RealDuration(double ms) override;
  void Sleep(double ms) override;
  void Advance(double ms);
  void Set(TDateTime t);

 private:
  std::mutex mutex_;
  TDateTime now_;
};

// Installs a clock for the whole process; nullptr restores the real clock.
void SetClock(std::shared_ptr<Clock> clock);
std::shared_ptr<Clock> GetClock();
// Sleeps `ms` milliseconds of the installed clock.
void Sleep(double ms);

// ---------------------------------------------------------------- scope exit

// Runs `f` when the scope it is declared in ends, however it ends: the one
// way the library puts something back on every path out.
//
//   auto restore = OnScopeExit([&] { depth = outer; });
//
// `f` must not throw (it runs from a destructor) and must not run
// application code: an event handler is raised as an explicit step, never
// from a scope's end. Dismiss() cancels it.
template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F f) : f_(std::move(f)) {}
  ~TScopeExit() {
    if (armed_) f_();
  }
  TScopeExit(TScopeExit&& other) noexcept : f_(std::move(other.f_)), armed_(other.armed_) { other.armed_ = false; }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  TScopeExit& operator=(TScopeExit&&) = delete;
  void Dismiss() { armed_ = false; }

 private:
  F f_;
  bool armed_ = true;
};

template <class F>
[[nodiscard]] TScopeExit<F> OnScopeExit(F f) {
  return TScopeExit<F>(std::move(f));
}

// ---------------------------------------------------------------- misc

// An integer from 0 to n - 1 (0 when n < 1); Randomize reseeds from the clock.
int Random(int n);
void Randomize();

// The operating system's text for an error code.
AnsiString SysErrorMessage(int code);

// Text files: appends `text` and CR LF to the file at path, creating it
// when it does not exist. Raises EInOutError on an empty name, a missing
// folder or no access. The file is closed again before the call returns.
void AppendTextLine(const AnsiString& path, const AnsiString& text);

// ---------------------------------------------------------------- objects and lists

// The root of the framework's class tree.
class TObject {
 public:
  virtual ~TObject() = default;
};

// An ordered list of UnicodeString lines. Not locked: one thread at a time.
class TStrings : public TObject {
 public:
  virtual int Add(const UnicodeString& s) = 0;
  virtual void Clear() = 0;
  virtual int Count() const = 0;
  // Reading or replacing line i raises EListError when i is out of range.
  virtual const UnicodeString& Get(int index) const = 0;
  virtual void Put(int index, const UnicodeString& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Insert(int index, const UnicodeString& s) = 0;

  const UnicodeString& operator[](int index) const { return Get(index); }
  int IndexOf(const UnicodeString& s) const;
  // Adds an 8-bit text converted through the system ANSI code page.
  int Add(const AnsiString& s) { return Add(AnsiToWide(s)); }
  int Add(const char* s) { return Add(AnsiToWide(s)); }

  // Batch update: changes between BeginUpdate and EndUpdate may be
  // gathered; nesting is counted.
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
  }
  int UpdateCount() const { return updateCount_; }

 private:
  int updateCount_ = 0;
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  using TStrings::Add;
  int Add(const UnicodeString& s) override;
  void Clear() override;
  int Count() const override;
  const UnicodeString& Get(int index) const override;
  void Put(int index, const UnicodeString& s) override;
  void Delete(int index) override;
  void Insert(int index, const UnicodeString& s) override;
  // Room for this many lines without growing again; never shrinks the list.
  void SetCapacity(int capacity);

 protected:
  // Put without a copy, for a subclass that builds a line to store it. Not
  // an overload of Put: a temporary passed to Put must still reach an
  // override of it.
  void PutMoved(int index, UnicodeString&& s);

 private:
  void Check(int index) const;
  std::vector<UnicodeString> lines_;
};

// A list of object pointers that never frees its items: whoever removes an
// item decides what becomes of it.
template <class T>
class TObjectList {
 public:
  int Add(T* item) {
    items_.push_back(item);
    return static_cast<int>(items_.size()) - 1;
  }
  void Insert(int index, T* item) {
    if (index < 0 || index > Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
    items_.insert(items_.begin() + index, item);
  }
  T* Get(int index) const {
    Check(index);
    return items_[static_cast<size_t>(index)];
  }
  void Put(int index, T* item) {
    Check(index);
    items_[static_cast<size_t>(index)] = item;
  }
  void Delete(int index) {
    Check(index);
    items_.erase(items_.begin() + index);
  }
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  void Check(int index) const {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + IntToStr(index) + ")");
  }
  std::vector<T*> items_;
};

// A recursive lock.
class TCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  void Acquire() { Enter(); }
  void Release() { Leave(); }
  // For std::lock_guard and friends.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

 private:
  std::recursive_mutex mutex_;
};

// A set over a small enumeration, one bit per member.
template <class E, std::size_t N>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  constexpr void Include(E m) { bits_[Index(m) / 64] |= Bit(m); }
  constexpr void Exclude(E m) { bits_[Index(m) / 64] &= ~Bit(m); }
  constexpr bool Contains(E m) const { return (bits_[Index(m) / 64] & Bit(m)) != 0; }
  constexpr bool Empty() const {
    for (auto w : bits_)
      if (w) return false;
    return true;
  }
  std::size_t Size() const {
    std::size_t n = 0;
    for (auto w : bits_) n += std::bitset<64>(w).count();
    return n;
  }
  constexpr bool operator==(const TSet& o) const {
    for (std::size_t i = 0; i < kWords; ++i)
      if (bits_[i] != o.bits_[i]) return false;
    return true;
  }
  constexpr bool operator!=(const TSet& o) const { return !(*this == o); }
  // The raw bits of a set of at most 64 members.
  constexpr std::uint64_t Bits() const { return bits_[0]; }
  static constexpr TSet FromBits(std::uint64_t b) {
    TSet s;
    s.bits_[0] = b;
    return s;
  }

 private:
  static constexpr std::size_t kWords = (N + 63) / 64;
  static constexpr std::size_t Index(E m) { return static_cast<std::size_t>(m); }
  static constexpr std::uint64_t Bit(E m) { return std::uint64_t{1} << (Index(m) % 64); }
  std::uint64_t bits_[kWords] = {};
};

}  // namespace vesk
