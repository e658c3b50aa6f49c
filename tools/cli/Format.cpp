#include "tools/cli/Format.h"

#include <cstdio>
#include <cstdlib>

namespace vesk::cli {

std::string IsoTimestamp(TDateTime stamp) {
  int year, month, day, hour, minute, second, msec;
  DecodeDate(stamp, year, month, day);
  DecodeTime(stamp, hour, minute, second, msec);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
  return text;
}

std::string ZoneText(int quarterHours) {
  const int minutes = std::abs(quarterHours) * 15;
  char text[48];
  std::snprintf(text, sizeof text, "UTC%c%02d:%02d, zone %d", quarterHours < 0 ? '-' : '+', minutes / 60,
                minutes % 60, quarterHours);
  return text;
}

std::string StatusName(int status) {
  switch (status) {
    case 0: return "received unread";
    case 1: return "received read";
    case 2: return "stored unsent";
    case 3: return "stored sent";
    default: return "status unknown";
  }
}

std::string CapabilityNames(int mask) {
  static const struct {
    int bit;
    const char* name;
  } kBits[] = {{2, "caller id"}, {4, "GSM character set"}, {8, "text mode"}, {16, "PDU mode"},
               {32, "new-message notices"}, {64, "read"}, {128, "send"}};
  std::string names;
  for (const auto& b : kBits)
    if (mask & b.bit) names += (names.empty() ? "" : ", ") + std::string(b.name);
  return names.empty() ? "none" : names;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "<CR>";
    } else if (c == '\n') {
      out += "<LF>";
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<0x%02X>", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace vesk::cli
