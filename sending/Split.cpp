#include "sending/Split.h"

#include <utility>

#include "codec/Alphabet.h"

namespace vesk::sending {

namespace {

// What one UTF-16 code unit takes in the resolved encoding.
int UnitCost(char16_t c, TMessageEncoding resolved) {
  switch (resolved) {
    case meAuto:
    case me7bit: {
      AnsiString codes;
      return codec::AppendGsmCodes(codes, c);
    }
    case me8bit:
    case meUCS2:
      return 1;
  }
  return 1;
}

void Limits(TMessageEncoding resolved, int& single, int& part) {
  switch (resolved) {
    case meAuto:
    case me7bit:
      single = kSingleSeptets;
      part = kPartSeptets;
      return;
    case me8bit:
      single = kSingleOctets;
      part = kPartOctets;
      return;
    case meUCS2:
      single = kSingleUcs2;
      part = kPartUcs2;
      return;
  }
}

}  // namespace

TMessageEncoding ResolveEncoding(const WideString& text, TMessageEncoding encoding) {
  if (encoding != meAuto) return encoding;
  return codec::IsGSM7bitDefaultAlphabet(text) ? me7bit : meUCS2;
}

int MessageUnits(const WideString& text, TMessageEncoding resolved) {
  int units = 0;
  for (char16_t c : text) units += UnitCost(c, resolved);
  return units;
}

bool FitsOneMessage(const WideString& text, TMessageEncoding encoding, bool header) {
  const TMessageEncoding resolved = ResolveEncoding(text, encoding);
  int single = 0, part = 0;
  Limits(resolved, single, part);
  return MessageUnits(text, resolved) <= (header ? part : single);
}

bool SplitMessage(const WideString& text, TMessageEncoding encoding, std::vector<WideString>& parts,
                  AnsiString& error) {
  codec::MessagePlan plan;
  parts.clear();
  if (!SplitMessage(text, encoding, TNationalLanguageShiftTablesSet(), plan, error)) return false;
  parts = std::move(plan.Parts);
  return true;
}

bool SplitMessage(const WideString& text, TMessageEncoding encoding, TNationalLanguageShiftTablesSet allowed,
                  codec::MessagePlan& plan, AnsiString& error) {
  plan = codec::PlanMessage(text, encoding, allowed);
  if (plan.Info.Parts > kMaxParts) {
    error = "the text needs " + IntToStr(static_cast<long long>(plan.Info.Parts)) + " parts; at most " +
            IntToStr(kMaxParts) + " can be sent";
    plan.Parts.clear();
    return false;
  }
  return true;
}

}  // namespace vesk::sending
