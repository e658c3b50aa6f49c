#include "codec/TextMode.h"

#include "codec/Alphabet.h"
#include "codec/Packing.h"

namespace vesk::codec {

namespace {

// What is left of the header line, cut field by field at the next comma.
class HeaderFields {
 public:
  explicit HeaderFields(AnsiString header) : rest_(std::move(header)) {}

  // Position (from 1) of the next comma, 0 when none.
  int NextComma() const { return Pos(",", rest_); }
  int NextQuote() const { return Pos("\"", rest_); }
  // The field before the comma at position c, without its first and last
  // characters (its quotes).
  AnsiString FieldBefore(int c) const { return c >= 3 ? rest_.substr(1, static_cast<std::size_t>(c - 3)) : AnsiString(); }
  // Characters `from` to `to` (from 1), empty when the range is empty.
  AnsiString Chars(int from, int to) const {
    return to >= from ? rest_.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - from + 1))
                      : AnsiString();
  }
  // Keeps what follows position c.
  void DropThrough(int c) { rest_.erase(0, static_cast<std::size_t>(c)); }
  // Drops the field before the next comma, if there is one.
  void DropField() {
    if (int c = NextComma(); c > 0) DropThrough(c);
  }

 private:
  AnsiString rest_;
};

int StatusOf(const AnsiString& field) {
  if (field == "REC UNREAD") return 0;
  if (field == "REC READ") return 1;
  if (field == "STO UNSENT") return 2;
  if (field == "STO SENT") return 3;
  return -1;
}

bool Received(int status) { return status == 0 || status == 1; }

}  // namespace

TextSMS TextSMSToString(const AnsiString& MessageText) {
  TextSMS r;
  const int lineEnd = Pos("\r\n", MessageText);
  if (lineEnd == 0) return r;

  AnsiString body = MessageText.substr(static_cast<std::size_t>(lineEnd + 1));
  if (int textEnd = Pos("\r\n", body); textEnd > 0) body.resize(static_cast<std::size_t>(textEnd - 1));
  r.Text = GSM7bitDefaultAlphabetToString(body, stDefault, stDefault);

  HeaderFields header(MessageText.substr(0, static_cast<std::size_t>(lineEnd - 1)));
  if (int c = header.NextComma(); c > 0) {
    r.Status = StatusOf(header.FieldBefore(c));
    header.DropThrough(c);
  }
  if (int c = header.NextComma(); c > 0) {
    r.PhoneNumber = header.FieldBefore(c);
    header.DropThrough(c);
  }
  header.DropField();  // the alphanumeric name

  if (Received(r.Status)) {
    // The quoted stamp holds a comma of its own: "yy/MM/dd,hh:mm:ss+zz".
    AnsiString date, time;
    if (int c = header.NextComma(); c > 0) {
      date = header.Chars(2, c - 1);
      header.DropThrough(c);
    }
    if (int c = header.NextComma(); c > 0) {
      time = header.Chars(1, c - 2);
      header.DropThrough(c);
    } else if ((c = header.NextQuote()) > 0) {
      time = header.Chars(1, c - 1);
      header.DropThrough(c);
    }
    int zone = 0;
    if (!date.empty() && !time.empty()) r.TimeStamp = ExtractTextDate(date) + ExtractTextTime(time, zone);
    r.TimeZone = zone;
  } else if (header.NextComma() > 0) {
    // A stored message has type, first octet, PID, DCS and validity period
    // where a received one has its stamp: two fields to drop here.
    header.DropField();
    header.DropField();
    r.TimeStamp = 0;
    r.TimeZone = 0;
  }

  for (int i = 0; i < 3; ++i) header.DropField();
  if (int c = header.NextComma(); c > 0) {
    if (r.Status == 2 || r.Status == 3) r.CenterNumber = header.FieldBefore(c);
    header.DropThrough(c);
  }
  if (int c = header.NextComma(); c > 0 && Received(r.Status)) r.CenterNumber = header.FieldBefore(c);
  return r;
}

TDateTime ExtractTextDate(const AnsiString& S) {
  const int length = static_cast<int>(S.size());
  int day, year, month;
  if (!TryStrToInt(SafeCopy(S, length - 1, 2, "96"), day)) return 0;
  if (!TryStrToInt(SafeCopy(S, 1, length - 6, "1"), year)) return 0;
  if (!TryStrToInt(SafeCopy(S, length - 4, 2, "1"), month)) return 0;
  year += year <= 95 ? 2000 : 1900;
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
