// The HTTP API's view of a request and its answer, apart from the server
// that carries them: the API (Api.h) is a function from one to the other,
// so it is tested, fuzzed and benchmarked without a socket.
//
// A request target is read here, not by the server: the path and the query
// (RFC 3986 3.3, 3.4), percent-escapes decoded, '+' a space in the query
// (application/x-www-form-urlencoded). A malformed escape, a zero byte or a
// target that does not start with '/' is a bad request.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vesk::gateway {

struct HttpRequest {
  std::string method;  // upper case, as sent
  std::string target;  // path and query, as sent
  // Header names in lower case; a repeated header keeps its first value.
  std::map<std::string, std::string> headers;
  std::string body;

  std::string Header(const std::string& lowerName) const {
    auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
  }
  bool HasHeader(const std::string& lowerName) const { return headers.count(lowerName) > 0; }
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

struct Target {
  std::string path;
  std::vector<std::pair<std::string, std::string>> query;  // in order, repeats kept

  // The first value of a query parameter.
  std::optional<std::string> Param(const std::string& name) const;
};

// Reads a request target; empty with `why` set when it is malformed.
std::optional<Target> ParseTarget(const std::string& target, std::string& why);

// Decodes %XX escapes (and '+' as a space when `plusIsSpace`); empty when
// an escape is malformed or decodes to a zero byte.
std::optional<std::string> PercentDecode(const std::string& text, bool plusIsSpace);

// A JSON error answer: {"error": {"code": CODE, "message": MESSAGE}}.
HttpResponse JsonError(int status, const std::string& code, const std::string& message);

// The reason phrase of a status the API answers with.
const char* StatusText(int status);

}  // namespace vesk::gateway
