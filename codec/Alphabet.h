// The GSM 7-bit default alphabet (TS 23.038 6.2.1), its extension table
// (6.2.1.1) and, for decoding, every national language single shift table
// (annex A.2) and locking shift table (annex A.3).
//
// The conversions work on unpacked codes: a "GSM code string" holds one
// code (0x00 to 0x7F) per byte, an extension character taking two bytes,
// the escape 0x1B and its code. Packing into septets is in Packing.h.
//
// Pure functions of their arguments: any thread, no state, no exceptions
// beyond std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>

#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk::codec {

// The escape to the extension table (and to a national single shift table).
constexpr unsigned char kGsmEscape = 0x1B;

// The number of TNationalLanguageShiftTables values.
constexpr std::size_t kNationalTableCount = 14;

// The table of a national language identifier (TS 23.038 6.2.1.2.4, as a
// user data header's shift element carries it); stDefault for 0 and for
// the reserved identifiers.
TNationalLanguageShiftTables NationalLanguageTable(int identifier);
// The identifier of a table; 0 for stDefault.
int NationalLanguageIdentifier(TNationalLanguageShiftTables table);

// The character of a code (0x00 to 0x7F) in a locking shift table
// (stDefault and stSpanish: the default alphabet) or in a single shift
// table (the extension table with the national entries); 0 when the table
// has none there. The escape 0x1B has none in either.
char16_t LockingShiftCharacter(TNationalLanguageShiftTables table, unsigned char code);
char16_t SingleShiftCharacter(TNationalLanguageShiftTables table, unsigned char code);

// The 138 characters that fit the alphabet, in the component's published
// order: codes 0x00 to 0x1A, the eleven extension characters in the place
// of the escape, then codes 0x1C to 0x7F. Carriage return stands twice.
WideString GSM7bitDefaultAlphabet();

// True when every character of str is in the set above (true for "").
bool IsGSM7bitDefaultAlphabet(const WideString& str);
bool IsGSM7bitDefaultAlphabet(char16_t c);

// True when some character of str is above U+00FF.
bool IsUnicode(const WideString& str);

// 8-bit text, read as Windows-1252, to a GSM code string. Characters that
// neither the default alphabet nor the extension table hold are dropped.
// No national table is applied in this direction: both table arguments are
// accepted for the component's interface and have no effect.
AnsiString StringToGSM7bitDefaultAlphabet(const AnsiString& strMessage,
                                          TNationalLanguageShiftTables lockingShiftTable = stDefault,
                                          TNationalLanguageShiftTables singleShiftTable = stDefault);

// Appends the GSM codes of one UTF-16 character as the component's 7-bit
// path sees it: first through the system ANSI code page (a character that
// the code page lacks becomes '?'), then as StringToGSM7bitDefaultAlphabet.
// Returns the number of codes appended (0, 1 or 2).
int AppendGsmCodesViaAnsi(AnsiString& codes, char16_t c);
// The same for every character of text.
void AppendGsmCodesViaAnsi(AnsiString& codes, const WideString& text);

// The encoding side of the national language tables: where one character
// stands in each locking shift table (stDefault: the default alphabet) and
// in each single shift table (stDefault: the extension table alone), bit t
// of a mask standing for the table of TNationalLanguageShiftTables t.
// Spanish has no locking table: its locking bit is never set. The escape
// is no character; a character a table holds twice takes its first code.
struct NationalCodes {
  std::uint16_t lockingMask = 0;
  std::uint16_t singleMask = 0;
  std::uint8_t locking[kNationalTableCount] = {};
  std::uint8_t single[kNationalTableCount] = {};
};
// What the tables hold of c; nullptr when none holds it.
const NationalCodes* NationalCodesOf(char16_t c);
// The same for each of `count` characters, into out.
void NationalCodesOf(const char16_t* text, std::size_t count, const NationalCodes** out);
// Whether a table value has a locking shift table of its own (stDefault
// has the default alphabet).
bool HasLockingTable(TNationalLanguageShiftTables table);

// Appends the GSM codes of c as a message written with the two tables
// writes it: its code in the locking table, else the escape and its code
// in the single shift table. A character neither holds goes as
// AppendGsmCodes makes it when the locking table is the default alphabet
// (through the code page: '?' or nothing), as the locking table's "?"
// otherwise. Returns the number of codes appended (0, 1 or 2); `held` is
// false when neither table holds c.
int AppendGsmCodes(AnsiString& codes, char16_t c, TNationalLanguageShiftTables lockingShift,
                   TNationalLanguageShiftTables singleShift, bool* held = nullptr);
// The same for every character of text.
void AppendGsmCodes(AnsiString& codes, const WideString& text, TNationalLanguageShiftTables lockingShift,
                    TNationalLanguageShiftTables singleShift);

// Appends the GSM codes of one UTF-16 character taken as it stands: every
// character of the default alphabet and the extension table gets its code,
// the Greek capitals (U+0394 ...) and the euro sign included. Any other
// character goes the way of AppendGsmCodesViaAnsi (a '?' when the code page
// lacks it, nothing when the alphabet does). Returns the number of codes
// appended (0, 1 or 2). This is what the SMS-SUBMIT encoder uses.
int AppendGsmCodes(AnsiString& codes, char16_t c);
// The same for every character of text.
void AppendGsmCodes(AnsiString& codes, const WideString& text);

// A GSM code string to text (TS 23.038 6.2.1.2). Each code is read in the
// locking shift table that lockingShiftTable names (stDefault: the default
// alphabet). After an escape the next code is read in the single shift
// table that singleShiftTable names (the extension table, with the national
// entries); a code that table lacks yields the locking table's character
// for it, and a second escape yields a space (6.2.1.1). A code reserved in
// the locking table, a trailing escape and bytes 0x80 to 0xFF yield nothing.
WideString GSM7bitDefaultAlphabetToString(const AnsiString& strMessage,
                                          TNationalLanguageShiftTables lockingShiftTable = stDefault,
                                          TNationalLanguageShiftTables singleShiftTable = stDefault);
// Appends the text of a GSM code string to out, as above.
void AppendGsmText(WideString& out, const char* codes, std::size_t count,
                   TNationalLanguageShiftTables singleShiftTable = stDefault,
                   TNationalLanguageShiftTables lockingShiftTable = stDefault);

// Replaces each byte 0x00 to 0x1F by its name in angle brackets ("<CR>",
// "<LF>", "<ESC>" ...), for showing raw modem traffic.
AnsiString ReplaceControlChars(const AnsiString& strInput);

}  // namespace vesk::codec
