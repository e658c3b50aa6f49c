// The GSM 7-bit default alphabet (TS 23.038 6.2.1), its extension table
// (6.2.1.1) and, for decoding, the Spanish, Portuguese and Turkish national
// single shift tables (annex A.2).
//
// The conversions work on unpacked codes: a "GSM code string" holds one
// code (0x00 to 0x7F) per byte, an extension character taking two bytes,
// the escape 0x1B and its code. Packing into septets is in Packing.h.
//
// Pure functions of their arguments: any thread, no state, no exceptions
// beyond std::bad_alloc.
#pragma once

#include <cstdint>

#include "component/Enums.h"
#include "component/Framework.h"

namespace vesk::codec {

// The escape to the extension table (and to a national single shift table).
constexpr unsigned char kGsmEscape = 0x1B;

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

// Appends the GSM codes of one UTF-16 character taken as it stands: every
// character of the default alphabet and the extension table gets its code,
// the Greek capitals (U+0394 ...) and the euro sign included. Any other
// character goes the way of AppendGsmCodesViaAnsi (a '?' when the code page
// lacks it, nothing when the alphabet does). Returns the number of codes
// appended (0, 1 or 2). This is what the SMS-SUBMIT encoder uses.
int AppendGsmCodes(AnsiString& codes, char16_t c);
// The same for every character of text.
void AppendGsmCodes(AnsiString& codes, const WideString& text);

// A GSM code string to text. After an escape the next code is looked up in
// the extension table, then in the national single shift table named by
// singleShiftTable; a code found in neither yields nothing. A trailing
// escape and bytes 0x80 to 0xFF yield nothing. lockingShiftTable has no
// effect.
WideString GSM7bitDefaultAlphabetToString(const AnsiString& strMessage,
                                          TNationalLanguageShiftTables lockingShiftTable = stDefault,
                                          TNationalLanguageShiftTables singleShiftTable = stDefault);
// Appends the text of a GSM code string (stDefault tables) to out.
void AppendGsmText(WideString& out, const char* codes, std::size_t count,
                   TNationalLanguageShiftTables singleShiftTable = stDefault);

// Replaces each byte 0x00 to 0x1F by its name in angle brackets ("<CR>",
// "<LF>", "<ESC>" ...), for showing raw modem traffic.
AnsiString ReplaceControlChars(const AnsiString& strInput);

}  // namespace vesk::codec
