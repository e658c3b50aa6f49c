// The national language tables of TS 23.038 annex A: the locking shift
// tables (A.3), which replace the default alphabet for a whole message,
// and the single shift tables (A.2), reached through the escape 0x1B.
//
// Data only, included by Alphabet.cpp. A locking table is dense, indexed
// by code, 0 where the standard leaves the code reserved; 0x1B is the
// escape. A single shift table lists, sorted by code, the entries it adds
// to the extension table of 6.2.1.1 (form feed, CR2, ^ { } \ [ ~ ] | and
// the euro sign, which every national single shift table also holds at
// the same codes). Above each row, the characters it holds; a combining
// mark is shown on a dotted circle.
//
// There is no Spanish locking shift table (A.3.2 is void): a message that
// names it is read with the default alphabet.
#pragma once

#include <array>
#include <cstdint>

namespace vesk::codec::national {

struct ShiftEntry {
  std::uint8_t code;
  char16_t ch;
};

// clang-format off
// TS 23.038 A.3.1, the Turkish national language locking shift table.
constexpr std::array<char16_t, 128> kTurkishLocking = {
    // @       £       $       ¥       €       é       ù       ı
    u'@',   0x00A3, u'$',   0x00A5, 0x20AC, 0x00E9, 0x00F9, 0x0131,
    // ò       Ç       LF      Ğ       ğ       CR      Å       å
    0x00F2, 0x00C7, u'\n',  0x011E, 0x011F, u'\r',  0x00C5, 0x00E5,
    // Δ       _       Φ       Γ       Λ       Ω       Π       Ψ
    0x0394, u'_',   0x03A6, 0x0393, 0x039B, 0x03A9, 0x03A0, 0x03A8,
    // Σ       Θ       Ξ       ESC     Ş       ş       ß       É
    0x03A3, 0x0398, 0x039E, 0x001B, 0x015E, 0x015F, 0x00DF, 0x00C9,
    // SP      !       "       #       ¤       %       &       '
    u' ',   u'!',   u'"',   u'#',   0x00A4, u'%',   u'&',   u'\'',
    // (       )       *       +       ,       -       .       /
    u'(',   u')',   u'*',   u'+',   u',',   u'-',   u'.',   u'/',
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       <       =       >       ?
    u'8',   u'9',   u':',   u';',   u'<',   u'=',   u'>',   u'?',
    // İ       A       B       C       D       E       F       G
    0x0130, u'A',   u'B',   u'C',   u'D',   u'E',   u'F',   u'G',
    // H       I       J       K       L       M       N       O
    u'H',   u'I',   u'J',   u'K',   u'L',   u'M',   u'N',   u'O',
    // P       Q       R       S       T       U       V       W
    u'P',   u'Q',   u'R',   u'S',   u'T',   u'U',   u'V',   u'W',
    // X       Y       Z       Ä       Ö       Ñ       Ü       §
    u'X',   u'Y',   u'Z',   0x00C4, 0x00D6, 0x00D1, 0x00DC, 0x00A7,
    // ç       a       b       c       d       e       f       g
    0x00E7, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ä       ö       ñ       ü       à
    u'x',   u'y',   u'z',   0x00E4, 0x00F6, 0x00F1, 0x00FC, 0x00E0,
};

// TS 23.038 A.2.1, the Turkish national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 7> kTurkishSingleShift = {{
    // 47 Ğ              49 İ              53 Ş              63 ç
    {0x47, 0x011E}, {0x49, 0x0130}, {0x53, 0x015E}, {0x63, 0x00E7},
    // 67 ğ              69 ı              73 ş
    {0x67, 0x011F}, {0x69, 0x0131}, {0x73, 0x015F},
}};

// TS 23.038 A.2.2, the Spanish national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 9> kSpanishSingleShift = {{
    // 09 ç              41 Á              49 Í              4F Ó
    {0x09, 0x00E7}, {0x41, 0x00C1}, {0x49, 0x00CD}, {0x4F, 0x00D3},
    // 55 Ú              61 á              69 í              6F ó
    {0x55, 0x00DA}, {0x61, 0x00E1}, {0x69, 0x00ED}, {0x6F, 0x00F3},
    // 75 ú
    {0x75, 0x00FA},
}};

// TS 23.038 A.3.3, the Portuguese national language locking shift table.
constexpr std::array<char16_t, 128> kPortugueseLocking = {
    // @       £       $       ¥       ê       é       ú       í
    u'@',   0x00A3, u'$',   0x00A5, 0x00EA, 0x00E9, 0x00FA, 0x00ED,
    // ó       ç       LF      Ô       ô       CR      Á       á
    0x00F3, 0x00E7, u'\n',  0x00D4, 0x00F4, u'\r',  0x00C1, 0x00E1,
    // Δ       _       ª       Ç       À       ∞       ^       '\'
    0x0394, u'_',   0x00AA, 0x00C7, 0x00C0, 0x221E, u'^',   u'\\',
    // €       Ó       |       ESC     Â       â       Ê       É
    0x20AC, 0x00D3, u'|',   0x001B, 0x00C2, 0x00E2, 0x00CA, 0x00C9,
    // SP      !       "       #       º       %       &       '
    u' ',   u'!',   u'"',   u'#',   0x00BA, u'%',   u'&',   u'\'',
    // (       )       *       +       ,       -       .       /
    u'(',   u')',   u'*',   u'+',   u',',   u'-',   u'.',   u'/',
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       <       =       >       ?
    u'8',   u'9',   u':',   u';',   u'<',   u'=',   u'>',   u'?',
    // Í       A       B       C       D       E       F       G
    0x00CD, u'A',   u'B',   u'C',   u'D',   u'E',   u'F',   u'G',
    // H       I       J       K       L       M       N       O
    u'H',   u'I',   u'J',   u'K',   u'L',   u'M',   u'N',   u'O',
    // P       Q       R       S       T       U       V       W
    u'P',   u'Q',   u'R',   u'S',   u'T',   u'U',   u'V',   u'W',
    // X       Y       Z       Ã       Õ       Ú       Ü       §
    u'X',   u'Y',   u'Z',   0x00C3, 0x00D5, 0x00DA, 0x00DC, 0x00A7,
    // ~       a       b       c       d       e       f       g
    u'~',   u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ã       õ       `       ü       à
    u'x',   u'y',   u'z',   0x00E3, 0x00F5, u'`',   0x00FC, 0x00E0,
};

// TS 23.038 A.2.3, the Portuguese national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 27> kPortugueseSingleShift = {{
    // 05 ê              09 ç              0B Ô              0C ô
    {0x05, 0x00EA}, {0x09, 0x00E7}, {0x0B, 0x00D4}, {0x0C, 0x00F4},
    // 0E Á              0F á              12 Φ              13 Γ
    {0x0E, 0x00C1}, {0x0F, 0x00E1}, {0x12, 0x03A6}, {0x13, 0x0393},
    // 15 Ω              16 Π              17 Ψ              18 Σ
    {0x15, 0x03A9}, {0x16, 0x03A0}, {0x17, 0x03A8}, {0x18, 0x03A3},
    // 19 Θ              1F Ê              41 À              49 Í
    {0x19, 0x0398}, {0x1F, 0x00CA}, {0x41, 0x00C0}, {0x49, 0x00CD},
    // 4F Ó              55 Ú              5B Ã              5C Õ
    {0x4F, 0x00D3}, {0x55, 0x00DA}, {0x5B, 0x00C3}, {0x5C, 0x00D5},
    // 61 Â              69 í              6F ó              75 ú
    {0x61, 0x00C2}, {0x69, 0x00ED}, {0x6F, 0x00F3}, {0x75, 0x00FA},
    // 7B ã              7C õ              7F â
    {0x7B, 0x00E3}, {0x7C, 0x00F5}, {0x7F, 0x00E2},
}};

// TS 23.038 A.3.4, the Bengali national language locking shift table.
constexpr std::array<char16_t, 128> kBengaliLocking = {
    // ◌ঁ      ◌ং      ◌ঃ      অ       আ       ই       ঈ       উ
    0x0981, 0x0982, 0x0983, 0x0985, 0x0986, 0x0987, 0x0988, 0x0989,
    // ঊ       ঋ       LF      ঌ       -       CR      -       এ
    0x098A, 0x098B, u'\n',  0x098C, 0,      u'\r',  0,      0x098F,
    // ঐ       -       -       ও       ঔ       ক       খ       গ
    0x0990, 0,      0,      0x0993, 0x0994, 0x0995, 0x0996, 0x0997,
    // ঘ       ঙ       চ       ESC     ছ       জ       ঝ       ঞ
    0x0998, 0x0999, 0x099A, 0x001B, 0x099B, 0x099C, 0x099D, 0x099E,
    // SP      !       ট       ঠ       ড       ঢ       ণ       ত
    u' ',   u'!',   0x099F, 0x09A0, 0x09A1, 0x09A2, 0x09A3, 0x09A4,
    // )       (       থ       দ       ,       ধ       .       ন
    u')',   u'(',   0x09A5, 0x09A6, u',',   0x09A7, u'.',   0x09A8,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       -       প       ফ       ?
    u'8',   u'9',   u':',   u';',   0,      0x09AA, 0x09AB, u'?',
    // ব       ভ       ম       য       র       -       ল       -
    0x09AC, 0x09AD, 0x09AE, 0x09AF, 0x09B0, 0,      0x09B2, 0,
    // -       -       শ       ষ       স       হ       ◌়      ঽ
    0,      0,      0x09B6, 0x09B7, 0x09B8, 0x09B9, 0x09BC, 0x09BD,
    // ◌া      ◌ি      ◌ী      ◌ু      ◌ূ      ◌ৃ      ◌ৄ      -
    0x09BE, 0x09BF, 0x09C0, 0x09C1, 0x09C2, 0x09C3, 0x09C4, 0,
    // -       ◌ে      ◌ৈ      -       -       ◌ো      ◌ৌ      ◌্
    0,      0x09C7, 0x09C8, 0,      0,      0x09CB, 0x09CC, 0x09CD,
    // ৎ       a       b       c       d       e       f       g
    0x09CE, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ◌ৗ      ড়       ঢ়       ৰ       ৱ
    u'x',   u'y',   u'z',   0x09D7, 0x09DC, 0x09DD, 0x09F0, 0x09F1,
};

// TS 23.038 A.2.4, the Bengali national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 72> kBengaliSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              19 ০              1A ১
    {0x17, 0x0023}, {0x18, 0x002A}, {0x19, 0x09E6}, {0x1A, 0x09E7},
    // 1C ২              1D ৩              1E ৪              1F ৫
    {0x1C, 0x09E8}, {0x1D, 0x09E9}, {0x1E, 0x09EA}, {0x1F, 0x09EB},
    // 20 ৬              21 ৭              22 ৮              23 ৯
    {0x20, 0x09EC}, {0x21, 0x09ED}, {0x22, 0x09EE}, {0x23, 0x09EF},
    // 24 য়              25 ৠ              26 ৡ              27 ◌ৢ
    {0x24, 0x09DF}, {0x25, 0x09E0}, {0x26, 0x09E1}, {0x27, 0x09E2},
    // 2A ◌ৣ             2B ৲              2C ৳              2D ৴
    {0x2A, 0x09E3}, {0x2B, 0x09F2}, {0x2C, 0x09F3}, {0x2D, 0x09F4},
    // 2E ৵              30 ৶              31 ৷              32 ৸
    {0x2E, 0x09F5}, {0x30, 0x09F6}, {0x31, 0x09F7}, {0x32, 0x09F8},
    // 33 ৹              34 ৺              41 A              42 B
    {0x33, 0x09F9}, {0x34, 0x09FA}, {0x41, 0x0041}, {0x42, 0x0042},
    // 43 C              44 D              45 E              46 F
    {0x43, 0x0043}, {0x44, 0x0044}, {0x45, 0x0045}, {0x46, 0x0046},
    // 47 G              48 H              49 I              4A J
    {0x47, 0x0047}, {0x48, 0x0048}, {0x49, 0x0049}, {0x4A, 0x004A},
    // 4B K              4C L              4D M              4E N
    {0x4B, 0x004B}, {0x4C, 0x004C}, {0x4D, 0x004D}, {0x4E, 0x004E},
    // 4F O              50 P              51 Q              52 R
    {0x4F, 0x004F}, {0x50, 0x0050}, {0x51, 0x0051}, {0x52, 0x0052},
    // 53 S              54 T              55 U              56 V
    {0x53, 0x0053}, {0x54, 0x0054}, {0x55, 0x0055}, {0x56, 0x0056},
    // 57 W              58 X              59 Y              5A Z
    {0x57, 0x0057}, {0x58, 0x0058}, {0x59, 0x0059}, {0x5A, 0x005A},
}};

// TS 23.038 A.3.5, the Gujarati national language locking shift table.
constexpr std::array<char16_t, 128> kGujaratiLocking = {
    // ◌ઁ      ◌ં      ◌ઃ      અ       આ       ઇ       ઈ       ઉ
    0x0A81, 0x0A82, 0x0A83, 0x0A85, 0x0A86, 0x0A87, 0x0A88, 0x0A89,
    // ઊ       ઋ       LF      ઌ       ઍ       CR      -       એ
    0x0A8A, 0x0A8B, u'\n',  0x0A8C, 0x0A8D, u'\r',  0,      0x0A8F,
    // ઐ       ઑ       -       ઓ       ઔ       ક       ખ       ગ
    0x0A90, 0x0A91, 0,      0x0A93, 0x0A94, 0x0A95, 0x0A96, 0x0A97,
    // ઘ       ઙ       ચ       ESC     છ       જ       ઝ       ઞ
    0x0A98, 0x0A99, 0x0A9A, 0x001B, 0x0A9B, 0x0A9C, 0x0A9D, 0x0A9E,
    // SP      !       ટ       ઠ       ડ       ઢ       ણ       ત
    u' ',   u'!',   0x0A9F, 0x0AA0, 0x0AA1, 0x0AA2, 0x0AA3, 0x0AA4,
    // )       (       થ       દ       ,       ધ       .       ન
    u')',   u'(',   0x0AA5, 0x0AA6, u',',   0x0AA7, u'.',   0x0AA8,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       -       પ       ફ       ?
    u'8',   u'9',   u':',   u';',   0,      0x0AAA, 0x0AAB, u'?',
    // બ       ભ       મ       ય       ર       -       લ       ળ
    0x0AAC, 0x0AAD, 0x0AAE, 0x0AAF, 0x0AB0, 0,      0x0AB2, 0x0AB3,
    // -       વ       શ       ષ       સ       હ       ◌઼      ઽ
    0,      0x0AB5, 0x0AB6, 0x0AB7, 0x0AB8, 0x0AB9, 0x0ABC, 0x0ABD,
    // ◌ા      ◌િ      ◌ી      ◌ુ      ◌ૂ      ◌ૃ      ◌ૄ      ◌ૅ
    0x0ABE, 0x0ABF, 0x0AC0, 0x0AC1, 0x0AC2, 0x0AC3, 0x0AC4, 0x0AC5,
    // -       ◌ે      ◌ૈ      ◌ૉ      -       ◌ો      ◌ૌ      ◌્
    0,      0x0AC7, 0x0AC8, 0x0AC9, 0,      0x0ACB, 0x0ACC, 0x0ACD,
    // ૐ       a       b       c       d       e       f       g
    0x0AD0, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ૠ       ૡ       ◌ૢ      ◌ૣ      ૱
    u'x',   u'y',   u'z',   0x0AE0, 0x0AE1, 0x0AE2, 0x0AE3, 0x0AF1,
};

// TS 23.038 A.2.5, the Gujarati national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 60> kGujaratiSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              19 ।              1A ॥
    {0x17, 0x0023}, {0x18, 0x002A}, {0x19, 0x0964}, {0x1A, 0x0965},
    // 1C ૦              1D ૧              1E ૨              1F ૩
    {0x1C, 0x0AE6}, {0x1D, 0x0AE7}, {0x1E, 0x0AE8}, {0x1F, 0x0AE9},
    // 20 ૪              21 ૫              22 ૬              23 ૭
    {0x20, 0x0AEA}, {0x21, 0x0AEB}, {0x22, 0x0AEC}, {0x23, 0x0AED},
    // 24 ૮              25 ૯              41 A              42 B
    {0x24, 0x0AEE}, {0x25, 0x0AEF}, {0x41, 0x0041}, {0x42, 0x0042},
    // 43 C              44 D              45 E              46 F
    {0x43, 0x0043}, {0x44, 0x0044}, {0x45, 0x0045}, {0x46, 0x0046},
    // 47 G              48 H              49 I              4A J
    {0x47, 0x0047}, {0x48, 0x0048}, {0x49, 0x0049}, {0x4A, 0x004A},
    // 4B K              4C L              4D M              4E N
    {0x4B, 0x004B}, {0x4C, 0x004C}, {0x4D, 0x004D}, {0x4E, 0x004E},
    // 4F O              50 P              51 Q              52 R
    {0x4F, 0x004F}, {0x50, 0x0050}, {0x51, 0x0051}, {0x52, 0x0052},
    // 53 S              54 T              55 U              56 V
    {0x53, 0x0053}, {0x54, 0x0054}, {0x55, 0x0055}, {0x56, 0x0056},
    // 57 W              58 X              59 Y              5A Z
    {0x57, 0x0057}, {0x58, 0x0058}, {0x59, 0x0059}, {0x5A, 0x005A},
}};

// TS 23.038 A.3.6, the Hindi national language locking shift table.
constexpr std::array<char16_t, 128> kHindiLocking = {
    // ◌ँ      ◌ं      ◌ः      अ       आ       इ       ई       उ
    0x0901, 0x0902, 0x0903, 0x0905, 0x0906, 0x0907, 0x0908, 0x0909,
    // ऊ       ऋ       LF      ऌ       ऍ       CR      ऎ       ए
    0x090A, 0x090B, u'\n',  0x090C, 0x090D, u'\r',  0x090E, 0x090F,
    // ऐ       ऑ       ऒ       ओ       औ       क       ख       ग
    0x0910, 0x0911, 0x0912, 0x0913, 0x0914, 0x0915, 0x0916, 0x0917,
    // घ       ङ       च       ESC     छ       ज       झ       ञ
    0x0918, 0x0919, 0x091A, 0x001B, 0x091B, 0x091C, 0x091D, 0x091E,
    // SP      !       ट       ठ       ड       ढ       ण       त
    u' ',   u'!',   0x091F, 0x0920, 0x0921, 0x0922, 0x0923, 0x0924,
    // )       (       थ       द       ,       ध       .       न
    u')',   u'(',   0x0925, 0x0926, u',',   0x0927, u'.',   0x0928,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       ऩ       प       फ       ?
    u'8',   u'9',   u':',   u';',   0x0929, 0x092A, 0x092B, u'?',
    // ब       भ       म       य       र       ऱ       ल       ळ
    0x092C, 0x092D, 0x092E, 0x092F, 0x0930, 0x0931, 0x0932, 0x0933,
    // ऴ       व       श       ष       स       ह       ◌़      ऽ
    0x0934, 0x0935, 0x0936, 0x0937, 0x0938, 0x0939, 0x093C, 0x093D,
    // ◌ा      ◌ि      ◌ी      ◌ु      ◌ू      ◌ृ      ◌ॄ      ◌ॅ
    0x093E, 0x093F, 0x0940, 0x0941, 0x0942, 0x0943, 0x0944, 0x0945,
    // ◌ॆ      ◌े      ◌ै      ◌ॉ      ◌ॊ      ◌ो      ◌ौ      ◌्
    0x0946, 0x0947, 0x0948, 0x0949, 0x094A, 0x094B, 0x094C, 0x094D,
    // ॐ       a       b       c       d       e       f       g
    0x0950, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ॲ       ॻ       ॼ       ॾ       ॿ
    u'x',   u'y',   u'z',   0x0972, 0x097B, 0x097C, 0x097E, 0x097F,
};

// TS 23.038 A.2.6, the Hindi national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 78> kHindiSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              19 ।              1A ॥
    {0x17, 0x0023}, {0x18, 0x002A}, {0x19, 0x0964}, {0x1A, 0x0965},
    // 1C ०              1D १              1E २              1F ३
    {0x1C, 0x0966}, {0x1D, 0x0967}, {0x1E, 0x0968}, {0x1F, 0x0969},
    // 20 ४              21 ५              22 ६              23 ७
    {0x20, 0x096A}, {0x21, 0x096B}, {0x22, 0x096C}, {0x23, 0x096D},
    // 24 ८              25 ९              26 ◌॑             27 ◌॒
    {0x24, 0x096E}, {0x25, 0x096F}, {0x26, 0x0951}, {0x27, 0x0952},
    // 2A ◌॓             2B ◌॔             2C क़              2D ख़
    {0x2A, 0x0953}, {0x2B, 0x0954}, {0x2C, 0x0958}, {0x2D, 0x0959},
    // 2E ग़              30 ज़              31 ड़              32 ढ़
    {0x2E, 0x095A}, {0x30, 0x095B}, {0x31, 0x095C}, {0x32, 0x095D},
    // 33 फ़              34 य़              35 ॠ              36 ॡ
    {0x33, 0x095E}, {0x34, 0x095F}, {0x35, 0x0960}, {0x36, 0x0961},
    // 37 ◌ॢ             38 ◌ॣ             39 ॰              3A ॱ
    {0x37, 0x0962}, {0x38, 0x0963}, {0x39, 0x0970}, {0x3A, 0x0971},
    // 41 A              42 B              43 C              44 D
    {0x41, 0x0041}, {0x42, 0x0042}, {0x43, 0x0043}, {0x44, 0x0044},
    // 45 E              46 F              47 G              48 H
    {0x45, 0x0045}, {0x46, 0x0046}, {0x47, 0x0047}, {0x48, 0x0048},
    // 49 I              4A J              4B K              4C L
    {0x49, 0x0049}, {0x4A, 0x004A}, {0x4B, 0x004B}, {0x4C, 0x004C},
    // 4D M              4E N              4F O              50 P
    {0x4D, 0x004D}, {0x4E, 0x004E}, {0x4F, 0x004F}, {0x50, 0x0050},
    // 51 Q              52 R              53 S              54 T
    {0x51, 0x0051}, {0x52, 0x0052}, {0x53, 0x0053}, {0x54, 0x0054},
    // 55 U              56 V              57 W              58 X
    {0x55, 0x0055}, {0x56, 0x0056}, {0x57, 0x0057}, {0x58, 0x0058},
    // 59 Y              5A Z
    {0x59, 0x0059}, {0x5A, 0x005A},
}};

// TS 23.038 A.3.7, the Kannada national language locking shift table.
constexpr std::array<char16_t, 128> kKannadaLocking = {
    // -       ◌ಂ      ◌ಃ      ಅ       ಆ       ಇ       ಈ       ಉ
    0,      0x0C82, 0x0C83, 0x0C85, 0x0C86, 0x0C87, 0x0C88, 0x0C89,
    // ಊ       ಋ       LF      ಌ       -       CR      ಎ       ಏ
    0x0C8A, 0x0C8B, u'\n',  0x0C8C, 0,      u'\r',  0x0C8E, 0x0C8F,
    // ಐ       -       ಒ       ಓ       ಔ       ಕ       ಖ       ಗ
    0x0C90, 0,      0x0C92, 0x0C93, 0x0C94, 0x0C95, 0x0C96, 0x0C97,
    // ಘ       ಙ       ಚ       ESC     ಛ       ಜ       ಝ       ಞ
    0x0C98, 0x0C99, 0x0C9A, 0x001B, 0x0C9B, 0x0C9C, 0x0C9D, 0x0C9E,
    // SP      !       ಟ       ಠ       ಡ       ಢ       ಣ       ತ
    u' ',   u'!',   0x0C9F, 0x0CA0, 0x0CA1, 0x0CA2, 0x0CA3, 0x0CA4,
    // )       (       ಥ       ದ       ,       ಧ       .       ನ
    u')',   u'(',   0x0CA5, 0x0CA6, u',',   0x0CA7, u'.',   0x0CA8,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       -       ಪ       ಫ       ?
    u'8',   u'9',   u':',   u';',   0,      0x0CAA, 0x0CAB, u'?',
    // ಬ       ಭ       ಮ       ಯ       ರ       ಱ       ಲ       ಳ
    0x0CAC, 0x0CAD, 0x0CAE, 0x0CAF, 0x0CB0, 0x0CB1, 0x0CB2, 0x0CB3,
    // -       ವ       ಶ       ಷ       ಸ       ಹ       ◌಼      ಽ
    0,      0x0CB5, 0x0CB6, 0x0CB7, 0x0CB8, 0x0CB9, 0x0CBC, 0x0CBD,
    // ◌ಾ      ◌ಿ      ◌ೀ      ◌ು      ◌ೂ      ◌ೃ      ◌ೄ      -
    0x0CBE, 0x0CBF, 0x0CC0, 0x0CC1, 0x0CC2, 0x0CC3, 0x0CC4, 0,
    // ◌ೆ      ◌ೇ      ◌ೈ      -       ◌ೊ      ◌ೋ      ◌ೌ      ◌್
    0x0CC6, 0x0CC7, 0x0CC8, 0,      0x0CCA, 0x0CCB, 0x0CCC, 0x0CCD,
    // ◌ೕ      a       b       c       d       e       f       g
    0x0CD5, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ◌ೖ      ೠ       ೡ       ◌ೢ      ◌ೣ
    u'x',   u'y',   u'z',   0x0CD6, 0x0CE0, 0x0CE1, 0x0CE2, 0x0CE3,
};

// TS 23.038 A.2.7, the Kannada national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 63> kKannadaSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              19 ।              1A ॥
    {0x17, 0x0023}, {0x18, 0x002A}, {0x19, 0x0964}, {0x1A, 0x0965},
    // 1C ೦              1D ೧              1E ೨              1F ೩
    {0x1C, 0x0CE6}, {0x1D, 0x0CE7}, {0x1E, 0x0CE8}, {0x1F, 0x0CE9},
    // 20 ೪              21 ೫              22 ೬              23 ೭
    {0x20, 0x0CEA}, {0x21, 0x0CEB}, {0x22, 0x0CEC}, {0x23, 0x0CED},
    // 24 ೮              25 ೯              26 ೞ              27 ೱ
    {0x24, 0x0CEE}, {0x25, 0x0CEF}, {0x26, 0x0CDE}, {0x27, 0x0CF1},
    // 2A ೲ              41 A              42 B              43 C
    {0x2A, 0x0CF2}, {0x41, 0x0041}, {0x42, 0x0042}, {0x43, 0x0043},
    // 44 D              45 E              46 F              47 G
    {0x44, 0x0044}, {0x45, 0x0045}, {0x46, 0x0046}, {0x47, 0x0047},
    // 48 H              49 I              4A J              4B K
    {0x48, 0x0048}, {0x49, 0x0049}, {0x4A, 0x004A}, {0x4B, 0x004B},
    // 4C L              4D M              4E N              4F O
    {0x4C, 0x004C}, {0x4D, 0x004D}, {0x4E, 0x004E}, {0x4F, 0x004F},
    // 50 P              51 Q              52 R              53 S
    {0x50, 0x0050}, {0x51, 0x0051}, {0x52, 0x0052}, {0x53, 0x0053},
    // 54 T              55 U              56 V              57 W
    {0x54, 0x0054}, {0x55, 0x0055}, {0x56, 0x0056}, {0x57, 0x0057},
    // 58 X              59 Y              5A Z
    {0x58, 0x0058}, {0x59, 0x0059}, {0x5A, 0x005A},
}};

// TS 23.038 A.3.8, the Malayalam national language locking shift table.
constexpr std::array<char16_t, 128> kMalayalamLocking = {
    // -       ◌ം      ◌ഃ      അ       ആ       ഇ       ഈ       ഉ
    0,      0x0D02, 0x0D03, 0x0D05, 0x0D06, 0x0D07, 0x0D08, 0x0D09,
    // ഊ       ഋ       LF      ഌ       -       CR      എ       ഏ
    0x0D0A, 0x0D0B, u'\n',  0x0D0C, 0,      u'\r',  0x0D0E, 0x0D0F,
    // ഐ       -       ഒ       ഓ       ഔ       ക       ഖ       ഗ
    0x0D10, 0,      0x0D12, 0x0D13, 0x0D14, 0x0D15, 0x0D16, 0x0D17,
    // ഘ       ങ       ച       ESC     ഛ       ജ       ഝ       ഞ
    0x0D18, 0x0D19, 0x0D1A, 0x001B, 0x0D1B, 0x0D1C, 0x0D1D, 0x0D1E,
    // SP      !       ട       ഠ       ഡ       ഢ       ണ       ത
    u' ',   u'!',   0x0D1F, 0x0D20, 0x0D21, 0x0D22, 0x0D23, 0x0D24,
    // )       (       ഥ       ദ       ,       ധ       .       ന
    u')',   u'(',   0x0D25, 0x0D26, u',',   0x0D27, u'.',   0x0D28,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       -       പ       ഫ       ?
    u'8',   u'9',   u':',   u';',   0,      0x0D2A, 0x0D2B, u'?',
    // ബ       ഭ       മ       യ       ര       റ       ല       ള
    0x0D2C, 0x0D2D, 0x0D2E, 0x0D2F, 0x0D30, 0x0D31, 0x0D32, 0x0D33,
    // ഴ       വ       ശ       ഷ       സ       ഹ       -       ഽ
    0x0D34, 0x0D35, 0x0D36, 0x0D37, 0x0D38, 0x0D39, 0,      0x0D3D,
    // ◌ാ      ◌ി      ◌ീ      ◌ു      ◌ൂ      ◌ൃ      ◌ൄ      -
    0x0D3E, 0x0D3F, 0x0D40, 0x0D41, 0x0D42, 0x0D43, 0x0D44, 0,
    // ◌െ      ◌േ      ◌ൈ      -       ◌ൊ      ◌ോ      ◌ൌ      ◌്
    0x0D46, 0x0D47, 0x0D48, 0,      0x0D4A, 0x0D4B, 0x0D4C, 0x0D4D,
    // ◌ൗ      a       b       c       d       e       f       g
    0x0D57, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ൠ       ൡ       ◌ൢ      ◌ൣ      ൹
    u'x',   u'y',   u'z',   0x0D60, 0x0D61, 0x0D62, 0x0D63, 0x0D79,
};

// TS 23.038 A.2.8, the Malayalam national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 72> kMalayalamSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              19 ।              1A ॥
    {0x17, 0x0023}, {0x18, 0x002A}, {0x19, 0x0964}, {0x1A, 0x0965},
    // 1C ൦              1D ൧              1E ൨              1F ൩
    {0x1C, 0x0D66}, {0x1D, 0x0D67}, {0x1E, 0x0D68}, {0x1F, 0x0D69},
    // 20 ൪              21 ൫              22 ൬              23 ൭
    {0x20, 0x0D6A}, {0x21, 0x0D6B}, {0x22, 0x0D6C}, {0x23, 0x0D6D},
    // 24 ൮              25 ൯              26 ൰              27 ൱
    {0x24, 0x0D6E}, {0x25, 0x0D6F}, {0x26, 0x0D70}, {0x27, 0x0D71},
    // 2A ൲              2B ൳              2C ൴              2D ൵
    {0x2A, 0x0D72}, {0x2B, 0x0D73}, {0x2C, 0x0D74}, {0x2D, 0x0D75},
    // 2E ൺ              30 ൻ              31 ർ              32 ൽ
    {0x2E, 0x0D7A}, {0x30, 0x0D7B}, {0x31, 0x0D7C}, {0x32, 0x0D7D},
    // 33 ൾ              34 ൿ              41 A              42 B
    {0x33, 0x0D7E}, {0x34, 0x0D7F}, {0x41, 0x0041}, {0x42, 0x0042},
    // 43 C              44 D              45 E              46 F
    {0x43, 0x0043}, {0x44, 0x0044}, {0x45, 0x0045}, {0x46, 0x0046},
    // 47 G              48 H              49 I              4A J
    {0x47, 0x0047}, {0x48, 0x0048}, {0x49, 0x0049}, {0x4A, 0x004A},
    // 4B K              4C L              4D M              4E N
    {0x4B, 0x004B}, {0x4C, 0x004C}, {0x4D, 0x004D}, {0x4E, 0x004E},
    // 4F O              50 P              51 Q              52 R
    {0x4F, 0x004F}, {0x50, 0x0050}, {0x51, 0x0051}, {0x52, 0x0052},
    // 53 S              54 T              55 U              56 V
    {0x53, 0x0053}, {0x54, 0x0054}, {0x55, 0x0055}, {0x56, 0x0056},
    // 57 W              58 X              59 Y              5A Z
    {0x57, 0x0057}, {0x58, 0x0058}, {0x59, 0x0059}, {0x5A, 0x005A},
}};

// TS 23.038 A.3.9, the Oriya national language locking shift table.
constexpr std::array<char16_t, 128> kOriyaLocking = {
    // ◌ଁ      ◌ଂ      ◌ଃ      ଅ       ଆ       ଇ       ଈ       ଉ
    0x0B01, 0x0B02, 0x0B03, 0x0B05, 0x0B06, 0x0B07, 0x0B08, 0x0B09,
    // ଊ       ଋ       LF      ଌ       -       CR      -       ଏ
    0x0B0A, 0x0B0B, u'\n',  0x0B0C, 0,      u'\r',  0,      0x0B0F,
    // ଐ       -       -       ଓ       ଔ       କ       ଖ       ଗ
    0x0B10, 0,      0,      0x0B13, 0x0B14, 0x0B15, 0x0B16, 0x0B17,
    // ଘ       ଙ       ଚ       ESC     ଛ       ଜ       ଝ       ଞ
    0x0B18, 0x0B19, 0x0B1A, 0x001B, 0x0B1B, 0x0B1C, 0x0B1D, 0x0B1E,
    // SP      !       ଟ       ଠ       ଡ       ଢ       ଣ       ତ
    u' ',   u'!',   0x0B1F, 0x0B20, 0x0B21, 0x0B22, 0x0B23, 0x0B24,
    // )       (       ଥ       ଦ       ,       ଧ       .       ନ
    u')',   u'(',   0x0B25, 0x0B26, u',',   0x0B27, u'.',   0x0B28,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       -       ପ       ଫ       ?
    u'8',   u'9',   u':',   u';',   0,      0x0B2A, 0x0B2B, u'?',
    // ବ       ଭ       ମ       ଯ       ର       -       ଲ       ଳ
    0x0B2C, 0x0B2D, 0x0B2E, 0x0B2F, 0x0B30, 0,      0x0B32, 0x0B33,
    // -       ଵ       ଶ       ଷ       ସ       ହ       ◌଼      ଽ
    0,      0x0B35, 0x0B36, 0x0B37, 0x0B38, 0x0B39, 0x0B3C, 0x0B3D,
    // ◌ା      ◌ି      ◌ୀ      ◌ୁ      ◌ୂ      ◌ୃ      ◌ୄ      -
    0x0B3E, 0x0B3F, 0x0B40, 0x0B41, 0x0B42, 0x0B43, 0x0B44, 0,
    // -       ◌େ      ◌ୈ      -       -       ◌ୋ      ◌ୌ      ◌୍
    0,      0x0B47, 0x0B48, 0,      0,      0x0B4B, 0x0B4C, 0x0B4D,
    // ◌ୖ      a       b       c       d       e       f       g
    0x0B56, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ◌ୗ      ୠ       ୡ       ◌ୢ      ◌ୣ
    u'x',   u'y',   u'z',   0x0B57, 0x0B60, 0x0B61, 0x0B62, 0x0B63,
};

// TS 23.038 A.2.9, the Oriya national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 65> kOriyaSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              19 ।              1A ॥
    {0x17, 0x0023}, {0x18, 0x002A}, {0x19, 0x0964}, {0x1A, 0x0965},
    // 1C ୦              1D ୧              1E ୨              1F ୩
    {0x1C, 0x0B66}, {0x1D, 0x0B67}, {0x1E, 0x0B68}, {0x1F, 0x0B69},
    // 20 ୪              21 ୫              22 ୬              23 ୭
    {0x20, 0x0B6A}, {0x21, 0x0B6B}, {0x22, 0x0B6C}, {0x23, 0x0B6D},
    // 24 ୮              25 ୯              26 ଡ଼              27 ଢ଼
    {0x24, 0x0B6E}, {0x25, 0x0B6F}, {0x26, 0x0B5C}, {0x27, 0x0B5D},
    // 2A ୟ              2B ୰              2C ୱ              41 A
    {0x2A, 0x0B5F}, {0x2B, 0x0B70}, {0x2C, 0x0B71}, {0x41, 0x0041},
    // 42 B              43 C              44 D              45 E
    {0x42, 0x0042}, {0x43, 0x0043}, {0x44, 0x0044}, {0x45, 0x0045},
    // 46 F              47 G              48 H              49 I
    {0x46, 0x0046}, {0x47, 0x0047}, {0x48, 0x0048}, {0x49, 0x0049},
    // 4A J              4B K              4C L              4D M
    {0x4A, 0x004A}, {0x4B, 0x004B}, {0x4C, 0x004C}, {0x4D, 0x004D},
    // 4E N              4F O              50 P              51 Q
    {0x4E, 0x004E}, {0x4F, 0x004F}, {0x50, 0x0050}, {0x51, 0x0051},
    // 52 R              53 S              54 T              55 U
    {0x52, 0x0052}, {0x53, 0x0053}, {0x54, 0x0054}, {0x55, 0x0055},
    // 56 V              57 W              58 X              59 Y
    {0x56, 0x0056}, {0x57, 0x0057}, {0x58, 0x0058}, {0x59, 0x0059},
    // 5A Z
    {0x5A, 0x005A},
}};

// TS 23.038 A.3.10, the Punjabi national language locking shift table.
constexpr std::array<char16_t, 128> kPunjabiLocking = {
    // ◌ਁ      ◌ਂ      ◌ਃ      ਅ       ਆ       ਇ       ਈ       ਉ
    0x0A01, 0x0A02, 0x0A03, 0x0A05, 0x0A06, 0x0A07, 0x0A08, 0x0A09,
    // ਊ       -       LF      -       -       CR      -       ਏ
    0x0A0A, 0,      u'\n',  0,      0,      u'\r',  0,      0x0A0F,
    // ਐ       -       -       ਓ       ਔ       ਕ       ਖ       ਗ
    0x0A10, 0,      0,      0x0A13, 0x0A14, 0x0A15, 0x0A16, 0x0A17,
    // ਘ       ਙ       ਚ       ESC     ਛ       ਜ       ਝ       ਞ
    0x0A18, 0x0A19, 0x0A1A, 0x001B, 0x0A1B, 0x0A1C, 0x0A1D, 0x0A1E,
    // SP      !       ਟ       ਠ       ਡ       ਢ       ਣ       ਤ
    u' ',   u'!',   0x0A1F, 0x0A20, 0x0A21, 0x0A22, 0x0A23, 0x0A24,
    // )       (       ਥ       ਦ       ,       ਧ       .       ਨ
    u')',   u'(',   0x0A25, 0x0A26, u',',   0x0A27, u'.',   0x0A28,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       -       ਪ       ਫ       ?
    u'8',   u'9',   u':',   u';',   0,      0x0A2A, 0x0A2B, u'?',
    // ਬ       ਭ       ਮ       ਯ       ਰ       -       ਲ       ਲ਼
    0x0A2C, 0x0A2D, 0x0A2E, 0x0A2F, 0x0A30, 0,      0x0A32, 0x0A33,
    // -       ਵ       ਸ਼       -       ਸ       ਹ       ◌਼      -
    0,      0x0A35, 0x0A36, 0,      0x0A38, 0x0A39, 0x0A3C, 0,
    // ◌ਾ      ◌ਿ      ◌ੀ      ◌ੁ      ◌ੂ      -       -       -
    0x0A3E, 0x0A3F, 0x0A40, 0x0A41, 0x0A42, 0,      0,      0,
    // -       ◌ੇ      ◌ੈ      -       -       ◌ੋ      ◌ੌ      ◌੍
    0,      0x0A47, 0x0A48, 0,      0,      0x0A4B, 0x0A4C, 0x0A4D,
    // ◌ੑ      a       b       c       d       e       f       g
    0x0A51, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ◌ੰ      ◌ੱ      ੲ       ੳ       ੴ
    u'x',   u'y',   u'z',   0x0A70, 0x0A71, 0x0A72, 0x0A73, 0x0A74,
};

// TS 23.038 A.2.10, the Punjabi national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 66> kPunjabiSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              19 ।              1A ॥
    {0x17, 0x0023}, {0x18, 0x002A}, {0x19, 0x0964}, {0x1A, 0x0965},
    // 1C ੦              1D ੧              1E ੨              1F ੩
    {0x1C, 0x0A66}, {0x1D, 0x0A67}, {0x1E, 0x0A68}, {0x1F, 0x0A69},
    // 20 ੪              21 ੫              22 ੬              23 ੭
    {0x20, 0x0A6A}, {0x21, 0x0A6B}, {0x22, 0x0A6C}, {0x23, 0x0A6D},
    // 24 ੮              25 ੯              26 ਖ਼              27 ਗ਼
    {0x24, 0x0A6E}, {0x25, 0x0A6F}, {0x26, 0x0A59}, {0x27, 0x0A5A},
    // 2A ਜ਼              2B ੜ              2C ਫ਼              2D ◌ੵ
    {0x2A, 0x0A5B}, {0x2B, 0x0A5C}, {0x2C, 0x0A5E}, {0x2D, 0x0A75},
    // 41 A              42 B              43 C              44 D
    {0x41, 0x0041}, {0x42, 0x0042}, {0x43, 0x0043}, {0x44, 0x0044},
    // 45 E              46 F              47 G              48 H
    {0x45, 0x0045}, {0x46, 0x0046}, {0x47, 0x0047}, {0x48, 0x0048},
    // 49 I              4A J              4B K              4C L
    {0x49, 0x0049}, {0x4A, 0x004A}, {0x4B, 0x004B}, {0x4C, 0x004C},
    // 4D M              4E N              4F O              50 P
    {0x4D, 0x004D}, {0x4E, 0x004E}, {0x4F, 0x004F}, {0x50, 0x0050},
    // 51 Q              52 R              53 S              54 T
    {0x51, 0x0051}, {0x52, 0x0052}, {0x53, 0x0053}, {0x54, 0x0054},
    // 55 U              56 V              57 W              58 X
    {0x55, 0x0055}, {0x56, 0x0056}, {0x57, 0x0057}, {0x58, 0x0058},
    // 59 Y              5A Z
    {0x59, 0x0059}, {0x5A, 0x005A},
}};

// TS 23.038 A.3.11, the Tamil national language locking shift table.
constexpr std::array<char16_t, 128> kTamilLocking = {
    // -       ◌ஂ      ஃ       அ       ஆ       இ       ஈ       உ
    0,      0x0B82, 0x0B83, 0x0B85, 0x0B86, 0x0B87, 0x0B88, 0x0B89,
    // ஊ       -       LF      -       -       CR      எ       ஏ
    0x0B8A, 0,      u'\n',  0,      0,      u'\r',  0x0B8E, 0x0B8F,
    // ஐ       -       ஒ       ஓ       ஔ       க       -       -
    0x0B90, 0,      0x0B92, 0x0B93, 0x0B94, 0x0B95, 0,      0,
    // -       ங       ச       ESC     -       ஜ       -       ஞ
    0,      0x0B99, 0x0B9A, 0x001B, 0,      0x0B9C, 0,      0x0B9E,
    // SP      !       ட       -       -       -       ண       த
    u' ',   u'!',   0x0B9F, 0,      0,      0,      0x0BA3, 0x0BA4,
    // )       (       -       -       ,       -       .       ந
    u')',   u'(',   0,      0,      u',',   0,      u'.',   0x0BA8,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       ன       ப       -       ?
    u'8',   u'9',   u':',   u';',   0x0BA9, 0x0BAA, 0,      u'?',
    // -       -       ம       ய       ர       ற       ல       ள
    0,      0,      0x0BAE, 0x0BAF, 0x0BB0, 0x0BB1, 0x0BB2, 0x0BB3,
    // ழ       வ       ஶ       ஷ       ஸ       ஹ       -       -
    0x0BB4, 0x0BB5, 0x0BB6, 0x0BB7, 0x0BB8, 0x0BB9, 0,      0,
    // ◌ா      ◌ி      ◌ீ      ◌ு      ◌ூ      -       -       -
    0x0BBE, 0x0BBF, 0x0BC0, 0x0BC1, 0x0BC2, 0,      0,      0,
    // ◌ெ      ◌ே      ◌ை      -       ◌ொ      ◌ோ      ◌ௌ      ◌்
    0x0BC6, 0x0BC7, 0x0BC8, 0,      0x0BCA, 0x0BCB, 0x0BCC, 0x0BCD,
    // ௐ       a       b       c       d       e       f       g
    0x0BD0, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ◌ௗ      ௰       ௱       ௲       ௹
    u'x',   u'y',   u'z',   0x0BD7, 0x0BF0, 0x0BF1, 0x0BF2, 0x0BF9,
};

// TS 23.038 A.2.11, the Tamil national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 67> kTamilSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              19 ।              1A ॥
    {0x17, 0x0023}, {0x18, 0x002A}, {0x19, 0x0964}, {0x1A, 0x0965},
    // 1C ௦              1D ௧              1E ௨              1F ௩
    {0x1C, 0x0BE6}, {0x1D, 0x0BE7}, {0x1E, 0x0BE8}, {0x1F, 0x0BE9},
    // 20 ௪              21 ௫              22 ௬              23 ௭
    {0x20, 0x0BEA}, {0x21, 0x0BEB}, {0x22, 0x0BEC}, {0x23, 0x0BED},
    // 24 ௮              25 ௯              26 ௳              27 ௴
    {0x24, 0x0BEE}, {0x25, 0x0BEF}, {0x26, 0x0BF3}, {0x27, 0x0BF4},
    // 2A ௵              2B ௶              2C ௷              2D ௸
    {0x2A, 0x0BF5}, {0x2B, 0x0BF6}, {0x2C, 0x0BF7}, {0x2D, 0x0BF8},
    // 2E ௺              41 A              42 B              43 C
    {0x2E, 0x0BFA}, {0x41, 0x0041}, {0x42, 0x0042}, {0x43, 0x0043},
    // 44 D              45 E              46 F              47 G
    {0x44, 0x0044}, {0x45, 0x0045}, {0x46, 0x0046}, {0x47, 0x0047},
    // 48 H              49 I              4A J              4B K
    {0x48, 0x0048}, {0x49, 0x0049}, {0x4A, 0x004A}, {0x4B, 0x004B},
    // 4C L              4D M              4E N              4F O
    {0x4C, 0x004C}, {0x4D, 0x004D}, {0x4E, 0x004E}, {0x4F, 0x004F},
    // 50 P              51 Q              52 R              53 S
    {0x50, 0x0050}, {0x51, 0x0051}, {0x52, 0x0052}, {0x53, 0x0053},
    // 54 T              55 U              56 V              57 W
    {0x54, 0x0054}, {0x55, 0x0055}, {0x56, 0x0056}, {0x57, 0x0057},
    // 58 X              59 Y              5A Z
    {0x58, 0x0058}, {0x59, 0x0059}, {0x5A, 0x005A},
}};

// TS 23.038 A.3.12, the Telugu national language locking shift table.
constexpr std::array<char16_t, 128> kTeluguLocking = {
    // ◌ఁ      ◌ం      ◌ః      అ       ఆ       ఇ       ఈ       ఉ
    0x0C01, 0x0C02, 0x0C03, 0x0C05, 0x0C06, 0x0C07, 0x0C08, 0x0C09,
    // ఊ       ఋ       LF      ఌ       -       CR      ఎ       ఏ
    0x0C0A, 0x0C0B, u'\n',  0x0C0C, 0,      u'\r',  0x0C0E, 0x0C0F,
    // ఐ       -       ఒ       ఓ       ఔ       క       ఖ       గ
    0x0C10, 0,      0x0C12, 0x0C13, 0x0C14, 0x0C15, 0x0C16, 0x0C17,
    // ఘ       ఙ       చ       ESC     ఛ       జ       ఝ       ఞ
    0x0C18, 0x0C19, 0x0C1A, 0x001B, 0x0C1B, 0x0C1C, 0x0C1D, 0x0C1E,
    // SP      !       ట       ఠ       డ       ఢ       ణ       త
    u' ',   u'!',   0x0C1F, 0x0C20, 0x0C21, 0x0C22, 0x0C23, 0x0C24,
    // )       (       థ       ద       ,       ధ       .       న
    u')',   u'(',   0x0C25, 0x0C26, u',',   0x0C27, u'.',   0x0C28,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       -       ప       ఫ       ?
    u'8',   u'9',   u':',   u';',   0,      0x0C2A, 0x0C2B, u'?',
    // బ       భ       మ       య       ర       ఱ       ల       ళ
    0x0C2C, 0x0C2D, 0x0C2E, 0x0C2F, 0x0C30, 0x0C31, 0x0C32, 0x0C33,
    // -       వ       శ       ష       స       హ       -       ఽ
    0,      0x0C35, 0x0C36, 0x0C37, 0x0C38, 0x0C39, 0,      0x0C3D,
    // ◌ా      ◌ి      ◌ీ      ◌ు      ◌ూ      ◌ృ      ◌ౄ      -
    0x0C3E, 0x0C3F, 0x0C40, 0x0C41, 0x0C42, 0x0C43, 0x0C44, 0,
    // ◌ె      ◌ే      ◌ై      -       ◌ొ      ◌ో      ◌ౌ      ◌్
    0x0C46, 0x0C47, 0x0C48, 0,      0x0C4A, 0x0C4B, 0x0C4C, 0x0C4D,
    // ◌ౕ      a       b       c       d       e       f       g
    0x0C55, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ◌ౖ      ౠ       ౡ       ◌ౢ      ◌ౣ
    u'x',   u'y',   u'z',   0x0C56, 0x0C60, 0x0C61, 0x0C62, 0x0C63,
};

// TS 23.038 A.2.12, the Telugu national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 68> kTeluguSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              1C ౦              1D ౧
    {0x17, 0x0023}, {0x18, 0x002A}, {0x1C, 0x0C66}, {0x1D, 0x0C67},
    // 1E ౨              1F ౩              20 ౪              21 ౫
    {0x1E, 0x0C68}, {0x1F, 0x0C69}, {0x20, 0x0C6A}, {0x21, 0x0C6B},
    // 22 ౬              23 ౭              24 ౮              25 ౯
    {0x22, 0x0C6C}, {0x23, 0x0C6D}, {0x24, 0x0C6E}, {0x25, 0x0C6F},
    // 26 ౘ              27 ౙ              2A ౸              2B ౹
    {0x26, 0x0C58}, {0x27, 0x0C59}, {0x2A, 0x0C78}, {0x2B, 0x0C79},
    // 2C ౺              2D ౻              2E ౼              30 ౽
    {0x2C, 0x0C7A}, {0x2D, 0x0C7B}, {0x2E, 0x0C7C}, {0x30, 0x0C7D},
    // 31 ౾              32 ౿              41 A              42 B
    {0x31, 0x0C7E}, {0x32, 0x0C7F}, {0x41, 0x0041}, {0x42, 0x0042},
    // 43 C              44 D              45 E              46 F
    {0x43, 0x0043}, {0x44, 0x0044}, {0x45, 0x0045}, {0x46, 0x0046},
    // 47 G              48 H              49 I              4A J
    {0x47, 0x0047}, {0x48, 0x0048}, {0x49, 0x0049}, {0x4A, 0x004A},
    // 4B K              4C L              4D M              4E N
    {0x4B, 0x004B}, {0x4C, 0x004C}, {0x4D, 0x004D}, {0x4E, 0x004E},
    // 4F O              50 P              51 Q              52 R
    {0x4F, 0x004F}, {0x50, 0x0050}, {0x51, 0x0051}, {0x52, 0x0052},
    // 53 S              54 T              55 U              56 V
    {0x53, 0x0053}, {0x54, 0x0054}, {0x55, 0x0055}, {0x56, 0x0056},
    // 57 W              58 X              59 Y              5A Z
    {0x57, 0x0057}, {0x58, 0x0058}, {0x59, 0x0059}, {0x5A, 0x005A},
}};

// TS 23.038 A.3.13, the Urdu national language locking shift table.
constexpr std::array<char16_t, 128> kUrduLocking = {
    // ا       آ       ب       ٻ       ڀ       پ       ڦ       ت
    0x0627, 0x0622, 0x0628, 0x067B, 0x0680, 0x067E, 0x06A6, 0x062A,
    // ۂ       ٿ       LF      ٹ       ٽ       CR      ٺ       ټ
    0x06C2, 0x067F, u'\n',  0x0679, 0x067D, u'\r',  0x067A, 0x067C,
    // ث       ج       ځ       ڄ       ڃ       څ       چ       ڇ
    0x062B, 0x062C, 0x0681, 0x0684, 0x0683, 0x0685, 0x0686, 0x0687,
    // ح       خ       د       ESC     ڌ       ڈ       ډ       ڊ
    0x062D, 0x062E, 0x062F, 0x001B, 0x068C, 0x0688, 0x0689, 0x068A,
    // SP      !       ڏ       ڍ       ذ       ر       ڑ       ړ
    u' ',   u'!',   0x068F, 0x068D, 0x0630, 0x0631, 0x0691, 0x0693,
    // )       (       ڙ       ز       ,       ږ       .       ژ
    u')',   u'(',   0x0699, 0x0632, u',',   0x0696, u'.',   0x0698,
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       ښ       س       ش       ?
    u'8',   u'9',   u':',   u';',   0x069A, 0x0633, 0x0634, u'?',
    // ص       ض       ط       ظ       ع       ف       ق       ک
    0x0635, 0x0636, 0x0637, 0x0638, 0x0639, 0x0641, 0x0642, 0x06A9,
    // ڪ       ګ       گ       ڳ       ڱ       ل       م       ن
    0x06AA, 0x06AB, 0x06AF, 0x06B3, 0x06B1, 0x0644, 0x0645, 0x0646,
    // ں       ڻ       ڼ       و       ۄ       ە       ہ       ھ
    0x06BA, 0x06BB, 0x06BC, 0x0648, 0x06C4, 0x06D5, 0x06C1, 0x06BE,
    // ء       ی       ې       ے       ◌ٍ      ◌ِ      ◌ُ      ◌ٗ
    0x0621, 0x06CC, 0x06D0, 0x06D2, 0x064D, 0x0650, 0x064F, 0x0657,
    // ◌ٔ      a       b       c       d       e       f       g
    0x0654, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ◌ٕ      ◌ّ      ◌ٓ      ◌ٖ      ◌ٰ
    u'x',   u'y',   u'z',   0x0655, 0x0651, 0x0653, 0x0656, 0x0670,
};

// TS 23.038 A.2.13, the Urdu national language single shift table: its
// entries beyond the extension table.
constexpr std::array<ShiftEntry, 80> kUrduSingleShift = {{
    // 00 @              01 £              02 $              03 ¥
    {0x00, 0x0040}, {0x01, 0x00A3}, {0x02, 0x0024}, {0x03, 0x00A5},
    // 04 ¿              05 "              06 ¤              07 %
    {0x04, 0x00BF}, {0x05, 0x0022}, {0x06, 0x00A4}, {0x07, 0x0025},
    // 08 &              09 '              0B *              0C +
    {0x08, 0x0026}, {0x09, 0x0027}, {0x0B, 0x002A}, {0x0C, 0x002B},
    // 0E -              0F /              10 <              11 =
    {0x0E, 0x002D}, {0x0F, 0x002F}, {0x10, 0x003C}, {0x11, 0x003D},
    // 12 >              13 ¡              15 ¡              16 _
    {0x12, 0x003E}, {0x13, 0x00A1}, {0x15, 0x00A1}, {0x16, 0x005F},
    // 17 #              18 *              19 ؀              1A ؁
    {0x17, 0x0023}, {0x18, 0x002A}, {0x19, 0x0600}, {0x1A, 0x0601},
    // 1C ۰              1D ۱              1E ۲              1F ۳
    {0x1C, 0x06F0}, {0x1D, 0x06F1}, {0x1E, 0x06F2}, {0x1F, 0x06F3},
    // 20 ۴              21 ۵              22 ۶              23 ۷
    {0x20, 0x06F4}, {0x21, 0x06F5}, {0x22, 0x06F6}, {0x23, 0x06F7},
    // 24 ۸              25 ۹              26 ،              27 ؍
    {0x24, 0x06F8}, {0x25, 0x06F9}, {0x26, 0x060C}, {0x27, 0x060D},
    // 2A ؎              2B ؏              2C ◌ؐ             2D ◌ؑ
    {0x2A, 0x060E}, {0x2B, 0x060F}, {0x2C, 0x0610}, {0x2D, 0x0611},
    // 2E ◌ؒ             30 ◌ؓ             31 ◌ؔ             32 ؛
    {0x2E, 0x0612}, {0x30, 0x0613}, {0x31, 0x0614}, {0x32, 0x061B},
    // 33 ؟              34 ـ              35 ◌ْ             36 ◌٘
    {0x33, 0x061F}, {0x34, 0x0640}, {0x35, 0x0652}, {0x36, 0x0658},
    // 37 ٫              38 ٬              39 ٲ              3A ٳ
    {0x37, 0x066B}, {0x38, 0x066C}, {0x39, 0x0672}, {0x3A, 0x0673},
    // 3B ۍ              3F ۔              41 A              42 B
    {0x3B, 0x06CD}, {0x3F, 0x06D4}, {0x41, 0x0041}, {0x42, 0x0042},
    // 43 C              44 D              45 E              46 F
    {0x43, 0x0043}, {0x44, 0x0044}, {0x45, 0x0045}, {0x46, 0x0046},
    // 47 G              48 H              49 I              4A J
    {0x47, 0x0047}, {0x48, 0x0048}, {0x49, 0x0049}, {0x4A, 0x004A},
    // 4B K              4C L              4D M              4E N
    {0x4B, 0x004B}, {0x4C, 0x004C}, {0x4D, 0x004D}, {0x4E, 0x004E},
    // 4F O              50 P              51 Q              52 R
    {0x4F, 0x004F}, {0x50, 0x0050}, {0x51, 0x0051}, {0x52, 0x0052},
    // 53 S              54 T              55 U              56 V
    {0x53, 0x0053}, {0x54, 0x0054}, {0x55, 0x0055}, {0x56, 0x0056},
    // 57 W              58 X              59 Y              5A Z
    {0x57, 0x0057}, {0x58, 0x0058}, {0x59, 0x0059}, {0x5A, 0x005A},
}};
// clang-format on

}  // namespace vesk::codec::national
