// The gateway end to end, in this process, on simulated modems: messages
// both ways through a pool, hooks once per event, delivery reports paired,
// messages that came while the gateway was down, parts of long messages
// across a restart, a modem that cannot be opened, errors from the modem.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "component/Framework.h"
#include "port/SerialDevice.h"
#include "tools/gateway/Gateway.h"
#include "tools/gateway/Json.h"
#include "tools/gateway/tests/SimPool.h"
#include "tools/gateway/tests/TestSupport.h"

namespace vesk::gateway {
namespace {

using namespace std::chrono_literals;
using testing::SimPool;
using testing::TempDir;

class GatewayPool : public ::testing::Test {
 protected:
  // The component's fixed pauses run 5 times fast; the gateway's clock and
  // the simulators' are real.
  void SetUp() override { SetClock(std::make_shared<ScaledClock>(5)); }
  void TearDown() override {
    gateway.reset();
    if (HasFailure()) {
      const std::string log = dir.Read("gateway.log");
      std::ofstream(std::filesystem::temp_directory_path() / "veskgsm-gateway-failed.log") << log;
      ADD_FAILURE() << "gateway log (last 6000 characters):\n" << log.substr(log.size() > 6000 ? log.size() - 6000 : 0);
    }
    pool.reset();
    SetClock(nullptr);
  }

  void StartPool(int count) { pool = std::make_unique<SimPool>(count, dir.Root().string()); }

  // `more`: tables of the configuration; `modemKeys`: keys every modem has.
  GatewaySettings Settings(const std::string& more = "", const std::string& modemKeys = "") {
    const std::string text = "[gateway]\nname = \"test\"\n" + more + "\n" + pool->ModemTables(modemKeys);
    return ParseConfig(text, dir.Write("gateway.toml", text));
  }

  void StartGateway(GatewaySettings settings, std::shared_ptr<SerialPlatform> platform = nullptr) {
    GatewayOptions o;
    o.platform = std::move(platform);
    o.staleCheck = 100;
    o.settings = std::move(settings);
    o.logFile = dir.Path("gateway.log");
    o.logLevel = LogLevel::Debug;
    o.idlePoll = 50;
    gateway = std::make_unique<Gateway>(std::move(o));
    gateway->Start();
  }

  static bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(20ms);
    }
    return done();
  }

  std::int64_t Queue(const std::string& to, const std::string& text, const std::string& modem = "",
                     bool report = false) {
    NewMessage m;
    m.to = to;
    m.text = text;
    m.modem = modem;
    m.parts = text.size() > 160 ? 2 : 1;
    m.report = report;
    const std::int64_t id = gateway->GetStore().Queue(m, SystemMillis());
    gateway->WakeWorkers();
    return id;
  }

  int Count(const std::string& state) {
    const auto counts = gateway->GetStore().CountByState();
    auto it = counts.find(state);
    return it == counts.end() ? 0 : it->second;
  }
  std::size_t InboxSize() { return gateway->GetStore().ListInbox(0, 100000).size(); }

  // The JSON lines a hook wrote, by id.
  std::map<std::int64_t, int> HookCalls(const std::string& file) {
    std::map<std::int64_t, int> calls;
    std::istringstream in(dir.Read(file));
    std::string line;
    while (std::getline(in, line))
      if (!line.empty()) ++calls[nlohmann::json::parse(line)["id"].get<std::int64_t>()];
    return calls;
  }

  std::string HookLine(const std::string& file) { return "[\"/bin/sh\", \"-c\", \"cat >> '" + dir.Path(file) + "'\"]"; }

  TempDir dir;
  std::unique_ptr<SimPool> pool;
  std::unique_ptr<Gateway> gateway;
};

std::string OutText(int i) {
  std::string text = "out " + std::to_string(i) + ":";
  if (i % 7 == 3) text += std::string(200, 'a' + i % 26);  // two parts
  if (i % 31 == 5) text += std::string(320, 'z');          // three parts
  if (i % 11 == 2) text += " Привет";                      // UCS2
  return text;
}

std::string InText(int i) {
  std::string text = "in " + std::to_string(i) + ":";
  if (i % 9 == 4) text += std::string(180 + i, 'b');  // two or three parts
  if (i % 13 == 6) text += " Здравствуйте";
  return text;
}

TEST_F(GatewayPool, TwoHundredMessagesEachWayThroughFourModems) {
  StartPool(4);
  StartGateway(Settings("[hooks]\non_received = " + HookLine("received.jsonl") + "\non_sent = " +
                        HookLine("sent.jsonl") + "\non_delivered = " + HookLine("delivered.jsonl") + "\n"));
  std::set<std::string> outgoing, incoming;
  for (int i = 0; i < 200; ++i) {
    outgoing.insert(OutText(i));
    Queue("+1555020" + std::to_string(1000 + i), OutText(i));
  }
  // The network delivers while the gateway sends: 200 messages, spread
  // over the four modems, some in several parts, some out of order.
  std::thread network([&] {
    for (int i = 0; i < 200; ++i) {
      sim::IncomingSms sms;
      sms.text = InText(i);
      sms.sender = "+1555030" + std::to_string(1000 + i);
      sms.reference = i % 256;
      sms.timestamp.second = i % 60;
      if (InText(i).find("З") != std::string::npos) sms.encoding = sim::SmsEncoding::Ucs2;
      if (i % 9 == 4 && i % 2 == 0)  // the parts the wrong way round
        for (int n = static_cast<int>(sim::DeliverPdus(sms).size()); n >= 1; --n) sms.partOrder.push_back(n);
      for (const sim::DeliveredPart& p : (*pool)[i % 4].DeliverSms(sms)) ASSERT_GT(p.index, 0);
      std::this_thread::sleep_for(10ms);
    }
  });
  for (int i = 0; i < 200; ++i) incoming.insert(InText(i));
  network.join();

  auto modemsEmpty = [&] {
    for (int m = 0; m < 4; ++m)
      if (!(*pool)[m].Stored().empty()) return false;
    return true;
  };
  // Received means committed, then deleted from the modem: both are awaited.
  ASSERT_TRUE(WaitUntil([&] { return Count("sent") == 200 && InboxSize() == 200 && modemsEmpty(); }, 60s))
      << Count("sent") << " sent, " << InboxSize() << " received";

  // Every message received is in the inbox once, under the modem that got it.
  std::map<std::string, int> seen;
  for (const InboxEntry& e : gateway->GetStore().ListInbox(0, 1000)) {
    ++seen[e.text];
    const int i = std::stoi(e.text.substr(3));
    EXPECT_EQ(e.imei, SimPool::Imei(i % 4)) << e.text;
    EXPECT_EQ(e.modem, SimPool::Name(i % 4));
    EXPECT_FALSE(e.incomplete);
  }
  for (const std::string& t : incoming) EXPECT_EQ(seen[t], 1) << t;
  EXPECT_EQ(gateway->GetStore().PendingParts(), 0);
  for (int m = 0; m < 4; ++m) EXPECT_TRUE((*pool)[m].Stored().empty()) << "modem " << m << " still holds messages";

  // Every message queued went out once, from one modem.
  const std::map<std::string, int> sent = pool->AllSentTexts();
  for (const std::string& t : outgoing) EXPECT_EQ(sent.count(t) ? sent.at(t) : 0, 1) << t;
  EXPECT_EQ(sent.size(), outgoing.size());
  for (int m = 0; m < 4; ++m) EXPECT_GT((*pool)[m].Submitted().size(), 10u) << "the pool shares the work";

  // Delivery reports, as the modems would give them, pair with the parts.
  const std::vector<OutboxMessage> messages = gateway->GetStore().ListMessages({});
  for (const OutboxMessage& m : messages) {
    for (const PartInfo& p : m.parts) {
      StatusReport r;
      r.reference = p.reference;
      r.recipient = "00" + m.to.substr(1);  // the network's own form of the number
      r.submitted = p.sentAt + 1500;
      r.discharged = p.sentAt + 4000;
      r.status = 0;
      r.received = SystemMillis();
      gateway->Worker(p.modem)->OnStatusReport(r);
    }
  }
  EXPECT_EQ(Count("delivered"), 200);

  // Hooks: once per event.
  ASSERT_TRUE(WaitUntil([&] { return HookCalls("delivered.jsonl").size() == 200; }, 60s));
  for (const char* file : {"received.jsonl", "sent.jsonl", "delivered.jsonl"}) {
    const auto calls = HookCalls(file);
    EXPECT_EQ(calls.size(), 200u) << file;
    for (const auto& [id, n] : calls) EXPECT_EQ(n, 1) << file << " id " << id;
  }
}

TEST_F(GatewayPool, MessagesThatCameWhileTheGatewayWasDownAreTakenIn) {
  StartPool(2);
  // Stored before anything listens, in both storages, one announced to
  // nobody.
  sim::IncomingSms a;
  a.text = "while you were out";
  a.storage = "SM";
  (*pool)[0].DeliverSms(a);
  sim::IncomingSms b;
  b.text = "in the phone's memory";
  b.storage = "ME";
  b.announce = false;
  (*pool)[0].DeliverSms(b);
  sim::IncomingSms c;
  c.text = std::string(250, 'c');
  c.storage = "ME";
  c.partOrder = {2, 1};
  (*pool)[1].DeliverSms(c);
  StartGateway(Settings());
  ASSERT_TRUE(
      WaitUntil([&] { return InboxSize() == 3 && (*pool)[0].Stored().empty() && (*pool)[1].Stored().empty(); }, 30s))
      << InboxSize();
  std::set<std::string> texts;
  for (const InboxEntry& e : gateway->GetStore().ListInbox(0, 10)) texts.insert(e.text);
  EXPECT_EQ(texts, (std::set<std::string>{a.text, b.text, c.text}));
  EXPECT_TRUE((*pool)[0].Stored().empty());
  EXPECT_TRUE((*pool)[1].Stored().empty());
}

TEST_F(GatewayPool, PartsOfALongMessageWaitInTheStoreAcrossARestart) {
  StartPool(1);
  StartGateway(Settings());
  sim::IncomingSms sms;
  sms.text = std::string(153, 'p') + std::string(153, 'q') + "r";
  sms.partOrder = {3};
  (*pool)[0].DeliverSms(sms);
  ASSERT_TRUE(WaitUntil([&] { return gateway->GetStore().PendingParts() == 1 && (*pool)[0].Stored().empty(); }, 20s))
      << "the part is kept by the store and deleted from the modem";
  gateway.reset();

  sms.partOrder = {1, 2};
  (*pool)[0].DeliverSms(sms);
  StartGateway(Settings());
  ASSERT_TRUE(WaitUntil([&] { return InboxSize() == 1; }, 20s));
  const InboxEntry e = gateway->GetStore().ListInbox(0, 10).at(0);
  EXPECT_EQ(e.text, sms.text);
  EXPECT_EQ(e.parts, 3);
  EXPECT_FALSE(e.incomplete);
  EXPECT_EQ(gateway->GetStore().PendingParts(), 0);
}

TEST_F(GatewayPool, PartsThatNeverCompleteAreStoredIncomplete) {
  StartPool(1);
  StartGateway(
      Settings("[inbox]\nincomplete_after = 0.5\n[hooks]\non_received = " + HookLine("received.jsonl") + "\n"));
  sim::IncomingSms sms;
  sms.text = std::string(153, 'a') + std::string(153, 'b') + std::string(10, 'c');
  sms.partOrder = {1, 3};  // part 2 never comes
  (*pool)[0].DeliverSms(sms);
  ASSERT_TRUE(WaitUntil([&] { return InboxSize() == 1; }, 20s));
  const InboxEntry e = gateway->GetStore().ListInbox(0, 10).at(0);
  EXPECT_TRUE(e.incomplete);
  EXPECT_EQ(e.text, std::string(153, 'a') + std::string(10, 'c'));
  EXPECT_EQ(e.parts, 3);
  EXPECT_EQ(gateway->GetStore().PendingParts(), 0);
  ASSERT_TRUE(WaitUntil([&] { return HookCalls("received.jsonl").size() == 1; }, 20s));
  EXPECT_TRUE(nlohmann::json::parse(dir.Read("received.jsonl"))["incomplete"].get<bool>());
}

TEST_F(GatewayPool, TheSameMessageTwiceIsStoredOnce) {
  StartPool(1);
  sim::IncomingSms sms;
  sms.text = "said twice";
  (*pool)[0].DeliverSms(sms);
  (*pool)[0].DeliverSms(sms);  // the network's duplicate: same centre time stamp
  sms.timestamp.second = 27;
  (*pool)[0].DeliverSms(sms);  // said again a second later: a message of its own
  StartGateway(Settings());
  ASSERT_TRUE(WaitUntil([&] { return (*pool)[0].Stored().empty(); }, 20s));
  EXPECT_EQ(InboxSize(), 2u);
}

TEST_F(GatewayPool, AMessageThatDoesNotDecodeIsKeptAsItCame) {
  StartPool(1);
  StartGateway(Settings());
  ASSERT_TRUE(WaitUntil([&] { return gateway->Worker("m0")->Connected(); }, 20s));
  const std::string junk = "0791515510000404";  // ends before the originating address
  ASSERT_GT((*pool)[0].StoreRawPdu("SM", junk), 0);
  sim::IncomingSms fine;
  fine.text = "after the junk";
  (*pool)[0].DeliverSms(fine);
  ASSERT_TRUE(WaitUntil([&] { return InboxSize() == 1 && (*pool)[0].Stored().empty(); }, 20s));
  EXPECT_EQ(gateway->GetStore().UndecodedCount(), 1);
}

TEST_F(GatewayPool, AGarbledNoticeRunsNoCommandOfItsOwn) {
  StartPool(1);
  StartGateway(Settings());
  ASSERT_TRUE(WaitUntil([&] { return gateway->Worker("m0")->Connected(); }, 20s));
  std::this_thread::sleep_for(300ms);  // the first reading of the storages is over
  sim::IncomingSms sms;
  sms.text = "announced in a garbled notice";
  sms.announce = false;
  (*pool)[0].DeliverSms(sms);
  (*pool)[0].SendUnsolicited("+CMTI: \"SM;+CMGD=1,4\",1");
  // Not the storage it names, but every storage, is read at once.
  ASSERT_TRUE(WaitUntil([&] { return InboxSize() == 1 && (*pool)[0].Stored().empty(); }, 10s));
  for (const std::string& line : (*pool)[0].Commands()) EXPECT_EQ(line.find("CMGD=1,4"), std::string::npos) << line;
}

TEST_F(GatewayPool, StatusReportsInStorageAreTakenAndThenDeleted) {
  StartPool(1);
  // An SMS-STATUS-REPORT the modem filed in its storage while the gateway
  // was down: not a received message; the component reports it, the store
  // keeps it (it matches no part here), and only then is it deleted.
  ASSERT_GT((*pool)[0].StoreRawPdu("ME",
                                   "0006050B915155102300F09130415190628091304151906280"
                                   "00",
                                   sim::SmsStatus::ReceivedUnread, false),
            0);
  StartGateway(Settings());
  sim::IncomingSms sms;
  sms.text = "a real one";
  (*pool)[0].DeliverSms(sms);
  ASSERT_TRUE(WaitUntil([&] { return InboxSize() == 1 && (*pool)[0].Stored().empty(); }, 20s));
  EXPECT_EQ(gateway->GetStore().UndecodedCount(), 0);
  EXPECT_NE(dir.Read("gateway.log").find("a delivery report for reference 5 to "), std::string::npos);
}

// The simulators send status reports for what the gateway sent with TP-SRR,
// as the network would: routed or stored as the component's set-up asked.
TEST_F(GatewayPool, DeliveryReportsFromTheModemsSettleEveryMessage) {
  StartPool(2);
  sim::ReportPolicy policy;
  policy.delay = 150ms;
  policy.interim = {0x20};                   // congestion first, then the outcome
  policy.byDestination["+15550166"] = 0x41;  // incompatible destination
  for (int m = 0; m < 2; ++m) (*pool)[m].SetReportPolicy(policy);
  StartGateway(Settings("[hooks]\non_delivered = " + HookLine("delivered.jsonl") + "\n", "report = true\n"));
  std::vector<std::int64_t> fine;
  for (int i = 0; i < 5; ++i) fine.push_back(Queue("+15550123", "reported " + std::to_string(i)));
  fine.push_back(Queue("+15550124", "long and reported: " + std::string(200, 'r')));
  const std::int64_t refused = Queue("+15550166", "never arrives");
  ASSERT_TRUE(WaitUntil([&] { return Count("delivered") == 6 && Count("failed") == 1; }, 40s))
      << Count("sent") << " sent, " << Count("delivered") << " delivered, " << Count("failed") << " failed";
  for (std::int64_t id : fine) {
    const OutboxMessage m = *gateway->GetStore().GetMessage(id);
    EXPECT_EQ(m.state, MessageState::Delivered) << m.text;
    for (const PartInfo& p : m.parts) EXPECT_EQ(p.status, 0) << m.text;
  }
  EXPECT_EQ(gateway->GetStore().GetMessage(fine.back())->parts.size(), 2u);
  const OutboxMessage bad = *gateway->GetStore().GetMessage(refused);
  EXPECT_EQ(bad.error->kind, "delivery");
  EXPECT_EQ(bad.error->code, 0x41);
  // Every part asked for its report; no report is left on a modem.
  for (int m = 0; m < 2; ++m) {
    for (const sim::SubmittedMessage& sent : (*pool)[m].Submitted()) EXPECT_TRUE(sent.reportRequested);
    EXPECT_TRUE(WaitUntil([&] { return (*pool)[m].Stored().empty(); }, 10s)) << "modem " << m;
  }
  ASSERT_TRUE(WaitUntil([&] { return HookCalls("delivered.jsonl").size() == 6; }, 20s));
}

TEST_F(GatewayPool, AMessageMayAskForItsReportOnAModemThatDoesNot) {
  StartPool(1);
  sim::ReportPolicy policy;
  policy.delay = 100ms;
  (*pool)[0].SetReportPolicy(policy);
  StartGateway(Settings());
  const std::int64_t plain = Queue("+15550123", "no report");
  ASSERT_TRUE(WaitUntil([&] { return Count("sent") == 1; }, 20s));
  const std::int64_t asked = Queue("+15550123", "report please", "", true);
  ASSERT_TRUE(WaitUntil([&] { return Count("delivered") == 1; }, 20s));
  EXPECT_EQ(gateway->GetStore().GetMessage(asked)->state, MessageState::Delivered);
  EXPECT_EQ(gateway->GetStore().GetMessage(plain)->state, MessageState::Sent);
  const auto submitted = (*pool)[0].Submitted();
  ASSERT_EQ(submitted.size(), 2u);
  EXPECT_FALSE(submitted[0].reportRequested);
  EXPECT_TRUE(submitted[1].reportRequested);
}

TEST_F(GatewayPool, AModemThatCannotBeOpenedIsReportedAndTriedAgain) {
  StartPool(2);
  const std::string missing = dir.Path("modem-later");
  std::string text = "[gateway]\nname = \"test\"\n" + pool->ModemTables() + "[[modem]]\nname = \"late\"\nport = \"" +
                     missing + "\"\nreopen = 0.2\n";
  StartGateway(ParseConfig(text, dir.Write("gateway.toml", text)));
  for (int i = 0; i < 6; ++i) Queue("+15550123", "while one is missing " + std::to_string(i));
  ASSERT_TRUE(WaitUntil([&] { return Count("sent") == 6; }, 30s)) << "the others go on";
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const ModemStatus& m : gateway->GetStore().ListModems())
          if (m.name == "late") return !m.connected && m.lastError.find("cannot open") != std::string::npos;
        return false;
      },
      10s));
  sim::ModemConfig config;
  config.path = missing;
  config.imei = "350000000009999";
  sim::ModemSimulator late(config);
  ASSERT_TRUE(WaitUntil([&] { return gateway->Worker("late")->Connected(); }, 20s)) << "tried again";
  Queue("+15550123", "for the late one", "late");
  ASSERT_TRUE(WaitUntil([&] { return late.Submitted().size() == 1; }, 20s));
  gateway.reset();
}

// The machine's ports as the scan sees them: here, the simulators' paths
// (the machine's own list never holds pseudo-terminals).
class ListedPorts : public SerialPlatform {
 public:
  explicit ListedPorts(std::vector<AnsiString> names) : names_(std::move(names)) {}
  std::unique_ptr<SerialDevice> Open(const AnsiString& name, int& error) noexcept override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      opened.push_back(name);
    }
    return real_->Open(name, error);
  }
  std::vector<AnsiString> PortNames() noexcept override { return names_; }
  bool IsPresentDevice(const AnsiString& name) noexcept override { return real_->IsPresentDevice(name); }
  bool CaseSensitiveNames() const noexcept override { return true; }
  AnsiString ErrorText(int error) noexcept override { return real_->ErrorText(error); }
  std::vector<AnsiString> Opened() {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened;
  }

 private:
  std::shared_ptr<SerialPlatform> real_ = DefaultSerialPlatform();
  std::vector<AnsiString> names_;
  std::mutex mutex_;
  std::vector<AnsiString> opened;
};

// The SIM as the component reads it: a PIN entered when configured, a
// modem left closed (and said why) when none is, a missing SIM told.
TEST_F(GatewayPool, TheSimStateDecidesTheSetUp) {
  std::vector<std::unique_ptr<sim::ModemSimulator>> sims;
  const char* names[] = {"locked", "no-pin", "empty"};
  std::string text = "[gateway]\nname = \"test\"\n";
  for (int i = 0; i < 3; ++i) {
    sim::ModemConfig config;
    config.path = dir.Path(std::string("sim-") + names[i]);
    config.imei = SimPool::Imei(10 + i);
    if (i < 2) config.pin = "4321";
    if (i == 2) config.simInserted = false;
    sims.push_back(std::make_unique<sim::ModemSimulator>(config));
    text += std::string("[[modem]]\nname = \"") + names[i] + "\"\nport = \"" + config.path + "\"\nreopen = 60\n" +
            (i == 0 ? "pin = \"4321\"\n" : "") + "\n";
  }
  StartGateway(ParseConfig(text, dir.Write("gateway.toml", text)));
  auto row = [&](const std::string& name) {
    for (const ModemStatus& m : gateway->GetStore().ListModems())
      if (m.name == name) return m;
    return ModemStatus{};
  };
  ASSERT_TRUE(WaitUntil(
      [&] { return row("locked").connected && !row("no-pin").lastError.empty() && !row("empty").sim.empty(); }, 20s));
  EXPECT_EQ(row("locked").sim, "ready");
  EXPECT_EQ(row("locked").registration, "home");
  EXPECT_EQ(row("locked").operatorName, "VESK");
  EXPECT_FALSE(row("no-pin").connected);
  EXPECT_EQ(row("no-pin").sim, "pin");
  EXPECT_NE(row("no-pin").lastError.find("the SIM asks for a PIN and none is configured"), std::string::npos)
      << row("no-pin").lastError;
  EXPECT_EQ(row("empty").sim, "absent");
  // The modem without its PIN was never given a guess.
  for (const std::string& line : sims[1]->Commands()) EXPECT_EQ(line.find("AT+CPIN=\""), std::string::npos) << line;
}

TEST_F(GatewayPool, AModemIsFoundByItsImei) {
  StartPool(3);
  // m0 has its port; "found" is the modem whose IMEI is m2's, somewhere
  // among the ports.
  const std::string text = "[gateway]\nname = \"test\"\n[[modem]]\nname = \"m0\"\nport = \"" + (*pool)[0].Path() +
                           "\"\n[[modem]]\nname = \"found\"\nimei = \"" + SimPool::Imei(2) + "\"\n";
  auto ports =
      std::make_shared<ListedPorts>(std::vector<AnsiString>{(*pool)[0].Path(), (*pool)[1].Path(), (*pool)[2].Path()});
  StartGateway(ParseConfig(text, dir.Write("gateway.toml", text)), ports);
  ASSERT_TRUE(WaitUntil([&] { return gateway->Worker("found")->Connected(); }, 30s));
  Queue("+15550123", "through the modem found", "found");
  ASSERT_TRUE(WaitUntil([&] { return (*pool)[2].Submitted().size() == 1; }, 20s));
  EXPECT_TRUE((*pool)[1].Submitted().empty());
  int scans = 0;
  for (const AnsiString& p : ports->Opened()) scans += p == (*pool)[0].Path();
  EXPECT_EQ(scans, 1) << "the scan left the port of m0 alone";
  for (const ModemStatus& m : gateway->GetStore().ListModems()) {
    if (m.name == "found") {
      EXPECT_EQ(m.port, (*pool)[2].Path());
    }
  }
}

TEST_F(GatewayPool, TemporaryErrorsMoveToAnotherModemAndPermanentOnesFail) {
  StartPool(2);
  GatewaySettings settings = Settings("[retry]\nbackoff = 0.2\nmax_attempts = 3\n");
  (*pool)[0].FailNextSends(100, "+CMS ERROR: 38");  // network out of order, on this modem
  StartGateway(settings);
  for (int i = 0; i < 4; ++i) Queue("+15550123", "retried " + std::to_string(i));
  ASSERT_TRUE(WaitUntil([&] { return Count("sent") == 4; }, 30s));
  EXPECT_EQ((*pool)[1].Submitted().size(), 4u) << "all went through the modem that works";
  EXPECT_TRUE((*pool)[0].Submitted().empty());
  (*pool)[0].FailNextSends(0);
  (*pool)[1].FailNextSends(5, "+CMS ERROR: 1");  // unassigned number
  (*pool)[0].FailNextSends(5, "+CMS ERROR: 1");
  const std::int64_t id = Queue("+15550199", "to nobody");
  ASSERT_TRUE(WaitUntil([&] { return Count("failed") == 1; }, 20s));
  const OutboxMessage m = *gateway->GetStore().GetMessage(id);
  EXPECT_EQ(m.attempts, 1);
  EXPECT_EQ(m.error->kind, "permanent");
  EXPECT_EQ(m.error->code, 1);
  // The component's classes: congestion is tried again, a plain ERROR
  // (which says nothing of why) and a barred number are not.
  (*pool)[0].FailNextSends(0);
  (*pool)[1].FailNextSends(0);
  (*pool)[0].FailNextSends(1, "+CMS ERROR: 42");
  (*pool)[1].FailNextSends(1, "+CMS ERROR: 42");
  const std::int64_t congested = Queue("+15550123", "congested", "m0");
  ASSERT_TRUE(WaitUntil([&] { return gateway->GetStore().GetMessage(congested)->state == MessageState::Sent; }, 20s));
  EXPECT_EQ(gateway->GetStore().GetMessage(congested)->attempts, 2);
  (*pool)[0].FailNextSends(1, "ERROR");
  const std::int64_t plain = Queue("+15550123", "plain error", "m0");
  (*pool)[1].FailNextSends(1, "+CMS ERROR: 10");
  const std::int64_t barred = Queue("+15550123", "barred", "m1");
  ASSERT_TRUE(WaitUntil([&] { return Count("failed") == 3; }, 20s));
  for (std::int64_t failedId : {plain, barred}) {
    const OutboxMessage f = *gateway->GetStore().GetMessage(failedId);
    EXPECT_EQ(f.attempts, 1) << f.text;
    EXPECT_EQ(f.error->kind, "permanent") << f.text;
  }
  EXPECT_EQ(gateway->GetStore().GetMessage(barred)->error->code, 10);
}

TEST_F(GatewayPool, NoFinalAnswerMakesAMessageUncertain) {
  StartPool(1);
  sim::Quirks quirks;
  quirks.sendNeverAnswered = true;
  (*pool)[0].SetQuirks(quirks);
  StartGateway(Settings());
  const std::int64_t id = Queue("+15550123", "into the void");
  // The component waits 15 s of its clock (3 s here) for the answer.
  ASSERT_TRUE(WaitUntil([&] { return Count("uncertain") == 1; }, 30s));
  EXPECT_EQ(gateway->GetStore().GetMessage(id)->error->kind, "uncertain");
  (*pool)[0].SetQuirks({});
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ((*pool)[0].Submitted().size(), 1u) << "never written again";
}

TEST_F(GatewayPool, ADeliveryReportThatSaysFailedFailsTheMessage) {
  StartPool(1);
  StartGateway(Settings("[hooks]\non_failed = " + HookLine("failed.jsonl") + "\n"));
  const std::int64_t id = Queue("+15550123", "undeliverable");
  ASSERT_TRUE(WaitUntil([&] { return Count("sent") == 1; }, 20s));
  const OutboxMessage m = *gateway->GetStore().GetMessage(id);
  StatusReport r;
  r.reference = m.parts.at(0).reference;
  r.recipient = "+15550123";
  r.submitted = m.parts[0].sentAt;
  r.status = 0x41;  // incompatible destination
  r.received = SystemMillis();
  gateway->Worker("m0")->OnStatusReport(r);
  EXPECT_EQ(gateway->GetStore().GetMessage(id)->state, MessageState::Failed);
  ASSERT_TRUE(WaitUntil([&] { return HookCalls("failed.jsonl").size() == 1; }, 20s));
}

TEST_F(GatewayPool, StopFinishesTheSendUnderWayAndLeavesNothingSending) {
  StartPool(2);
  StartGateway(Settings());
  for (int i = 0; i < 40; ++i) Queue("+15550123", "stop test " + std::to_string(i));
  ASSERT_TRUE(WaitUntil([&] { return Count("sent") >= 4; }, 20s));
  gateway->Stop();
  EXPECT_EQ(Count("sending"), 0);
  EXPECT_EQ(Count("uncertain"), 0);
  EXPECT_EQ(Count("sent") + Count("queued"), 40);
  EXPECT_EQ(static_cast<int>(pool->AllSentTexts().size()), Count("sent"));
}

}  // namespace
}  // namespace vesk::gateway
