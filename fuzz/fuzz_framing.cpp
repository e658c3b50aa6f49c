// libFuzzer target: the framing of received text, on arbitrary bytes cut
// into arbitrary reads, and the answer rules and decoders on what it frames.
//
// Input layout: byte 0 says how the rest is cut (its low 4 bits + 1 are the
// first read's length; each later read's length is the next byte that
// falls at a cut, mod 64, + 1). The rest is the received text.
//
// What must hold: no crash; framing the reads one after another (what was
// not consumed waits for the next read) gives exactly the results of
// framing the whole text; a result never lies outside the text; every
// message body decodes (PDU mode) or parses (text mode) to well-formed
// UTF-16 or to a named error, and the answer rules read every result
// (those of the modem's state too: no line is both an answer and news,
// and every USSD or operator text is well-formed UTF-16).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/Deliver.h"
#include "codec/TextMode.h"
#include "commands/Answers.h"
#include "commands/StateAnswers.h"
#include "fuzz/FuzzChecks.h"
#include "incoming/Framing.h"
#include "incoming/Reassembly.h"

namespace {

using namespace vesk;

std::string Key(const at::TResult& r) {
  return std::to_string(static_cast<int>(r.Kind)) + "|" + r.Line + "|" + r.Name + "|" + r.Fields + "|" +
         std::to_string(static_cast<int>(r.Final)) + "|" + std::to_string(r.ErrorNumber) + "|" +
         (r.TextMode ? "t" : "p") + (r.HasBody ? "b" : "-") + r.Body;
}

void Check(const at::TResult& r) {
  switch (r.Kind) {
    case at::TResultKind::ReadAnswer:
    case at::TResultKind::ListEntry:
    case at::TResultKind::DirectMessage:
    case at::TResultKind::StatusReport:
      if (r.TextMode) {
        if (!fuzz::WellFormedUtf16(codec::TextSMSToString(at::TextModeMessage(r)).Text)) __builtin_trap();
      } else if (r.HasBody) {
        const codec::DecodedSMS d = codec::DecodeAlone(codec::DecodeDeliver(r.Body));
        if (d.Error.empty() == d.Skip && d.PartCount == 0) __builtin_trap();  // a message or an error, one of the two
        if (!fuzz::WellFormedUtf16(d.Text)) __builtin_trap();
      }
      (void)at::PduHeader(r);
      (void)at::ListIndex(r);
      break;
    case at::TResultKind::NewMessage: (void)at::NewMessageNotice(r); break;
    case at::TResultKind::Information: {
      // The state's rules: a line is at most one of the two forms.
      TRegistration a, n;
      if (at::RegistrationAnswer(r, a) && at::RegistrationNotice(r, n)) __builtin_trap();
      TUSSDResult u;
      for (const char* charset : {"GSM", "UCS2", "IRA"})
        if (at::USSDNotice(r, charset, u) && !fuzz::WellFormedUtf16(u.Text)) __builtin_trap();
      break;
    }
    case at::TResultKind::CallerId: {
      AnsiString number;
      (void)at::CallerNumber(r, number);
      break;
    }
    default: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::string> whole;
  const at::TFraming all = at::Frame(text, true);
  if (all.Consumed != text.size()) __builtin_trap();
  for (const at::TResult& r : all.Results) {
    if (r.Begin >= r.End || r.End > text.size()) __builtin_trap();
    whole.push_back(Key(r));
    Check(r);
  }

  std::vector<std::string> pieces;
  std::string held;
  std::size_t pos = 0;
  std::size_t cut = (data[0] & 0x0F) + 1u;
  while (pos < text.size()) {
    const std::size_t n = cut < text.size() - pos ? cut : text.size() - pos;
    held.append(text, pos, n);
    pos += n;
    const at::TFraming f = at::Frame(held, pos == text.size());
    for (const at::TResult& r : f.Results) pieces.push_back(Key(r));
    held.erase(0, f.Consumed);
    if (pos < text.size()) cut = static_cast<unsigned char>(text[pos]) % 64u + 1u;
  }
  if (pieces != whole) __builtin_trap();

  // The answer rules take any text.
  const at::TCommandAnswer answer = at::ReadCommandAnswer(text, "AT");
  (void)at::SIMState(answer);
  (void)at::PINRetries(answer, "SIM PIN");
  (void)at::RegistrationOf(answer, "+CREG");
  if (!fuzz::WellFormedUtf16(at::OperatorOf(answer, (data[0] & 0x20) ? "UCS2" : "GSM").Name)) __builtin_trap();
  AnsiString number;
  (void)at::ServiceCentreOf(answer, "", number);
  (void)at::CharacterSetOf(answer);
  (void)at::WithoutFinalError(at::WithoutOwnAnswers(text, "AT+CREG?"));
  WideString ussd;
  (void)at::DecodeUSSDText(text, data[0], (data[0] & 0x40) ? "UCS2" : "GSM", ussd);
  if (!fuzz::WellFormedUtf16(ussd)) __builtin_trap();
  (void)at::SubmitOutcome("hello\nOK", text, (data[0] & 0x10) != 0);
  return 0;
}
