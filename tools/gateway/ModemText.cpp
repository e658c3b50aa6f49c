#include "tools/gateway/ModemText.h"

#include <cctype>

#include "commands/Answers.h"
#include "incoming/Framing.h"

namespace vesk::gateway {

namespace {

std::string Trimmed(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
  return s.substr(a, b - a);
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  std::size_t i = 0;
  for (; prefix[i]; ++i)
    if (i >= s.size() || std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

bool IsHex(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads octets of a hex text; a read past the end fails and moves nothing.
class Cursor {
 public:
  explicit Cursor(const std::string& hex) : hex_(hex) {}
  bool Octet(int& out) {
    if (pos_ + 2 > hex_.size()) return false;
    const int hi = HexDigit(hex_[pos_]), lo = HexDigit(hex_[pos_ + 1]);
    if (hi < 0 || lo < 0) return false;
    out = hi * 16 + lo;
    pos_ += 2;
    return true;
  }
  bool Skip(std::size_t octets) {
    if (pos_ + 2 * octets > hex_.size()) return false;
    pos_ += 2 * octets;
    return true;
  }
  std::size_t Pos() const { return pos_; }
  void Seek(std::size_t pos) { pos_ = pos; }

 private:
  const std::string& hex_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<std::string> ReadableStorages(const std::vector<std::string>& lines) {
  for (const std::string& raw : lines) {
    const std::string line = Trimmed(raw);
    if (!StartsWithNoCase(line, "+CPMS:")) continue;
    std::string rest = line.substr(6);
    // The first list: up to the first ')' when the lists are bracketed,
    // else the first field.
    const std::size_t open = rest.find('(');
    std::string first;
    if (open != std::string::npos) {
      std::size_t close = open + 1;
      for (bool inQuotes = false; close < rest.size() && (inQuotes || rest[close] != ')'); ++close)
        if (rest[close] == '"') inQuotes = !inQuotes;
      if (close >= rest.size()) continue;
      first = rest.substr(open + 1, close - open - 1);
    } else {
      first = rest.substr(0, rest.find(','));
    }
    std::vector<std::string> names;
    std::string name;
    auto flush = [&] {
      name = Trimmed(name);
      if (!name.empty()) {
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        bool known = false;
        for (const std::string& n : names) known = known || n == name;
        // A storage name goes into a command line: letters, digits and '_' only.
        bool safe = name.size() <= 8;
        for (char c : name) safe = safe && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
        if (!known && safe) names.push_back(name);
      }
      name.clear();
    };
    bool quoted = false;
    for (char c : first) {
      if (c == '"')
        quoted = !quoted;
      else if (c == ',' && !quoted)
        flush();
      else if (c != '(' || quoted)
        name += c;
    }
    flush();
    if (!names.empty()) return names;
  }
  return {};
}

Listing ReadListing(const std::vector<std::string>& lines, const std::string& command) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  const at::TCommandAnswer answer = at::ReadCommandAnswer(text, command);
  Listing out;
  out.complete = answer.Succeeded();
  for (const at::TResult& result : answer.Results) {
    if (result.Kind != at::TResultKind::ListEntry || result.TextMode) continue;
    const at::TPduHeader header = at::PduHeader(result);
    if (header.Index < 0) continue;
    ListedMessage m;
    m.index = header.Index;
    m.status = header.Status;
    if (result.HasBody) m.pdu = Trimmed(result.Body);
    out.entries.push_back(std::move(m));
  }
  return out;
}

PduHeader ReadPduHeader(const std::string& pdu) {
  PduHeader h;
  if (!IsHex(pdu) || pdu.size() % 2 != 0) {
    h.error = header_error::kNotHex;
    return h;
  }
  Cursor c(pdu);
  int centre = 0, first = 0;
  if (!c.Octet(centre) || !c.Skip(static_cast<std::size_t>(centre))) {
    h.error = header_error::kCentreTruncated;
    return h;
  }
  if (!c.Octet(first)) {
    h.error = header_error::kNoFirstOctet;
    return h;
  }
  // TS 23.040 9.2.3.1 TP-MTI, as a mobile station receives it.
  switch (first & 0x03) {
    case 0: h.type = PduType::Deliver; break;
    case 1: h.type = PduType::Submit; break;
    case 2: h.type = PduType::StatusReport; break;
    default: h.type = PduType::Other; break;
  }
  if (h.type != PduType::Deliver) return h;
  const bool hasHeader = (first & 0x40) != 0;  // TP-UDHI
  // TP-OA: a length in semi-octets, the type, the digits.
  int digits = 0, type = 0;
  if (!c.Octet(digits) || !c.Octet(type) || !c.Skip(static_cast<std::size_t>((digits + 1) / 2))) {
    h.error = header_error::kAddressTruncated;
    return h;
  }
  // TP-PID, TP-DCS, TP-SCTS (7 octets), TP-UDL.
  int udl = 0;
  if (!c.Skip(2 + 7) || !c.Octet(udl)) {
    h.error = header_error::kFieldsTruncated;
    return h;
  }
  if (!hasHeader) return h;
  int headerLength = 0;
  if (!c.Octet(headerLength)) {
    h.error = header_error::kHeaderTruncated;
    return h;
  }
  const std::size_t end = c.Pos() + 2 * static_cast<std::size_t>(headerLength);
  if (end > pdu.size()) {
    h.error = header_error::kHeaderTruncated;
    return h;
  }
  while (c.Pos() < end) {
    int id = 0, length = 0;
    if (!c.Octet(id) || !c.Octet(length) || c.Pos() + 2 * static_cast<std::size_t>(length) > end) {
      h.error = header_error::kElementTruncated;
      return h;
    }
    const std::size_t data = c.Pos();
    if ((id == 0x00 && length == 3) || (id == 0x08 && length == 4)) {
      Concatenation part;
      part.referenceBits = id == 0x00 ? 8 : 16;
      int a = 0, b = 0;
      c.Octet(a);
      part.reference = a;
      if (id == 0x08) {
        c.Octet(b);
        part.reference = a * 256 + b;
      }
      part.totalAt = c.Pos();
      c.Octet(part.total);
      part.numberAt = c.Pos();
      c.Octet(part.number);
      if (part.number < 1 || part.total < 1 || part.number > part.total) {
        h.error = header_error::kBadPart;
        return h;
      }
      h.part = part;
    }
    // Past the element, whatever it held.
    c.Seek(data + 2 * static_cast<std::size_t>(length));
  }
  return h;
}

std::string AsSinglePart(const std::string& pdu, const Concatenation& part) {
  std::string out = pdu;
  if (part.totalAt + 2 <= out.size() && part.numberAt + 2 <= out.size()) {
    out.replace(part.totalAt, 2, "01");
    out.replace(part.numberAt, 2, "01");
  }
  return out;
}

namespace {

// The text after "+NAME:" on the first line that has it, trimmed.
std::optional<std::string> InfoAfter(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& raw : lines) {
    std::size_t a = 0;
    while (a < raw.size() && (raw[a] == ' ' || raw[a] == '\r' || raw[a] == '\n')) ++a;
    if (raw.compare(a, prefix.size(), prefix) != 0) continue;
    std::string rest = raw.substr(a + prefix.size());
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n' || rest.back() == ' ')) rest.pop_back();
    while (!rest.empty() && rest.front() == ' ') rest.erase(rest.begin());
    return rest;
  }
  return std::nullopt;
}

// The comma-separated fields of an information line; quoted ones whole.
std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      out.back() += c;
    } else if (c == ',' && !quoted) {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  for (std::string& f : out) {
    while (!f.empty() && f.front() == ' ') f.erase(f.begin());
    while (!f.empty() && f.back() == ' ') f.pop_back();
  }
  return out;
}

bool IsSmallNumber(const std::string& s) {
  return !s.empty() && s.size() <= 3 && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::string SimState(const std::vector<std::string>& lines) {
  if (std::optional<std::string> state = InfoAfter(lines, "+CPIN:")) {
    std::string upper;
    for (char c : *state) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (upper == "READY") return "ready";
    if (upper == "SIM PIN") return "pin";
    if (upper == "SIM PUK") return "puk";
    if (upper == "SIM PIN2") return "pin2";
    if (upper == "SIM PUK2") return "puk2";
    return "other";
  }
  if (std::optional<std::string> error = InfoAfter(lines, "+CME ERROR:")) return *error == "10" ? "absent" : "other";
  return "";
}

std::string Registration(const std::vector<std::string>& lines) {
  const std::optional<std::string> info = InfoAfter(lines, "+CREG:");
  if (!info) return "";
  const std::vector<std::string> f = Fields(*info);
  // The read form has <n> first; an unsolicited +CREG: <stat> has one field.
  const std::string& stat = f.size() >= 2 ? f[1] : f[0];
  if (!IsSmallNumber(stat)) return "";
  switch (std::stoi(stat)) {
    case 0: return "unregistered";
    case 1: return "home";
    case 2: return "searching";
    case 3: return "denied";
    case 5: return "roaming";
    default: return "unknown";
  }
}

std::string OperatorName(const std::vector<std::string>& lines) {
  const std::optional<std::string> info = InfoAfter(lines, "+COPS:");
  if (!info) return "";
  const std::vector<std::string> f = Fields(*info);
  if (f.size() < 3) return "";
  std::string name = f[2];
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
  // A name from the modem goes to JSON and a web page: control characters out.
  std::string clean;
  for (char c : name)
    if (static_cast<unsigned char>(c) >= ' ') clean += c;
  return clean.substr(0, 64);
}

}  // namespace vesk::gateway
