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

// TS 27.007 8.3: the SIM's PIN. Three wrong PINs make the SIM ask for its
// PUK; ten wrong PUKs block it for good.
AtEngine::Result AtEngine::Cpin(Form form, const Args& args, Response& response) {
  switch (form) {
    case Form::Test: return Result::Ok();
    case Form::Read: {
      const char* state = nullptr;
      switch (pin_) {
        case PinState::Ready: state = "READY"; break;
        case PinState::SimPin: state = "SIM PIN"; break;
        case PinState::SimPuk: state = "SIM PUK"; break;
        case PinState::Blocked:
        case PinState::NoSim: return SimCheck(false);
      }
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
      // The PUK and a new PIN.
      if (!args.Present(1)) return Result::Cme(16);
      if (given != config_.puk) {
        if (--pukAttempts_ <= 0) pin_ = PinState::Blocked;
        return Result::Cme(16);
      }
      currentPin_ = args.items[1].value;
      pin_ = PinState::Ready;
      pinAttempts_ = kPinAttempts;
      pukAttempts_ = kPukAttempts;
      return Result::Ok();
    case PinState::Blocked:
    case PinState::NoSim: return SimCheck(false);
  }
  return Result::Error();
}

// TS 27.007 8.65: the tries left, one line per code; <sel_code> picks
// codes, a '*' at its end standing for any rest.
AtEngine::Result AtEngine::Cpinr(Form form, const Args& args, Response& response) {
  if (form == Form::Test) return Result::Ok();
  if (form == Form::Read) return Result::Error();
  if (pin_ == PinState::NoSim) return SimCheck(false);
  std::string select = "*";
  if (form == Form::Set && (!args.String(0, select) || args.Count() > 1)) return Result::Error();
  select = Upper(select);
  const auto selected = [&](const std::string& code) {
    if (!select.empty() && select.back() == '*')
      return code.compare(0, select.size() - 1, select, 0, select.size() - 1) == 0;
    return code == select;
  };
  const struct {
    const char* code;
    int left;
    int full;
  } kCodes[] = {{"SIM PIN", pinAttempts_, kPinAttempts}, {"SIM PUK", pukAttempts_, kPukAttempts}};
  // One line after the other, as modems list them.
  std::vector<Line> lines;
  for (const auto& c : kCodes)
    if (selected(c.code))
      lines.push_back({std::string("+CPINR: ") + c.code + "," + Number(c.left) + "," + Number(c.full)});
  if (!lines.empty()) response.blocks.push_back(std::move(lines));
  return Result::Ok();
}

int AtEngine::CurrentRegistration() const {
  // With the radio off (AT+CFUN=0 or 4) or no usable SIM nothing registers.
  if (cfun_ != 1 || pin_ == PinState::NoSim || pin_ == PinState::Blocked) return 0;
  return config_.registration;
}

// <stat>[,<lac>,<ci>[,<AcT>]] (with <n> first in a read answer): the area
// and cell while registered under <n> 2; +CEREG gives its <AcT> too.
std::string AtEngine::RegistrationFields(int family, bool withN) const {
  static const char* const kNames[] = {"+CREG: ", "+CGREG: ", "+CEREG: "};
  const int modes[] = {creg_, cgreg_, cereg_};
  const int stat = CurrentRegistration();
  std::string text = kNames[family];
  if (withN) text += Number(modes[family]) + ",";
  text += Number(stat);
  if (modes[family] == 2 && (stat == 1 || stat == 5))
    text += family == 2 ? ",\"1A2B\",\"0C3F2A1B\",7" : ",\"1A2B\",\"0000C3F2\"";
  return text;
}

AtEngine::Result AtEngine::Registration(int family, Form form, const Args& args, Response& response) {
  static const char* const kTests[] = {"+CREG: (0-2)", "+CGREG: (0-2)", "+CEREG: (0-2)"};
  int* modes[] = {&creg_, &cgreg_, &cereg_};
  int n = 0;
  switch (form) {
    case Form::Test: response.Info(kTests[family]); return Result::Ok();
    case Form::Read: response.Info(RegistrationFields(family, true)); return Result::Ok();
    case Form::Set:
      if (args.Count() > 1 || (args.Present(0) && (!args.Int(0, n) || n > 2))) return Result::Error();
      *modes[family] = n;
      return Result::Ok();
    case Form::Action: return Result::Error();
  }
  return Result::Error();
}

AtEngine::Result AtEngine::Creg(Form form, const Args& args, Response& r) { return Registration(0, form, args, r); }
AtEngine::Result AtEngine::Cgreg(Form form, const Args& args, Response& r) { return Registration(1, form, args, r); }
AtEngine::Result AtEngine::Cereg(Form form, const Args& args, Response& r) { return Registration(2, form, args, r); }

// TS 27.007 7.3: the operator, in the <format> AT+COPS=3,<format> chose,
// while registered.
AtEngine::Result AtEngine::Cops(Form form, const Args& args, Response& response) {
  const std::string name = "\"" + config_.operatorName + "\"";
  int mode = 0, format = 0;
  switch (form) {
    case Form::Test:
      response.Info("+COPS: (2," + name + "," + name + ",\"" + config_.operatorNumeric + "\"),,(0-4),(0-2)");
      return Result::Ok();
    case Form::Read: {
      const int stat = CurrentRegistration();
      if (stat != 1 && stat != 5) {
        response.Info("+COPS: 0");
        return Result::Ok();
      }
      std::string text = "+COPS: 0," + Number(copsFormat_) + ",";
      text += copsFormat_ == 2 ? "\"" + config_.operatorNumeric + "\"" : Quoted(config_.operatorName);
      if (config_.accessTechnology >= 0) text += "," + Number(config_.accessTechnology);
      response.Info(text);
      return Result::Ok();
    }
    case Form::Set:
      if (!args.Int(0, mode) || mode > 4) return Result::Error();
      if (args.Present(1) && (!args.Int(1, format) || format > 2)) return Result::Error();
      if (args.Present(1)) copsFormat_ = format;
      return Result::Ok();
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

namespace vesk::sim {

using namespace at;

// ---------------------------------------------------------------------------
// USSD (TS 27.007 7.15) against a scripted network:
//   *100#  the balance, in GSM 7-bit packed into hexadecimal (as many
//          modems pass it on), <dcs> 15
//   *101#  a menu (1 balance, 2 bundles), whose "2" opens a second menu
//          (1 daily, 2 weekly); the menus' lines in one quoted string
//   *102#  an answer in UCS2, <dcs> 72
//   *103#  the network gives up: +CUSD: 5, after ModemConfig::ussdTimeout
//   other  +CUSD: 4, not supported
// Each answer comes ModemConfig::ussdDelay after the OK.

namespace {

// TS 23.038 6.1.2.3.1: packed for USSD, a CR filling seven spare bits.
std::string PackedUssdHex(const std::string& utf8) {
  std::vector<std::uint8_t> codes = ToGsmCodes(Utf8ToCodePoints(utf8));
  if (codes.size() % 8 == 7) codes.push_back(0x0D);
  return ToHex(PackSeptets(codes));
}

std::string Ucs2Hex(const std::string& utf8) {
  std::vector<std::uint8_t> octets;
  for (char16_t unit : ToUtf16(Utf8ToCodePoints(utf8))) {
    octets.push_back(static_cast<std::uint8_t>(unit >> 8));
    octets.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  }
  return ToHex(octets);
}

}  // namespace

std::string AtEngine::UssdPlain(int m, const std::string& utf8) const {
  return "+CUSD: " + Number(m) + "," + Quoted(utf8) + ",15";
}

void AtEngine::UssdAnswerLater(const std::string& line, Milliseconds delay) {
  if (cusd_ == 0) return;  // results not presented
  Emission e;
  e.kind = Emission::Kind::Unsolicited;
  e.bytes = Frame({Line{line, true}});
  e.delay = delay;
  e.ussdSerial = ussdSerial_;
  later_.push_back(std::move(e));
}

void AtEngine::UssdRequest(const std::string& text, Response&) {
  const Milliseconds delay = config_.ussdDelay;
  const int menu = ussdMenu_;
  ussdMenu_ = 0;
  if (menu == 1) {
    if (text == "1") {
      UssdAnswerLater(UssdPlain(0, "Balance: 12.34 EUR"), delay);
    } else if (text == "2") {
      ussdMenu_ = 2;
      UssdAnswerLater(UssdPlain(1, "Bundles\n1 Daily 1 GB\n2 Weekly 5 GB"), delay);
    } else {
      UssdAnswerLater(UssdPlain(0, "Invalid choice"), delay);
    }
    return;
  }
  if (menu == 2) {
    if (text == "1" || text == "2") {
      UssdAnswerLater(UssdPlain(0, std::string(text == "1" ? "Daily 1 GB" : "Weekly 5 GB") + " bundle activated"),
                      delay);
    } else {
      UssdAnswerLater(UssdPlain(0, "Invalid choice"), delay);
    }
    return;
  }
  if (text == "*100#") {
    UssdAnswerLater("+CUSD: 0,\"" + PackedUssdHex("Your balance is 12.34 EUR, valid until 31/12/2026.") + "\",15",
                    delay);
  } else if (text == "*101#") {
    ussdMenu_ = 1;
    UssdAnswerLater(UssdPlain(1, "Menu\n1 Balance\n2 Bundles"), delay);
  } else if (text == "*102#") {
    UssdAnswerLater("+CUSD: 0,\"" + Ucs2Hex("Баланс: 100 ₽") + "\",72", delay);
  } else if (text == "*103#") {
    UssdAnswerLater("+CUSD: 5", config_.ussdTimeout);
  } else {
    UssdAnswerLater("+CUSD: 4", delay);
  }
}

AtEngine::Result AtEngine::Cusd(Form form, const Args& args, Response& response) {
  int n = 0;
  switch (form) {
    case Form::Test: response.Info("+CUSD: (0-2)"); return Result::Ok();
    case Form::Read: response.Info("+CUSD: " + Number(cusd_)); return Result::Ok();
    case Form::Action: return Result::Error();
    case Form::Set: break;
  }
  if (args.Count() > 3 || (args.Present(0) && (!args.Int(0, n) || n > 2))) return Result::Error();
  if (n == 2) {
    // The session ends; an answer still on its way is dropped.
    ussdMenu_ = 0;
    ++ussdSerial_;
    return Result::Ok();
  }
  cusd_ = n;
  if (!args.Present(1)) return Result::Ok();
  std::string text;
  if (!args.String(1, text)) return Result::Error();
  int dcs = 15;
  if (args.Present(2) && !args.Int(2, dcs)) return Result::Error();
  if (const Result sim = SimCheck(false); sim.kind != Result::Kind::Ok) return sim;
  const int stat = CurrentRegistration();
  if (stat != 1 && stat != 5) return Result::Cme(30);
  ++ussdSerial_;
  UssdRequest(FromTeString(text), response);
  return Result::Ok();
}

}  // namespace vesk::sim
