// The status page the gateway serves at GET /: one HTML file, its styles
// and a little script, all in this binary (no framework, nothing fetched
// from elsewhere). The script asks for the API token once (or takes it from
// the address's #token=...), keeps it in the browser's session storage, and
// shows /v1/status every five seconds: each modem with its signal,
// registration, operator and health, the queue by state, the last hour's
// messages as a chart, and the last errors.
#pragma once

#include <string>

namespace vesk::gateway {

struct StatusPageFile {
  std::string contentType;
  std::string body;
};

// "/" (or "/index.html"), "/status.css", "/status.js".
StatusPageFile StatusPage(const std::string& path);

}  // namespace vesk::gateway
