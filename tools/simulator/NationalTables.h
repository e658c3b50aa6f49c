// TS 23.038 annex A, the national language tables, as the simulator reads
// the SMS-SUBMIT PDUs clients send with shift elements (TS 23.040
// 9.2.3.24.15 and .16). The simulator's own copy, typed row by row as the
// standard prints the tables (16 codes a row from 0x00; "□" a code the
// table leaves empty); nothing here comes from the library.
#pragma once

#include <cstdint>
#include <optional>

namespace vesk::sim {

// TS 23.038 6.2.1.2.4: 1 Turkish, 2 Spanish, 3 Portuguese, 4 Bengali,
// 5 Gujarati, 6 Hindi, 7 Kannada, 8 Malayalam, 9 Oriya, 10 Punjabi,
// 11 Tamil, 12 Telugu, 13 Urdu.
constexpr int kNationalLanguages = 13;

// The character of a code in a language's locking shift table; nullopt
// for an empty code, for the escape, and for a language without a locking
// table (Spanish) or unknown (the default alphabet then stands).
std::optional<char32_t> NationalLockingCharacter(int language, std::uint8_t code);
// The character of a code in a language's single shift table (the
// extension table's entries included); nullopt when it has none there.
std::optional<char32_t> NationalSingleShiftCharacter(int language, std::uint8_t code);
// Whether the language has a locking shift table.
bool HasNationalLockingTable(int language);

}  // namespace vesk::sim
