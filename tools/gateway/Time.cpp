#include "tools/gateway/Time.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vesk::gateway {

Millis SystemMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

bool Digits(const std::string& s, std::size_t at, std::size_t count, int& out) {
  if (at + count > s.size()) return false;
  out = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

bool DaysInMonthOk(int y, int m, int d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

}  // namespace

std::string IsoUtc(Millis t) {
  std::int64_t days = t / 86400000;
  std::int64_t rest = t % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --days;
  }
  int y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  const int ms = static_cast<int>(rest % 1000);
  const int s = static_cast<int>(rest / 1000 % 60);
  const int mi = static_cast<int>(rest / 60000 % 60);
  const int h = static_cast<int>(rest / 3600000);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", y, m, d, h, mi, s, ms);
  return text;
}

std::optional<Millis> ParseMoment(const std::string& text, Millis now) {
  if (text.empty()) return std::nullopt;
  if (text[0] == '+') {
    char* end = nullptr;
    const double amount = std::strtod(text.c_str() + 1, &end);
    if (end == text.c_str() + 1 || amount < 0 || amount > 1e9) return std::nullopt;
    const std::string unit(end);
    double scale;
    if (unit == "s")
      scale = 1000;
    else if (unit == "m")
      scale = 60000;
    else if (unit == "h")
      scale = 3600000;
    else if (unit == "d")
      scale = 86400000;
    else
      return std::nullopt;
    return now + static_cast<Millis>(amount * scale);
  }
  if (text[0] == '@') {
    char* end = nullptr;
    const long long seconds = std::strtoll(text.c_str() + 1, &end, 10);
    if (end == text.c_str() + 1 || *end != '\0') return std::nullopt;
    return static_cast<Millis>(seconds) * 1000;
  }
  int y, mo, d;
  if (!Digits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, mo) || text[7] != '-' ||
      !Digits(text, 8, 2, d) || !DaysInMonthOk(y, mo, d))
    return std::nullopt;
  Millis t = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400000;
  if (text.size() == 10) return t;
  if (text[10] != 'T' && text[10] != ' ') return std::nullopt;
  int h, mi, s = 0;
  if (!Digits(text, 11, 2, h) || text.size() < 16 || text[13] != ':' || !Digits(text, 14, 2, mi) || h > 23 || mi > 59)
    return std::nullopt;
  std::size_t at = 16;
  if (at < text.size() && text[at] == ':') {
    if (!Digits(text, at + 1, 2, s) || s > 59) return std::nullopt;
    at += 3;
  }
  t += (h * 3600 + mi * 60 + s) * 1000LL;
  if (at < text.size() && text[at] == '.') {
    ++at;
    int scale = 100, ms = 0;
    const std::size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      ms += (text[at] - '0') * scale;
      scale /= 10;
      ++at;
    }
    if (at == from) return std::nullopt;
    t += ms;
  }
  if (at == text.size()) return t;
  if (text[at] == 'Z' && at + 1 == text.size()) return t;
  if (text[at] == '+' || text[at] == '-') {
    int oh, om;
    if (!Digits(text, at + 1, 2, oh) || text.size() != at + 6 || text[at + 3] != ':' || !Digits(text, at + 4, 2, om) ||
        oh > 23 || om > 59)
      return std::nullopt;
    const Millis offset = (oh * 60 + om) * 60000LL;
    return text[at] == '+' ? t - offset : t + offset;
  }
  return std::nullopt;
}

}  // namespace vesk::gateway
