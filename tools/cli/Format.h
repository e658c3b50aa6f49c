// How `veskgsm` writes values: texts from the modem as UTF-8, time stamps in
// ISO 8601, JSON that never fails on odd bytes.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "component/Framework.h"

namespace vesk::cli {

// An 8-bit text from the modem (the ANSI code page) as UTF-8.
inline std::string AnsiText(const AnsiString& text) { return WideToUtf8(AnsiToWide(text)); }

// "2019-03-14T15:09:26", the modem's local time without its zone.
std::string IsoTimestamp(TDateTime stamp);

// "UTC+02:00 (zone 8)" for a zone in quarter hours.
std::string ZoneText(int quarterHours);

// "received unread", "received read", "stored unsent", "stored sent",
// "status unknown".
std::string StatusName(int status);

// The names of the capability bits TestGSMModemCapabilities sets.
std::string CapabilityNames(int mask);

// Control characters shown as <CR>, <LF>, <0x1A>.
std::string Printable(const std::string& text);

// One JSON line; bytes that are not UTF-8 become U+FFFD.
inline std::string Dump(const nlohmann::json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace vesk::cli
