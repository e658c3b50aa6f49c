#include "tools/gateway/Incoming.h"

#include <cstdio>

#include "component/VeskGSM.h"
#include "incoming/Reassembly.h"

namespace vesk::gateway {

namespace {

// "2019-03-14T15:09:26": the sender's local time as the centre stamped it.
std::string LocalIso(TDateTime stamp) {
  if (stamp == 0) return "";
  int year, month, day, hour, minute, second, msec;
  DecodeDate(stamp, year, month, day);
  DecodeTime(stamp, hour, minute, second, msec);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
  return text;
}

}  // namespace

IncomingDecoder::IncomingDecoder() : codec_(std::make_unique<TVeskGSM>()) {}

IncomingDecoder::~IncomingDecoder() = default;

TakenMessage IncomingDecoder::Take(const ListedMessage& listed, const std::string& modem, const std::string& imei,
                                   const std::string& storage, Millis now) {
  TakenMessage t;
  if (listed.status == 2 || listed.status == 3) {
    t.kind = TakenMessage::Kind::NotReceived;
    return t;
  }
  if (listed.pdu.empty()) {
    t.reason = "the listing gave no PDU for this message";
    return t;
  }
  const PduHeader header = ReadPduHeader(listed.pdu);
  if (!header.error.empty()) {
    t.reason = header.error;
    return t;
  }
  if (header.type == PduType::Submit || header.type == PduType::StatusReport) {
    t.kind = TakenMessage::Kind::NotReceived;
    return t;
  }
  if (header.type != PduType::Deliver) {
    t.reason = "not an SMS-DELIVER PDU";
    return t;
  }
  // A part decodes by itself as "part 1 of 1"; every field but the text is
  // the same either way.
  const std::string pdu = header.part ? AsSinglePart(listed.pdu, *header.part) : listed.pdu;
  codec_->SMSContainer().Clear();
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0;
  bool skip = false;
  const WideString text = codec_->PDUSMSToString(pdu, phone, centre, stamp, zone, skip);
  const AnsiString error = codec_->GetLastDecodeError();
  if (!error.empty()) {
    t.reason = error;
    return t;
  }
  if (skip) {
    t.reason = "the decoder held the message back";
    return t;
  }
  if (header.part) {
    t.kind = TakenMessage::Kind::Part;
    IncomingPart& p = t.part;
    p.modem = modem;
    p.imei = imei;
    p.storage = storage;
    p.sender = WideToUtf8(AnsiToWide(phone));
    p.smsc = WideToUtf8(AnsiToWide(centre));
    p.timestamp = LocalIso(stamp);
    p.timezone = zone;
    p.reference = header.part->reference;
    p.referenceBits = header.part->referenceBits;
    p.total = header.part->total;
    p.number = header.part->number;
    p.pdu = listed.pdu;
    p.text = WideToUtf8(text);
    p.received = now;
    return t;
  }
  t.kind = TakenMessage::Kind::Message;
  IncomingMessage& m = t.message;
  m.modem = modem;
  m.imei = imei;
  m.sender = WideToUtf8(AnsiToWide(phone));
  m.smsc = WideToUtf8(AnsiToWide(centre));
  m.text = WideToUtf8(text);
  m.timestamp = LocalIso(stamp);
  m.timezone = zone;
  m.received = now;
  return t;
}

std::string IncomingDecoder::Assemble(const std::vector<IncomingPart>& parts, bool complete) {
  if (complete) {
    codec_->SMSContainer().Clear();
    for (std::size_t i = 0; i < parts.size(); ++i) {
      AnsiString phone, centre;
      TDateTime stamp = 0;
      int zone = 0;
      bool skip = false;
      const WideString text = codec_->PDUSMSToString(parts[i].pdu, phone, centre, stamp, zone, skip);
      if (!codec_->GetLastDecodeError().empty()) break;
      if (!skip && i + 1 == parts.size()) return WideToUtf8(text);
    }
    codec_->SMSContainer().Clear();
  }
  std::string joined;
  for (const IncomingPart& p : parts) joined += p.text;
  return joined;
}

}  // namespace vesk::gateway
