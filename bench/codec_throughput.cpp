// Encode and decode throughput of the SMS codec: a full 7-bit message (160
// characters), a full UCS2 message (70 characters) and a three-part 7-bit
// message, with the heap allocations each call makes.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "codec/Deliver.h"
#include "codec/Hex.h"
#include "codec/Packing.h"
#include "codec/Submit.h"
#include "incoming/Reassembly.h"

#include "bench/CountingNew.h"

namespace {

using namespace vesk;

const WideString kPhone = u"+4917612345678";

WideString Repeat(const WideString& pattern, std::size_t length) {
  WideString s;
  while (s.size() < length) s += pattern;
  s.resize(length);
  return s;
}

const WideString kText160 = Repeat(u"The quick brown fox jumps over the lazy dog. ", 160);
const WideString kText70 = Repeat(u"\u0417\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439, \u043C\u0438\u0440! ", 70);
const WideString kText459 = Repeat(u"Pack my box with five dozen liquor jugs. ", 3 * 153);

// An SMS-DELIVER carrying what an encoded SUBMIT (without service centre)
// holds: its address, DCS, header and text, after a centre and a stamp.
std::string AsDeliver(const TPDUSMS& submit, bool header) {
  const std::string& d = submit.Data;  // "00", first octet, MR, then the address
  const std::size_t addressChars = 4 + 2 * ((std::stoul(d.substr(6, 2), nullptr, 16) + 1) / 2);
  const std::size_t pid = 6 + addressChars;
  return std::string("07919471016000F0") + (header ? "44" : "04") + d.substr(6, addressChars) + "00" +
         d.substr(pid + 2, 2) + "91304151906280" + d.substr(pid + 6);
}

void Count(benchmark::State& state, long long allocations, std::size_t characters) {
  state.counters["allocs/call"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(characters));
}

void Encode(benchmark::State& state, const WideString& text, TMessageEncoding encoding) {
  const long long before = gAllocations.load();
  for (auto _ : state) benchmark::DoNotOptimize(codec::StringToPDUSMS(kPhone, u"", text, encoding, false, nullptr));
  Count(state, gAllocations.load() - before, text.size());
}

void Decode(benchmark::State& state, const WideString& text, TMessageEncoding encoding) {
  const std::string pdu = AsDeliver(codec::StringToPDUSMS(kPhone, u"", text, encoding, false, nullptr), false);
  if (codec::PDUSMSToString(pdu, nullptr, 0).Text != text) state.SkipWithError("decoded text differs");
  const long long before = gAllocations.load();
  for (auto _ : state) benchmark::DoNotOptimize(codec::PDUSMSToString(pdu, nullptr, 0));
  Count(state, gAllocations.load() - before, text.size());
}

void BM_Encode7bit160(benchmark::State& state) { Encode(state, kText160, me7bit); }
void BM_Decode7bit160(benchmark::State& state) { Decode(state, kText160, me7bit); }
void BM_EncodeUcs2_70(benchmark::State& state) { Encode(state, kText70, meUCS2); }
void BM_DecodeUcs2_70(benchmark::State& state) { Decode(state, kText70, meUCS2); }

// One iteration encodes (or decodes and reassembles) all three parts.
// The split itself is the sender's work, not the encoder's: cut beforehand.
void BM_EncodeConcatenated3x153(benchmark::State& state) {
  const WideString pieces[3] = {kText459.substr(0, 153), kText459.substr(153, 153), kText459.substr(306, 153)};
  const long long before = gAllocations.load();
  for (auto _ : state) {
    for (std::uint8_t part = 1; part <= 3; ++part) {
      TUDH udh(0x42, part, 3);
      benchmark::DoNotOptimize(codec::StringToPDUSMS(kPhone, u"", pieces[part - 1], me7bit, false, &udh));
    }
  }
  Count(state, gAllocations.load() - before, kText459.size());
}

void BM_DecodeConcatenated3x153(benchmark::State& state) {
  std::vector<std::string> pdus;
  for (std::uint8_t part = 1; part <= 3; ++part) {
    TUDH udh(0x42, part, 3);
    pdus.push_back(AsDeliver(
        codec::StringToPDUSMS(kPhone, u"", kText459.substr((part - 1) * 153u, 153), me7bit, false, &udh), true));
  }
  TConcatenatedSMSCollection parts;
  WideString whole;
  for (const auto& pdu : pdus) whole = codec::PDUSMSToString(pdu, &parts, 0).Text;
  if (whole != kText459) state.SkipWithError("reassembled text differs");
  const long long before = gAllocations.load();
  for (auto _ : state)
    for (const auto& pdu : pdus) benchmark::DoNotOptimize(codec::PDUSMSToString(pdu, &parts, 0));
  Count(state, gAllocations.load() - before, kText459.size());
}

}  // namespace

BENCHMARK(BM_Encode7bit160);
BENCHMARK(BM_Decode7bit160);
BENCHMARK(BM_EncodeUcs2_70);
BENCHMARK(BM_DecodeUcs2_70);
BENCHMARK(BM_EncodeConcatenated3x153);
BENCHMARK(BM_DecodeConcatenated3x153);

BENCHMARK_MAIN();
