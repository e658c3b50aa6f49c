// The codec next to libgammu's, in one run: the same SMS-DELIVER PDUs (made
// by the modem simulator, which shares no code with either) decoded by
// both, and the same texts encoded as SMS-SUBMIT PDUs by both, for a
// 160-character 7-bit message, a 70-character UCS2 message and a
// three-part 7-bit message. Each case twice: through the codec's own
// functions, and through the component's public calls an application
// makes (TVeskGSM::PDUSMSToString, with its reassembly collection, clock
// and locks; TVeskGSM::StringToPDUSMS). Both start from and end in what travels on
// the AT line (hex text); libgammu's binary frames are converted with its
// own hex functions. Counters: processor nanoseconds per call for each
// (the best of five rounds, taken in turn), the ratio
// (libgammu's time over ours: above 1 means ours is faster; target 5) and
// our heap allocations per call (target 3; libgammu's own mallocs are not
// counted).
//
// Built only when libgammu's development package is present (make
// bench-deps); the library itself never uses it.

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

extern "C" {
#include <gammu.h>
}

#include "codec/Deliver.h"
#include "codec/Submit.h"
#include "component/VeskGSM.h"
#include "incoming/Reassembly.h"
#include "tools/simulator/ModemSimulator.h"

#include "bench/CountingNew.h"

namespace {

using namespace vesk;

const char* const kPhone = "+4917612345678";

std::string Repeat(const std::string& pattern, std::size_t length) {
  std::string s;
  while (s.size() < length) s += pattern;
  s.resize(length);
  return s;
}
// UTF-8 texts: 160 7-bit characters, 70 UCS2 characters, 459 7-bit characters.
const std::string kText160 = Repeat("The quick brown fox jumps over the lazy dog. ", 160);
const std::string kText70 = [] {
  WideString s;
  while (s.size() < 70) s += u"\u0417\u0434\u0440\u0430\u0432\u0441\u0442\u0432\u0443\u0439, \u043C\u0438\u0440! ";
  s.resize(70);
  return WideToUtf8(s);
}();
const std::string kText459 = Repeat("Pack my box with five dozen liquor jugs. ", 3 * 153);

// libgammu's text: UTF-16 big-endian, two zero bytes at the end.
void ToGammuText(const WideString& text, unsigned char* out) {
  std::size_t i = 0;
  for (char16_t c : text) {
    out[i++] = static_cast<unsigned char>(c >> 8);
    out[i++] = static_cast<unsigned char>(c & 0xFF);
  }
  out[i] = out[i + 1] = 0;
}
WideString FromGammuText(const unsigned char* in) {
  WideString out;
  for (std::size_t i = 0; in[i] || in[i + 1]; i += 2) out += static_cast<char16_t>(in[i] << 8 | in[i + 1]);
  return out;
}

// Processor nanoseconds of this thread per call of `call`, over `calls`
// calls: the machine's other work does not count.
double NsPerCall(const std::function<void()>& call, int calls) {
  timespec t0{}, t1{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
  for (int i = 0; i < calls; ++i) call();
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
  return ((t1.tv_sec - t0.tv_sec) * 1e9 + static_cast<double>(t1.tv_nsec - t0.tv_nsec)) / calls;
}

// Both in turn, five rounds after a warm-up; the best round of each counts.
void Compare(benchmark::State& state, const std::function<void()>& ours, const std::function<void()>& theirs) {
  constexpr int kCalls = 4000;
  double oursNs = 0, theirsNs = 0, allocs = 0;
  for (auto _ : state) {
    const long long before = gAllocations.load();
    ours();
    allocs = static_cast<double>(gAllocations.load() - before);
    NsPerCall(ours, kCalls / 10);
    NsPerCall(theirs, kCalls / 10);
    oursNs = theirsNs = 1e18;
    for (int round = 0; round < 5; ++round) {
      oursNs = std::min(oursNs, NsPerCall(ours, kCalls));
      theirsNs = std::min(theirsNs, NsPerCall(theirs, kCalls));
    }
    state.SetIterationTime((oursNs + theirsNs) * kCalls * 5e-9);
  }
  state.counters["vesk_ns"] = oursNs;
  state.counters["libgammu_ns"] = theirsNs;
  state.counters["ratio"] = theirsNs / oursNs;
  state.counters["vesk_allocs/call"] = allocs;
}

// ---------------------------------------------------------------- decoding

std::vector<std::string> DeliverPdus(const std::string& text, sim::SmsEncoding encoding) {
  sim::IncomingSms sms;
  sms.text = text;
  sms.encoding = encoding;
  sms.sender = kPhone;
  return sim::DeliverPdus(sms);
}

std::vector<unsigned char> Binary(const std::string& hex) {
  std::vector<unsigned char> out(hex.size() / 2 + 1);
  DecodeHexBin(out.data(), reinterpret_cast<const unsigned char*>(hex.data()), hex.size());
  return out;
}

bool GammuDecode(const std::string& hex, GSM_SMSMessage& sms) {
  unsigned char frame[400];
  DecodeHexBin(frame, reinterpret_cast<const unsigned char*>(hex.data()), hex.size());
  return GSM_DecodePDUFrame(GSM_GetGlobalDebug(), &sms, frame, hex.size() / 2, nullptr, TRUE) == ERR_NONE;
}

void DecodeOne(benchmark::State& state, const std::string& text, sim::SmsEncoding encoding) {
  const std::string pdu = DeliverPdus(text, encoding).at(0);
  const WideString expected = Utf8ToWide(text);
  if (codec::PDUSMSToString(pdu, nullptr, 0).Text != expected) return state.SkipWithError("ours decodes otherwise");
  static GSM_SMSMessage sms;
  if (!GammuDecode(pdu, sms) || FromGammuText(sms.Text) != expected)
    return state.SkipWithError("libgammu decodes otherwise");
  Compare(
      state, [&] { benchmark::DoNotOptimize(codec::PDUSMSToString(pdu, nullptr, 0)); },
      [&] {
        GammuDecode(pdu, sms);
        benchmark::DoNotOptimize(sms.Text[0]);
      });
}

// The component an application holds, for the public calls.
TVeskGSM& Component() {
  static TVeskGSM gsm;
  return gsm;
}

// The public call's outputs, kept between calls as an application keeps
// its variables.
struct PublicDecode {
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0;
  bool skip = false;
  WideString operator()(const AnsiString& pdu) {
    return Component().PDUSMSToString(pdu, phone, centre, stamp, zone, skip);
  }
};

void DecodeOnePublic(benchmark::State& state, const std::string& text, sim::SmsEncoding encoding) {
  const std::string pdu = DeliverPdus(text, encoding).at(0);
  PublicDecode decode;
  if (decode(pdu) != Utf8ToWide(text)) return state.SkipWithError("ours decodes otherwise");
  static GSM_SMSMessage sms;
  Compare(
      state, [&] { benchmark::DoNotOptimize(decode(pdu)); },
      [&] {
        GammuDecode(pdu, sms);
        benchmark::DoNotOptimize(sms.Text[0]);
      });
}

void BM_Decode7bit160_VeskVsLibgammu(benchmark::State& state) { DecodeOne(state, kText160, sim::SmsEncoding::Gsm7Bit); }
void BM_DecodeUcs2_70_VeskVsLibgammu(benchmark::State& state) { DecodeOne(state, kText70, sim::SmsEncoding::Ucs2); }
void BM_Decode7bit160_PublicVsLibgammu(benchmark::State& state) {
  DecodeOnePublic(state, kText160, sim::SmsEncoding::Gsm7Bit);
}
void BM_DecodeUcs2_70_PublicVsLibgammu(benchmark::State& state) {
  DecodeOnePublic(state, kText70, sim::SmsEncoding::Ucs2);
}

// All three parts decoded and joined into the whole text.
void BM_DecodeConcatenated3x153_VeskVsLibgammu(benchmark::State& state) {
  const std::vector<std::string> pdus = DeliverPdus(kText459, sim::SmsEncoding::Gsm7Bit);
  const WideString expected = Utf8ToWide(kText459);
  TConcatenatedSMSCollection parts;
  WideString whole;
  for (const auto& p : pdus) whole = codec::PDUSMSToString(p, &parts, 0).Text;
  if (pdus.size() != 3 || whole != expected) return state.SkipWithError("ours decodes otherwise");
  static GSM_MultiSMSMessage multi;
  GSM_MultiPartSMSInfo info;
  auto theirs = [&](bool check) {
    multi.Number = static_cast<int>(pdus.size());
    for (std::size_t i = 0; i < pdus.size(); ++i) GammuDecode(pdus[i], multi.SMS[i]);
    GSM_ClearMultiPartSMSInfo(&info);
    bool ok = GSM_DecodeMultiPartSMS(GSM_GetGlobalDebug(), &info, &multi, FALSE) && info.Entries[0].Buffer;
    if (check) ok = ok && FromGammuText(info.Entries[0].Buffer) == expected;
    GSM_FreeMultiPartSMSInfo(&info);
    return ok;
  };
  if (!theirs(true)) return state.SkipWithError("libgammu decodes otherwise");
  Compare(
      state,
      [&] {
        for (const auto& p : pdus) benchmark::DoNotOptimize(codec::PDUSMSToString(p, &parts, 0));
      },
      [&] { theirs(false); });
}

void BM_DecodeConcatenated3x153_PublicVsLibgammu(benchmark::State& state) {
  const std::vector<std::string> pdus = DeliverPdus(kText459, sim::SmsEncoding::Gsm7Bit);
  const WideString expected = Utf8ToWide(kText459);
  PublicDecode decode;
  WideString whole;
  for (const auto& p : pdus) whole = decode(p);
  if (pdus.size() != 3 || whole != expected) return state.SkipWithError("ours decodes otherwise");
  static GSM_MultiSMSMessage multi;
  GSM_MultiPartSMSInfo info;
  Compare(
      state,
      [&] {
        for (const auto& p : pdus) benchmark::DoNotOptimize(decode(p));
      },
      [&] {
        multi.Number = static_cast<int>(pdus.size());
        for (std::size_t i = 0; i < pdus.size(); ++i) GammuDecode(pdus[i], multi.SMS[i]);
        GSM_ClearMultiPartSMSInfo(&info);
        GSM_DecodeMultiPartSMS(GSM_GetGlobalDebug(), &info, &multi, FALSE);
        GSM_FreeMultiPartSMSInfo(&info);
      });
}

// The public call's own cost: TVeskGSM::PDUSMSToString against the codec
// function it wraps, taken in turns as above (best of five rounds each),
// for a message in one part. Counters: both times and their difference.
void PublicOverhead(benchmark::State& state, const std::string& text, sim::SmsEncoding encoding) {
  const std::string pdu = DeliverPdus(text, encoding).at(0);
  PublicDecode decode;
  if (decode(pdu) != Utf8ToWide(text)) return state.SkipWithError("ours decodes otherwise");
  constexpr int kCalls = 20000;
  auto publicCall = [&] { benchmark::DoNotOptimize(decode(pdu)); };
  auto codecCall = [&] { benchmark::DoNotOptimize(codec::PDUSMSToString(pdu, nullptr, 0)); };
  double publicNs = 0, codecNs = 0;
  for (auto _ : state) {
    NsPerCall(publicCall, kCalls / 10);
    NsPerCall(codecCall, kCalls / 10);
    publicNs = codecNs = 1e18;
    for (int round = 0; round < 5; ++round) {
      publicNs = std::min(publicNs, NsPerCall(publicCall, kCalls));
      codecNs = std::min(codecNs, NsPerCall(codecCall, kCalls));
    }
    state.SetIterationTime((publicNs + codecNs) * kCalls * 5e-9);
  }
  state.counters["public_ns"] = publicNs;
  state.counters["codec_ns"] = codecNs;
  state.counters["overhead_ns"] = publicNs - codecNs;
}

void BM_PublicOverhead_Decode7bit160(benchmark::State& state) {
  PublicOverhead(state, kText160, sim::SmsEncoding::Gsm7Bit);
}
void BM_PublicOverhead_DecodeUcs2_70(benchmark::State& state) { PublicOverhead(state, kText70, sim::SmsEncoding::Ucs2); }

// ---------------------------------------------------------------- encoding

// One SMS-SUBMIT as libgammu's AT driver makes it, in hex.
std::string GammuEncode(GSM_SMSMessage& sms) {
  unsigned char frame[400];
  char hex[801];
  int length = 0;
  if (GSM_EncodeSMSFrame(GSM_GetGlobalDebug(), &sms, frame, PHONE_SMSSubmit, &length, TRUE) != ERR_NONE) return "";
  EncodeHexBin(hex, frame, static_cast<std::size_t>(length));
  return std::string(hex, static_cast<std::size_t>(length) * 2);
}

void PrepareGammu(GSM_SMSMessage& sms, const WideString& text, GSM_Coding_Type coding) {
  GSM_SetDefaultSMSData(&sms);
  sms.PDU = SMS_Submit;
  sms.UDH.Type = UDH_NoUDH;
  sms.Coding = coding;
  ToGammuText(Utf8ToWide(kPhone), sms.Number);
  sms.SMSC.Number[0] = sms.SMSC.Number[1] = 0;
  ToGammuText(text, sms.Text);
  sms.Length = static_cast<int>(text.size());
}

void EncodeOne(benchmark::State& state, const std::string& utf8, TMessageEncoding encoding, GSM_Coding_Type coding) {
  const WideString text = Utf8ToWide(utf8);
  const WideString phone = Utf8ToWide(kPhone);
  static GSM_SMSMessage sms;
  PrepareGammu(sms, text, coding);
  if (GammuEncode(sms).empty()) return state.SkipWithError("libgammu does not encode");
  if (codec::StringToPDUSMS(phone, u"", text, encoding, false, nullptr).Data.empty())
    return state.SkipWithError("ours does not encode");
  Compare(
      state, [&] { benchmark::DoNotOptimize(codec::StringToPDUSMS(phone, u"", text, encoding, false, nullptr)); },
      [&] { benchmark::DoNotOptimize(GammuEncode(sms)); });
}

void EncodeOnePublic(benchmark::State& state, const std::string& utf8, TMessageEncoding encoding,
                     GSM_Coding_Type coding) {
  const WideString text = Utf8ToWide(utf8);
  const WideString phone = Utf8ToWide(kPhone);
  static GSM_SMSMessage sms;
  PrepareGammu(sms, text, coding);
  if (GammuEncode(sms).empty()) return state.SkipWithError("libgammu does not encode");
  TVeskGSM& gsm = Component();
  Compare(
      state, [&] { benchmark::DoNotOptimize(gsm.StringToPDUSMS(phone, u"", text, encoding, false, nullptr)); },
      [&] { benchmark::DoNotOptimize(GammuEncode(sms)); });
}

void BM_Encode7bit160_VeskVsLibgammu(benchmark::State& state) {
  EncodeOne(state, kText160, me7bit, SMS_Coding_Default_No_Compression);
}
void BM_EncodeUcs2_70_VeskVsLibgammu(benchmark::State& state) {
  EncodeOne(state, kText70, meUCS2, SMS_Coding_Unicode_No_Compression);
}
void BM_Encode7bit160_PublicVsLibgammu(benchmark::State& state) {
  EncodeOnePublic(state, kText160, me7bit, SMS_Coding_Default_No_Compression);
}
void BM_EncodeUcs2_70_PublicVsLibgammu(benchmark::State& state) {
  EncodeOnePublic(state, kText70, meUCS2, SMS_Coding_Unicode_No_Compression);
}

// The text cut into three parts with a concatenation header, each encoded.
void BM_EncodeConcatenated3x153_VeskVsLibgammu(benchmark::State& state) {
  const WideString text = Utf8ToWide(kText459);
  const WideString phone = Utf8ToWide(kPhone);
  static unsigned char buffer[(3 * 153 + 1) * 2];
  ToGammuText(text, buffer);
  static GSM_MultiSMSMessage multi;
  auto theirs = [&] {
    GSM_MultiPartSMSInfo info;
    GSM_ClearMultiPartSMSInfo(&info);
    info.EntriesNum = 1;
    info.UnicodeCoding = FALSE;
    info.Entries[0].ID = SMS_ConcatenatedTextLong;
    info.Entries[0].Buffer = buffer;
    if (GSM_EncodeMultiPartSMS(GSM_GetGlobalDebug(), &info, &multi) != ERR_NONE) return -1;
    int made = 0;
    for (int i = 0; i < multi.Number; ++i) {
      multi.SMS[i].PDU = SMS_Submit;
      ToGammuText(phone, multi.SMS[i].Number);
      multi.SMS[i].SMSC.Number[0] = multi.SMS[i].SMSC.Number[1] = 0;
      made += !GammuEncode(multi.SMS[i]).empty();
    }
    return made;
  };
  if (theirs() != 3) return state.SkipWithError("libgammu does not make three parts");
  // The split itself is the sender's work, not the encoder's: cut beforehand.
  const WideString pieces[3] = {text.substr(0, 153), text.substr(153, 153), text.substr(306, 153)};
  Compare(
      state,
      [&] {
        for (std::uint8_t part = 1; part <= 3; ++part) {
          TUDH udh(0x42, part, 3);
          benchmark::DoNotOptimize(codec::StringToPDUSMS(phone, u"", pieces[part - 1], me7bit, false, &udh));
        }
      },
      [&] { theirs(); });
}

void BM_EncodeConcatenated3x153_PublicVsLibgammu(benchmark::State& state) {
  const WideString text = Utf8ToWide(kText459);
  const WideString phone = Utf8ToWide(kPhone);
  static unsigned char buffer[(3 * 153 + 1) * 2];
  ToGammuText(text, buffer);
  static GSM_MultiSMSMessage multi;
  auto theirs = [&] {
    GSM_MultiPartSMSInfo info;
    GSM_ClearMultiPartSMSInfo(&info);
    info.EntriesNum = 1;
    info.UnicodeCoding = FALSE;
    info.Entries[0].ID = SMS_ConcatenatedTextLong;
    info.Entries[0].Buffer = buffer;
    if (GSM_EncodeMultiPartSMS(GSM_GetGlobalDebug(), &info, &multi) != ERR_NONE) return -1;
    int made = 0;
    for (int i = 0; i < multi.Number; ++i) {
      multi.SMS[i].PDU = SMS_Submit;
      ToGammuText(phone, multi.SMS[i].Number);
      multi.SMS[i].SMSC.Number[0] = multi.SMS[i].SMSC.Number[1] = 0;
      made += !GammuEncode(multi.SMS[i]).empty();
    }
    return made;
  };
  if (theirs() != 3) return state.SkipWithError("libgammu does not make three parts");
  const WideString pieces[3] = {text.substr(0, 153), text.substr(153, 153), text.substr(306, 153)};
  TVeskGSM& gsm = Component();
  Compare(
      state,
      [&] {
        for (std::uint8_t part = 1; part <= 3; ++part) {
          TUDH udh(0x42, part, 3);
          benchmark::DoNotOptimize(gsm.StringToPDUSMS(phone, u"", pieces[part - 1], me7bit, false, &udh));
        }
      },
      [&] { theirs(); });
}

BENCHMARK(BM_Decode7bit160_VeskVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_DecodeUcs2_70_VeskVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_DecodeConcatenated3x153_VeskVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_Encode7bit160_VeskVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_EncodeUcs2_70_VeskVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_EncodeConcatenated3x153_VeskVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_Decode7bit160_PublicVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_DecodeUcs2_70_PublicVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_DecodeConcatenated3x153_PublicVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_Encode7bit160_PublicVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_EncodeUcs2_70_PublicVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_EncodeConcatenated3x153_PublicVsLibgammu)->Iterations(1)->UseManualTime();
BENCHMARK(BM_PublicOverhead_Decode7bit160)->Iterations(1)->UseManualTime();
BENCHMARK(BM_PublicOverhead_DecodeUcs2_70)->Iterations(1)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
