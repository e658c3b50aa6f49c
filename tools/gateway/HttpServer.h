// The HTTP server that carries the API (Api.h): cpp-httplib on one address,
// a pool of threads, bodies over 64 KiB refused before they are read whole,
// and every error (a malformed request line, a header too long) answered in
// JSON. It holds no state of its own beyond the sockets.
//
//   Start: binds (throws std::runtime_error naming the address when it
//     cannot), then serves on a thread of its own
//   Stop: stops taking connections and waits for the requests in hand
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "tools/gateway/Api.h"

namespace httplib {
class Server;
}

namespace vesk::gateway {

// Sets a server up to carry the API: every path and method to Api::Handle,
// the body limit, JSON for the errors the server finds itself. The fuzz
// target feeds such a server raw bytes.
void InstallRoutes(httplib::Server& server, Api& api);

class HttpServer {
 public:
  // `threads`: requests served at once (a keep-alive connection holds one).
  HttpServer(Api& api, int threads = 16);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Port 0: any free port. Returns the port bound.
  int Start(const std::string& host, int port);
  void Stop();
  int Port() const { return port_; }

 private:
  Api& api_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace vesk::gateway
