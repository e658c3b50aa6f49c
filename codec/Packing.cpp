#include "codec/Packing.h"

#include <algorithm>

#include "codec/Alphabet.h"

namespace vesk::codec {

namespace {

inline std::uint8_t Octet(const AnsiString& s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

template <class T, int Bits>
T BinStringToValue(const AnsiString& s) {
  std::uint32_t sum = 0;
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n; ++i) {
    char c = s[n - 1 - i];
    if (c < '0' || c > '9') throw EConvertError("'" + AnsiString(1, c) + "' is not a valid integer value");
    // Weights of 2^Bits and above vanish modulo 2^Bits.
    if (i < Bits) sum += static_cast<std::uint32_t>(c - '0') << i;
  }
  return static_cast<T>(sum);
}

template <int Bits>
AnsiString ValueToBinString(std::uint32_t v) {
  AnsiString out(Bits, '0');
  for (int i = 0; i < Bits; ++i)
    if (v & (1u << i)) out[static_cast<std::size_t>(Bits - 1 - i)] = '1';
  return out;
}

}  // namespace

// ---------------------------------------------------------------- septets

AnsiString PackSeptets(const char* codes, std::size_t count, int fillBits) {
  fillBits = std::clamp(fillBits, 0, 7);
  AnsiString out((static_cast<std::size_t>(fillBits) + 7 * count + 7) / 8, '\0');
  // TS 23.038 6.1.2.1.1: each septet fills the free low bits of the
  // current octet first, its remaining bits start the next.
  std::uint32_t acc = 0;
  int bits = fillBits;
  char* dst = out.empty() ? nullptr : &out[0];
  for (std::size_t i = 0; i < count; ++i) {
    acc |= static_cast<std::uint32_t>(static_cast<unsigned char>(codes[i]) & 0x7F) << bits;
    bits += 7;
    if (bits >= 8) {
      *dst++ = static_cast<char>(acc & 0xFF);
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) *dst = static_cast<char>(acc & 0xFF);
  return out;
}

AnsiString PackSeptets(const AnsiString& codes, int fillBits) {
  return PackSeptets(codes.data(), codes.size(), fillBits);
}

std::size_t SeptetsIn(std::size_t octets, std::size_t bitOffset) {
  return octets * 8 > bitOffset ? (octets * 8 - bitOffset) / 7 : 0;
}

std::size_t UnpackSeptets(const unsigned char* octets, std::size_t size, std::size_t bitOffset, std::size_t septets,
                          char* codes) {
  septets = std::min(septets, SeptetsIn(size, bitOffset));
  if (septets == 0) return 0;
  const unsigned char* src = octets + bitOffset / 8;
  const unsigned char* const end = octets + size;
  std::uint32_t acc = static_cast<std::uint32_t>(*src++) >> (bitOffset % 8);
  int bits = 8 - static_cast<int>(bitOffset % 8);
  for (std::size_t k = 0; k < septets; ++k) {
    if (bits < 7 && src < end) {
      acc |= static_cast<std::uint32_t>(*src++) << bits;
      bits += 8;
    }
    codes[k] = static_cast<char>(acc & 0x7F);
    acc >>= 7;
    bits -= 7;
  }
  return septets;
}

AnsiString UnpackSeptets(const AnsiString& octets, std::size_t bitOffset, std::size_t septets) {
  AnsiString codes(std::min(septets, SeptetsIn(octets.size(), bitOffset)), '\0');
  if (!codes.empty())
    UnpackSeptets(reinterpret_cast<const unsigned char*>(octets.data()), octets.size(), bitOffset, codes.size(),
                  &codes[0]);
  return codes;
}

AnsiString StringToPDU7(const AnsiString& str) {
  AnsiString codes = StringToGSM7bitDefaultAlphabet(str, stDefault, stDefault);
  return PackSeptets(codes.data(), std::min<std::size_t>(codes.size(), kMaxSeptets), 0);
}

WideString PDU7ToString(const AnsiString& str) {
  AnsiString codes = UnpackSeptets(str, 0, SeptetsIn(str.size(), 0));
  if (!codes.empty() && codes.back() == 0) codes.pop_back();
  return GSM7bitDefaultAlphabetToString(codes, stDefault, stDefault);
}

WideString PDU7ToString(const AnsiString& str, int septets) {
  if (septets <= 0) return WideString();
  AnsiString codes = UnpackSeptets(str, 0, static_cast<std::size_t>(septets));
  return GSM7bitDefaultAlphabetToString(codes, stDefault, stDefault);
}

// ---------------------------------------------------------------- 8-bit and UCS2

AnsiString StringToPDU8(const AnsiString& str) { return str; }

AnsiString StringToPDU16(const WideString& str) {
  AnsiString out;
  out.reserve(2 * str.size());
  for (char16_t c : str) {
    out.push_back(static_cast<char>(c >> 8));
    out.push_back(static_cast<char>(c & 0xFF));
  }
  return out;
}

WideString PDU8ToString(const AnsiString& str) { return AnsiToWide(str); }

WideString PDU16ToString(const unsigned char* octets, std::size_t size) {
  WideString out(size / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(octets[2 * i] << 8 | octets[2 * i + 1]);
  return out;
}

WideString PDU16ToString(const AnsiString& str) {
  return PDU16ToString(reinterpret_cast<const unsigned char*>(str.data()), str.size());
}

// ---------------------------------------------------------------- fill bits

AnsiString Pad7bitBoundary(const AnsiString& s, int n) {
  if (n < 1 || n > 7 || s.empty()) return s;
  const std::size_t last = s.size() - 1;
  AnsiString out(s.size(), '\0');
  for (std::size_t i = last; i > 0; --i)
    out[i] = static_cast<char>((Octet(s, i) << n | Octet(s, i - 1) >> (8 - n)) & 0xFF);
  std::uint8_t wrapped = last > 0 ? Octet(s, last) >> (8 - n) : 0;
  out[0] = static_cast<char>((Octet(s, 0) << n | wrapped) & 0xFF);
  return out;
}

void Unpad7bitBoundary(const unsigned char* in, std::size_t size, int n, unsigned char* out) {
  if (size == 0) return;
  if (n < 1 || n > 7) {
    std::copy(in, in + size, out);
    return;
  }
  const std::size_t last = size - 1;
  for (std::size_t i = 0; i < last; ++i) out[i] = static_cast<unsigned char>((in[i] >> n | in[i + 1] << (8 - n)) & 0xFF);
  const unsigned wrapped = last > 0 ? static_cast<std::uint8_t>(in[0] << (8 - n)) : 0;
  out[last] = static_cast<unsigned char>((in[last] >> n | wrapped) & 0xFF);
}

AnsiString Unpad7bitBoundary(const AnsiString& s, int n) {
  if (n < 1 || n > 7 || s.empty()) return s;
  AnsiString out(s.size(), '\0');
  Unpad7bitBoundary(reinterpret_cast<const unsigned char*>(s.data()), s.size(), n,
                    reinterpret_cast<unsigned char*>(&out[0]));
  return out;
}

// ---------------------------------------------------------------- small helpers

AnsiString ByteToBinString(std::uint8_t b) { return ValueToBinString<8>(b); }
AnsiString WordToBinString(std::uint16_t w) { return ValueToBinString<16>(w); }
std::uint8_t BinStringToByte(const AnsiString& s) { return BinStringToValue<std::uint8_t, 8>(s); }
std::uint16_t BinStringToWord(const AnsiString& s) { return BinStringToValue<std::uint16_t, 16>(s); }

AnsiString Pad0Left(const AnsiString& s, int n) {
  if (static_cast<long long>(s.size()) >= n) return s;
  return AnsiString(static_cast<std::size_t>(n) - s.size(), '0') + s;
}

AnsiString SafeCopy(const AnsiString& s, int index, int count, const AnsiString& fallback) {
  if (index < 1 || count < 1) return fallback;
  if (static_cast<long long>(index) + count - 1 > static_cast<long long>(s.size())) return fallback;
  return s.substr(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
}

}  // namespace vesk::codec
