// The unsolicited result dispatcher's throughput on received text: how many
// megabytes of modem output ProcessAT cuts, decodes and raises events for
// per second, and the heap allocations per call, for three kinds of
// traffic: rings with caller identification, new-message notices (the
// automatic read off), and read answers carrying a 160-character 7-bit
// PDU. The component is not open: the text is put where the reader thread
// puts what it reads, and dispatched as the reader thread would.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "component/VeskGSM.h"
#include "tools/simulator/ModemSimulator.h"

#include "bench/CountingNew.h"

namespace {

using namespace vesk;

class Dispatcher : public TVeskGSM {
 public:
  Dispatcher() {
    SetAutoReadNewMessage(false);
    OnRing = [this](TObject*, const AnsiString&) { ++events; };
    OnNewMessage = [this](TObject*, const AnsiString&, int) { ++events; };
    OnReadMessage = [this](TObject*, const WideString&, const AnsiString&, const AnsiString&, TDateTime, int, int) {
      ++events;
    };
  }
  void Dispatch(const AnsiString& text) {
    AppendReadBuffer(text);
    ProcessAT();
  }
  long long events = 0;
};

void Run(benchmark::State& state, const std::string& text, int eventsPerText) {
  Dispatcher gsm;
  gsm.Dispatch(text);
  if (gsm.events != eventsPerText) {
    state.SkipWithError(("events: " + std::to_string(gsm.events)).c_str());
    return;
  }
  const long long before = gAllocations.load();
  for (auto _ : state) gsm.Dispatch(text);
  state.counters["allocs/call"] =
      benchmark::Counter(static_cast<double>(gAllocations.load() - before), benchmark::Counter::kAvgIterations);
  state.counters["events/s"] = benchmark::Counter(static_cast<double>(gsm.events), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(state.iterations() * static_cast<long long>(text.size()));
}

// Ten rings, each with the caller's number, in one read.
void BM_DispatchRingsWithCallerId(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "\r\nRING\r\n\r\n+CLIP: \"+15550123\",145,,,,0\r\n";
  Run(state, text, 20);
}

// Ten new-message notices in one read.
void BM_DispatchNewMessageNotices(benchmark::State& state) {
  std::string text;
  for (int i = 1; i <= 10; ++i) text += "\r\n+CMTI: \"SM\"," + std::to_string(i) + "\r\n";
  Run(state, text, 10);
}

// One read answer with a 160-character 7-bit PDU, decoded and reported.
void BM_DispatchReadAnswer7bit160(benchmark::State& state) {
  sim::IncomingSms sms;
  sms.text = std::string(160, 'x');
  const std::string pdu = sim::DeliverPdus(sms).at(0);
  const int octets = static_cast<int>(pdu.size() / 2) - 1 - std::stoi(pdu.substr(0, 2), nullptr, 16);
  Run(state, "\r\n+CMGR: 0,," + std::to_string(octets) + "\r\n" + pdu + "\r\n\r\nOK\r\n", 1);
}

BENCHMARK(BM_DispatchRingsWithCallerId);
BENCHMARK(BM_DispatchNewMessageNotices);
BENCHMARK(BM_DispatchReadAnswer7bit160);

}  // namespace

BENCHMARK_MAIN();
