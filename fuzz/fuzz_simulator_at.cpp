// libFuzzer target: the modem simulator's command line parser and its
// commands (AtEngine, no I/O, no clock), on arbitrary bytes from the
// client. The first byte picks settings (echo, message format, the SIM's
// PIN) so that both formats and a locked SIM are reached. What must hold:
// no crash, no exception, and a bounded answer for what was written (the
// simulator must not answer a short input with an unbounded flood).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/simulator/AtEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 1 << 14) return 0;
  vesk::sim::ModemConfig config;
  config.echo = (data[0] & 1) != 0;
  config.messageFormat = (data[0] >> 1) & 1;
  if (data[0] & 4) config.pin = "1234";
  config.simCapacity = 4;
  config.phoneCapacity = 4;
  try {
    vesk::sim::AtEngine engine(config);
    if (data[0] & 8) {
      // A message stored and announced before the client speaks.
      vesk::sim::IncomingSms sms;
      sms.text = "fuzz";
      vesk::sim::Emissions first;
      engine.DeliverSms(sms, first);
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::size_t lines = 1, out = 0;
    // Fed in two reads, cut where the second byte says.
    const std::size_t cut = size > 2 ? data[1] % (size - 1) : 0;
    vesk::sim::Emissions emissions;
    engine.Receive(bytes.substr(0, cut), emissions);
    engine.Receive(bytes.substr(cut), emissions);
    for (char c : bytes) lines += c == '\r' || c == '\x1A' || c == '\x1B';
    for (const auto& e : emissions) out += e.bytes.size();
    // An echo of every byte plus at most a few kilobytes per command line.
    if (out > bytes.size() + lines * 8192) __builtin_trap();
  } catch (...) {
    __builtin_trap();
  }
  return 0;
}
