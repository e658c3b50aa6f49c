#include "tools/gateway/MeteredStore.h"

#include <chrono>

namespace vesk::gateway {

namespace {

// Times one call into its operation's histogram, also when it throws.
class Timed {
 public:
  explicit Timed(Histogram& h) : h_(h), start_(std::chrono::steady_clock::now()) {}
  ~Timed() { h_.Observe(std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count()); }

 private:
  Histogram& h_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace

MeteredStore::MeteredStore(std::unique_ptr<Store> inner, Metrics& metrics) : inner_(std::move(inner)) {
  queue_ = &metrics.store["queue"];
  queueOnce_ = &metrics.store["queue_once"];
  pruneIdempotencyKeys_ = &metrics.store["prune_idempotency_keys"];
  claim_ = &metrics.store["claim"];
  markWriting_ = &metrics.store["mark_writing"];
  recordSent_ = &metrics.store["record_sent"];
  recordRetry_ = &metrics.store["record_retry"];
  recordFailed_ = &metrics.store["record_failed"];
  recordUncertain_ = &metrics.store["record_uncertain"];
  expireDue_ = &metrics.store["expire_due"];
  recover_ = &metrics.store["recover"];
  reclaimExpired_ = &metrics.store["reclaim_expired"];
  renewLeases_ = &metrics.store["renew_leases"];
  nextDue_ = &metrics.store["next_due"];
  reportCandidates_ = &metrics.store["report_candidates"];
  recordReport_ = &metrics.store["record_report"];
  addMessage_ = &metrics.store["add_message"];
  addPart_ = &metrics.store["add_part"];
  finishStaleParts_ = &metrics.store["finish_stale_parts"];
  addUndecoded_ = &metrics.store["add_undecoded"];
  pendingParts_ = &metrics.store["pending_parts"];
  listMessages_ = &metrics.store["list_messages"];
  getMessage_ = &metrics.store["get_message"];
  listInbox_ = &metrics.store["list_inbox"];
  getInbox_ = &metrics.store["get_inbox"];
  countByState_ = &metrics.store["count_by_state"];
  queuedByModem_ = &metrics.store["queued_by_modem"];
  countEvents_ = &metrics.store["count_events"];
  listEvents_ = &metrics.store["list_events"];
  recentEvents_ = &metrics.store["recent_events"];
  undecodedCount_ = &metrics.store["undecoded_count"];
  updateModem_ = &metrics.store["update_modem"];
  listModems_ = &metrics.store["list_modems"];
  updateGateway_ = &metrics.store["update_gateway"];
  listGateways_ = &metrics.store["list_gateways"];
  log_ = &metrics.store["log"];
  setHookedEvents_ = &metrics.store["set_hooked_events"];
  nextHookJob_ = &metrics.store["next_hook_job"];
  nextHookDue_ = &metrics.store["next_hook_due"];
  hookFinished_ = &metrics.store["hook_finished"];
  setWebhooks_ = &metrics.store["set_webhooks"];
  claimDelivery_ = &metrics.store["claim_delivery"];
  fixDeliveryBody_ = &metrics.store["fix_delivery_body"];
  deliveryFinished_ = &metrics.store["delivery_finished"];
  nextDeliveryDue_ = &metrics.store["next_delivery_due"];
  countDeliveries_ = &metrics.store["count_deliveries"];
  listDeliveries_ = &metrics.store["list_deliveries"];
}

std::int64_t MeteredStore::Queue(const NewMessage& message, Millis now) {
  Timed t(*queue_);
  return inner_->Queue(message, now);
}

QueueOnceResult MeteredStore::QueueOnce(const NewMessage& message, const std::string& key,
                                        const std::string& fingerprint, Millis now) {
  Timed t(*queueOnce_);
  return inner_->QueueOnce(message, key, fingerprint, now);
}

void MeteredStore::PruneIdempotencyKeys(Millis olderThan) {
  Timed t(*pruneIdempotencyKeys_);
  inner_->PruneIdempotencyKeys(olderThan);
}

std::optional<OutboxMessage> MeteredStore::Claim(const ClaimRequest& request) {
  Timed t(*claim_);
  return inner_->Claim(request);
}

void MeteredStore::MarkWriting(std::int64_t id, const std::string& claimer, Millis now) {
  Timed t(*markWriting_);
  inner_->MarkWriting(id, claimer, now);
}

void MeteredStore::RecordSent(std::int64_t id, const std::string& claimer, const std::vector<int>& references,
                              Millis now) {
  Timed t(*recordSent_);
  inner_->RecordSent(id, claimer, references, now);
}

void MeteredStore::RecordRetry(std::int64_t id, const std::string& claimer, const SendError& error, Millis nextAttempt,
                               Millis now) {
  Timed t(*recordRetry_);
  inner_->RecordRetry(id, claimer, error, nextAttempt, now);
}

void MeteredStore::RecordFailed(std::int64_t id, const std::string& claimer, const SendError& error,
                                const std::vector<int>& references, Millis now) {
  Timed t(*recordFailed_);
  inner_->RecordFailed(id, claimer, error, references, now);
}

void MeteredStore::RecordUncertain(std::int64_t id, const std::string& claimer, const SendError& error,
                                   const std::vector<int>& references, Millis now) {
  Timed t(*recordUncertain_);
  inner_->RecordUncertain(id, claimer, error, references, now);
}

std::vector<std::int64_t> MeteredStore::ExpireDue(Millis now) {
  Timed t(*expireDue_);
  return inner_->ExpireDue(now);
}

Recovered MeteredStore::Recover(const std::string& claimer, Millis now) {
  Timed t(*recover_);
  return inner_->Recover(claimer, now);
}

Recovered MeteredStore::ReclaimExpired(Millis now) {
  Timed t(*reclaimExpired_);
  return inner_->ReclaimExpired(now);
}

void MeteredStore::RenewLeases(const std::string& claimer, Millis now, Millis lease) {
  Timed t(*renewLeases_);
  inner_->RenewLeases(claimer, now, lease);
}

std::optional<Millis> MeteredStore::NextDue(Millis now) {
  Timed t(*nextDue_);
  return inner_->NextDue(now);
}

std::vector<PartCandidate> MeteredStore::ReportCandidates(const std::string& modem, int reference) {
  Timed t(*reportCandidates_);
  return inner_->ReportCandidates(modem, reference);
}

std::optional<MessageState> MeteredStore::RecordReport(const StatusReport& report,
                                                       const std::optional<PartCandidate>& match) {
  Timed t(*recordReport_);
  return inner_->RecordReport(report, match);
}

AddResult MeteredStore::AddMessage(const IncomingMessage& message) {
  Timed t(*addMessage_);
  return inner_->AddMessage(message);
}

AddResult MeteredStore::AddPart(const IncomingPart& part, const Assembler& assemble) {
  Timed t(*addPart_);
  return inner_->AddPart(part, assemble);
}

std::vector<std::int64_t> MeteredStore::FinishStaleParts(Millis olderThan, Millis now, const Assembler& assemble) {
  Timed t(*finishStaleParts_);
  return inner_->FinishStaleParts(olderThan, now, assemble);
}

void MeteredStore::AddUndecoded(const std::string& modem, const std::string& imei, const std::string& storage,
                                const std::string& pdu, const std::string& reason, Millis now) {
  Timed t(*addUndecoded_);
  inner_->AddUndecoded(modem, imei, storage, pdu, reason, now);
}

int MeteredStore::PendingParts() {
  Timed t(*pendingParts_);
  return inner_->PendingParts();
}

std::vector<OutboxMessage> MeteredStore::ListMessages(const MessageFilter& filter) {
  Timed t(*listMessages_);
  return inner_->ListMessages(filter);
}

std::optional<OutboxMessage> MeteredStore::GetMessage(std::int64_t id) {
  Timed t(*getMessage_);
  return inner_->GetMessage(id);
}

std::vector<InboxEntry> MeteredStore::ListInbox(std::int64_t after, int limit) {
  Timed t(*listInbox_);
  return inner_->ListInbox(after, limit);
}

std::optional<InboxEntry> MeteredStore::GetInbox(std::int64_t id) {
  Timed t(*getInbox_);
  return inner_->GetInbox(id);
}

std::map<std::string, int> MeteredStore::CountByState() {
  Timed t(*countByState_);
  return inner_->CountByState();
}

std::map<std::string, int> MeteredStore::QueuedByModem() {
  Timed t(*queuedByModem_);
  return inner_->QueuedByModem();
}

std::vector<EventCount> MeteredStore::CountEvents(const std::set<std::string>& kinds, Millis since, Millis bucket) {
  Timed t(*countEvents_);
  return inner_->CountEvents(kinds, since, bucket);
}

std::vector<Event> MeteredStore::ListEvents(std::int64_t after, int limit) {
  Timed t(*listEvents_);
  return inner_->ListEvents(after, limit);
}

std::vector<Event> MeteredStore::RecentEvents(const std::set<std::string>& kinds, int limit) {
  Timed t(*recentEvents_);
  return inner_->RecentEvents(kinds, limit);
}

int MeteredStore::UndecodedCount() {
  Timed t(*undecodedCount_);
  return inner_->UndecodedCount();
}

void MeteredStore::UpdateModem(const ModemStatus& status) {
  Timed t(*updateModem_);
  inner_->UpdateModem(status);
}

std::vector<ModemStatus> MeteredStore::ListModems() {
  Timed t(*listModems_);
  return inner_->ListModems();
}

void MeteredStore::UpdateGateway(const GatewayStatus& status) {
  Timed t(*updateGateway_);
  inner_->UpdateGateway(status);
}

std::vector<GatewayStatus> MeteredStore::ListGateways() {
  Timed t(*listGateways_);
  return inner_->ListGateways();
}

void MeteredStore::Log(const std::string& kind, const std::string& modem, const std::string& detail, Millis now) {
  Timed t(*log_);
  inner_->Log(kind, modem, detail, now);
}

void MeteredStore::SetHookedEvents(const std::set<std::string>& kinds) {
  Timed t(*setHookedEvents_);
  inner_->SetHookedEvents(kinds);
}

std::optional<HookJob> MeteredStore::NextHookJob(Millis now) {
  Timed t(*nextHookJob_);
  return inner_->NextHookJob(now);
}

std::optional<Millis> MeteredStore::NextHookDue() {
  Timed t(*nextHookDue_);
  return inner_->NextHookDue();
}

void MeteredStore::HookFinished(std::int64_t eventId, bool ok, const std::string& error, std::optional<Millis> retryAt,
                                Millis now) {
  Timed t(*hookFinished_);
  inner_->HookFinished(eventId, ok, error, retryAt, now);
}

void MeteredStore::SetWebhooks(const std::vector<WebhookTarget>& webhooks) {
  Timed t(*setWebhooks_);
  inner_->SetWebhooks(webhooks);
}

std::optional<Delivery> MeteredStore::ClaimDelivery(const std::vector<std::string>& urls, const std::string& claimer,
                                                    Millis now, Millis lease) {
  Timed t(*claimDelivery_);
  return inner_->ClaimDelivery(urls, claimer, now, lease);
}

std::string MeteredStore::FixDeliveryBody(std::int64_t id, const std::string& body) {
  Timed t(*fixDeliveryBody_);
  return inner_->FixDeliveryBody(id, body);
}

void MeteredStore::DeliveryFinished(std::int64_t id, const std::string& claimer, bool ok, int status,
                                    const std::string& error, std::optional<Millis> retryAt, Millis now) {
  Timed t(*deliveryFinished_);
  inner_->DeliveryFinished(id, claimer, ok, status, error, retryAt, now);
}

std::optional<Millis> MeteredStore::NextDeliveryDue(const std::vector<std::string>& urls) {
  Timed t(*nextDeliveryDue_);
  return inner_->NextDeliveryDue(urls);
}

DeliveryStats MeteredStore::CountDeliveries() {
  Timed t(*countDeliveries_);
  return inner_->CountDeliveries();
}

std::vector<Delivery> MeteredStore::ListDeliveries(std::int64_t after, int limit) {
  Timed t(*listDeliveries_);
  return inner_->ListDeliveries(after, limit);
}

}  // namespace vesk::gateway
