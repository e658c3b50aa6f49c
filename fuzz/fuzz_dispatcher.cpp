// libFuzzer target: the unsolicited result dispatcher, on arbitrary
// received text cut into arbitrary reads, with an open component on a fake
// port, so that what the dispatcher does by itself (the automatic read of a
// new message, the storage selection, a read put off behind another) goes
// to a modem that answers.
//
// Input layout: byte 0 says how the rest is cut (its low 4 bits + 1 are the
// first read's length; each later read's length is the next byte that
// falls at a cut, mod 64, + 1) and bit 4 switches the message format to
// text. The rest is the received text.
//
// What must hold: no crash, no exception out of ProcessAT (the handlers
// raise none), every message text well-formed UTF-16, the read buffer
// empty after each dispatch (once the reader's own commands, woken by a
// full storage, have taken their answers), and the component still
// answers a command at the end of each input. Memory stays bounded (libFuzzer's
// -rss_limit_mb and -malloc_limit_mb enforce it).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "component/VeskGSM.h"
#include "fuzz/FuzzChecks.h"
#include "support/FakeSerial.h"

namespace {

class Exposed : public vesk::TVeskGSM {
 public:
  using vesk::TVeskGSM::ProcessAT;
  void Received(const vesk::AnsiString& text) { AppendReadBuffer(text); }
  bool BufferEmpty() const { return PeekReadBuffer().empty(); }
};

struct Rig {
  std::shared_ptr<vesk::testing::FakeSerialPlatform> platform = std::make_shared<vesk::testing::FakeSerialPlatform>();
  std::shared_ptr<vesk::testing::FakeModem> modem;
  Exposed gsm;

  Rig() {
    // Every pause of the dialogue and every time-out a hundred times
    // shorter: a read whose answer never ends is let go quickly, and a
    // command's 15 s still outlast a stall of a loaded machine.
    vesk::SetClock(std::make_shared<vesk::ScaledClock>(100));
    modem = platform->Add("/dev/fuzz");
    modem->SetDefaultReply("\r\nOK\r\n");
    gsm.SetSerialPlatform(platform);
    gsm.SetCustomPortName("/dev/fuzz");
    // The reader thread stays out of the way: the fuzzer's thread
    // dispatches everything itself.
    gsm.SetDelay(100000000);
    gsm.OnReadMessage = [](vesk::TObject*, const vesk::WideString& text, const vesk::AnsiString&,
                           const vesk::AnsiString&, vesk::TDateTime, int, int) {
      if (!vesk::fuzz::WellFormedUtf16(text)) __builtin_trap();
    };
    gsm.OnNewMessage = [](vesk::TObject*, const vesk::AnsiString&, int) {};
    gsm.OnRing = [](vesk::TObject*, const vesk::AnsiString&) {};
    gsm.OnError = [](vesk::TObject*, const vesk::AnsiString&) {};
    if (!gsm.Open(true)) __builtin_trap();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  static Rig* rig = new Rig();
  Exposed& gsm = rig->gsm;
  gsm.SetMessageFormat((data[0] & 0x10) ? vesk::mfText : vesk::mfPDU);
  try {
    std::size_t pos = 1;
    std::size_t cut = (data[0] & 0x0F) + 1u;
    while (pos < size) {
      const std::size_t n = cut < size - pos ? cut : size - pos;
      gsm.Received(std::string(reinterpret_cast<const char*>(data) + pos, n));
      gsm.ProcessAT();
      // A full storage wakes the reader for the stored-message check: the
      // answers to its commands pass through the buffer on that thread
      // (the sped-up 15 s of a command bound them).
      for (int i = 0; i < 400 && !gsm.BufferEmpty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (!gsm.BufferEmpty()) __builtin_trap();
      pos += n;
      if (pos < size) cut = data[pos] % 64u + 1u;
    }
    // A command's final result ends whatever answer was held back, and the
    // component still talks to its modem. Three tries: one may lose its
    // 150 ms (the sped-up 15 s) to the machine's other work; a component
    // that no longer answers fails them all.
    bool answered = false;
    for (int attempt = 0; attempt < 3 && !answered; ++attempt) answered = gsm.ExecuteATCommand("AT", '\r');
    if (!answered) __builtin_trap();
  } catch (...) {
    __builtin_trap();
  }
  return 0;
}
