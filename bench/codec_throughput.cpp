// Encode and decode throughput of the SMS codec: a full 7-bit message (160
// characters), a full UCS2 message (70 characters) and a three-part 7-bit
// message, with the heap allocations each call makes; and the cost of the
// national language tables: a full message in the Turkish locking table
// (155 characters behind its shift element) next to one of the same
// length in the default alphabet, encoded alone and planned then encoded
// as a send does.

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "codec/Deliver.h"
#include "codec/Hex.h"
#include "codec/MessagePlan.h"
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

// 155 characters: Turkish letters of the locking table among plain ones,
// and the same length of plain text.
const WideString kTurkish155 =
    Repeat(u"A\u011Fa\u00E7l\u0131 \u015Fehirde b\u00FCy\u00FCk \u0131\u015F\u0131\u011F\u0131; ", 155);
const WideString kPlain155 = kText160.substr(0, 155);

void EncodeWith(benchmark::State& state, const WideString& text, TNationalLanguageShiftTables locking,
                TNationalLanguageShiftTables single) {
  const long long before = gAllocations.load();
  for (auto _ : state)
    benchmark::DoNotOptimize(codec::StringToPDUSMS(kPhone, u"", text, me7bit, false, nullptr, locking, single));
  Count(state, gAllocations.load() - before, text.size());
}

void PlanAndEncode(benchmark::State& state, const WideString& text, TNationalLanguageShiftTablesSet allowed) {
  const codec::MessagePlan check = codec::PlanMessage(text, meAuto, allowed);
  if (check.Info.Parts != 1 || check.Info.Encoding != me7bit) state.SkipWithError("not one 7-bit message");
  const long long before = gAllocations.load();
  for (auto _ : state) {
    const codec::MessagePlan plan = codec::PlanMessage(text, meAuto, allowed);
    const TSMSInfo& how = plan.Info;
    benchmark::DoNotOptimize(codec::StringToPDUSMS(kPhone, u"", plan.Parts[0], how.Encoding, false, nullptr,
                                                   how.LockingShift, how.SingleShift));
  }
  Count(state, gAllocations.load() - before, text.size());
}

// Processor nanoseconds of this thread per call, over `calls` calls.
double NsPerCall(const std::function<void()>& call, int calls) {
  timespec t0{}, t1{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
  for (int i = 0; i < calls; ++i) call();
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
  return ((t1.tv_sec - t0.tv_sec) * 1e9 + static_cast<double>(t1.tv_nsec - t0.tv_nsec)) / calls;
}

// The cost of the tables as a ratio, the two taken in turn, best of five
// rounds each: with the Turkish tables over without (target at most 1.5).
void TablesCost(benchmark::State& state, const std::function<void()>& with, const std::function<void()>& without) {
  constexpr int kCalls = 20000;
  double withNs = 0, withoutNs = 0;
  for (auto _ : state) {
    NsPerCall(with, kCalls / 10);
    NsPerCall(without, kCalls / 10);
    withNs = withoutNs = 1e18;
    for (int round = 0; round < 5; ++round) {
      withNs = std::min(withNs, NsPerCall(with, kCalls));
      withoutNs = std::min(withoutNs, NsPerCall(without, kCalls));
    }
    state.SetIterationTime((withNs + withoutNs) * kCalls * 5e-9);
  }
  state.counters["tables_ns"] = withNs;
  state.counters["default_ns"] = withoutNs;
  state.counters["ratio"] = withNs / withoutNs;
}

void BM_EncodeTablesCost(benchmark::State& state) {
  TablesCost(
      state,
      [] {
        benchmark::DoNotOptimize(
            codec::StringToPDUSMS(kPhone, u"", kTurkish155, me7bit, false, nullptr, stTurkish, stDefault));
      },
      [] { benchmark::DoNotOptimize(codec::StringToPDUSMS(kPhone, u"", kPlain155, me7bit, false, nullptr)); });
}

void BM_PlanAndEncodeTablesCost(benchmark::State& state) {
  auto planAndEncode = [](const WideString& text, TNationalLanguageShiftTablesSet allowed) {
    const codec::MessagePlan plan = codec::PlanMessage(text, meAuto, allowed);
    const TSMSInfo& how = plan.Info;
    benchmark::DoNotOptimize(codec::StringToPDUSMS(kPhone, u"", plan.Parts[0], how.Encoding, false, nullptr,
                                                   how.LockingShift, how.SingleShift));
  };
  TablesCost(
      state, [&] { planAndEncode(kTurkish155, {stTurkish}); }, [&] { planAndEncode(kPlain155, {}); });
}

void BM_Encode7bit155(benchmark::State& state) { EncodeWith(state, kPlain155, stDefault, stDefault); }
void BM_EncodeTurkishLocking155(benchmark::State& state) { EncodeWith(state, kTurkish155, stTurkish, stDefault); }
void BM_PlanAndEncode7bit155(benchmark::State& state) { PlanAndEncode(state, kPlain155, {}); }
void BM_PlanAndEncodeTurkish155(benchmark::State& state) { PlanAndEncode(state, kTurkish155, {stTurkish}); }

}  // namespace

BENCHMARK(BM_Encode7bit160);
BENCHMARK(BM_Decode7bit160);
BENCHMARK(BM_EncodeUcs2_70);
BENCHMARK(BM_DecodeUcs2_70);
BENCHMARK(BM_EncodeConcatenated3x153);
BENCHMARK(BM_DecodeConcatenated3x153);
BENCHMARK(BM_Encode7bit155);
BENCHMARK(BM_EncodeTurkishLocking155);
BENCHMARK(BM_PlanAndEncode7bit155);
BENCHMARK(BM_PlanAndEncodeTurkish155);
BENCHMARK(BM_EncodeTablesCost)->Iterations(1)->UseManualTime();
BENCHMARK(BM_PlanAndEncodeTablesCost)->Iterations(1)->UseManualTime();

BENCHMARK_MAIN();
