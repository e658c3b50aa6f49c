// The commands of the modem (TS 27.007, TS 27.005): one handler each, called
// by AtEngine::Execute with the command's form and arguments.
#include <algorithm>
#include <iterator>

#include "tools/simulator/AtEngine.h"
#include "tools/simulator/AtText.h"
#include "tools/simulator/GsmAlphabet.h"

namespace vesk::sim {

using namespace at;

// ---------------------------------------------------------------------------
// Call control and identification (TS 27.007 6, 7)

AtEngine::Result AtEngine::Chup(Form form, const Args&, Response&) {
  if (form == Form::Test) return Result::Ok();
  if (form != Form::Action) return Result::Error();
  call_ = CallState::Idle;
  return Result::Ok();
}

AtEngine::Result AtEngine::Clip(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test: response.Info("+CLIP: (0,1)"); return Result::Ok();
    case Form::Read: response.Info("+CLIP: " + Number(clip_ ? 1 : 0) + ",1"); return Result::Ok();
    case Form::Set:
      if (args.Count() > 1 || (args.Present(0) && (!args.Int(0, n) || n > 1))) return Result::Error();
      clip_ = n == 1;
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Clir(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test: response.Info("+CLIR: (0-2)"); return Result::Ok();
    case Form::Read: response.Info("+CLIR: " + Number(clir_) + ",4"); return Result::Ok();
    case Form::Set:
      if (args.Count() > 1 || (args.Present(0) && (!args.Int(0, n) || n > 2))) return Result::Error();
      clir_ = n;
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Crc(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test: response.Info("+CRC: (0,1)"); return Result::Ok();
    case Form::Read: response.Info("+CRC: " + Number(crc_ ? 1 : 0)); return Result::Ok();
    case Form::Set:
      if (args.Count() > 1 || (args.Present(0) && (!args.Int(0, n) || n > 1))) return Result::Error();
      crc_ = n == 1;
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Cmee(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test: response.Info("+CMEE: (0-2)"); return Result::Ok();
    case Form::Read: response.Info("+CMEE: " + Number(cmee_)); return Result::Ok();
    case Form::Set:
      if (args.Count() > 1 || (args.Present(0) && (!args.Int(0, n) || n > 2))) return Result::Error();
      cmee_ = n;
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Cpin(Form form, const Args& args, Response& response) {
  switch (form) {
    case Form::Test: return Result::Ok();
    case Form::Read: {
      const char* state = pin_ == PinState::Ready ? "READY" : (pin_ == PinState::SimPin ? "SIM PIN" : "SIM PUK");
      response.Info(std::string("+CPIN: ") + state);
      return Result::Ok();
    }
    case Form::Action: return Result::Error();
    case Form::Set: break;
  }
  if (!args.Present(0)) return Result::Error();
  const std::string given = args.items[0].value;
  switch (pin_) {
    case PinState::Ready:
      return Result::Cme(3);
    case PinState::SimPin:
      if (given == currentPin_) {
        pin_ = PinState::Ready;
        pinAttempts_ = kPinAttempts;
        return Result::Ok();
      }
      if (--pinAttempts_ <= 0) pin_ = PinState::SimPuk;
      return Result::Cme(16);
    case PinState::SimPuk:
      if (!args.Present(1) || given != config_.puk) return Result::Cme(16);
      currentPin_ = args.items[1].value;
      pin_ = PinState::Ready;
      pinAttempts_ = kPinAttempts;
      return Result::Ok();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Creg(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test: response.Info("+CREG: (0-2)"); return Result::Ok();
    case Form::Read:
      // With the radio off (AT+CFUN=0 or 4) the modem is not registered.
      response.Info("+CREG: " + Number(creg_) + "," + Number(cfun_ == 1 ? config_.registration : 0));
      return Result::Ok();
    case Form::Set:
      if (args.Count() > 1 || (args.Present(0) && (!args.Int(0, n) || n > 2))) return Result::Error();
      creg_ = n;
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Cops(Form form, const Args&, Response& response) {
  const std::string name = "\"" + config_.operatorName + "\"";
  switch (form) {
    case Form::Test: response.Info("+COPS: (2," + name + "," + name + ",\"00101\"),,(0-4),(0-2)"); return Result::Ok();
    case Form::Read: response.Info(cfun_ == 1 ? "+COPS: 0,0," + name : "+COPS: 0"); return Result::Ok();
    case Form::Set: return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Csq(Form form, const Args&, Response& response) {
  switch (form) {
    case Form::Test: response.Info("+CSQ: (0-31,99),(0-7,99)"); return Result::Ok();
    case Form::Action: response.Info("+CSQ: " + Number(config_.rssi) + "," + Number(config_.ber)); return Result::Ok();
    case Form::Read:
    case Form::Set: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Info(Form form, const std::string& value, Response& response) {
  switch (form) {
    case Form::Test: return Result::Ok();
    case Form::Action: response.Info(value); return Result::Ok();
    case Form::Read:
    case Form::Set: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Gmi(Form form, const Args&, Response& r) { return Info(form, config_.manufacturer, r); }
AtEngine::Result AtEngine::Gmm(Form form, const Args&, Response& r) { return Info(form, config_.model, r); }
AtEngine::Result AtEngine::Gmr(Form form, const Args&, Response& r) { return Info(form, config_.revision, r); }
AtEngine::Result AtEngine::Gsn(Form form, const Args&, Response& r) { return Info(form, config_.imei, r); }

// TS 27.007 8.2: the phone's level of functionality. 1 full, 0 minimum,
// 4 transmit and receive circuits off; <rst> 1 restarts the modem first
// (the settings go back to their power-on values, the SIM stays unlocked).
AtEngine::Result AtEngine::Cfun(Form form, const Args& args, Response& response) {
  int fun = 0, rst = 0;
  switch (form) {
    case Form::Test: response.Info("+CFUN: (0,1,4),(0,1)"); return Result::Ok();
    case Form::Read: response.Info("+CFUN: " + Number(cfun_)); return Result::Ok();
    case Form::Set:
      if (args.Count() > 2 || !args.Int(0, fun) || (fun != 0 && fun != 1 && fun != 4)) return Result::Error();
      if (args.Present(1) && (!args.Int(1, rst) || rst > 1)) return Result::Error();
      if (rst == 1) ResetSettings();
      cfun_ = fun;
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Cimi(Form form, const Args&, Response& r) {
  if (form == Form::Action) {
    const Result sim = SimCheck(false);
    if (sim.kind != Result::Kind::Ok) return sim;
  }
  return Info(form, config_.imsi, r);
}

// ---------------------------------------------------------------------------
// Message service settings (TS 27.005 3.2, 3.3, 3.4)

AtEngine::Result AtEngine::Cscs(Form form, const Args& args, Response& response) {
  std::string set;
  switch (form) {
    case Form::Test: response.Info("+CSCS: (\"GSM\",\"IRA\",\"UCS2\",\"8859-1\")"); return Result::Ok();
    case Form::Read: response.Info("+CSCS: \"" + cscs_ + "\""); return Result::Ok();
    case Form::Set:
      if (args.Count() != 1 || !args.String(0, set) || !IsKnownCharacterSet(set)) return Result::Error();
      cscs_ = Upper(set);
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Cmgf(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test: response.Info("+CMGF: (0,1)"); return Result::Ok();
    case Form::Read: response.Info("+CMGF: " + Number(cmgf_)); return Result::Ok();
    case Form::Set:
      if (args.Count() > 1 || (args.Present(0) && (!args.Int(0, n) || n > 1))) return Result::Error();
      cmgf_ = n;
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Csdh(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test: response.Info("+CSDH: (0,1)"); return Result::Ok();
    case Form::Read: response.Info("+CSDH: " + Number(csdh_ ? 1 : 0)); return Result::Ok();
    case Form::Set:
      if (args.Count() > 1 || (args.Present(0) && (!args.Int(0, n) || n > 1))) return Result::Error();
      csdh_ = n == 1;
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Csmp(Form form, const Args& args, Response& response) {
  switch (form) {
    case Form::Test: return Result::Ok();
    case Form::Read:
      response.Info("+CSMP: " + Number(csmp_[0]) + "," + Number(csmp_[1]) + "," + Number(csmp_[2]) + "," +
                    Number(csmp_[3]));
      return Result::Ok();
    case Form::Set: {
      if (args.Count() > 4) return Result::Error();
      std::array<int, 4> values = csmp_;
      for (std::size_t i = 0; i < args.Count(); ++i) {
        if (!args.Present(i)) continue;
        if (!args.Int(i, values[i]) || values[i] > 255) return Result::Cms(305);
      }
      csmp_ = values;
      return Result::Ok();
    }
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Csms(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test: response.Info("+CSMS: (0,1)"); return Result::Ok();
    case Form::Read: response.Info("+CSMS: " + Number(csms_) + ",1,1,1"); return Result::Ok();
    case Form::Set:
      if (args.Count() != 1 || !args.Int(0, n) || n > 1) return Result::Error();
      csms_ = n;
      if (n == 0) unacknowledged_.clear();
      response.Info("+CSMS: 1,1,1");
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Cnmi(Form form, const Args& args, Response& response) {
  static constexpr std::array<int, 5> kMaximum = {3, 3, 2, 2, 1};
  switch (form) {
    case Form::Test: response.Info("+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)"); return Result::Ok();
    case Form::Read:
      response.Info("+CNMI: " + Number(cnmi_[0]) + "," + Number(cnmi_[1]) + "," + Number(cnmi_[2]) + "," +
                    Number(cnmi_[3]) + "," + Number(cnmi_[4]));
      return Result::Ok();
    case Form::Set: {
      if (args.Count() == 0 || args.Count() > 5) return Result::Error();
      std::array<int, 5> values = cnmi_;
      for (std::size_t i = 0; i < args.Count(); ++i) {
        if (!args.Present(i)) continue;
        if (!args.Int(i, values[i]) || values[i] > kMaximum[i]) return Result::Cms(303);
      }
      cnmi_ = values;
      // TS 27.005 3.4.1 <bfr>: entering mode 1-3 flushes (0) or clears (1)
      // what mode 0 kept.
      if (cnmi_[0] != 0) {
        if (cnmi_[4] == 0) {
          flushCnmi_ = !cnmiBuffer_.empty();
        } else {
          cnmiBuffer_.clear();
        }
      }
      return Result::Ok();
    }
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

// TS 27.005 3.4.4: a message or report routed to the client under
// AT+CSMS=1 is acknowledged, the oldest first. <n> 0 or 1 acknowledge
// (2, a negative acknowledgement, is taken as one too); nothing waiting,
// or phase 2 service, is +CMS ERROR: 340.
AtEngine::Result AtEngine::Cnma(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test:
      if (cmgf_ == 0) response.Info("+CNMA: (0-2)");
      return Result::Ok();
    case Form::Read: return Result::Error();
    case Form::Set:
      if (cmgf_ == 1 || args.Count() > 1 || !args.Int(0, n) || n > 2) return Result::Error();
      break;
    case Form::Action: break;
  }
  if (csms_ != 1 || unacknowledged_.empty()) return Result::Cms(340);
  unacknowledged_.pop_front();
  ++acknowledgements_;
  return Result::Ok();
}

AtEngine::Result AtEngine::Csca(Form form, const Args& args, Response& response) {
  if (form == Form::Test) return Result::Ok();
  const Result sim = SimCheck(true);
  if (sim.kind != Result::Kind::Ok) return sim;
  std::string address;
  int type = 0;
  switch (form) {
    case Form::Read:
      response.Info("+CSCA: " + Quoted(serviceCentre_) + "," + Number(serviceCentreType_));
      return Result::Ok();
    case Form::Set:
      if (!args.String(0, address) || args.Count() > 2) return Result::Error();
      if (args.Present(1) && !args.Int(1, type)) return Result::Error();
      serviceCentre_ = FromTeString(address);
      serviceCentreType_ = type != 0 ? type : (!serviceCentre_.empty() && serviceCentre_[0] == '+' ? 145 : 129);
      return Result::Ok();
    case Form::Action:
    case Form::Test: return Result::Error();
  }
  return Result::Error();
}

std::string AtEngine::StorageReport() const {
  std::string out;
  for (const std::string* mem : {&mem1_, &mem2_, &mem3_}) {
    const MessageStore* store = Storage(*mem);
    if (!out.empty()) out += ",";
    out += Number(static_cast<int>(store->Used())) + "," + Number(static_cast<int>(store->Capacity()));
  }
  return out;
}

AtEngine::Result AtEngine::Cpms(Form form, const Args& args, Response& response) {
  if (form == Form::Test) {
    // Status reports are read and deleted from "SR"; nothing is written
    // or received there.
    response.Info("+CPMS: (\"SM\",\"ME\",\"SR\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")");
    return Result::Ok();
  }
  const Result sim = SimCheck(true);
  if (sim.kind != Result::Kind::Ok) return sim;
  if (form == Form::Read) {
    std::string text = "+CPMS: ";
    bool first = true;
    for (const std::string* mem : {&mem1_, &mem2_, &mem3_}) {
      const MessageStore* store = Storage(*mem);
      text += (first ? "\"" : ",\"") + *mem + "\"," + Number(static_cast<int>(store->Used())) + "," +
              Number(static_cast<int>(store->Capacity()));
      first = false;
    }
    response.Info(text);
    return Result::Ok();
  }
  if (form != Form::Set || args.Count() == 0 || args.Count() > 3) return Result::Error();
  std::array<std::string*, 3> mems = {&mem1_, &mem2_, &mem3_};
  std::array<std::string, 3> chosen = {mem1_, mem2_, mem3_};
  for (std::size_t i = 0; i < args.Count(); ++i) {
    if (!args.Present(i)) continue;
    const std::string name = Upper(args.items[i].value);
    if (Storage(name) == nullptr) return Result::Cms(302);
    chosen[i] = name;
  }
  for (std::size_t i = 0; i < mems.size(); ++i) *mems[i] = chosen[i];
  response.Info("+CPMS: " + StorageReport());
  return Result::Ok();
}

// ---------------------------------------------------------------------------
// Reading, listing, deleting, sending, writing (TS 27.005 3.5, 4)

AtEngine::Result AtEngine::Cmgr(Form form, const Args& args, Response& response) {
  if (form == Form::Test) return Result::Ok();
  if (form != Form::Set) return Result::Error();
  const Result sim = SimCheck(true);
  if (sim.kind != Result::Kind::Ok) return sim;
  int index = 0;
  MessageStore* store = Storage(mem1_);
  if (!args.Int(0, index) || !store->InRange(index)) return Result::Cms(321);
  StoredMessage* m = store->Find(index);
  if (m == nullptr) return Result::Ok();  // an empty position reads as nothing
  if (cmgf_ == 0) {
    response.blocks.push_back({Line{"+CMGR: " + Number(StatusNumber(m->status)) + "," + Alpha(m->pdu.fields.address) + "," +
                                    Number(static_cast<int>(m->pdu.TpduLength()))},
                               Line{m->pdu.Hex()}});
  } else if (m->pdu.fields.statusReport) {
    response.blocks.push_back({Line{TextHeaderCmgr(*m)}});
  } else {
    response.blocks.push_back({Line{TextHeaderCmgr(*m)}, Line{TextData(m->pdu.fields), true}});
  }
  if (m->status == SmsStatus::ReceivedUnread) m->status = SmsStatus::ReceivedRead;
  return Result::Ok();
}

AtEngine::Result AtEngine::Cmgl(Form form, const Args& args, Response& response) {
  if (form == Form::Test) {
    response.Info(cmgf_ == 0 ? "+CMGL: (0-4)"
                             : "+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")");
    return Result::Ok();
  }
  if (form == Form::Read) return Result::Error();
  const Result sim = SimCheck(true);
  if (sim.kind != Result::Kind::Ok) return sim;

  int filter = 0;  // "REC UNREAD" unless told otherwise
  if (args.Present(0)) {
    if (cmgf_ == 0) {
      if (!args.Int(0, filter) || filter > 4) return Result::Cms(304);
    } else {
      std::string word;
      if (!args.String(0, word)) return Result::Cms(305);
      word = Upper(word);
      filter = -1;
      for (std::size_t i = 0; i < kStatusWords.size(); ++i) {
        if (word == kStatusWords[i]) filter = static_cast<int>(i);
      }
      if (word == "ALL") filter = 4;
      if (filter < 0) return Result::Cms(305);
    }
  }

  std::vector<Line> lines;
  for (auto& [index, m] : Storage(mem1_)->Messages()) {
    if (!MatchesFilter(m.status, filter)) continue;
    if (cmgf_ == 0) {
      lines.push_back({"+CMGL: " + Number(index) + "," + Number(StatusNumber(m.status)) + "," + Alpha(m.pdu.fields.address) + "," +
                       Number(static_cast<int>(m.pdu.TpduLength()))});
      lines.push_back({m.pdu.Hex()});
    } else {
      lines.push_back({TextHeaderCmgl(index, m)});
      if (!m.pdu.fields.statusReport) lines.push_back({TextData(m.pdu.fields), true});
    }
    if (m.status == SmsStatus::ReceivedUnread) m.status = SmsStatus::ReceivedRead;
  }
  if (!lines.empty()) response.blocks.push_back(std::move(lines));
  return Result::Ok();
}

AtEngine::Result AtEngine::Cmgd(Form form, const Args& args, Response& response) {
  MessageStore* store = Storage(mem1_);
  if (form == Form::Test) {
    std::string used;
    for (const auto& entry : store->Messages()) used += (used.empty() ? "" : ",") + Number(entry.first);
    response.Info("+CMGD: (" + used + "),(0-4)");
    return Result::Ok();
  }
  if (form != Form::Set) return Result::Error();
  const Result sim = SimCheck(true);
  if (sim.kind != Result::Kind::Ok) return sim;
  int index = 0;
  int flag = 0;
  if (!args.Int(0, index)) return Result::Cms(321);
  if (args.Present(1) && (!args.Int(1, flag) || flag > 4)) return Result::Cms(302);
  // TS 27.005 3.5.4 <delflag>: 0 the one at <index>; 1 read; 2 read and sent;
  // 3 read, sent and unsent; 4 all. With a flag above 0 <index> is ignored.
  if (flag == 0) {
    if (!store->InRange(index)) return Result::Cms(321);
    store->Remove(index);
    return Result::Ok();
  }
  auto& messages = store->Messages();
  for (auto it = messages.begin(); it != messages.end();) {
    const SmsStatus s = it->second.status;
    const bool remove = flag == 4 || s == SmsStatus::ReceivedRead || (flag >= 2 && s == SmsStatus::StoredSent) ||
                        (flag >= 3 && s == SmsStatus::StoredUnsent);
    it = remove ? messages.erase(it) : std::next(it);
  }
  return Result::Ok();
}

AtEngine::Result AtEngine::Cmgs(Form form, const Args& args, Response&) {
  if (form == Form::Test) return Result::Ok();
  if (form != Form::Set) return Result::Error();
  const Result sim = SimCheck(true);
  if (sim.kind != Result::Kind::Ok) return sim;
  PendingBody body;
  body.write = false;
  body.pdu = cmgf_ == 0;
  if (body.pdu) {
    // TS 27.005 3.5.1: <length> counts the TPDU, the service centre part left out.
    if (!args.Int(0, body.length) || body.length < 1 || body.length > 164 || args.Count() > 1) {
      return Result::Cms(304);
    }
  } else {
    std::string destination;
    if (!args.String(0, destination) || args.Count() > 2) return Result::Cms(305);
    body.destination = FromTeString(destination);
    if (body.destination.empty()) return Result::Cms(305);
    if (args.Present(1) && !args.Int(1, body.destinationType)) return Result::Cms(305);
  }
  body_ = body;
  lineState_ = LineState::Body;
  return Result::Of(Result::Kind::Prompt);
}

AtEngine::Result AtEngine::Cmgw(Form form, const Args& args, Response&) {
  if (form == Form::Test) return Result::Ok();
  if (form == Form::Read) return Result::Error();
  const Result sim = SimCheck(true);
  if (sim.kind != Result::Kind::Ok) return sim;
  PendingBody body;
  body.write = true;
  body.pdu = cmgf_ == 0;
  int stat = 2;
  if (body.pdu) {
    if (!args.Int(0, body.length) || body.length < 1 || body.length > 164) return Result::Cms(304);
    if (args.Present(1) && (!args.Int(1, stat) || stat < 2 || stat > 3)) return Result::Cms(304);
  } else {
    std::string text;
    if (args.Present(0)) {
      if (!args.String(0, text)) return Result::Cms(305);
      body.destination = FromTeString(text);
    }
    if (args.Present(1) && !args.Int(1, body.destinationType)) return Result::Cms(305);
    if (args.Present(2)) {
      if (!args.String(2, text)) return Result::Cms(305);
      text = Upper(text);
      if (text == "STO SENT") {
        stat = 3;
      } else if (text != "STO UNSENT") {
        return Result::Cms(305);
      }
    }
  }
  body.status = static_cast<SmsStatus>(stat);
  body_ = body;
  lineState_ = LineState::Body;
  return Result::Of(Result::Kind::Prompt);
}

}  // namespace vesk::sim
