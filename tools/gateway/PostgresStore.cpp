// The store on PostgreSQL, shared by any number of gateways: the schema and
// the guarantees of the SQLite store (Store.h), with the claims made for
// several hosts. A claim takes its row with FOR UPDATE SKIP LOCKED inside
// the transaction that moves it to `sending`, so two hosts never take the
// same message and neither waits for the other; the schema is created and
// migrated under a transaction-scoped advisory lock, so processes that
// start at once on an empty database create it once.
//
// Times are milliseconds since 1970 in BIGINT columns, as in SQLite; texts
// are UTF-8 (a zero byte, which PostgreSQL's text cannot hold, is kept as
// U+FFFD).
#include <algorithm>
#include <mutex>

#include "tools/gateway/Postgres.h"
#include "tools/gateway/Sha256.h"
#include "tools/gateway/Store.h"
#include "tools/gateway/StoreCommon.h"

namespace vesk::gateway {

namespace {

using pg::P;
using pg::Param;
using pg::Result;

constexpr std::int64_t kSchemaLock = 0x56534B47;  // "VSKG"
constexpr const char* kApplication = "veskgsm-gateway";

// The same steps as the SQLite store's, in PostgreSQL's words.
const char* const kMigrations[] = {
    // 1
    R"(
CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE outbox (
  id BIGSERIAL PRIMARY KEY,
  recipient TEXT NOT NULL,
  text TEXT NOT NULL,
  encoding TEXT NOT NULL,
  flash INTEGER NOT NULL,
  priority INTEGER NOT NULL,
  not_before BIGINT,
  not_after BIGINT,
  modem TEXT,
  parts INTEGER NOT NULL,
  state TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  next_attempt BIGINT NOT NULL,
  sent_by TEXT,
  phase INTEGER NOT NULL DEFAULT 0,
  error_kind TEXT,
  error_code INTEGER,
  error_text TEXT,
  created BIGINT NOT NULL,
  updated BIGINT NOT NULL);
CREATE INDEX outbox_queue ON outbox (state, priority DESC, id);
CREATE TABLE outbox_parts (
  message_id BIGINT NOT NULL REFERENCES outbox (id),
  number INTEGER NOT NULL,
  reference INTEGER NOT NULL,
  modem TEXT NOT NULL,
  sent_at BIGINT NOT NULL,
  state TEXT NOT NULL,
  PRIMARY KEY (message_id, number));
CREATE TABLE inbox (
  id BIGSERIAL PRIMARY KEY,
  modem TEXT NOT NULL,
  imei TEXT NOT NULL,
  sender TEXT NOT NULL,
  smsc TEXT NOT NULL,
  text TEXT NOT NULL,
  timestamp TEXT,
  timezone INTEGER NOT NULL,
  reference INTEGER NOT NULL,
  parts INTEGER NOT NULL,
  incomplete INTEGER NOT NULL,
  received BIGINT NOT NULL,
  dedup_key TEXT NOT NULL UNIQUE);
CREATE TABLE events (
  id BIGSERIAL PRIMARY KEY,
  at BIGINT NOT NULL,
  kind TEXT NOT NULL,
  message_id BIGINT,
  inbox_id BIGINT,
  modem TEXT,
  detail TEXT NOT NULL);
CREATE TABLE modems (
  name TEXT PRIMARY KEY,
  gateway TEXT,
  port TEXT,
  imei TEXT,
  connected INTEGER NOT NULL,
  signal INTEGER,
  last_error TEXT,
  last_error_at BIGINT,
  updated BIGINT NOT NULL);
CREATE TABLE gateways (
  name TEXT PRIMARY KEY,
  pid INTEGER,
  started BIGINT,
  heartbeat BIGINT,
  stopped BIGINT);
)",
    // 2
    R"(
CREATE TABLE inbox_parts (
  id BIGSERIAL PRIMARY KEY,
  modem TEXT NOT NULL,
  imei TEXT NOT NULL,
  storage TEXT NOT NULL,
  sender TEXT NOT NULL,
  smsc TEXT NOT NULL,
  timestamp TEXT,
  timezone INTEGER NOT NULL,
  reference INTEGER NOT NULL,
  reference_bits INTEGER NOT NULL,
  total INTEGER NOT NULL,
  number INTEGER NOT NULL,
  pdu TEXT NOT NULL,
  text TEXT NOT NULL,
  received BIGINT NOT NULL,
  pdu_key TEXT NOT NULL UNIQUE,
  group_key TEXT NOT NULL,
  inbox_id BIGINT REFERENCES inbox (id));
CREATE INDEX inbox_parts_open ON inbox_parts (group_key) WHERE inbox_id IS NULL;
CREATE TABLE undecoded (
  id BIGSERIAL PRIMARY KEY,
  modem TEXT NOT NULL,
  imei TEXT NOT NULL,
  storage TEXT NOT NULL,
  pdu TEXT NOT NULL,
  reason TEXT NOT NULL,
  received BIGINT NOT NULL);
)",
    // 3
    R"(
ALTER TABLE outbox ADD COLUMN report INTEGER NOT NULL DEFAULT 0;
ALTER TABLE outbox ADD COLUMN claimed_by TEXT;
ALTER TABLE outbox ADD COLUMN lease_until BIGINT;
ALTER TABLE outbox_parts ADD COLUMN status INTEGER;
ALTER TABLE outbox_parts ADD COLUMN reported_at BIGINT;
CREATE INDEX outbox_parts_reference ON outbox_parts (modem, reference, sent_at);
CREATE TABLE reports (
  id BIGSERIAL PRIMARY KEY,
  modem TEXT NOT NULL,
  reference INTEGER NOT NULL,
  recipient TEXT NOT NULL,
  submitted BIGINT NOT NULL,
  discharged BIGINT NOT NULL,
  status INTEGER NOT NULL,
  received BIGINT NOT NULL,
  message_id BIGINT,
  part INTEGER);
ALTER TABLE events ADD COLUMN hook_state TEXT NOT NULL DEFAULT 'none';
ALTER TABLE events ADD COLUMN hook_attempts INTEGER NOT NULL DEFAULT 0;
ALTER TABLE events ADD COLUMN hook_next BIGINT;
ALTER TABLE events ADD COLUMN hook_error TEXT;
CREATE INDEX events_hooks ON events (hook_next) WHERE hook_state = 'pending';
)",
    // 4
    R"(
CREATE TABLE idempotency (
  key TEXT PRIMARY KEY,
  fingerprint TEXT NOT NULL,
  message_id BIGINT NOT NULL,
  created BIGINT NOT NULL);
CREATE TABLE deliveries (
  id BIGSERIAL PRIMARY KEY,
  key TEXT NOT NULL,
  url TEXT NOT NULL,
  type TEXT NOT NULL,
  event_id BIGINT NOT NULL,
  body TEXT,
  state TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  next_attempt BIGINT NOT NULL,
  claimed_by TEXT,
  lease_until BIGINT,
  last_status INTEGER,
  last_error TEXT,
  created BIGINT NOT NULL,
  updated BIGINT NOT NULL);
CREATE INDEX deliveries_due ON deliveries (next_attempt) WHERE state = 'pending';
ALTER TABLE events ADD COLUMN owner TEXT;
CREATE INDEX events_kind_at ON events (kind, at);
ALTER TABLE modems ADD COLUMN sim TEXT;
ALTER TABLE modems ADD COLUMN registration TEXT;
ALTER TABLE modems ADD COLUMN operator TEXT;
)",
};
constexpr int kSchemaVersion = static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);

const char kMessageColumns[] =
    "id, recipient, text, encoding, flash, report, priority, not_before, not_after, modem, sent_by, state, "
    "attempts, phase, next_attempt, parts, error_kind, error_code, error_text, created, updated";

const char kInboxColumns[] =
    "id, modem, imei, sender, smsc, text, timestamp, timezone, reference, parts, incomplete, received";

const char kPartColumns[] =
    "modem, imei, storage, sender, smsc, timestamp, timezone, reference, reference_bits, total, number, pdu, text, "
    "received";

const char kEventColumns[] = "id, at, kind, message_id, inbox_id, modem, detail";

std::string Joined(std::initializer_list<std::string> fields) {
  std::string key;
  for (const std::string& f : fields) {
    key += f;
    key += '\x1f';
  }
  return key;
}

std::string UpperHex(std::string pdu) {
  for (char& c : pdu)
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  return pdu;
}

std::string PartStateForStatus(int status) {
  if (status >= 0x00 && status <= 0x1F) return "delivered";
  if (status >= 0x20 && status <= 0x3F) return "pending";
  return "failed";
}

// "$first, $first+1, ..." for `count` parameters.
std::string Placeholders(int first, std::size_t count) {
  std::string list;
  for (std::size_t i = 0; i < count; ++i) list += (i ? ", $" : "$") + std::to_string(first + static_cast<int>(i));
  return list;
}

Param Opt(const std::string& s) { return s.empty() ? Param() : P(s); }

class PostgresStore final : public Store {
 public:
  PostgresStore(const std::string& url, const StoreOptions& options, int connections)
      : pool_(url, connections), owner_(options.owner) {
    auto c = pool_.Take();
    Migrate(*c, options.schemaVersion > 0 ? std::min(options.schemaVersion, kSchemaVersion) : kSchemaVersion);
  }

  // ---------------------------------------------------------------- outbox

  std::int64_t Queue(const NewMessage& m, Millis now) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    const std::int64_t id = InsertMessage(*c, m, now);
    tx.Commit();
    return id;
  }

  QueueOnceResult QueueOnce(const NewMessage& m, const std::string& key, const std::string& fingerprint,
                            Millis now) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    // Two requests with one key wait for each other here, not at the insert.
    c->Exec("SELECT pg_advisory_xact_lock(hashtext($1::text))", {P(key)});
    QueueOnceResult out;
    Result r = c->Exec("SELECT message_id, fingerprint FROM idempotency WHERE key = $1", {P(key)});
    if (r.Rows() > 0) {
      out.id = r.Int(0, 0);
      out.repeated = r.Text(0, 1) == fingerprint;
      out.conflict = !out.repeated;
      return out;
    }
    out.id = InsertMessage(*c, m, now);
    c->Exec("INSERT INTO idempotency (key, fingerprint, message_id, created) VALUES ($1, $2, $3, $4)",
            {P(key), P(fingerprint), P(out.id), P(now)});
    tx.Commit();
    return out;
  }

  void PruneIdempotencyKeys(Millis olderThan) override {
    auto c = pool_.Take();
    c->Exec("DELETE FROM idempotency WHERE created < $1", {P(olderThan)});
  }

  std::optional<OutboxMessage> Claim(const ClaimRequest& r) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    Result claimed = c->Exec(
        "UPDATE outbox SET state = 'sending', sent_by = $2, attempts = attempts + 1, phase = 0, claimed_by = $4, "
        "lease_until = $5, report = GREATEST(report, $6::integer), updated = $1 WHERE id = ("
        "SELECT id FROM outbox WHERE state = 'queued' AND next_attempt <= $1 "
        "AND (not_before IS NULL OR not_before <= $1) AND (not_after IS NULL OR not_after > $1) "
        "AND (modem IS NULL OR modem = $2) "
        "AND (sent_by IS DISTINCT FROM $2 OR error_kind IS DISTINCT FROM 'temporary' OR next_attempt + $3 <= $1) "
        "ORDER BY priority DESC, id LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING id",
        {P(r.now), P(r.modem), P(r.retryElsewhere), P(r.claimer), P(r.now + r.leaseMs), P(r.report)});
    if (claimed.Rows() == 0) return std::nullopt;
    const std::int64_t id = claimed.Int(0, 0);
    AddEvent(*c, "sending", id, std::nullopt, r.modem, "", r.now);
    std::optional<OutboxMessage> message = ReadMessage(*c, id);
    tx.Commit();
    return message;
  }

  void MarkWriting(std::int64_t id, const std::string& claimer, Millis now) override {
    auto c = pool_.Take();
    Result r =
        c->Exec("UPDATE outbox SET phase = 1, updated = $1 WHERE id = $2 AND state = 'sending' AND claimed_by = $3",
                {P(now), P(id), P(claimer)});
    if (r.Changed() != 1) throw StoreError("message " + std::to_string(id) + " is not being sent by this gateway");
  }

  void RecordSent(std::int64_t id, const std::string& claimer, const std::vector<int>& references,
                  Millis now) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    const std::string modem = HeldBy(*c, id, claimer);
    Finish(*c, id, "sent", nullptr, now);
    if (!references.empty())
      c->Exec("UPDATE outbox SET parts = $1 WHERE id = $2", {P(static_cast<int>(references.size())), P(id)});
    AddParts(*c, id, modem, references, now);
    AddEvent(*c, "sent", id, std::nullopt, modem, ReferencesText(references), now);
    tx.Commit();
  }

  void RecordRetry(std::int64_t id, const std::string& claimer, const SendError& error, Millis nextAttempt,
                   Millis now) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    const std::string modem = HeldBy(*c, id, claimer);
    c->Exec("UPDATE outbox SET state = 'queued', phase = 0, claimed_by = NULL, lease_until = NULL, next_attempt = $1, "
            "error_kind = $2, error_code = $3, error_text = $4, updated = $5 WHERE id = $6",
            {P(nextAttempt), P(error.kind), P(error.code), P(error.text), P(now), P(id)});
    AddEvent(*c, "retry", id, std::nullopt, modem, error.text, now);
    tx.Commit();
  }

  void RecordFailed(std::int64_t id, const std::string& claimer, const SendError& error,
                    const std::vector<int>& references, Millis now) override {
    RecordEnd(id, claimer, "failed", error, references, now);
  }

  void RecordUncertain(std::int64_t id, const std::string& claimer, const SendError& error,
                       const std::vector<int>& references, Millis now) override {
    RecordEnd(id, claimer, "uncertain", error, references, now);
  }

  std::vector<std::int64_t> ExpireDue(Millis now) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    Result due =
        c->Exec("SELECT id, modem FROM outbox WHERE state = 'queued' AND not_after IS NOT NULL AND not_after <= $1 "
                "ORDER BY id FOR UPDATE SKIP LOCKED",
                {P(now)});
    std::vector<std::int64_t> ids;
    const SendError error{"expired", std::nullopt, "not sent before its not_after time"};
    for (int i = 0; i < due.Rows(); ++i) {
      const std::int64_t id = due.Int(i, 0);
      Finish(*c, id, "expired", &error, now);
      AddEvent(*c, "expired", id, std::nullopt, due.Text(i, 1), error.text, now);
      ids.push_back(id);
    }
    tx.Commit();
    return ids;
  }

  Recovered Recover(const std::string& claimer, Millis now) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    Result left = c->Exec(
        "SELECT id, phase, sent_by FROM outbox WHERE state = 'sending' AND (claimed_by = $1 OR claimed_by IS NULL "
        "OR lease_until IS NULL OR lease_until < $2) ORDER BY id FOR UPDATE SKIP LOCKED",
        {P(claimer), P(now)});
    const Recovered out = Settle(*c, left, now, "the gateway stopped");
    tx.Commit();
    return out;
  }

  Recovered ReclaimExpired(Millis now) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    Result left =
        c->Exec("SELECT id, phase, sent_by FROM outbox WHERE state = 'sending' AND lease_until < $1 ORDER BY id "
                "FOR UPDATE SKIP LOCKED",
                {P(now)});
    const Recovered out = Settle(*c, left, now, "the gateway that held it stopped renewing its lease");
    tx.Commit();
    return out;
  }

  void RenewLeases(const std::string& claimer, Millis now, Millis lease) override {
    auto c = pool_.Take();
    c->Exec("UPDATE outbox SET lease_until = $1 WHERE state = 'sending' AND claimed_by = $2",
            {P(now + lease), P(claimer)});
  }

  std::optional<Millis> NextDue(Millis) override {
    auto c = pool_.Take();
    Result r =
        c->Exec("SELECT MIN(GREATEST(next_attempt, COALESCE(not_before, 0))) FROM outbox WHERE state = 'queued'");
    return r.OptInt(0, 0);
  }

  // ---------------------------------------------------------------- reports

  std::vector<PartCandidate> ReportCandidates(const std::string& modem, int reference) override {
    auto c = pool_.Take();
    Result r = c->Exec("SELECT p.message_id, p.number, o.recipient, p.sent_at, p.state FROM outbox_parts p "
                       "JOIN outbox o ON o.id = p.message_id WHERE p.modem = $1 AND p.reference = $2 "
                       "ORDER BY p.sent_at DESC, p.message_id DESC LIMIT 64",
                       {P(modem), P(reference)});
    std::vector<PartCandidate> out;
    for (int i = 0; i < r.Rows(); ++i)
      out.push_back({r.Int(i, 0), static_cast<int>(r.Int(i, 1)), r.Text(i, 2), r.Int(i, 3), r.Text(i, 4)});
    return out;
  }

  std::optional<MessageState> RecordReport(const StatusReport& r, const std::optional<PartCandidate>& match) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    c->Exec("INSERT INTO reports (modem, reference, recipient, submitted, discharged, status, received, message_id, "
            "part) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)",
            {P(r.modem), P(r.reference), P(r.recipient), P(r.submitted), P(r.discharged), P(r.status), P(r.received),
             match ? P(match->messageId) : Param(), match ? P(match->number) : Param()});
    if (!match) {
      AddEvent(*c, "report", std::nullopt, std::nullopt, r.modem,
               "a report for reference " + std::to_string(r.reference) + " matches no sent part", r.received);
      tx.Commit();
      return std::nullopt;
    }
    // The message's row first: two reports for its parts take turns.
    c->Exec("SELECT id FROM outbox WHERE id = $1 FOR UPDATE", {P(match->messageId)});
    c->Exec("UPDATE outbox_parts SET status = $1, state = $2, reported_at = $3 WHERE message_id = $4 AND number = $5",
            {P(r.status), P(PartStateForStatus(r.status)), P(r.received), P(match->messageId), P(match->number)});
    std::optional<OutboxMessage> message = ReadMessage(*c, match->messageId);
    if (!message) throw StoreError("message " + std::to_string(match->messageId) + " is gone");
    MessageState state = message->state;
    if (state == MessageState::Sent) {
      bool allDelivered = static_cast<int>(message->parts.size()) == message->partCount;
      bool anyFailed = false;
      for (const PartInfo& p : message->parts) {
        if (p.state != "delivered") allDelivered = false;
        if (p.state == "failed") anyFailed = true;
      }
      if (anyFailed) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", r.status & 0xFF);
        const SendError error{"delivery", r.status,
                              "part " + std::to_string(match->number) + " was not delivered (status " + code + ")"};
        Finish(*c, match->messageId, "failed", &error, r.received);
        AddEvent(*c, "failed", match->messageId, std::nullopt, r.modem, error.text, r.received);
        state = MessageState::Failed;
      } else if (allDelivered) {
        Finish(*c, match->messageId, "delivered", nullptr, r.received);
        AddEvent(*c, "delivered", match->messageId, std::nullopt, r.modem, "", r.received);
        state = MessageState::Delivered;
      }
    }
    tx.Commit();
    return state;
  }

  // ---------------------------------------------------------------- inbox

  AddResult AddMessage(const IncomingMessage& m) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    const AddResult result = InsertInbox(*c, m);
    tx.Commit();
    return result;
  }

  AddResult AddPart(const IncomingPart& p, const Assembler& assemble) override {
    const std::string pduKey = Sha256Hex(Joined({p.imei, UpperHex(p.pdu)}));
    const std::string groupKey = GroupKey(p);
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    // One modem's parts of one message go in one at a time, whichever host.
    c->Exec("SELECT pg_advisory_xact_lock(hashtext($1::text))", {P(groupKey)});
    {
      Result seen = c->Exec("SELECT inbox_id FROM inbox_parts WHERE pdu_key = $1", {P(pduKey)});
      if (seen.Rows() > 0) return {seen.IsNull(0, 0) ? 0 : seen.Int(0, 0), true};
    }
    {
      Result clash = c->Exec("SELECT 1 FROM inbox_parts WHERE group_key = $1 AND inbox_id IS NULL AND number = $2",
                             {P(groupKey), P(p.number)});
      if (clash.Rows() > 0) FinishGroup(*c, groupKey, false, p.received, assemble);
    }
    c->Exec(
        std::string("INSERT INTO inbox_parts (") + kPartColumns +
            ", pdu_key, group_key) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16)",
        {P(p.modem), P(p.imei), P(p.storage), P(p.sender), P(p.smsc), Opt(p.timestamp), P(p.timezone), P(p.reference),
         P(p.referenceBits), P(p.total), P(p.number), P(p.pdu), P(p.text), P(p.received), P(pduKey), P(groupKey)});
    AddResult result;
    Result count = c->Exec("SELECT COUNT(DISTINCT number) FROM inbox_parts WHERE group_key = $1 AND inbox_id IS NULL",
                           {P(groupKey)});
    if (count.Int(0, 0) >= p.total) result = FinishGroup(*c, groupKey, true, p.received, assemble);
    tx.Commit();
    return result;
  }

  std::vector<std::int64_t> FinishStaleParts(Millis olderThan, Millis now, const Assembler& assemble) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    Result groups =
        c->Exec("SELECT group_key FROM inbox_parts WHERE inbox_id IS NULL GROUP BY group_key HAVING MIN(received) < $1",
                {P(olderThan)});
    std::vector<std::int64_t> ids;
    for (int i = 0; i < groups.Rows(); ++i) {
      const std::string group = groups.Text(i, 0);
      c->Exec("SELECT pg_advisory_xact_lock(hashtext($1::text))", {P(group)});
      const AddResult r = FinishGroup(*c, group, false, now, assemble);
      if (r.id != 0 && !r.duplicate) ids.push_back(r.id);
    }
    tx.Commit();
    return ids;
  }

  void AddUndecoded(const std::string& modem, const std::string& imei, const std::string& storage,
                    const std::string& pdu, const std::string& reason, Millis now) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    c->Exec("INSERT INTO undecoded (modem, imei, storage, pdu, reason, received) VALUES ($1, $2, $3, $4, $5, $6)",
            {P(modem), P(imei), P(storage), P(pdu), P(reason), P(now)});
    AddEvent(*c, "undecoded", std::nullopt, std::nullopt, modem, reason, now);
    tx.Commit();
  }

  int PendingParts() override {
    auto c = pool_.Take();
    return static_cast<int>(c->Exec("SELECT COUNT(*) FROM inbox_parts WHERE inbox_id IS NULL").Int(0, 0));
  }

  // ---------------------------------------------------------------- reading

  std::vector<OutboxMessage> ListMessages(const MessageFilter& f) override {
    auto c = pool_.Take();
    Result r = c->Exec(std::string("SELECT ") + kMessageColumns +
                           " FROM outbox WHERE ($1::text IS NULL OR state = $1::text) AND ($2::bigint IS NULL OR id = "
                           "$2::bigint) AND id > $3 ORDER BY id LIMIT $4",
                       {f.state ? P(std::string(StateName(*f.state))) : Param(), P(f.id), P(f.after), P(f.limit)});
    std::vector<OutboxMessage> out;
    for (int i = 0; i < r.Rows(); ++i) out.push_back(MessageFromRow(r, i));
    ReadParts(*c, out);
    return out;
  }

  std::optional<OutboxMessage> GetMessage(std::int64_t id) override {
    auto c = pool_.Take();
    return ReadMessage(*c, id);
  }

  std::vector<InboxEntry> ListInbox(std::int64_t after, int limit) override {
    auto c = pool_.Take();
    Result r = c->Exec(std::string("SELECT ") + kInboxColumns + " FROM inbox WHERE id > $1 ORDER BY id LIMIT $2",
                       {P(after), P(limit)});
    std::vector<InboxEntry> out;
    for (int i = 0; i < r.Rows(); ++i) out.push_back(InboxFromRow(r, i));
    return out;
  }

  std::optional<InboxEntry> GetInbox(std::int64_t id) override {
    auto c = pool_.Take();
    Result r = c->Exec(std::string("SELECT ") + kInboxColumns + " FROM inbox WHERE id = $1", {P(id)});
    if (r.Rows() == 0) return std::nullopt;
    return InboxFromRow(r, 0);
  }

  std::map<std::string, int> CountByState() override {
    auto c = pool_.Take();
    Result r = c->Exec("SELECT state, COUNT(*) FROM outbox GROUP BY state");
    std::map<std::string, int> out;
    for (int i = 0; i < r.Rows(); ++i) out[r.Text(i, 0)] = static_cast<int>(r.Int(i, 1));
    return out;
  }

  std::map<std::string, int> QueuedByModem() override {
    auto c = pool_.Take();
    Result r =
        c->Exec("SELECT modem, COUNT(*) FROM outbox WHERE state = 'queued' AND modem IS NOT NULL GROUP BY modem");
    std::map<std::string, int> out;
    for (int i = 0; i < r.Rows(); ++i) out[r.Text(i, 0)] = static_cast<int>(r.Int(i, 1));
    return out;
  }

  std::vector<EventCount> CountEvents(const std::set<std::string>& kinds, Millis since, Millis bucket) override {
    if (kinds.empty() || bucket <= 0) return {};
    auto c = pool_.Take();
    std::vector<Param> params = {P(since), P(bucket)};
    for (const std::string& k : kinds) params.push_back(P(k));
    Result r = c->Exec(
        "SELECT kind, COALESCE(modem, ''), (at - $1::bigint) / $2::bigint, COUNT(*) FROM events WHERE at >= $1 AND "
        "kind IN (" +
            Placeholders(3, kinds.size()) + ") GROUP BY 1, 2, 3 ORDER BY 3, 1, 2",
        params);
    std::vector<EventCount> out;
    for (int i = 0; i < r.Rows(); ++i)
      out.push_back({r.Text(i, 0), r.Text(i, 1), static_cast<int>(r.Int(i, 2)), static_cast<int>(r.Int(i, 3))});
    return out;
  }

  std::vector<Event> ListEvents(std::int64_t after, int limit) override {
    auto c = pool_.Take();
    Result r = c->Exec(std::string("SELECT ") + kEventColumns + " FROM events WHERE id > $1 ORDER BY id LIMIT $2",
                       {P(after), P(limit)});
    std::vector<Event> out;
    for (int i = 0; i < r.Rows(); ++i) out.push_back(EventFromRow(r, i));
    return out;
  }

  std::vector<Event> RecentEvents(const std::set<std::string>& kinds, int limit) override {
    if (kinds.empty()) return {};
    auto c = pool_.Take();
    std::vector<Param> params = {P(limit)};
    for (const std::string& k : kinds) params.push_back(P(k));
    Result r = c->Exec(std::string("SELECT ") + kEventColumns + " FROM events WHERE kind IN (" +
                           Placeholders(2, kinds.size()) + ") ORDER BY id DESC LIMIT $1",
                       params);
    std::vector<Event> out;
    for (int i = 0; i < r.Rows(); ++i) out.push_back(EventFromRow(r, i));
    return out;
  }

  int UndecodedCount() override {
    auto c = pool_.Take();
    return static_cast<int>(c->Exec("SELECT COUNT(*) FROM undecoded").Int(0, 0));
  }

  // ---------------------------------------------------------------- status

  void UpdateModem(const ModemStatus& m) override {
    auto c = pool_.Take();
    c->Exec(
        "INSERT INTO modems (name, gateway, port, imei, connected, signal, last_error, last_error_at, updated, sim, "
        "registration, operator) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) ON CONFLICT (name) DO "
        "UPDATE SET gateway = $2, port = $3, imei = $4, connected = $5, signal = $6, last_error = $7, "
        "last_error_at = $8, updated = $9, sim = $10, registration = $11, operator = $12",
        {P(m.name), P(m.gateway), P(m.port), P(m.imei), P(m.connected), P(m.signal), Opt(m.lastError), P(m.lastErrorAt),
         P(m.updated), P(m.sim), P(m.registration), P(m.operatorName)});
  }

  std::vector<ModemStatus> ListModems() override {
    auto c = pool_.Take();
    Result r = c->Exec(
        "SELECT name, gateway, port, imei, connected, signal, last_error, last_error_at, updated, sim, registration, "
        "operator FROM modems ORDER BY name");
    std::vector<ModemStatus> out;
    for (int i = 0; i < r.Rows(); ++i) {
      ModemStatus m;
      m.name = r.Text(i, 0);
      m.gateway = r.Text(i, 1);
      m.port = r.Text(i, 2);
      m.imei = r.Text(i, 3);
      m.connected = r.Int(i, 4) != 0;
      if (!r.IsNull(i, 5)) m.signal = static_cast<int>(r.Int(i, 5));
      m.lastError = r.Text(i, 6);
      m.lastErrorAt = r.OptInt(i, 7);
      m.updated = r.Int(i, 8);
      m.sim = r.Text(i, 9);
      m.registration = r.Text(i, 10);
      m.operatorName = r.Text(i, 11);
      out.push_back(std::move(m));
    }
    return out;
  }

  void UpdateGateway(const GatewayStatus& g) override {
    auto c = pool_.Take();
    c->Exec("INSERT INTO gateways (name, pid, started, heartbeat, stopped) VALUES ($1, $2, $3, $4, $5) "
            "ON CONFLICT (name) DO UPDATE SET pid = $2, started = $3, heartbeat = $4, stopped = $5",
            {P(g.name), P(g.pid), P(g.started), P(g.heartbeat), P(g.stopped)});
  }

  std::vector<GatewayStatus> ListGateways() override {
    auto c = pool_.Take();
    Result r = c->Exec("SELECT name, pid, started, heartbeat, stopped FROM gateways ORDER BY name");
    std::vector<GatewayStatus> out;
    for (int i = 0; i < r.Rows(); ++i)
      out.push_back({r.Text(i, 0), static_cast<int>(r.Int(i, 1)), r.Int(i, 2), r.Int(i, 3), r.OptInt(i, 4)});
    return out;
  }

  void Log(const std::string& kind, const std::string& modem, const std::string& detail, Millis now) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    AddEvent(*c, kind, std::nullopt, std::nullopt, modem, detail, now);
    tx.Commit();
  }

  // ---------------------------------------------------------------- hooks

  void SetHookedEvents(const std::set<std::string>& kinds) override {
    std::lock_guard<std::mutex> lock(mutex_);
    hooked_ = kinds;
  }

  std::optional<HookJob> NextHookJob(Millis now) override {
    auto c = pool_.Take();
    Result r = c->Exec(std::string("SELECT ") + kEventColumns +
                           ", hook_attempts FROM events WHERE hook_state = 'pending' AND hook_next <= $1 AND "
                           "(owner IS NOT DISTINCT FROM $2::text OR owner IS NULL) ORDER BY hook_next, id LIMIT 1",
                       {P(now), Opt(owner_)});
    if (r.Rows() == 0) return std::nullopt;
    return HookJob{EventFromRow(r, 0), static_cast<int>(r.Int(0, 7))};
  }

  std::optional<Millis> NextHookDue() override {
    auto c = pool_.Take();
    Result r = c->Exec(
        "SELECT MIN(hook_next) FROM events WHERE hook_state = 'pending' AND (owner IS NOT DISTINCT FROM $1::text OR "
        "owner IS NULL)",
        {Opt(owner_)});
    return r.OptInt(0, 0);
  }

  void HookFinished(std::int64_t eventId, bool ok, const std::string& error, std::optional<Millis> retryAt,
                    Millis) override {
    auto c = pool_.Take();
    const char* state = ok ? "done" : (retryAt ? "pending" : "failed");
    c->Exec("UPDATE events SET hook_state = $1, hook_attempts = hook_attempts + 1, hook_next = $2, hook_error = $3 "
            "WHERE id = $4",
            {P(state), P(retryAt), ok ? Param() : P(error), P(eventId)});
  }

  // ---------------------------------------------------------------- webhooks

  void SetWebhooks(const std::vector<WebhookTarget>& webhooks) override {
    std::lock_guard<std::mutex> lock(mutex_);
    webhooks_ = webhooks;
  }

  std::optional<Delivery> ClaimDelivery(const std::vector<std::string>& urls, const std::string& claimer, Millis now,
                                        Millis lease) override {
    if (urls.empty()) return std::nullopt;
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    std::vector<Param> params = {P(now), P(claimer), P(now + lease)};
    for (const std::string& u : urls) params.push_back(P(u));
    Result r = c->Exec(
        "UPDATE deliveries SET claimed_by = $2, lease_until = $3 WHERE id = (SELECT id FROM deliveries WHERE "
        "state = 'pending' AND next_attempt <= $1 AND (lease_until IS NULL OR lease_until < $1 OR claimed_by = $2) "
        "AND url IN (" +
            Placeholders(4, urls.size()) + ") ORDER BY next_attempt, id LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING id",
        params);
    if (r.Rows() == 0) return std::nullopt;
    std::optional<Delivery> d = ReadDelivery(*c, r.Int(0, 0));
    tx.Commit();
    return d;
  }

  std::string FixDeliveryBody(std::int64_t id, const std::string& body) override {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    c->Exec("UPDATE deliveries SET body = $1 WHERE id = $2 AND body IS NULL", {P(body), P(id)});
    Result r = c->Exec("SELECT body FROM deliveries WHERE id = $1", {P(id)});
    std::string held = r.Rows() > 0 ? r.Text(0, 0) : body;
    tx.Commit();
    return held;
  }

  void DeliveryFinished(std::int64_t id, const std::string& claimer, bool ok, int status, const std::string& error,
                        std::optional<Millis> retryAt, Millis now) override {
    auto c = pool_.Take();
    const char* state = ok ? "done" : (retryAt ? "pending" : "failed");
    c->Exec(
        "UPDATE deliveries SET state = $1, attempts = attempts + 1, next_attempt = COALESCE($2::bigint, "
        "next_attempt), last_status = $3, last_error = $4, claimed_by = NULL, lease_until = NULL, updated = $5 "
        "WHERE id = $6 AND (claimed_by = $7 OR claimed_by IS NULL)",
        {P(state), P(retryAt), status > 0 ? P(status) : Param(), ok ? Param() : P(error), P(now), P(id), P(claimer)});
  }

  std::optional<Millis> NextDeliveryDue(const std::vector<std::string>& urls) override {
    if (urls.empty()) return std::nullopt;
    auto c = pool_.Take();
    std::vector<Param> params;
    for (const std::string& u : urls) params.push_back(P(u));
    Result r = c->Exec("SELECT MIN(next_attempt) FROM deliveries WHERE state = 'pending' AND url IN (" +
                           Placeholders(1, urls.size()) + ")",
                       params);
    return r.OptInt(0, 0);
  }

  DeliveryStats CountDeliveries() override {
    auto c = pool_.Take();
    Result r = c->Exec("SELECT state, COUNT(*) FROM deliveries GROUP BY state");
    DeliveryStats out;
    for (int i = 0; i < r.Rows(); ++i) {
      const std::string state = r.Text(i, 0);
      const int n = static_cast<int>(r.Int(i, 1));
      if (state == "pending") out.pending = n;
      if (state == "done") out.done = n;
      if (state == "failed") out.failed = n;
    }
    return out;
  }

  std::vector<Delivery> ListDeliveries(std::int64_t after, int limit) override {
    auto c = pool_.Take();
    Result r = c->Exec("SELECT id FROM deliveries WHERE id > $1 ORDER BY id LIMIT $2", {P(after), P(limit)});
    std::vector<Delivery> out;
    for (int i = 0; i < r.Rows(); ++i)
      if (std::optional<Delivery> d = ReadDelivery(*c, r.Int(i, 0))) out.push_back(std::move(*d));
    return out;
  }

 private:
  void Migrate(pg::Connection& c, int target) {
    pg::Transaction tx(c);
    c.Exec("SELECT pg_advisory_xact_lock($1)", {P(kSchemaLock)});
    int version = 0;
    Result meta = c.Exec("SELECT to_regclass('meta') IS NOT NULL");
    if (meta.Text(0, 0) == "t") {
      Result app = c.Exec("SELECT value FROM meta WHERE key = 'application'");
      if (app.Rows() == 0 || app.Text(0, 0) != kApplication)
        throw StoreError("the database holds another application's tables (its meta table is not ours); it was left "
                         "as it is");
      Result v = c.Exec("SELECT value FROM meta WHERE key = 'schema'");
      version = v.Rows() > 0 ? std::atoi(v.Text(0, 0).c_str()) : 0;
    } else {
      Result tables = c.Exec(
          "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = current_schema() AND table_type = "
          "'BASE TABLE'");
      if (tables.Int(0, 0) > 0)
        throw StoreError("the database holds another application's tables; it was left as it is");
    }
    if (version > kSchemaVersion)
      throw StoreError("the database was made by a newer version of the gateway (schema " + std::to_string(version) +
                       "; this one knows up to " + std::to_string(kSchemaVersion) + "); it was left as it is");
    if (version >= target) return;  // rolled back: nothing to do
    for (; version < target; ++version) c.Run(kMigrations[version]);
    c.Exec("INSERT INTO meta (key, value) VALUES ('application', $1) ON CONFLICT (key) DO NOTHING", {P(kApplication)});
    c.Exec("INSERT INTO meta (key, value) VALUES ('schema', $1) ON CONFLICT (key) DO UPDATE SET value = $1",
           {P(std::to_string(version))});
    tx.Commit();
  }

  void AddEvent(pg::Connection& c, const std::string& kind, std::optional<std::int64_t> message,
                std::optional<std::int64_t> inbox, const std::string& modem, const std::string& detail, Millis now) {
    std::vector<WebhookTarget> webhooks;
    bool hooked;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hooked = hooked_.count(kind) > 0;
      webhooks = webhooks_;
    }
    Result r =
        c.Exec("INSERT INTO events (at, kind, message_id, inbox_id, modem, detail, hook_state, hook_next, owner) "
               "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9) RETURNING id",
               {P(now), P(kind), P(message), P(inbox), Opt(modem), P(detail), P(hooked ? "pending" : "none"),
                hooked ? P(now) : Param(), Opt(owner_)});
    if (webhooks.empty()) return;
    const std::string type = WebhookType(kind);
    if (type.empty()) return;
    const std::int64_t event = r.Int(0, 0);
    for (const WebhookTarget& w : webhooks) {
      if (w.events.count(type) == 0) continue;
      c.Exec("INSERT INTO deliveries (key, url, type, event_id, state, attempts, next_attempt, created, updated) "
             "VALUES ($1, $2, $3, $4, 'pending', 0, $5, $5, $5)",
             {P(keys_.Next()), P(w.url), P(type), P(event), P(now)});
    }
  }

  std::int64_t InsertMessage(pg::Connection& c, const NewMessage& m, Millis now) {
    Result r =
        c.Exec("INSERT INTO outbox (recipient, text, encoding, flash, priority, not_before, not_after, modem, parts, "
               "state, attempts, next_attempt, phase, created, updated, report) "
               "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, 'queued', 0, $10, 0, $10, $10, $11) RETURNING id",
               {P(m.to), P(m.text), P(m.encoding), P(m.flash), P(m.priority), P(m.notBefore), P(m.notAfter),
                Opt(m.modem), P(m.parts), P(now), P(m.report)});
    const std::int64_t id = r.Int(0, 0);
    AddEvent(c, "queued", id, std::nullopt, m.modem, "to " + m.to, now);
    return id;
  }

  Recovered Settle(pg::Connection& c, const Result& left, Millis now, const std::string& why) {
    Recovered out;
    for (int i = 0; i < left.Rows(); ++i) {
      const std::int64_t id = left.Int(i, 0);
      const std::string modem = left.Text(i, 2);
      if (left.Int(i, 1) == 0) {
        c.Exec("UPDATE outbox SET state = 'queued', phase = 0, claimed_by = NULL, lease_until = NULL, "
               "attempts = GREATEST(attempts - 1, 0), updated = $1 WHERE id = $2",
               {P(now), P(id)});
        AddEvent(c, "requeued", id, std::nullopt, modem, why + " before the modem was asked to send it", now);
        out.requeued.push_back(id);
      } else {
        const SendError error{"restart", std::nullopt, why + " while the modem was sending it: it may have been sent"};
        Finish(c, id, "uncertain", &error, now);
        AddEvent(c, "uncertain", id, std::nullopt, modem, error.text, now);
        out.uncertain.push_back(id);
      }
    }
    return out;
  }

  void RecordEnd(std::int64_t id, const std::string& claimer, const char* state, const SendError& error,
                 const std::vector<int>& references, Millis now) {
    auto c = pool_.Take();
    pg::Transaction tx(*c);
    const std::string modem = HeldBy(*c, id, claimer);
    Finish(*c, id, state, &error, now);
    AddParts(*c, id, modem, references, now);
    AddEvent(*c, state, id, std::nullopt, modem, error.text, now);
    tx.Commit();
  }

  // The modem of a message this claimer holds in `sending`, its row locked
  // until the transaction ends; throws otherwise.
  static std::string HeldBy(pg::Connection& c, std::int64_t id, const std::string& claimer) {
    Result r = c.Exec("SELECT sent_by FROM outbox WHERE id = $1 AND state = 'sending' AND claimed_by = $2 FOR UPDATE",
                      {P(id), P(claimer)});
    if (r.Rows() == 0) throw StoreError("message " + std::to_string(id) + " is not being sent by this gateway");
    return r.Text(0, 0);
  }

  static void Finish(pg::Connection& c, std::int64_t id, const char* state, const SendError* error, Millis now) {
    c.Exec("UPDATE outbox SET state = $1, phase = 0, claimed_by = NULL, lease_until = NULL, error_kind = $2, "
           "error_code = $3, error_text = $4, updated = $5 WHERE id = $6",
           {P(state), error ? P(error->kind) : Param(), error ? P(error->code) : Param(),
            error ? P(error->text) : Param(), P(now), P(id)});
  }

  static void AddParts(pg::Connection& c, std::int64_t id, const std::string& modem, const std::vector<int>& references,
                       Millis now) {
    for (std::size_t i = 0; i < references.size(); ++i)
      c.Exec("INSERT INTO outbox_parts (message_id, number, reference, modem, sent_at, state) VALUES ($1, $2, $3, $4, "
             "$5, 'sent') ON CONFLICT (message_id, number) DO UPDATE SET reference = $3, modem = $4, sent_at = $5, "
             "state = 'sent', status = NULL, reported_at = NULL",
             {P(id), P(static_cast<int>(i + 1)), P(references[i]), P(modem), P(now)});
  }

  static std::string ReferencesText(const std::vector<int>& references) {
    std::string text = "reference";
    if (references.size() > 1) text += "s";
    for (std::size_t i = 0; i < references.size(); ++i) text += (i ? "," : " ") + std::to_string(references[i]);
    return text;
  }

  static OutboxMessage MessageFromRow(const Result& r, int i) {
    OutboxMessage m;
    m.id = r.Int(i, 0);
    m.to = r.Text(i, 1);
    m.text = r.Text(i, 2);
    m.encoding = r.Text(i, 3);
    m.flash = r.Int(i, 4) != 0;
    m.report = r.Int(i, 5) != 0;
    m.priority = static_cast<int>(r.Int(i, 6));
    m.notBefore = r.OptInt(i, 7);
    m.notAfter = r.OptInt(i, 8);
    m.modem = r.Text(i, 9);
    m.sentBy = r.Text(i, 10);
    m.state = StateFromName(r.Text(i, 11)).value_or(MessageState::Queued);
    m.attempts = static_cast<int>(r.Int(i, 12));
    m.phase = static_cast<int>(r.Int(i, 13));
    m.nextAttempt = r.Int(i, 14);
    m.partCount = static_cast<int>(r.Int(i, 15));
    if (!r.IsNull(i, 16)) {
      SendError e;
      e.kind = r.Text(i, 16);
      if (!r.IsNull(i, 17)) e.code = static_cast<int>(r.Int(i, 17));
      e.text = r.Text(i, 18);
      m.error = e;
    }
    m.created = r.Int(i, 19);
    m.updated = r.Int(i, 20);
    return m;
  }

  // The parts of these messages, in one query.
  static void ReadParts(pg::Connection& c, std::vector<OutboxMessage>& messages) {
    if (messages.empty()) return;
    std::map<std::int64_t, OutboxMessage*> byId;
    for (OutboxMessage& m : messages) byId[m.id] = &m;
    std::string ids = "{";
    for (const auto& [id, m] : byId) ids += (ids.size() > 1 ? "," : "") + std::to_string(id);
    ids += "}";
    Result r = c.Exec(
        "SELECT message_id, number, reference, modem, sent_at, state, status FROM outbox_parts WHERE message_id = "
        "ANY($1::bigint[]) ORDER BY message_id, number",
        {P(ids)});
    for (int i = 0; i < r.Rows(); ++i) {
      auto it = byId.find(r.Int(i, 0));
      if (it == byId.end()) continue;
      PartInfo p;
      p.number = static_cast<int>(r.Int(i, 1));
      p.reference = static_cast<int>(r.Int(i, 2));
      p.modem = r.Text(i, 3);
      p.sentAt = r.Int(i, 4);
      p.state = r.Text(i, 5);
      if (!r.IsNull(i, 6)) p.status = static_cast<int>(r.Int(i, 6));
      it->second->parts.push_back(std::move(p));
    }
  }

  static std::optional<OutboxMessage> ReadMessage(pg::Connection& c, std::int64_t id) {
    Result r = c.Exec(std::string("SELECT ") + kMessageColumns + " FROM outbox WHERE id = $1", {P(id)});
    if (r.Rows() == 0) return std::nullopt;
    std::vector<OutboxMessage> one = {MessageFromRow(r, 0)};
    ReadParts(c, one);
    return std::move(one.front());
  }

  static InboxEntry InboxFromRow(const Result& r, int i) {
    InboxEntry e;
    e.id = r.Int(i, 0);
    e.modem = r.Text(i, 1);
    e.imei = r.Text(i, 2);
    e.sender = r.Text(i, 3);
    e.smsc = r.Text(i, 4);
    e.text = r.Text(i, 5);
    e.timestamp = r.Text(i, 6);
    e.timezone = static_cast<int>(r.Int(i, 7));
    e.reference = static_cast<int>(r.Int(i, 8));
    e.parts = static_cast<int>(r.Int(i, 9));
    e.incomplete = r.Int(i, 10) != 0;
    e.received = r.Int(i, 11);
    return e;
  }

  static Event EventFromRow(const Result& r, int i) {
    Event e;
    e.id = r.Int(i, 0);
    e.at = r.Int(i, 1);
    e.kind = r.Text(i, 2);
    e.messageId = r.OptInt(i, 3);
    e.inboxId = r.OptInt(i, 4);
    e.modem = r.Text(i, 5);
    e.detail = r.Text(i, 6);
    return e;
  }

  static std::optional<Delivery> ReadDelivery(pg::Connection& c, std::int64_t id) {
    Result r = c.Exec(
        "SELECT d.id, d.key, d.url, d.type, d.event_id, e.at, e.message_id, e.inbox_id, e.modem, e.detail, d.body, "
        "d.attempts, d.created FROM deliveries d JOIN events e ON e.id = d.event_id WHERE d.id = $1",
        {P(id)});
    if (r.Rows() == 0) return std::nullopt;
    Delivery d;
    d.id = r.Int(0, 0);
    d.key = r.Text(0, 1);
    d.url = r.Text(0, 2);
    d.type = r.Text(0, 3);
    d.eventId = r.Int(0, 4);
    d.eventAt = r.Int(0, 5);
    d.messageId = r.OptInt(0, 6);
    d.inboxId = r.OptInt(0, 7);
    d.modem = r.Text(0, 8);
    d.detail = r.Text(0, 9);
    d.body = r.Text(0, 10);
    d.attempts = static_cast<int>(r.Int(0, 11));
    d.created = r.Int(0, 12);
    return d;
  }

  static std::string GroupKey(const IncomingPart& p) {
    return Sha256Hex(Joined(
        {p.imei, p.sender, std::to_string(p.reference), std::to_string(p.referenceBits), std::to_string(p.total)}));
  }

  AddResult InsertInbox(pg::Connection& c, const IncomingMessage& m) {
    const std::string key = Sha256Hex(
        Joined({m.imei, m.sender, m.timestamp, std::to_string(m.timezone), std::to_string(m.reference), m.text}));
    Result r =
        c.Exec("INSERT INTO inbox (modem, imei, sender, smsc, text, timestamp, timezone, reference, parts, incomplete, "
               "received, dedup_key) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) "
               "ON CONFLICT (dedup_key) DO NOTHING RETURNING id",
               {P(m.modem), P(m.imei), P(m.sender), P(m.smsc), P(m.text), Opt(m.timestamp), P(m.timezone),
                P(m.reference), P(m.parts), P(m.incomplete), P(m.received), P(key)});
    if (r.Rows() == 0) {
      Result seen = c.Exec("SELECT id FROM inbox WHERE dedup_key = $1", {P(key)});
      return {seen.Rows() > 0 ? seen.Int(0, 0) : 0, true};
    }
    const std::int64_t id = r.Int(0, 0);
    AddEvent(c, "received", std::nullopt, id, m.modem, "from " + m.sender, m.received);
    return {id, false};
  }

  AddResult FinishGroup(pg::Connection& c, const std::string& group, bool complete, Millis now,
                        const Assembler& assemble) {
    Result r = c.Exec(std::string("SELECT ") + kPartColumns +
                          " FROM inbox_parts WHERE group_key = $1 AND inbox_id IS NULL ORDER BY number, id",
                      {P(group)});
    std::vector<IncomingPart> parts;
    for (int i = 0; i < r.Rows(); ++i) {
      IncomingPart p;
      p.modem = r.Text(i, 0);
      p.imei = r.Text(i, 1);
      p.storage = r.Text(i, 2);
      p.sender = r.Text(i, 3);
      p.smsc = r.Text(i, 4);
      p.timestamp = r.Text(i, 5);
      p.timezone = static_cast<int>(r.Int(i, 6));
      p.reference = static_cast<int>(r.Int(i, 7));
      p.referenceBits = static_cast<int>(r.Int(i, 8));
      p.total = static_cast<int>(r.Int(i, 9));
      p.number = static_cast<int>(r.Int(i, 10));
      p.pdu = r.Text(i, 11);
      p.text = r.Text(i, 12);
      p.received = r.Int(i, 13);
      if (!parts.empty() && parts.back().number == p.number) continue;
      parts.push_back(std::move(p));
    }
    if (parts.empty()) return {};
    const IncomingPart& first = parts.front();
    IncomingMessage m;
    m.modem = parts.back().modem;
    m.imei = first.imei;
    m.sender = first.sender;
    m.smsc = first.smsc;
    m.timestamp = first.timestamp;
    m.timezone = first.timezone;
    m.reference = first.reference;
    m.parts = first.total;
    m.incomplete = !complete;
    m.received = now;
    m.text = assemble(parts, complete);
    const AddResult result = InsertInbox(c, m);
    c.Exec("UPDATE inbox_parts SET inbox_id = $1 WHERE group_key = $2 AND inbox_id IS NULL", {P(result.id), P(group)});
    return result;
  }

  pg::Pool pool_;
  std::string owner_;
  std::mutex mutex_;  // hooked_ and webhooks_
  std::set<std::string> hooked_;
  std::vector<WebhookTarget> webhooks_;
  DeliveryKeys keys_;
};

}  // namespace

std::unique_ptr<Store> OpenPostgresStore(const std::string& url, const StoreOptions& options, int connections) {
  return std::make_unique<PostgresStore>(url, options, connections);
}

}  // namespace vesk::gateway
