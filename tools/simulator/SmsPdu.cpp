#include "tools/simulator/SmsPdu.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tools/simulator/GsmAlphabet.h"

namespace vesk::sim {

namespace {

constexpr int kTypeInternational = 0x91;  // 145
constexpr int kTypeUnknown = 0x81;        // 129
constexpr int kTypeAlphanumeric = 0xD0;   // 208

constexpr std::size_t kUserDataOctets = 140;  // TS 23.040 9.2.3.24
constexpr std::size_t kSingleSeptets = 160;

bool IsAlphanumericType(int type) { return (type & 0x70) == 0x50; }

// TS 24.008 10.5.4.7: the BCD digits of a called party number.
int BcdNibble(char c) {
  switch (c) {
    case '*': return 0xA;
    case '#': return 0xB;
    default: return c - '0';
  }
}

char NibbleDigit(int nibble) {
  static constexpr char kDigits[] = "0123456789*#abc";
  return nibble < 15 ? kDigits[nibble] : '\0';
}

bool IsPhoneNumber(std::string_view address) {
  std::size_t i = !address.empty() && address[0] == '+' ? 1 : 0;
  if (i == address.size()) return false;
  for (; i < address.size(); ++i) {
    const char c = address[i];
    if (!((c >= '0' && c <= '9') || c == '*' || c == '#')) return false;
  }
  return true;
}

std::string DigitsOf(std::string_view address) {
  return std::string(!address.empty() && address[0] == '+' ? address.substr(1) : address);
}

// Semi-octets, first digit in the low nibble, padded with F.
void AppendSwappedDigits(Octets& out, const std::string& digits) {
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int lo = BcdNibble(digits[i]);
    const int hi = i + 1 < digits.size() ? BcdNibble(digits[i + 1]) : 0xF;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
}

std::uint8_t SwappedBcd(int value) {
  value = std::abs(value) % 100;
  return static_cast<std::uint8_t>((value % 10) << 4 | value / 10);
}

// One character of a message as the units of its encoding: septets for the
// default alphabet, octets otherwise.
using Unit = std::vector<std::uint8_t>;

std::vector<Unit> CharacterUnits(const std::u32string& text, SmsEncoding encoding) {
  std::vector<Unit> units;
  for (char32_t c : text) {
    switch (encoding) {
      case SmsEncoding::Gsm7Bit:
        units.push_back(ToGsmCodes(std::u32string(1, c)));
        break;
      case SmsEncoding::EightBit:
        units.push_back(Unit{static_cast<std::uint8_t>(c < 0x100 ? c : '?')});
        break;
      case SmsEncoding::Ucs2: {
        Unit u;
        for (char16_t cu : ToUtf16(std::u32string(1, c))) {
          u.push_back(static_cast<std::uint8_t>(cu >> 8));
          u.push_back(static_cast<std::uint8_t>(cu & 0xFF));
        }
        units.push_back(u);
        break;
      }
    }
  }
  return units;
}

std::size_t Size(const std::vector<Unit>& units) {
  std::size_t n = 0;
  for (const Unit& u : units) n += u.size();
  return n;
}

// Capacity of one part's text, in septets (default alphabet) or octets.
std::size_t PartCapacity(SmsEncoding encoding, std::size_t headerOctets) {
  if (encoding == SmsEncoding::Gsm7Bit) {
    if (headerOctets == 0) return kSingleSeptets;
    return ((kUserDataOctets - headerOctets) * 8 - FillBitsAfterHeader(headerOctets)) / 7;
  }
  return kUserDataOctets - headerOctets;
}

std::vector<Unit> Flatten(const std::vector<Unit>& units, std::size_t from, std::size_t to) {
  return std::vector<Unit>(units.begin() + static_cast<std::ptrdiff_t>(from),
                           units.begin() + static_cast<std::ptrdiff_t>(to));
}

std::u32string TextOf(SmsEncoding encoding, const std::vector<std::uint8_t>& data) {
  switch (encoding) {
    case SmsEncoding::Gsm7Bit:
      return FromGsmCodes(data);
    case SmsEncoding::EightBit:
      return std::u32string(data.begin(), data.end());
    case SmsEncoding::Ucs2: {
      std::u16string units;
      for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        units.push_back(static_cast<char16_t>(data[i] << 8 | data[i + 1]));
      }
      return FromUtf16(units);
    }
  }
  return {};
}

std::optional<ConcatInfo> ConcatFromHeader(const Octets& header) {
  // header: the information elements, UDHL left out (TS 23.040 9.2.3.24).
  std::size_t i = 0;
  while (i + 2 <= header.size()) {
    const int iei = header[i];
    const std::size_t len = header[i + 1];
    if (i + 2 + len > header.size()) break;
    const std::uint8_t* v = header.data() + i + 2;
    if (iei == 0x00 && len == 3) return ConcatInfo{v[0], v[1], v[2]};
    if (iei == 0x08 && len == 4) return ConcatInfo{v[0] << 8 | v[1], v[2], v[3]};
    i += 2 + len;
  }
  return std::nullopt;
}

// TS 23.040 9.2.3.24.15 (IEI 24, single shift) and .16 (IEI 25, locking
// shift): the language each names; 0 when absent. The last one counts.
void ShiftTablesFromHeader(const Octets& header, int& locking, int& single) {
  locking = single = 0;
  std::size_t i = 0;
  while (i + 2 <= header.size()) {
    const int iei = header[i];
    const std::size_t len = header[i + 1];
    if (i + 2 + len > header.size()) break;
    if (len == 1 && iei == 0x25) locking = header[i + 2];
    if (len == 1 && iei == 0x24) single = header[i + 2];
    i += 2 + len;
  }
}

// A bounds-checked reader over a PDU.
class Cursor {
 public:
  explicit Cursor(const Octets& octets) : octets_(octets) {}
  bool Next(int& out) {
    if (pos_ >= octets_.size()) return false;
    out = octets_[pos_++];
    return true;
  }
  bool Take(std::size_t n, Octets& out) {
    if (octets_.size() - pos_ < n) return false;
    out.assign(octets_.begin() + static_cast<std::ptrdiff_t>(pos_),
               octets_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
    pos_ += n;
    return true;
  }
  std::size_t Position() const { return pos_; }
  std::size_t Remaining() const { return octets_.size() - pos_; }

 private:
  const Octets& octets_;
  std::size_t pos_ = 0;
};

std::string SemiOctetDigits(const Octets& value, std::size_t digits) {
  std::string out;
  for (std::size_t i = 0; i < digits && i / 2 < value.size(); ++i) {
    const int nibble = i % 2 == 0 ? value[i / 2] & 0x0F : value[i / 2] >> 4;
    const char c = NibbleDigit(nibble);
    if (c == '\0') break;
    out.push_back(c);
  }
  return out;
}

std::optional<SmsPdu> Failure(std::string* error, const char* what) {
  if (error) *error = what;
  return std::nullopt;
}

}  // namespace

Octets PackSeptets(const std::vector<std::uint8_t>& septets, int fillBits) {
  const std::size_t bits = static_cast<std::size_t>(fillBits) + 7 * septets.size();
  Octets out((bits + 7) / 8, 0);
  for (std::size_t i = 0; i < septets.size(); ++i) {
    const std::size_t bit = static_cast<std::size_t>(fillBits) + 7 * i;
    const unsigned value = septets[i] & 0x7F;
    const std::size_t shift = bit % 8;
    out[bit / 8] |= static_cast<std::uint8_t>(value << shift);
    if (shift > 1) out[bit / 8 + 1] |= static_cast<std::uint8_t>(value >> (8 - shift));
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> UnpackSeptets(const Octets& octets, std::size_t count,
                                                       int fillBits) {
  if (static_cast<std::size_t>(fillBits) + 7 * count > 8 * octets.size()) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t bit = static_cast<std::size_t>(fillBits) + 7 * i;
    const std::size_t shift = bit % 8;
    unsigned value = octets[bit / 8] >> shift;
    if (shift > 1) value |= static_cast<unsigned>(octets[bit / 8 + 1]) << (8 - shift);
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
  }
  return out;
}

int FillBitsAfterHeader(std::size_t headerOctets) {
  return static_cast<int>((7 - (headerOctets * 8) % 7) % 7);
}

int DefaultAddressType(std::string_view address) {
  if (!IsPhoneNumber(address)) return kTypeAlphanumeric;
  return address[0] == '+' ? kTypeInternational : kTypeUnknown;
}

Octets EncodeAddress(std::string_view address, int type) {
  if (type == 0) type = DefaultAddressType(address);
  Octets out;
  if (IsAlphanumericType(type)) {
    const std::vector<std::uint8_t> codes = ToGsmCodes(Utf8ToCodePoints(address));
    const Octets packed = PackSeptets(codes);
    out.push_back(static_cast<std::uint8_t>((codes.size() * 7 + 3) / 4));  // semi-octets used
    out.push_back(static_cast<std::uint8_t>(type));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
  }
  const std::string digits = DigitsOf(address);
  out.push_back(static_cast<std::uint8_t>(digits.size()));
  out.push_back(static_cast<std::uint8_t>(type));
  AppendSwappedDigits(out, digits);
  return out;
}

Octets EncodeServiceCentre(std::string_view address, int type) {
  if (address.empty()) return Octets{0x00};
  if (type == 0) type = address[0] == '+' ? kTypeInternational : kTypeUnknown;
  const std::string digits = DigitsOf(address);
  Octets out{static_cast<std::uint8_t>(1 + (digits.size() + 1) / 2), static_cast<std::uint8_t>(type)};
  AppendSwappedDigits(out, digits);
  return out;
}

Octets EncodeTimestamp(const SmsTimestamp& ts) {
  std::uint8_t zone = SwappedBcd(ts.zoneQuarterHours);
  if (ts.zoneQuarterHours < 0) zone |= 0x08;  // sign bit, in the tens digit's nibble
  return Octets{SwappedBcd(ts.year), SwappedBcd(ts.month),  SwappedBcd(ts.day), SwappedBcd(ts.hour),
                SwappedBcd(ts.minute), SwappedBcd(ts.second), zone};
}

std::string TimestampText(const SmsTimestamp& ts) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d,%02d:%02d:%02d%c%02d", ts.year % 100, ts.month,
                ts.day, ts.hour, ts.minute, ts.second, ts.zoneQuarterHours < 0 ? '-' : '+',
                std::abs(ts.zoneQuarterHours) % 100);
  return buf;
}

int DataCodingScheme(SmsEncoding encoding, bool flash) {
  int dcs = 0x00;
  switch (encoding) {
    case SmsEncoding::Gsm7Bit: dcs = 0x00; break;
    case SmsEncoding::EightBit: dcs = 0x04; break;
    case SmsEncoding::Ucs2: dcs = 0x08; break;
  }
  if (flash) dcs |= 0x10;  // message class 0
  return dcs;
}

SmsEncoding EncodingOfDcs(int dcs) {
  // TS 23.038 4: general data coding (00xx, and 01xx with automatic deletion).
  if ((dcs & 0x80) == 0) {
    if (dcs & 0x20) return SmsEncoding::EightBit;  // compressed: opaque octets
    switch ((dcs >> 2) & 0x03) {
      case 1: return SmsEncoding::EightBit;
      case 2: return SmsEncoding::Ucs2;
      default: return SmsEncoding::Gsm7Bit;
    }
  }
  if ((dcs & 0xF0) == 0xE0) return SmsEncoding::Ucs2;  // message waiting, UCS2
  if ((dcs & 0xF0) == 0xF0) return (dcs & 0x04) ? SmsEncoding::EightBit : SmsEncoding::Gsm7Bit;
  return SmsEncoding::Gsm7Bit;
}

std::string SmsPdu::Hex() const { return ToHex(octets); }

SmsPdu EncodeStatusReport(const StatusReportRequest& request) {
  SmsPdu pdu;
  const Octets centre = EncodeServiceCentre(request.serviceCentre);
  pdu.octets = centre;
  pdu.serviceCentreOctets = centre.size();
  // TP-MTI 10, TP-MMS (no more messages), TP-SRQ 0: a report on an SMS-SUBMIT.
  const int firstOctet = 0x06;
  pdu.octets.push_back(static_cast<std::uint8_t>(firstOctet));
  pdu.octets.push_back(static_cast<std::uint8_t>(request.messageReference & 0xFF));
  const Octets recipient = EncodeAddress(request.recipient, request.recipientType);
  pdu.octets.insert(pdu.octets.end(), recipient.begin(), recipient.end());
  for (const SmsTimestamp* ts : {&request.received, &request.discharged}) {
    const Octets stamp = EncodeTimestamp(*ts);
    pdu.octets.insert(pdu.octets.end(), stamp.begin(), stamp.end());
  }
  pdu.octets.push_back(static_cast<std::uint8_t>(request.status & 0xFF));

  MessageFields& f = pdu.fields;
  f.incoming = true;
  f.statusReport = true;
  f.address = request.recipient;
  f.addressType = recipient[1];
  f.timestamp = TimestampText(request.received);
  f.dischargeTime = TimestampText(request.discharged);
  f.firstOctet = firstOctet;
  f.messageReference = request.messageReference & 0xFF;
  f.reportStatus = request.status & 0xFF;
  f.serviceCentre = request.serviceCentre;
  return pdu;
}

std::vector<SmsPdu> EncodeDeliver(const IncomingSms& sms) {
  const std::u32string text = Utf8ToCodePoints(sms.text);
  const std::size_t headerOctets = sms.referenceSize == ConcatReference::EightBit ? 6 : 7;

  // Cut into parts at character boundaries.
  std::vector<std::vector<Unit>> parts;
  std::vector<SmsEncoding> encodings;
  if (!sms.partEncodings.empty()) {
    // Each part in its own encoding, filled up to its own capacity.
    std::size_t next = 0;
    while ((next < text.size() || parts.size() < 2) && parts.size() < 255) {
      const SmsEncoding encoding = sms.partEncodings[std::min(parts.size(), sms.partEncodings.size() - 1)];
      const std::size_t capacity = PartCapacity(encoding, headerOctets);
      std::vector<Unit> part;
      std::size_t used = 0;
      while (next < text.size()) {
        Unit unit = CharacterUnits(text.substr(next, 1), encoding).at(0);
        if (used + unit.size() > capacity) break;
        used += unit.size();
        part.push_back(std::move(unit));
        ++next;
      }
      parts.push_back(std::move(part));
      encodings.push_back(encoding);
    }
  } else {
    const std::vector<Unit> units = CharacterUnits(text, sms.encoding);
    if (Size(units) <= PartCapacity(sms.encoding, 0)) {
      parts.push_back(units);
    } else {
      const std::size_t capacity = PartCapacity(sms.encoding, headerOctets);
      std::size_t begin = 0;
      while (begin < units.size() && parts.size() < 255) {
        std::size_t end = begin;
        std::size_t used = 0;
        while (end < units.size() && used + units[end].size() <= capacity) used += units[end++].size();
        parts.push_back(Flatten(units, begin, end));
        begin = end;
      }
    }
    encodings.assign(parts.size(), sms.encoding);
  }
  const bool concatenated = parts.size() > 1;
  const int senderType = sms.senderType != 0 ? sms.senderType : DefaultAddressType(sms.sender);
  const Octets serviceCentre = EncodeServiceCentre(sms.serviceCentre);

  std::vector<SmsPdu> pdus;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    const SmsEncoding encoding = encodings[p];
    const int dcs = DataCodingScheme(encoding, sms.flash);
    std::vector<std::uint8_t> data;
    for (const Unit& u : parts[p]) data.insert(data.end(), u.begin(), u.end());

    Octets header;  // UDHL and the concatenation element
    if (concatenated) {
      const auto total = static_cast<std::uint8_t>(parts.size());
      const auto seq = static_cast<std::uint8_t>(p + 1);
      if (sms.referenceSize == ConcatReference::EightBit) {
        header = {0x05, 0x00, 0x03, static_cast<std::uint8_t>(sms.reference & 0xFF), total, seq};
      } else {
        header = {0x06, 0x08, 0x04, static_cast<std::uint8_t>((sms.reference >> 8) & 0xFF),
                  static_cast<std::uint8_t>(sms.reference & 0xFF), total, seq};
      }
    }

    Octets userData = header;
    std::size_t udl = 0;
    if (encoding == SmsEncoding::Gsm7Bit) {
      const int fill = header.empty() ? 0 : FillBitsAfterHeader(header.size());
      const Octets packed = PackSeptets(data, fill);
      userData.insert(userData.end(), packed.begin(), packed.end());
      udl = (header.size() * 8 + static_cast<std::size_t>(fill)) / 7 + data.size();
    } else {
      userData.insert(userData.end(), data.begin(), data.end());
      udl = userData.size();
    }

    SmsPdu pdu;
    pdu.partNumber = static_cast<int>(p + 1);
    pdu.serviceCentreOctets = serviceCentre.size();
    MessageFields& f = pdu.fields;
    f.incoming = true;
    f.address = sms.sender;
    f.addressType = senderType;
    f.timestamp = TimestampText(sms.timestamp);
    f.firstOctet = 0x04 | (concatenated ? 0x40 : 0);  // TP-MTI 00, TP-MMS, TP-UDHI
    f.pid = 0;
    f.dcs = dcs;
    f.serviceCentre = sms.serviceCentre;
    f.serviceCentreType = sms.serviceCentre.empty() ? 0 : DefaultAddressType(sms.serviceCentre);
    f.userDataLength = static_cast<int>(udl);
    f.userData = userData;
    f.hasHeader = concatenated;
    f.text = TextOf(encoding, data);
    if (concatenated) f.concat = ConcatFromHeader(Octets(header.begin() + 1, header.end()));

    Octets& o = pdu.octets;
    o = serviceCentre;
    o.push_back(static_cast<std::uint8_t>(f.firstOctet));
    const Octets sender = EncodeAddress(sms.sender, senderType);
    o.insert(o.end(), sender.begin(), sender.end());
    o.push_back(0x00);  // TP-PID
    o.push_back(static_cast<std::uint8_t>(dcs));
    const Octets stamp = EncodeTimestamp(sms.timestamp);
    o.insert(o.end(), stamp.begin(), stamp.end());
    o.push_back(static_cast<std::uint8_t>(udl));
    o.insert(o.end(), userData.begin(), userData.end());
    pdus.push_back(std::move(pdu));
  }
  return pdus;
}

SmsPdu EncodeSubmit(const SubmitRequest& request) {
  SmsPdu pdu;
  const Octets serviceCentre = EncodeServiceCentre(request.serviceCentre);
  pdu.serviceCentreOctets = serviceCentre.size();
  const int firstOctet = (request.firstOctet & ~0x43) | 0x01;  // SMS-SUBMIT, no header
  const int vpf = (firstOctet >> 3) & 0x03;
  const int destinationType =
      request.destinationType != 0 ? request.destinationType : DefaultAddressType(request.destination);
  const SmsEncoding encoding = EncodingOfDcs(request.dcs);

  std::vector<std::uint8_t> data;
  for (const Unit& u : CharacterUnits(request.text, encoding)) data.insert(data.end(), u.begin(), u.end());
  const Octets userData = encoding == SmsEncoding::Gsm7Bit ? PackSeptets(data) : Octets(data);

  MessageFields& f = pdu.fields;
  f.incoming = false;
  f.address = request.destination;
  f.addressType = destinationType;
  f.firstOctet = firstOctet;
  f.pid = request.pid;
  f.dcs = request.dcs;
  f.validityPeriod = vpf == 2 ? request.validityPeriod : -1;
  f.serviceCentre = request.serviceCentre;
  f.serviceCentreType = request.serviceCentre.empty() ? 0 : DefaultAddressType(request.serviceCentre);
  f.userDataLength = static_cast<int>(data.size());
  f.userData = userData;
  f.text = TextOf(encoding, data);

  Octets& o = pdu.octets;
  o = serviceCentre;
  o.push_back(static_cast<std::uint8_t>(firstOctet));
  o.push_back(static_cast<std::uint8_t>(request.messageReference & 0xFF));
  const Octets destination = EncodeAddress(request.destination, destinationType);
  o.insert(o.end(), destination.begin(), destination.end());
  o.push_back(static_cast<std::uint8_t>(request.pid));
  o.push_back(static_cast<std::uint8_t>(request.dcs));
  if (vpf == 2) {
    o.push_back(static_cast<std::uint8_t>(request.validityPeriod));
  } else if (vpf != 0) {
    o.insert(o.end(), 7, 0x00);  // enhanced or absolute format: not offered
  }
  o.push_back(static_cast<std::uint8_t>(data.size()));
  o.insert(o.end(), userData.begin(), userData.end());
  return pdu;
}

std::optional<SmsPdu> DecodeSubmit(const Octets& octets, std::string* error) {
  Cursor in(octets);
  SmsPdu pdu;
  pdu.octets = octets;
  MessageFields& f = pdu.fields;
  f.incoming = false;

  // TS 24.008 10.5.4.9: service centre, length in octets, may be 0.
  int scLength = 0;
  if (!in.Next(scLength)) return Failure(error, "empty PDU");
  if (scLength > 0) {
    int scType = 0;
    Octets digits;
    if (!in.Next(scType) || !in.Take(static_cast<std::size_t>(scLength - 1), digits)) {
      return Failure(error, "service centre address runs past the end");
    }
    f.serviceCentreType = scType;
    f.serviceCentre = (scType == kTypeInternational ? "+" : "") + SemiOctetDigits(digits, digits.size() * 2);
  }
  pdu.serviceCentreOctets = in.Position();

  int fo = 0, mr = 0, daLength = 0, daType = 0, pid = 0, dcs = 0;
  if (!in.Next(fo)) return Failure(error, "no first octet");
  if ((fo & 0x03) != 0x01) return Failure(error, "TP-MTI is not SMS-SUBMIT");
  if (!in.Next(mr)) return Failure(error, "no TP-MR");
  if (!in.Next(daLength) || !in.Next(daType)) return Failure(error, "no TP-DA");
  Octets daValue;
  if (!in.Take(static_cast<std::size_t>((daLength + 1) / 2), daValue)) {
    return Failure(error, "TP-DA runs past the end");
  }
  if (IsAlphanumericType(daType)) {
    auto codes = UnpackSeptets(daValue, static_cast<std::size_t>(daLength) * 4 / 7);
    f.address = codes ? CodePointsToUtf8(FromGsmCodes(*codes)) : std::string();
  } else {
    f.address = (daType == kTypeInternational ? "+" : "") +
                SemiOctetDigits(daValue, static_cast<std::size_t>(daLength));
  }
  f.addressType = daType;
  if (!in.Next(pid) || !in.Next(dcs)) return Failure(error, "no TP-PID or TP-DCS");

  // TS 23.040 9.2.3.3 TP-VPF: none, enhanced (7), relative (1), absolute (7).
  const int vpf = (fo >> 3) & 0x03;
  Octets vp;
  const std::size_t vpOctets = vpf == 0 ? 0 : (vpf == 2 ? 1 : 7);
  if (!in.Take(vpOctets, vp)) return Failure(error, "TP-VP runs past the end");
  f.validityPeriod = vpf == 2 ? vp[0] : -1;

  int udl = 0;
  if (!in.Next(udl)) return Failure(error, "no TP-UDL");
  const SmsEncoding encoding = EncodingOfDcs(dcs);
  const std::size_t udOctets =
      encoding == SmsEncoding::Gsm7Bit ? (static_cast<std::size_t>(udl) * 7 + 7) / 8 : static_cast<std::size_t>(udl);
  if (in.Remaining() < udOctets) return Failure(error, "user data shorter than TP-UDL");
  if (in.Remaining() > udOctets) return Failure(error, "octets after the user data");
  Octets ud;
  in.Take(udOctets, ud);

  f.firstOctet = fo;
  f.pid = pid;
  f.dcs = dcs;
  f.userDataLength = udl;
  f.userData = ud;
  f.hasHeader = (fo & 0x40) != 0;

  std::size_t headerOctets = 0;
  if (f.hasHeader) {
    if (ud.empty() || static_cast<std::size_t>(ud[0]) + 1 > ud.size()) {
      return Failure(error, "user data header runs past the user data");
    }
    headerOctets = ud[0] + 1u;
    const Octets elements(ud.begin() + 1, ud.begin() + static_cast<std::ptrdiff_t>(headerOctets));
    f.concat = ConcatFromHeader(elements);
    ShiftTablesFromHeader(elements, f.lockingShift, f.singleShift);
  }
  if (encoding == SmsEncoding::Gsm7Bit) {
    const std::size_t headerSeptets = (headerOctets * 8 + 6) / 7;
    auto septets = UnpackSeptets(ud, static_cast<std::size_t>(udl));
    if (!septets || septets->size() < headerSeptets) {
      return Failure(error, "user data header longer than TP-UDL");
    }
    f.text = FromGsmCodes(std::vector<std::uint8_t>(septets->begin() + static_cast<std::ptrdiff_t>(headerSeptets),
                                                    septets->end()),
                          f.lockingShift, f.singleShift);
  } else {
    f.text = TextOf(encoding, std::vector<std::uint8_t>(ud.begin() + static_cast<std::ptrdiff_t>(headerOctets), ud.end()));
  }
  (void)mr;  // the modem assigns its own TP-MR
  return pdu;
}

}  // namespace vesk::sim
