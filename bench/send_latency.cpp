// What one message costs to send, in seconds, against the modem simulator
// paced like a 4800 bit/s line, with the fixed pauses and with the
// prompt-driven dialogue (SetWaitForPrompt), for a single message and a
// three-part one. Each result shows the wire time of the bytes the
// component wrote (10 bits a byte at 4800 bit/s) next to it; target for
// the prompt-driven mode: at most 1.5 times the wire time plus 1 second.
// Real clock, real pseudo-terminal.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "component/VeskGSM.h"
#include "tools/simulator/ModemSimulator.h"

namespace {

using namespace vesk;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr unsigned kLineBitsPerSecond = 4800;

WideString Text(std::size_t characters) {
  WideString text;
  for (std::size_t i = 0; i < characters; ++i) text += static_cast<char16_t>(u'a' + i % 26);
  return text;
}

// state.range(0): 0 fixed pauses, 1 prompt-driven; state.range(1): characters.
void BM_SendMessage(benchmark::State& state) {
  const bool waitForPrompt = state.range(0) != 0;
  const auto characters = static_cast<std::size_t>(state.range(1));
  sim::ModemConfig config;
  config.quirks.pacingBitsPerSecond = kLineBitsPerSecond;
  config.quirks.maxWriteChunk = 16;
  sim::ModemSimulator modem(config);
  TVeskGSM gsm;
  gsm.SetCustomPortName(modem.Path());
  gsm.SetBaudRate(br004800);
  gsm.SetWaitForPrompt(waitForPrompt);
  std::atomic<std::size_t> written{0};
  gsm.OnSend = [&](TObject*, const AnsiString& text) { written += text.size(); };
  if (!gsm.Open(false) || !modem.WaitForCommand("ATE0", 10000ms)) {
    state.SkipWithError("the simulator did not come up");
    return;
  }
  // Let the set-up finish before the first send.
  std::this_thread::sleep_for(2s);
  const WideString text = Text(characters);
  double seconds = 0, wire = 0;
  for (auto _ : state) {
    written = 0;
    const auto t0 = SteadyClock::now();
    const bool sent = gsm.SendSMSAsPDU("+15550123", "", text, meAuto, false);
    seconds = std::chrono::duration<double>(SteadyClock::now() - t0).count();
    if (!sent) {
      state.SkipWithError(("not sent: " + gsm.GetLastSendError()).c_str());
      return;
    }
    wire = written * 10.0 / kLineBitsPerSecond;
    state.SetIterationTime(seconds);
  }
  state.counters["seconds_per_message"] = seconds;
  state.counters["wire_seconds"] = wire;
  state.counters["target_seconds"] = 1.5 * wire + 1.0;
  state.counters["bytes_written"] = static_cast<double>(written.load());
}
BENCHMARK(BM_SendMessage)
    ->ArgNames({"prompt", "chars"})
    ->Args({0, 160})
    ->Args({0, 400})
    ->Args({1, 160})
    ->Args({1, 400})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
