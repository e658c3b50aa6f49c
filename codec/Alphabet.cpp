#include "codec/Alphabet.h"

#include <array>
#include <cstddef>
#include <vector>

#include "codec/NationalTables.h"

namespace vesk::codec {

namespace {

// ---------------------------------------------------------------- source tables

// clang-format off
// TS 23.038 6.2.1, indexed by code. 0x1B is the escape and stands for no
// character of its own.
constexpr std::array<char16_t, 128> kDefaultAlphabet = {
    // @       £       $       ¥       è       é       ù       ì
    u'@',   0x00A3, u'$',   0x00A5, 0x00E8, 0x00E9, 0x00F9, 0x00EC,
    // ò       Ç       LF      Ø       ø       CR      Å       å
    0x00F2, 0x00C7, u'\n',  0x00D8, 0x00F8, u'\r',  0x00C5, 0x00E5,
    // Δ       _       Φ       Γ       Λ       Ω       Π       Ψ
    0x0394, u'_',   0x03A6, 0x0393, 0x039B, 0x03A9, 0x03A0, 0x03A8,
    // Σ       Θ       Ξ       ESC     Æ       æ       ß       É
    0x03A3, 0x0398, 0x039E, 0x001B, 0x00C6, 0x00E6, 0x00DF, 0x00C9,
    // SP      !       "       #       ¤       %       &       '
    u' ',   u'!',   u'"',   u'#',   0x00A4, u'%',   u'&',   u'\'',
    // (       )       *       +       ,       -       .       /
    u'(',   u')',   u'*',   u'+',   u',',   u'-',   u'.',   u'/',
    // 0       1       2       3       4       5       6       7
    u'0',   u'1',   u'2',   u'3',   u'4',   u'5',   u'6',   u'7',
    // 8       9       :       ;       <       =       >       ?
    u'8',   u'9',   u':',   u';',   u'<',   u'=',   u'>',   u'?',
    // ¡       A       B       C       D       E       F       G
    0x00A1, u'A',   u'B',   u'C',   u'D',   u'E',   u'F',   u'G',
    // H       I       J       K       L       M       N       O
    u'H',   u'I',   u'J',   u'K',   u'L',   u'M',   u'N',   u'O',
    // P       Q       R       S       T       U       V       W
    u'P',   u'Q',   u'R',   u'S',   u'T',   u'U',   u'V',   u'W',
    // X       Y       Z       Ä       Ö       Ñ       Ü       §
    u'X',   u'Y',   u'Z',   0x00C4, 0x00D6, 0x00D1, 0x00DC, 0x00A7,
    // ¿       a       b       c       d       e       f       g
    0x00BF, u'a',   u'b',   u'c',   u'd',   u'e',   u'f',   u'g',
    // h       i       j       k       l       m       n       o
    u'h',   u'i',   u'j',   u'k',   u'l',   u'm',   u'n',   u'o',
    // p       q       r       s       t       u       v       w
    u'p',   u'q',   u'r',   u's',   u't',   u'u',   u'v',   u'w',
    // x       y       z       ä       ö       ñ       ü       à
    u'x',   u'y',   u'z',   0x00E4, 0x00F6, 0x00F1, 0x00FC, 0x00E0,
};
// clang-format on

// One entry of a table reached through the escape.
using national::ShiftEntry;

// TS 23.038 6.2.1.1. 0x0D (CR2) is read as a carriage return.
constexpr std::array<ShiftEntry, 11> kExtension = {{
    {0x0A, 0x000C},  // form feed
    {0x0D, 0x000D},  // carriage return
    {0x14, u'^'},
    {0x28, u'{'},
    {0x29, u'}'},
    {0x2F, u'\\'},
    {0x3C, u'['},
    {0x3D, u'~'},
    {0x3E, u']'},
    {0x40, u'|'},
    {0x65, 0x20AC},  // €
}};

template <std::size_t N>
constexpr bool SortedByCode(const std::array<ShiftEntry, N>& table) {
  for (std::size_t i = 1; i < N; ++i)
    if (table[i - 1].code >= table[i].code) return false;
  for (const auto& e : table)
    if (e.code >= 0x80 || e.ch == 0) return false;
  return true;
}

template <std::size_t N>
constexpr bool DisjointFromExtension(const std::array<ShiftEntry, N>& table) {
  for (const auto& e : table)
    for (const auto& x : kExtension)
      if (e.code == x.code) return false;
  return true;
}

template <std::size_t N>
constexpr int CountedCharacters(const std::array<char16_t, N>& table) {
  int n = 0;
  for (char16_t c : table) n += c != 0;
  return n;
}

using namespace national;

static_assert(SortedByCode(kExtension) && SortedByCode(kTurkishSingleShift) && SortedByCode(kSpanishSingleShift) &&
                  SortedByCode(kPortugueseSingleShift) && SortedByCode(kBengaliSingleShift) &&
                  SortedByCode(kGujaratiSingleShift) && SortedByCode(kHindiSingleShift) &&
                  SortedByCode(kKannadaSingleShift) && SortedByCode(kMalayalamSingleShift) &&
                  SortedByCode(kOriyaSingleShift) && SortedByCode(kPunjabiSingleShift) &&
                  SortedByCode(kTamilSingleShift) && SortedByCode(kTeluguSingleShift) && SortedByCode(kUrduSingleShift),
              "shift tables are sorted by code, without duplicates");
static_assert(DisjointFromExtension(kTurkishSingleShift) && DisjointFromExtension(kSpanishSingleShift) &&
                  DisjointFromExtension(kPortugueseSingleShift) && DisjointFromExtension(kBengaliSingleShift) &&
                  DisjointFromExtension(kGujaratiSingleShift) && DisjointFromExtension(kHindiSingleShift) &&
                  DisjointFromExtension(kKannadaSingleShift) && DisjointFromExtension(kMalayalamSingleShift) &&
                  DisjointFromExtension(kOriyaSingleShift) && DisjointFromExtension(kPunjabiSingleShift) &&
                  DisjointFromExtension(kTamilSingleShift) && DisjointFromExtension(kTeluguSingleShift) &&
                  DisjointFromExtension(kUrduSingleShift),
              "national entries never override the extension table");
// The number of characters each table holds besides the extension table
// (single shift) or besides the escape (locking shift), as annex A lists them.
static_assert(kTurkishSingleShift.size() == 7 && kSpanishSingleShift.size() == 9 &&
                  kPortugueseSingleShift.size() == 27 && kBengaliSingleShift.size() == 72 &&
                  kGujaratiSingleShift.size() == 60 && kHindiSingleShift.size() == 78 &&
                  kKannadaSingleShift.size() == 63 && kMalayalamSingleShift.size() == 72 &&
                  kOriyaSingleShift.size() == 65 && kPunjabiSingleShift.size() == 66 &&
                  kTamilSingleShift.size() == 67 && kTeluguSingleShift.size() == 68 && kUrduSingleShift.size() == 80,
              "single shift table sizes");
static_assert(CountedCharacters(kTurkishLocking) == 128 && CountedCharacters(kPortugueseLocking) == 128 &&
                  CountedCharacters(kBengaliLocking) == 115 && CountedCharacters(kGujaratiLocking) == 121 &&
                  CountedCharacters(kHindiLocking) == 128 && CountedCharacters(kKannadaLocking) == 121 &&
                  CountedCharacters(kMalayalamLocking) == 121 && CountedCharacters(kOriyaLocking) == 117 &&
                  CountedCharacters(kPunjabiLocking) == 111 && CountedCharacters(kTamilLocking) == 103 &&
                  CountedCharacters(kTeluguLocking) == 121 && CountedCharacters(kUrduLocking) == 128,
              "locking shift table sizes, the escape included");

// ---------------------------------------------------------------- derived tables

using ShiftTable = std::array<char16_t, 128>;  // 0: no character

template <std::size_t N>
constexpr ShiftTable MakeShiftTable(const std::array<ShiftEntry, N>& national) {
  ShiftTable t{};
  for (const auto& e : kExtension) t[e.code] = e.ch;
  for (const auto& e : national) t[e.code] = e.ch;
  return t;
}

constexpr std::array<ShiftEntry, 0> kNoNational{};

// Indexed by TNationalLanguageShiftTables.
constexpr std::array<ShiftTable, kNationalTableCount> kShiftTables = {
    MakeShiftTable(kNoNational),              // stDefault
    MakeShiftTable(kSpanishSingleShift),      // stSpanish
    MakeShiftTable(kPortugueseSingleShift),   // stPortuguese
    MakeShiftTable(kTurkishSingleShift),      // stTurkish
    MakeShiftTable(kBengaliSingleShift),      // stBengali
    MakeShiftTable(kGujaratiSingleShift),     // stGujarati
    MakeShiftTable(kHindiSingleShift),        // stHindi
    MakeShiftTable(kKannadaSingleShift),      // stKannada
    MakeShiftTable(kMalayalamSingleShift),    // stMalayalam
    MakeShiftTable(kOriyaSingleShift),        // stOriya
    MakeShiftTable(kPunjabiSingleShift),      // stPunjabi
    MakeShiftTable(kTamilSingleShift),        // stTamil
    MakeShiftTable(kTeluguSingleShift),       // stTelugu
    MakeShiftTable(kUrduSingleShift),         // stUrdu
};

// Indexed by TNationalLanguageShiftTables; Spanish has no locking table.
constexpr std::array<const ShiftTable*, kNationalTableCount> kLockingTables = {
    &kDefaultAlphabet,  &kDefaultAlphabet,   &kPortugueseLocking, &kTurkishLocking, &kBengaliLocking,
    &kGujaratiLocking,  &kHindiLocking,      &kKannadaLocking,    &kMalayalamLocking, &kOriyaLocking,
    &kPunjabiLocking,   &kTamilLocking,      &kTeluguLocking,     &kUrduLocking,
};
static_assert(stDefault == 0 && stSpanish == 1 && stPortuguese == 2 && stTurkish == 3 && stBengali == 4 &&
                  stGujarati == 5 && stHindi == 6 && stKannada == 7 && stMalayalam == 8 && stOriya == 9 &&
                  stPunjabi == 10 && stTamil == 11 && stTelugu == 12 && stUrdu == 13,
              "table order");

// A character no table of a message holds goes as "?": every locking table
// has it where the default alphabet has it.
constexpr bool EveryLockingTableHasAQuestionMark() {
  for (const ShiftTable* t : kLockingTables)
    if ((*t)[0x3F] != u'?') return false;
  return true;
}
static_assert(EveryLockingTableHasAQuestionMark(), "0x3F is \"?\" in every locking table");

// Whether a locking table has a character at every code.
constexpr std::array<bool, kNationalTableCount> MakeLockingComplete() {
  std::array<bool, kNationalTableCount> t{};
  for (std::size_t i = 0; i < kNationalTableCount; ++i) t[i] = CountedCharacters(*kLockingTables[i]) == 128;
  return t;
}
constexpr std::array<bool, kNationalTableCount> kLockingComplete = MakeLockingComplete();
static_assert(kLockingComplete[stDefault] && !kLockingComplete[stBengali], "reserved codes are known");

// TS 23.038 6.2.1.2.4: national language identifier to table.
constexpr std::array<TNationalLanguageShiftTables, 14> kByIdentifier = {
    stDefault, stTurkish, stSpanish,   stPortuguese, stBengali, stGujarati, stHindi,
    stKannada, stMalayalam, stOriya,   stPunjabi,    stTamil,   stTelugu,   stUrdu,
};

constexpr std::size_t TableIndex(TNationalLanguageShiftTables t) {
  return t < kNationalTableCount ? static_cast<std::size_t>(t) : 0;
}

// Encoding: the codes of a character, as 0xFFFF (none), a code below 0x80,
// or 0x1B00 | code for an extension character. The default alphabet wins
// over the extension table, so carriage return encodes as 0x0D.
constexpr std::uint16_t kNoCode = 0xFFFF;

constexpr std::array<std::uint16_t, 256> MakeLatin1Codes() {
  std::array<std::uint16_t, 256> t{};
  for (auto& v : t) v = kNoCode;
  for (std::uint16_t code = 0; code < 128; ++code) {
    char16_t c = kDefaultAlphabet[code];
    if (code != kGsmEscape && c < 0x100 && t[c] == kNoCode) t[c] = code;
  }
  for (const auto& e : kExtension)
    if (e.ch < 0x100 && t[e.ch] == kNoCode) t[e.ch] = static_cast<std::uint16_t>(0x1B00 | e.code);
  return t;
}
constexpr std::array<std::uint16_t, 256> kLatin1Codes = MakeLatin1Codes();

struct WideCode {
  char16_t ch;
  std::uint16_t code;
};

// The characters above U+00FF: ten Greek capitals and the euro sign.
constexpr std::array<WideCode, 11> MakeWideCodes() {
  std::array<WideCode, 11> t{};
  std::size_t n = 0;
  for (std::uint16_t code = 0; code < 128; ++code)
    if (kDefaultAlphabet[code] >= 0x100 && n < t.size()) t[n++] = {kDefaultAlphabet[code], code};
  for (const auto& e : kExtension)
    if (e.ch >= 0x100 && n < t.size()) t[n++] = {e.ch, static_cast<std::uint16_t>(0x1B00 | e.code)};
  // Insertion sort by character, for the binary search.
  for (std::size_t i = 1; i < n; ++i)
    for (std::size_t j = i; j > 0 && t[j - 1].ch > t[j].ch; --j) {
      WideCode tmp = t[j - 1];
      t[j - 1] = t[j];
      t[j] = tmp;
    }
  return t;
}
constexpr std::array<WideCode, 11> kWideCodes = MakeWideCodes();

constexpr bool WideCodesComplete() {
  std::size_t n = 0;
  for (char16_t c : kDefaultAlphabet) n += c >= 0x100;
  for (const auto& e : kExtension) n += e.ch >= 0x100;
  for (std::size_t i = 1; i < kWideCodes.size(); ++i)
    if (kWideCodes[i - 1].ch >= kWideCodes[i].ch) return false;
  return n == kWideCodes.size();
}
static_assert(WideCodesComplete(), "every character above U+00FF is listed once, sorted");

constexpr std::uint16_t CodeOf(char16_t c) {
  if (c < 0x100) return kLatin1Codes[c];
  std::size_t lo = 0, hi = kWideCodes.size();
  while (lo < hi) {
    std::size_t mid = (lo + hi) / 2;
    if (kWideCodes[mid].ch < c)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo < kWideCodes.size() && kWideCodes[lo].ch == c ? kWideCodes[lo].code : kNoCode;
}

// The published alphabet set.
constexpr std::array<char16_t, 138> MakeAlphabetSet() {
  std::array<char16_t, 138> t{};
  std::size_t n = 0;
  for (std::size_t code = 0; code < kGsmEscape; ++code) t[n++] = kDefaultAlphabet[code];
  for (const auto& e : kExtension) t[n++] = e.ch;
  for (std::size_t code = kGsmEscape + 1; code < 128; ++code) t[n++] = kDefaultAlphabet[code];
  return t;
}
constexpr std::array<char16_t, 138> kAlphabetSet = MakeAlphabetSet();
static_assert(kAlphabetSet[0] == u'@' && kAlphabetSet[27] == 0x000C && kAlphabetSet[37] == 0x20AC &&
                  kAlphabetSet[38] == 0x00C6 && kAlphabetSet[137] == 0x00E0,
              "27 default codes, 11 extension characters, 100 default codes");

// Writes the codes of one Windows-1252 byte at out (room for two) and
// returns how many.
inline int PutByteCodes(char* out, unsigned char b) {
  char16_t c = (b < 0x80 || b >= 0xA0) ? static_cast<char16_t>(b) : AnsiCharToWide(b);
  std::uint16_t code = CodeOf(c);
  if (code == kNoCode) return 0;
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  out[0] = static_cast<char>(kGsmEscape);
  out[1] = static_cast<char>(code & 0x7F);
  return 2;
}

// The Windows-1252 byte of a character, '?' when the code page lacks it.
inline unsigned char AnsiByteOf(char16_t c) {
  unsigned char b;
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
  return WideCharToAnsi(c, b) ? b : static_cast<unsigned char>('?');
}

constexpr std::array<const char*, 32> kControlNames = {
    "<NUL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>", "<BEL>",
    "<BS>",  "<TAB>", "<LF>",  "<VT>",  "<FF>",  "<CR>",  "<SO>",  "<SI>",
    "<DLE>", "<DC1>", "<DC2>", "<DC3>", "<DC4>", "<NAK>", "<SYN>", "<ETB>",
    "<CAN>", "<EM>",  "<SUB>", "<ESC>", "<FS>",  "<GS>",  "<RS>",  "<US>",
};

}  // namespace

WideString GSM7bitDefaultAlphabet() { return WideString(kAlphabetSet.begin(), kAlphabetSet.end()); }

bool IsGSM7bitDefaultAlphabet(char16_t c) { return CodeOf(c) != kNoCode; }

bool IsGSM7bitDefaultAlphabet(const WideString& str) {
  for (char16_t c : str)
    if (!IsGSM7bitDefaultAlphabet(c)) return false;
  return true;
}

bool IsUnicode(const WideString& str) {
  for (char16_t c : str)
    if (c > 0xFF) return true;
  return false;
}

AnsiString StringToGSM7bitDefaultAlphabet(const AnsiString& strMessage, TNationalLanguageShiftTables,
                                          TNationalLanguageShiftTables) {
  AnsiString codes(2 * strMessage.size(), '\0');
  char* const begin = &codes[0];
  char* dst = begin;
  for (char b : strMessage) dst += PutByteCodes(dst, static_cast<unsigned char>(b));
  codes.resize(static_cast<std::size_t>(dst - begin));
  return codes;
}

int AppendGsmCodesViaAnsi(AnsiString& codes, char16_t c) {
  char out[2];
  const int n = PutByteCodes(out, AnsiByteOf(c));
  codes.append(out, static_cast<std::size_t>(n));
  return n;
}

void AppendGsmCodesViaAnsi(AnsiString& codes, const WideString& text) {
  const std::size_t n = codes.size();
  codes.resize(n + 2 * text.size());
  char* const begin = &codes[n];
  char* dst = begin;
  for (char16_t c : text) dst += PutByteCodes(dst, AnsiByteOf(c));
  codes.resize(n + static_cast<std::size_t>(dst - begin));
}

int AppendGsmCodes(AnsiString& codes, char16_t c) {
  const std::uint16_t code = CodeOf(c);
  if (code == kNoCode) return AppendGsmCodesViaAnsi(codes, c);
  if (code < 0x80) {
    codes.push_back(static_cast<char>(code));
    return 1;
  }
  codes.push_back(static_cast<char>(kGsmEscape));
  codes.push_back(static_cast<char>(code & 0x7F));
  return 2;
}

void AppendGsmCodes(AnsiString& codes, const WideString& text) {
  codes.reserve(codes.size() + 2 * text.size());
  for (char16_t c : text) AppendGsmCodes(codes, c);
}

TNationalLanguageShiftTables NationalLanguageTable(int identifier) {
  return identifier >= 0 && static_cast<std::size_t>(identifier) < kByIdentifier.size()
             ? kByIdentifier[static_cast<std::size_t>(identifier)]
             : stDefault;
}

int NationalLanguageIdentifier(TNationalLanguageShiftTables table) {
  for (std::size_t id = 0; id < kByIdentifier.size(); ++id)
    if (kByIdentifier[id] == table) return static_cast<int>(id);
  return 0;
}

bool HasLockingTable(TNationalLanguageShiftTables table) {
  return table < kNationalTableCount && (table == stDefault || kLockingTables[table] != &kDefaultAlphabet);
}

char16_t LockingShiftCharacter(TNationalLanguageShiftTables table, unsigned char code) {
  if (code >= 0x80 || code == kGsmEscape) return 0;
  return (*kLockingTables[TableIndex(table)])[code];
}

char16_t SingleShiftCharacter(TNationalLanguageShiftTables table, unsigned char code) {
  return code < 0x80 ? kShiftTables[TableIndex(table)][code] : 0;
}

namespace {

// The reverse of the decoding tables, built once: for a character, its
// NationalCodes, through a page of 256 characters (two loads a lookup).
class NationalCodeIndex {
 public:
  NationalCodeIndex() {
    // Entries are numbered first, then pointed to, so that nothing moves.
    std::array<int, 256> pageNumber;
    pageNumber.fill(-1);
    std::vector<std::array<std::uint16_t, 256>> numbers;
    for (std::size_t t = 0; t < kNationalTableCount; ++t) {
      const auto table = static_cast<TNationalLanguageShiftTables>(t);
      for (std::size_t code = 0; code < 128; ++code) {
        if (code == kGsmEscape) continue;
        if (HasLockingTable(table))
          Note((*kLockingTables[t])[code], t, static_cast<std::uint8_t>(code), true, pageNumber, numbers);
        Note(kShiftTables[t][code], t, static_cast<std::uint8_t>(code), false, pageNumber, numbers);
      }
    }
    pages_.resize(numbers.size());
    for (std::size_t p = 0; p < numbers.size(); ++p)
      for (std::size_t i = 0; i < 256; ++i) pages_[p][i] = numbers[p][i] == 0 ? nullptr : &entries_[numbers[p][i] - 1u];
    pageOf_.fill(nullptr);
    for (std::size_t high = 0; high < 256; ++high)
      if (pageNumber[high] >= 0) pageOf_[high] = &pages_[static_cast<std::size_t>(pageNumber[high])];
  }
  const NationalCodes* Find(char16_t c) const {
    const Page* page = pageOf_[c >> 8];
    return page == nullptr ? nullptr : (*page)[c & 0xFF];
  }

 private:
  using Page = std::array<const NationalCodes*, 256>;
  void Note(char16_t c, std::size_t table, std::uint8_t code, bool locking, std::array<int, 256>& pageNumber,
            std::vector<std::array<std::uint16_t, 256>>& numbers) {
    if (c == 0) return;
    int& page = pageNumber[c >> 8];
    if (page < 0) {
      page = static_cast<int>(numbers.size());
      numbers.emplace_back();
      numbers.back().fill(0);
    }
    std::uint16_t& entry = numbers[static_cast<std::size_t>(page)][c & 0xFF];
    if (entry == 0) {
      entries_.emplace_back();
      entry = static_cast<std::uint16_t>(entries_.size());
    }
    NationalCodes& e = entries_[entry - 1u];
    const auto bit = static_cast<std::uint16_t>(1u << table);
    std::uint16_t& mask = locking ? e.lockingMask : e.singleMask;
    if (mask & bit) return;  // held twice: the first code stands
    mask = static_cast<std::uint16_t>(mask | bit);
    (locking ? e.locking : e.single)[table] = code;
  }

  std::vector<NationalCodes> entries_;
  std::vector<Page> pages_;
  std::array<const Page*, 256> pageOf_;
};

const NationalCodeIndex& TheNationalCodeIndex() {
  static const NationalCodeIndex index;
  return index;
}

// Writes the text of the codes at dst and returns the end. kMayReserve:
// the main table leaves some codes without a character.
template <bool kMayReserve>
char16_t* WriteGsmText(char16_t* dst, const char* codes, std::size_t count, const ShiftTable& main,
                       const ShiftTable& shift) {
  for (std::size_t i = 0; i < count; ++i) {
    auto b = static_cast<unsigned char>(codes[i]);
    if (b >= 0x80) continue;
    if (b != kGsmEscape) {
      *dst = main[b];
      if (kMayReserve) {
        dst += main[b] != 0;  // a code the locking table reserves yields nothing
      } else {
        ++dst;
      }
      continue;
    }
    if (++i == count) break;
    auto next = static_cast<unsigned char>(codes[i]);
    if (next >= 0x80) continue;
    // TS 23.038 6.2.1.1: a code the shift table lacks shows the main
    // table's character; a second escape shows a space.
    const char16_t c = next == kGsmEscape ? u' ' : shift[next] != 0 ? shift[next] : main[next];
    if (c != 0) *dst++ = c;
  }
  return dst;
}

}  // namespace

const NationalCodes* NationalCodesOf(char16_t c) { return TheNationalCodeIndex().Find(c); }

void NationalCodesOf(const char16_t* text, std::size_t count, const NationalCodes** out) {
  const NationalCodeIndex& index = TheNationalCodeIndex();
  for (std::size_t i = 0; i < count; ++i) out[i] = index.Find(text[i]);
}

int AppendGsmCodes(AnsiString& codes, char16_t c, TNationalLanguageShiftTables lockingShift,
                   TNationalLanguageShiftTables singleShift, bool* held) {
  const std::size_t locking = TableIndex(lockingShift), single = TableIndex(singleShift);
  if (const NationalCodes* e = NationalCodesOf(c)) {
    if (e->lockingMask & (1u << locking)) {
      if (held != nullptr) *held = true;
      codes.push_back(static_cast<char>(e->locking[locking]));
      return 1;
    }
    if (e->singleMask & (1u << single)) {
      if (held != nullptr) *held = true;
      codes.push_back(static_cast<char>(kGsmEscape));
      codes.push_back(static_cast<char>(e->single[single]));
      return 2;
    }
  }
  if (held != nullptr) *held = false;
  if (locking == stDefault) return AppendGsmCodes(codes, c);
  // The locking table's "?" (every one has it, at 0x3F).
  codes.push_back('?');
  return 1;
}

void AppendGsmCodes(AnsiString& codes, const WideString& text, TNationalLanguageShiftTables lockingShift,
                    TNationalLanguageShiftTables singleShift) {
  const NationalCodeIndex& index = TheNationalCodeIndex();
  const std::size_t locking = TableIndex(lockingShift), single = TableIndex(singleShift);
  const unsigned lockingBit = 1u << locking, singleBit = 1u << single;
  const std::size_t n = codes.size();
  codes.resize(n + 2 * text.size());
  char* const begin = &codes[0] + n;
  char* dst = begin;
  for (char16_t c : text) {
    const NationalCodes* e = index.Find(c);
    if (e != nullptr && (e->lockingMask & lockingBit)) {
      *dst++ = static_cast<char>(e->locking[locking]);
    } else if (e != nullptr && (e->singleMask & singleBit)) {
      *dst++ = static_cast<char>(kGsmEscape);
      *dst++ = static_cast<char>(e->single[single]);
    } else if (locking != stDefault) {
      *dst++ = '?';
    } else {
      // Through the code page, as the default alphabet has it.
      char out[2];
      const int count = PutByteCodes(out, AnsiByteOf(c));
      for (int k = 0; k < count; ++k) *dst++ = out[k];
    }
  }
  codes.resize(n + static_cast<std::size_t>(dst - begin));
}

void AppendGsmText(WideString& out, const char* codes, std::size_t count,
                   TNationalLanguageShiftTables singleShiftTable, TNationalLanguageShiftTables lockingShiftTable) {
  const ShiftTable& shift = kShiftTables[TableIndex(singleShiftTable)];
  const std::size_t locking = TableIndex(lockingShiftTable);
  const ShiftTable& main = *kLockingTables[locking];
  const std::size_t n = out.size();
  out.resize(n + count);  // at most one character per code
  char16_t* const begin = &out[n];
  char16_t* const end = kLockingComplete[locking] ? WriteGsmText<false>(begin, codes, count, main, shift)
                                                  : WriteGsmText<true>(begin, codes, count, main, shift);
  out.resize(n + static_cast<std::size_t>(end - begin));
}

WideString GSM7bitDefaultAlphabetToString(const AnsiString& strMessage, TNationalLanguageShiftTables lockingShiftTable,
                                          TNationalLanguageShiftTables singleShiftTable) {
  WideString text;
  text.reserve(strMessage.size());
  AppendGsmText(text, strMessage.data(), strMessage.size(), singleShiftTable, lockingShiftTable);
  return text;
}

AnsiString ReplaceControlChars(const AnsiString& strInput) {
  AnsiString out;
  out.reserve(strInput.size());
  for (char c : strInput) {
    auto b = static_cast<unsigned char>(c);
    if (b < kControlNames.size())
      out += kControlNames[b];
    else
      out.push_back(c);
  }
  return out;
}

}  // namespace vesk::codec
