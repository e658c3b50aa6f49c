// Webhooks: HMAC-SHA256 against RFC 4231's vectors, the retry schedule,
// and deliveries to a receiver of the test's own on loopback that checks
// every signature: retries after 500s and after a refused connection, the
// same body and id on every attempt, giving up after a day, deliveries
// that survive a restart, and a gateway on simulated modems whose events
// all arrive although the receiver was down and the gateway restarted.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "component/Framework.h"
#include "tools/gateway/Gateway.h"
#include "tools/gateway/Hmac.h"
#include "tools/gateway/Webhooks.h"
#include "tools/gateway/tests/SimPool.h"
#include "tools/gateway/tests/TestSupport.h"

namespace vesk::gateway {
namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;
using testing::SimPool;
using testing::TempDir;
using testing::TestClock;

constexpr Millis kT0 = 1714564800000;

std::string Hex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// RFC 4231, section 4: the HMAC-SHA-256 rows of test cases 1 to 4, 6 and 7
// (case 5 checks a truncated output, which webhooks never send).
TEST(Hmac, Rfc4231Vectors) {
  struct Case {
    std::string key, data, mac;
  };
  // clang-format off
  const Case cases[] = {
      {Hex("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b"), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {Hex("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"), std::string(50, '\xdd'),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {Hex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {std::string(131, '\xaa'),
       "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be "
       "hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(HmacSha256Hex(c.key, c.data), c.mac) << c.data.substr(0, 20);
}

TEST(Hmac, SameSecretComparesWhole) {
  EXPECT_TRUE(SameSecret("abc", "abc"));
  EXPECT_FALSE(SameSecret("abc", "abd"));
  EXPECT_FALSE(SameSecret("abc", "abcd"));
  EXPECT_FALSE(SameSecret("", "a"));
}

TEST(Webhooks, RetriesFromFiveSecondsDoublingToTenMinutes) {
  const Millis expected[] = {5000, 10000, 20000, 40000, 80000, 160000, 320000, 600000, 600000, 600000};
  for (int attempt = 1; attempt <= 10; ++attempt)
    EXPECT_EQ(WebhookSender::RetryDelay(attempt), expected[attempt - 1]) << attempt;
}

// A receiver on loopback: answers each POST with the status the test
// chooses, after checking its signature with the secret.
class Receiver {
 public:
  struct Got {
    std::string body, signature, event, delivery;
    bool signatureOk = false;
  };

  explicit Receiver(std::string secret, int port = 0) : secret_(std::move(secret)) {
    server_.Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
      Got g;
      g.body = req.body;
      g.signature = req.get_header_value("X-VeskGSM-Signature");
      g.event = req.get_header_value("X-VeskGSM-Event");
      g.delivery = req.get_header_value("X-VeskGSM-Delivery");
      g.signatureOk = SameSecret(g.signature, "sha256=" + HmacSha256Hex(secret_, req.body));
      std::lock_guard<std::mutex> lock(mutex_);
      got_.push_back(g);
      res.status = status_;
      res.set_content("{}", "application/json");
    });
    port_ = port ? (server_.bind_to_port("127.0.0.1", port) ? port : -1) : server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(1ms);
  }
  ~Receiver() {
    server_.stop();
    thread_.join();
  }
  int Port() const { return port_; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hooks/sms"; }
  void Answer(int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = status;
  }
  std::vector<Got> All() {
    std::lock_guard<std::mutex> lock(mutex_);
    return got_;
  }

 private:
  std::string secret_;
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  int status_ = 200;
  std::vector<Got> got_;
};

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

class WebhookTest : public ::testing::Test {
 protected:
  void OpenStore() {
    StoreOptions o;
    o.path = dir.Path("store.db");
    o.owner = "gw";
    store = OpenSqliteStore(o);
  }
  void Configure(const std::string& url, const std::set<std::string>& events = {"sent", "received", "failed"}) {
    WebhookSettings w;
    w.url = url;
    w.secret = "s3cret";
    w.events = events;
    w.timeoutSeconds = 2;
    webhooks = {w};
    store->SetWebhooks(WebhookSender::Targets(webhooks));
    sender = std::make_unique<WebhookSender>(*store, webhooks, "gw", log, clock.Fn());
  }
  std::int64_t SendOne(const std::string& text) {
    NewMessage m;
    m.to = "+15550123";
    m.text = text;
    const std::int64_t id = store->Queue(m, clock());
    ClaimRequest r;
    r.modem = "m0";
    r.claimer = "gw";
    r.now = clock();
    EXPECT_TRUE(store->Claim(r));
    store->RecordSent(id, "gw", {static_cast<int>(id)}, clock());
    return id;
  }

  TempDir dir;
  TestClock clock{kT0};
  Logger log{LogLevel::Error, ""};
  std::unique_ptr<Store> store;
  std::vector<WebhookSettings> webhooks;
  std::unique_ptr<WebhookSender> sender;
};

TEST_F(WebhookTest, SignedBodyWithTheEventAndItsData) {
  OpenStore();
  Receiver receiver("s3cret");
  Configure(receiver.Url());
  const std::int64_t id = SendOne("hello");
  EXPECT_EQ(sender->RunDue(), 1);
  const auto got = receiver.All();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].signatureOk) << got[0].signature;
  EXPECT_EQ(got[0].signature.size(), 7u + 64u);
  EXPECT_EQ(got[0].signature.find_first_of("ABCDEF", 7), std::string::npos) << "lower-case hex";
  EXPECT_EQ(got[0].event, "sent");
  const json body = json::parse(got[0].body);
  EXPECT_EQ(body["id"], got[0].delivery);
  EXPECT_EQ(body["type"], "sent");
  EXPECT_EQ(body["created"], "2024-05-01T12:00:00.000Z");
  EXPECT_EQ(body["data"]["id"], id);
  EXPECT_EQ(body["data"]["state"], "sent");
  EXPECT_EQ(body["data"]["text"], "hello");
  EXPECT_EQ(body["data"]["parts"][0]["reference"], id);
  EXPECT_EQ(store->CountDeliveries().done, 1);
  EXPECT_EQ(sender->RunDue(), 0) << "delivered once";
}

// The signature as a receiver in another language checks it: the README's
// Python function (hmac and hashlib of Debian's python3) over the body as
// it came, and a body changed by one byte fails.
TEST_F(WebhookTest, TheReadmesPythonCheckAcceptsTheSignature) {
  constexpr const char* kPython = "/usr/bin/python3";
  if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is not installed (make test installs python3)";
  OpenStore();
  Receiver receiver("s3cret");
  Configure(receiver.Url());
  SendOne("checked elsewhere");
  ASSERT_EQ(sender->RunDue(), 1);
  const auto got = receiver.All();
  ASSERT_EQ(got.size(), 1u);
  const std::string script =
      dir.Write("verify.py", "import hashlib, hmac, sys\n"
                             "def verified(secret: bytes, body: bytes, header: str) -> bool:\n"
                             "    expected = \"sha256=\" + hmac.new(secret, body, hashlib.sha256).hexdigest()\n"
                             "    return hmac.compare_digest(expected, header)\n"
                             "body = open(sys.argv[1], 'rb').read()\n"
                             "sys.exit(0 if verified(b's3cret', body, sys.argv[2]) else 1)\n");
  auto check = [&](const std::string& body) {
    const std::string file = dir.Write("body.json", body);
    const std::string command = std::string(kPython) + " '" + script + "' '" + file + "' '" + got[0].signature + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(check(got[0].body), 0) << got[0].signature;
  std::string changed = got[0].body;
  changed[changed.size() / 2] ^= 1;
  EXPECT_EQ(check(changed), 1);
}

TEST_F(WebhookTest, RetriedAfter500sWithTheSameBodyAndId) {
  OpenStore();
  Receiver receiver("s3cret");
  Configure(receiver.Url());
  SendOne("retried");
  receiver.Answer(500);
  EXPECT_EQ(sender->RunDue(), 1);
  clock.Advance(4999);
  EXPECT_EQ(sender->RunDue(), 0) << "not before 5 s";
  clock.Advance(1);
  EXPECT_EQ(sender->RunDue(), 1);
  clock.Advance(9999);
  EXPECT_EQ(sender->RunDue(), 0) << "then 10 s";
  clock.Advance(1);
  receiver.Answer(204);
  EXPECT_EQ(sender->RunDue(), 1);
  const auto got = receiver.All();
  ASSERT_EQ(got.size(), 3u);
  for (const auto& g : got) {
    EXPECT_TRUE(g.signatureOk);
    EXPECT_EQ(g.body, got[0].body) << "every attempt sends the same bytes";
    EXPECT_EQ(g.delivery, got[0].delivery);
  }
  const Delivery d = store->ListDeliveries(0, 10).at(0);
  EXPECT_EQ(d.attempts, 3);
  EXPECT_EQ(store->CountDeliveries().done, 1);
}

TEST_F(WebhookTest, ARefusedConnectionIsRetriedUntilTheReceiverIsThere) {
  OpenStore();
  const int port = FreePort();
  Configure("http://127.0.0.1:" + std::to_string(port) + "/in");
  SendOne("waits");
  EXPECT_EQ(sender->RunDue(), 1);
  EXPECT_EQ(store->CountDeliveries().pending, 1);
  clock.Advance(5000);
  EXPECT_EQ(sender->RunDue(), 1);
  Receiver receiver("s3cret", port);
  ASSERT_EQ(receiver.Port(), port);
  clock.Advance(10000);
  EXPECT_EQ(sender->RunDue(), 1);
  ASSERT_EQ(receiver.All().size(), 1u);
  EXPECT_TRUE(receiver.All()[0].signatureOk);
  EXPECT_EQ(store->CountDeliveries().done, 1);
}

TEST_F(WebhookTest, GivenUpAfterADay) {
  OpenStore();
  Receiver receiver("s3cret");
  receiver.Answer(503);
  Configure(receiver.Url());
  SendOne("never taken");
  int attempts = 0;
  for (int i = 0; i < 2000 && store->CountDeliveries().pending > 0; ++i) {
    attempts += sender->RunDue();
    clock.Advance(60000);
  }
  EXPECT_EQ(store->CountDeliveries().failed, 1);
  EXPECT_GE(clock() - kT0, 86400000 - 600000) << "kept trying for a day";
  EXPECT_LE(clock() - kT0, 86400000 + 120000);
  // 5, 10, ... 320 s, then every 10 minutes: about 150 attempts in a day.
  EXPECT_GT(attempts, 140);
  EXPECT_LT(attempts, 156);
  EXPECT_EQ(static_cast<int>(receiver.All().size()), attempts);
}

TEST_F(WebhookTest, OnlyTheTypesAWebhookTakes) {
  OpenStore();
  Receiver receiver("s3cret");
  Configure(receiver.Url(), {"received"});
  SendOne("not wanted");
  IncomingMessage in;
  in.modem = "m0";
  in.imei = "1";
  in.sender = "+15550199";
  in.text = "wanted";
  in.received = clock();
  store->AddMessage(in);
  EXPECT_EQ(sender->RunDue(), 1);
  ASSERT_EQ(receiver.All().size(), 1u);
  const json body = json::parse(receiver.All()[0].body);
  EXPECT_EQ(body["type"], "received");
  EXPECT_EQ(body["data"]["from"], "+15550199");
  EXPECT_EQ(body["data"]["text"], "wanted");
}

TEST_F(WebhookTest, PendingDeliveriesSurviveARestart) {
  OpenStore();
  const int port = FreePort();
  Configure("http://127.0.0.1:" + std::to_string(port) + "/in");
  for (int i = 0; i < 5; ++i) SendOne("m" + std::to_string(i));
  EXPECT_EQ(sender->RunDue(), 5);  // all refused
  // The gateway stops and starts again: the store is all it keeps.
  sender.reset();
  store.reset();
  OpenStore();
  Receiver receiver("s3cret", port);
  Configure("http://127.0.0.1:" + std::to_string(port) + "/in");
  clock.Advance(5000);
  EXPECT_EQ(sender->RunDue(), 5);
  std::set<std::string> ids;
  for (const auto& g : receiver.All()) {
    EXPECT_TRUE(g.signatureOk);
    ids.insert(g.delivery);
  }
  EXPECT_EQ(ids.size(), 5u);
}

// The whole gateway: events of two simulated modems reach a receiver that
// refuses them at first, across a stop and a start of the gateway.
TEST(WebhookGateway, EveryEventArrivesAcrossARestart) {
  SetClock(std::make_shared<ScaledClock>(5));
  TempDir dir;
  Receiver receiver("shh");
  receiver.Answer(503);
  SimPool pool(2, dir.Root().string());
  const std::string text = "[gateway]\nname = \"hooked\"\n[[webhook]]\nurl = \"" + receiver.Url() +
                           "\"\nsecret = \"shh\"\nevents = [\"sent\", \"received\"]\n\n" + pool.ModemTables();
  auto start = [&] {
    GatewayOptions o;
    o.settings = ParseConfig(text, dir.Write("gateway.toml", text));
    o.logFile = dir.Path("gateway.log");
    o.idlePoll = 50;
    auto g = std::make_unique<Gateway>(std::move(o));
    g->Start();
    return g;
  };
  auto gateway = start();
  std::set<std::int64_t> queued;
  for (int i = 0; i < 6; ++i) {
    NewMessage m;
    m.to = "+1555010" + std::to_string(i);
    m.text = "out " + std::to_string(i);
    queued.insert(gateway->GetStore().Queue(m, SystemMillis()));
  }
  gateway->WakeWorkers();
  for (int i = 0; i < 4; ++i) {
    sim::IncomingSms sms;
    sms.text = "in " + std::to_string(i);
    sms.sender = "+1555020" + std::to_string(i);
    pool[i % 2].DeliverSms(sms);
  }
  auto deliveries = [&] { return gateway->GetStore().ListDeliveries(0, 100).size(); };
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (deliveries() < 10 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  ASSERT_EQ(deliveries(), 10u) << dir.Read("gateway.log");
  // Refused so far; the gateway stops with every delivery pending.
  gateway->Stop();
  gateway.reset();
  EXPECT_EQ(receiver.All().size() > 0, true) << "tried while it ran";
  receiver.Answer(200);
  gateway = start();
  auto done = [&] { return gateway->GetStore().CountDeliveries().done; };
  while (done() < 10 && std::chrono::steady_clock::now() < deadline + 30s) std::this_thread::sleep_for(100ms);
  EXPECT_EQ(done(), 10) << dir.Read("gateway.log");
  gateway->Stop();
  // Each event at least once, every attempt signed, nothing unknown.
  std::set<std::int64_t> sent;
  std::set<std::string> received, keys;
  for (const auto& g : receiver.All()) {
    EXPECT_TRUE(g.signatureOk);
    const json body = json::parse(g.body);
    keys.insert(body["id"].get<std::string>());
    if (body["type"] == "sent") sent.insert(body["data"]["id"].get<std::int64_t>());
    if (body["type"] == "received") received.insert(body["data"]["text"].get<std::string>());
  }
  EXPECT_EQ(sent, queued);
  EXPECT_EQ(received, (std::set<std::string>{"in 0", "in 1", "in 2", "in 3"}));
  EXPECT_EQ(keys.size(), 10u);
  SetClock(nullptr);
}

}  // namespace
}  // namespace vesk::gateway
