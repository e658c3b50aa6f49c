// A store that passes every call on to a real one, or fails it with
// StoreError while it is switched off: a database that went away, for the
// API's 503 and the callers' recovery.
#pragma once

#include <atomic>
#include <memory>

#include "tools/gateway/Store.h"

namespace vesk::gateway::testing {

class FaultyStore final : public Store {
 public:
  explicit FaultyStore(std::unique_ptr<Store> inner) : inner_(std::move(inner)) {}
  void SetAvailable(bool available) { available_ = available; }
  Store& Inner() { return *inner_; }

  std::int64_t Queue(const NewMessage& message, Millis now) override {
    Check();
    return inner_->Queue(message, now);
  }
  QueueOnceResult QueueOnce(const NewMessage& message, const std::string& key, const std::string& fingerprint,
                            Millis now) override {
    Check();
    return inner_->QueueOnce(message, key, fingerprint, now);
  }
  void PruneIdempotencyKeys(Millis olderThan) override {
    Check();
    inner_->PruneIdempotencyKeys(olderThan);
  }
  std::optional<OutboxMessage> Claim(const ClaimRequest& request) override {
    Check();
    return inner_->Claim(request);
  }
  void MarkWriting(std::int64_t id, const std::string& claimer, Millis now) override {
    Check();
    inner_->MarkWriting(id, claimer, now);
  }
  void RecordSent(std::int64_t id, const std::string& claimer, const std::vector<int>& references,
                  Millis now) override {
    Check();
    inner_->RecordSent(id, claimer, references, now);
  }
  void RecordRetry(std::int64_t id, const std::string& claimer, const SendError& error, Millis nextAttempt,
                   Millis now) override {
    Check();
    inner_->RecordRetry(id, claimer, error, nextAttempt, now);
  }
  void RecordFailed(std::int64_t id, const std::string& claimer, const SendError& error,
                    const std::vector<int>& references, Millis now) override {
    Check();
    inner_->RecordFailed(id, claimer, error, references, now);
  }
  void RecordUncertain(std::int64_t id, const std::string& claimer, const SendError& error,
                       const std::vector<int>& references, Millis now) override {
    Check();
    inner_->RecordUncertain(id, claimer, error, references, now);
  }
  std::vector<std::int64_t> ExpireDue(Millis now) override {
    Check();
    return inner_->ExpireDue(now);
  }
  Recovered Recover(const std::string& claimer, Millis now) override {
    Check();
    return inner_->Recover(claimer, now);
  }
  Recovered ReclaimExpired(Millis now) override {
    Check();
    return inner_->ReclaimExpired(now);
  }
  void RenewLeases(const std::string& claimer, Millis now, Millis lease) override {
    Check();
    inner_->RenewLeases(claimer, now, lease);
  }
  std::optional<Millis> NextDue(Millis now) override {
    Check();
    return inner_->NextDue(now);
  }
  std::vector<PartCandidate> ReportCandidates(const std::string& modem, int reference) override {
    Check();
    return inner_->ReportCandidates(modem, reference);
  }
  std::optional<MessageState> RecordReport(const StatusReport& report,
                                           const std::optional<PartCandidate>& match) override {
    Check();
    return inner_->RecordReport(report, match);
  }
  AddResult AddMessage(const IncomingMessage& message) override {
    Check();
    return inner_->AddMessage(message);
  }
  AddResult AddPart(const IncomingPart& part, const Assembler& assemble) override {
    Check();
    return inner_->AddPart(part, assemble);
  }
  std::vector<std::int64_t> FinishStaleParts(Millis olderThan, Millis now, const Assembler& assemble) override {
    Check();
    return inner_->FinishStaleParts(olderThan, now, assemble);
  }
  void AddUndecoded(const std::string& modem, const std::string& imei, const std::string& storage,
                    const std::string& pdu, const std::string& reason, Millis now) override {
    Check();
    inner_->AddUndecoded(modem, imei, storage, pdu, reason, now);
  }
  int PendingParts() override {
    Check();
    return inner_->PendingParts();
  }
  std::vector<OutboxMessage> ListMessages(const MessageFilter& filter) override {
    Check();
    return inner_->ListMessages(filter);
  }
  std::optional<OutboxMessage> GetMessage(std::int64_t id) override {
    Check();
    return inner_->GetMessage(id);
  }
  std::vector<InboxEntry> ListInbox(std::int64_t after, int limit) override {
    Check();
    return inner_->ListInbox(after, limit);
  }
  std::optional<InboxEntry> GetInbox(std::int64_t id) override {
    Check();
    return inner_->GetInbox(id);
  }
  std::map<std::string, int> CountByState() override {
    Check();
    return inner_->CountByState();
  }
  std::map<std::string, int> QueuedByModem() override {
    Check();
    return inner_->QueuedByModem();
  }
  std::vector<EventCount> CountEvents(const std::set<std::string>& kinds, Millis since, Millis bucket) override {
    Check();
    return inner_->CountEvents(kinds, since, bucket);
  }
  std::vector<Event> ListEvents(std::int64_t after, int limit) override {
    Check();
    return inner_->ListEvents(after, limit);
  }
  std::vector<Event> RecentEvents(const std::set<std::string>& kinds, int limit) override {
    Check();
    return inner_->RecentEvents(kinds, limit);
  }
  int UndecodedCount() override {
    Check();
    return inner_->UndecodedCount();
  }
  void UpdateModem(const ModemStatus& status) override {
    Check();
    inner_->UpdateModem(status);
  }
  std::vector<ModemStatus> ListModems() override {
    Check();
    return inner_->ListModems();
  }
  void UpdateGateway(const GatewayStatus& status) override {
    Check();
    inner_->UpdateGateway(status);
  }
  std::vector<GatewayStatus> ListGateways() override {
    Check();
    return inner_->ListGateways();
  }
  void Log(const std::string& kind, const std::string& modem, const std::string& detail, Millis now) override {
    Check();
    inner_->Log(kind, modem, detail, now);
  }
  void SetHookedEvents(const std::set<std::string>& kinds) override {
    Check();
    inner_->SetHookedEvents(kinds);
  }
  std::optional<HookJob> NextHookJob(Millis now) override {
    Check();
    return inner_->NextHookJob(now);
  }
  std::optional<Millis> NextHookDue() override {
    Check();
    return inner_->NextHookDue();
  }
  void HookFinished(std::int64_t eventId, bool ok, const std::string& error, std::optional<Millis> retryAt,
                    Millis now) override {
    Check();
    inner_->HookFinished(eventId, ok, error, retryAt, now);
  }
  void SetWebhooks(const std::vector<WebhookTarget>& webhooks) override {
    Check();
    inner_->SetWebhooks(webhooks);
  }
  std::optional<Delivery> ClaimDelivery(const std::vector<std::string>& urls, const std::string& claimer, Millis now,
                                        Millis lease) override {
    Check();
    return inner_->ClaimDelivery(urls, claimer, now, lease);
  }
  std::string FixDeliveryBody(std::int64_t id, const std::string& body) override {
    Check();
    return inner_->FixDeliveryBody(id, body);
  }
  void DeliveryFinished(std::int64_t id, const std::string& claimer, bool ok, int status, const std::string& error,
                        std::optional<Millis> retryAt, Millis now) override {
    Check();
    inner_->DeliveryFinished(id, claimer, ok, status, error, retryAt, now);
  }
  std::optional<Millis> NextDeliveryDue(const std::vector<std::string>& urls) override {
    Check();
    return inner_->NextDeliveryDue(urls);
  }
  DeliveryStats CountDeliveries() override {
    Check();
    return inner_->CountDeliveries();
  }
  std::vector<Delivery> ListDeliveries(std::int64_t after, int limit) override {
    Check();
    return inner_->ListDeliveries(after, limit);
  }

 private:
  void Check() const {
    if (!available_) throw StoreError("database is locked (the store was switched off by the test)");
  }

  std::unique_ptr<Store> inner_;
  std::atomic<bool> available_{true};
};

}  // namespace vesk::gateway::testing
