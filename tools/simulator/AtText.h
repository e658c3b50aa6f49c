// Spelling shared by the dialogue engine's files: character classes, numbers
// and the status words of stored messages.
#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "tools/simulator/SimTypes.h"

namespace vesk::sim::at {

inline constexpr int kPinAttempts = 3;
inline constexpr int kPukAttempts = 10;

// TS 27.005 3.1 <stat> in text mode, by numeric value.
inline constexpr std::array<const char*, 4> kStatusWords = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};

inline char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string Upper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return Upper(c); });
  return out;
}

inline bool IsSpace(char c) { return c == ' ' || c == '\t'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

inline int StatusNumber(SmsStatus s) { return static_cast<int>(s); }
inline const char* StatusWord(SmsStatus s) { return kStatusWords[static_cast<std::size_t>(StatusNumber(s))]; }
// <stat> filter of AT+CMGL: 0-3 one status, 4 all.
inline bool MatchesFilter(SmsStatus s, int filter) { return filter == 4 || StatusNumber(s) == filter; }

inline std::string Number(int n) { return std::to_string(n); }
inline std::string NumberOrEmpty(int n) { return n > 0 ? std::to_string(n) : std::string(); }

}  // namespace vesk::sim::at
