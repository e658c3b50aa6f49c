#include "tools/gateway/Http.h"

#include <nlohmann/json.hpp>

#include "tools/gateway/Json.h"

namespace vesk::gateway {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> Target::Param(const std::string& name) const {
  for (const auto& [key, value] : query)
    if (key == name) return value;
  return std::nullopt;
}

std::optional<std::string> PercentDecode(const std::string& text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      const char decoded = static_cast<char>(hi * 16 + lo);
      if (decoded == '\0') return std::nullopt;
      out += decoded;
      i += 2;
    } else if (c == '+' && plusIsSpace) {
      out += ' ';
    } else if (c == '\0') {
      return std::nullopt;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<Target> ParseTarget(const std::string& target, std::string& why) {
  if (target.empty() || target[0] != '/') {
    why = "the request target must be a path starting with '/'";
    return std::nullopt;
  }
  const std::size_t fragment = target.find('#');
  const std::string usable = target.substr(0, fragment);
  const std::size_t question = usable.find('?');
  Target out;
  const std::optional<std::string> path = PercentDecode(usable.substr(0, question), false);
  if (!path) {
    why = "the path has a malformed percent-escape";
    return std::nullopt;
  }
  out.path = *path;
  if (question == std::string::npos) return out;
  const std::string query = usable.substr(question + 1);
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    if (!pair.empty()) {
      const std::size_t equals = pair.find('=');
      const std::optional<std::string> key = PercentDecode(pair.substr(0, equals), true);
      const std::optional<std::string> value =
          PercentDecode(equals == std::string::npos ? std::string() : pair.substr(equals + 1), true);
      if (!key || !value) {
        why = "the query has a malformed percent-escape";
        return std::nullopt;
      }
      out.query.emplace_back(*key, *value);
    }
    start = end + 1;
  }
  return out;
}

HttpResponse JsonError(int status, const std::string& code, const std::string& message) {
  HttpResponse r;
  r.status = status;
  r.body = Dump({{"error", {{"code", code}, {"message", message}}}}) + "\n";
  return r;
}

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 202: return "Accepted";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 422: return "Unprocessable Entity";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

}  // namespace vesk::gateway
