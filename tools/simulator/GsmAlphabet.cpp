#include "tools/simulator/GsmAlphabet.h"

#include <algorithm>

#include "tools/simulator/NationalTables.h"

namespace vesk::sim {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::optional<std::uint8_t> DefaultCode(char32_t c) {
  for (std::size_t code = 0; code < kGsmDefaultAlphabet.size(); ++code) {
    if (code == kGsmEscape) continue;  // its table entry is only a placeholder
    if (kGsmDefaultAlphabet[code] == c) return static_cast<std::uint8_t>(code);
  }
  return std::nullopt;
}

std::optional<std::uint8_t> ExtensionCode(char32_t c) {
  for (const GsmExtension& e : kGsmExtensionTable) {
    if (e.character == c) return e.code;
  }
  return std::nullopt;
}

std::optional<char16_t> ExtensionCharacter(std::uint8_t code) {
  auto it = std::lower_bound(kGsmExtensionTable.begin(), kGsmExtensionTable.end(), code,
                             [](const GsmExtension& e, std::uint8_t c) { return e.code < c; });
  if (it != kGsmExtensionTable.end() && it->code == code) return it->character;
  return std::nullopt;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

std::u32string Utf8ToCodePoints(std::string_view utf8) {
  std::u32string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    int extra = 0;
    char32_t c = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      c = lead & 0x07;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    if (i + extra >= utf8.size()) {  // truncated sequence at the end
      out.push_back(kReplacement);
      break;
    }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      const auto cont = static_cast<unsigned char>(utf8[i + k]);
      if ((cont & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (cont & 0x3F);
    }
    if (!ok) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    out.push_back(c);
    i += 1 + extra;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string CodePointsToUtf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) AppendUtf8(out, c);
  return out;
}

std::vector<std::uint8_t> ToGsmCodes(std::u32string_view text, bool* lossless) {
  std::vector<std::uint8_t> codes;
  bool all = true;
  for (char32_t c : text) {
    if (auto code = DefaultCode(c)) {
      codes.push_back(*code);
    } else if (auto ext = ExtensionCode(c)) {
      codes.push_back(kGsmEscape);
      codes.push_back(*ext);
    } else {
      codes.push_back(0x3F);  // '?'
      all = false;
    }
  }
  if (lossless) *lossless = all;
  return codes;
}

std::u32string FromGsmCodes(const std::vector<std::uint8_t>& codes) {
  std::u32string out;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const std::uint8_t code = codes[i] & 0x7F;
    if (code == kGsmEscape && i + 1 < codes.size()) {
      const std::uint8_t next = codes[++i] & 0x7F;
      if (auto ext = ExtensionCharacter(next)) {
        out.push_back(*ext);
      } else {
        out.push_back(kGsmDefaultAlphabet[next]);
      }
    } else {
      out.push_back(kGsmDefaultAlphabet[code]);
    }
  }
  return out;
}

std::u32string FromGsmCodes(const std::vector<std::uint8_t>& codes, int lockingLanguage, int singleLanguage) {
  auto main = [&](std::uint8_t code) -> char32_t {
    if (HasNationalLockingTable(lockingLanguage)) return NationalLockingCharacter(lockingLanguage, code).value_or(0);
    return kGsmDefaultAlphabet[code];
  };
  std::u32string out;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const std::uint8_t code = codes[i] & 0x7F;
    char32_t c = 0;
    if (code == kGsmEscape && i + 1 < codes.size()) {
      const std::uint8_t next = codes[++i] & 0x7F;
      std::optional<char32_t> shifted = NationalSingleShiftCharacter(singleLanguage, next);
      if (!shifted) shifted = ExtensionCharacter(next);
      c = shifted ? *shifted : main(next);
    } else if (code != kGsmEscape) {
      c = main(code);
    }
    if (c != 0) out.push_back(c);
  }
  return out;
}

bool IsGsmText(std::u32string_view text) {
  bool lossless = false;
  ToGsmCodes(text, &lossless);
  return lossless;
}

std::u16string ToUtf16(std::u32string_view text) {
  std::u16string out;
  for (char32_t c : text) {
    if (c >= 0x10000 && c <= 0x10FFFF) {
      const char32_t v = c - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else if (c > 0x10FFFF) {
      out.push_back(static_cast<char16_t>(kReplacement));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::u32string FromUtf16(std::u16string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      out.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      out.push_back(u);
    }
  }
  return out;
}

std::string ToHex(const std::vector<std::uint8_t>& octets) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(octets.size() * 2);
  for (std::uint8_t o : octets) {
    out.push_back(kDigits[o >> 4]);
    out.push_back(kDigits[o & 0x0F]);
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexValue(hex[i]);
    const int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

bool IsKnownCharacterSet(std::string_view name) {
  const std::string set = Upper(name);
  return set == "GSM" || set == "IRA" || set == "UCS2" || set == "8859-1";
}

std::string ToTeCharacterSet(std::u32string_view text, std::string_view setName) {
  const std::string set = Upper(setName);
  std::string out;
  if (set == "GSM") {
    for (std::uint8_t code : ToGsmCodes(text)) out.push_back(static_cast<char>(code));
  } else if (set == "UCS2") {
    std::vector<std::uint8_t> octets;
    for (char16_t u : ToUtf16(text)) {
      octets.push_back(static_cast<std::uint8_t>(u >> 8));
      octets.push_back(static_cast<std::uint8_t>(u & 0xFF));
    }
    out = ToHex(octets);
  } else {
    const char32_t limit = set == "8859-1" ? 0x100 : 0x80;
    for (char32_t c : text) out.push_back(c < limit ? static_cast<char>(c) : '?');
  }
  return out;
}

std::optional<std::u32string> FromTeCharacterSet(std::string_view bytes, std::string_view setName) {
  const std::string set = Upper(setName);
  if (set == "GSM") {
    std::vector<std::uint8_t> codes(bytes.begin(), bytes.end());
    return FromGsmCodes(codes);
  }
  if (set == "UCS2") {
    auto octets = FromHex(bytes);
    if (!octets || octets->size() % 2 != 0) return std::nullopt;
    std::u16string units;
    for (std::size_t i = 0; i < octets->size(); i += 2) {
      units.push_back(static_cast<char16_t>((*octets)[i] << 8 | (*octets)[i + 1]));
    }
    return FromUtf16(units);
  }
  std::u32string out;
  for (char b : bytes) out.push_back(static_cast<unsigned char>(b));
  return out;
}

}  // namespace vesk::sim
