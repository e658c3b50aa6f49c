// The gateway's store: the truth about every message. Each state change is
// one transaction, committed before the action it records is taken further
// (a received message is committed before it is deleted from the modem; a
// send's outcome is committed before the modem takes the next message).
//
// An outgoing message's life:
//
//                    Claim: a free modem takes it
//   Queue ──▶ queued ─────────────────────────────▶ sending ──── every part accepted ────▶ sent
//             ▲  │                                 │ │ │ │                                 │
//             │  │ not_after passed (ExpireDue)    │ │ │ │ part refused for good,          │ reports: every
//             │  └───────────────▶ expired         │ │ │ │ or temporary errors after       │ part delivered
//             │                                    │ │ │ │ max_attempts (RecordFailed)     ▼
//             └──── temporary error (RecordRetry) ─┘ │ │ └──────────────▶ failed ◀────── delivered
//                   next_attempt = now + backoff     │ │                    ▲     a report: a part
//                                                    │ │                    └──── failed for good
//            body written, no final answer (RecordUncertain)
//                                                    │ └──────────────────▶ uncertain
//            at restart (Recover): phase 1 ──────────┘
//            at restart (Recover): phase 0 ─────────▶ queued
//
//   `sending` has a phase: 0 from the claim until the modem is asked for the
//   message body's prompt, 1 from then on (MarkWriting, committed before the
//   body is written). A gateway that dies leaves its `sending` messages
//   behind; Recover, at the next start, puts phase 0 back in the queue
//   (nothing reached the modem) and makes phase 1 `uncertain` (the modem may
//   have sent it), so no message is ever written to a modem twice.
//   `uncertain` is never left by the gateway: the operator decides. Reports
//   move `sent` (and `failed` or `uncertain` parts that were accepted) on.
//
//   Who takes each transition: Queue is any process (`veskgsm queue`, the
//   gateway, its HTTP API); Claim, MarkWriting and the Record* calls the
//   modem's worker thread that claimed the message; ExpireDue, Recover and
//   ReclaimExpired the gateway's main thread; RecordReport the worker of the
//   modem the report came from. A Record* call for a message this claimer
//   does not hold in `sending` fails with StoreError and changes nothing.
//
//   Several gateways may share one store (PostgreSQL): a claim is made in
//   one transaction (FOR UPDATE SKIP LOCKED, so two hosts never take the
//   same message) and carries a lease (`claimed_by`, `lease_until`) that its
//   gateway renews while it runs (RenewLeases). A gateway that dies leaves
//   its claims to expire; any other then settles them as Recover would
//   (ReclaimExpired): phase 0 back to the queue, for another modem to send,
//   phase 1 `uncertain`. A gateway whose lease ran out while it was alive
//   finds its claim gone at its next Record* or MarkWriting, which fail:
//   a body it had not begun is never written.
//
// A received message: single messages go in whole (AddMessage); a part of
// a long message waits in the store (AddPart) until its message is
// complete, and is put together in the same transaction as the last part
// arrives. Parts that never complete become one message marked incomplete
// after a time (FinishStaleParts), never dropped.
//
// Exactly once, as the application sees it, is built from at least once
// plus a key: a message's key is the modem's IMEI, the sender, the service
// centre time stamp (with its zone), the concatenation reference and the
// text. A message whose key is already in the inbox is not stored again; a
// part whose PDU that modem already gave is not stored again either.
//
// Every method may be called from any thread; a store serialises them.
// Failures of the store itself (disk full, a corrupt file) throw StoreError.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/gateway/Time.h"

namespace vesk::gateway {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class MessageState { Queued, Sending, Sent, Delivered, Failed, Expired, Uncertain };

const char* StateName(MessageState state);
std::optional<MessageState> StateFromName(const std::string& name);
// The states a message can leave no more by itself.
bool IsFinal(MessageState state);

// Why a message failed, or why its last attempt did. kind: "temporary",
// "permanent", "uncertain", "expired", "delivery" (a status report), or
// "restart" (the gateway stopped during the send). code: the modem's error
// number (+CMS ERROR: 38 gives 38), or the report's status; absent when none.
struct SendError {
  std::string kind;
  std::optional<int> code;
  std::string text;
};

struct NewMessage {
  std::string to;                 // normalised: an optional '+' and digits
  std::string text;               // UTF-8, not empty
  std::string encoding = "auto";  // auto, 7bit, 8bit, ucs2
  bool flash = false;
  int priority = 0;  // higher first
  std::optional<Millis> notBefore, notAfter;
  std::string modem;  // the modem that must send it; empty: any
  int parts = 1;
  bool report = false;  // ask for a delivery report whichever modem sends it
};

// Queue with an idempotency key: the first request with a key queues the
// message; a repeat with the same key and the same request (fingerprint)
// gets the first one's id and queues nothing; the same key with another
// request is a conflict and queues nothing either.
struct QueueOnceResult {
  std::int64_t id = 0;
  bool repeated = false;
  bool conflict = false;
};

// One part of a message the modem accepted, and what the network said.
struct PartInfo {
  int number = 1;
  int reference = -1;  // TP-MR; -1 when the modem gave none
  std::string modem;
  Millis sentAt = 0;
  std::string state;          // "sent", "delivered", "pending" (the centre keeps trying), "failed"
  std::optional<int> status;  // TP-ST of the last report
};

struct OutboxMessage {
  std::int64_t id = 0;
  std::string to, text, encoding;
  bool flash = false;
  bool report = false;
  int priority = 0;
  std::optional<Millis> notBefore, notAfter;
  std::string modem;   // asked for; empty: any
  std::string sentBy;  // the modem that took it last
  MessageState state = MessageState::Queued;
  int attempts = 0;
  int phase = 0;
  Millis nextAttempt = 0;
  int partCount = 1;
  std::optional<SendError> error;
  Millis created = 0, updated = 0;
  std::vector<PartInfo> parts;
};

struct ClaimRequest {
  std::string modem;    // the modem that will send
  std::string claimer;  // this gateway
  Millis now = 0;
  Millis leaseMs = 60000;
  bool report = false;  // the modem asks for delivery reports
  // A message that failed temporarily on this modem is left to the other
  // modems until this long after it fell due again.
  Millis retryElsewhere = 0;
};

// Recover's outcome: what went back to the queue and what became uncertain.
struct Recovered {
  std::vector<std::int64_t> requeued, uncertain;
};

struct IncomingMessage {
  std::string modem, imei;
  std::string sender, smsc;
  std::string text;       // UTF-8
  std::string timestamp;  // the centre's time stamp, the sender's local time, ISO 8601; empty when none
  int timezone = 0;       // quarter hours east of Greenwich
  int reference = -1;     // concatenation reference; -1 for a single message
  int parts = 1;
  bool incomplete = false;
  Millis received = 0;
};

struct IncomingPart {
  std::string modem, imei, storage;
  std::string sender, smsc;
  std::string timestamp;
  int timezone = 0;
  int reference = 0;
  int referenceBits = 8;
  int total = 1;
  int number = 1;
  std::string pdu;   // as the modem gave it
  std::string text;  // this part's own text, UTF-8
  Millis received = 0;
};

// Puts a message together from its parts (in part order; with `complete`
// false some are missing): the text, UTF-8.
using Assembler = std::function<std::string(const std::vector<IncomingPart>& parts, bool complete)>;

struct InboxEntry {
  std::int64_t id = 0;
  std::string modem, imei, sender, smsc, text, timestamp;
  int timezone = 0;
  int reference = -1;
  int parts = 1;
  bool incomplete = false;
  Millis received = 0;
};

struct AddResult {
  std::int64_t id = 0;     // the inbox entry (the earlier one for a duplicate); 0 when none yet
  bool duplicate = false;  // the message (or the part) was there already
};

// A delivery report, as the modem gave it (TS 23.040 9.2.2.3).
struct StatusReport {
  std::string modem;
  int reference = 0;      // TP-MR of the message it reports on
  std::string recipient;  // TP-RA
  Millis submitted = 0;   // TP-SCTS, when the centre took the message (UTC)
  Millis discharged = 0;  // TP-DT (UTC)
  int status = 0;         // TP-ST
  Millis received = 0;
};

// A part a report may be about.
struct PartCandidate {
  std::int64_t messageId = 0;
  int number = 0;
  std::string recipient;
  Millis sentAt = 0;
  std::string state;
};

struct ModemStatus {
  std::string name, gateway, port, imei;
  bool connected = false;
  std::optional<int> signal;
  // The SIM ("ready", "pin", "puk", "absent"; empty when not known), the
  // network registration ("home", "roaming", "searching", "denied",
  // "unregistered", "unknown"; empty when not known) and the operator's name.
  std::string sim, registration, operatorName;
  std::string lastError;
  std::optional<Millis> lastErrorAt;
  Millis updated = 0;
};

struct GatewayStatus {
  std::string name;
  int pid = 0;
  Millis started = 0, heartbeat = 0;
  std::optional<Millis> stopped;
};

struct Event {
  std::int64_t id = 0;
  Millis at = 0;
  std::string kind;
  std::optional<std::int64_t> messageId, inboxId;
  std::string modem, detail;
};

// How many events of a kind (and modem) fell in each bucket of `bucket`
// milliseconds from `since` (bucket 0 starts at `since`).
struct EventCount {
  std::string kind, modem;
  int bucket = 0;
  int count = 0;
};

// A webhook: its URL and the event types it is sent ("received", "sent",
// "delivered", "failed", "uncertain", "modem").
struct WebhookTarget {
  std::string url;
  std::set<std::string> events;
};

// One event on its way to one webhook. `key` is the id the receiver sees
// (the same on every attempt); `body` is fixed before the first attempt
// (empty until then).
struct Delivery {
  std::int64_t id = 0;
  std::string key, url, type;
  std::int64_t eventId = 0;
  Millis eventAt = 0;
  std::optional<std::int64_t> messageId, inboxId;
  std::string modem, detail;
  std::string body;
  int attempts = 0;
  Millis created = 0;
};

struct DeliveryStats {
  int pending = 0, done = 0, failed = 0;
};

// An event waiting for its hook.
struct HookJob {
  Event event;
  int attempts = 0;
};

struct MessageFilter {
  std::optional<MessageState> state;
  std::optional<std::int64_t> id;
  std::int64_t after = 0;
  int limit = 1000;
};

class Store {
 public:
  virtual ~Store() = default;

  // ---------------------------------------------------------- outbox
  // Stores a new `queued` message; returns its id. The caller has checked
  // it (CheckNewMessage).
  virtual std::int64_t Queue(const NewMessage& message, Millis now) = 0;
  // The same under an idempotency key (see QueueOnceResult), in one
  // transaction. Keys are kept for a day (PruneIdempotencyKeys).
  virtual QueueOnceResult QueueOnce(const NewMessage& message, const std::string& key, const std::string& fingerprint,
                                    Millis now) = 0;
  virtual void PruneIdempotencyKeys(Millis olderThan) = 0;
  // The next message for this modem, moved to `sending` (phase 0) with one
  // more attempt: the highest priority first, then the oldest, among those
  // queued, due (next_attempt and not_before reached), not expired, and
  // meant for this modem or for any. One this modem just failed waits
  // `retryElsewhere` longer for it, so that another modem tries first.
  virtual std::optional<OutboxMessage> Claim(const ClaimRequest& request) = 0;
  virtual void MarkWriting(std::int64_t id, const std::string& claimer, Millis now) = 0;
  // Every part accepted, with the reference of each (in part order).
  virtual void RecordSent(std::int64_t id, const std::string& claimer, const std::vector<int>& references,
                          Millis now) = 0;
  virtual void RecordRetry(std::int64_t id, const std::string& claimer, const SendError& error, Millis nextAttempt,
                           Millis now) = 0;
  // `references`: the parts accepted before the failure, kept as sent parts.
  virtual void RecordFailed(std::int64_t id, const std::string& claimer, const SendError& error,
                            const std::vector<int>& references, Millis now) = 0;
  virtual void RecordUncertain(std::int64_t id, const std::string& claimer, const SendError& error,
                               const std::vector<int>& references, Millis now) = 0;
  // Queued messages whose not_after has passed become `expired`; returns
  // their ids.
  virtual std::vector<std::int64_t> ExpireDue(Millis now) = 0;
  // Messages this claimer left in `sending` (a crash, a kill), and others'
  // whose lease ran out: see the head.
  virtual Recovered Recover(const std::string& claimer, Millis now) = 0;
  // Other claimers' `sending` messages whose lease ran out, settled as
  // Recover settles them.
  virtual Recovered ReclaimExpired(Millis now) = 0;
  // This claimer's `sending` messages: their lease runs until now + lease.
  virtual void RenewLeases(const std::string& claimer, Millis now, Millis lease) = 0;
  // When the next queued message becomes due: `now` or earlier when one is
  // due already; empty when nothing waits.
  virtual std::optional<Millis> NextDue(Millis now) = 0;

  // ---------------------------------------------------------- reports
  // The sent parts of `modem` with this reference, the latest first.
  virtual std::vector<PartCandidate> ReportCandidates(const std::string& modem, int reference) = 0;
  // Keeps the report, and when `match` names a part, sets that part's
  // status and moves its message on; returns the message's state then.
  virtual std::optional<MessageState> RecordReport(const StatusReport& report,
                                                   const std::optional<PartCandidate>& match) = 0;

  // ---------------------------------------------------------- inbox
  virtual AddResult AddMessage(const IncomingMessage& message) = 0;
  // Keeps a part; when it completes its message, the message is put
  // together by `assemble` and stored in the same transaction (the result
  // then has its id).
  virtual AddResult AddPart(const IncomingPart& part, const Assembler& assemble) = 0;
  // Parts whose first arrived before `olderThan` become messages marked
  // incomplete; returns their ids.
  virtual std::vector<std::int64_t> FinishStaleParts(Millis olderThan, Millis now, const Assembler& assemble) = 0;
  // A stored message that does not decode, kept as the modem gave it.
  virtual void AddUndecoded(const std::string& modem, const std::string& imei, const std::string& storage,
                            const std::string& pdu, const std::string& reason, Millis now) = 0;
  // How many parts wait for the rest of their message.
  virtual int PendingParts() = 0;

  // ---------------------------------------------------------- reading
  virtual std::vector<OutboxMessage> ListMessages(const MessageFilter& filter) = 0;
  virtual std::optional<OutboxMessage> GetMessage(std::int64_t id) = 0;
  virtual std::vector<InboxEntry> ListInbox(std::int64_t after, int limit) = 0;
  virtual std::optional<InboxEntry> GetInbox(std::int64_t id) = 0;
  virtual std::map<std::string, int> CountByState() = 0;
  // Queued messages that name a modem, by modem.
  virtual std::map<std::string, int> QueuedByModem() = 0;
  // Events of these kinds from `since` on, counted by kind, modem and bucket.
  virtual std::vector<EventCount> CountEvents(const std::set<std::string>& kinds, Millis since, Millis bucket) = 0;
  virtual std::vector<Event> ListEvents(std::int64_t after, int limit) = 0;
  // The latest events of these kinds, the newest first.
  virtual std::vector<Event> RecentEvents(const std::set<std::string>& kinds, int limit) = 0;
  // How many stored messages did not decode.
  virtual int UndecodedCount() = 0;

  // ---------------------------------------------------------- status
  virtual void UpdateModem(const ModemStatus& status) = 0;
  virtual std::vector<ModemStatus> ListModems() = 0;
  virtual void UpdateGateway(const GatewayStatus& status) = 0;
  virtual std::vector<GatewayStatus> ListGateways() = 0;
  // An event of the gateway itself (a modem connected, lost, refused ...).
  virtual void Log(const std::string& kind, const std::string& modem, const std::string& detail, Millis now) = 0;

  // ---------------------------------------------------------- hooks
  // Events of these kinds ("received", "sent", "delivered", "failed") wait
  // for a hook from now on.
  virtual void SetHookedEvents(const std::set<std::string>& kinds) = 0;
  // The oldest due event of this store's owner (StoreOptions::owner)
  // waiting for its hook.
  virtual std::optional<HookJob> NextHookJob(Millis now) = 0;
  // When the next hook falls due; empty when none waits.
  virtual std::optional<Millis> NextHookDue() = 0;
  // `retryAt` empty: done (ok, or given up after the last attempt).
  virtual void HookFinished(std::int64_t eventId, bool ok, const std::string& error, std::optional<Millis> retryAt,
                            Millis now) = 0;

  // ---------------------------------------------------------- webhooks
  // Events committed from now on get one delivery for each of these
  // webhooks that takes their type (WebhookType), in the same transaction.
  virtual void SetWebhooks(const std::vector<WebhookTarget>& webhooks) = 0;
  // The oldest due delivery to one of `urls`, held by `claimer` until
  // now + lease (another gateway may take it after that).
  virtual std::optional<Delivery> ClaimDelivery(const std::vector<std::string>& urls, const std::string& claimer,
                                                Millis now, Millis lease) = 0;
  // Fixes the body of a delivery that has none yet; returns the body that
  // holds (the one fixed before, if any).
  virtual std::string FixDeliveryBody(std::int64_t id, const std::string& body) = 0;
  // `retryAt` empty: done (ok, or given up). `status`: the receiver's HTTP
  // status; 0 when none came.
  virtual void DeliveryFinished(std::int64_t id, const std::string& claimer, bool ok, int status,
                                const std::string& error, std::optional<Millis> retryAt, Millis now) = 0;
  // When the next delivery to one of `urls` falls due; empty when none.
  virtual std::optional<Millis> NextDeliveryDue(const std::vector<std::string>& urls) = 0;
  virtual DeliveryStats CountDeliveries() = 0;
  // Every delivery of an event kind, oldest first (tests, the operator).
  virtual std::vector<Delivery> ListDeliveries(std::int64_t after, int limit) = 0;
};

// The webhook event type of a store event kind: "received", "sent",
// "delivered", "failed" (also for "expired"), "uncertain", "modem" (for
// "connected" and "disconnected"); empty for the others.
std::string WebhookType(const std::string& kind);

// Opens the store the URL names (sqlite://FILE; `path` the resolved file),
// creating or migrating its schema. Throws StoreError with a clear reason
// for a file that is not a database, another application's database, a
// damaged one, or one made by a newer version; such a file is left as it
// is.
struct StoreOptions {
  std::string path;
  // The gateway that writes through this store: the hooks of the events it
  // commits are its own to run. Empty for the command line.
  std::string owner;
  bool create = true;  // false: a missing store is an error
  std::string synchronous = "normal";
  bool check = false;     // run a full consistency check first (the gateway's start)
  int schemaVersion = 0;  // tests: stop the migrations at this version (0: the newest)
};
std::unique_ptr<Store> OpenSqliteStore(const StoreOptions& options);

// The same on a PostgreSQL database (`url` as libpq takes it: a
// postgresql:// URL or key=value pairs), shared by any number of gateways.
// The schema is created and migrated under an advisory lock, so several
// processes may start at once on an empty database. `connections`: how
// many calls may run at once.
std::unique_ptr<Store> OpenPostgresStore(const std::string& url, const StoreOptions& options, int connections = 4);

// The store a configuration names: SQLite or PostgreSQL by its URL
// (`options.path` is taken from the settings).
struct StoreSettings;
std::unique_ptr<Store> OpenStore(const StoreSettings& settings, StoreOptions options);

// The schema version this build writes.
int CurrentSchemaVersion();

}  // namespace vesk::gateway
