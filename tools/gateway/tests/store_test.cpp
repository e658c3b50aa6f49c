// The SQLite store: each transition of a message, the recovery after a
// crash, the inbox's duplicate rule (messages and parts), migrations from
// the first schema, and files that are not ours.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include "tools/gateway/Sha256.h"
#include "tools/gateway/Store.h"
#include "tools/gateway/tests/TestSupport.h"

namespace vesk::gateway {
namespace {

using testing::TempDir;

constexpr Millis kT0 = 1714564800000;  // 2024-05-01T12:00:00Z

class StoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<Store> Open(int schema = 0) {
    StoreOptions o;
    o.path = dir.Path("store.db");
    o.schemaVersion = schema;
    return OpenSqliteStore(o);
  }
  void SetUp() override { store = Open(); }

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

TEST_F(StoreTest, QueuedMessageReadsBack) {
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

TEST_F(StoreTest, ClaimMovesToSendingWithOneAttempt) {
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

TEST_F(StoreTest, SentRecordsEveryPartReference) {
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

TEST_F(StoreTest, RetryGoesBackToTheQueueWithItsTime) {
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

TEST_F(StoreTest, FailedAndUncertainKeepTheirError) {
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

TEST_F(StoreTest, ARecordForAMessageNotHeldChangesNothing) {
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

TEST_F(StoreTest, ExpiryTakesOnlyQueuedMessagesPastTheirWindow) {
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

TEST_F(StoreTest, RecoverRequeuesWhatNeverReachedTheModemAndDoubtsTheRest) {
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

TEST_F(StoreTest, NextDueIsTheEarliestQueuedTime) {
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

TEST_F(StoreTest, ListingFiltersByStateAndId) {
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

TEST_F(StoreTest, EveryTransitionIsInTheEventLog) {
  const std::int64_t id = QueueOne();
  ASSERT_TRUE(store->Claim(Claim()));
  store->MarkWriting(id, "gw", kT0);
  store->RecordSent(id, "gw", {3}, kT0);
  std::vector<std::string> kinds;
  for (const Event& e : store->ListEvents(0, 100)) kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"queued", "sending", "sent"}));
}

TEST_F(StoreTest, TwoConnectionsShareTheQueue) {
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

TEST_F(StoreTest, ReportsMoveTheMessageWhenEveryPartIsIn) {
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

TEST_F(StoreTest, AFailedPartFailsTheMessage) {
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

TEST_F(StoreTest, AnUnmatchedReportIsKeptAndChangesNothing) {
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

TEST_F(StoreTest, AMessageWithTheSameKeyIsNotStoredTwice) {
  const AddResult first = store->AddMessage(Received("hello"));
  EXPECT_FALSE(first.duplicate);
  const AddResult again = store->AddMessage(Received("hello"));
  EXPECT_TRUE(again.duplicate);
  EXPECT_EQ(again.id, first.id);
  EXPECT_EQ(store->ListInbox(0, 10).size(), 1u);
}

TEST_F(StoreTest, EachPartOfTheKeyTellsMessagesApart) {
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

TEST_F(StoreTest, PartsWaitInTheStoreUntilTheLastArrives) {
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

TEST_F(StoreTest, APartReadAgainIsADuplicate) {
  store->AddPart(Part(1, 2, "A"), Join);
  EXPECT_TRUE(store->AddPart(Part(1, 2, "A"), Join).duplicate) << "read again before its message completed";
  const AddResult done = store->AddPart(Part(2, 2, "B"), Join);
  const AddResult late = store->AddPart(Part(2, 2, "B"), Join);
  EXPECT_TRUE(late.duplicate) << "read again after";
  EXPECT_EQ(late.id, done.id);
  EXPECT_EQ(store->ListInbox(0, 10).size(), 1u);
  EXPECT_EQ(store->PendingParts(), 0);
}

TEST_F(StoreTest, AReusedReferenceClosesTheEarlierMessageAsItStands) {
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

TEST_F(StoreTest, PartsThatNeverCompleteBecomeAnIncompleteMessage) {
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

TEST_F(StoreTest, PartsOfTwoModemsNeverMix) {
  store->AddPart(Part(1, 2, "A"), Join);
  IncomingPart other = Part(2, 2, "B");
  other.imei = "358000000000001";
  other.modem = "m2";
  EXPECT_EQ(store->AddPart(other, Join).id, 0);
  EXPECT_EQ(store->PendingParts(), 2);
}

// ------------------------------------------------------------------ hooks

TEST_F(StoreTest, HookedEventsWaitForTheirHook) {
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

TEST_F(StoreTest, ModemAndGatewayRows) {
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

TEST_F(StoreTest, FreshStoreIsOursInWalMode) {
  const std::string path = dir.Path("store.db");
  EXPECT_EQ(RawQuery(path, "PRAGMA journal_mode"), "wal\n");
  EXPECT_EQ(RawQuery(path, "PRAGMA application_id"), "1448299335\n");
  EXPECT_EQ(RawQuery(path, "SELECT value FROM meta WHERE key = 'schema'"),
            std::to_string(CurrentSchemaVersion()) + "\n");
}

TEST_F(StoreTest, MigratesFromTheFirstSchema) {
  store.reset();
  std::filesystem::remove(dir.Path("store.db"));
  store = Open(1);
  store.reset();
  const std::string path = dir.Path("store.db");
  EXPECT_EQ(RawQuery(path, "SELECT value FROM meta WHERE key = 'schema'"), "1\n");
  // What a gateway of the first schema left behind: a message being sent,
  // a sent one with its part, a received one.
  EXPECT_EQ(
      RawQuery(path, "INSERT INTO outbox (recipient, text, encoding, flash, priority, parts, state, attempts, "
                     "next_attempt, sent_by, phase, created, updated) VALUES "
                     "('+15550123', 'in flight', 'auto', 0, 0, 1, 'sending', 1, 0, 'm1', 1, 10, 10), "
                     "('+15550123', 'done', 'auto', 0, 0, 1, 'sent', 1, 0, 'm1', 0, 10, 10);"
                     "INSERT INTO outbox_parts VALUES (2, 1, 77, 'm1', 10, 'sent');"
                     "INSERT INTO inbox (modem, imei, sender, smsc, text, timestamp, timezone, reference, parts, "
                     "incomplete, received, dedup_key) VALUES ('m1', '1', '+1', '+2', 'old', NULL, 0, -1, 1, 0, 5, "
                     "'k');"),
      "");
  store = Open();
  EXPECT_EQ(RawQuery(path, "SELECT value FROM meta WHERE key = 'schema'"),
            std::to_string(CurrentSchemaVersion()) + "\n");
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

TEST_F(StoreTest, MigratesEachIntermediateSchema) {
  for (int from = 1; from < CurrentSchemaVersion(); ++from) {
    store.reset();
    std::filesystem::remove(dir.Path("store.db"));
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
