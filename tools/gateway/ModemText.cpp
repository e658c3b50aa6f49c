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

std::string SimStateText(TSIMState state) {
  switch (state) {
    case ssReady: return "ready";
    case ssPINNeeded: return "pin";
    case ssPUKNeeded: return "puk";
    case ssPIN2Needed: return "pin2";
    case ssPUK2Needed: return "puk2";
    case ssNotInserted: return "absent";
    case ssPhoneToSIMPINNeeded:
    case ssFailure:
    case ssBusy: return "other";
    case ssUnknown: break;
  }
  return "";
}

std::string RegistrationText(const TRegistration& registration) {
  switch (registration.Status) {
    case rsNotRegistered: return "unregistered";
    case rsHome: return "home";
    case rsSearching: return "searching";
    case rsDenied: return "denied";
    case rsRoaming: return "roaming";
    case rsUnknown: break;
  }
  return registration.Stat < 0 ? "" : "unknown";
}

std::string OperatorText(const TOperator& op) {
  if (op.Format < 0) return "";
  // A name from the modem goes to JSON and a web page: control characters out.
  std::string clean;
  for (char c : WideToUtf8(op.Name))
    if (static_cast<unsigned char>(c) >= ' ' && c != 0x7F) clean += c;
  // At most 64 bytes, not cutting a character in two.
  if (clean.size() > 64) {
    std::size_t end = 64;
    while (end > 0 && (static_cast<unsigned char>(clean[end]) & 0xC0) == 0x80) --end;
    clean.resize(end);
  }
  return clean;
}

}  // namespace vesk::gateway
