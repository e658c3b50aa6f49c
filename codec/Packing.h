// SMS user data in its three encodings (TS 23.038 4): GSM 7-bit codes
// packed into septets (6.1.2.1.1), 8-bit data and UCS2; the fill bits that
// align septets behind a user data header (TS 23.040 9.2.3.24); and the
// small string helpers the component's parsers share.
//
// Octet strings are AnsiStrings used as byte buffers: one character per
// octet, values 0 to 255. Pure functions: any thread, no state. Only
// BinStringToByte and BinStringToWord raise (EConvertError, on a
// character that is not a decimal digit).
#pragma once

#include <cstdint>

#include "component/Framework.h"

namespace vesk::codec {

// Codes beyond this many are cut by StringToPDU7: one message's worth.
constexpr int kMaxSeptets = 160;

// 8-bit text (Windows-1252) to packed septets: converted to GSM codes
// (characters outside the alphabet dropped), cut to 160 codes, packed.
AnsiString StringToPDU7(const AnsiString& str);
// The octets unchanged.
AnsiString StringToPDU8(const AnsiString& str);
// UTF-16 big-endian, no byte order mark.
AnsiString StringToPDU16(const WideString& str);

// Unpacks every septet that the octets hold (floor(8n/7)) and drops one
// final code 0, which is either padding or a final "@": this form cannot
// tell them apart.
WideString PDU7ToString(const AnsiString& str);
// Unpacks exactly `septets` septets (fewer when the octets hold fewer), so
// a final "@" survives. This is the form the decoder uses, with the count
// taken from the user data length.
WideString PDU7ToString(const AnsiString& str, int septets);
// Each octet as a Windows-1252 character.
WideString PDU8ToString(const AnsiString& str);
// Octet pairs, high octet first; a final odd octet is ignored.
WideString PDU16ToString(const AnsiString& str);
WideString PDU16ToString(const unsigned char* octets, std::size_t size);

// Packs GSM codes (one per byte, low 7 bits used) as septets after
// `fillBits` zero bits (0 to 7): ceil((fillBits + 7 * codes) / 8) octets.
AnsiString PackSeptets(const char* codes, std::size_t count, int fillBits);
AnsiString PackSeptets(const AnsiString& codes, int fillBits = 0);
// Unpacks `septets` codes starting `bitOffset` bits into the octets, or as
// many as the octets hold when they hold fewer.
AnsiString UnpackSeptets(const AnsiString& octets, std::size_t bitOffset, std::size_t septets);
// The same into `codes`, which has room for min(septets, SeptetsIn(size,
// bitOffset)) codes; returns how many were written.
std::size_t UnpackSeptets(const unsigned char* octets, std::size_t size, std::size_t bitOffset, std::size_t septets,
                          char* codes);
// The number of whole septets in the octets after bitOffset bits.
std::size_t SeptetsIn(std::size_t octets, std::size_t bitOffset);

// Shifts the octet string n bits (1 to 7) toward later bits: n zero fill
// bits at the start. The octet count stays the same, so the high n bits of
// the last octet move round into the fill bits of octet 1 (a one-octet
// string loses them). Other n: s unchanged.
AnsiString Pad7bitBoundary(const AnsiString& s, int n);
// The inverse: shifts n bits (1 to 7) toward earlier bits; the fill bits of
// octet 1 move round into the high n bits of the last octet (a one-octet
// string is simply shifted). Other n: s unchanged.
AnsiString Unpad7bitBoundary(const AnsiString& s, int n);
// The same on `size` octets at `in`, written to `out` (size octets, not
// overlapping `in`); other n copy them.
void Unpad7bitBoundary(const unsigned char* in, std::size_t size, int n, unsigned char* out);

// Binary digits, most significant first, exactly 8 (16) of them.
AnsiString ByteToBinString(std::uint8_t b);
AnsiString WordToBinString(std::uint16_t w);
// Each character, from the right, weighs its decimal value times 2 to its
// position; the sum modulo 256 (65536). "" gives 0. Raises EConvertError
// on a character that is not a decimal digit.
std::uint8_t BinStringToByte(const AnsiString& s);
std::uint16_t BinStringToWord(const AnsiString& s);

// s with "0" added on the left up to length n.
AnsiString Pad0Left(const AnsiString& s, int n);

// The count characters of s from position index (counting from 1) when all
// of them lie inside s, otherwise fallback, whole: never a shortened piece.
AnsiString SafeCopy(const AnsiString& s, int index, int count, const AnsiString& fallback);

}  // namespace vesk::codec
