#include "tools/gateway/HttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace vesk::gateway {

namespace {

HttpRequest FromHttplib(const httplib::Request& req) {
  HttpRequest r;
  r.method = req.method;
  r.target = req.target;
  for (const auto& [name, value] : req.headers) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    r.headers.emplace(lower, value);  // the first of a repeated header holds
  }
  r.body = req.body;
  return r;
}

void ToHttplib(const HttpResponse& from, httplib::Response& res) {
  res.status = from.status;
  for (const auto& [name, value] : from.headers) res.set_header(name, value);
  res.set_content(from.body, from.contentType.c_str());
}

}  // namespace

void InstallRoutes(httplib::Server& s, Api& api) {
  s.set_payload_max_length(kMaxBody);
  const httplib::Server::Handler handle = [&api](const httplib::Request& req, httplib::Response& res) {
    ToHttplib(api.Handle(FromHttplib(req)), res);
  };
  // Every path goes to the API, which routes it itself.
  s.Get(".*", handle);
  s.Post(".*", handle);
  s.Put(".*", handle);
  s.Patch(".*", handle);
  s.Delete(".*", handle);
  s.Options(".*", handle);
  // What the server refuses by itself (a malformed request, a body too
  // long) is answered in JSON as well.
  s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    const char* code = res.status == 413 ? "too_large" : res.status == 400 ? "bad_request" : "error";
    const std::string message = res.status == 413 ? "the body is over 64 KiB" : StatusText(res.status);
    ToHttplib(JsonError(res.status, code, message), res);
  });
  s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    ToHttplib(JsonError(500, "internal", "the request could not be served"), res);
  });
}

HttpServer::HttpServer(Api& api, int threads) : api_(api), server_(std::make_unique<httplib::Server>()) {
  httplib::Server& s = *server_;
  const int poolSize = std::max(2, threads);
  s.new_task_queue = [poolSize] { return new httplib::ThreadPool(static_cast<std::size_t>(poolSize)); };
  s.set_read_timeout(10, 0);
  s.set_write_timeout(10, 0);
  s.set_keep_alive_timeout(5);
  s.set_keep_alive_max_count(1000);
  s.set_tcp_nodelay(true);
  InstallRoutes(s, api_);
}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Start(const std::string& host, int port) {
  if (port == 0) {
    port_ = server_->bind_to_any_port(host);
    if (port_ <= 0) throw std::runtime_error("cannot listen on " + host + ": no port could be bound");
  } else {
    if (!server_->bind_to_port(host, port))
      throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) +
                               " (is the address this machine's, and the port free?)");
    port_ = port;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return port_;
}

void HttpServer::Stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

}  // namespace vesk::gateway
