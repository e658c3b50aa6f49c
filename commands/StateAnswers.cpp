#include "commands/StateAnswers.h"

#include <algorithm>
#include <cstring>

#include "codec/Alphabet.h"
#include "codec/Hex.h"
#include "codec/Packing.h"
#include "codec/TextMode.h"
#include "commands/Errors.h"

namespace vesk::at {

namespace {

AnsiString Upper(const AnsiString& s) { return UpperCase(s); }

// A plain (unquoted) decimal number of at most `digits` digits.
bool SmallNumber(const AnsiString& field, std::size_t digits, int& value) {
  if (field.empty() || field.size() > digits) return false;
  for (char c : field)
    if (c < '0' || c > '9') return false;
  value = std::stoi(field);
  return true;
}

bool Digits(const AnsiString& field, int& value) { return SmallNumber(field, 9, value); }

// Octets of a run of hexadecimal digits; false for an odd count or a
// character that is no digit.
bool HexOctets(const AnsiString& hex, std::vector<unsigned char>& octets) {
  if (hex.empty() || hex.size() % 2 != 0) return false;
  octets.resize(hex.size() / 2);
  return codec::DecodeHexOctets(hex.data(), octets.size(), octets.data());
}

// UTF-16 big-endian octets as text, up to the first U+0000 (what some
// modems pad a UCS2 USSD text with); a surrogate without its other half
// becomes U+FFFD.
WideString Utf16Text(const unsigned char* octets, std::size_t size) {
  WideString text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<char16_t>((octets[i] << 8) | octets[i + 1]);
    if (unit == 0) break;
    text.push_back(unit);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || (c >= 0xDC00 && c <= 0xDFFF)) {
      text[i] = u'\uFFFD';
    }
  }
  return text;
}

WideString GsmText(const unsigned char* codes, std::size_t count) {
  WideString text;
  codec::AppendGsmText(text, reinterpret_cast<const char*>(codes), count);
  return text;
}

bool IsDialText(const AnsiString& s) {
  if (s.empty()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if ((c < '0' || c > '9') && c != '*' && c != '#' && !(c == '+' && i == 0)) return false;
  }
  return true;
}

const TResult* FindAnswerLine(const TCommandAnswer& answer, const char* name,
                              bool (*form)(const TResult&, TRegistration&), TRegistration& out) {
  for (const TResult& r : answer.Results)
    if (r.Kind == TResultKind::Information && r.Name == name && form(r, out)) return &r;
  return nullptr;
}

int RegistrationRank(const TRegistration& r) {
  switch (r.Status) {
    case rsHome:
    case rsRoaming: return 5;
    case rsSearching: return 4;
    case rsDenied: return 3;
    case rsNotRegistered: return 2;
    case rsUnknown: return r.Stat >= 0 ? 1 : 0;
  }
  return 0;
}

void FillRegistration(const std::vector<AnsiString>& f, std::size_t first, const AnsiString& name, int stat,
                      TRegistration& out) {
  out = TRegistration();
  out.Source = name;
  out.Stat = stat;
  out.Status = RegistrationStatusOf(stat);
  if (f.size() > first + 1) out.Area = codec::Unquote(f[first + 1]);
  if (f.size() > first + 2) out.Cell = codec::Unquote(f[first + 2]);
  int act;
  if (f.size() > first + 3 && SmallNumber(f[first + 3], 2, act)) out.Technology = act;
}

// The <lac> place of an unsolicited result: absent, empty, quoted, or a
// bare hexadecimal value that is no small number.
bool LooksLikeArea(const AnsiString& field) {
  int unused;
  return field.empty() || field[0] == '"' || !SmallNumber(field, 2, unused);
}

}  // namespace

// ---------------------------------------------------------------- SIM

TSIMState SIMState(const TCommandAnswer& answer) {
  if (!answer.Complete) return ssUnknown;
  if (answer.Failed()) {
    const TModemError e = ModemErrorFromLine(answer.FinalLine);
    if (e.Kind == mekCME) {
      switch (e.Number) {
        case 5: return ssPhoneToSIMPINNeeded;
        case 10: return ssNotInserted;
        case 11: return ssPINNeeded;
        case 12: return ssPUKNeeded;
        case 13:
        case 15: return ssFailure;
        case 14: return ssBusy;
        case 17: return ssPIN2Needed;
        case 18: return ssPUK2Needed;
        default: return ssUnknown;
      }
    }
    if (e.Kind == mekCMS) {
      switch (e.Number) {
        case 310: return ssNotInserted;
        case 313:
        case 315: return ssFailure;
        case 314: return ssBusy;
        default: return ssUnknown;
      }
    }
    return ssUnknown;
  }
  const TResult* cpin = FindNamed(answer, "+CPIN");
  if (cpin == nullptr) return ssUnknown;
  const AnsiString code = Upper(codec::Unquote(cpin->Fields));
  static const struct {
    const char* code;
    TSIMState state;
  } kCodes[] = {
      {"READY", ssReady},
      {"SIM PIN", ssPINNeeded},
      {"SIM PUK", ssPUKNeeded},
      {"SIM PIN2", ssPIN2Needed},
      {"SIM PUK2", ssPUK2Needed},
      {"PH-SIM PIN", ssPhoneToSIMPINNeeded},
      {"NOT INSERTED", ssNotInserted},
  };
  for (const auto& c : kCodes)
    if (code == c.code) return c.state;
  return ssUnknown;
}

int PINRetries(const TCommandAnswer& answer, const char* code) {
  if (!answer.Succeeded()) return -1;
  for (const TResult& r : answer.Results) {
    if (r.Kind != TResultKind::Information || r.Name != "+CPINR") continue;
    const std::vector<AnsiString> f = codec::SplitHeaderFields(r.Fields);
    int retries;
    if (f.size() >= 2 && Upper(codec::Unquote(f[0])) == code && Digits(f[1], retries)) return retries;
  }
  return -1;
}

// ---------------------------------------------------------------- registration

bool IsRegistrationName(const AnsiString& name) { return name == "+CREG" || name == "+CGREG" || name == "+CEREG"; }

TRegistrationStatus RegistrationStatusOf(int stat) {
  switch (stat) {
    case 0: return rsNotRegistered;
    case 1: return rsHome;
    case 2: return rsSearching;
    case 3: return rsDenied;
    case 5: return rsRoaming;
    case 6:
    case 9: return rsHome;
    case 7:
    case 10: return rsRoaming;
    case 8:
    case 11: return rsNotRegistered;
    default: return rsUnknown;
  }
}

bool RegistrationAnswer(const TResult& result, TRegistration& out) {
  if (result.Kind != TResultKind::Information || !IsRegistrationName(result.Name)) return false;
  const std::vector<AnsiString> f = codec::SplitHeaderFields(result.Fields);
  int n, stat;
  if (f.size() < 2 || !SmallNumber(f[0], 2, n) || n > 5 || !SmallNumber(f[1], 2, stat) || stat > 11) return false;
  FillRegistration(f, 1, result.Name, stat, out);
  return true;
}

bool RegistrationNotice(const TResult& result, TRegistration& out) {
  if (result.Kind != TResultKind::Information || !IsRegistrationName(result.Name)) return false;
  const std::vector<AnsiString> f = codec::SplitHeaderFields(result.Fields);
  int stat;
  if (f.empty() || !SmallNumber(f[0], 2, stat) || stat > 11) return false;
  if (f.size() >= 2 && !LooksLikeArea(f[1])) return false;  // <n>,<stat>: an answer
  FillRegistration(f, 0, result.Name, stat, out);
  return true;
}

TRegistration RegistrationOf(const TCommandAnswer& answer, const char* name) {
  TRegistration r;
  if (!answer.Succeeded() || !FindAnswerLine(answer, name, RegistrationAnswer, r)) return TRegistration();
  return r;
}

bool BetterRegistration(const TRegistration& a, const TRegistration& b) {
  return RegistrationRank(a) > RegistrationRank(b);
}

// ---------------------------------------------------------------- text in the TE character set

AnsiString CharacterSetOf(const TCommandAnswer& answer) {
  if (!answer.Succeeded()) return AnsiString();
  const TResult* cscs = FindNamed(answer, "+CSCS");
  return cscs ? Upper(codec::Unquote(cscs->Fields)) : AnsiString();
}

bool FromTECharacterSet(const AnsiString& value, const AnsiString& charset, WideString& text) {
  text.clear();
  const AnsiString set = Upper(charset);
  std::vector<unsigned char> octets;
  if (set == "UCS2") {
    if (value.size() % 4 != 0 || !HexOctets(value, octets)) return value.empty();
    text = Utf16Text(octets.data(), octets.size());
    return true;
  }
  if (set == "HEX") {
    if (!HexOctets(value, octets)) return value.empty();
    text = GsmText(octets.data(), octets.size());
    return true;
  }
  if (set == "GSM") {
    text = GsmText(reinterpret_cast<const unsigned char*>(value.data()), value.size());
    return true;
  }
  if (set == "UTF-8") {
    text = Utf8ToWide(value);
    return true;
  }
  text = AnsiToWide(value);
  return true;
}

AnsiString ToTECharacterSet(const AnsiString& ira, const AnsiString& charset) {
  const AnsiString set = Upper(charset);
  if (set != "UCS2" && set != "HEX") return ira;
  AnsiString out;
  for (char c : ira) {
    if (set == "UCS2") out += "00";
    // '+', '*', '#' and the digits have the same code in the GSM alphabet.
    codec::AppendHexOctet(out, static_cast<unsigned char>(c));
  }
  return out;
}

// ---------------------------------------------------------------- operator, service centre

TOperator OperatorOf(const TCommandAnswer& answer, const AnsiString& charset) {
  TOperator op;
  if (!answer.Succeeded()) return op;
  const TResult* cops = FindNamed(answer, "+COPS");
  if (cops == nullptr) return op;
  const std::vector<AnsiString> f = codec::SplitHeaderFields(cops->Fields);
  int mode, format, act;
  if (f.empty() || !SmallNumber(f[0], 1, mode)) return op;
  op.Mode = mode;
  if (f.size() < 3 || !SmallNumber(f[1], 1, format) || format > 2) return op;
  const AnsiString oper = codec::Unquote(f[2]);
  // A numeric name is digits whatever the character set.
  bool read = true;
  if (format == 2)
    op.Name = AnsiToWide(oper);
  else
    read = FromTECharacterSet(oper, charset, op.Name);
  if (read && !op.Name.empty()) op.Format = format;
  if (f.size() >= 4 && SmallNumber(f[3], 2, act)) op.Technology = act;
  return op;
}

bool ServiceCentreOf(const TCommandAnswer& answer, const AnsiString& charset, AnsiString& number) {
  number.clear();
  if (!answer.Succeeded()) return false;
  const TResult* csca = FindNamed(answer, "+CSCA");
  if (csca == nullptr) return false;
  const std::vector<AnsiString> f = codec::SplitHeaderFields(csca->Fields);
  if (f.empty()) return false;
  const AnsiString raw = codec::Unquote(f[0]);
  if (raw.empty()) return true;  // no service centre set
  AnsiString candidate;
  WideString decoded;
  const bool ucs2 = raw.size() % 4 == 0 && FromTECharacterSet(raw, "UCS2", decoded) && !decoded.empty();
  if (Upper(charset) == "UCS2" && ucs2)
    candidate = WideToAnsi(decoded);
  else if (IsDialText(raw))
    candidate = raw;
  else if (ucs2)
    candidate = WideToAnsi(decoded);
  if (!IsDialText(candidate)) return false;
  int type;
  if (f.size() >= 2 && Digits(f[1], type) && type == 145 && candidate[0] != '+') candidate.insert(0, "+");
  number = candidate;
  return true;
}

// ---------------------------------------------------------------- USSD

TUSSDCoding USSDCoding(int dcs) {
  TUSSDCoding c;
  if (dcs < 0 || dcs > 255) return c;  // none given: 0, German in GSM 7-bit
  const int group = dcs >> 4;
  const int low = dcs & 0x0F;
  switch (group) {
    case 0x1:
      if (low == 0x0) c.LanguagePrefix = true;
      if (low == 0x1) {
        c.Alphabet = TUSSDAlphabet::Ucs2;
        c.LanguagePrefix = true;
      }
      break;
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7:
    case 0x9: {
      // General data coding (01xx) and messages with a header (1001):
      // bits 3..2 the alphabet; 01xx bit 5 compression.
      if (group != 0x9 && (dcs & 0x20) != 0) {
        c.Alphabet = TUSSDAlphabet::Compressed;
        break;
      }
      const int alphabet = (dcs >> 2) & 0x3;
      if (alphabet == 1) c.Alphabet = TUSSDAlphabet::EightBit;
      if (alphabet == 2) c.Alphabet = TUSSDAlphabet::Ucs2;
      break;
    }
    case 0xE:  // defined by the WAP Forum: data
      c.Alphabet = TUSSDAlphabet::EightBit;
      break;
    case 0xF:  // bit 2: 8-bit data, else GSM 7-bit
      if ((dcs & 0x04) != 0) c.Alphabet = TUSSDAlphabet::EightBit;
      break;
    default:  // languages in GSM 7-bit, and the reserved groups
      break;
  }
  return c;
}

namespace {

bool PrintableAscii(const std::vector<unsigned char>& octets) {
  for (unsigned char o : octets)
    if ((o < 0x20 || o > 0x7E) && o != '\r' && o != '\n') return false;
  return true;
}

// Hexadecimal that reads as UCS2 text: no control character but CR and
// LF, no lone surrogate, and mostly Latin (what a modem in the UCS2
// character set makes of a GSM 7-bit text).
bool LooksLikeUcs2(const std::vector<unsigned char>& octets) {
  if (octets.empty() || octets.size() % 2 != 0) return false;
  std::size_t latin = 0;
  const std::size_t units = octets.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const unsigned unit = (octets[2 * i] << 8) | octets[2 * i + 1];
    if (unit < 0x20 && unit != '\r' && unit != '\n') return false;
    if (unit >= 0xD800 && unit <= 0xDFFF) return false;
    if (unit >= 0xFFFE) return false;
    if (unit < 0x100) ++latin;
  }
  return latin * 2 >= units;
}

WideString UnpackedGsm(const std::vector<unsigned char>& octets) {
  const std::size_t septets = codec::SeptetsIn(octets.size(), 0);
  AnsiString codes(septets, '\0');
  const std::size_t n = codec::UnpackSeptets(octets.data(), octets.size(), 0, septets, &codes[0]);
  codes.resize(n);
  // TS 23.038 6.1.2.3.1: seven spare bits at the end hold a CR, which is
  // no part of the text (and seven zero bits, which some senders leave,
  // would read as '@').
  if (octets.size() % 7 == 0 && !codes.empty() && (codes.back() == '\r' || codes.back() == '\0')) codes.pop_back();
  return GsmText(reinterpret_cast<const unsigned char*>(codes.data()), codes.size());
}

}  // namespace

bool DecodeUSSDText(const AnsiString& str, int dcs, const AnsiString& charset, WideString& text) {
  const TUSSDCoding coding = USSDCoding(dcs);
  const AnsiString set = Upper(charset);
  std::vector<unsigned char> octets;
  const bool hex = HexOctets(str, octets);
  bool ok = false;
  text.clear();
  switch (coding.Alphabet) {
    case TUSSDAlphabet::Gsm7:
      if (set == "UCS2" || set == "HEX") {
        ok = FromTECharacterSet(str, set, text);
      } else if (hex && PrintableAscii(octets)) {
        // One code an octet ("48656C6C6F").
        text = GsmText(octets.data(), octets.size());
        ok = true;
      } else if (hex && LooksLikeUcs2(octets)) {
        text = Utf16Text(octets.data(), octets.size());
        ok = true;
      } else if (hex) {
        text = UnpackedGsm(octets);
        ok = true;
      } else {
        ok = FromTECharacterSet(str, set, text);
      }
      if (ok && coding.LanguagePrefix && text.size() >= 3 && text[2] == u'\r') text.erase(0, 3);
      break;
    case TUSSDAlphabet::EightBit:
      if (hex) {
        text = AnsiToWide(AnsiString(octets.begin(), octets.end()));
        ok = true;
      }
      break;
    case TUSSDAlphabet::Ucs2: {
      // The language of 0001 0001 takes two octets ahead of the text.
      const std::size_t skip = coding.LanguagePrefix ? 2 : 0;
      if (hex && octets.size() >= skip && (octets.size() - skip) % 2 == 0) {
        text = Utf16Text(octets.data() + skip, octets.size() - skip);
        ok = true;
      }
      break;
    }
    case TUSSDAlphabet::Compressed: break;
  }
  if (!ok) text = AnsiToWide(str);
  return ok;
}

bool USSDNotice(const TResult& result, const AnsiString& charset, TUSSDResult& out) {
  if (result.Kind != TResultKind::Information || result.Name != "+CUSD") return false;
  const AnsiString& fields = result.Fields;
  const std::size_t comma = fields.find(',');
  int m;
  if (!SmallNumber(Trim(fields.substr(0, comma)), 1, m) || m > 5) return false;
  out = TUSSDResult();
  out.Status = static_cast<TUSSDStatus>(m);
  out.Line = result.Name + ": " + fields;
  if (comma == AnsiString::npos) return true;
  const AnsiString rest = Trim(fields.substr(comma + 1));
  AnsiString after;
  if (!rest.empty() && rest[0] == '"') {
    const std::size_t close = rest.rfind('"');
    if (close == 0) {
      out.Raw = rest.substr(1);  // never closed
    } else {
      out.Raw = rest.substr(1, close - 1);
      after = Trim(rest.substr(close + 1));
    }
  } else {
    const std::size_t last = rest.rfind(',');
    int dcs;
    if (last != AnsiString::npos && SmallNumber(Trim(rest.substr(last + 1)), 3, dcs)) {
      out.Raw = Trim(rest.substr(0, last));
      after = rest.substr(last);
    } else {
      out.Raw = rest;
    }
  }
  int dcs;
  if (!after.empty() && after[0] == ',' && SmallNumber(Trim(after.substr(1)), 3, dcs) && dcs <= 255) out.DCS = dcs;
  out.Decoded = DecodeUSSDText(out.Raw, out.DCS, charset, out.Text);
  return true;
}

// ---------------------------------------------------------------- arguments

AnsiString CheckUSSDCode(const AnsiString& code) {
  if (code.empty()) return "no USSD code";
  if (code.size() > 160) return "the USSD code is longer than 160 characters";
  for (char c : code)
    if ((c < '0' || c > '9') && c != '*' && c != '#' && c != '+')
      return "the USSD code holds a character other than digits, '*', '#' and '+'";
  return AnsiString();
}

AnsiString CheckUSSDReply(const AnsiString& text) {
  if (text.empty()) return "no reply text";
  if (text.size() > 160) return "the reply is longer than 160 characters";
  for (char c : text)
    if (c < 0x20 || c > 0x7E || c == '"')
      return "the reply holds a character other than printable ASCII, or a double quote";
  return AnsiString();
}

namespace {

AnsiString CheckDigits(const AnsiString& value, const char* what, std::size_t min, std::size_t max) {
  bool digits = !value.empty();
  for (char c : value) digits = digits && c >= '0' && c <= '9';
  if (digits && value.size() >= min && value.size() <= max) return AnsiString();
  return AnsiString(what) + (min == max ? " must be " + IntToStr(static_cast<long long>(min)) + " digits"
                                        : " must be " + IntToStr(static_cast<long long>(min)) + " to " +
                                              IntToStr(static_cast<long long>(max)) + " digits");
}

}  // namespace

AnsiString CheckPIN(const AnsiString& pin) { return CheckDigits(pin, "the PIN", 4, 8); }
AnsiString CheckPUK(const AnsiString& puk) { return CheckDigits(puk, "the PUK", 8, 8); }

// ---------------------------------------------------------------- a command's own answer

AnsiString WithoutOwnAnswers(const AnsiString& text, const AnsiString& commandLine) {
  // "AT+CREG?": only the read form answers with lines of the same name.
  const AnsiString line = Upper(Trim(commandLine));
  if (line.size() < 5 || line.compare(0, 3, "AT+") != 0 || line.back() != '?') return text;
  const AnsiString name = line.substr(2, line.size() - 3);
  const bool registration = IsRegistrationName(name);
  if (!registration && name != "+CUSD") return text;

  AnsiString out;
  std::size_t kept = 0;
  bool taken = false;
  for (const TResult& r : Frame(text, false).Results) {
    if (r.Kind == TResultKind::Final) break;
    if (r.Kind != TResultKind::Information || r.Name != name || taken) continue;
    TRegistration unused;
    int n;
    const bool own = registration ? RegistrationAnswer(r, unused) : SmallNumber(Trim(r.Fields), 1, n) && n <= 2;
    if (!own) continue;
    out.append(text, kept, r.Begin - kept);
    kept = r.End;
    taken = true;  // a read command answers with one line
  }
  if (!taken) return text;
  out.append(text, kept, AnsiString::npos);
  return out;
}

AnsiString WithoutFinalError(const AnsiString& text) {
  for (const TResult& r : Frame(text, false).Results) {
    if (r.Kind != TResultKind::Final) continue;
    if (!IsError(r)) return text;
    return text.substr(0, r.Begin) + text.substr(r.End);
  }
  return text;
}

}  // namespace vesk::at
