// libFuzzer target: the dispatcher on arbitrary received text cut into
// arbitrary reads, counting what it reports of read answers and listing
// entries. No automatic reads: the dispatcher sees exactly the input.
//
// Input layout: as fuzz_framing (byte 0 cuts the rest into reads).
//
// What must hold: every read answer or listing entry that frames out of
// the input raises exactly one OnReadMessage or one OnError, except the
// parts of long messages (the part that completes one raises it), empty
// positions ("+CMGR: 0,,0") and status reports (OnStatusReport, or
// OnError when one does not decode); a message delivered straight to the
// line ("+CMT:") may raise OnReadMessage as well; every message text is
// well-formed UTF-16; nothing raises out of ProcessAT.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "codec/Deliver.h"
#include "codec/StatusReport.h"
#include "commands/Answers.h"
#include "commands/Indications.h"
#include "component/VeskGSM.h"
#include "fuzz/FuzzChecks.h"
#include "incoming/Framing.h"
#include "incoming/Reassembly.h"
#include "support/FakeSerial.h"

namespace {

class Exposed : public vesk::TVeskGSM {
 public:
  using vesk::TVeskGSM::DispatcherHoldsInput;
  using vesk::TVeskGSM::ProcessAT;
  void Received(const vesk::AnsiString& text) { AppendReadBuffer(text); }
};

struct Rig {
  std::shared_ptr<vesk::testing::FakeSerialPlatform> platform = std::make_shared<vesk::testing::FakeSerialPlatform>();
  std::shared_ptr<vesk::testing::FakeModem> modem;
  Exposed gsm;
  std::size_t reported = 0;

  Rig() {
    // The hold bound (2 s of the component's clock) passes in 4 ms.
    vesk::SetClock(std::make_shared<vesk::ScaledClock>(500));
    modem = platform->Add("/dev/fuzz");
    modem->SetDefaultReply("\r\nOK\r\n");
    gsm.SetSerialPlatform(platform);
    gsm.SetCustomPortName("/dev/fuzz");
    gsm.SetDelay(100000000);
    gsm.SetAutoReadNewMessage(false);
    gsm.OnReadMessage = [this](vesk::TObject*, const vesk::WideString& text, const vesk::AnsiString&,
                               const vesk::AnsiString&, vesk::TDateTime, int, int) {
      if (!vesk::fuzz::WellFormedUtf16(text)) __builtin_trap();
      ++reported;
    };
    gsm.OnError = [this](vesk::TObject*, const vesk::AnsiString& text) {
      const vesk::AnsiString upper = vesk::UpperCase(vesk::Trim(text).substr(0, 6));
      if (upper == "+CMGR:" || upper == "+CMGL:") ++reported;
    };
    if (!gsm.Open(true)) __builtin_trap();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 1 << 15) return 0;
  static Rig* rig = new Rig();
  Exposed& gsm = rig->gsm;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  // What the input holds: answers that must each be reported, and parts
  // of long messages, which may be.
  std::size_t must = 0, may = 0;
  for (const vesk::at::TResult& r : vesk::at::Frame(text, true).Results) {
    if (r.Kind == vesk::at::TResultKind::DirectMessage) {
      // A message routed straight to the line raises OnReadMessage too
      // (a part of a long one only when it completes it).
      may += r.HasBody ? 1 : 0;
      continue;
    }
    if (r.Kind != vesk::at::TResultKind::ReadAnswer && r.Kind != vesk::at::TResultKind::ListEntry) continue;
    const bool report =
        r.HasBody && !r.TextMode ? vesk::codec::IsStatusReportPDU(r.Body) : vesk::at::IsTextStatusReport(r);
    if (report) {
      // OnStatusReport, or OnError with the answer when it does not decode.
      ++may;
    } else if (r.TextMode) {
      must += r.HasBody ? 1 : 0;
    } else if (!r.HasBody) {
      must += vesk::at::PduHeader(r).Length == 0 ? 0 : 1;
    } else {
      const vesk::codec::DecodedSMS d = vesk::codec::PDUSMSToString(r.Body, nullptr, 0);
      if (d.Error.empty() && d.PartCount > 0)
        ++may;
      else
        ++must;
    }
  }

  rig->reported = 0;
  try {
    std::size_t pos = 0;
    std::size_t cut = (data[0] & 0x0F) + 1u;
    while (pos < text.size()) {
      const std::size_t n = cut < text.size() - pos ? cut : text.size() - pos;
      gsm.Received(text.substr(pos, n));
      gsm.ProcessAT();
      pos += n;
      if (pos < text.size()) cut = static_cast<unsigned char>(text[pos]) % 64u + 1u;
    }
    // What is held back goes as it stands once it has waited its bound.
    for (int i = 0; i < 200 && gsm.DispatcherHoldsInput(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      gsm.ProcessAT();
    }
    if (gsm.DispatcherHoldsInput()) __builtin_trap();
  } catch (...) {
    __builtin_trap();
  }
  if (rig->reported < must || rig->reported > must + may) __builtin_trap();
  // Parts left waiting must not complete a message of the next input.
  gsm.SMSContainer().Clear();
  return 0;
}
