// The store in one SQLite file, in WAL mode: the gateway and the command
// line (`veskgsm queue`, `messages` ...) use it at the same time, each
// transaction takes the write lock at its start (BEGIN IMMEDIATE), and a
// busy lock is waited for up to 10 seconds.
//
// The file is marked as ours by its application id (the header's word at
// offset 68) and a `meta` table holding the schema version. A file that is
// not an SQLite database, or is another application's, is refused before
// anything is written to it; a newer schema than this build knows is
// refused too.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "tools/gateway/Sha256.h"
#include "tools/gateway/Sqlite.h"
#include "tools/gateway/Store.h"
#include "tools/gateway/StoreCommon.h"

namespace vesk::gateway {

namespace {

using sql::Database;
using sql::Statement;
using sql::Transaction;

constexpr std::uint32_t kApplicationId = 0x56534B47;  // "VSKG"

// The schema, one step per version. A store made by an earlier version is
// brought up to date at start, one step at a time, in one transaction.
const char* const kMigrations[] = {
    // 1: the outbox, its parts, the inbox, the event log, the status rows.
    R"(
CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE outbox (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  recipient TEXT NOT NULL,
  text TEXT NOT NULL,
  encoding TEXT NOT NULL,
  flash INTEGER NOT NULL,
  priority INTEGER NOT NULL,
  not_before INTEGER,
  not_after INTEGER,
  modem TEXT,
  parts INTEGER NOT NULL,
  state TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  next_attempt INTEGER NOT NULL,
  sent_by TEXT,
  phase INTEGER NOT NULL DEFAULT 0,
  error_kind TEXT,
  error_code INTEGER,
  error_text TEXT,
  created INTEGER NOT NULL,
  updated INTEGER NOT NULL);
CREATE INDEX outbox_queue ON outbox (state, priority DESC, id);
CREATE TABLE outbox_parts (
  message_id INTEGER NOT NULL REFERENCES outbox (id),
  number INTEGER NOT NULL,
  reference INTEGER NOT NULL,
  modem TEXT NOT NULL,
  sent_at INTEGER NOT NULL,
  state TEXT NOT NULL,
  PRIMARY KEY (message_id, number));
CREATE TABLE inbox (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
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
  received INTEGER NOT NULL,
  dedup_key TEXT NOT NULL UNIQUE);
CREATE TABLE events (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  at INTEGER NOT NULL,
  kind TEXT NOT NULL,
  message_id INTEGER,
  inbox_id INTEGER,
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
  last_error_at INTEGER,
  updated INTEGER NOT NULL);
CREATE TABLE gateways (
  name TEXT PRIMARY KEY,
  pid INTEGER,
  started INTEGER,
  heartbeat INTEGER,
  stopped INTEGER);
)",
    // 2: parts of long messages wait in the store, not only in memory; a
    // stored message that does not decode is kept as it came.
    R"(
CREATE TABLE inbox_parts (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
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
  received INTEGER NOT NULL,
  pdu_key TEXT NOT NULL UNIQUE,
  group_key TEXT NOT NULL,
  inbox_id INTEGER REFERENCES inbox (id));
CREATE INDEX inbox_parts_open ON inbox_parts (group_key) WHERE inbox_id IS NULL;
CREATE TABLE undecoded (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  modem TEXT NOT NULL,
  imei TEXT NOT NULL,
  storage TEXT NOT NULL,
  pdu TEXT NOT NULL,
  reason TEXT NOT NULL,
  received INTEGER NOT NULL);
)",
    // 3: delivery reports and their pairing to parts; hooks run from the
    // event log; claims carry a lease, so that several gateways can share
    // one queue.
    R"(
ALTER TABLE outbox ADD COLUMN report INTEGER NOT NULL DEFAULT 0;
ALTER TABLE outbox ADD COLUMN claimed_by TEXT;
ALTER TABLE outbox ADD COLUMN lease_until INTEGER;
ALTER TABLE outbox_parts ADD COLUMN status INTEGER;
ALTER TABLE outbox_parts ADD COLUMN reported_at INTEGER;
CREATE INDEX outbox_parts_reference ON outbox_parts (modem, reference, sent_at);
CREATE TABLE reports (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  modem TEXT NOT NULL,
  reference INTEGER NOT NULL,
  recipient TEXT NOT NULL,
  submitted INTEGER NOT NULL,
  discharged INTEGER NOT NULL,
  status INTEGER NOT NULL,
  received INTEGER NOT NULL,
  message_id INTEGER,
  part INTEGER);
ALTER TABLE events ADD COLUMN hook_state TEXT NOT NULL DEFAULT 'none';
ALTER TABLE events ADD COLUMN hook_attempts INTEGER NOT NULL DEFAULT 0;
ALTER TABLE events ADD COLUMN hook_next INTEGER;
ALTER TABLE events ADD COLUMN hook_error TEXT;
CREATE INDEX events_hooks ON events (hook_next) WHERE hook_state = 'pending';
)",
    // 4: the HTTP API's idempotency keys, webhook deliveries kept until
    // they succeed, the modems' SIM, registration and operator, and which
    // gateway wrote an event (several may share one store).
    R"(
CREATE TABLE idempotency (
  key TEXT PRIMARY KEY,
  fingerprint TEXT NOT NULL,
  message_id INTEGER NOT NULL,
  created INTEGER NOT NULL);
CREATE TABLE deliveries (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  key TEXT NOT NULL,
  url TEXT NOT NULL,
  type TEXT NOT NULL,
  event_id INTEGER NOT NULL,
  body TEXT,
  state TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  next_attempt INTEGER NOT NULL,
  claimed_by TEXT,
  lease_until INTEGER,
  last_status INTEGER,
  last_error TEXT,
  created INTEGER NOT NULL,
  updated INTEGER NOT NULL);
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

// What a status (TS 23.040 9.2.3.15 TP-ST) makes of a part.
std::string PartStateForStatus(int status) {
  if (status >= 0x00 && status <= 0x1F) return "delivered";
  if (status >= 0x20 && status <= 0x3F) return "pending";
  return "failed";
}

// The file's first bytes: whose is it?
enum class FileKind { Missing, Empty, Ours, UnmarkedSqlite, NotSqlite, Foreign };

FileKind InspectFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return FileKind::Missing;
  if (std::filesystem::is_directory(path, ec)) return FileKind::NotSqlite;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw StoreError("cannot read " + path);
  char header[100] = {};
  in.read(header, sizeof header);
  const std::streamsize got = in.gcount();
  if (got == 0) return FileKind::Empty;
  if (got < 100 || std::memcmp(header, "SQLite format 3", 16) != 0) return FileKind::NotSqlite;
  const auto* h = reinterpret_cast<const unsigned char*>(header);
  const std::uint32_t application =
      (std::uint32_t{h[68]} << 24) | (std::uint32_t{h[69]} << 16) | (std::uint32_t{h[70]} << 8) | std::uint32_t{h[71]};
  if (application == kApplicationId) return FileKind::Ours;
  if (application == 0) return FileKind::UnmarkedSqlite;
  return FileKind::Foreign;
}

// Whether an SQLite file without our mark holds any table, read without
// touching the file (and without its journal).
bool HasTables(const std::string& path) {
  const std::string uri = "file:" + path + "?immutable=1";
  Database db(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
  Statement& s = db.Prepare("SELECT COUNT(*) FROM sqlite_master");
  const bool any = s.Step() && s.Int(0) > 0;
  s.Reset();
  return any;
}

class SqliteStore final : public Store {
 public:
  explicit SqliteStore(const StoreOptions& options) : path_(options.path), owner_(options.owner) {
    const FileKind kind = InspectFile(path_);
    switch (kind) {
      case FileKind::Missing:
        if (!options.create) throw StoreError("there is no store at " + path_);
        break;
      case FileKind::Empty:
      case FileKind::Ours: break;
      case FileKind::NotSqlite:
        throw StoreError(path_ + " is not an SQLite database (or its header is damaged); it was left as it is");
      case FileKind::Foreign:
        throw StoreError(path_ + " is another application's SQLite database; it was left as it is");
      case FileKind::UnmarkedSqlite:
        if (HasTables(path_))
          throw StoreError(path_ + " is an SQLite database with another application's tables; it was left as it is");
        break;
    }
    db_ = std::make_unique<Database>(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX);
    sqlite3_busy_timeout(db_->Handle(), 10000);
    if (kind == FileKind::Ours) {
      int version = 0;
      try {
        if (options.check) Check();
        version = StoredVersion();
      } catch (const StoreError& e) {
        throw StoreError(path_ + " is damaged (" + e.what() + "); it was left as it is");
      }
      if (version > kSchemaVersion)
        throw StoreError(path_ + " was made by a newer version of the gateway (schema " + std::to_string(version) +
                         "; this one knows up to " + std::to_string(kSchemaVersion) + "); it was left as it is");
    }
    db_->Exec("PRAGMA journal_mode=WAL");
    db_->Exec(options.synchronous == "full" ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
    db_->Exec("PRAGMA foreign_keys=ON");
    Migrate(options.schemaVersion > 0 ? std::min(options.schemaVersion, kSchemaVersion) : kSchemaVersion);
  }

  // ---------------------------------------------------------------- outbox

  std::int64_t Queue(const NewMessage& m, Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    const std::int64_t id = InsertMessage(m, now);
    tx.Commit();
    return id;
  }

  QueueOnceResult QueueOnce(const NewMessage& m, const std::string& key, const std::string& fingerprint,
                            Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    QueueOnceResult out;
    {
      Statement& s = db_->Prepare("SELECT message_id, fingerprint FROM idempotency WHERE key = ?1");
      s.Bind(1, key);
      if (s.Step()) {
        out.id = s.Int(0);
        out.repeated = s.Text(1) == fingerprint;
        out.conflict = !out.repeated;
        s.Reset();
        return out;
      }
      s.Reset();
    }
    out.id = InsertMessage(m, now);
    db_->Prepare("INSERT INTO idempotency (key, fingerprint, message_id, created) VALUES (?1, ?2, ?3, ?4)")
        .Bind(1, key)
        .Bind(2, fingerprint)
        .Bind(3, out.id)
        .Bind(4, now)
        .Run();
    tx.Commit();
    return out;
  }

  void PruneIdempotencyKeys(Millis olderThan) override {
    std::lock_guard<std::mutex> lock(mutex_);
    db_->Prepare("DELETE FROM idempotency WHERE created < ?1").Bind(1, olderThan).Run();
  }

  std::optional<OutboxMessage> Claim(const ClaimRequest& r) override {
    std::lock_guard<std::mutex> lock(mutex_);
    static const std::string kNext =
        "SELECT id FROM outbox WHERE state = 'queued' AND next_attempt <= ?1 "
        "AND (not_before IS NULL OR not_before <= ?1) AND (not_after IS NULL OR not_after > ?1) "
        "AND (modem IS NULL OR modem = ?2) "
        "AND (sent_by IS NOT ?2 OR error_kind IS NOT 'temporary' OR next_attempt + ?3 <= ?1) "
        "ORDER BY priority DESC, id LIMIT 1";
    // A look without the write lock first: most calls find nothing.
    {
      Statement& s = db_->Prepare(kNext);
      s.Bind(1, r.now).Bind(2, r.modem).Bind(3, r.retryElsewhere);
      const bool any = s.Step();
      s.Reset();
      if (!any) return std::nullopt;
    }
    Transaction tx(*db_);
    Statement& s = db_->Prepare(kNext);
    s.Bind(1, r.now).Bind(2, r.modem).Bind(3, r.retryElsewhere);
    if (!s.Step()) {
      s.Reset();
      return std::nullopt;
    }
    const std::int64_t id = s.Int(0);
    s.Reset();
    db_->Prepare(
           "UPDATE outbox SET state = 'sending', sent_by = ?1, attempts = attempts + 1, phase = 0, claimed_by = ?2, "
           "lease_until = ?3, report = MAX(report, ?4), updated = ?5 WHERE id = ?6 AND state = 'queued'")
        .Bind(1, r.modem)
        .Bind(2, r.claimer)
        .Bind(3, r.now + r.leaseMs)
        .Bind(4, r.report)
        .Bind(5, r.now)
        .Bind(6, id)
        .Run();
    if (db_->Changes() != 1) throw StoreError("message " + std::to_string(id) + " changed while it was claimed");
    AddEvent("sending", id, std::nullopt, r.modem, "", r.now);
    std::optional<OutboxMessage> message = ReadMessage(id);
    tx.Commit();
    return message;
  }

  void MarkWriting(std::int64_t id, const std::string& claimer, Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    db_->Prepare("UPDATE outbox SET phase = 1, updated = ?1 WHERE id = ?2 AND state = 'sending' AND claimed_by = ?3")
        .Bind(1, now)
        .Bind(2, id)
        .Bind(3, claimer)
        .Run();
    RequireChanged(id);
    tx.Commit();
  }

  void RecordSent(std::int64_t id, const std::string& claimer, const std::vector<int>& references,
                  Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    const std::string modem = HeldBy(id, claimer);
    Finish(id, "sent", nullptr, now);
    // The modem's count of parts is the one that holds.
    if (!references.empty())
      db_->Prepare("UPDATE outbox SET parts = ?1 WHERE id = ?2")
          .Bind(1, static_cast<int>(references.size()))
          .Bind(2, id)
          .Run();
    AddParts(id, modem, references, now);
    AddEvent("sent", id, std::nullopt, modem, ReferencesText(references), now);
    tx.Commit();
  }

  void RecordRetry(std::int64_t id, const std::string& claimer, const SendError& error, Millis nextAttempt,
                   Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    const std::string modem = HeldBy(id, claimer);
    db_->Prepare(
           "UPDATE outbox SET state = 'queued', phase = 0, claimed_by = NULL, lease_until = NULL, next_attempt = ?1, "
           "error_kind = ?2, error_code = ?3, error_text = ?4, updated = ?5 WHERE id = ?6")
        .Bind(1, nextAttempt)
        .Bind(2, error.kind)
        .Bind(3, error.code)
        .Bind(4, error.text)
        .Bind(5, now)
        .Bind(6, id)
        .Run();
    AddEvent("retry", id, std::nullopt, modem, error.text, now);
    tx.Commit();
  }

  void RecordFailed(std::int64_t id, const std::string& claimer, const SendError& error,
                    const std::vector<int>& references, Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    const std::string modem = HeldBy(id, claimer);
    Finish(id, "failed", &error, now);
    AddParts(id, modem, references, now);
    AddEvent("failed", id, std::nullopt, modem, error.text, now);
    tx.Commit();
  }

  void RecordUncertain(std::int64_t id, const std::string& claimer, const SendError& error,
                       const std::vector<int>& references, Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    const std::string modem = HeldBy(id, claimer);
    Finish(id, "uncertain", &error, now);
    AddParts(id, modem, references, now);
    AddEvent("uncertain", id, std::nullopt, modem, error.text, now);
    tx.Commit();
  }

  std::vector<std::int64_t> ExpireDue(Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    static const std::string kDue =
        "SELECT id, modem FROM outbox WHERE state = 'queued' AND not_after IS NOT NULL AND not_after <= ?1";
    {
      Statement& s = db_->Prepare(kDue);
      s.Bind(1, now);
      const bool any = s.Step();
      s.Reset();
      if (!any) return {};
    }
    Transaction tx(*db_);
    std::vector<std::pair<std::int64_t, std::string>> due;
    Statement& s = db_->Prepare(kDue);
    s.Bind(1, now);
    while (s.Step()) due.emplace_back(s.Int(0), s.Text(1));
    s.Reset();
    std::vector<std::int64_t> ids;
    const SendError error{"expired", std::nullopt, "not sent before its not_after time"};
    for (const auto& [id, modem] : due) {
      Finish(id, "expired", &error, now);
      AddEvent("expired", id, std::nullopt, modem, error.text, now);
      ids.push_back(id);
    }
    tx.Commit();
    return ids;
  }

  Recovered Recover(const std::string& claimer, Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    Statement& s =
        db_->Prepare("SELECT id, phase, sent_by FROM outbox WHERE state = 'sending' AND "
                     "(claimed_by = ?1 OR claimed_by IS NULL OR lease_until IS NULL OR lease_until < ?2) ORDER BY id");
    s.Bind(1, claimer).Bind(2, now);
    const Recovered out = Settle(s, now, "the gateway stopped");
    tx.Commit();
    return out;
  }

  Recovered ReclaimExpired(Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    static const std::string kExpired =
        "SELECT id, phase, sent_by FROM outbox WHERE state = 'sending' AND lease_until < ?1 ORDER BY id";
    {
      Statement& s = db_->Prepare(kExpired);
      s.Bind(1, now);
      const bool any = s.Step();
      s.Reset();
      if (!any) return {};
    }
    Transaction tx(*db_);
    Statement& s = db_->Prepare(kExpired);
    s.Bind(1, now);
    const Recovered out = Settle(s, now, "the gateway that held it stopped renewing its lease");
    tx.Commit();
    return out;
  }

  void RenewLeases(const std::string& claimer, Millis now, Millis lease) override {
    std::lock_guard<std::mutex> lock(mutex_);
    db_->Prepare("UPDATE outbox SET lease_until = ?1 WHERE state = 'sending' AND claimed_by = ?2")
        .Bind(1, now + lease)
        .Bind(2, claimer)
        .Run();
  }

  std::optional<Millis> NextDue(Millis) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s =
        db_->Prepare("SELECT MIN(MAX(next_attempt, COALESCE(not_before, 0))) FROM outbox WHERE state = 'queued'");
    std::optional<Millis> due;
    if (s.Step()) due = s.OptInt(0);
    s.Reset();
    return due;
  }

  // ---------------------------------------------------------------- reports

  std::vector<PartCandidate> ReportCandidates(const std::string& modem, int reference) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare("SELECT p.message_id, p.number, o.recipient, p.sent_at, p.state FROM outbox_parts p "
                                "JOIN outbox o ON o.id = p.message_id WHERE p.modem = ?1 AND p.reference = ?2 "
                                "ORDER BY p.sent_at DESC, p.message_id DESC LIMIT 64");
    s.Bind(1, modem).Bind(2, reference);
    std::vector<PartCandidate> out;
    while (s.Step()) out.push_back({s.Int(0), static_cast<int>(s.Int(1)), s.Text(2), s.Int(3), s.Text(4)});
    s.Reset();
    return out;
  }

  std::optional<MessageState> RecordReport(const StatusReport& r, const std::optional<PartCandidate>& match) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    db_->Prepare(
           "INSERT INTO reports (modem, reference, recipient, submitted, discharged, status, received, message_id, "
           "part) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)")
        .Bind(1, r.modem)
        .Bind(2, r.reference)
        .Bind(3, r.recipient)
        .Bind(4, r.submitted)
        .Bind(5, r.discharged)
        .Bind(6, r.status)
        .Bind(7, r.received)
        .Bind(8, match ? std::optional<std::int64_t>(match->messageId) : std::nullopt)
        .Bind(9, match ? std::optional<std::int64_t>(match->number) : std::nullopt)
        .Run();
    if (!match) {
      AddEvent("report", std::nullopt, std::nullopt, r.modem,
               "a report for reference " + std::to_string(r.reference) + " matches no sent part", r.received);
      tx.Commit();
      return std::nullopt;
    }
    const std::string partState = PartStateForStatus(r.status);
    db_->Prepare(
           "UPDATE outbox_parts SET status = ?1, state = ?2, reported_at = ?3 WHERE message_id = ?4 AND number = ?5")
        .Bind(1, r.status)
        .Bind(2, partState)
        .Bind(3, r.received)
        .Bind(4, match->messageId)
        .Bind(5, match->number)
        .Run();
    std::optional<OutboxMessage> message = ReadMessage(match->messageId);
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
        Finish(match->messageId, "failed", &error, r.received);
        AddEvent("failed", match->messageId, std::nullopt, r.modem, error.text, r.received);
        state = MessageState::Failed;
      } else if (allDelivered) {
        Finish(match->messageId, "delivered", nullptr, r.received);
        AddEvent("delivered", match->messageId, std::nullopt, r.modem, "", r.received);
        state = MessageState::Delivered;
      }
    }
    tx.Commit();
    return state;
  }

  // ---------------------------------------------------------------- inbox

  AddResult AddMessage(const IncomingMessage& m) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    const AddResult result = InsertInbox(m);
    tx.Commit();
    return result;
  }

  AddResult AddPart(const IncomingPart& p, const Assembler& assemble) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string pduKey = Sha256Hex(Joined({p.imei, UpperHex(p.pdu)}));
    const std::string groupKey = GroupKey(p);
    Transaction tx(*db_);
    {
      Statement& s = db_->Prepare("SELECT inbox_id FROM inbox_parts WHERE pdu_key = ?1");
      s.Bind(1, pduKey);
      if (s.Step()) {
        AddResult seen{s.IsNull(0) ? 0 : s.Int(0), true};
        s.Reset();
        return seen;  // rolled back: nothing changed
      }
      s.Reset();
    }
    // The sender used this reference again before the earlier message was
    // complete: that one is closed as it stands, this part starts anew.
    {
      Statement& s =
          db_->Prepare("SELECT 1 FROM inbox_parts WHERE group_key = ?1 AND inbox_id IS NULL AND number = ?2");
      s.Bind(1, groupKey).Bind(2, p.number);
      const bool clash = s.Step();
      s.Reset();
      if (clash) FinishGroup(groupKey, false, p.received, assemble);
    }
    db_->Prepare(std::string("INSERT INTO inbox_parts (") + kPartColumns +
                 ", pdu_key, group_key) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16)")
        .Bind(1, p.modem)
        .Bind(2, p.imei)
        .Bind(3, p.storage)
        .Bind(4, p.sender)
        .Bind(5, p.smsc)
        .Bind(6, p.timestamp.empty() ? std::optional<std::string>() : p.timestamp)
        .Bind(7, p.timezone)
        .Bind(8, p.reference)
        .Bind(9, p.referenceBits)
        .Bind(10, p.total)
        .Bind(11, p.number)
        .Bind(12, p.pdu)
        .Bind(13, p.text)
        .Bind(14, p.received)
        .Bind(15, pduKey)
        .Bind(16, groupKey)
        .Run();
    AddResult result;
    Statement& count =
        db_->Prepare("SELECT COUNT(DISTINCT number) FROM inbox_parts WHERE group_key = ?1 AND inbox_id IS NULL");
    count.Bind(1, groupKey);
    const int have = count.Step() ? static_cast<int>(count.Int(0)) : 0;
    count.Reset();
    if (have >= p.total) result = FinishGroup(groupKey, true, p.received, assemble);
    tx.Commit();
    return result;
  }

  std::vector<std::int64_t> FinishStaleParts(Millis olderThan, Millis now, const Assembler& assemble) override {
    std::lock_guard<std::mutex> lock(mutex_);
    static const std::string kStale =
        "SELECT group_key FROM inbox_parts WHERE inbox_id IS NULL GROUP BY group_key HAVING MIN(received) < ?1";
    std::vector<std::string> groups;
    {
      Statement& s = db_->Prepare(kStale);
      s.Bind(1, olderThan);
      while (s.Step()) groups.push_back(s.Text(0));
      s.Reset();
    }
    std::vector<std::int64_t> ids;
    if (groups.empty()) return ids;
    Transaction tx(*db_);
    for (const std::string& group : groups) {
      const AddResult r = FinishGroup(group, false, now, assemble);
      if (r.id != 0 && !r.duplicate) ids.push_back(r.id);
    }
    tx.Commit();
    return ids;
  }

  void AddUndecoded(const std::string& modem, const std::string& imei, const std::string& storage,
                    const std::string& pdu, const std::string& reason, Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    db_->Prepare("INSERT INTO undecoded (modem, imei, storage, pdu, reason, received) VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
        .Bind(1, modem)
        .Bind(2, imei)
        .Bind(3, storage)
        .Bind(4, pdu)
        .Bind(5, reason)
        .Bind(6, now)
        .Run();
    AddEvent("undecoded", std::nullopt, std::nullopt, modem, reason, now);
    tx.Commit();
  }

  int PendingParts() override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare("SELECT COUNT(*) FROM inbox_parts WHERE inbox_id IS NULL");
    const int n = s.Step() ? static_cast<int>(s.Int(0)) : 0;
    s.Reset();
    return n;
  }

  // ---------------------------------------------------------------- reading

  std::vector<OutboxMessage> ListMessages(const MessageFilter& f) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare(std::string("SELECT ") + kMessageColumns +
                                " FROM outbox WHERE (?1 IS NULL OR state = ?1) AND (?2 IS NULL OR id = ?2) "
                                "AND id > ?3 ORDER BY id LIMIT ?4");
    s.Bind(1, f.state ? std::optional<std::string>(StateName(*f.state)) : std::nullopt)
        .Bind(2, f.id)
        .Bind(3, f.after)
        .Bind(4, f.limit);
    std::vector<OutboxMessage> out;
    while (s.Step()) out.push_back(MessageFromRow(s));
    s.Reset();
    for (OutboxMessage& m : out) m.parts = ReadParts(m.id);
    return out;
  }

  std::optional<OutboxMessage> GetMessage(std::int64_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return ReadMessage(id);
  }

  std::vector<InboxEntry> ListInbox(std::int64_t after, int limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s =
        db_->Prepare(std::string("SELECT ") + kInboxColumns + " FROM inbox WHERE id > ?1 ORDER BY id LIMIT ?2");
    s.Bind(1, after).Bind(2, limit);
    std::vector<InboxEntry> out;
    while (s.Step()) out.push_back(InboxFromRow(s));
    s.Reset();
    return out;
  }

  std::optional<InboxEntry> GetInbox(std::int64_t id) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare(std::string("SELECT ") + kInboxColumns + " FROM inbox WHERE id = ?1");
    s.Bind(1, id);
    std::optional<InboxEntry> out;
    if (s.Step()) out = InboxFromRow(s);
    s.Reset();
    return out;
  }

  std::map<std::string, int> CountByState() override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare("SELECT state, COUNT(*) FROM outbox GROUP BY state");
    std::map<std::string, int> out;
    while (s.Step()) out[s.Text(0)] = static_cast<int>(s.Int(1));
    s.Reset();
    return out;
  }

  std::map<std::string, int> QueuedByModem() override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s =
        db_->Prepare("SELECT modem, COUNT(*) FROM outbox WHERE state = 'queued' AND modem IS NOT NULL GROUP BY modem");
    std::map<std::string, int> out;
    while (s.Step()) out[s.Text(0)] = static_cast<int>(s.Int(1));
    s.Reset();
    return out;
  }

  std::vector<EventCount> CountEvents(const std::set<std::string>& kinds, Millis since, Millis bucket) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string list;
    for (std::size_t i = 0; i < kinds.size(); ++i) list += (i ? ", ?" : "?") + std::to_string(i + 3);
    if (list.empty() || bucket <= 0) return {};
    Statement& s = db_->Prepare("SELECT kind, COALESCE(modem, ''), (at - ?1) / ?2, COUNT(*) FROM events WHERE at >= ?1 "
                                "AND kind IN (" +
                                list + ") GROUP BY 1, 2, 3 ORDER BY 3, 1, 2");
    s.Bind(1, since).Bind(2, bucket);
    int at = 3;
    for (const std::string& k : kinds) s.Bind(at++, k);
    std::vector<EventCount> out;
    while (s.Step()) out.push_back({s.Text(0), s.Text(1), static_cast<int>(s.Int(2)), static_cast<int>(s.Int(3))});
    s.Reset();
    return out;
  }

  std::vector<Event> ListEvents(std::int64_t after, int limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare(
        "SELECT id, at, kind, message_id, inbox_id, modem, detail FROM events WHERE id > ?1 ORDER BY id LIMIT ?2");
    s.Bind(1, after).Bind(2, limit);
    std::vector<Event> out;
    while (s.Step()) out.push_back(EventFromRow(s));
    s.Reset();
    return out;
  }

  std::vector<Event> RecentEvents(const std::set<std::string>& kinds, int limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string list;
    for (std::size_t i = 0; i < kinds.size(); ++i) list += (i ? ", ?" : "?") + std::to_string(i + 2);
    if (list.empty()) return {};
    Statement& s = db_->Prepare("SELECT id, at, kind, message_id, inbox_id, modem, detail FROM events WHERE kind IN (" +
                                list + ") ORDER BY id DESC LIMIT ?1");
    s.Bind(1, limit);
    int at = 2;
    for (const std::string& k : kinds) s.Bind(at++, k);
    std::vector<Event> out;
    while (s.Step()) out.push_back(EventFromRow(s));
    s.Reset();
    return out;
  }

  int UndecodedCount() override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare("SELECT COUNT(*) FROM undecoded");
    const int n = s.Step() ? static_cast<int>(s.Int(0)) : 0;
    s.Reset();
    return n;
  }

  // ---------------------------------------------------------------- status

  void UpdateModem(const ModemStatus& m) override {
    std::lock_guard<std::mutex> lock(mutex_);
    db_->Prepare(
           "INSERT INTO modems (name, gateway, port, imei, connected, signal, last_error, last_error_at, updated, sim, "
           "registration, operator) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12) ON CONFLICT (name) DO "
           "UPDATE SET gateway = ?2, port = ?3, imei = ?4, connected = ?5, signal = ?6, last_error = ?7, "
           "last_error_at = ?8, updated = ?9, sim = ?10, registration = ?11, operator = ?12")
        .Bind(1, m.name)
        .Bind(2, m.gateway)
        .Bind(3, m.port)
        .Bind(4, m.imei)
        .Bind(5, m.connected)
        .Bind(6, m.signal)
        .Bind(7, m.lastError.empty() ? std::optional<std::string>() : m.lastError)
        .Bind(8, m.lastErrorAt)
        .Bind(9, m.updated)
        .Bind(10, m.sim)
        .Bind(11, m.registration)
        .Bind(12, m.operatorName)
        .Run();
  }

  std::vector<ModemStatus> ListModems() override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare(
        "SELECT name, gateway, port, imei, connected, signal, last_error, last_error_at, updated, sim, registration, "
        "operator FROM modems ORDER BY name");
    std::vector<ModemStatus> out;
    while (s.Step()) {
      ModemStatus m;
      m.name = s.Text(0);
      m.gateway = s.Text(1);
      m.port = s.Text(2);
      m.imei = s.Text(3);
      m.connected = s.Int(4) != 0;
      if (!s.IsNull(5)) m.signal = static_cast<int>(s.Int(5));
      m.lastError = s.Text(6);
      m.lastErrorAt = s.OptInt(7);
      m.updated = s.Int(8);
      m.sim = s.Text(9);
      m.registration = s.Text(10);
      m.operatorName = s.Text(11);
      out.push_back(std::move(m));
    }
    s.Reset();
    return out;
  }

  void UpdateGateway(const GatewayStatus& g) override {
    std::lock_guard<std::mutex> lock(mutex_);
    db_->Prepare("INSERT INTO gateways (name, pid, started, heartbeat, stopped) VALUES (?1, ?2, ?3, ?4, ?5) "
                 "ON CONFLICT (name) DO UPDATE SET pid = ?2, started = ?3, heartbeat = ?4, stopped = ?5")
        .Bind(1, g.name)
        .Bind(2, g.pid)
        .Bind(3, g.started)
        .Bind(4, g.heartbeat)
        .Bind(5, g.stopped)
        .Run();
  }

  std::vector<GatewayStatus> ListGateways() override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare("SELECT name, pid, started, heartbeat, stopped FROM gateways ORDER BY name");
    std::vector<GatewayStatus> out;
    while (s.Step()) out.push_back({s.Text(0), static_cast<int>(s.Int(1)), s.Int(2), s.Int(3), s.OptInt(4)});
    s.Reset();
    return out;
  }

  void Log(const std::string& kind, const std::string& modem, const std::string& detail, Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    AddEvent(kind, std::nullopt, std::nullopt, modem, detail, now);
    tx.Commit();
  }

  // ---------------------------------------------------------------- hooks

  void SetHookedEvents(const std::set<std::string>& kinds) override {
    std::lock_guard<std::mutex> lock(mutex_);
    hooked_ = kinds;
  }

  std::optional<HookJob> NextHookJob(Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare("SELECT id, at, kind, message_id, inbox_id, modem, detail, hook_attempts FROM events "
                                "WHERE hook_state = 'pending' AND hook_next <= ?1 AND (owner IS ?2 OR owner IS NULL) "
                                "ORDER BY hook_next, id LIMIT 1");
    s.Bind(1, now).Bind(2, owner_.empty() ? std::optional<std::string>() : owner_);
    std::optional<HookJob> job;
    if (s.Step()) job = HookJob{EventFromRow(s), static_cast<int>(s.Int(7))};
    s.Reset();
    return job;
  }

  std::optional<Millis> NextHookDue() override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare(
        "SELECT MIN(hook_next) FROM events WHERE hook_state = 'pending' AND (owner IS ?1 OR owner IS NULL)");
    s.Bind(1, owner_.empty() ? std::optional<std::string>() : owner_);
    std::optional<Millis> due;
    if (s.Step()) due = s.OptInt(0);
    s.Reset();
    return due;
  }

  void HookFinished(std::int64_t eventId, bool ok, const std::string& error, std::optional<Millis> retryAt,
                    Millis) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const char* state = ok ? "done" : (retryAt ? "pending" : "failed");
    db_->Prepare(
           "UPDATE events SET hook_state = ?1, hook_attempts = hook_attempts + 1, hook_next = ?2, hook_error = ?3 "
           "WHERE id = ?4")
        .Bind(1, state)
        .Bind(2, retryAt)
        .Bind(3, ok ? std::optional<std::string>() : error)
        .Bind(4, eventId)
        .Run();
  }

  // ---------------------------------------------------------------- webhooks

  void SetWebhooks(const std::vector<WebhookTarget>& webhooks) override {
    std::lock_guard<std::mutex> lock(mutex_);
    webhooks_ = webhooks;
  }

  std::optional<Delivery> ClaimDelivery(const std::vector<std::string>& urls, const std::string& claimer, Millis now,
                                        Millis lease) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (urls.empty()) return std::nullopt;
    const std::string next = "SELECT d.id FROM deliveries d WHERE d.state = 'pending' AND d.next_attempt <= ?1 AND "
                             "(d.lease_until IS NULL OR d.lease_until < ?1 OR d.claimed_by = ?2) AND d.url IN (" +
                             Placeholders(3, urls.size()) + ") ORDER BY d.next_attempt, d.id LIMIT 1";
    auto bind = [&](Statement& s) {
      s.Bind(1, now).Bind(2, claimer);
      int at = 3;
      for (const std::string& u : urls) s.Bind(at++, u);
    };
    {
      Statement& s = db_->Prepare(next);
      bind(s);
      const bool any = s.Step();
      s.Reset();
      if (!any) return std::nullopt;
    }
    Transaction tx(*db_);
    Statement& s = db_->Prepare(next);
    bind(s);
    if (!s.Step()) {
      s.Reset();
      return std::nullopt;
    }
    const std::int64_t id = s.Int(0);
    s.Reset();
    db_->Prepare("UPDATE deliveries SET claimed_by = ?1, lease_until = ?2 WHERE id = ?3")
        .Bind(1, claimer)
        .Bind(2, now + lease)
        .Bind(3, id)
        .Run();
    std::optional<Delivery> d = ReadDelivery(id);
    tx.Commit();
    return d;
  }

  std::string FixDeliveryBody(std::int64_t id, const std::string& body) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*db_);
    db_->Prepare("UPDATE deliveries SET body = ?1 WHERE id = ?2 AND body IS NULL").Bind(1, body).Bind(2, id).Run();
    Statement& s = db_->Prepare("SELECT body FROM deliveries WHERE id = ?1");
    s.Bind(1, id);
    std::string held = s.Step() ? s.Text(0) : body;
    s.Reset();
    tx.Commit();
    return held;
  }

  void DeliveryFinished(std::int64_t id, const std::string& claimer, bool ok, int status, const std::string& error,
                        std::optional<Millis> retryAt, Millis now) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const char* state = ok ? "done" : (retryAt ? "pending" : "failed");
    db_->Prepare(
           "UPDATE deliveries SET state = ?1, attempts = attempts + 1, next_attempt = COALESCE(?2, next_attempt), "
           "last_status = ?3, last_error = ?4, claimed_by = NULL, lease_until = NULL, updated = ?5 "
           "WHERE id = ?6 AND (claimed_by = ?7 OR claimed_by IS NULL)")
        .Bind(1, state)
        .Bind(2, retryAt)
        .Bind(3, status > 0 ? std::optional<int>(status) : std::nullopt)
        .Bind(4, ok ? std::optional<std::string>() : error)
        .Bind(5, now)
        .Bind(6, id)
        .Bind(7, claimer)
        .Run();
  }

  std::optional<Millis> NextDeliveryDue(const std::vector<std::string>& urls) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (urls.empty()) return std::nullopt;
    Statement& s = db_->Prepare("SELECT MIN(next_attempt) FROM deliveries WHERE state = 'pending' AND url IN (" +
                                Placeholders(1, urls.size()) + ")");
    int at = 1;
    for (const std::string& u : urls) s.Bind(at++, u);
    std::optional<Millis> due;
    if (s.Step()) due = s.OptInt(0);
    s.Reset();
    return due;
  }

  DeliveryStats CountDeliveries() override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement& s = db_->Prepare("SELECT state, COUNT(*) FROM deliveries GROUP BY state");
    DeliveryStats out;
    while (s.Step()) {
      const std::string state = s.Text(0);
      const int n = static_cast<int>(s.Int(1));
      if (state == "pending") out.pending = n;
      if (state == "done") out.done = n;
      if (state == "failed") out.failed = n;
    }
    s.Reset();
    return out;
  }

  std::vector<Delivery> ListDeliveries(std::int64_t after, int limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::int64_t> ids;
    Statement& s = db_->Prepare("SELECT id FROM deliveries WHERE id > ?1 ORDER BY id LIMIT ?2");
    s.Bind(1, after).Bind(2, limit);
    while (s.Step()) ids.push_back(s.Int(0));
    s.Reset();
    std::vector<Delivery> out;
    for (std::int64_t id : ids)
      if (std::optional<Delivery> d = ReadDelivery(id)) out.push_back(std::move(*d));
    return out;
  }

 private:
  static std::string Placeholders(int first, std::size_t count) {
    std::string list;
    for (std::size_t i = 0; i < count; ++i) list += (i ? ", ?" : "?") + std::to_string(first + static_cast<int>(i));
    return list;
  }

  std::optional<Delivery> ReadDelivery(std::int64_t id) {
    Statement& s = db_->Prepare(
        "SELECT d.id, d.key, d.url, d.type, d.event_id, e.at, e.message_id, e.inbox_id, e.modem, e.detail, d.body, "
        "d.attempts, d.created FROM deliveries d JOIN events e ON e.id = d.event_id WHERE d.id = ?1");
    s.Bind(1, id);
    std::optional<Delivery> out;
    if (s.Step()) {
      Delivery d;
      d.id = s.Int(0);
      d.key = s.Text(1);
      d.url = s.Text(2);
      d.type = s.Text(3);
      d.eventId = s.Int(4);
      d.eventAt = s.Int(5);
      d.messageId = s.OptInt(6);
      d.inboxId = s.OptInt(7);
      d.modem = s.Text(8);
      d.detail = s.Text(9);
      d.body = s.Text(10);
      d.attempts = static_cast<int>(s.Int(11));
      d.created = s.Int(12);
      out = std::move(d);
    }
    s.Reset();
    return out;
  }

  void Check() {
    Statement& s = db_->Prepare("PRAGMA quick_check");
    std::string problems;
    while (s.Step()) {
      const std::string line = s.Text(0);
      if (line != "ok") problems += (problems.empty() ? "" : "; ") + line;
    }
    s.Reset();
    if (!problems.empty())
      throw StoreError(path_ + " is damaged (" + problems.substr(0, 200) + "); it was left as it is");
  }

  int StoredVersion() {
    Statement& t = db_->Prepare("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'meta'");
    const bool hasMeta = t.Step() && t.Int(0) > 0;
    t.Reset();
    if (!hasMeta) return 0;
    Statement& s = db_->Prepare("SELECT value FROM meta WHERE key = 'schema'");
    int version = 0;
    if (s.Step()) version = std::atoi(s.Text(0).c_str());
    s.Reset();
    return version;
  }

  void Migrate(int target) {
    Transaction tx(*db_);
    // Another process may have migrated meanwhile: read again under the lock.
    int version = StoredVersion();
    if (version > kSchemaVersion) throw StoreError(path_ + " was made by a newer version of the gateway");
    for (; version < target; ++version) db_->Exec(kMigrations[version]);
    db_->Exec("PRAGMA application_id = " + std::to_string(kApplicationId));
    db_->Prepare("INSERT INTO meta (key, value) VALUES ('schema', ?1) ON CONFLICT (key) DO UPDATE SET value = ?1")
        .Bind(1, std::to_string(version))
        .Run();
    tx.Commit();
  }

  void AddEvent(const std::string& kind, std::optional<std::int64_t> message, std::optional<std::int64_t> inbox,
                const std::string& modem, const std::string& detail, Millis now) {
    const bool hooked = hooked_.count(kind) > 0;
    db_->Prepare("INSERT INTO events (at, kind, message_id, inbox_id, modem, detail, hook_state, hook_next, owner) "
                 "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)")
        .Bind(1, now)
        .Bind(2, kind)
        .Bind(3, message)
        .Bind(4, inbox)
        .Bind(5, modem.empty() ? std::optional<std::string>() : modem)
        .Bind(6, detail)
        .Bind(7, hooked ? "pending" : "none")
        .Bind(8, hooked ? std::optional<Millis>(now) : std::nullopt)
        .Bind(9, owner_.empty() ? std::optional<std::string>() : owner_)
        .Run();
    if (webhooks_.empty()) return;
    const std::string type = WebhookType(kind);
    if (type.empty()) return;
    const std::int64_t event = db_->LastInsertId();
    for (const WebhookTarget& w : webhooks_) {
      if (w.events.count(type) == 0) continue;
      db_->Prepare("INSERT INTO deliveries (key, url, type, event_id, state, attempts, next_attempt, created, updated) "
                   "VALUES (?1, ?2, ?3, ?4, 'pending', 0, ?5, ?5, ?5)")
          .Bind(1, keys_.Next())
          .Bind(2, w.url)
          .Bind(3, type)
          .Bind(4, event)
          .Bind(5, now)
          .Run();
    }
  }

  std::int64_t InsertMessage(const NewMessage& m, Millis now) {
    db_->Prepare("INSERT INTO outbox (recipient, text, encoding, flash, priority, not_before, not_after, modem, parts, "
                 "state, attempts, next_attempt, phase, created, updated, report) "
                 "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, 'queued', 0, ?10, 0, ?10, ?10, ?11)")
        .Bind(1, m.to)
        .Bind(2, m.text)
        .Bind(3, m.encoding)
        .Bind(4, m.flash)
        .Bind(5, m.priority)
        .Bind(6, m.notBefore)
        .Bind(7, m.notAfter)
        .Bind(8, m.modem.empty() ? std::optional<std::string>() : m.modem)
        .Bind(9, m.parts)
        .Bind(10, now)
        .Bind(11, m.report)
        .Run();
    const std::int64_t id = db_->LastInsertId();
    AddEvent("queued", id, std::nullopt, m.modem, "to " + m.to, now);
    return id;
  }

  // The `sending` messages the statement selects (id, phase, sent_by),
  // settled inside the caller's transaction: phase 0 back to the queue,
  // phase 1 uncertain.
  Recovered Settle(Statement& s, Millis now, const std::string& why) {
    Recovered out;
    std::vector<std::tuple<std::int64_t, int, std::string>> left;
    while (s.Step()) left.emplace_back(s.Int(0), static_cast<int>(s.Int(1)), s.Text(2));
    s.Reset();
    for (const auto& [id, phase, modem] : left) {
      if (phase == 0) {
        // Nothing reached the modem: the attempt does not count.
        db_->Prepare("UPDATE outbox SET state = 'queued', phase = 0, claimed_by = NULL, lease_until = NULL, "
                     "attempts = MAX(attempts - 1, 0), updated = ?1 WHERE id = ?2")
            .Bind(1, now)
            .Bind(2, id)
            .Run();
        AddEvent("requeued", id, std::nullopt, modem, why + " before the modem was asked to send it", now);
        out.requeued.push_back(id);
      } else {
        const SendError error{"restart", std::nullopt, why + " while the modem was sending it: it may have been sent"};
        Finish(id, "uncertain", &error, now);
        AddEvent("uncertain", id, std::nullopt, modem, error.text, now);
        out.uncertain.push_back(id);
      }
    }
    return out;
  }

  void RequireChanged(std::int64_t id) {
    if (db_->Changes() != 1) throw StoreError("message " + std::to_string(id) + " is not being sent by this gateway");
  }

  // The modem of a message this claimer holds in `sending`; throws otherwise.
  std::string HeldBy(std::int64_t id, const std::string& claimer) {
    Statement& s = db_->Prepare("SELECT sent_by FROM outbox WHERE id = ?1 AND state = 'sending' AND claimed_by = ?2");
    s.Bind(1, id).Bind(2, claimer);
    if (!s.Step()) {
      s.Reset();
      throw StoreError("message " + std::to_string(id) + " is not being sent by this gateway");
    }
    std::string modem = s.Text(0);
    s.Reset();
    return modem;
  }

  void Finish(std::int64_t id, const char* state, const SendError* error, Millis now) {
    db_->Prepare("UPDATE outbox SET state = ?1, phase = 0, claimed_by = NULL, lease_until = NULL, error_kind = ?2, "
                 "error_code = ?3, error_text = ?4, updated = ?5 WHERE id = ?6")
        .Bind(1, state)
        .Bind(2, error ? std::optional<std::string>(error->kind) : std::nullopt)
        .Bind(3, error ? error->code : std::nullopt)
        .Bind(4, error ? std::optional<std::string>(error->text) : std::nullopt)
        .Bind(5, now)
        .Bind(6, id)
        .Run();
  }

  void AddParts(std::int64_t id, const std::string& modem, const std::vector<int>& references, Millis now) {
    for (std::size_t i = 0; i < references.size(); ++i)
      db_->Prepare("INSERT OR REPLACE INTO outbox_parts (message_id, number, reference, modem, sent_at, state) "
                   "VALUES (?1, ?2, ?3, ?4, ?5, 'sent')")
          .Bind(1, id)
          .Bind(2, static_cast<int>(i + 1))
          .Bind(3, references[i])
          .Bind(4, modem)
          .Bind(5, now)
          .Run();
  }

  static std::string ReferencesText(const std::vector<int>& references) {
    std::string text = "reference";
    if (references.size() > 1) text += "s";
    for (std::size_t i = 0; i < references.size(); ++i) text += (i ? "," : " ") + std::to_string(references[i]);
    return text;
  }

  static OutboxMessage MessageFromRow(const Statement& s) {
    OutboxMessage m;
    m.id = s.Int(0);
    m.to = s.Text(1);
    m.text = s.Text(2);
    m.encoding = s.Text(3);
    m.flash = s.Int(4) != 0;
    m.report = s.Int(5) != 0;
    m.priority = static_cast<int>(s.Int(6));
    m.notBefore = s.OptInt(7);
    m.notAfter = s.OptInt(8);
    m.modem = s.Text(9);
    m.sentBy = s.Text(10);
    m.state = StateFromName(s.Text(11)).value_or(MessageState::Queued);
    m.attempts = static_cast<int>(s.Int(12));
    m.phase = static_cast<int>(s.Int(13));
    m.nextAttempt = s.Int(14);
    m.partCount = static_cast<int>(s.Int(15));
    if (!s.IsNull(16)) {
      SendError e;
      e.kind = s.Text(16);
      if (!s.IsNull(17)) e.code = static_cast<int>(s.Int(17));
      e.text = s.Text(18);
      m.error = e;
    }
    m.created = s.Int(19);
    m.updated = s.Int(20);
    return m;
  }

  std::vector<PartInfo> ReadParts(std::int64_t id) {
    Statement& s = db_->Prepare(
        "SELECT number, reference, modem, sent_at, state, status FROM outbox_parts WHERE message_id = ?1 ORDER BY "
        "number");
    s.Bind(1, id);
    std::vector<PartInfo> parts;
    while (s.Step()) {
      PartInfo p;
      p.number = static_cast<int>(s.Int(0));
      p.reference = static_cast<int>(s.Int(1));
      p.modem = s.Text(2);
      p.sentAt = s.Int(3);
      p.state = s.Text(4);
      if (!s.IsNull(5)) p.status = static_cast<int>(s.Int(5));
      parts.push_back(std::move(p));
    }
    s.Reset();
    return parts;
  }

  std::optional<OutboxMessage> ReadMessage(std::int64_t id) {
    Statement& s = db_->Prepare(std::string("SELECT ") + kMessageColumns + " FROM outbox WHERE id = ?1");
    s.Bind(1, id);
    std::optional<OutboxMessage> m;
    if (s.Step()) m = MessageFromRow(s);
    s.Reset();
    if (m) m->parts = ReadParts(id);
    return m;
  }

  static InboxEntry InboxFromRow(const Statement& s) {
    InboxEntry e;
    e.id = s.Int(0);
    e.modem = s.Text(1);
    e.imei = s.Text(2);
    e.sender = s.Text(3);
    e.smsc = s.Text(4);
    e.text = s.Text(5);
    e.timestamp = s.Text(6);
    e.timezone = static_cast<int>(s.Int(7));
    e.reference = static_cast<int>(s.Int(8));
    e.parts = static_cast<int>(s.Int(9));
    e.incomplete = s.Int(10) != 0;
    e.received = s.Int(11);
    return e;
  }

  static Event EventFromRow(const Statement& s) {
    Event e;
    e.id = s.Int(0);
    e.at = s.Int(1);
    e.kind = s.Text(2);
    e.messageId = s.OptInt(3);
    e.inboxId = s.OptInt(4);
    e.modem = s.Text(5);
    e.detail = s.Text(6);
    return e;
  }

  static std::string GroupKey(const IncomingPart& p) {
    return Sha256Hex(Joined(
        {p.imei, p.sender, std::to_string(p.reference), std::to_string(p.referenceBits), std::to_string(p.total)}));
  }

  // The inbox row for a message, unless its key is there already.
  AddResult InsertInbox(const IncomingMessage& m) {
    const std::string key = Sha256Hex(
        Joined({m.imei, m.sender, m.timestamp, std::to_string(m.timezone), std::to_string(m.reference), m.text}));
    {
      Statement& s = db_->Prepare("SELECT id FROM inbox WHERE dedup_key = ?1");
      s.Bind(1, key);
      if (s.Step()) {
        const AddResult seen{s.Int(0), true};
        s.Reset();
        return seen;
      }
      s.Reset();
    }
    db_->Prepare(
           "INSERT INTO inbox (modem, imei, sender, smsc, text, timestamp, timezone, reference, parts, incomplete, "
           "received, dedup_key) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)")
        .Bind(1, m.modem)
        .Bind(2, m.imei)
        .Bind(3, m.sender)
        .Bind(4, m.smsc)
        .Bind(5, m.text)
        .Bind(6, m.timestamp.empty() ? std::optional<std::string>() : m.timestamp)
        .Bind(7, m.timezone)
        .Bind(8, m.reference)
        .Bind(9, m.parts)
        .Bind(10, m.incomplete)
        .Bind(11, m.received)
        .Bind(12, key)
        .Run();
    const std::int64_t id = db_->LastInsertId();
    AddEvent("received", std::nullopt, id, m.modem, "from " + m.sender, m.received);
    return {id, false};
  }

  // Puts the open parts of a group together into one inbox message and
  // ties them to it (inside the caller's transaction).
  AddResult FinishGroup(const std::string& group, bool complete, Millis now, const Assembler& assemble) {
    std::vector<IncomingPart> parts;
    {
      Statement& s = db_->Prepare(std::string("SELECT ") + kPartColumns +
                                  " FROM inbox_parts WHERE group_key = ?1 AND inbox_id IS NULL ORDER BY number, id");
      s.Bind(1, group);
      while (s.Step()) {
        IncomingPart p;
        p.modem = s.Text(0);
        p.imei = s.Text(1);
        p.storage = s.Text(2);
        p.sender = s.Text(3);
        p.smsc = s.Text(4);
        p.timestamp = s.Text(5);
        p.timezone = static_cast<int>(s.Int(6));
        p.reference = static_cast<int>(s.Int(7));
        p.referenceBits = static_cast<int>(s.Int(8));
        p.total = static_cast<int>(s.Int(9));
        p.number = static_cast<int>(s.Int(10));
        p.pdu = s.Text(11);
        p.text = s.Text(12);
        p.received = s.Int(13);
        // One copy of each part number.
        if (!parts.empty() && parts.back().number == p.number) continue;
        parts.push_back(std::move(p));
      }
      s.Reset();
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
    const AddResult result = InsertInbox(m);
    db_->Prepare("UPDATE inbox_parts SET inbox_id = ?1 WHERE group_key = ?2 AND inbox_id IS NULL")
        .Bind(1, result.id)
        .Bind(2, group)
        .Run();
    return result;
  }

  std::string path_;
  std::string owner_;
  std::unique_ptr<Database> db_;
  std::mutex mutex_;
  std::set<std::string> hooked_;
  std::vector<WebhookTarget> webhooks_;
  DeliveryKeys keys_;
};

}  // namespace

const char* StateName(MessageState state) {
  switch (state) {
    case MessageState::Queued: return "queued";
    case MessageState::Sending: return "sending";
    case MessageState::Sent: return "sent";
    case MessageState::Delivered: return "delivered";
    case MessageState::Failed: return "failed";
    case MessageState::Expired: return "expired";
    case MessageState::Uncertain: return "uncertain";
  }
  return "queued";
}

std::optional<MessageState> StateFromName(const std::string& name) {
  for (MessageState s : {MessageState::Queued, MessageState::Sending, MessageState::Sent, MessageState::Delivered,
                         MessageState::Failed, MessageState::Expired, MessageState::Uncertain})
    if (name == StateName(s)) return s;
  return std::nullopt;
}

bool IsFinal(MessageState state) {
  switch (state) {
    case MessageState::Queued:
    case MessageState::Sending:
    case MessageState::Sent: return false;
    case MessageState::Delivered:
    case MessageState::Failed:
    case MessageState::Expired:
    case MessageState::Uncertain: return true;
  }
  return false;
}

std::unique_ptr<Store> OpenSqliteStore(const StoreOptions& options) { return std::make_unique<SqliteStore>(options); }

int CurrentSchemaVersion() { return kSchemaVersion; }

}  // namespace vesk::gateway
