// The GSM 7-bit default alphabet and its extension table (TS 23.038 6.2.1),
// and the text conversions the simulator needs around them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::sim {

// clang-format off
// TS 23.038 6.2.1: code -> character. Row n holds codes 8n to 8n+7.
inline constexpr std::array<char16_t, 128> kGsmDefaultAlphabet = {
    // @       £       $       ¥       è       é       ù       ì
    u'@',    u'\u00A3', u'$',    u'\u00A5', u'\u00E8', u'\u00E9', u'\u00F9', u'\u00EC',
    // ò       Ç       LF      Ø       ø       CR      Å       å
    u'\u00F2', u'\u00C7', u'\n',   u'\u00D8', u'\u00F8', u'\r',   u'\u00C5', u'\u00E5',
    // Δ       _       Φ       Γ       Λ       Ω       Π       Ψ
    u'\u0394', u'_',    u'\u03A6', u'\u0393', u'\u039B', u'\u03A9', u'\u03A0', u'\u03A8',
    // Σ       Θ       Ξ       ESC     Æ       æ       ß       É
    u'\u03A3', u'\u0398', u'\u039E', u'\u00A0', u'\u00C6', u'\u00E6', u'\u00DF', u'\u00C9',
    // SP      !       "       #       ¤       %       &       '
    u' ',    u'!',    u'"',    u'#',    u'\u00A4', u'%',    u'&',    u'\'',
    // (       )       *       +       ,       -       .       /
    u'(',    u')',    u'*',    u'+',    u',',    u'-',    u'.',    u'/',
    // 0       1       2       3       4       5       6       7
    u'0',    u'1',    u'2',    u'3',    u'4',    u'5',    u'6',    u'7',
    // 8       9       :       ;       <       =       >       ?
    u'8',    u'9',    u':',    u';',    u'<',    u'=',    u'>',    u'?',
    // ¡       A       B       C       D       E       F       G
    u'\u00A1', u'A',    u'B',    u'C',    u'D',    u'E',    u'F',    u'G',
    // H       I       J       K       L       M       N       O
    u'H',    u'I',    u'J',    u'K',    u'L',    u'M',    u'N',    u'O',
    // P       Q       R       S       T       U       V       W
    u'P',    u'Q',    u'R',    u'S',    u'T',    u'U',    u'V',    u'W',
    // X       Y       Z       Ä       Ö       Ñ       Ü       §
    u'X',    u'Y',    u'Z',    u'\u00C4', u'\u00D6', u'\u00D1', u'\u00DC', u'\u00A7',
    // ¿       a       b       c       d       e       f       g
    u'\u00BF', u'a',    u'b',    u'c',    u'd',    u'e',    u'f',    u'g',
    // h       i       j       k       l       m       n       o
    u'h',    u'i',    u'j',    u'k',    u'l',    u'm',    u'n',    u'o',
    // p       q       r       s       t       u       v       w
    u'p',    u'q',    u'r',    u's',    u't',    u'u',    u'v',    u'w',
    // x       y       z       ä       ö       ñ       ü       à
    u'x',    u'y',    u'z',    u'\u00E4', u'\u00F6', u'\u00F1', u'\u00FC', u'\u00E0',
};
// clang-format on

// Code 0x1B escapes to the extension table; it has no character of its own
// (the table above shows it as a no-break space, the fallback TS 23.038
// recommends for an escape with no valid follower).
inline constexpr std::uint8_t kGsmEscape = 0x1B;

struct GsmExtension {
  std::uint8_t code;
  char16_t character;
};

// TS 23.038 6.2.1.1: the default extension table, sorted by code.
inline constexpr std::array<GsmExtension, 10> kGsmExtensionTable = {{
    {0x0A, u'\f'},      // form feed (page break)
    {0x14, u'^'},
    {0x28, u'{'},
    {0x29, u'}'},
    {0x2F, u'\\'},
    {0x3C, u'['},
    {0x3D, u'~'},
    {0x3E, u']'},
    {0x40, u'|'},
    {0x65, u'\u20AC'},  // euro sign
}};

constexpr bool ExtensionTableSorted() {
  for (std::size_t i = 1; i < kGsmExtensionTable.size(); ++i) {
    if (kGsmExtensionTable[i - 1].code >= kGsmExtensionTable[i].code) return false;
  }
  return true;
}
static_assert(ExtensionTableSorted(), "extension table must be sorted by code");

// UTF-8 <-> code points. Malformed input decodes to U+FFFD.
std::u32string Utf8ToCodePoints(std::string_view utf8);
std::string CodePointsToUtf8(std::u32string_view text);
void AppendUtf8(std::string& out, char32_t c);

// Text -> default-alphabet codes, extension characters as escape + code.
// Characters outside both tables become '?' and make *lossless false.
std::vector<std::uint8_t> ToGsmCodes(std::u32string_view text, bool* lossless = nullptr);
// Codes -> text. An escape with an unknown follower gives the follower's
// default-alphabet character (TS 23.038 6.2.1.1).
std::u32string FromGsmCodes(const std::vector<std::uint8_t>& codes);
// Codes -> text in a national language's tables (TS 23.038 6.2.1.2): each
// code in the locking shift table of `lockingLanguage`, the code after an
// escape in the single shift table of `singleLanguage` (identifiers of
// 6.2.1.2.4; 0, or a language without such a table, keeps the default
// alphabet or the extension table). A code the single shift table lacks
// gives the locking table's character (6.2.1.1).
std::u32string FromGsmCodes(const std::vector<std::uint8_t>& codes, int lockingLanguage, int singleLanguage);
// Whether every character has a code in the two tables.
bool IsGsmText(std::u32string_view text);

// UTF-16 code units (TS 23.038 6.2.3, UCS2 extended to surrogate pairs).
std::u16string ToUtf16(std::u32string_view text);
std::u32string FromUtf16(std::u16string_view text);

// Hex text of octets, upper case; and back (nullopt when not hex or odd).
std::string ToHex(const std::vector<std::uint8_t>& octets);
std::optional<std::vector<std::uint8_t>> FromHex(std::string_view hex);

// The TE character sets of AT+CSCS (TS 27.007 5.5) this modem offers.
bool IsKnownCharacterSet(std::string_view name);
// Text in the TE character set <-> code points.
std::string ToTeCharacterSet(std::u32string_view text, std::string_view set);
std::optional<std::u32string> FromTeCharacterSet(std::string_view bytes, std::string_view set);

}  // namespace vesk::sim
