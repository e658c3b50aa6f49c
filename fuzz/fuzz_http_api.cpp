// libFuzzer target: the gateway's HTTP API from raw bytes on the wire. The
// input is what a client sends on one connection (one or more requests);
// it goes through the same server set-up as `veskgsm serve` (the request
// parser, the body limit, the routing, the target reader, the JSON body
// checks, the store), with the stream in memory instead of a socket.
//
// What must hold: no crash, no leak (AddressSanitizer); every answer is an
// HTTP/1.1 status line with a status the API gives (never 500, never 503:
// the store is there), and every JSON answer parses.
#include <unistd.h>

#include <httplib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/gateway/Api.h"
#include "tools/gateway/HttpServer.h"

namespace {

using namespace vesk::gateway;

// One connection's bytes in; the answers collected.
class MemoryStream : public httplib::Stream {
 public:
  MemoryStream(const uint8_t* data, size_t size) : in_(reinterpret_cast<const char*>(data), size) {}
  bool is_readable() const override { return true; }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    const size_t n = std::min(size, in_.size() - at_);
    in_.copy(ptr, n, at_);
    at_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    out_.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 40000;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 8080;
  }
  socket_t socket() const override { return INVALID_SOCKET; }
  bool Done() const { return at_ >= in_.size(); }
  const std::string& Out() const { return out_; }

 private:
  std::string in_;
  size_t at_ = 0;
  std::string out_;
};

class FuzzServer : public httplib::Server {
 public:
  bool Serve(MemoryStream& stream) {
    bool closed = false;
    return process_request(stream, false, closed, [](httplib::Request&) {});
  }
};

struct Fixture {
  Fixture() {
    folder = std::filesystem::temp_directory_path() / ("fuzz-http-api-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    StoreOptions o;
    o.path = (folder / "store.db").string();
    store = OpenSqliteStore(o);
    ApiContext c;
    c.store = store.get();
    c.token = "fuzz-token-0123456789";
    c.gateway = "fuzz";
    c.modems = {"m0", "m1"};
    c.live = [] { return std::vector<LiveModem>{{"m0", true}, {"m1", false}}; };
    c.metrics = &metrics;
    api = std::make_unique<Api>(c);
    InstallRoutes(server, *api);
  }
  ~Fixture() { std::filesystem::remove_all(folder); }

  std::filesystem::path folder;
  Metrics metrics;
  std::unique_ptr<Store> store;
  std::unique_ptr<Api> api;
  FuzzServer server;
};

void Fail(const char* why, const std::string& out) {
  std::fprintf(stderr, "%s\n%.600s\n", why, out.c_str());
  std::abort();
}

// Each answer in `out`: a status line the API gives and a body that parses
// when it says it is JSON.
void CheckAnswers(const std::string& out) {
  std::size_t at = 0;
  while (at < out.size()) {
    if (out.compare(at, 9, "HTTP/1.1 ") != 0) Fail("an answer that is not HTTP/1.1", out.substr(at));
    const int status = std::atoi(out.c_str() + at + 9);
    switch (status) {
      case 200:
      case 202:
      case 400:
      case 401:
      case 404:
      case 405:
      case 413:
      case 414:
      case 416:
      case 422:
      case 431: break;
      default: Fail("a status the API never gives", out.substr(at));
    }
    const std::size_t headEnd = out.find("\r\n\r\n", at);
    if (headEnd == std::string::npos) Fail("an answer without the end of its header", out.substr(at));
    const std::string head = out.substr(at, headEnd - at);
    std::size_t length = 0;
    const std::size_t cl = head.find("Content-Length: ");
    if (cl != std::string::npos) length = std::strtoul(head.c_str() + cl + 16, nullptr, 10);
    // The answer to HEAD has its length and no body.
    if (out.compare(headEnd + 4, 9, "HTTP/1.1 ") == 0 || headEnd + 4 == out.size()) length = 0;
    const std::string body = out.substr(headEnd + 4, length);
    if (head.find("Content-Type: application/json") != std::string::npos && !body.empty() &&
        !nlohmann::json::accept(body))
      Fail("a JSON answer that does not parse", out.substr(at));
    at = headEnd + 4 + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fixture = new Fixture();
  MemoryStream stream(data, size);
  // One connection: requests one after another while the server keeps it.
  for (int i = 0; i < 8 && !stream.Done(); ++i)
    if (!fixture->server.Serve(stream)) break;
  CheckAnswers(stream.Out());
  return 0;
}
