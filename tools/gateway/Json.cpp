#include "tools/gateway/Json.h"

namespace vesk::gateway {

using json = nlohmann::json;

namespace {

json OptionalTime(const std::optional<Millis>& t) { return t ? json(IsoUtc(*t)) : json(); }

std::string Short(const std::string& text, std::size_t max) {
  std::string line;
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  if (line.size() <= max) return line;
  std::size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;  // whole characters
  return line.substr(0, cut) + "...";
}

}  // namespace

json MessageJson(const OutboxMessage& m) {
  json parts = json::array();
  for (const PartInfo& p : m.parts)
    parts.push_back({{"reference", p.reference < 0 ? json() : json(p.reference)},
                     {"state", p.state},
                     {"status", p.status ? json(*p.status) : json()}});
  json error;
  if (m.error)
    error = {{"kind", m.error->kind}, {"code", m.error->code ? json(*m.error->code) : json()}, {"text", m.error->text}};
  std::string modem = !m.sentBy.empty() ? m.sentBy : m.modem;
  return {{"id", m.id},
          {"to", m.to},
          {"text", m.text},
          {"state", StateName(m.state)},
          {"attempts", m.attempts},
          {"modem", modem.empty() ? json() : json(modem)},
          {"parts", parts},
          {"part_count", m.partCount},
          {"error", error},
          {"priority", m.priority},
          {"encoding", m.encoding},
          {"not_before", OptionalTime(m.notBefore)},
          {"not_after", OptionalTime(m.notAfter)},
          {"created", IsoUtc(m.created)},
          {"updated", IsoUtc(m.updated)}};
}

json InboxJson(const InboxEntry& e) {
  return {{"id", e.id},
          {"from", e.sender},
          {"text", e.text},
          {"smsc", e.smsc},
          {"timestamp", e.timestamp.empty() ? json() : json(e.timestamp)},
          {"timezone", e.timezone},
          {"modem", e.modem},
          {"imei", e.imei},
          {"parts", e.parts},
          {"received", IsoUtc(e.received)},
          {"incomplete", e.incomplete}};
}

json ModemJson(const ModemStatus& m) {
  return {{"name", m.name},
          {"gateway", m.gateway},
          {"port", m.port},
          {"imei", m.imei.empty() ? json() : json(m.imei)},
          {"connected", m.connected},
          {"signal", m.signal ? json(*m.signal) : json()},
          {"last_error", m.lastError.empty() ? json() : json(m.lastError)},
          {"last_error_at", OptionalTime(m.lastErrorAt)},
          {"updated", IsoUtc(m.updated)}};
}

std::string MessageLine(const OutboxMessage& m) {
  std::string line = "#" + std::to_string(m.id) + " " + StateName(m.state) + " to " + m.to;
  const std::string modem = !m.sentBy.empty() ? m.sentBy : m.modem;
  if (!modem.empty()) line += " via " + modem;
  line += ", " + std::to_string(m.attempts) + " attempt" + (m.attempts == 1 ? "" : "s");
  if (!m.parts.empty()) {
    line += ", reference";
    if (m.parts.size() > 1) line += "s";
    for (std::size_t i = 0; i < m.parts.size(); ++i) line += (i ? "," : " ") + std::to_string(m.parts[i].reference);
  }
  if (m.error) line += " [" + m.error->kind + ": " + m.error->text + "]";
  return line + ": " + Short(m.text, 60);
}

std::string InboxLine(const InboxEntry& e) {
  std::string line = "#" + std::to_string(e.id) + " from " + e.sender + " on " + e.modem;
  if (!e.timestamp.empty()) line += " at " + e.timestamp;
  if (e.incomplete) line += " (incomplete)";
  return line + ": " + Short(e.text, 70);
}

std::string Dump(const json& object) { return object.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace vesk::gateway
