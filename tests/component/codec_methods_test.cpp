// The component's codec methods: the decoder's reassembly state, its
// limits and its error report live in the component.
#include <gtest/gtest.h>

#include "incoming/Reassembly.h"
#include "support/Fixtures.h"

namespace vesk {
namespace {

using testing::TestGSM;

// A three-part 7-bit SMS-DELIVER from +15550123 with the 8-bit reference
// 0x2A, each part carrying one letter; built here from the TS 23.040 layout
// (first octet 0x44: deliver with header; 05 00 03 ref count index; one
// fill bit, then the septet).
AnsiString Part(int index, char letter) {
  static const char* kHeader = "00" "44" "0B915155501032F0" "00" "00" "91304151906280";
  // User data length: 7 septets of header and fill, plus one letter.
  int packed = (letter & 0x7F) << 1;  // behind the one fill bit
  char tail[32];
  std::snprintf(tail, sizeof tail, "08" "0500032A03%02X%02X", index, packed & 0xFF);
  return AnsiString(kHeader) + tail;
}

// The decoder's out-parameters, and a call that fills them.
struct Decoding {
  AnsiString phone, centre;
  TDateTime stamp = 0;
  int zone = 0;
  bool skip = false;
  WideString operator()(TVeskGSM& gsm, const AnsiString& pdu) {
    return gsm.PDUSMSToString(pdu, phone, centre, stamp, zone, skip);
  }
};

TEST(CodecMethods, TheWorkedDeliverExampleDecodesThroughTheComponent) {
  TestGSM gsm;
  Decoding d;
  d.stamp = -1;
  d.zone = -1;
  d.skip = true;
  EXPECT_EQ(d(gsm, "0591515510000408915155103200009130415190628005E8329BFD06"), u"hello");
  EXPECT_EQ(d.phone, "+15550123");
  EXPECT_EQ(d.centre, "+15550100");
  EXPECT_DOUBLE_EQ(d.stamp, EncodeDateTime(2019, 3, 14, 15, 9, 26, 0));
  EXPECT_EQ(d.zone, 8);
  EXPECT_FALSE(d.skip);
  EXPECT_EQ(gsm.GetLastDecodeError(), "");
}

TEST(CodecMethods, AMalformedPduIsSkippedAndNamedNeverThrown) {
  TestGSM gsm;
  Decoding d;
  // The worked example with its last hex digit cut off.
  EXPECT_NO_THROW(EXPECT_TRUE(d(gsm, "0591515510000408915155103200009130415190628005E8329BFD0").empty()));
  EXPECT_TRUE(d.skip);
  EXPECT_EQ(gsm.GetLastDecodeError(), "user data has an odd number of hex digits");
  d(gsm, "0591515510000408915155103200009130415190628005E8329BFD06");
  EXPECT_EQ(gsm.GetLastDecodeError(), "");
}

TEST(CodecMethods, PartsAreHeldUntilTheMessageIsWhole) {
  TestGSM gsm;
  Decoding d;
  EXPECT_EQ(d(gsm, Part(3, 'c')), u"");
  EXPECT_TRUE(d.skip);
  EXPECT_EQ(d(gsm, Part(1, 'a')), u"");
  EXPECT_EQ(gsm.SMSContainer().Count(), 1);
  EXPECT_EQ(d(gsm, Part(2, 'b')), u"abc");
  EXPECT_FALSE(d.skip);
  EXPECT_EQ(d.phone, "+15550501230");
  EXPECT_EQ(gsm.SMSContainer().Count(), 0);
}

TEST(CodecMethods, UnfinishedMessagesExpireAfterTheComponentsBound) {
  auto clock = std::make_shared<ManualClock>(EncodeDate(2024, 1, 1));
  SetClock(clock);
  TestGSM gsm;
  gsm.SetConcatenatedSMSMaxAge(3600);
  Decoding d;
  d(gsm, Part(1, 'a'));
  clock->Advance(3601 * 1000.0);
  d(gsm, Part(2, 'b'));
  EXPECT_EQ(gsm.SMSContainer().Count(), 1);  // the first part's entry went
  EXPECT_EQ(d(gsm, Part(3, 'c')), u"");
  EXPECT_TRUE(d.skip);  // part 1 is gone, so the message cannot complete
  SetClock(nullptr);
}

TEST(CodecMethods, TheEncoderWorkedExamples) {
  TestGSM gsm;
  TPDUSMS plain = gsm.StringToPDUSMS(u"+15550100", u"", u"hellohello", meAuto, false, nullptr);
  EXPECT_EQ(plain.Data, "0011000891515510000000AA0AE8329BFD4697D9EC37");
  EXPECT_EQ(plain.Length, "21");
  TUDH header(0x2A, 1, 2);
  TPDUSMS part = gsm.StringToPDUSMS(u"+15550100", u"", u"hi", meAuto, false, &header);
  EXPECT_EQ(part.Data, "0051000891515510000000AA090500032A0201D069");
  EXPECT_EQ(part.Length, "20");
  TPDUSMS flash = gsm.StringToPDUSMS(u"+15550100", u"", u"hi", meUCS2, true, nullptr);
  EXPECT_EQ(flash.Data, "0011000891515510000018AA0400680069");
  EXPECT_EQ(flash.Length, "16");
}

}  // namespace
}  // namespace vesk
