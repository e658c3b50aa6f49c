#include "tools/simulator/AtEngine.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "tools/simulator/AtText.h"
#include "tools/simulator/GsmAlphabet.h"

namespace vesk::sim {

using namespace at;

namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEscape = 0x1B;
constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxBody = 4096;
constexpr const char* kPrompt = "\r\n> ";

// TS 27.007 9.2.1: the +CME ERROR texts this modem uses with AT+CMEE=2.
struct CmeText {
  int code;
  const char* text;
};
constexpr std::array<CmeText, 12> kCmeTexts = {{
    {3, "operation not allowed"},
    {4, "operation not supported"},
    {10, "SIM not inserted"},
    {11, "SIM PIN required"},
    {12, "SIM PUK required"},
    {13, "SIM failure"},
    {14, "SIM busy"},
    {16, "incorrect password"},
    {17, "SIM PIN2 required"},
    {18, "SIM PUK2 required"},
    {30, "no network service"},
    {100, "unknown"},
}};

// Power-on values of the S-parameters this modem has (V.250 6.2, 6.3).
constexpr std::array<std::pair<int, int>, 8> kSRegisterDefaults = {{
    {0, 0},    // rings before automatic answering
    {3, 13},   // command line termination character
    {4, 10},   // response formatting character
    {5, 8},    // command line editing character
    {6, 2},    // pause before blind dialling
    {7, 50},   // connection completion timeout
    {8, 2},    // comma dial modifier time
    {10, 14},  // automatic disconnect delay
}};

// V.250 5.4.1: characters of an extended command name after the '+'.
bool IsNameChar(char c) {
  const char u = Upper(c);
  return (u >= 'A' && u <= 'Z') || IsDigit(u) || u == '!' || u == '%' || u == '-' || u == '.' ||
         u == '/' || u == ':' || u == '_';
}

// V.250 5.2.1: a command line starts at "AT" in any case; what comes before
// it is ignored.
std::size_t FindAtPrefix(const std::string& line) {
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if (Upper(line[i]) == 'A' && Upper(line[i + 1]) == 'T') return i;
  }
  return std::string::npos;
}

}  // namespace

// ---------------------------------------------------------------------------
// Arguments

bool AtEngine::Args::Int(std::size_t i, int& out) const {
  if (!Present(i) || items[i].quoted) return false;
  const std::string& v = items[i].value;
  if (v.empty() || v.size() > 9 || !std::all_of(v.begin(), v.end(), IsDigit)) return false;
  out = std::stoi(v);
  return true;
}

bool AtEngine::Args::String(std::size_t i, std::string& out) const {
  if (!Present(i) || !items[i].quoted) return false;
  out = items[i].value;
  return true;
}

AtEngine::Args AtEngine::ParseArgs(std::string_view text) {
  Args args;
  if (text.find_first_not_of(" \t") == std::string_view::npos) return args;
  std::vector<std::string_view> raw;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || (text[i] == ',' && !quoted)) {
      raw.push_back(text.substr(start, i - start));
      start = i + 1;
    } else if (text[i] == '"') {
      quoted = !quoted;
    }
  }
  for (std::string_view r : raw) {
    Arg arg;
    const std::size_t first = r.find_first_not_of(" \t");
    if (first != std::string_view::npos) {
      r = r.substr(first, r.find_last_not_of(" \t") - first + 1);
      arg.present = true;
      if (r.front() == '"') {
        arg.quoted = true;
        const std::size_t close = r.find('"', 1);
        arg.value = std::string(r.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      } else {
        arg.value = Upper(r);
      }
    }
    args.items.push_back(arg);
  }
  return args;
}

// ---------------------------------------------------------------------------
// Set-up

AtEngine::AtEngine(ModemConfig config) : config_(std::move(config)) {
  std::set<std::string> unsupported;
  for (const std::string& name : config_.unsupported) unsupported.insert(Upper(name));
  config_.unsupported = std::move(unsupported);
  stores_.emplace("SM", MessageStore("SM", config_.simCapacity));
  stores_.emplace("ME", MessageStore("ME", config_.phoneCapacity));
  stores_.emplace("SR", MessageStore("SR", config_.reportCapacity));
  serviceCentre_ = config_.serviceCentre;
  serviceCentreType_ = serviceCentre_.empty() ? 129 : DefaultAddressType(serviceCentre_);
  currentPin_ = config_.pin;
  nextReference_ = config_.firstMessageReference & 0xFF;
  PowerOn();
}

void AtEngine::ResetSettings() {
  echo_ = config_.echo;
  verbose_ = true;
  quiet_ = false;
  sRegisters_.clear();
  for (const auto& [reg, value] : kSRegisterDefaults) sRegisters_[reg] = value;
  cmee_ = config_.cmee;
  cscs_ = Upper(config_.characterSet);
  cmgf_ = config_.messageFormat;
  csdh_ = false;
  cnmi_ = {0, 0, 0, 0, 0};
  csmp_ = {17, 167, 0, 0};
  csms_ = 0;
  clip_ = false;
  clir_ = 0;
  crc_ = false;
  creg_ = 0;
  cgreg_ = 0;
  cereg_ = 0;
  copsFormat_ = 0;
  cusd_ = 0;
  mem1_ = mem2_ = mem3_ = "SM";
}

void AtEngine::PowerOn() {
  ResetSettings();
  // The SIM keeps its counts of tries: one that wants its PUK still does.
  if (!config_.simInserted) {
    pin_ = PinState::NoSim;
  } else if (pukAttempts_ <= 0) {
    pin_ = PinState::Blocked;
  } else if (pinAttempts_ <= 0) {
    pin_ = PinState::SimPuk;
  } else {
    pin_ = currentPin_.empty() ? PinState::Ready : PinState::SimPin;
  }
  cfun_ = 1;
  ussdMenu_ = 0;
  ++ussdSerial_;
  later_.clear();
  call_ = CallState::Idle;
  ringsHeard_ = 0;
  lineState_ = LineState::Command;
  lineBuffer_.clear();
  pendingEcho_.clear();
  body_ = PendingBody{};
  plusCount_ = 0;
  held_.clear();
  cnmiBuffer_.clear();
  flushCnmi_ = false;
  unacknowledged_.clear();
}

void AtEngine::SetSupported(const std::string& command, bool supported) {
  if (supported) {
    config_.unsupported.erase(Upper(command));
  } else {
    config_.unsupported.insert(Upper(command));
  }
}

void AtEngine::FailNextSends(int count, std::string finalResult) {
  failSends_ = count;
  failResult_ = std::move(finalResult);
}

void AtEngine::SetSignal(int rssi, int ber) {
  config_.rssi = rssi;
  config_.ber = ber;
}

bool AtEngine::Supported(const std::string& name) const { return config_.unsupported.count(Upper(name)) == 0; }

// ---------------------------------------------------------------------------
// Bytes in

void AtEngine::Receive(std::string_view bytes, Emissions& out) {
  for (char c : bytes) {
    switch (lineState_) {
      case LineState::Command: ReceiveCommandByte(c, out); break;
      case LineState::Body: ReceiveBodyByte(c, out); break;
      case LineState::DataOnline: ReceiveDataByte(c, out); break;
    }
  }
  FlushEcho(out);
}

void AtEngine::FlushEcho(Emissions& out) {
  if (pendingEcho_.empty()) return;
  out.push_back({Emission::Kind::Echo, std::move(pendingEcho_)});
  pendingEcho_.clear();
}

void AtEngine::Emit(Emissions& out, Emission::Kind kind, std::string bytes) {
  FlushEcho(out);
  if (!bytes.empty()) out.push_back({kind, std::move(bytes)});
}

void AtEngine::ReceiveCommandByte(char c, Emissions& out) {
  if (echo_) pendingEcho_.push_back(c);
  if (c == static_cast<char>(sRegisters_[3])) {
    std::string line = std::move(lineBuffer_);
    lineBuffer_.clear();
    RunLine(line, out);
    return;
  }
  if (c == static_cast<char>(sRegisters_[4])) return;  // a line feed after CR is no part of the line
  if (c == static_cast<char>(sRegisters_[5])) {
    if (!lineBuffer_.empty()) lineBuffer_.pop_back();
    return;
  }
  if (lineBuffer_.size() < kMaxLine) lineBuffer_.push_back(c);
  // V.250 5.2.4: "A/" repeats the previous command line at once.
  const std::size_t n = lineBuffer_.size();
  if (n >= 2 && Upper(lineBuffer_[n - 2]) == 'A' && lineBuffer_[n - 1] == '/' &&
      FindAtPrefix(lineBuffer_) == std::string::npos) {
    lineBuffer_.clear();
    if (!lastLine_.empty()) RunLine(lastLine_, out);
  }
}

void AtEngine::StickAtPrompt(Emissions& out) {
  body_ = PendingBody{};
  body_.write = false;
  body_.pdu = cmgf_ == 0;
  body_.length = 1;
  lineState_ = LineState::Body;
  Emit(out, Emission::Kind::Answer, kPrompt);
}

void AtEngine::ReceiveBodyByte(char c, Emissions& out) {
  if (c == kCtrlZ) {
    FinishBody(out);
    return;
  }
  if (c == kEscape) {
    CancelBody(out);
    return;
  }
  if (echo_) pendingEcho_.push_back(c);
  if (c == static_cast<char>(sRegisters_[5])) {
    if (!body_.data.empty()) body_.data.pop_back();
    return;
  }
  if (body_.pdu) {
    if (c == '\r' || c == '\n') return;
    if (body_.data.size() < kMaxBody) body_.data.push_back(c);
    return;
  }
  if (body_.data.size() < kMaxBody) body_.data.push_back(c);
  // TS 27.005 3.5.1: in text mode each CR in the body brings the prompt again.
  if (c == '\r') Emit(out, Emission::Kind::Answer, kPrompt);
}

void AtEngine::ReceiveDataByte(char c, Emissions& out) {
  // V.250 6.3.x: "+++" leaves on-line data state for on-line command state.
  // The guard times around it are not modelled.
  plusCount_ = c == '+' ? plusCount_ + 1 : 0;
  if (plusCount_ < 3) return;
  plusCount_ = 0;
  lineState_ = LineState::Command;
  call_ = CallState::DataCommand;
  Emit(out, Emission::Kind::Answer, FinalText(Result::Ok()));
  FlushHeldUnsolicited(out);
}

void AtEngine::RunLine(const std::string& line, Emissions& out) {
  const std::size_t at = FindAtPrefix(line);
  if (at == std::string::npos) return;  // not a command line: no answer
  const std::string command = line.substr(at);
  commandLines_.push_back(command);
  lastLine_ = command;

  if (wedged_) {
    const std::string upper = Upper(command);
    if (upper.rfind("AT+CFUN=1,1", 0) == 0) {
      wedged_ = false;
      restartRequested_ = true;
    } else {
      for (const char* prefix : {"AT+CMG", "AT+CPMS", "AT+CNMI", "AT+CSCA", "AT+CSMS", "AT+CSMP", "AT+CNMA"})
        if (upper.rfind(prefix, 0) == 0) return;  // echoed, never answered
    }
  }

  Response response;
  const Result result = Execute(std::string_view(command).substr(2), response);
  Emit(out, Emission::Kind::Answer, Format(response, result));
  // What the network answers later (USSD) goes after the final result.
  for (Emission& e : later_) out.push_back(std::move(e));
  later_.clear();
  if (flushCnmi_) {
    flushCnmi_ = false;
    for (std::string& held : cnmiBuffer_) Emit(out, Emission::Kind::Unsolicited, std::move(held));
    cnmiBuffer_.clear();
  }
  if (lineState_ == LineState::Command) FlushHeldUnsolicited(out);
}

// ---------------------------------------------------------------------------
// Command line parsing (V.250 5.3, 5.4)

AtEngine::Result AtEngine::Execute(std::string_view s, Response& response) {
  std::size_t p = 0;
  Result result = Result::Ok();
  auto digits = [&](std::size_t& q) {
    const std::size_t begin = q;
    while (q < s.size() && IsDigit(s[q])) ++q;
    return s.substr(begin, q - begin);
  };
  while (p < s.size()) {
    const char c = Upper(s[p]);
    if (IsSpace(c) || c == ';') {
      ++p;
      continue;
    }
    if (c == '+') {
      std::size_t q = p + 1;
      while (q < s.size() && IsNameChar(s[q])) ++q;
      const std::string name = Upper(s.substr(p, q - p));
      Form form = Form::Action;
      std::string_view args;
      if (q < s.size() && s[q] == '=') {
        if (q + 1 < s.size() && s[q + 1] == '?') {
          form = Form::Test;
          q += 2;
        } else {
          form = Form::Set;
          std::size_t end = q + 1;
          bool quoted = false;
          while (end < s.size() && (quoted || s[end] != ';')) {
            if (s[end] == '"') quoted = !quoted;
            ++end;
          }
          args = s.substr(q + 1, end - q - 1);
          q = end;
        }
      } else if (q < s.size() && s[q] == '?') {
        form = Form::Read;
        ++q;
      }
      while (q < s.size() && IsSpace(s[q])) ++q;
      if (q < s.size() && s[q] != ';') return Result::Error();
      p = q;
      result = RunExtended(name, form, args, response);
    } else if (c == 'D') {
      // A voice dial string ends at ';' and more commands may follow it; a
      // data dial string takes the rest of the line.
      const std::size_t semicolon = s.find(';', p + 1);
      const bool voice = semicolon != std::string_view::npos;
      const std::string_view dial = s.substr(p + 1, voice ? semicolon - p - 1 : std::string_view::npos);
      p = voice ? semicolon + 1 : s.size();
      result = Supported("D") ? Dial(dial, voice) : Result::Error();
    } else if (c == 'S') {
      std::size_t q = p + 1;
      const std::string_view reg = digits(q);
      if (reg.empty() || reg.size() > 3) return Result::Error();
      std::string op;
      std::string_view value;
      if (q < s.size() && s[q] == '?') {
        op = "?";
        ++q;
      } else if (q < s.size() && s[q] == '=') {
        op = "=";
        ++q;
        value = digits(q);
      }
      p = q;
      result = SRegister(std::stoi(std::string(reg)), op, value, response);
    } else if (c == '&') {
      if (p + 1 >= s.size()) return Result::Error();
      const std::string name = std::string("&") + Upper(s[p + 1]);
      std::size_t q = p + 2;
      digits(q);
      p = q;
      if (!Supported(name)) return Result::Error();
      if (name == "&F") ResetSettings();
      result = name == "&F" || name == "&W" || name == "&C" || name == "&D" || name == "&K"
                   ? Result::Ok()
                   : Result::Error();
    } else if (c >= 'A' && c <= 'Z') {
      std::size_t q = p + 1;
      const std::string_view value = digits(q);
      p = q;
      result = Basic(c, value.empty() ? 0 : std::stoi(std::string(value.substr(0, 6))), response);
    } else {
      return Result::Error();
    }
    if (result.kind != Result::Kind::Ok) return result;
  }
  return result;
}

AtEngine::Result AtEngine::Basic(char name, int value, Response& response) {
  if (!Supported(std::string(1, name))) return Result::Cme(4);
  switch (name) {
    case 'E':
    case 'V':
    case 'Q': {
      if (value > 1) return Result::Error();
      bool& flag = name == 'E' ? echo_ : (name == 'V' ? verbose_ : quiet_);
      flag = value == 1;
      return Result::Ok();
    }
    case 'Z':
      ResetSettings();
      return Result::Ok();
    case 'A':
      if (call_ != CallState::Ringing) return Result::Of(Result::Kind::NoCarrier);
      call_ = CallState::Voice;
      return Result::Ok();
    case 'H':
      call_ = CallState::Idle;
      return Result::Ok();
    case 'O':
      if (call_ != CallState::DataCommand) return Result::Of(Result::Kind::NoCarrier);
      call_ = CallState::DataOnline;
      lineState_ = LineState::DataOnline;
      return Result::Of(Result::Kind::Connect);
    case 'I':
      response.blocks.push_back({Line{config_.manufacturer}, Line{config_.model},
                                 Line{"Revision: " + config_.revision}});
      return Result::Ok();
    case 'L':
    case 'M':
    case 'X':
      return Result::Ok();
    default:
      return Result::Cme(4);
  }
}

AtEngine::Result AtEngine::SRegister(int reg, const std::string& op, std::string_view value,
                                     Response& response) {
  if (!Supported("S" + Number(reg))) return Result::Error();
  auto it = sRegisters_.find(reg);
  if (it == sRegisters_.end()) return Result::Error();
  if (op == "?") {
    char text[8];
    std::snprintf(text, sizeof text, "%03d", it->second);  // V.250 6.1.2: three digits
    response.Info(text);
    return Result::Ok();
  }
  if (op == "=") {
    const int v = value.empty() ? 0 : std::stoi(std::string(value.substr(0, 6)));
    if (v > 255) return Result::Error();
    it->second = v;
    return Result::Ok();
  }
  return Result::Ok();  // "ATSn" selects the register; nothing to answer
}

AtEngine::Result AtEngine::Dial(std::string_view dial, bool voice) {
  std::string number;
  for (char c : dial) {
    if (c == '>') return Result::Error();  // dialling from a phonebook is not offered
    if (IsDigit(c) || c == '+' || c == '*' || c == '#' || (Upper(c) >= 'A' && Upper(c) <= 'C')) {
      number.push_back(c);
    }
  }
  if (number.empty()) return Result::Error();
  if (const Result sim = SimCheck(false); sim.kind != Result::Kind::Ok) return sim;
  if (call_ != CallState::Idle) return Result::Cme(3);
  lastDialled_ = number;
  if (voice) {
    call_ = CallState::Voice;
    return Result::Ok();
  }
  switch (config_.dataCall) {
    case DataCallOutcome::Connect:
      call_ = CallState::DataOnline;
      lineState_ = LineState::DataOnline;
      plusCount_ = 0;
      return Result::Of(Result::Kind::Connect);
    case DataCallOutcome::Busy:
      return Result::Of(Result::Kind::Busy);
    case DataCallOutcome::NoCarrier:
      return Result::Of(Result::Kind::NoCarrier);
  }
  return Result::Error();
}

const AtEngine::CommandEntry* AtEngine::FindExtended(std::string_view name) {
  static constexpr std::array<CommandEntry, 37> kCommands = {{
      {"+CEREG", &AtEngine::Cereg}, {"+CFUN", &AtEngine::Cfun},   {"+CGMI", &AtEngine::Gmi},
      {"+CGMM", &AtEngine::Gmm},    {"+CGMR", &AtEngine::Gmr},    {"+CGREG", &AtEngine::Cgreg},
      {"+CGSN", &AtEngine::Gsn},    {"+CHUP", &AtEngine::Chup},   {"+CIMI", &AtEngine::Cimi},
      {"+CLIP", &AtEngine::Clip},   {"+CLIR", &AtEngine::Clir},   {"+CMEE", &AtEngine::Cmee},
      {"+CMGD", &AtEngine::Cmgd},   {"+CMGF", &AtEngine::Cmgf},   {"+CMGL", &AtEngine::Cmgl},
      {"+CMGR", &AtEngine::Cmgr},   {"+CMGS", &AtEngine::Cmgs},   {"+CMGW", &AtEngine::Cmgw},
      {"+CNMA", &AtEngine::Cnma},   {"+CNMI", &AtEngine::Cnmi},   {"+COPS", &AtEngine::Cops},
      {"+CPIN", &AtEngine::Cpin},   {"+CPINR", &AtEngine::Cpinr}, {"+CPMS", &AtEngine::Cpms},
      {"+CRC", &AtEngine::Crc},     {"+CREG", &AtEngine::Creg},   {"+CSCA", &AtEngine::Csca},
      {"+CSCS", &AtEngine::Cscs},   {"+CSDH", &AtEngine::Csdh},   {"+CSMP", &AtEngine::Csmp},
      {"+CSMS", &AtEngine::Csms},   {"+CSQ", &AtEngine::Csq},     {"+CUSD", &AtEngine::Cusd},
      {"+GMI", &AtEngine::Gmi},     {"+GMM", &AtEngine::Gmm},     {"+GMR", &AtEngine::Gmr},
      {"+GSN", &AtEngine::Gsn},
  }};
  for (const CommandEntry& e : kCommands) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

AtEngine::Result AtEngine::RunExtended(const std::string& name, Form form, std::string_view args,
                                       Response& response) {
  // A command this modem does not have: "ERROR", or under AT+CMEE
  // "+CME ERROR: 4" (operation not supported).
  if (!Supported(name)) return Result::Cme(4);
  const CommandEntry* entry = FindExtended(name);
  if (entry == nullptr) return Result::Cme(4);
  return (this->*entry->handler)(form, ParseArgs(args), response);
}

// ---------------------------------------------------------------------------
// Formatting (V.250 5.7)

std::string AtEngine::Case(const std::string& text) const {
  if (!config_.quirks.lowerCase) return text;
  std::string out = text;
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return Lower(c); });
  return out;
}

std::string AtEngine::Frame(const std::vector<Line>& lines) const {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string text = lines[i].body ? lines[i].text : Case(lines[i].text);
    if (verbose_) {
      out += (i == 0 ? "\r\n" : "") + text + "\r\n";
    } else {
      out += text + "\r\n";
    }
  }
  return out;
}

std::string AtEngine::FinalText(const Result& result) const {
  using Kind = Result::Kind;
  if (result.kind == Kind::Prompt) return kPrompt;
  if (result.kind == Kind::Silent || quiet_) return {};
  std::string text;
  int code = -1;  // V.250 numeric code, for ATV0
  switch (result.kind) {
    case Kind::Ok: text = "OK"; code = 0; break;
    case Kind::Connect: text = "CONNECT"; code = 1; break;
    case Kind::NoCarrier: text = "NO CARRIER"; code = 3; break;
    case Kind::Error: text = "ERROR"; code = 4; break;
    case Kind::Busy: text = "BUSY"; code = 7; break;
    case Kind::Cme:
      if (cmee_ == 0) {
        text = "ERROR";
        code = 4;
      } else if (cmee_ == 2) {
        text = "+CME ERROR: " + Number(result.code);
        for (const CmeText& t : kCmeTexts) {
          if (t.code == result.code) text = std::string("+CME ERROR: ") + t.text;
        }
      } else {
        text = "+CME ERROR: " + Number(result.code);
      }
      break;
    case Kind::Cms: text = "+CMS ERROR: " + Number(result.code); break;
    case Kind::Text: text = result.text; break;
    case Kind::Prompt:
    case Kind::Silent: break;
  }
  if (!verbose_) return code >= 0 ? Number(code) + "\r" : Case(text) + "\r\n";
  return "\r\n" + Case(text) + "\r\n";
}

std::string AtEngine::Format(const Response& response, const Result& result) const {
  std::string out;
  for (const std::vector<Line>& block : response.blocks) out += Frame(block);
  return out + FinalText(result);
}

void AtEngine::EmitUnsolicited(std::vector<Line> lines, Emissions& out, bool messageIndication) {
  std::string bytes = Frame(lines);
  if (messageIndication && cnmi_[0] == 0) {
    cnmiBuffer_.push_back(std::move(bytes));  // TS 27.005 3.4.1 <mode> 0: kept in the TA
    return;
  }
  if (lineState_ != LineState::Command) {
    held_.push_back(std::move(bytes));
    return;
  }
  Emit(out, Emission::Kind::Unsolicited, std::move(bytes));
}

void AtEngine::FlushHeldUnsolicited(Emissions& out) {
  for (std::string& bytes : held_) Emit(out, Emission::Kind::Unsolicited, std::move(bytes));
  held_.clear();
}

void AtEngine::Unsolicited(const std::string& text, Emissions& out) { EmitUnsolicited({Line{text}}, out); }

void AtEngine::SetRegistration(int stat, Emissions& out) {
  const int before = CurrentRegistration();
  config_.registration = stat;
  if (CurrentRegistration() == before) return;
  const int modes[] = {creg_, cgreg_, cereg_};
  for (int family = 0; family < 3; ++family)
    if (modes[family] > 0) EmitUnsolicited({Line{RegistrationFields(family, false)}}, out);
}

void AtEngine::NetworkUssd(int m, const std::string& utf8, Emissions& out) {
  if (cusd_ == 0) return;  // not presented
  EmitUnsolicited({Line{UssdPlain(m, utf8), true}}, out);
}

void AtEngine::DeliverLater(const Emission& later, Emissions& out) {
  if (later.ussdSerial != ussdSerial_) return;  // cancelled, or another request since
  if (lineState_ != LineState::Command) {
    held_.push_back(later.bytes);
    return;
  }
  Emit(out, Emission::Kind::Unsolicited, later.bytes);
}

std::string AtEngine::TeString(const std::string& utf8) const {
  return ToTeCharacterSet(Utf8ToCodePoints(utf8), cscs_);
}

std::string AtEngine::FromTeString(const std::string& value) const {
  if (cscs_ != "UCS2") return value;
  const auto text = FromTeCharacterSet(value, cscs_);
  return text ? CodePointsToUtf8(*text) : value;
}

// TS 27.005 3.1 <data> in text mode.
std::string AtEngine::TextData(const MessageFields& f) const {
  if (f.hasHeader || EncodingOfDcs(f.dcs) != SmsEncoding::Gsm7Bit) return ToHex(f.userData);
  return ToTeCharacterSet(f.text, cscs_);
}

std::string AtEngine::Alpha(const std::string& number) const {
  const auto it = config_.phonebook.find(number);
  return it == config_.phonebook.end() ? std::string() : Quoted(it->second);
}

std::string AtEngine::TextReportFields(const MessageFields& f) const {
  return Number(f.firstOctet) + "," + Number(f.messageReference) + "," + Quoted(f.address) + "," +
         Number(f.addressType) + ",\"" + f.timestamp + "\",\"" + f.dischargeTime + "\"," + Number(f.reportStatus);
}

std::string AtEngine::TextHeaderCmgr(const StoredMessage& m) const {
  const MessageFields& f = m.pdu.fields;
  // TS 27.005 4.1: a status report, <stat> then its fields, no body.
  if (f.statusReport) return "+CMGR: \"" + std::string(StatusWord(m.status)) + "\"," + TextReportFields(f);
  std::string h = "+CMGR: \"" + std::string(StatusWord(m.status)) + "\"," + Quoted(f.address) + "," + Alpha(f.address);
  if (f.incoming) {
    h += ",\"" + f.timestamp + "\"";
    if (csdh_) {
      h += "," + Number(f.addressType) + "," + Number(f.firstOctet) + "," + Number(f.pid) + "," +
           Number(f.dcs) + "," + Quoted(f.serviceCentre) + "," + NumberOrEmpty(f.serviceCentreType) + "," +
           Number(f.userDataLength);
    }
  } else if (csdh_) {
    h += "," + Number(f.addressType) + "," + Number(f.firstOctet) + "," + Number(f.pid) + "," +
         Number(f.dcs) + "," + (f.validityPeriod >= 0 ? Number(f.validityPeriod) : "") + "," +
         Quoted(f.serviceCentre) + "," + NumberOrEmpty(f.serviceCentreType) + "," + Number(f.userDataLength);
  }
  return h;
}

std::string AtEngine::TextHeaderCmgl(int index, const StoredMessage& m) const {
  const MessageFields& f = m.pdu.fields;
  if (f.statusReport) return "+CMGL: " + Number(index) + ",\"" + StatusWord(m.status) + "\"," + TextReportFields(f);
  std::string h = "+CMGL: " + Number(index) + ",\"" + StatusWord(m.status) + "\"," + Quoted(f.address) + "," +
                  Alpha(f.address) + ",";
  if (f.incoming) h += "\"" + f.timestamp + "\"";
  if (csdh_) h += "," + Number(f.addressType) + "," + Number(f.userDataLength);
  return h;
}

std::string AtEngine::TextHeaderCmt(const SmsPdu& pdu) const {
  const MessageFields& f = pdu.fields;
  std::string h = "+CMT: " + Quoted(f.address) + ",,\"" + f.timestamp + "\"";
  if (csdh_) {
    h += "," + Number(f.addressType) + "," + Number(f.firstOctet) + "," + Number(f.pid) + "," +
         Number(f.dcs) + "," + Quoted(f.serviceCentre) + "," + NumberOrEmpty(f.serviceCentreType) + "," +
         Number(f.userDataLength);
  }
  return h;
}

// ---------------------------------------------------------------------------
// Helpers

AtEngine::Result AtEngine::SimCheck(bool messageService) const {
  switch (pin_) {
    case PinState::Ready: return Result::Ok();
    case PinState::SimPin: return messageService ? Result::Cms(311) : Result::Cme(11);
    case PinState::SimPuk: return messageService ? Result::Cms(316) : Result::Cme(12);
    case PinState::Blocked: return messageService ? Result::Cms(313) : Result::Cme(13);
    case PinState::NoSim: return messageService ? Result::Cms(310) : Result::Cme(10);
  }
  return Result::Ok();
}

MessageStore* AtEngine::Storage(const std::string& name) {
  auto it = stores_.find(Upper(name));
  return it == stores_.end() ? nullptr : &it->second;
}

const MessageStore* AtEngine::Storage(const std::string& name) const {
  auto it = stores_.find(Upper(name));
  return it == stores_.end() ? nullptr : &it->second;
}

std::vector<StoredSms> AtEngine::Stored() const {
  std::vector<StoredSms> out;
  for (const auto& [name, store] : stores_) {
    for (const auto& [index, m] : store.Messages()) out.push_back({name, index, m.status, m.pdu.Hex()});
  }
  return out;
}

ModemState AtEngine::State() const {
  ModemState s;
  s.echo = echo_;
  s.verbose = verbose_;
  s.quiet = quiet_;
  s.autoAnswerRings = sRegisters_.at(0);
  s.cmee = cmee_;
  s.characterSet = cscs_;
  s.messageFormat = cmgf_;
  s.showTextHeader = csdh_;
  std::copy(cnmi_.begin(), cnmi_.end(), s.cnmi);
  s.csms = csms_;
  s.clip = clip_;
  s.clir = clir_;
  s.crc = crc_;
  s.readStorage = mem1_;
  s.writeStorage = mem2_;
  s.receiveStorage = mem3_;
  s.serviceCentre = serviceCentre_;
  s.pin = pin_;
  s.pinAttempts = pinAttempts_;
  s.pukAttempts = pukAttempts_;
  s.registration = config_.registration;
  s.cregMode = creg_;
  s.cgregMode = cgreg_;
  s.ceregMode = cereg_;
  s.ussdMenu = ussdMenu_;
  s.call = call_;
  s.lastDialled = lastDialled_;
  return s;
}

// ---------------------------------------------------------------------------
// Events

std::vector<DeliveredPart> AtEngine::DeliverSms(const IncomingSms& sms, Emissions& out) {
  const std::vector<SmsPdu> pdus = EncodeDeliver(sms);
  std::vector<int> order = sms.partOrder;
  if (order.empty()) {
    for (std::size_t i = 1; i <= pdus.size(); ++i) order.push_back(static_cast<int>(i));
  }
  std::vector<DeliveredPart> delivered;
  for (int number : order) {
    if (number < 1 || static_cast<std::size_t>(number) > pdus.size()) continue;
    const SmsPdu& pdu = pdus[static_cast<std::size_t>(number) - 1];
    DeliveredPart part;
    part.partNumber = number;
    part.pdu = pdu.Hex();
    // TS 27.005 3.4.1 <mt>: 2 routes messages (of no class or class 0, all
    // this network sends) straight to the client; 0, 1 and 3 store them.
    if (sms.announce && cnmi_[1] == 2) {
      if (cmgf_ == 1) {
        EmitDelivery({Line{TextHeaderCmt(pdu)}, Line{TextData(pdu.fields), true}}, out);
      } else {
        EmitDelivery({Line{"+CMT: ," + Number(static_cast<int>(pdu.TpduLength()))}, Line{pdu.Hex()}}, out);
      }
      delivered.push_back(part);
      continue;
    }
    const std::string storage = Upper(sms.storage.empty() ? mem3_ : sms.storage);
    if (MessageStore* store = Storage(storage)) {
      part.storage = storage;
      part.index = store->Add({SmsStatus::ReceivedUnread, pdu});
      if (part.index > 0 && sms.announce && (cnmi_[1] == 1 || cnmi_[1] == 3)) {
        if (dropNotices_ > 0) {
          --dropNotices_;  // lost on its way: stored, never announced
        } else {
          EmitUnsolicited({Line{"+CMTI: \"" + storage + "\"," + Number(part.index)}}, out, true);
        }
      }
    }
    delivered.push_back(part);
  }
  return delivered;
}

int AtEngine::StoreRawPdu(const std::string& storage, const std::string& hex, SmsStatus status, bool announce,
                          Emissions& out) {
  SmsPdu pdu;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    pdu.octets.push_back(static_cast<std::uint8_t>(digit(hex[i]) * 16 + digit(hex[i + 1])));
  }
  pdu.serviceCentreOctets = pdu.octets.empty() ? 0 : std::min<std::size_t>(pdu.octets[0] + 1u, pdu.octets.size());
  const std::string name = Upper(storage.empty() ? mem3_ : storage);
  MessageStore* store = Storage(name);
  if (store == nullptr) return -1;
  const int index = store->Add({status, pdu});
  if (index > 0 && announce && (cnmi_[1] == 1 || cnmi_[1] == 3))
    EmitUnsolicited({Line{"+CMTI: \"" + name + "\"," + Number(index)}}, out, true);
  return index;
}

void AtEngine::StartIncomingCall(const IncomingCall& call) {
  if (call_ != CallState::Idle) return;  // no call waiting on this line
  incoming_ = call;
  call_ = CallState::Ringing;
  ringsHeard_ = 0;
}

bool AtEngine::Ring(Emissions& out) {
  if (call_ != CallState::Ringing) return false;
  EmitUnsolicited({Line{crc_ ? "+CRING: VOICE" : "RING"}}, out);  // TS 27.007 6.11
  if (clip_) {
    const int type = incoming_.numberType != 0 ? incoming_.numberType
                                               : (!incoming_.number.empty() && incoming_.number[0] == '+' ? 145 : 129);
    // TS 27.007 7.6: number, type, subaddress, its type, name, CLI validity.
    EmitUnsolicited(
        {Line{"+CLIP: " + Quoted(incoming_.number) + "," + Number(type) + ",,," + Alpha(incoming_.number) + ",0"}}, out);
  }
  ++ringsHeard_;
  const int autoAnswer = sRegisters_.at(0);
  if (autoAnswer > 0 && ringsHeard_ >= autoAnswer) call_ = CallState::Voice;
  return true;
}

void AtEngine::CallerGaveUp(bool noCarrier, Emissions& out) {
  if (call_ != CallState::Ringing) return;
  call_ = CallState::Idle;
  if (noCarrier) EmitUnsolicited({Line{"NO CARRIER"}}, out);
}

void AtEngine::RemoteHangUp(Emissions& out) {
  if (call_ == CallState::Idle) return;
  call_ = CallState::Idle;
  if (lineState_ == LineState::DataOnline) lineState_ = LineState::Command;
  EmitUnsolicited({Line{"NO CARRIER"}}, out);
}

// ---------------------------------------------------------------------------
// Message bodies (TS 27.005 3.5.1, 4.3)

void AtEngine::FinishBody(Emissions& out) {
  const PendingBody body = std::move(body_);
  body_ = PendingBody{};
  lineState_ = LineState::Command;
  Response response;
  const Result result = body.write ? WriteBody(body, response) : SendBody(body, response);
  Emit(out, Emission::Kind::Answer, Format(response, result));
  FlushHeldUnsolicited(out);
}

void AtEngine::CancelBody(Emissions& out) {
  body_ = PendingBody{};
  lineState_ = LineState::Command;
  Emit(out, Emission::Kind::Answer, FinalText(Result::Ok()));
  FlushHeldUnsolicited(out);
}

std::optional<SmsPdu> AtEngine::BodyToPdu(const PendingBody& body, Result& error) {
  if (body.pdu) {
    error = Result::Cms(304);
    const auto octets = FromHex(body.data);
    if (!octets || octets->empty()) return std::nullopt;
    const std::size_t serviceCentreOctets = 1u + (*octets)[0];
    if (serviceCentreOctets > octets->size() ||
        octets->size() - serviceCentreOctets != static_cast<std::size_t>(body.length)) {
      return std::nullopt;
    }
    std::string why;
    std::optional<SmsPdu> pdu = DecodeSubmit(*octets, &why);
    if (pdu && pdu->fields.serviceCentre.empty()) {
      pdu->fields.serviceCentre = serviceCentre_;
      pdu->fields.serviceCentreType = serviceCentreType_;
    }
    return pdu;
  }

  error = Result::Cms(305);
  const SmsEncoding encoding = EncodingOfDcs(csmp_[3]);
  std::optional<std::u32string> text;
  std::size_t size = 0;
  switch (encoding) {
    case SmsEncoding::Gsm7Bit:
      text = FromTeCharacterSet(body.data, cscs_);
      if (text) size = ToGsmCodes(*text).size();
      break;
    case SmsEncoding::EightBit:
      if (const auto octets = FromHex(body.data)) {
        text = std::u32string(octets->begin(), octets->end());
        size = octets->size();
      }
      break;
    case SmsEncoding::Ucs2:
      text = FromTeCharacterSet(body.data, "UCS2");
      if (text) size = ToUtf16(*text).size() * 2;
      break;
  }
  const std::size_t limit = encoding == SmsEncoding::Gsm7Bit ? 160 : 140;
  if (!text || size > limit) return std::nullopt;
  SubmitRequest request;
  request.destination = body.destination;
  request.destinationType = body.destinationType;
  request.serviceCentre = serviceCentre_;
  request.firstOctet = csmp_[0];
  request.validityPeriod = csmp_[1];
  request.pid = csmp_[2];
  request.dcs = csmp_[3];
  request.text = *text;
  request.messageReference = nextReference_;
  return EncodeSubmit(request);
}

AtEngine::Result AtEngine::SendBody(const PendingBody& body, Response& response) {
  Result error;
  const std::optional<SmsPdu> pdu = BodyToPdu(body, error);
  if (!pdu) return error;
  if (failSends_ > 0) {
    --failSends_;
    return Result{Result::Kind::Text, 0, failResult_};
  }
  const MessageFields& f = pdu->fields;
  SubmittedMessage m;
  m.pduMode = body.pdu;
  if (body.pdu) {
    m.pdu = Upper(body.data);
    m.tpduLength = body.length;
  }
  m.serviceCentre = f.serviceCentre;
  m.destination = f.address;
  m.destinationType = f.addressType;
  m.dcs = f.dcs;
  m.encoding = EncodingOfDcs(f.dcs);
  m.text = CodePointsToUtf8(f.text);
  m.concat = f.concat;
  m.lockingShift = f.lockingShift;
  m.singleShift = f.singleShift;
  m.messageReference = nextReference_;
  m.answered = !config_.quirks.sendNeverAnswered;
  // TS 23.040 9.2.3.5 TP-SRR: the SC owes a status report for this part.
  m.reportRequested = (f.firstOctet & 0x20) != 0;
  nextReference_ = (nextReference_ + 1) & 0xFF;
  submitted_.push_back(m);
  if (m.reportRequested) {
    const ReportPolicy& policy = config_.reports;
    ReportJob job;
    job.reference = m.messageReference;
    job.destination = m.destination;
    job.destinationType = m.destinationType;
    job.statuses = policy.interim;
    int status = policy.status;
    if (const auto it = policy.byDestination.find(m.destination); it != policy.byDestination.end()) status = it->second;
    if (m.concat) {
      if (const auto it = policy.byPart.find(m.concat->sequence); it != policy.byPart.end()) status = it->second;
    }
    job.statuses.push_back(status);
    reportJobs_.push_back(std::move(job));
  }
  if (!m.answered) return Result::Of(Result::Kind::Silent);
  response.Info("+CMGS: " + Number(m.messageReference));
  return Result::Ok();
}

AtEngine::Result AtEngine::WriteBody(const PendingBody& body, Response& response) {
  Result error;
  const std::optional<SmsPdu> pdu = BodyToPdu(body, error);
  if (!pdu) return error;
  MessageStore* store = Storage(mem2_);
  const int index = store ? store->Add({body.status, *pdu}) : -1;
  if (index < 0) return Result::Cms(322);  // memory full
  response.Info("+CMGW: " + Number(index));
  return Result::Ok();
}

// ---------------------------------------------------------------------------
// Status reports and acknowledgements (TS 23.040 9.2.2.3, TS 27.005 3.4.1, 3.4.4)

std::vector<AtEngine::ReportJob> AtEngine::TakeReportJobs() {
  std::vector<ReportJob> jobs;
  jobs.swap(reportJobs_);
  return jobs;
}

std::vector<std::uint64_t> AtEngine::TakeAckWatches() {
  std::vector<std::uint64_t> watches;
  watches.swap(newWatches_);
  return watches;
}

void AtEngine::EmitDelivery(std::vector<Line> lines, Emissions& out) {
  if (csms_ == 1) {
    const std::uint64_t id = nextDeliveryId_++;
    unacknowledged_.push_back({id, lines, 0});
    newWatches_.push_back(id);
  }
  EmitUnsolicited(std::move(lines), out, true);
}

bool AtEngine::AckTimedOut(std::uint64_t id, Emissions& out) {
  for (auto it = unacknowledged_.begin(); it != unacknowledged_.end(); ++it) {
    if (it->id != id) continue;
    if (it->redeliveries >= config_.maxRedeliveries) {
      unacknowledged_.erase(it);  // the network gives up
      return false;
    }
    ++it->redeliveries;
    ++redeliveries_;
    newWatches_.push_back(id);
    EmitUnsolicited(it->lines, out, true);
    return true;
  }
  return false;
}

bool AtEngine::DeliverStatusReport(const ReportJob& job, int status, Emissions& out) {
  StatusReportRequest request;
  request.serviceCentre = serviceCentre_;
  request.messageReference = job.reference;
  request.recipient = job.destination;
  request.recipientType = job.destinationType;
  request.status = status;
  request.discharged.second = (request.received.second + 1) % 60;
  const SmsPdu pdu = EncodeStatusReport(request);
  switch (cnmi_[3]) {
    case 1:  // routed to the client
      ++reportsSent_;
      if (cmgf_ == 1) {
        EmitDelivery({Line{"+CDS: " + TextReportFields(pdu.fields)}}, out);
      } else {
        EmitDelivery({Line{"+CDS: " + Number(static_cast<int>(pdu.TpduLength()))}, Line{pdu.Hex()}}, out);
      }
      return true;
    default: {  // stored, and announced with <ds> 2
      MessageStore* store = Storage("SR");
      const int index = store ? store->Add({SmsStatus::ReceivedUnread, pdu}) : -1;
      if (index <= 0) return false;
      ++reportsSent_;
      if (cnmi_[3] == 2) EmitUnsolicited({Line{"+CDSI: \"SR\"," + Number(index)}}, out, true);
      return true;
    }
  }
}

}  // namespace vesk::sim
