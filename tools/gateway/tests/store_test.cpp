// The store, on both back ends (SQLite and PostgreSQL, the same suite):
// each transition of a message, the recovery after a crash, claims shared
// by several gateways with their leases, the inbox's duplicate rule
// (messages and parts), idempotency keys, webhook deliveries, migrations
// from the first schema; and SQLite files that are not ours.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tools/gateway/Sha256.h"
#include "tools/gateway/Store.h"
#include "tools/gateway/tests/PgServer.h"
#include "tools/gateway/tests/TestSupport.h"

namespace vesk::gateway {
namespace {

using testing::PgServer;
using testing::TempDir;

constexpr Millis kT0 = 1714564800000;  // 2024-05-01T12:00:00Z

std::string RawQuery(const std::string& path, const std::string& sql);

// The suite's fixture: GetParam() names the back end.
class StoreTest : public ::testing::TestWithParam<std::string> {
 protected:
  bool Postgres() const { return GetParam() == "postgresql"; }

  std::unique_ptr<Store> Open(int schema = 0, const std::string& owner = "") {
    StoreOptions o;
    o.path = dir.Path("store.db");
    o.schemaVersion = schema;
    o.owner = owner;
    return Postgres() ? OpenPostgresStore(conninfo, o) : OpenSqliteStore(o);
  }
  // An empty store in place of the one there.
  void Fresh() {
    store.reset();
    if (Postgres()) {
      PgServer::DropDatabase(folder, conninfo);
      std::string why;
      conninfo = PgServer::CreateDatabase(folder, why);
      ASSERT_FALSE(conninfo.empty()) << why;
    } else {
      std::filesystem::remove(dir.Path("store.db"));
      std::filesystem::remove(dir.Path("store.db-wal"));
      std::filesystem::remove(dir.Path("store.db-shm"));
    }
  }
  // SQL on the store's database, rows as "a|b" lines.
  std::string Raw(const std::string& sql) {
    return Postgres() ? PgServer::Query(conninfo, sql) : RawQuery(dir.Path("store.db"), sql);
  }

  void SetUp() override {
    if (Postgres()) {
      std::string why;
      if (const std::string missing = PgServer::Missing(); !missing.empty()) GTEST_SKIP() << "PostgreSQL: " << missing;
      // Installed: a server that does not start is a failure, not a skip.
      folder = PgServer::Folder(why);
      ASSERT_FALSE(folder.empty()) << "PostgreSQL: " << why;
      conninfo = PgServer::CreateDatabase(folder, why);
      ASSERT_FALSE(conninfo.empty()) << why;
    }
    store = Open();
  }
  void TearDown() override {
    store.reset();
    if (Postgres() && !conninfo.empty()) PgServer::DropDatabase(folder, conninfo);
  }

  std::int64_t QueueOne(const std::string& text = "hello", int priority = 0) {
    NewMessage m;
    m.to = "+15550123";
    m.text = text;
    m.priority = priority;
    return store->Queue(m, kT0);
  }
  ClaimRequest Claim(const std::string& modem = "m1", Millis now = kT0) {
    ClaimRequest r;
    r.modem = modem;
    r.claimer = "gw";
    r.now = now;
    return r;
  }
  OutboxMessage Get(std::int64_t id) { return store->GetMessage(id).value(); }

  TempDir dir;
  std::string folder, conninfo;  // PostgreSQL's
  std::unique_ptr<Store> store;
};

// ------------------------------------------------------------------ SHA-256

TEST(Sha256, FipsExamples) {
  // FIPS 180-2, appendix B: one block, two blocks, a million 'a'.
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, LengthsAroundTheBlockEdge) {
  // 55, 56 and 64 bytes: the padding moves to a second block at 56.
  EXPECT_EQ(Sha256Hex(std::string(55, 'a')), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  EXPECT_EQ(Sha256Hex(std::string(56, 'a')), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
  EXPECT_EQ(Sha256Hex(std::string(64, 'a')), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

// ------------------------------------------------------------------ outbox

TEST_P(StoreTest, QueuedMessageReadsBack) {
  NewMessage m;
  m.to = "+15550123";
  m.text = "Grüße";
  m.encoding = "ucs2";
  m.flash = true;
  m.priority = 3;
  m.notBefore = kT0 + 1000;
  m.notAfter = kT0 + 9000;
  m.modem = "left";
  m.parts = 2;
  const std::int64_t id = store->Queue(m, kT0);
  const OutboxMessage got = Get(id);
  EXPECT_EQ(got.to, "+15550123");
  EXPECT_EQ(got.text, "Grüße");
  EXPECT_EQ(got.encoding, "ucs2");
  EXPECT_TRUE(got.flash);
  EXPECT_EQ(got.priority, 3);
  EXPECT_EQ(got.notBefore, kT0 + 1000);
  EXPECT_EQ(got.notAfter, kT0 + 9000);
  EXPECT_EQ(got.modem, "left");
  EXPECT_EQ(got.partCount, 2);
  EXPECT_EQ(got.state, MessageState::Queued);
  EXPECT_EQ(got.attempts, 0);
  EXPECT_EQ(got.created, kT0);
  EXPECT_FALSE(got.error);
}

TEST_P(StoreTest, ClaimMovesToSendingWithOneAttempt) {
  const std::int64_t id = QueueOne();
  auto claimed = store->Claim(Claim());
  ASSERT_TRUE(claimed);
  EXPECT_EQ(claimed->id, id);
  EXPECT_EQ(claimed->state, MessageState::Sending);
  EXPECT_EQ(claimed->attempts, 1);
  EXPECT_EQ(claimed->phase, 0);
  EXPECT_EQ(claimed->sentBy, "m1");
  EXPECT_FALSE(store->Claim(Claim("m2"))) << "a message is claimed once";
}

TEST_P(StoreTest, SentRecordsEveryPartReference) {
  const std::int64_t id = QueueOne();
  ASSERT_TRUE(store->Claim(Claim()));
  store->MarkWriting(id, "gw", kT0 + 10);
  EXPECT_EQ(Get(id).phase, 1);
  store->RecordSent(id, "gw", {7, 8, 9}, kT0 + 20);
  const OutboxMessage m = Get(id);
  EXPECT_EQ(m.state, MessageState::Sent);
  ASSERT_EQ(m.parts.size(), 3u);
  EXPECT_EQ(m.parts[0].reference, 7);
  EXPECT_EQ(m.parts[2].reference, 9);
  EXPECT_EQ(m.parts[2].number, 3);
  EXPECT_EQ(m.parts[1].state, "sent");
  EXPECT_EQ(m.parts[1].modem, "m1");
  EXPECT_EQ(m.updated, kT0 + 20);
}

TEST_P(StoreTest, RetryGoesBackToTheQueueWithItsTime) {
  const std::int64_t id = QueueOne();
  ASSERT_TRUE(store->Claim(Claim()));
  store->RecordRetry(id, "gw", {"temporary", 38, "+CMS ERROR: 38"}, kT0 + 30000, kT0 + 5);
  OutboxMessage m = Get(id);
  EXPECT_EQ(m.state, MessageState::Queued);
  EXPECT_EQ(m.nextAttempt, kT0 + 30000);
  ASSERT_TRUE(m.error);
  EXPECT_EQ(m.error->code, 38);
  EXPECT_FALSE(store->Claim(Claim("m1", kT0 + 29999))) << "not before its next attempt";
  auto again = store->Claim(Claim("m2", kT0 + 30000));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->attempts, 2);
  EXPECT_EQ(again->sentBy, "m2");
}

TEST_P(StoreTest, FailedAndUncertainKeepTheirError) {
  const std::int64_t a = QueueOne("a"), b = QueueOne("b");
  ASSERT_TRUE(store->Claim(Claim()));
  store->RecordFailed(a, "gw", {"permanent", 1, "+CMS ERROR: 1"}, {}, kT0 + 1);
  ASSERT_TRUE(store->Claim(Claim()));
  store->MarkWriting(b, "gw", kT0 + 2);
  store->RecordUncertain(b, "gw", {"uncertain", std::nullopt, "no final answer"}, {4}, kT0 + 3);
  EXPECT_EQ(Get(a).state, MessageState::Failed);
  EXPECT_EQ(Get(a).error->kind, "permanent");
  EXPECT_EQ(Get(b).state, MessageState::Uncertain);
  EXPECT_FALSE(Get(b).error->code);
  ASSERT_EQ(Get(b).parts.size(), 1u) << "a part accepted before the doubt is kept";
  EXPECT_FALSE(store->Claim(Claim())) << "neither comes back";
}

TEST_P(StoreTest, ARecordForAMessageNotHeldChangesNothing) {
  const std::int64_t id = QueueOne();
  EXPECT_THROW(store->RecordSent(id, "gw", {1}, kT0), StoreError) << "still queued";
  ASSERT_TRUE(store->Claim(Claim()));
  EXPECT_THROW(store->MarkWriting(id, "other", kT0), StoreError);
  EXPECT_THROW(store->RecordFailed(id, "other", {"permanent", 1, "x"}, {}, kT0), StoreError);
  store->RecordSent(id, "gw", {1}, kT0);
  EXPECT_THROW(store->RecordSent(id, "gw", {1}, kT0), StoreError) << "sent once";
  EXPECT_THROW(store->RecordUncertain(id, "gw", {"uncertain", {}, "x"}, {}, kT0), StoreError);
  EXPECT_EQ(Get(id).state, MessageState::Sent);
}

TEST_P(StoreTest, ExpiryTakesOnlyQueuedMessagesPastTheirWindow) {
  NewMessage m;
  m.to = "+15550123";
  m.text = "x";
  m.notAfter = kT0 + 1000;
  const std::int64_t late = store->Queue(m, kT0);
  m.notAfter = kT0 + 5000;
  const std::int64_t later = store->Queue(m, kT0);
  const std::int64_t open = QueueOne();
  EXPECT_TRUE(store->ExpireDue(kT0 + 999).empty());
  EXPECT_EQ(store->ExpireDue(kT0 + 1000), std::vector<std::int64_t>{late});
  EXPECT_EQ(Get(late).state, MessageState::Expired);
  EXPECT_EQ(Get(late).error->kind, "expired");
  EXPECT_EQ(Get(later).state, MessageState::Queued);
  EXPECT_EQ(Get(open).state, MessageState::Queued);
}

TEST_P(StoreTest, RecoverRequeuesWhatNeverReachedTheModemAndDoubtsTheRest) {
  const std::int64_t before = QueueOne("before the prompt"), after = QueueOne("after the prompt");
  const std::int64_t other = QueueOne("another gateway's");
  ASSERT_TRUE(store->Claim(Claim("m1")));
  ASSERT_TRUE(store->Claim(Claim("m2")));
  store->MarkWriting(after, "gw", kT0);
  ClaimRequest elsewhere = Claim("m9");
  elsewhere.claimer = "gw2";
  elsewhere.leaseMs = 60000;
  ASSERT_TRUE(store->Claim(elsewhere));

  const Recovered r = store->Recover("gw", kT0 + 1000);
  EXPECT_EQ(r.requeued, std::vector<std::int64_t>{before});
  EXPECT_EQ(r.uncertain, std::vector<std::int64_t>{after});
  EXPECT_EQ(Get(before).state, MessageState::Queued);
  EXPECT_EQ(Get(before).attempts, 0) << "an attempt that never reached the modem does not count";
  EXPECT_EQ(Get(after).state, MessageState::Uncertain);
  EXPECT_EQ(Get(after).error->kind, "restart");
  EXPECT_EQ(Get(other).state, MessageState::Sending) << "another gateway's claim holds while its lease runs";

  const Recovered late = store->Recover("gw", kT0 + 61000);
  EXPECT_EQ(late.requeued, std::vector<std::int64_t>{other}) << "and is taken back once the lease ran out";
}

TEST_P(StoreTest, NextDueIsTheEarliestQueuedTime) {
  EXPECT_FALSE(store->NextDue(kT0));
  NewMessage m;
  m.to = "+1";
  m.text = "x";
  m.notBefore = kT0 + 5000;
  store->Queue(m, kT0);
  EXPECT_EQ(store->NextDue(kT0), kT0 + 5000);
  QueueOne();
  EXPECT_EQ(store->NextDue(kT0), kT0);
}

TEST_P(StoreTest, ListingFiltersByStateAndId) {
  const std::int64_t a = QueueOne("a"), b = QueueOne("b");
  ASSERT_TRUE(store->Claim(Claim()));
  store->RecordSent(a, "gw", {1}, kT0);
  MessageFilter f;
  f.state = MessageState::Queued;
  auto queued = store->ListMessages(f);
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].id, b);
  f = {};
  f.id = a;
  ASSERT_EQ(store->ListMessages(f).size(), 1u);
  EXPECT_EQ(store->ListMessages({}).size(), 2u);
  const auto counts = store->CountByState();
  EXPECT_EQ(counts.at("sent"), 1);
  EXPECT_EQ(counts.at("queued"), 1);
}

TEST_P(StoreTest, EveryTransitionIsInTheEventLog) {
  const std::int64_t id = QueueOne();
  ASSERT_TRUE(store->Claim(Claim()));
  store->MarkWriting(id, "gw", kT0);
  store->RecordSent(id, "gw", {3}, kT0);
  std::vector<std::string> kinds;
  for (const Event& e : store->ListEvents(0, 100)) kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"queued", "sending", "sent"}));
}

TEST_P(StoreTest, TwoConnectionsShareTheQueue) {
  // `veskgsm queue` beside a running gateway.
  auto second = Open();
  NewMessage m;
  m.to = "+15550123";
  m.text = "from the command line";
  const std::int64_t id = second->Queue(m, kT0);
  auto claimed = store->Claim(Claim());
  ASSERT_TRUE(claimed);
  EXPECT_EQ(claimed->id, id);
}

// ------------------------------------------------------------------ reports

TEST_P(StoreTest, ReportsMoveTheMessageWhenEveryPartIsIn) {
  const std::int64_t id = QueueOne();
  ASSERT_TRUE(store->Claim(Claim()));
  store->RecordSent(id, "gw", {200, 201}, kT0);
  const auto candidates = store->ReportCandidates("m1", 201);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].number, 2);
  StatusReport r{"m1", 201, "+15550123", kT0, kT0 + 100, 0, kT0 + 200};
  EXPECT_EQ(store->RecordReport(r, candidates[0]), MessageState::Sent) << "part 1 still out";
  r.reference = 200;
  EXPECT_EQ(store->RecordReport(r, store->ReportCandidates("m1", 200)[0]), MessageState::Delivered);
  const OutboxMessage m = Get(id);
  EXPECT_EQ(m.parts[0].status, 0);
  EXPECT_EQ(m.parts[1].state, "delivered");
}

TEST_P(StoreTest, AFailedPartFailsTheMessage) {
  const std::int64_t id = QueueOne();
  ASSERT_TRUE(store->Claim(Claim()));
  store->RecordSent(id, "gw", {5}, kT0);
  StatusReport pending{"m1", 5, "+15550123", kT0, kT0, 0x30, kT0 + 1};
  EXPECT_EQ(store->RecordReport(pending, store->ReportCandidates("m1", 5)[0]), MessageState::Sent);
  EXPECT_EQ(Get(id).parts[0].state, "pending");
  StatusReport failed{"m1", 5, "+15550123", kT0, kT0, 0x41, kT0 + 2};
  EXPECT_EQ(store->RecordReport(failed, store->ReportCandidates("m1", 5)[0]), MessageState::Failed);
  EXPECT_EQ(Get(id).error->kind, "delivery");
  EXPECT_EQ(Get(id).error->code, 0x41);
}

TEST_P(StoreTest, AnUnmatchedReportIsKeptAndChangesNothing) {
  EXPECT_FALSE(store->RecordReport({"m1", 9, "+1", kT0, kT0, 0, kT0}, std::nullopt));
  EXPECT_EQ(store->ListEvents(0, 10).back().kind, "report");
}

// ------------------------------------------------------------------ inbox

IncomingMessage Received(const std::string& text) {
  IncomingMessage m;
  m.modem = "m1";
  m.imei = "490154203237518";
  m.sender = "+15550123";
  m.smsc = "+15550100";
  m.text = text;
  m.timestamp = "2019-03-14T15:09:26";
  m.timezone = 8;
  m.received = kT0;
  return m;
}

TEST_P(StoreTest, AMessageWithTheSameKeyIsNotStoredTwice) {
  const AddResult first = store->AddMessage(Received("hello"));
  EXPECT_FALSE(first.duplicate);
  const AddResult again = store->AddMessage(Received("hello"));
  EXPECT_TRUE(again.duplicate);
  EXPECT_EQ(again.id, first.id);
  EXPECT_EQ(store->ListInbox(0, 10).size(), 1u);
}

TEST_P(StoreTest, EachPartOfTheKeyTellsMessagesApart) {
  const std::int64_t base = store->AddMessage(Received("hello")).id;
  std::vector<IncomingMessage> variants(6, Received("hello"));
  variants[0].imei = "490154203237519";           // another modem
  variants[1].sender = "+15550124";               // another sender
  variants[2].timestamp = "2019-03-14T15:09:27";  // another time
  variants[3].timezone = 4;                       // another zone
  variants[4].reference = 12;                     // another reference
  variants[5].text = "hello!";                    // another text
  for (const IncomingMessage& v : variants) {
    const AddResult r = store->AddMessage(v);
    EXPECT_FALSE(r.duplicate);
    EXPECT_NE(r.id, base);
  }
  IncomingMessage sameKey = Received("hello");
  sameKey.modem = "renamed";  // the name is not part of the key: the IMEI is
  sameKey.smsc = "+1999";
  sameKey.received = kT0 + 5000;
  EXPECT_TRUE(store->AddMessage(sameKey).duplicate);
  EXPECT_EQ(store->ListInbox(0, 100).size(), 7u);
}

IncomingPart Part(int number, int total, const std::string& text, int reference = 42) {
  IncomingPart p;
  p.modem = "m1";
  p.imei = "490154203237518";
  p.storage = "SM";
  p.sender = "+15550123";
  p.smsc = "+15550100";
  p.timestamp = "2019-03-14T15:09:2" + std::to_string(number);
  p.timezone = 8;
  p.reference = reference;
  p.total = total;
  p.number = number;
  p.pdu = "PDU-" + std::to_string(reference) + "-" + std::to_string(number) + "-" + text;
  p.text = text;
  p.received = kT0 + number;
  return p;
}

std::string Join(const std::vector<IncomingPart>& parts, bool complete) {
  std::string text;
  for (const IncomingPart& p : parts) text += p.text;
  return complete ? text : text + "(incomplete)";
}

TEST_P(StoreTest, PartsWaitInTheStoreUntilTheLastArrives) {
  EXPECT_EQ(store->AddPart(Part(3, 3, "C"), Join).id, 0);
  EXPECT_EQ(store->AddPart(Part(1, 3, "A"), Join).id, 0);
  EXPECT_EQ(store->PendingParts(), 2);
  // Reopened, as after a restart: the parts are still there.
  store.reset();
  store = Open();
  const AddResult done = store->AddPart(Part(2, 3, "B"), Join);
  ASSERT_NE(done.id, 0);
  EXPECT_FALSE(done.duplicate);
  const InboxEntry e = store->GetInbox(done.id).value();
  EXPECT_EQ(e.text, "ABC");
  EXPECT_EQ(e.parts, 3);
  EXPECT_EQ(e.reference, 42);
  EXPECT_EQ(e.timestamp, "2019-03-14T15:09:21") << "the first part's time stamp";
  EXPECT_FALSE(e.incomplete);
  EXPECT_EQ(store->PendingParts(), 0);
}

TEST_P(StoreTest, APartReadAgainIsADuplicate) {
  store->AddPart(Part(1, 2, "A"), Join);
  EXPECT_TRUE(store->AddPart(Part(1, 2, "A"), Join).duplicate) << "read again before its message completed";
  const AddResult done = store->AddPart(Part(2, 2, "B"), Join);
  const AddResult late = store->AddPart(Part(2, 2, "B"), Join);
  EXPECT_TRUE(late.duplicate) << "read again after";
  EXPECT_EQ(late.id, done.id);
  EXPECT_EQ(store->ListInbox(0, 10).size(), 1u);
  EXPECT_EQ(store->PendingParts(), 0);
}

TEST_P(StoreTest, AReusedReferenceClosesTheEarlierMessageAsItStands) {
  store->AddPart(Part(1, 2, "old"), Join);
  IncomingPart newer = Part(1, 2, "new");
  newer.pdu += "-again";
  EXPECT_EQ(store->AddPart(newer, Join).id, 0) << "the new message waits for its second part";
  const auto inbox = store->ListInbox(0, 10);
  ASSERT_EQ(inbox.size(), 1u);
  EXPECT_TRUE(inbox[0].incomplete);
  EXPECT_EQ(inbox[0].text, "old(incomplete)");
  const AddResult done = store->AddPart(Part(2, 2, "er"), Join);
  EXPECT_EQ(store->GetInbox(done.id)->text, "newer");
}

TEST_P(StoreTest, PartsThatNeverCompleteBecomeAnIncompleteMessage) {
  store->AddPart(Part(1, 3, "A"), Join);
  store->AddPart(Part(3, 3, "C"), Join);
  EXPECT_TRUE(store->FinishStaleParts(kT0, kT0 + 100, Join).empty()) << "not old enough yet";
  const auto ids = store->FinishStaleParts(kT0 + 2, kT0 + 100, Join);
  ASSERT_EQ(ids.size(), 1u);
  const InboxEntry e = store->GetInbox(ids[0]).value();
  EXPECT_TRUE(e.incomplete);
  EXPECT_EQ(e.text, "AC(incomplete)");
  EXPECT_EQ(store->PendingParts(), 0);
  EXPECT_TRUE(store->AddPart(Part(3, 3, "C"), Join).duplicate) << "its parts are still known";
}

TEST_P(StoreTest, PartsOfTwoModemsNeverMix) {
  store->AddPart(Part(1, 2, "A"), Join);
  IncomingPart other = Part(2, 2, "B");
  other.imei = "358000000000001";
  other.modem = "m2";
  EXPECT_EQ(store->AddPart(other, Join).id, 0);
  EXPECT_EQ(store->PendingParts(), 2);
}

// ------------------------------------------------------------------ hooks

TEST_P(StoreTest, HookedEventsWaitForTheirHook) {
  store->SetHookedEvents({"received", "sent"});
  QueueOne();  // "queued" has no hook
  const std::int64_t inboxId = store->AddMessage(Received("hi")).id;
  auto job = store->NextHookJob(kT0);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->event.kind, "received");
  EXPECT_EQ(job->event.inboxId, inboxId);
  EXPECT_EQ(job->attempts, 0);
  store->HookFinished(job->event.id, false, "exit status 1", kT0 + 10000, kT0);
  EXPECT_FALSE(store->NextHookJob(kT0 + 9999));
  EXPECT_EQ(store->NextHookDue(), kT0 + 10000);
  job = store->NextHookJob(kT0 + 10000);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->attempts, 1);
  store->HookFinished(job->event.id, true, "", std::nullopt, kT0);
  EXPECT_FALSE(store->NextHookJob(kT0 + 100000));
  EXPECT_FALSE(store->NextHookDue());
}

// ------------------------------------------------------------------ status

TEST_P(StoreTest, ModemAndGatewayRows) {
  ModemStatus m;
  m.name = "m1";
  m.gateway = "gw";
  m.port = "/dev/ttyUSB0";
  m.connected = false;
  m.lastError = "Cannot connect";
  m.lastErrorAt = kT0;
  m.updated = kT0;
  store->UpdateModem(m);
  m.connected = true;
  m.signal = 23;
  m.imei = "490154203237518";
  store->UpdateModem(m);
  const auto modems = store->ListModems();
  ASSERT_EQ(modems.size(), 1u);
  EXPECT_TRUE(modems[0].connected);
  EXPECT_EQ(modems[0].signal, 23);
  EXPECT_EQ(modems[0].lastError, "Cannot connect");
  store->UpdateGateway({"gw", 42, kT0, kT0 + 5, std::nullopt});
  ASSERT_EQ(store->ListGateways().size(), 1u);
  EXPECT_EQ(store->ListGateways()[0].heartbeat, kT0 + 5);
}

// ------------------------------------------------------------------ several gateways

TEST_P(StoreTest, AnExpiredLeaseIsTakenOverAndALiveOneIsNot) {
  const std::int64_t idle = QueueOne("claimed, never begun"), begun = QueueOne("claimed, body on its way");
  ClaimRequest a = Claim("a1");
  a.claimer = "host-a";
  a.leaseMs = 60000;
  ASSERT_TRUE(store->Claim(a));
  ASSERT_TRUE(store->Claim(a));
  store->MarkWriting(begun, "host-a", kT0 + 10);
  // Host a renews its lease while it runs: nothing is taken from it.
  store->RenewLeases("host-a", kT0 + 50000, 60000);
  EXPECT_TRUE(store->ReclaimExpired(kT0 + 100000).requeued.empty());
  EXPECT_EQ(Get(idle).state, MessageState::Sending);
  // Then it dies: after the lease, its claims are settled by any host.
  const Recovered r = store->ReclaimExpired(kT0 + 110001);
  EXPECT_EQ(r.requeued, std::vector<std::int64_t>{idle});
  EXPECT_EQ(r.uncertain, std::vector<std::int64_t>{begun}) << "the modem may have sent it: never again";
  EXPECT_EQ(Get(idle).state, MessageState::Queued);
  EXPECT_EQ(Get(idle).attempts, 0) << "an attempt that never reached a modem does not count";
  EXPECT_EQ(Get(begun).state, MessageState::Uncertain);
  EXPECT_EQ(Get(begun).error->kind, "restart");
  // Another host sends it; the dead one's late record is refused.
  ClaimRequest b = Claim("b1", kT0 + 110002);
  b.claimer = "host-b";
  auto taken = store->Claim(b);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->id, idle);
  EXPECT_THROW(store->MarkWriting(idle, "host-a", kT0 + 110003), StoreError);
  EXPECT_THROW(store->RecordSent(begun, "host-a", {1}, kT0 + 110003), StoreError);
  store->RecordSent(idle, "host-b", {5}, kT0 + 110004);
  EXPECT_EQ(Get(idle).sentBy, "b1");
}

TEST_P(StoreTest, ConcurrentClaimsTakeEachMessageOnce) {
  constexpr int kMessages = 60, kHosts = 4;
  for (int i = 0; i < kMessages; ++i) QueueOne("m" + std::to_string(i));
  std::vector<std::unique_ptr<Store>> hosts;
  for (int h = 0; h < kHosts; ++h) hosts.push_back(Open());
  std::vector<std::vector<std::int64_t>> taken(kHosts);
  std::vector<std::thread> threads;
  for (int h = 0; h < kHosts; ++h)
    threads.emplace_back([&, h] {
      ClaimRequest r = Claim("modem" + std::to_string(h));
      r.claimer = "host" + std::to_string(h);
      while (std::optional<OutboxMessage> m = hosts[static_cast<std::size_t>(h)]->Claim(r)) {
        taken[static_cast<std::size_t>(h)].push_back(m->id);
        hosts[static_cast<std::size_t>(h)]->RecordSent(m->id, r.claimer, {static_cast<int>(m->id % 256)}, kT0);
      }
    });
  for (auto& t : threads) t.join();
  std::set<std::int64_t> all;
  std::size_t count = 0;
  for (const auto& ids : taken) {
    count += ids.size();
    all.insert(ids.begin(), ids.end());
  }
  EXPECT_EQ(count, static_cast<std::size_t>(kMessages)) << "a message claimed twice";
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kMessages));
  EXPECT_EQ(store->CountByState()["sent"], kMessages);
}

TEST_P(StoreTest, HooksAreRunByTheGatewayThatWroteTheEvent) {
  auto a = Open(0, "host-a");
  auto b = Open(0, "host-b");
  a->SetHookedEvents({"sent"});
  b->SetHookedEvents({"sent"});
  NewMessage m;
  m.to = "+15550123";
  m.text = "x";
  const std::int64_t id = a->Queue(m, kT0);
  ClaimRequest r = Claim();
  r.claimer = "host-a";
  ASSERT_TRUE(a->Claim(r));
  a->RecordSent(id, "host-a", {1}, kT0);
  EXPECT_FALSE(b->NextHookJob(kT0 + 1)) << "host b does not run host a's hooks";
  auto job = a->NextHookJob(kT0 + 1);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->event.kind, "sent");
}

// ------------------------------------------------------------------ the API's parts

TEST_P(StoreTest, QueueOnceKeepsItsKey) {
  NewMessage m;
  m.to = "+15550123";
  m.text = "once";
  const QueueOnceResult first = store->QueueOnce(m, "k1", "fp", kT0);
  EXPECT_FALSE(first.repeated);
  EXPECT_FALSE(first.conflict);
  const QueueOnceResult again = store->QueueOnce(m, "k1", "fp", kT0 + 1);
  EXPECT_EQ(again.id, first.id);
  EXPECT_TRUE(again.repeated);
  const QueueOnceResult other = store->QueueOnce(m, "k1", "another", kT0 + 2);
  EXPECT_TRUE(other.conflict);
  EXPECT_EQ(other.id, first.id);
  EXPECT_EQ(store->ListMessages({}).size(), 1u);
  store->PruneIdempotencyKeys(kT0 + 1);
  EXPECT_NE(store->QueueOnce(m, "k1", "fp", kT0 + 3).id, first.id);
}

// Repeats of one request racing each other, from two connections (two
// gateways on one database, or the API's threads): one message, one id.
TEST_P(StoreTest, QueueOnceHoldsUnderConcurrentRepeatsFromTwoConnections) {
  auto second = Open();
  NewMessage m;
  m.to = "+15550123";
  m.text = "raced";
  for (int round = 0; round < 5; ++round) {
    const std::string key = "race-" + std::to_string(round);
    std::vector<std::thread> threads;
    std::vector<std::int64_t> ids(8);
    std::atomic<int> firsts{0};
    for (int i = 0; i < 8; ++i)
      threads.emplace_back([&, i] {
        Store& s = i % 2 ? *second : *store;
        const QueueOnceResult r = s.QueueOnce(m, key, "fp", kT0 + i);
        ids[static_cast<std::size_t>(i)] = r.id;
        if (!r.repeated && !r.conflict) ++firsts;
      });
    for (auto& t : threads) t.join();
    for (std::int64_t id : ids) EXPECT_EQ(id, ids[0]) << key;
    EXPECT_EQ(firsts.load(), 1) << key;
  }
  EXPECT_EQ(store->ListMessages({}).size(), 5u);
}

TEST_P(StoreTest, CountsForTheStatusPage) {
  for (int i = 0; i < 3; ++i) {
    NewMessage m;
    m.to = "+15550123";
    m.text = "x";
    m.modem = i < 2 ? "m1" : "m2";
    store->Queue(m, kT0 - 180000 + 60000 * i);
  }
  EXPECT_EQ(store->QueuedByModem(), (std::map<std::string, int>{{"m1", 2}, {"m2", 1}}));
  for (int i = 0; i < 2; ++i) {
    auto c = store->Claim(Claim("m1", kT0));
    ASSERT_TRUE(c);
    store->RecordSent(c->id, "gw", {i}, kT0 - 60000 * i);
  }
  const std::vector<EventCount> counts = store->CountEvents({"sent", "queued"}, kT0 - 180000, 60000);
  std::map<std::tuple<std::string, std::string, int>, int> got;
  for (const EventCount& c : counts) got[{c.kind, c.modem, c.bucket}] = c.count;
  EXPECT_EQ(got[std::make_tuple("queued", "m1", 0)], 1);
  EXPECT_EQ(got[std::make_tuple("queued", "m1", 1)], 1);
  EXPECT_EQ(got[std::make_tuple("queued", "m2", 2)], 1);
  EXPECT_EQ(got[std::make_tuple("sent", "m1", 2)], 1);
  EXPECT_EQ(got[std::make_tuple("sent", "m1", 3)], 1);
  EXPECT_EQ(got.size(), 5u);
}

TEST_P(StoreTest, ModemRowsKeepSimRegistrationAndOperator) {
  ModemStatus m;
  m.name = "m1";
  m.gateway = "gw";
  m.connected = true;
  m.sim = "ready";
  m.registration = "roaming";
  m.operatorName = "Net Ω";
  m.updated = kT0;
  store->UpdateModem(m);
  const ModemStatus got = store->ListModems().at(0);
  EXPECT_EQ(got.sim, "ready");
  EXPECT_EQ(got.registration, "roaming");
  EXPECT_EQ(got.operatorName, "Net Ω");
}

TEST_P(StoreTest, WebhookDeliveriesAreMadeWithTheirEvent) {
  store->SetWebhooks({{"http://a/hook", {"sent", "failed"}}, {"http://b/hook", {"received"}}});
  const std::int64_t id = QueueOne();
  ASSERT_TRUE(store->Claim(Claim()));
  store->RecordSent(id, "gw", {3}, kT0 + 1);
  IncomingMessage in;
  in.modem = "m1";
  in.imei = "1";
  in.sender = "+1";
  in.text = "hi";
  in.received = kT0 + 2;
  const AddResult received = store->AddMessage(in);
  store->Log("connected", "m1", "/dev/x", kT0 + 3);  // no webhook takes "modem" here
  const std::vector<Delivery> all = store->ListDeliveries(0, 100);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].url, "http://a/hook");
  EXPECT_EQ(all[0].type, "sent");
  EXPECT_EQ(all[0].messageId, id);
  EXPECT_EQ(all[1].url, "http://b/hook");
  EXPECT_EQ(all[1].type, "received");
  EXPECT_EQ(all[1].inboxId, received.id);
  EXPECT_EQ(all[0].key.size(), 36u);
  EXPECT_EQ(all[0].key.rfind("evt_", 0), 0u);
  EXPECT_NE(all[0].key, all[1].key);
  // Claimed by URL, with a lease; the body fixed once.
  EXPECT_FALSE(store->ClaimDelivery({"http://c/hook"}, "gw", kT0 + 10, 1000));
  auto d = store->ClaimDelivery({"http://a/hook", "http://b/hook"}, "gw", kT0 + 10, 1000);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->id, all[0].id);
  EXPECT_TRUE(d->body.empty());
  EXPECT_EQ(store->FixDeliveryBody(d->id, "first"), "first");
  EXPECT_EQ(store->FixDeliveryBody(d->id, "second"), "first");
  auto other = store->ClaimDelivery({"http://a/hook"}, "gw2", kT0 + 11, 1000);
  EXPECT_FALSE(other) << "held by gw's lease";
  store->DeliveryFinished(d->id, "gw", false, 500, "status 500", kT0 + 5000, kT0 + 12);
  EXPECT_FALSE(store->ClaimDelivery({"http://a/hook"}, "gw", kT0 + 4999, 1000)) << "not due yet";
  EXPECT_EQ(store->NextDeliveryDue({"http://a/hook"}), kT0 + 5000);
  d = store->ClaimDelivery({"http://a/hook"}, "gw2", kT0 + 5000, 1000);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->attempts, 1);
  EXPECT_EQ(d->body, "first");
  store->DeliveryFinished(d->id, "gw2", true, 204, "", std::nullopt, kT0 + 5001);
  const DeliveryStats stats = store->CountDeliveries();
  EXPECT_EQ(stats.done, 1);
  EXPECT_EQ(stats.pending, 1);
  EXPECT_EQ(stats.failed, 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

// ------------------------------------------------------------------ PostgreSQL itself

class PostgresStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (const std::string missing = PgServer::Missing(); !missing.empty()) GTEST_SKIP() << "PostgreSQL: " << missing;
    folder = PgServer::Folder(why);
    ASSERT_FALSE(folder.empty()) << "PostgreSQL: " << why;
    conninfo = PgServer::CreateDatabase(folder, why);
    ASSERT_FALSE(conninfo.empty()) << why;
  }
  void TearDown() override {
    if (!conninfo.empty()) PgServer::DropDatabase(folder, conninfo);
  }
  std::unique_ptr<Store> Open() { return OpenPostgresStore(conninfo, StoreOptions{}); }

  std::string folder, conninfo;
};

TEST_F(PostgresStore, ProcessesStartingAtOnceCreateTheSchemaOnce) {
  constexpr int kAtOnce = 6;
  std::vector<std::thread> threads;
  std::atomic<int> opened{0};
  std::vector<std::string> errors(kAtOnce);
  for (int i = 0; i < kAtOnce; ++i)
    threads.emplace_back([&, i] {
      try {
        Open();
        ++opened;
      } catch (const StoreError& e) {
        errors[static_cast<std::size_t>(i)] = e.what();
      }
    });
  for (auto& t : threads) t.join();
  for (const std::string& e : errors) EXPECT_EQ(e, "");
  EXPECT_EQ(opened, kAtOnce);
  EXPECT_EQ(PgServer::Query(conninfo, "SELECT value FROM meta WHERE key = 'schema'"),
            std::to_string(CurrentSchemaVersion()) + "\n");
}

TEST_F(PostgresStore, AnotherApplicationsDatabaseIsRefusedAndLeftAlone) {
  PgServer::Query(conninfo, "CREATE TABLE contacts (name TEXT); INSERT INTO contacts VALUES ('Ada')");
  try {
    Open();
    FAIL() << "opened";
  } catch (const StoreError& e) {
    EXPECT_NE(std::string(e.what()).find("another application's tables"), std::string::npos) << e.what();
  }
  EXPECT_EQ(PgServer::Query(conninfo, "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'public'"),
            "1\n");
}

TEST_F(PostgresStore, ANewerSchemaIsRefused) {
  Open();
  PgServer::Query(conninfo, "UPDATE meta SET value = '99' WHERE key = 'schema'");
  try {
    Open();
    FAIL() << "opened";
  } catch (const StoreError& e) {
    EXPECT_NE(std::string(e.what()).find("newer version"), std::string::npos) << e.what();
  }
}

TEST_F(PostgresStore, AZeroByteInATextIsKeptAsAReplacementCharacter) {
  auto store = Open();
  IncomingMessage m;
  m.modem = "m1";
  m.imei = "1";
  m.sender = "+1";
  m.text = std::string("a\0b", 3);
  m.received = kT0;
  const AddResult r = store->AddMessage(m);
  EXPECT_EQ(store->GetInbox(r.id)->text, "a\xEF\xBF\xBD"
                                         "b");
}

// A server that goes away: every call fails with StoreError (the API's
// 503), and the store works again once the server is back.
TEST(PostgresServer, GoneAndBack) {
  const std::string missing = PgServer::Missing();
  if (!missing.empty()) GTEST_SKIP() << "PostgreSQL: " << missing;
  TempDir dir;
  const std::string folder =
      (std::filesystem::temp_directory_path() / ("veskgsm-pg-gone-" + std::to_string(::getpid()))).string();
  std::string why;
  ASSERT_TRUE(PgServer::Start(folder, why)) << why;
  const std::string conninfo = PgServer::CreateDatabase(folder, why);
  ASSERT_FALSE(conninfo.empty()) << why;
  auto store = OpenPostgresStore(conninfo, StoreOptions{}, 2);
  NewMessage m;
  m.to = "+15550123";
  m.text = "before";
  const std::int64_t id = store->Queue(m, kT0);
  // The test server commits without waiting for its log (fsync and
  // synchronous_commit off): written out first, as a real one would have.
  PgServer::Query(conninfo, "CHECKPOINT");
  ASSERT_TRUE(PgServer::Kill(folder));
  EXPECT_THROW(store->GetMessage(id), StoreError);
  EXPECT_THROW(store->Queue(m, kT0), StoreError);
  ASSERT_TRUE(PgServer::Restart(folder, why)) << why;
  std::optional<OutboxMessage> back;
  for (int i = 0; i < 3 && !back; ++i) {
    try {
      back = store->GetMessage(id);
    } catch (const StoreError& e) {
      // A connection that had not yet noticed the restart.
      why = e.what();
    }
  }
  ASSERT_TRUE(back) << why;
  EXPECT_EQ(back->text, "before");
  PgServer::Stop(folder);
  std::filesystem::remove_all(folder);
}

// ------------------------------------------------------------------ the file

std::string RawQuery(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  std::string out;
  char* error = nullptr;
  sqlite3_exec(
      db, sql.c_str(),
      [](void* o, int n, char** values, char**) {
        auto* text = static_cast<std::string*>(o);
        for (int i = 0; i < n; ++i) *text += std::string(values[i] ? values[i] : "NULL") + (i + 1 < n ? "|" : "\n");
        return 0;
      },
      &out, &error);
  if (error) {
    out = std::string("error: ") + error;
    sqlite3_free(error);
  }
  sqlite3_close(db);
  return out;
}

TEST_P(StoreTest, FreshStoreIsOursInWalMode) {
  if (Postgres()) {
    EXPECT_EQ(Raw("SELECT value FROM meta WHERE key = 'schema'"), std::to_string(CurrentSchemaVersion()) + "\n");
    EXPECT_EQ(Raw("SELECT value FROM meta WHERE key = 'application'"), "veskgsm-gateway\n");
    return;
  }
  const std::string path = dir.Path("store.db");
  EXPECT_EQ(RawQuery(path, "PRAGMA journal_mode"), "wal\n");
  EXPECT_EQ(RawQuery(path, "PRAGMA application_id"), "1448299335\n");
  EXPECT_EQ(RawQuery(path, "SELECT value FROM meta WHERE key = 'schema'"),
            std::to_string(CurrentSchemaVersion()) + "\n");
}

TEST_P(StoreTest, MigratesFromTheFirstSchema) {
  Fresh();
  store = Open(1);
  store.reset();
  EXPECT_EQ(Raw("SELECT value FROM meta WHERE key = 'schema'"), "1\n");
  // What a gateway of the first schema left behind: a message being sent,
  // a sent one with its part, a received one.
  EXPECT_EQ(Raw("INSERT INTO outbox (recipient, text, encoding, flash, priority, parts, state, attempts, "
                "next_attempt, sent_by, phase, created, updated) VALUES "
                "('+15550123', 'in flight', 'auto', 0, 0, 1, 'sending', 1, 0, 'm1', 1, 10, 10), "
                "('+15550123', 'done', 'auto', 0, 0, 1, 'sent', 1, 0, 'm1', 0, 10, 10);"
                "INSERT INTO outbox_parts VALUES (2, 1, 77, 'm1', 10, 'sent');"
                "INSERT INTO inbox (modem, imei, sender, smsc, text, timestamp, timezone, reference, parts, "
                "incomplete, received, dedup_key) VALUES ('m1', '1', '+1', '+2', 'old', NULL, 0, -1, 1, 0, 5, "
                "'k');"),
            "");
  store = Open();
  EXPECT_EQ(Raw("SELECT value FROM meta WHERE key = 'schema'"), std::to_string(CurrentSchemaVersion()) + "\n");
  // Messages of the first schema carry no claimer: a restart takes them back.
  const Recovered r = store->Recover("gw", kT0);
  EXPECT_EQ(r.uncertain, std::vector<std::int64_t>{1});
  const OutboxMessage sent = Get(2);
  EXPECT_EQ(sent.state, MessageState::Sent);
  ASSERT_EQ(sent.parts.size(), 1u);
  EXPECT_FALSE(sent.parts[0].status);
  EXPECT_EQ(store->RecordReport({"m1", 77, "+15550123", 10, 20, 0, 30}, store->ReportCandidates("m1", 77)[0]),
            MessageState::Delivered);
  EXPECT_EQ(store->ListInbox(0, 10).at(0).text, "old");
  EXPECT_EQ(store->AddPart(Part(1, 1, "new"), Join).duplicate, false);
}

TEST_P(StoreTest, MigratesEachIntermediateSchema) {
  for (int from = 1; from < CurrentSchemaVersion(); ++from) {
    Fresh();
    store = Open(from);
    store.reset();
    store = Open();
    QueueOne();
    ASSERT_TRUE(store->Claim(Claim())) << "from schema " << from;
  }
}

void ExpectRefused(const std::string& path, const std::string& reason) {
  const std::string before = [&] {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }();
  try {
    StoreOptions o;
    o.path = path;
    o.check = true;
    OpenSqliteStore(o);
    FAIL() << "opened";
  } catch (const StoreError& e) {
    EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("left as it is"), std::string::npos) << e.what();
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream after;
  after << in.rdbuf();
  EXPECT_EQ(after.str(), before) << "the file was changed";
  EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
}

TEST(StoreFile, AFileThatIsNotADatabaseIsRefusedAndLeftAlone) {
  TempDir dir;
  ExpectRefused(dir.Write("notes.db", "These are my notes, not a database.\n" + std::string(200, 'x')),
                "not an SQLite database");
  ExpectRefused(dir.Write("short.db", "SQLite"), "not an SQLite database");
}

TEST(StoreFile, AnotherApplicationsDatabaseIsRefusedAndLeftAlone) {
  TempDir dir;
  const std::string path = dir.Path("other.db");
  RawQuery(path, "CREATE TABLE contacts (name TEXT); INSERT INTO contacts VALUES ('Ada');");
  ExpectRefused(path, "another application's tables");
  RawQuery(path, "PRAGMA application_id = 1234");
  ExpectRefused(path, "another application's");
}

TEST(StoreFile, ANewerSchemaIsRefused) {
  TempDir dir;
  const std::string path = dir.Path("store.db");
  {
    StoreOptions o;
    o.path = path;
    OpenSqliteStore(o);
  }
  RawQuery(path, "UPDATE meta SET value = '99' WHERE key = 'schema'; PRAGMA wal_checkpoint(TRUNCATE);");
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  ExpectRefused(path, "newer version");
}

TEST(StoreFile, ADamagedDatabaseIsRefused) {
  TempDir dir;
  const std::string path = dir.Path("store.db");
  {
    StoreOptions o;
    o.path = path;
    auto store = OpenSqliteStore(o);
    NewMessage m;
    m.to = "+1";
    m.text = std::string(3000, 'x');
    for (int i = 0; i < 50; ++i) store->Queue(m, kT0);
  }
  RawQuery(path, "PRAGMA wal_checkpoint(TRUNCATE);");
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  {
    // Scribble over the middle of the file, past the header and schema.
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(std::filesystem::file_size(path) / 2));
    const std::string junk(8192, '\x5A');
    f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  ExpectRefused(path, "damaged");
}

TEST(StoreFile, AMissingStoreIsMadeOnlyWhenAskedTo) {
  TempDir dir;
  StoreOptions o;
  o.path = dir.Path("absent.db");
  o.create = false;
  EXPECT_THROW(OpenSqliteStore(o), StoreError);
  EXPECT_FALSE(std::filesystem::exists(o.path));
  o.create = true;
  EXPECT_NO_THROW(OpenSqliteStore(o));
}

}  // namespace
}  // namespace vesk::gateway
