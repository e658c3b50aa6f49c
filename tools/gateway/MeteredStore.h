// A store that times every call into the metrics (Metrics::store, by
// operation: "claim", "queue", "add_message" ...) and passes it on.
#pragma once

#include <memory>

#include "tools/gateway/Metrics.h"
#include "tools/gateway/Store.h"

namespace vesk::gateway {

class MeteredStore final : public Store {
 public:
  // `metrics` outlives the store; its histograms are made here.
  MeteredStore(std::unique_ptr<Store> inner, Metrics& metrics);

  std::int64_t Queue(const NewMessage& message, Millis now) override;
  QueueOnceResult QueueOnce(const NewMessage& message, const std::string& key, const std::string& fingerprint,
                            Millis now) override;
  void PruneIdempotencyKeys(Millis olderThan) override;
  std::optional<OutboxMessage> Claim(const ClaimRequest& request) override;
  void MarkWriting(std::int64_t id, const std::string& claimer, Millis now) override;
  void RecordSent(std::int64_t id, const std::string& claimer, const std::vector<int>& references, Millis now) override;
  void RecordRetry(std::int64_t id, const std::string& claimer, const SendError& error, Millis nextAttempt,
                   Millis now) override;
  void RecordFailed(std::int64_t id, const std::string& claimer, const SendError& error,
                    const std::vector<int>& references, Millis now) override;
  void RecordUncertain(std::int64_t id, const std::string& claimer, const SendError& error,
                       const std::vector<int>& references, Millis now) override;
  std::vector<std::int64_t> ExpireDue(Millis now) override;
  Recovered Recover(const std::string& claimer, Millis now) override;
  Recovered ReclaimExpired(Millis now) override;
  void RenewLeases(const std::string& claimer, Millis now, Millis lease) override;
  std::optional<Millis> NextDue(Millis now) override;
  std::vector<PartCandidate> ReportCandidates(const std::string& modem, int reference) override;
  std::optional<MessageState> RecordReport(const StatusReport& report,
                                           const std::optional<PartCandidate>& match) override;
  AddResult AddMessage(const IncomingMessage& message) override;
  AddResult AddPart(const IncomingPart& part, const Assembler& assemble) override;
  std::vector<std::int64_t> FinishStaleParts(Millis olderThan, Millis now, const Assembler& assemble) override;
  void AddUndecoded(const std::string& modem, const std::string& imei, const std::string& storage,
                    const std::string& pdu, const std::string& reason, Millis now) override;
  int PendingParts() override;
  std::vector<OutboxMessage> ListMessages(const MessageFilter& filter) override;
  std::optional<OutboxMessage> GetMessage(std::int64_t id) override;
  std::vector<InboxEntry> ListInbox(std::int64_t after, int limit) override;
  std::optional<InboxEntry> GetInbox(std::int64_t id) override;
  std::map<std::string, int> CountByState() override;
  std::map<std::string, int> QueuedByModem() override;
  std::vector<EventCount> CountEvents(const std::set<std::string>& kinds, Millis since, Millis bucket) override;
  std::vector<Event> ListEvents(std::int64_t after, int limit) override;
  std::vector<Event> RecentEvents(const std::set<std::string>& kinds, int limit) override;
  int UndecodedCount() override;
  void UpdateModem(const ModemStatus& status) override;
  std::vector<ModemStatus> ListModems() override;
  void UpdateGateway(const GatewayStatus& status) override;
  std::vector<GatewayStatus> ListGateways() override;
  void Log(const std::string& kind, const std::string& modem, const std::string& detail, Millis now) override;
  void SetHookedEvents(const std::set<std::string>& kinds) override;
  std::optional<HookJob> NextHookJob(Millis now) override;
  std::optional<Millis> NextHookDue() override;
  void HookFinished(std::int64_t eventId, bool ok, const std::string& error, std::optional<Millis> retryAt,
                    Millis now) override;
  void SetWebhooks(const std::vector<WebhookTarget>& webhooks) override;
  std::optional<Delivery> ClaimDelivery(const std::vector<std::string>& urls, const std::string& claimer, Millis now,
                                        Millis lease) override;
  std::string FixDeliveryBody(std::int64_t id, const std::string& body) override;
  void DeliveryFinished(std::int64_t id, const std::string& claimer, bool ok, int status, const std::string& error,
                        std::optional<Millis> retryAt, Millis now) override;
  std::optional<Millis> NextDeliveryDue(const std::vector<std::string>& urls) override;
  DeliveryStats CountDeliveries() override;
  std::vector<Delivery> ListDeliveries(std::int64_t after, int limit) override;

 private:
  std::unique_ptr<Store> inner_;
  Histogram* queue_;
  Histogram* queueOnce_;
  Histogram* pruneIdempotencyKeys_;
  Histogram* claim_;
  Histogram* markWriting_;
  Histogram* recordSent_;
  Histogram* recordRetry_;
  Histogram* recordFailed_;
  Histogram* recordUncertain_;
  Histogram* expireDue_;
  Histogram* recover_;
  Histogram* reclaimExpired_;
  Histogram* renewLeases_;
  Histogram* nextDue_;
  Histogram* reportCandidates_;
  Histogram* recordReport_;
  Histogram* addMessage_;
  Histogram* addPart_;
  Histogram* finishStaleParts_;
  Histogram* addUndecoded_;
  Histogram* pendingParts_;
  Histogram* listMessages_;
  Histogram* getMessage_;
  Histogram* listInbox_;
  Histogram* getInbox_;
  Histogram* countByState_;
  Histogram* queuedByModem_;
  Histogram* countEvents_;
  Histogram* listEvents_;
  Histogram* recentEvents_;
  Histogram* undecodedCount_;
  Histogram* updateModem_;
  Histogram* listModems_;
  Histogram* updateGateway_;
  Histogram* listGateways_;
  Histogram* log_;
  Histogram* setHookedEvents_;
  Histogram* nextHookJob_;
  Histogram* nextHookDue_;
  Histogram* hookFinished_;
  Histogram* setWebhooks_;
  Histogram* claimDelivery_;
  Histogram* fixDeliveryBody_;
  Histogram* deliveryFinished_;
  Histogram* nextDeliveryDue_;
  Histogram* countDeliveries_;
  Histogram* listDeliveries_;
};

}  // namespace vesk::gateway
